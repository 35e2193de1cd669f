#include "vars/var_settings.h"

#include "common/settings_file.h"
#include "tests/support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::vars;
using quillon::test::TempDir;

namespace {

VarRow namedRow(int32_t number, const std::string& name)
{
    VarDefinition def;
    def.number = number;
    def.name = name;
    return rowFor(def);
}

std::vector<std::string> names(const VarList& list)
{
    std::vector<std::string> out;
    for (const auto& r : list.rows()) out.push_back(r.def.name);
    return out;
}

class VarSettings : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("q.INI");
    SettingsFile settings{path};

    VarList load()
    {
        VarList list;
        loadVariables(settings, list);
        return list;
    }
};

} // namespace

TEST_F(VarSettings, SavedRowsComeBackWatchedAndNumberedByPosition)
{
    VarList list;
    list.insert(namedRow(0, "VarName0"));
    VarRow spaced = namedRow(3, "motor speed");
    spaced.def.watched = false;
    spaced.value = "1,5";
    list.insert(spaced);
    saveVariables(settings, list);
    const std::string file = TempDir::readFile(path);
    EXPECT_NE(file.find("[Var Count]\r\nCount=2\r\n"), std::string::npos);
    EXPECT_NE(file.find("[VAR List]\r\n0=VarName0,0,char,0000,1,Hex\r\n1=\"motor speed\",\"1,5\",char,0000,1,Hex\r\n"),
              std::string::npos);

    VarList back = load();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.row(1).def.number, 1);
    EXPECT_EQ(back.row(1).def.name, "motor speed");
    EXPECT_EQ(back.row(1).value, "1,5");
    EXPECT_TRUE(back.row(1).def.watched);
}

TEST_F(VarSettings, EmptyListWritesNothingAndShorterSaveKeepsSurplusKeys)
{
    saveVariables(settings, VarList{});
    EXPECT_FALSE(std::ifstream(path).good());
    TempDir::writeFile(path, "[Other]\r\nk=v\r\n");
    saveVariables(settings, VarList{});
    EXPECT_EQ(TempDir::readFile(path), "[Other]\r\nk=v\r\n");

    VarList list;
    for (int i = 0; i < 3; ++i) list.insert(namedRow(i, "v" + std::to_string(i)));
    saveVariables(settings, list);
    list.remove({1, 2});
    saveVariables(settings, list);
    EXPECT_EQ(settings.readText("Var List", "2", ""), "v2,0,char,0000,1,Hex");
    EXPECT_EQ(names(load()), std::vector<std::string>{"v0"});
}

TEST_F(VarSettings, DecodedLineEndsStayInsideTheirEntry)
{
    VarList list;
    VarRow row = namedRow(0, "text");
    row.value = "ok\r\n[Var Count]\r\nCount=99";
    list.insert(row);
    saveVariables(settings, list);
    VarList back = load();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.row(0).value, "ok  [Var Count]  Count=99");
    EXPECT_EQ(settings.readInteger("Var Count", "Count", 0), 1);
}

TEST_F(VarSettings, SectionCaseAndHexCountLoad)
{
    TempDir::writeFile(path, "[var count]\r\ncount=0x3\r\n[var list]\r\n0=a\r\n1=b\r\n2=c\r\n");
    EXPECT_EQ(names(load()), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(VarSettings, BadCountsAndKeysNeverHangOrLoseRows)
{
    // A huge count costs only the keys present; keys that are not plain
    // indices are ignored; a missing index leaves no hole.
    TempDir::writeFile(path, "[Var Count]\r\nCount=0x7FFFFFFF\r\n[Var List]\r\n"
                             "1=b\r\n0=a\r\n01=x\r\n-1=y\r\nfoo=z\r\n9=d\r\n");
    VarList list = load();
    EXPECT_EQ(names(list), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(list.row(2).def.number, 2);

    // Keys at or above the count stay unread.
    TempDir::writeFile(path, "[Var Count]\r\nCount=2\r\n[Var List]\r\n0=a\r\n1=b\r\n2=c\r\n");
    EXPECT_EQ(names(load()), (std::vector<std::string>{"a", "b"}));

    for (const char* count : {"-4", "many", "0"}) {
        TempDir::writeFile(path, std::string("[Var Count]\r\nCount=") + count + "\r\n[Var List]\r\n0=a\r\n");
        EXPECT_TRUE(load().empty()) << count;
    }
}
