// The interactive mode's command lists on their own.

#include "common/settings_file.h"
#include "serial/command_lists.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;

namespace {

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

MasterCommandList abc(std::initializer_list<bool> checks)
{
    MasterCommandList list;
    list.addLines("A\nB\nC");
    size_t i = 0;
    for (bool c : checks) list.setChecked(i++, c);
    return list;
}

std::vector<size_t> loop(const MasterCommandList& list, std::optional<size_t> selected, int steps)
{
    std::vector<size_t> out;
    for (int i = 0; i < steps; ++i) {
        selected = list.nextLoopCommand(selected);
        if (!selected) break;
        out.push_back(*selected);
    }
    return out;
}

SlaveTable table(std::initializer_list<SlaveRow> rows)
{
    SlaveTable t;
    t.remove(0);
    for (const auto& r : rows) {
        t.addEmpty();
        t.row(t.size() - 1) = r;
    }
    return t;
}

} // namespace

TEST(MasterCommandList, AddsEveryNonEmptyLine)
{
    MasterCommandList list;
    EXPECT_EQ(list.addLines("X\r\n\r\nY"), 2u);
    EXPECT_EQ(list.addLines(""), 0u);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.at(0).text, "X");
    EXPECT_EQ(list.at(1).text, "Y");
    EXPECT_FALSE(list.at(1).checked);
    list.replace(0, "Z");
    list.remove(1);
    list.remove(5);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.at(0).text, "Z");
}

TEST(MasterCommandList, LoopStepsThroughTheCheckedCommandsWrappingAround)
{
    // No selection counts as the first line, so the loop starts after it.
    EXPECT_EQ(loop(abc({false, true, true}), std::nullopt, 4), (std::vector<size_t>{1, 2, 1, 2}));
    EXPECT_EQ(loop(abc({true, false, false}), std::nullopt, 2), (std::vector<size_t>{0, 0}));
    EXPECT_EQ(loop(abc({true, false, true}), 2, 3), (std::vector<size_t>{0, 2, 0}));
    EXPECT_TRUE(loop(abc({false, false, false}), 1, 1).empty());
    EXPECT_TRUE(loop(MasterCommandList{}, std::nullopt, 1).empty());
}

TEST(SlaveTable, OnlyTheUpperMatchingRowAnswers)
{
    const SlaveTable t = table({{"", "never"}, {"AT", "OK"}, {"T", "second"}, {"AT", "dup"}});
    EXPECT_EQ(t.matchingRow(bytes("xxATyy"), false), 1u);
    EXPECT_EQ(t.answerOf("AT"), "OK");
    EXPECT_EQ(t.matchingRow(bytes("xT"), false), 2u);
    EXPECT_EQ(t.matchingRow(bytes("xyz"), false), std::nullopt);
    // Keys are matched as the line carries them: GBK.
    EXPECT_EQ(table({{"温度", "t"}}).matchingRow(bytes("\xCE\xC2\xB6\xC8"), false), 0u);
}

TEST(SlaveTable, HexKeysMustBePureDigits)
{
    const std::vector<uint8_t> at = {0x00, 0x41, 0x54, 0x00};
    EXPECT_EQ(table({{"41 54", "a"}}).matchingRow(at, true), std::nullopt);
    EXPECT_EQ(table({{"41 54", "a"}, {"4154", "b"}}).matchingRow(at, true), 1u);
    EXPECT_EQ(table({{"4154", "b"}}).matchingRow(bytes("4154"), false), 0u);
    EXPECT_EQ(table({{"4154", "b"}}).matchingRow(bytes("4154"), true), std::nullopt);
    // A last digit alone is a byte of its own value.
    EXPECT_EQ(table({{"415", "c"}}).matchingRow(std::vector<uint8_t>{0x41, 0x05}, true), 0u);
}

