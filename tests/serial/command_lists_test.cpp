// The interactive mode's command lists on their own.

#include "common/settings_file.h"
#include "serial/command_lists.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace quillon;
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
    settings.writeInteger("Master Command Count", "Count", 3);
    SlaveTable hidden;
    hidden.load(settings);
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden.row(0).key, "");
    m.load(settings);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m.at(2).text, "");
}
