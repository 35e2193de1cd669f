// Device-control details read from the caller's own structures. Kernel
// headers only, as the decoder sees them.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <asm/termios.h>
#include <gtest/gtest.h>

#include <cstring>

#include "monitor/capture/ioctl_decode.h"

using namespace quillon::capture;

namespace {

template <typename T>
std::vector<uint8_t> bytesOf(const T& v)
{
    std::vector<uint8_t> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

TEST(IoctlDecode, LineSettingsFromTermiosAndTermios2)
{
    struct termios t {};
    t.c_cflag = B115200 | CS8 | CREAD;
    EXPECT_EQ(describeIoctl(TCSETS, 0, bytesOf(t)), "TCSETS 115200 8N1");
    t.c_cflag = B9600 | CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_iflag = IXON;
    EXPECT_EQ(describeIoctl(TCSETSF, 0, bytesOf(t)), "TCSETSF 9600 7E2 RTS/CTS XON/XOFF");
    t.c_cflag = B4800 | CS5 | PARENB | PARODD | CMSPAR;
    t.c_iflag = 0;
    EXPECT_EQ(describeIoctl(TCGETS, 0, bytesOf(t)), "TCGETS 4800 5M1");

    struct termios2 t2 {};
    t2.c_cflag = BOTHER | CS8 | PARENB | PARODD;
    t2.c_ospeed = 250000;
    EXPECT_EQ(describeIoctl(TCSETS2, 0, bytesOf(t2)), "TCSETS2 250000 8O1");
    // Cut short (the caller's pointer was bad): the name alone.
    EXPECT_EQ(describeIoctl(TCSETSW, 0, std::vector<uint8_t>(6)), "TCSETSW");
    EXPECT_EQ(describeIoctl(TCSETS2, 0, {}), "TCSETS2");
}

TEST(IoctlDecode, ModemLinesQueuesFlushesAndBreaks)
{
    int lines = TIOCM_DTR | TIOCM_RTS;
    EXPECT_EQ(describeIoctl(TIOCMSET, 0, bytesOf(lines)), "TIOCMSET DTR RTS");
    lines = 0;
    EXPECT_EQ(describeIoctl(TIOCMBIC, 0, bytesOf(lines)), "TIOCMBIC none");
    int queued = 17;
    EXPECT_EQ(describeIoctl(FIONREAD, 0, bytesOf(queued)), "FIONREAD 17");
    EXPECT_EQ(describeIoctl(TIOCOUTQ, 0, bytesOf(queued)), "TIOCOUTQ 17");
    EXPECT_EQ(describeIoctl(TCFLSH, 0, {}), "TCFLSH TCIFLUSH");
    EXPECT_EQ(describeIoctl(TCFLSH, 9, {}), "TCFLSH 9");
    EXPECT_EQ(describeIoctl(TCSBRK, 0, {}), "TCSBRK break");
    EXPECT_EQ(describeIoctl(TCSBRK, 1, {}), "TCSBRK drain");
    EXPECT_EQ(describeIoctl(TIOCSBRK, 0, {}), "TIOCSBRK break on");
    EXPECT_EQ(describeIoctl(TIOCEXCL, 0, {}), "TIOCEXCL");
    EXPECT_EQ(describeIoctl(0x0000ABCD, 0, {}), "0x0000ABCD");
}

TEST(IoctlDecode, CopyTableCoversWhatTheDecoderReads)
{
    for (uint32_t cmd : {uint32_t(TCSETS), uint32_t(TCGETS2), uint32_t(TIOCMBIS), uint32_t(FIONREAD)}) {
        bool found = false;
        for (const IoctlCopy& c : ioctlCopyTable()) found |= c.command == cmd && (c.inLen || c.outLen);
        EXPECT_TRUE(found) << std::hex << cmd;
    }
    EXPECT_TRUE(ioctlReturnsData(TCGETS));
    EXPECT_FALSE(ioctlReturnsData(TCSETS));
}

} // namespace
