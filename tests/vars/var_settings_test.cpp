#include "vars/var_settings.h"

#include "common/codepage.h"
#include "common/settings_file.h"
#include "tests/support/temp_dir.h"
#include "vars/decoding.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

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

TEST_F(VarSettings, AFileOfThePreviousVersionLoadsAndSavesToTheSameBytes)
{
    const std::string file = "[LED7 Patterns]\r\nStd=6543210\r\n"
                             "[Var Count]\r\nCount=4\r\n"
                             "[VAR List]\r\n0=VarName0,0,char,0000,1,Hex\r\n"
                             "1=\"motor speed\",-2,int,0102,2,Dec\r\n" +
                             utf8ToGbk("2=温度,\"0x01,0x02\",Array,0104,2,Hex\r\n") +
                             "3=flags,101,BitMask,0106,0F,Bin\r\n"
                             "[Master Command Count]\r\nCount=1\r\n";
    TempDir::writeFile(path, file);
    VarList list = load();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list.row(2).def.name, "温度");
    EXPECT_EQ(list.row(2).value, "0x01,0x02");
    EXPECT_EQ(list.row(3).length, 0x0F);
    saveVariables(settings, list);
    EXPECT_EQ(TempDir::readFile(path), file);
}

TEST_F(VarSettings, ALongArrayValueNeverCostsTheRowItsDefinition)
{
    // 600 elements shown in hex are some 3,000 characters: more than a
    // settings line is read back with.
    VarList list;
    VarRow array = namedRow(0, "frame buffer");
    array.def.type = VarType::Array;
    array.def.offset = 0x0103;
    array.length = 600;
    std::vector<uint8_t> body(600);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i);
    array.value = DecodeVariable(body, array, true, 0x0103).value();
    list.insert(array);
    list.insert(namedRow(1, "after"));
    saveVariables(settings, list);

    // The entry fits, and keeps the definition after a value of whole elements.
    const std::string file = TempDir::readFile(path);
    const size_t from = file.find("\r\n0=") + 4;
    const std::string entry = file.substr(from, file.find("\r\n", from) - from);
    EXPECT_LE(entry.size(), SettingsFile::kMaxValueChars);
    EXPECT_EQ(entry.substr(0, 30), "\"frame buffer\",\"0x00,0x01,0x02");
    EXPECT_EQ(entry.substr(entry.size() - 24), ",...\",Array,0103,600,Hex");

    VarList back = load();
    ASSERT_EQ(back.size(), 2u);
    const VarRow& row = back.row(0);
    EXPECT_EQ(row.def.name, "frame buffer");
    EXPECT_EQ(row.def.type, VarType::Array);
    EXPECT_EQ(row.def.offset, 0x0103);
    EXPECT_EQ(row.length, 600);
    EXPECT_EQ(row.def.format, DisplayFormat::Hex);
    // The value shown until the next decode: the first elements, marked as cut.
    const std::string kept = row.value.substr(0, row.value.size() - 4);
    EXPECT_EQ(row.value.substr(kept.size()), ",...");
    EXPECT_GT(kept.size(), 1900u);
    EXPECT_EQ(array.value.substr(0, kept.size() + 1), kept + ",");
    EXPECT_EQ(back.row(1).def.name, "after");
    // Saving what was loaded writes the same file.
    saveVariables(settings, back);
    EXPECT_EQ(TempDir::readFile(path), file);
}

TEST_F(VarSettings, ASaveOfManyRowsIsOneRewriteOfTheFile)
{
    VarList list;
    for (int i = 0; i < 50; ++i) list.insert(namedRow(i, "v" + std::to_string(i)));
    saveVariables(settings, list);
    // Every rewrite renames a finished file over the old one. (Moves from
    // are watched too: the system merges a run of identical events.)
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_MOVED_FROM | IN_MOVED_TO), 0);
    list.row(7).value = "7";
    saveVariables(settings, list);
    int renames = 0;
    alignas(inotify_event) char events[64 * 1024];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (char* p = events; p < events + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if ((e->mask & IN_MOVED_TO) && std::string(e->name) == "q.INI") ++renames;
            p += sizeof(inotify_event) + e->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(load().row(7).value, "7");
}
