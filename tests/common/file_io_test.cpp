#include "common/file_io.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quillon;

TEST(WriteAll, DeliversEverythingThroughShortWritesAndReportsARefusal)
{
    // A pipe takes at most its buffer per write: a megabyte needs many.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string data(1 << 20, 'q');
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_TRUE(writeAll(fds[1], data));
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(got, data);

    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full >= 0) {
        EXPECT_FALSE(writeAll(full, "x"));
        ::close(full);
    }
    EXPECT_FALSE(writeAll(-1, "x"));
    EXPECT_TRUE(writeAll(-1, ""));
}

// Only regular files are read; a FIFO without a writer is refused at once
// instead of blocking the open, and a missing file is told apart.
TEST(ReadRegularFile, ReadsFilesAndRefusesEverythingElseWithoutWaiting)
{
    test::TempDir dir;
    const std::string big(200000, 'z');
    test::TempDir::writeFile(dir.file("a"), big);
    EXPECT_EQ(readRegularFile(dir.file("a")), big);
    test::TempDir::writeFile(dir.file("empty"), "");
    EXPECT_EQ(readRegularFile(dir.file("empty")), "");

    errno = 0;
    EXPECT_FALSE(readRegularFile(dir.file("missing")));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("fifo"), dir.path(), std::string("/dev/zero")}) {
        errno = 0;
        EXPECT_FALSE(readRegularFile(path)) << path;
        EXPECT_EQ(errno, EINVAL) << path;
    }
    EXPECT_EQ(openRegularFile(dir.file("fifo")), -1);
}
