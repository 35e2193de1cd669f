#include "common/file_io.h"
#include "common/output_file.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace quillon;
using quillon::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::set<std::string> namesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode;
}

} // namespace

TEST(SafeOutput, ReplacesRegularFileWholeKeepingItsMode)
{
    TempDir dir;
    const std::string path = dir.file("out.c");
    TempDir::writeFile(path, "old contents that are longer");
    ::chmod(path.c_str(), 0640);
    // A file named like a temporary one of ours is somebody's file.
    TempDir::writeFile(dir.file("out.c.tmp-quillon"), "mine");
    std::string error;
    ASSERT_TRUE(writeWholeFile(path, "new", error)) << error;
    EXPECT_EQ(TempDir::readFile(path), "new");
    EXPECT_EQ(modeOf(path) & 07777, 0640u);
    EXPECT_EQ(TempDir::readFile(dir.file("out.c.tmp-quillon")), "mine");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"out.c", "out.c.tmp-quillon"}));

    // A new file is created; nothing else appears.
    ASSERT_TRUE(writeWholeFile(dir.file("new.bin"), std::string("\0\1", 2), error)) << error;
    EXPECT_EQ(TempDir::readFile(dir.file("new.bin")), std::string("\0\1", 2));
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);
}

TEST(SafeOutput, AbandonedOrFailedOutputLeavesTargetAndNoTemporaryFile)
{
    TempDir dir;
    const std::string path = dir.file("image.bin");
    TempDir::writeFile(path, "keep me");
    {
        SafeOutput out;
        ASSERT_TRUE(out.open(path));
        EXPECT_TRUE(out.replaces());
        ASSERT_TRUE(writeAll(out.fd(), "half an ima"));
        // Destroyed without commit, as when a conversion fails.
    }
    EXPECT_EQ(TempDir::readFile(path), "keep me");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"image.bin"});

    // A directory, a missing folder and a read-only file are refused up front.
    std::string error;
    fs::create_directory(dir.file("sub"));
    EXPECT_FALSE(writeWholeFile(dir.file("sub"), "x", error));
    EXPECT_NE(error.find("sub"), std::string::npos) << error;
    EXPECT_FALSE(writeWholeFile(dir.file("no/such.bin"), "x", error));
    if (::geteuid() != 0) {
        ::chmod(path.c_str(), 0444);
        EXPECT_FALSE(writeWholeFile(path, "x", error));
        EXPECT_EQ(TempDir::readFile(path), "keep me");
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"image.bin", "sub"}));
    EXPECT_TRUE(fs::is_empty(dir.file("sub")));
}

TEST(SafeOutput, SymlinkIsFollowedAndStaysALink)
{
    TempDir dir;
    fs::create_directory(dir.file("real"));
    const std::string target = dir.file("real/settings.INI");
    TempDir::writeFile(target, "old");
    ::chmod(target.c_str(), 0600);
    fs::create_symlink("real/settings.INI", dir.file("link.INI"));
    std::string error;
    ASSERT_TRUE(writeWholeFile(dir.file("link.INI"), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.INI")));
    EXPECT_EQ(TempDir::readFile(target), "new");
    EXPECT_EQ(modeOf(target) & 07777, 0600u);
    // The temporary file was made beside the target, not beside the link.
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"link.INI", "real"}));
    EXPECT_EQ(namesIn(dir.file("real")), std::set<std::string>{"settings.INI"});

    // A dangling link: the file appears where it points, through a chain.
    fs::create_symlink("real/later.bin", dir.file("dangling"));
    fs::create_symlink("dangling", dir.file("chain"));
    ASSERT_TRUE(writeWholeFile(dir.file("chain"), "made", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.file("chain")));
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
    EXPECT_EQ(TempDir::readFile(dir.file("real/later.bin")), "made");
}

