#include "platform/device_map.h"

#include <gtest/gtest.h>

using namespace quillon;

TEST(PortListing, SerialListSortedAsPlainTextMonitorListInMapOrder)
{
    std::vector<DeviceMapEntry> map = {
        {"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM2"}, {"\\Device\\VCP0", "COM10"}, {"NoSlash", "COM3"}};
    PortListing l = buildSerialListing(map);
    EXPECT_EQ(l.comList, (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3"}));
    EXPECT_EQ(l.monitorLines,
              (std::vector<std::string>{"COM1: Serial0", "COM2: Serial1", "COM10: VCP0", "COM3: NoSlash"}));
    EXPECT_EQ(l.tables.count, 4u);
    EXPECT_EQ(l.tables.portNames[2], "COM10");
    EXPECT_EQ(l.tables.deviceNames[2], "VCP0");
}

TEST(PortListing, TablesHoldThirtyTwoBoundedNames)
{
    std::vector<DeviceMapEntry> map;
    for (int i = 0; i < 40; ++i) map.push_back({"\\Device\\" + std::string(300, 'd'), "COM" + std::to_string(i)});
    PortListing l = buildSerialListing(map);
    EXPECT_EQ(l.comList.size(), 40u);
    EXPECT_EQ(l.tables.count, 32u);
    EXPECT_EQ(l.tables.deviceNames[0].size(), 255u);
}

TEST(PortListing, ParallelNamesAfterLastBackslash)
{
    PortListing l = buildParallelListing({{"\\Device\\Parallel0", "\\DosDevices\\LPT1"}});
    EXPECT_TRUE(l.comList.empty());
    EXPECT_EQ(l.monitorLines, (std::vector<std::string>{"LPT1: Parallel0"}));
}
