#include "common/file_io.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
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