TEST(CommandLists, SavedAndLoadedWithoutRemovingWhatWasThere)
{
    TempDir dir;
    SettingsFile settings(dir.file("q.INI"));
    MasterCommandList master;
    master.addLines("AT\nATZ");
    master.save(settings);
    SlaveTable slave = table({{"AT", "OK"}, {"ATI", "Quillon"}});
    slave.save(settings);

    // Empty lists write nothing; deleted slave rows stay in the section.
    MasterCommandList none;
    none.save(settings);
    SlaveTable fewer = table({{"ATI", "v2"}});
    fewer.save(settings);
    SlaveTable emptied = table({});
    emptied.save(settings);

    MasterCommandList m;
    m.load(settings);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m.at(1).text, "ATZ");
    SlaveTable s;
    s.load(settings);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.row(0).key, "AT");
    EXPECT_EQ(s.row(1).answer, "v2");
    EXPECT_EQ(settings.readInteger("Slaver Command Count", "Count", 0), 1);

    // A count of 0 hides the section; missing master keys give empty commands.
    settings.writeInteger("Slaver Command Count", "Count", 0);
    settings.writeInteger("Master Command Count", "Count", 4);
    settings.writeText("Master Command List", "3", "ATH");
    SlaveTable hidden;
    hidden.load(settings);
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden.row(0).key, "");
    m.load(settings);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m.at(2).text, "");
    EXPECT_EQ(m.at(3).text, "ATH");
}

TEST(MasterCommandList, AHugeCountReachesOnlyAsFarAsTheStoredKeys)
{
    // A hand-edited count once made start-up read the file once per index,
    // billions of times.
    TempDir dir;
    const std::string path = dir.file("q.INI");
    for (const char* count : {"0x7FFFFFFF", "10000000"}) {
        TempDir::writeFile(path, std::string("[Master Command Count]\r\nCount=") + count +
                                     "\r\n[Master Command List]\r\n0=AT\r\n2=ATZ\r\n+3=no\r\n03=no\r\n"
                                     "99999999999=no\r\n");
        MasterCommandList m;
        m.load(SettingsFile(path));
        ASSERT_EQ(m.size(), 3u) << count;
        EXPECT_EQ(m.at(0).text, "AT");
        EXPECT_EQ(m.at(1).text, "");
        EXPECT_EQ(m.at(2).text, "ATZ");
    }
    // A far key costs a bounded run of empty commands, not gigabytes.
    TempDir::writeFile(path, "[Master Command Count]\r\nCount=0x7FFFFFFF\r\n[Master Command List]\r\n"
                             "2000000000=far\r\n");
    MasterCommandList far;
    far.load(SettingsFile(path));
    ASSERT_EQ(far.size(), MasterCommandList::kMaxMissingCommands + 1);
    EXPECT_EQ(far.at(far.size() - 1).text, "far");
    // Keys at or beyond the count stay unread, as before.
    TempDir::writeFile(path, "[Master Command Count]\r\nCount=1\r\n[Master Command List]\r\n0=A\r\n1=B\r\n");
    MasterCommandList one;
    one.load(SettingsFile(path));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.at(0).text, "A");
}

namespace {

std::string saved(const SlaveTable& t, const std::string& path)
{
    SettingsFile settings(path);
    t.save(settings);
    return TempDir::readFile(path);
}

} // namespace

