#include "vars/var_list.h"

#include <gtest/gtest.h>

using namespace quillon::vars;

namespace {

VarRow rowNumbered(int32_t n)
{
    VarRow r;
    r.def.number = n;
    r.def.name = "VarName" + std::to_string(n);
    return r;
}

std::vector<int32_t> numbers(const VarList& list)
{
    std::vector<int32_t> out;
    for (const auto& r : list.rows()) out.push_back(r.def.number);
    return out;
}

} // namespace

TEST(VarList, NewRowsFillTheFirstGapAndLandAtTheirNumber)
{
    VarList list;
    EXPECT_EQ(list.nextNumber(), 0);
    for (int32_t n : {0, 1, 3}) list.insert(rowNumbered(n));
    EXPECT_EQ(numbers(list), (std::vector<int32_t>{0, 1, 3}));
    EXPECT_EQ(list.nextNumber(), 2);
    EXPECT_EQ(list.insert(rowNumbered(list.nextNumber())), 2u);
    EXPECT_EQ(numbers(list), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(list.nextNumber(), 4);
    // Deleting leaves the other numbers as they are; the next add fills the hole.
    list.remove({1, 3, 1});
    EXPECT_EQ(numbers(list), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(list.nextNumber(), 1);
    list.remove({7});
    EXPECT_EQ(list.size(), 2u);
}

TEST(VarList, RowsAddedTogetherLandAsIfAddedOneByOne)
{
    // Gaps of one and of several numbers, and rows past the end of the list.
    VarList together;
    for (int32_t n : {0, 2, 5, 6, 9}) together.insert(rowNumbered(n));
    VarList oneByOne = together;
    std::vector<VarRow> added;
    for (int i = 0; i < 7; ++i) {
        VarRow r;
        r.def.name = "new" + std::to_string(i);
        added.push_back(r);
        r.def.number = oneByOne.nextNumber();
        oneByOne.insert(r);
    }
    together.insertAtFreeNumbers(added);
    EXPECT_EQ(numbers(together), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    ASSERT_EQ(together.size(), oneByOne.size());
    for (size_t i = 0; i < together.size(); ++i) {
        EXPECT_EQ(together.row(i).def.number, oneByOne.row(i).def.number);
        EXPECT_EQ(together.row(i).def.name, oneByOne.row(i).def.name);
    }
}

TEST(VarList, ValueChangesAreReported)
{
    VarList list;
    list.insert(rowNumbered(0));
    EXPECT_EQ(list.row(0).value, "0");
    EXPECT_FALSE(list.setValue(0, "0"));
    EXPECT_TRUE(list.setValue(0, "32"));
    EXPECT_EQ(list.row(0).value, "32");
}

TEST(VarNames, ListsInTheirOrderAndNamesBothWays)
{
    EXPECT_EQ(TypeNameList(),
              (std::vector<std::string>{"char=0", "int=1", "long=2", "float=3", "double=4", "BitMask=5", "Array=6"}));
    EXPECT_EQ(FormatNameList(), (std::vector<std::string>{"Hex=0", "Dec=1", "Bin=2"}));
    EXPECT_EQ(typeName(VarType::BitMask), "BitMask");
    EXPECT_EQ(formatName(DisplayFormat::Bin), "Bin");
    EXPECT_EQ(typeFromName("Array"), VarType::Array);
    EXPECT_EQ(typeFromName("array"), std::nullopt);
    EXPECT_EQ(formatFromName("Dec"), DisplayFormat::Dec);
    EXPECT_EQ(formatFromName("Octal"), std::nullopt);
}

TEST(VarCommaText, QuotesOnlyWhatNeedsItAndReadsItBack)
{
    EXPECT_EQ(joinCommaText({"VarName0", "0", "char", "0000", "1", "Hex"}), "VarName0,0,char,0000,1,Hex");
    const std::vector<std::string> odd = {"a b", "1,2,3", "say \"hi\"", "", "温度"};
    const std::string text = joinCommaText(odd);
    EXPECT_EQ(text, "\"a b\",\"1,2,3\",\"say \"\"hi\"\"\",,温度");
    EXPECT_EQ(splitCommaText(text), odd);
    // Hand-edited text: blanks around unquoted fields go, a trailing comma is an empty field,
    // an unclosed quote runs to the end.
    EXPECT_EQ(splitCommaText(" x , y ,"), (std::vector<std::string>{"x", "y", ""}));
    EXPECT_EQ(splitCommaText("\"open,end"), (std::vector<std::string>{"open,end"}));
    EXPECT_EQ(splitCommaText("   "), std::vector<std::string>{});
    // Tabs and other control characters at a field's ends survive the round trip.
    const std::vector<std::string> edges = {"\tx", "y\x01", "z"};
    EXPECT_EQ(splitCommaText(joinCommaText(edges)), edges);
}

TEST(VarColumns, ShownAndSavedTextOfEachKind)
{
    VarDefinition def;
    def.name = "flags";
    def.type = VarType::BitMask;
    def.maskOrLength = 0x0F;
    def.offset = 0x1A;
    def.format = DisplayFormat::Bin;
    VarRow row = rowFor(def);
    EXPECT_EQ(savedColumns(row), (std::vector<std::string>{"flags", "0", "BitMask", "001A", "0F", "Bin"}));
    // Offsets wider than four digits are shown whole.
    EXPECT_EQ(offsetText(0x12345), "12345");
    // An edit keeps the number and the value, and takes the new length.
    row.def.number = 7;
    row.value = "3";
    def.type = VarType::Array;
    def.maskOrLength = 44;
    applyDefinition(row, def);
    EXPECT_EQ(row.def.number, 7);
    EXPECT_EQ(row.value, "3");
    EXPECT_EQ(maskOrLengthText(row), "44");
}

TEST(VarColumns, HandEditedRowsBecomeSomethingSound)
{
    // Too few fields: the rest take defaults.
    VarRow r = rowFromColumns({"only"}, 4);
    EXPECT_EQ(r.def.number, 4);
    EXPECT_EQ(r.def.name, "only");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(r.def.type, VarType::Char);
    EXPECT_EQ(r.length, 1);
    EXPECT_TRUE(r.def.watched);
    // Unknown type and format names read as char and Hex; a non-hex offset as 0.
    r = rowFromColumns({"v", "1", "quad", "XYZ", "2", "Octal"}, 0);
    EXPECT_EQ(r.def.type, VarType::Char);
    EXPECT_EQ(r.def.format, DisplayFormat::Hex);
    EXPECT_EQ(r.def.offset, 0);
    EXPECT_EQ(r.length, 2);
    // A long array keeps its length for decoding; the definition holds its low byte.
    r = rowFromColumns({"buf", "0", "Array", "0100", "300", "Dec"}, 0);
    EXPECT_EQ(r.length, 300);
    EXPECT_EQ(r.def.maskOrLength, 44);
    EXPECT_EQ(r.def.offset, 0x100);
    // Negative or unreadable lengths fall back to the type's own.
    EXPECT_EQ(rowFromColumns({"d", "0", "double", "0", "-3", "Dec"}, 0).length, 8);
    EXPECT_EQ(rowFromColumns({"m", "0", "BitMask", "0", "zz", "Bin"}, 0).length, 0xFF);
    EXPECT_EQ(rowFromColumns({"m", "0", "BitMask", "0", "1F0", "Bin"}, 0).length, 0xF0);
}
