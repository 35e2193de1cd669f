// Which nodes the root helper may hook for which user, decided without the
// kernel: device classes, the permission classes, the invoking user, and
// name resolution that must never leave the folder standing for /dev.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "monitor/capture/port_access.h"
#include "tests/support/temp_dir.h"

using namespace quillon::capture;

namespace {

const DeviceFacts kHardwareTty{"tty", true};
const DeviceFacts kVirtualTty{"tty", false};

TEST(PortAccess, OnlySerialAndParallelPortsAreHookable)
{
    EXPECT_EQ(classifyDevice(4, 64, kHardwareTty), PortClass::HardwareTty);  // ttyS0
    EXPECT_EQ(classifyDevice(188, 0, kHardwareTty), PortClass::HardwareTty); // ttyUSB0
    EXPECT_EQ(classifyDevice(166, 0, kHardwareTty), PortClass::HardwareTty); // ttyACM0
    EXPECT_EQ(classifyDevice(136, 3, {}), PortClass::PtySlave);              // pts/3
    EXPECT_EQ(classifyDevice(143, 1048575, {}), PortClass::PtySlave);        // the last pty major
    EXPECT_EQ(classifyDevice(6, 0, {"printer", true}), PortClass::Parallel); // lp0
    EXPECT_EQ(classifyDevice(99, 0, {"ppdev", true}), PortClass::Parallel);  // parport0

    EXPECT_EQ(classifyDevice(5, 0, kHardwareTty), PortClass::Refused);      // /dev/tty, whatever sysfs claims
    EXPECT_EQ(classifyDevice(5, 1, kHardwareTty), PortClass::Refused);      // /dev/console
    EXPECT_EQ(classifyDevice(5, 2, {}), PortClass::Refused);                // /dev/ptmx
    EXPECT_EQ(classifyDevice(4, 0, kHardwareTty), PortClass::Refused);      // tty0
    EXPECT_EQ(classifyDevice(4, 63, kHardwareTty), PortClass::Refused);     // tty63
    EXPECT_EQ(classifyDevice(1, 3, {"mem", false}), PortClass::Refused);    // /dev/null
    EXPECT_EQ(classifyDevice(13, 64, {"input", true}), PortClass::Refused); // an input event device
    EXPECT_EQ(classifyDevice(204, 64, kVirtualTty), PortClass::Refused);    // a tty with nothing behind it
    EXPECT_EQ(classifyDevice(128, 0, {}), PortClass::Refused);              // a pty master
}

TEST(PortAccess, ReadAndWriteAreNeededInTheClassTheKernelWouldUse)
{
    struct stat st {};
    st.st_uid = 1000;
    st.st_gid = 20; // dialout
    const Invoker owner{1000, {1000}};
    const Invoker member{1001, {1001, 20}};
    const Invoker stranger{1002, {1002}};
    const Invoker root{0, {0}};

    st.st_mode = S_IFCHR | 0620; // a pty: owner rw, tty group write only
    EXPECT_TRUE(mayReadWrite(st, owner));
    EXPECT_FALSE(mayReadWrite(st, member));
    EXPECT_FALSE(mayReadWrite(st, stranger));
    EXPECT_TRUE(mayReadWrite(st, root));

    st.st_mode = S_IFCHR | 0660; // ttyUSB0, group dialout
    EXPECT_TRUE(mayReadWrite(st, member));
    EXPECT_FALSE(mayReadWrite(st, stranger));

    // The owner's class counts alone: others' bits do not help the owner.
    st.st_mode = S_IFCHR | 0406;
    EXPECT_FALSE(mayReadWrite(st, owner));
    EXPECT_TRUE(mayReadWrite(st, stranger));
}

TEST(PortAccess, PkexecUidIsTrustedOnlyWhenPkexecMadeUsRoot)
{
    EXPECT_EQ(invokingUser(0, nullptr).uid, 0u);
    EXPECT_EQ(invokingUser(0, "65534").uid, 65534u);
    EXPECT_EQ(invokingUser(0, "0").uid, 0u);
    // A user running the helper with capabilities cannot claim to be root.
    EXPECT_EQ(invokingUser(1000, "0").uid, 1000u);
    // Unreadable: nobody at all, certainly not root.
    for (const char* bad : {"", "-1", "12x", " 5", "4294967295", "99999999999"})
        EXPECT_EQ(invokingUser(0, bad).uid, static_cast<uid_t>(-1)) << bad;
    EXPECT_TRUE(invokingUser(0, "abc").groups.empty());
    // Root's own groups are found in the user database.
    const Invoker root = invokingUser(0, nullptr);
    EXPECT_NE(std::find(root.groups.begin(), root.groups.end(), 0u), root.groups.end());
}

// A folder plays /dev; the names must stay inside it.
class Resolve : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::mkdir(dev.file("serial").c_str(), 0755), 0);
        ASSERT_EQ(::mkfifo(outside.file("fifo").c_str(), 0666), 0);
        ASSERT_EQ(::mkfifo(dev.file("fifo").c_str(), 0666), 0);
        quillon::test::TempDir::writeFile(dev.file("file"), "x");
        devFd = ::open(dev.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(devFd, 0);
    }
    void TearDown() override { ::close(devFd); }

    static DeviceFacts noFacts(unsigned, unsigned) { return {}; }
    bool resolves(const std::string& path) { return resolvePort(devFd, path, Invoker{}, noFacts).has_value(); }

    quillon::test::TempDir dev, outside;
    int devFd = -1;
};

TEST_F(Resolve, NamesLeavingTheFolderOrNamingNoDeviceAreRefusedWithoutOpeningThem)
{
    // Each would block for ever if it were opened instead of looked at.
    ASSERT_EQ(::symlink(outside.file("fifo").c_str(), dev.file("abs").c_str()), 0);
    ASSERT_EQ(::symlink(("../../" + outside.path().substr(1) + "/fifo").c_str(), dev.file("serial/rel").c_str()), 0);
    const std::vector<std::string> names = {"/dev/abs",
                                            "/dev/serial/rel",
                                            "/dev/fifo",
                                            "/dev/file",
                                            "/dev/serial",
                                            "/dev/",
                                            "/dev/../" + outside.path() + "/fifo",
                                            outside.file("fifo"),
                                            "fifo",
                                            "/dev/nosuch"};
    for (const std::string& name : names) EXPECT_FALSE(resolves(name)) << name;
}

TEST_F(Resolve, LinksInsideTheFolderLeadToTheNodeTheyName)
{
    if (::mknod(dev.file("pts5").c_str(), S_IFCHR | 0620, makedev(136, 5)) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    ASSERT_EQ(::symlink("../pts5", dev.file("serial/by-id").c_str()), 0);
    struct stat st {};
    ASSERT_EQ(::stat(dev.path().c_str(), &st), 0);
    for (const char* name : {"/dev/pts5", "/dev/serial/by-id", "/dev/serial/../pts5"}) {
        const auto node = resolvePort(devFd, name, Invoker{}, noFacts);
        ASSERT_TRUE(node) << name;
        EXPECT_EQ(node->device, (136u << 20) | 5);
        EXPECT_EQ(node->filesystem, kernelDevice(st.st_dev)); // the folder's own filesystem
    }
    // Someone else's pty is refused to a user who is not root.
    EXPECT_FALSE(resolvePort(devFd, "/dev/pts5", Invoker{1000, {1000}}, noFacts));
}

} // namespace
