// The port layer and the port threads on pseudo-terminals; the test plays
// the remote device on the master side.

#include "platform/comm_port.h"
#include "serial/comm_threads.h"
#include "tests/serial/pty_pair.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;
using namespace std::chrono_literals;

namespace {

// Records what the threads tell the window.
struct RecordingSink : CommSink {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<int, intptr_t>> posts;
    std::vector<std::string> chunks;
    std::vector<CommFailure> failures;

    void report(const CommReport& r) override
    {
        std::lock_guard l(m);
        posts.emplace_back(r.kind, r.count);
        cv.notify_all();
    }
    bool deliver(std::span<const uint8_t> chunk) override
    {
        std::lock_guard l(m);
        chunks.emplace_back(chunk.begin(), chunk.end());
        cv.notify_all();
        return true;
    }
    void reportFailure(CommFailure failure) override
    {
        std::lock_guard l(m);
        failures.push_back(failure);
    }
    int count(int message)
    {
        std::lock_guard l(m);
        int n = 0;
        for (auto& p : posts) n += p.first == message;
        return n;
    }
    intptr_t sum(int message)
    {
        std::lock_guard l(m);
        intptr_t n = 0;
        for (auto& p : posts)
            if (p.first == message) n += p.second;
        return n;
    }
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock l(m);
        return cv.wait_for(l, timeout, [&] { return pred(); });
    }
};

std::unique_ptr<platform::CommPort> openRaw(const PtyPair& pty)
{
    auto port = platform::CommPort::open(pty.slavePath());
    if (!port) return nullptr;
    platform::CommState s;
    port->getState(s);
    s.BaudRate = 115200;
    s.ByteSize = 8;
    s.Parity = platform::NOPARITY;
    s.StopBits = platform::ONESTOPBIT;
    if (!port->setState(s)) return nullptr;
    return port;
}

std::string tempFile(const std::string& bytes)
{
    char path[] = "/tmp/quillon-send-XXXXXX";
    int fd = ::mkstemp(path);
    ::close(fd);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace

TEST(CommPort, AppliesEveryListedRateAndRestoresTheDeviceAtClose)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    termios before{};
    {
        int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        ::tcgetattr(probe, &before);
        ::close(probe);
    }
    auto port = platform::CommPort::open(pty.slavePath());
    ASSERT_TRUE(port);
    for (uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u, 115200u,
                          128000u, 256000u}) {
        platform::CommState s;
        ASSERT_TRUE(port->getState(s));
        s.BaudRate = rate;
        EXPECT_TRUE(port->setState(s)) << rate;
        platform::CommState back;
        port->getState(back);
        EXPECT_EQ(back.BaudRate, rate);
    }
    platform::CommTimeouts t;
    t.ReadTotalTimeoutConstant = 300;
    t.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(port->setTimeouts(t));
    platform::CommTimeouts back;
    port->getTimeouts(back);
    EXPECT_EQ(back, t);
    port->close();
    port->close();
    EXPECT_FALSE(port->isOpen());

    int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    termios after{};
    ::tcgetattr(probe, &after);
    ::close(probe);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST(CommPort, StopBitsFollowWhatAUartCanDo)
{
    PtyPair pty;
    auto port = platform::CommPort::open(pty.slavePath());
    ASSERT_TRUE(port);
    platform::CommState s;
    port->getState(s);
    s.BaudRate = 9600;
    for (uint8_t parity = platform::NOPARITY; parity <= platform::SPACEPARITY; ++parity) {
        s.Parity = parity;
        s.fParity = parity != platform::NOPARITY;
        s.ByteSize = 8;
        s.StopBits = platform::ONESTOPBIT;
        EXPECT_TRUE(port->setState(s)) << int(parity);
        s.StopBits = platform::TWOSTOPBITS;
        EXPECT_TRUE(port->setState(s)) << int(parity);
        s.StopBits = platform::ONE5STOPBITS; // only with 5-bit bytes
        EXPECT_FALSE(port->setState(s)) << int(parity);
        s.ByteSize = 5;
        EXPECT_TRUE(port->setState(s)) << int(parity);
        s.StopBits = platform::TWOSTOPBITS;
        EXPECT_FALSE(port->setState(s)) << int(parity);
    }
}

TEST(CommPort, OnlyOneOpenerAtATime)
{
    PtyPair pty;
    auto first = platform::CommPort::open(pty.slavePath());
    ASSERT_TRUE(first);
    EXPECT_FALSE(platform::CommPort::open(pty.slavePath()));
    // Another program holding the lock.
    first.reset();
    int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(platform::CommPort::open(pty.slavePath()));
    ::close(other);
    EXPECT_TRUE(platform::CommPort::open(pty.slavePath()));
    EXPECT_FALSE(platform::CommPort::open("/dev/null")); // not a terminal
    EXPECT_FALSE(platform::CommPort::open("/nonexistent/tty"));
}

