// A program that uses a serial port the way terminal programs do, for the
// capture tests to watch from outside:
//   portmon_peer write PATH TEXT    open, write TEXT, close
//   portmon_peer writev PATH A B    open, writev A and B in one call, close
//   portmon_peer read PATH COUNT    open, set 115200 8N1 raw, read COUNT bytes (blocking), close
//   portmon_peer deny PATH          as user nobody, try to open (and fail)
//   portmon_peer modem PATH         open, TIOCMBIS DTR, TCFLSH input, close
//   portmon_peer burst PATH SECONDS 64-byte writes as fast as it can; prints writes/second
//   portmon_peer pwritev PATH N     open, pwritev of N 3-byte buffers (a pty refuses it: no
//                                   offset), then pwritev2 of them at the current position, close
//   portmon_peer dup2 PATH          open, dup2 and then dup3 /dev/null over it, close
//   portmon_peer closerange PATH    open, close_range marking it close-on-exec, then closing it
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "deny") {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 7;
        return ::open(argv[2], O_RDWR | O_NOCTTY) < 0 ? 0 : 8;
    }
    int fd = ::open(argv[2], O_RDWR | O_NOCTTY);
    if (fd < 0) return 3;
    if (mode == "write" && argc > 3) {
        if (::write(fd, argv[3], std::strlen(argv[3])) < 0) return 4;
    } else if (mode == "writev" && argc > 4) {
        iovec v[2] = {{argv[3], std::strlen(argv[3])}, {argv[4], std::strlen(argv[4])}};
        if (::writev(fd, v, 2) < 0) return 4;
    } else if (mode == "read" && argc > 3) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        cfsetspeed(&t, B115200);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (tcsetattr(fd, TCSANOW, &t) != 0) return 5;
        size_t want = std::strtoul(argv[3], nullptr, 10), got = 0;
        char buf[256];
        while (got < want) {
            ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got));
            if (n <= 0) return 6;
            got += static_cast<size_t>(n);
        }
    } else if (mode == "modem") {
        int bits = TIOCM_DTR;
        ioctl(fd, TIOCMBIS, &bits); // a pty refuses it; the request is still made
        tcflush(fd, TCIFLUSH);
    } else if (mode == "pwritev" && argc > 3) {
        const int n = std::atoi(argv[3]);
        std::vector<std::string> parts;
        for (int i = 0; i < n; ++i) parts.push_back("b" + std::to_string(10 + i % 90));
        std::vector<iovec> v;
        for (auto& p : parts) v.push_back({p.data(), p.size()});
        if (::pwritev(fd, v.data(), n, 0) >= 0 || errno != ESPIPE) return 4;
        // Offset -1: at the current position, which a pty has.
        if (::syscall(SYS_pwritev2, fd, v.data(), n, -1L, 0L, 0) != 3L * n) return 5;
    } else if (mode == "dup2") {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, fd) != fd || ::write(fd, "gone", 4) != 4) return 4;
        const int again = ::open(argv[2], O_RDWR | O_NOCTTY);
        if (again < 0 || ::dup3(null, again, O_CLOEXEC) != again) return 5;
        ::close(again);
        ::close(null);
    } else if (mode == "closerange") {
        if (::syscall(SYS_close_range, fd, ~0U, CLOSE_RANGE_CLOEXEC) != 0) return 4;
        if (::syscall(SYS_close_range, fd, ~0U, 0) != 0) return 5;
        return 0;
    } else if (mode == "burst" && argc > 3) {
        const double seconds = std::atof(argv[3]);
        char block[64];
        std::memset(block, 'x', sizeof block);
        long long writes = 0;
        const auto start = std::chrono::steady_clock::now();
        double elapsed = 0;
        while (elapsed < seconds) {
            for (int i = 0; i < 256; ++i)
                if (::write(fd, block, sizeof block) == sizeof block) ++writes;
            elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        std::printf("%.0f\n", writes / elapsed);
    } else {
        return 2;
    }
    ::close(fd);
    return 0;
}
