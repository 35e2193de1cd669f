#include "platform/device_map.h"
#include "platform/port_list.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quillon;

TEST(PortListing, SerialListSortedAsPlainTextMonitorListInMapOrder)
{
    std::vector<platform::DeviceMapEntry> map = {
        {"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM2"}, {"\\Device\\VCP0", "COM10"}, {"NoSlash", "COM3"}};
    platform::PortListing l = platform::buildSerialListing(map);
    EXPECT_EQ(l.comList, (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3"}));
    EXPECT_EQ(l.monitorLines,
              (std::vector<std::string>{"COM1: Serial0", "COM2: Serial1", "COM10: VCP0", "COM3: NoSlash"}));
    EXPECT_EQ(l.tables.count, 4u);
    EXPECT_EQ(l.tables.portNames[2], "COM10");
    EXPECT_EQ(l.tables.deviceNames[2], "VCP0");
}

TEST(PortListing, TablesHoldThirtyTwoBoundedNames)
{
    std::vector<platform::DeviceMapEntry> map;
    for (int i = 0; i < 40; ++i) map.push_back({"\\Device\\" + std::string(300, 'd'), "COM" + std::to_string(i)});
    platform::PortListing l = platform::buildSerialListing(map);
    EXPECT_EQ(l.comList.size(), 40u);
    EXPECT_EQ(l.tables.count, 32u);
    EXPECT_EQ(l.tables.deviceNames[0].size(), 255u);
}

TEST(PortListing, ParallelNamesAfterLastBackslash)
{
    platform::PortListing l = platform::buildParallelListing({{"\\Device\\Parallel0", "\\DosDevices\\LPT1"}});
    EXPECT_TRUE(l.comList.empty());
    EXPECT_EQ(l.monitorLines, (std::vector<std::string>{"LPT1: Parallel0"}));
}

TEST(PortListing, PtySlavesNamedBySymlinksAreListedUnderTheLink)
{
    test::TempDir dir;
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const auto link = [&](const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), dir.file(name).c_str()), 0);
    };
    link(pty.slavePath(), "ttyV1");
    link(pty.slavePath(), "ttyV0");
    link("ttyV0", "chained"); // a link to a link to the slave
    link("/dev/null", "notapty");
    link(dir.file("nothing"), "dangling");
    test::TempDir::writeFile(dir.file("plain"), "");
    link(dir.file("plain"), "toplain");
    ::mkdir(dir.file("by-id").c_str(), 0700);
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), dir.file("by-id/deeper").c_str()), 0);

    const auto ports = platform::ptySymlinkPorts({dir.path(), dir.file("missing-folder")});
    std::vector<std::string> values;
    for (const auto& p : ports) values.push_back(p.value);
    EXPECT_EQ(values, (std::vector<std::string>{dir.file("chained"), dir.file("ttyV0"), dir.file("ttyV1")}));
    EXPECT_EQ(ports[1].valueName, "\\Device\\ttyV0");
    // The slave itself is not a link; a real pty path is recognised as one.
    EXPECT_TRUE(platform::isPtySlave(pty.slavePath()));
    EXPECT_FALSE(platform::isPtySlave("/dev/null"));
}

TEST(PortListing, RefreshKeepsTheChosenPortOrFallsBackToTheFirst)
{
    const std::vector<std::string> list = {"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB0"};
    EXPECT_EQ(platform::selectionAfterRefresh(list, "/dev/ttyUSB0"), 2);
    EXPECT_EQ(platform::selectionAfterRefresh(list, "/dev/ttyUSB1"), 0);
    EXPECT_EQ(platform::selectionAfterRefresh(list, ""), 0);
    EXPECT_EQ(platform::selectionAfterRefresh({}, "/dev/ttyS0"), -1);
}