namespace {

// Why an open failed, as seen by a child process: as "nobody" when asked
// (root opens any device whatever its mode), else as this process's user.
struct ChildOpen {
    int reason = -1;
    int error = 0;
    pid_t holderPid = 0;
    char group[32] = {};
};

ChildOpen openInChild(const std::string& path, bool asNobody)
{
    int out[2];
    if (::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(3);
        platform::PortOpenFailure why;
        ChildOpen r;
        if (platform::CommPort::open(path, &why)) _exit(4);
        r.reason = static_cast<int>(why.reason);
        r.error = why.error;
        r.holderPid = why.holderPid;
        std::snprintf(r.group, sizeof r.group, "%s", why.deviceGroup.c_str());
        _exit(::write(out[1], &r, sizeof r) == sizeof r ? 0 : 5);
    }
    ::close(out[1]);
    ChildOpen r;
    if (::read(out[0], &r, sizeof r) != sizeof r) r.reason = -1;
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return r;
}

// Another process that opens the port the way this program does and keeps
// it until the object goes; its command name is `name`.
class PortHolderProcess {
public:
    PortHolderProcess(const std::string& path, const char* name)
    {
        int ready[2], hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            ::prctl(PR_SET_NAME, name);
            auto port = platform::CommPort::open(path);
            const char state = port ? 'y' : 'n';
            if (::write(ready[1], &state, 1) != 1) _exit(1);
            char c;
            [[maybe_unused]] ssize_t n = ::read(hold[0], &c, 1); // until the parent lets go
            _exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        hold_ = hold[1];
        char state = 0;
        holding_ = ::read(ready[0], &state, 1) == 1 && state == 'y';
        ::close(ready[0]);
    }
    ~PortHolderProcess()
    {
        if (hold_ >= 0) ::close(hold_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int hold_ = -1;
    bool holding_ = false;
};

std::string makeTempDir()
{
    char dir[] = "/tmp/quillon-port-XXXXXX";
    return ::mkdtemp(dir) ? dir : "";
}

using Reason = platform::PortOpenFailure::Reason;

} // namespace

TEST(CommPortOpenFailure, OrdinaryUserWithoutAccessIsToldItIsPermission)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    ChildOpen r = openInChild(pty.slavePath(), true);
    EXPECT_EQ(r.reason, int(Reason::NoPermission));
    EXPECT_EQ(r.error, EACCES);
    EXPECT_STREQ(r.group, ""); // no group may use it: nothing to name

    // A node its group may use names that group (not always dialout).
    const group* g = ::getgrnam("uucp");
    if (!g) g = ::getgrnam("dialout");
    ASSERT_NE(g, nullptr);
    const std::string name = g->gr_name;
    ASSERT_EQ(::chown(pty.slavePath().c_str(), 0, g->gr_gid), 0);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0660), 0);
    r = openInChild(pty.slavePath(), true);
    EXPECT_EQ(r.reason, int(Reason::NoPermission));
    EXPECT_EQ(r.group, name);
}

TEST(CommPortOpenFailure, PortHeldByAnotherProgramNamesItWhenItCanBeSeen)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    {
        PortHolderProcess holder(pty.slavePath(), "qln-holder");
        ASSERT_TRUE(holder.holding());
        platform::PortOpenFailure why;
        EXPECT_FALSE(platform::CommPort::open(pty.slavePath(), &why));
        EXPECT_EQ(why.reason, Reason::InUse);
        EXPECT_EQ(why.holderPid, holder.pid());
        EXPECT_EQ(why.holderName, "qln-holder");

        // A user who can't see the holder's descriptors is still told the port
        // is in use (the exclusive flag refuses the open itself).
        if (::geteuid() == 0) {
            ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
            const ChildOpen r = openInChild(pty.slavePath(), true);
            EXPECT_EQ(r.reason, int(Reason::InUse));
            EXPECT_EQ(r.error, EBUSY);
            EXPECT_EQ(r.holderPid, 0);
        }
    }
    platform::PortOpenFailure why;
    why.reason = Reason::Other;
    EXPECT_TRUE(platform::CommPort::open(pty.slavePath(), &why));
    EXPECT_EQ(why.reason, Reason::None);
}

TEST(CommPortOpenFailure, PortThatIsGoneOrNoTerminal)
{
    const std::string dir = makeTempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/ttyUSB-by-id";
    {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
        EXPECT_TRUE(platform::CommPort::open(link));
        pty.closeMaster(); // the pty's node goes with its master
        struct stat st {};
        ASSERT_NE(::stat(pty.slavePath().c_str(), &st), 0);
    }
    platform::PortOpenFailure why;
    EXPECT_FALSE(platform::CommPort::open(link, &why));
    EXPECT_EQ(why.reason, Reason::Gone);
    EXPECT_EQ(why.error, ENOENT);

    EXPECT_FALSE(platform::CommPort::open("/dev/null", &why));
    EXPECT_EQ(why.reason, Reason::NotAPort);
    EXPECT_FALSE(platform::CommPort::open(dir, &why));
    EXPECT_EQ(why.reason, Reason::NotAPort);
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
}