TEST(SlaveTable, EveryKeyAndAnswerComesBackExactly)
{
    // Each of these was once stored raw, and came back as another row, as
    // part of another key, trimmed, or not at all (a '[' key started a
    // section and hid every row after it).
    const std::vector<SlaveRow> rows = {{"AT+BAUD=9600", "OK"},  {";comment", "yes"},       {"[GET]", "v=1"},
                                        {"[Var Count]", "x"},    {"  pad ", " both ends "}, {"two\r\nlines", "a\nb"},
                                        {"\"q\"", "\"quoted\""}, {"tab\t", "\\x41"},        {"\"\\x41\"", "\"\\x42\""},
                                        {"AT", "upper"},         {"at", "lower"},           {"At", "mixed"},
                                        {"温度", "摄氏度"},      {"", "empty key"},         {"end", ""}};
    TempDir dir;
    const std::string path = dir.file("q.INI");
    TempDir::writeFile(path, "[Var Count]\r\nCount=1\r\n[Var List]\r\n0=x\r\n");
    SlaveTable t = table({});
    for (const auto& r : rows) {
        t.addEmpty();
        t.row(t.size() - 1) = r;
    }
    const std::string once = saved(t, path);
    SlaveTable back;
    back.load(SettingsFile(path));
    ASSERT_EQ(back.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(back.row(i).key, rows[i].key) << i;
        EXPECT_EQ(back.row(i).answer, rows[i].answer) << i;
    }
    // Nothing was written as a line of its own, and other sections keep their entries.
    EXPECT_EQ(SettingsFile(path).readInteger("Var Count", "Count", 0), 1);
    EXPECT_EQ(SettingsFile(path).readText("Var List", "0", ""), "x");

    // Found again by the next save: no second copy, the same bytes.
    EXPECT_EQ(saved(back, path), once);
    EXPECT_EQ(saved(t, path), once);
}

TEST(SlaveTable, OrdinaryEntriesKeepTheirBytes)
{
    // A file as earlier versions wrote it loads unchanged and saves to the same bytes.
    const std::string old = "[Slaver Command Count]\r\nCount=3\r\n[Slaver Command List]\r\n"
                            "AT=OK\r\n\xCE\xC2\xB6\xC8=25\r\n\"AT\"=a \"b\"\r\n";
    TempDir dir;
    const std::string path = dir.file("q.INI");
    TempDir::writeFile(path, old);
    SlaveTable t;
    t.load(SettingsFile(path));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t.row(1).key, "温度");
    EXPECT_EQ(t.row(2).key, "\"AT\"");
    EXPECT_EQ(t.row(2).answer, "a \"b\"");
    EXPECT_EQ(saved(t, path), old);
}

TEST(SlaveTable, AKeyRepeatedExactlyKeepsTheAnswerTheTableGives)
{
    TempDir dir;
    const std::string path = dir.file("q.INI");
    const SlaveTable t = table({{"AT", "first"}, {"AT", "second"}});
    (void)saved(t, path);
    SlaveTable back;
    back.load(SettingsFile(path));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.answerOf("AT"), t.answerOf("AT"));
}

TEST(SlaveTable, AKeyDifferingInCaseFromOneLeftInTheFileKeepsItsCase)
{
    // Saves never remove entries, so "at" from an earlier save is still there.
    TempDir dir;
    const std::string path = dir.file("q.INI");
    (void)saved(table({{"at", "old"}}), path);
    const std::string once = saved(table({{"AT", "new"}}), path);
    SlaveTable back;
    back.load(SettingsFile(path));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.row(0).key, "at");
    EXPECT_EQ(back.row(0).answer, "old");
    EXPECT_EQ(back.row(1).key, "AT");
    EXPECT_EQ(back.row(1).answer, "new");
    EXPECT_EQ(saved(table({{"AT", "new"}}), path), once);
}

TEST(CommandLists, LongAnswersAndCommandsAreCutAsBeforeButNeverInsideAnEscape)
{
    TempDir dir;
    const std::string path = dir.file("q.INI");
    const std::string longPlain(3000, 'a');
    // 2,000 line ends store as 8,000 characters; the text is still cut at 2047.
    const std::string longQuoted = std::string(2000, '\n') + "tail";
    MasterCommandList m;
    m.add(longQuoted);
    SettingsFile settings(path);
    m.save(settings);
    (void)saved(table({{"p", longPlain}, {"q", longQuoted}}), path);
    SlaveTable back;
    back.load(SettingsFile(path));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.row(0).answer, longPlain.substr(0, 2047));
    EXPECT_EQ(back.row(1).answer, longQuoted.substr(0, 2047));
    MasterCommandList mb;
    mb.load(SettingsFile(path));
    ASSERT_EQ(mb.size(), 1u);
    EXPECT_EQ(mb.at(0).text, longQuoted.substr(0, 2047));
}