// A log that grows while the program runs: the old file stays until the
// output is published, then the target itself grows with every write and
// keeps what it got even if the program never commits (killed).
TEST(SafeOutput, PublishedOutputGrowsInPlaceOfTheTarget)
{
    TempDir dir;
    fs::create_directory(dir.file("real"));
    const std::string target = dir.file("real/capture.log");
    TempDir::writeFile(target, "earlier capture");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real/capture.log", dir.file("link.log"));
    {
        SafeOutput out;
        ASSERT_TRUE(out.open(dir.file("link.log")));
        ASSERT_TRUE(writeAll(out.fd(), "first\n"));
        EXPECT_EQ(TempDir::readFile(target), "earlier capture");
        ASSERT_TRUE(out.publish()) << out.error();
        EXPECT_FALSE(out.replaces());
        EXPECT_EQ(TempDir::readFile(target), "first\n");
        ASSERT_TRUE(writeAll(out.fd(), "second\n"));
        EXPECT_EQ(TempDir::readFile(target), "first\nsecond\n");
        EXPECT_TRUE(out.publish()); // once in place, again is nothing to do
        // Destroyed without commit: what was published stays.
    }
    EXPECT_EQ(TempDir::readFile(target), "first\nsecond\n");
    EXPECT_EQ(modeOf(target) & 07777, 0640u);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.log")));
    EXPECT_EQ(namesIn(dir.file("real")), std::set<std::string>{"capture.log"});

    SafeOutput fresh;
    ASSERT_TRUE(fresh.open(dir.file("new.log")));
    ASSERT_TRUE(fresh.publish()) << fresh.error();
    EXPECT_TRUE(fs::exists(dir.file("new.log")));
    ASSERT_TRUE(writeAll(fresh.fd(), "x"));
    ASSERT_TRUE(fresh.commit()) << fresh.error();
    EXPECT_EQ(TempDir::readFile(dir.file("new.log")), "x");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"link.log", "new.log", "real"}));
}

TEST(SafeOutput, FifosTerminalsAndDevicesAreWrittenInPlace)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = TempDir::readFile(fifo); });
    std::string error;
    EXPECT_TRUE(writeWholeFile(fifo, "through the pipe", error)) << error;
    reader.join();
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(S_ISFIFO(modeOf(fifo)));

    // Device nodes made here (needs root): a full device reports the failure
    // and stays a device.
    const std::string full = dir.file("full"), null = dir.file("null");
    if (::mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0 ||
        ::mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make device nodes here";
    SafeOutput out;
    ASSERT_TRUE(out.open(null));
    EXPECT_FALSE(out.replaces());
    EXPECT_TRUE(writeAll(out.fd(), "gone"));
    EXPECT_TRUE(out.commit());
    EXPECT_FALSE(writeWholeFile(full, "x", error));
    EXPECT_TRUE(S_ISCHR(modeOf(full)));
    EXPECT_TRUE(S_ISCHR(modeOf(null)));
    // Also when named through a symlink.
    fs::create_symlink("null", dir.file("to-null"));
    EXPECT_TRUE(writeWholeFile(dir.file("to-null"), "x", error)) << error;
    EXPECT_TRUE(S_ISCHR(modeOf(null)));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"pipe", "full", "null", "to-null"}));
}

TEST(SafeOutput, SameRegularFileSeesThroughLinksButNotDevices)
{
    TempDir dir;
    TempDir::writeFile(dir.file("in.bin"), "x");
    fs::create_symlink("in.bin", dir.file("alias"));
    fs::create_hard_link(dir.file("in.bin"), dir.file("hard"));
    EXPECT_TRUE(sameRegularFile(dir.file("in.bin"), dir.file("alias")));
    EXPECT_TRUE(sameRegularFile(dir.file("in.bin"), dir.file("hard")));
    EXPECT_TRUE(sameRegularFile(dir.file("in.bin"), dir.path() + "/./in.bin"));
    EXPECT_FALSE(sameRegularFile(dir.file("in.bin"), dir.file("other")));
    ASSERT_EQ(::mkfifo(dir.file("p").c_str(), 0600), 0);
    EXPECT_FALSE(sameRegularFile(dir.file("p"), dir.file("p")));
}