// The walk over /proc on a made-up tree: other entries and other devices are
// passed over, and it stops after the given number of entries.
TEST(CommPortOpenFailure, HolderSearchIsBounded)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string proc = makeTempDir();
    ASSERT_FALSE(proc.empty());
    auto mk = [&](const std::string& sub) { return ::mkdir((proc + "/" + sub).c_str(), 0755) == 0; };
    ASSERT_TRUE(mk("self") && mk("12") && mk("12/fd") && mk("40") && mk("40/fd") && mk("41"));
    ASSERT_EQ(::symlink("/dev/null", (proc + "/12/fd/0").c_str()), 0);
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), (proc + "/self/3").c_str()), 0);
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), (proc + "/40/fd/7").c_str()), 0);
    std::ofstream(proc + "/40/comm") << "minicom\n";

    platform::PortHolder h = platform::findPortHolder(pty.slavePath(), proc);
    EXPECT_EQ(h.pid, 40);
    EXPECT_EQ(h.name, "minicom");
    EXPECT_EQ(platform::findPortHolder(pty.slavePath(), proc, 1).pid, 0);
    EXPECT_EQ(platform::findPortHolder(proc + "/40/comm", proc).pid, 0); // no device: not looked for
    EXPECT_EQ(platform::findPortHolder(pty.slavePath(), proc + "/none").pid, 0);
    std::filesystem::remove_all(proc);
}

TEST(CommThreads, ReaderDeliversQueuedBytesInChunksOfAtMost2048)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    RecordingSink sink;
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>(i * 7);
    ASSERT_TRUE(pty.send(data));
    TRead reader(*port, sink);
    reader.start();
    ASSERT_TRUE(sink.waitFor([&] {
        size_t n = 0;
        for (auto& c : sink.chunks) n += c.size();
        return n >= data.size();
    }));
    std::string got;
    for (auto& c : sink.chunks) {
        EXPECT_LE(c.size(), TRead::kBufferSize);
        got += c;
    }
    EXPECT_EQ(got, data);
    EXPECT_GE(sink.chunks.size(), 3u);
    ASSERT_TRUE(sink.waitFor([&] {
        intptr_t n = 0;
        for (auto& p : sink.posts) n += p.first == WM_COMM_RECEIVED ? p.second : 0;
        return n == 5000;
    }));
    // A quiet line is reported every tick.
    ASSERT_TRUE(sink.waitFor(
        [&] {
            int idle = 0;
            for (auto& p : sink.posts) idle += p.first == WM_COMM_IDLE;
            return idle >= 2;
        },
        1500ms));
    const auto t0 = std::chrono::steady_clock::now();
    reader.requestStop();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 450ms); // woken, not waiting out a tick
}

TEST(CommThreads, VanishedDeviceIsReportedOnceAndStopsPromptly)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    RecordingSink sink;
    TRead reader(*port, sink);
    reader.start();
    ASSERT_TRUE(pty.send("hi"));
    ASSERT_TRUE(sink.waitFor([&] { return !sink.chunks.empty(); }));
    pty.closeMaster();
    ASSERT_TRUE(sink.waitFor([&] {
        for (auto& p : sink.posts)
            if (p.first == WM_COMM_ERROR) return true;
        return false;
    }));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(sink.count(WM_COMM_ERROR), 1);
    EXPECT_LT(sink.posts.size(), 10u); // no flood of any kind
    const auto t0 = std::chrono::steady_clock::now();
    reader.requestStop();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 450ms); // woken, not waiting out a tick
    port->close(); // restoring settings on a hung-up device must not hang either
}

