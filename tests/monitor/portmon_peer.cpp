// A program that uses a serial port the way terminal programs do, for the
// capture tests to watch from outside:
//   portmon_peer write PATH TEXT    open, write TEXT, close
//   portmon_peer writev PATH A B    open, writev A and B in one call, close
//   portmon_peer read PATH COUNT    open, set 115200 8N1 raw, read COUNT bytes (blocking), close
//   portmon_peer deny PATH          as user nobody, try to open (and fail)
//   portmon_peer modem PATH         open, TIOCMBIS DTR, TCFLSH input, close
//   portmon_peer burst PATH SECONDS 64-byte writes as fast as it can; prints writes/second
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
