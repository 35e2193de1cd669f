#pragma once
// A pseudo-terminal pair: the program opens the slave by its path, the test
// plays the remote device on the master.

#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillon::test {

class PtyPair {
public:
    PtyPair()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            slavePath_ = name;
            ::close(slave);
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
            ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        }
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }
    int master() const { return master_; }

    // The remote device goes away (adapter pulled).
    void closeMaster()
    {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Writes everything, waiting for room as needed (up to `timeoutMs`).
    bool send(const std::string& bytes, int timeoutMs = 5000) const
    {
        size_t done = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (std::chrono::steady_clock::now() > until) return false;
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
        return true;
    }

    // Reads until `count` bytes came or `timeoutMs` passed.
    std::string receive(size_t count, int timeoutMs = 3000) const
    {
        std::string out;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[4096];
        while (out.size() < count && std::chrono::steady_clock::now() < until) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    // Whatever is waiting now (after a short settle).
    std::string drain(int settleMs = 100) const
    {
        std::string out;
        char buf[4096];
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, settleMs) <= 0) break;
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// Open descriptors of this process, to catch leaks.
inline int openFdCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

inline std::string bytesOf(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

} // namespace quillon::test