TEST(CommThreads, WriterSendsTextHexAndFilesInBlocks)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    RecordingSink sink;
    {
        TWrite w(*port, true, false, {'0', '1', '0', '2', 'F', 'F'}, sink);
        w.start();
        ASSERT_TRUE(sink.waitFor([&] { return !sink.posts.empty(); }));
        EXPECT_EQ(pty.receive(3), bytesOf({0x01, 0x02, 0xFF}));
        EXPECT_EQ(sink.posts.back(), std::make_pair(int(WM_COMM_SENT), intptr_t(3)));
    }
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i % 251);
    const std::string path = tempFile(data);
    {
        TWrite w(*port, true, true, std::vector<uint8_t>(path.begin(), path.end()), sink);
        w.start();
        EXPECT_EQ(pty.receive(1000), data); // hex mode has no effect on files
        ASSERT_TRUE(sink.waitFor([&] { return sink.posts.size() >= 2; }));
        w.join();
        EXPECT_TRUE(w.finished());
        EXPECT_EQ(sink.sum(WM_COMM_SENT) + sink.sum(WM_COMM_SENDING), 3 + 1000);
    }
    const std::string empty = tempFile("");
    sink.posts.clear();
    {
        TWrite w(*port, false, true, std::vector<uint8_t>(empty.begin(), empty.end()), sink);
        w.start();
        w.join();
        EXPECT_EQ(sink.posts, (std::vector<std::pair<int, intptr_t>>{{WM_COMM_SENT, 0}}));
    }
    sink.posts.clear();
    {
        const std::string missing = "/nonexistent/file.bin";
        TWrite w(*port, false, true, std::vector<uint8_t>(missing.begin(), missing.end()), sink);
        w.start();
        w.join();
        EXPECT_EQ(sink.failures, std::vector<CommFailure>{CommFailure::SendFileOpen});
        EXPECT_EQ(sink.posts, (std::vector<std::pair<int, intptr_t>>{{WM_COMM_SENT, 0}}));
    }
    std::remove(path.c_str());
    std::remove(empty.c_str());
}

TEST(CommThreads, StoppedFileSendKeepsOnlyReportedBytesAndReadsNoFurther)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    RecordingSink sink;
    // Far more than the terminal buffers hold while nobody reads.
    const std::string path = tempFile(std::string(4 << 20, 'z'));
    TWrite w(*port, false, true, std::vector<uint8_t>(path.begin(), path.end()), sink);
    w.start();
    ASSERT_TRUE(sink.waitFor([&] {
        for (auto& p : sink.posts)
            if (p.first == WM_COMM_SENDING && p.second > 0) return true;
        return false;
    }));
    const auto t0 = std::chrono::steady_clock::now();
    w.requestStop();
    w.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 450ms); // woken, not waiting out a tick
    EXPECT_EQ(sink.count(WM_COMM_SENT), 0);
    const std::string arrived = pty.drain();
    EXPECT_GE(arrived.size(), static_cast<size_t>(sink.sum(WM_COMM_SENDING)));
    EXPECT_LT(arrived.size(), size_t(4 << 20));
    std::remove(path.c_str());
}

TEST(CommThreads, FileSendFromAPipeNobodyWritesStopsAtOnce)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    char dir[] = "/tmp/quillon-fifo-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Someone holds the pipe open for writing but sends nothing (for a while).
    const int held = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    std::thread holder([&] {
        std::this_thread::sleep_for(1500ms);
        ::close(held);
    });
    RecordingSink sink;
    {
        TWrite w(*port, false, true, std::vector<uint8_t>(fifo.begin(), fifo.end()), sink);
        w.start();
        std::this_thread::sleep_for(200ms);
        const auto t0 = std::chrono::steady_clock::now();
        w.requestStop();
        w.join();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 450ms);
    }
    holder.join();
    EXPECT_TRUE(sink.failures.empty());
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}

TEST(CommThreads, WriterToAVanishedDeviceEndsItsSend)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    pty.closeMaster();
    RecordingSink sink;
    TWrite w(*port, false, false, {'A', 'B'}, sink);
    w.start();
    w.join();
    ASSERT_EQ(sink.posts.size(), 2u);
    EXPECT_EQ(sink.posts[0].first, WM_COMM_ERROR);
    EXPECT_EQ(sink.posts[1], std::make_pair(int(WM_COMM_SENT), intptr_t(0)));
}

TEST(CommThreads, TextSendToAStalledDeviceEndsAfterTheWriteTimeout)
{
    PtyPair pty;
    auto port = openRaw(pty);
    ASSERT_TRUE(port);
    platform::CommTimeouts t;
    t.WriteTotalTimeoutConstant = 100;
    ASSERT_TRUE(port->setTimeouts(t));
    // Nobody reads on the far side: fill the line until it takes no more,
    // also after the terminal has moved what it could to the far side.
    const std::string fill(4096, 'f');
    for (int refused = 0; refused < 3;) {
        if (port->write(fill.data(), fill.size()) > 0) {
            refused = 0;
        } else {
            ++refused;
            std::this_thread::sleep_for(30ms);
        }
    }
    RecordingSink sink;
    TWrite w(*port, false, false, {'A', 'B'}, sink);
    w.start();
    ASSERT_TRUE(sink.waitFor([&] { return !sink.posts.empty() && sink.posts.back().first == WM_COMM_SENT; }, 2000ms));
    w.join();
    EXPECT_EQ(sink.sum(WM_COMM_SENT), 0);
    EXPECT_EQ(sink.count(WM_COMM_ERROR), 0);
}
