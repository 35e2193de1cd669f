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
    EXPECT_EQ(TypeNameList(), (std::vector<std::string>{"char=0", "int=1", "long=2", "float=3", "double=4",
                                                         "BitMask=5", "Array=6"}));
    EXPECT_EQ(FormatNameList(), (std::vector<std::string>{"Hex=0", "Dec=1", "Bin=2"}));
    EXPECT_EQ(typeName(VarType::BitMask), "BitMask");
    EXPECT_EQ(formatName(DisplayFormat::Bin), "Bin");
    EXPECT_EQ(typeFromName("Array"), VarType::Array);
    EXPECT_EQ(typeFromName("array"), std::nullopt);
    EXPECT_EQ(formatFromName("Dec"), DisplayFormat::Dec);
    EXPECT_EQ(formatFromName("Octal"), std::nullopt);
}
