// The real helper, loaded into the real kernel, watching a pseudo-terminal
// that separate programs use. Skips (with the helper's reason) where this
// machine cannot load eBPF.

#include <bpf/bpf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "monitor/capture_device.h"
#include "monitor/record_walk.h"
#include "tests/monitor/bpf_programs.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/temp_dir.h"

extern char** environ;

using namespace quillon;
using namespace quillon::capture;
using namespace quillon::monitor;
using quillon::test::portmonPrograms;
using quillon::test::programsGone;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> hookBlock(uint32_t mask, const std::vector<std::string>& names)
{
    std::vector<uint8_t> b(kHookBlockSize, 0);
    std::memcpy(b.data(), &mask, 4);
    for (size_t i = 0; i < names.size(); ++i) std::memcpy(b.data() + 4 + 256 * i, names[i].data(), names[i].size());
    return b;
}

std::vector<uint8_t> filterBlock(const std::string& include, const std::string& exclude, bool reads, bool writes)
{
    std::vector<uint8_t> b(kFilterBlockSize, 0);
    std::memcpy(b.data(), include.data(), include.size());
    std::memcpy(b.data() + 128, exclude.data(), exclude.size());
    b[256] = reads;
    b[257] = writes;
    return b;
}

std::vector<uint8_t> u32Block(uint32_t v)
{
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

pid_t spawnProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

pid_t spawnPeer(std::vector<std::string> args)
{
    args.insert(args.begin(), QUILLON_PORTMON_PEER);
    return spawnProgram(std::move(args));
}

int waitPeer(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool processGone(pid_t pid)
{
    for (int i = 0; i < 300; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// A folder of our own inside /dev (on its tmpfs /dev/shm), for nodes the
// helper must judge by what they are rather than where they are.
struct DevShmDir {
    DevShmDir()
    {
        char name[] = "/dev/shm/quillon-test-XXXXXX";
        if (::mkdtemp(name)) path = name;
    }
    ~DevShmDir()
    {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// Sets PKEXEC_UID for the helpers started while it lives.
struct PkexecUid {
    explicit PkexecUid(const char* uid) { ::setenv("PKEXEC_UID", uid, 1); }
    ~PkexecUid() { ::unsetenv("PKEXEC_UID"); }
};

class CaptureHelper : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        before = portmonPrograms();
        monitor::HelperStart s = device.start();
        if (!s.ok) GTEST_SKIP() << "capture cannot be loaded here: " << s.message;
        ours = portmonPrograms();
        for (uint32_t id : before) ours.erase(id);
    }

    monitor::CaptureAnswer ask(uint32_t code, const std::vector<uint8_t>& in = {}, uint32_t out = 0)
    {
        return device.request(code, in, out);
    }

    // Hooks the pty slave as serial entry 0, sets the limits and starts capture.
    void hookAndStart(uint32_t maxBytes = 64)
    {
        monitor::CaptureAnswer a = ask(kHookSerial, hookBlock(1, {pty.slavePath()}), 4);
        ASSERT_TRUE(a.ok);
        ASSERT_EQ(a.output, u32Block(1));
        ASSERT_TRUE(ask(kMaxDataBytes, u32Block(maxBytes)).ok);
        ASSERT_TRUE(ask(kStartCapture).ok);
    }

    // Reads until `done` says so or 3 s pass; returns every record seen.
    std::vector<MonitorRecord> collect(const std::function<bool(const std::vector<MonitorRecord>&)>& done,
                                       std::vector<uint8_t>* raw = nullptr)
    {
        std::vector<MonitorRecord> all;
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < until) {
            monitor::CaptureAnswer a = ask(kReadRecords, {}, kReadBufferSize);
            EXPECT_TRUE(a.ok);
            if (!a.ok) break;
            if (raw) raw->insert(raw->end(), a.output.begin(), a.output.end());
            walkMonitorRecords(a.output, a.output.size(), [&](const MonitorRecord& r) { all.push_back(r); });
            if (done(all)) break;
            std::this_thread::sleep_for(20ms);
        }
        return all;
    }

    static std::vector<MonitorRecord> ofPid(const std::vector<MonitorRecord>& all, pid_t pid,
                                            const std::string& program = "portmon_peer")
    {
        const std::string prefix = program + ":" + std::to_string(pid);
        std::vector<MonitorRecord> out;
        for (const auto& r : all)
            if (!r.fields.empty() && r.fields[0] == prefix) out.push_back(r);
        return out;
    }

    static bool hasRequest(const std::vector<MonitorRecord>& all, const std::string& request)
    {
        for (const auto& r : all)
            if (r.fields.size() > 1 && r.fields[1] == request) return true;
        return false;
    }

    // The helper again, as pkexec would start it for user `uid`.
    void restartFor(const char* uid)
    {
        device.stop();
        PkexecUid as(uid);
        monitor::HelperStart s = device.start();
        ASSERT_TRUE(s.ok) << s.message;
    }

    test::PtyPair pty;
    monitor::HelperCaptureDevice device{QUILLON_PORTMON_PATH};
    std::set<uint32_t> before, ours;
};

using Fields = std::vector<std::string>;

TEST_F(CaptureHelper, RecordsAnotherProgramsOpenWriteAndCloseInTheReadLayout)
{
    hookAndStart();
    pid_t pid = spawnPeer({"write", pty.slavePath(), "hello\tworld\x01"});
    ASSERT_EQ(waitPeer(pid), 0);
    std::vector<uint8_t> raw;
    auto all = collect([&](const auto& r) { return hasRequest(ofPid(r, pid), "IRP_MJ_CLOSE"); }, &raw);
    auto mine = ofPid(all, pid);
    const std::string program = "portmon_peer:" + std::to_string(pid);
    const std::string& dev = pty.slavePath();
    ASSERT_EQ(mine.size(), 3u);
    EXPECT_EQ(mine[0].fields, (Fields{program, "IRP_MJ_CREATE", dev, "SUCCESS", "O_RDWR O_NOCTTY"}));
    EXPECT_EQ(mine[1].fields, (Fields{program, "IRP_MJ_WRITE", dev, "SUCCESS", "Length 12: hello.world."}));
    EXPECT_EQ(mine[2].fields, (Fields{program, "IRP_MJ_CLOSE", dev, "SUCCESS", ""}));
    EXPECT_LT(mine[0].sequence, mine[1].sequence);
    EXPECT_LT(mine[1].sequence, mine[2].sequence);
    EXPECT_FALSE(mine[1].time.empty());

    // Byte layout: flag byte 0, a file time of about now, zero terminator and padding.
    const uint64_t nowFt = 116444736000000000ULL + std::chrono::duration_cast<std::chrono::microseconds>(
                                                       std::chrono::system_clock::now().time_since_epoch())
                                                           .count() *
                                                       10;
    size_t pos = 0;
    int records = 0;
    while (pos + 13 < raw.size()) {
        uint64_t ft;
        std::memcpy(&ft, raw.data() + pos + 5, 8);
        EXPECT_EQ(raw[pos + 4], 0);
        EXPECT_LT(nowFt - ft, 10ULL * 10'000'000) << "record time is not within 10 s before now";
        const size_t n = std::strlen(reinterpret_cast<const char*>(raw.data() + pos + 13));
        const size_t stride = 13 + ((n + 4) & ~size_t(3));
        ASSERT_LE(pos + stride, raw.size());
        for (size_t i = pos + 13 + n; i < pos + stride; ++i) EXPECT_EQ(raw[i], 0);
        pos += stride;
        ++records;
    }
    EXPECT_EQ(pos, raw.size());
    EXPECT_EQ(records, static_cast<int>(all.size()));
}

TEST_F(CaptureHelper, AFailedOpenOfTheHookedPortIsRecordedWithItsError)
{
    ::chmod(pty.slavePath().c_str(), 0600);
    hookAndStart();
    pid_t pid = spawnPeer({"deny", pty.slavePath()});
    ASSERT_EQ(waitPeer(pid), 0);
    auto mine = ofPid(collect([&](const auto& r) { return !ofPid(r, pid).empty(); }), pid);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].fields, (Fields{"portmon_peer:" + std::to_string(pid), "IRP_MJ_CREATE", pty.slavePath(), "EACCES",
                                      "O_RDWR O_NOCTTY"}));
}

TEST_F(CaptureHelper, GathersTheBuffersOfOneWritevUpToTheByteLimit)
{
    hookAndStart(6);
    pid_t pid = spawnPeer({"writev", pty.slavePath(), "abcd", "efgh"});
    ASSERT_EQ(waitPeer(pid), 0);
    auto mine = ofPid(collect([&](const auto& r) { return hasRequest(ofPid(r, pid), "IRP_MJ_CLOSE"); }), pid);
    ASSERT_EQ(mine.size(), 3u);
    EXPECT_EQ(mine[1].fields[1], "IRP_MJ_WRITE");
    EXPECT_EQ(mine[1].fields[4], "Length 8: abcdef");
}

TEST_F(CaptureHelper, ABlockedReadIsShownAtOnceAndCompletedLaterUnderItsNumber)
{
    hookAndStart();
    pid_t reader = spawnPeer({"read", pty.slavePath(), "3"});
    ASSERT_GT(reader, 0);
    auto waitingRead = [&](const std::vector<MonitorRecord>& all) {
        for (const auto& r : ofPid(all, reader))
            if (r.fields.size() > 1 && r.fields[1] == "IRP_MJ_READ") return true;
        return false;
    };
    auto first = collect(waitingRead);
    auto mine = ofPid(first, reader);
    ASSERT_TRUE(waitingRead(first));
    const std::string program = "portmon_peer:" + std::to_string(reader);
    const std::string& dev = pty.slavePath();
    // The raw 115200 8N1 set-up of the reader, decoded from its own structure.
    bool sawSetup = false;
    for (const auto& r : mine)
        if (r.fields.size() == 5 && r.fields[1] == "IRP_MJ_DEVICE_CONTROL" && r.fields[4] == "TCSETS 115200 8N1") {
            sawSetup = true;
            EXPECT_EQ(r.fields[3], "SUCCESS");
        }
    EXPECT_TRUE(sawSetup);
    const MonitorRecord& entry = mine.back();
    EXPECT_EQ(entry.fields, (Fields{program, "IRP_MJ_READ", dev, "", "Length 3"}));

    ASSERT_TRUE(pty.send("a\tc"));
    auto completed = [&](const std::vector<MonitorRecord>& all) {
        for (const auto& r : all)
            if (r.sequence == entry.sequence && !r.fields.empty() && r.fields[0].empty()) return true;
        return false;
    };
    auto later = collect(completed);
    ASSERT_EQ(waitPeer(reader), 0);
    const MonitorRecord* done = nullptr;
    for (const auto& r : later)
        if (r.sequence == entry.sequence) done = &r;
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->fields, (Fields{"", "", "", "SUCCESS", "Length 3: a.c"}));
}

TEST_F(CaptureHelper, HooksOnlyNamesThatAreCharacterDevices)
{
    test::TempDir dir;
    const std::string file = dir.path() + "/COM9";
    std::ofstream(file) << "x";
    monitor::CaptureAnswer a = ask(kHookSerial, hookBlock(0b1111, {pty.slavePath(), "/no/such/port", file, ""}), 4);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(0b0001));
    // A parallel hook leaves the serial one in place.
    a = ask(kHookParallel, hookBlock(1, {"/no/such/lp"}), 4);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(0));
    ASSERT_TRUE(ask(kStartCapture).ok);
    pid_t pid = spawnPeer({"write", pty.slavePath(), "x"});
    ASSERT_EQ(waitPeer(pid), 0);
    EXPECT_TRUE(hasRequest(
        ofPid(collect([&](const auto& r) { return hasRequest(ofPid(r, pid), "IRP_MJ_CLOSE"); }), pid), "IRP_MJ_WRITE"));
}

TEST_F(CaptureHelper, NothingButSerialAndParallelPortsIsHooked)
{
    DevShmDir shm;
    ASSERT_FALSE(shm.path.empty());
    // Device classes this machine may not have, made where the helper may look.
    const std::pair<const char*, dev_t> made[] = {
        {"/vt", makedev(4, 1)}, {"/event0", makedev(13, 64)}, {"/ttyUSB0", makedev(188, 0)}, {"/mem", makedev(1, 1)}};
    for (const auto& [name, dev] : made) ASSERT_EQ(::mknod((shm.path + name).c_str(), S_IFCHR | 0666, dev), 0) << name;
    const std::vector<std::string> names = {"/dev/tty",           "/dev/console",    "/dev/ptmx",
                                            "/dev/null",          "/dev/tty0",       shm.path + "/vt",
                                            shm.path + "/event0", shm.path + "/mem", shm.path + "/ttyUSB0",
                                            "/dev/pts/ptmx",      pty.slavePath()};
    // A ttyUSB node with no adapter behind it (sysfs has no such device) is refused too.
    monitor::CaptureAnswer a = ask(kHookSerial, hookBlock(0x7FF, names), 4);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(1u << 10));
    a = ask(kHookParallel, hookBlock(0b11, {"/dev/tty", "/dev/null"}), 4);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(0));
}

TEST_F(CaptureHelper, AUserMayHookOnlyTheirOwnPorts)
{
    test::PtyPair theirs;
    ASSERT_TRUE(theirs.ok());
    ASSERT_EQ(::chown(theirs.slavePath().c_str(), 65534, 5), 0);
    ASSERT_EQ(::chmod(theirs.slavePath().c_str(), 0620), 0);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0620), 0);
    restartFor("65534"); // nobody, as pkexec names them
    monitor::CaptureAnswer a = ask(kHookSerial, hookBlock(0b11, {pty.slavePath(), theirs.slavePath()}), 4);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(0b10));
    // Root, named by pkexec, may hook both.
    restartFor("0");
    a = ask(kHookSerial, hookBlock(0b11, {pty.slavePath(), theirs.slavePath()}), 4);
    EXPECT_EQ(a.output, u32Block(0b11));
}

TEST_F(CaptureHelper, LinksOutsideDevAreNeverFollowed)
{
    test::TempDir dir;
    DevShmDir shm;
    // Outside /dev: a FIFO that would block an open, and a node of our very
    // pty that a followed link (or a stat through it) would find hookable.
    const std::string fifo = dir.file("fifo");
    const std::string node = dir.file("pty");
    struct stat st {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    if (::mknod(node.c_str(), S_IFCHR | 0600, st.st_rdev) != 0)
        GTEST_SKIP() << "cannot make a device node in " << dir.path() << ": " << std::strerror(errno);
    ASSERT_EQ(::symlink(fifo.c_str(), dir.file("COM1").c_str()), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), (shm.path + "/COM2").c_str()), 0);
    ASSERT_EQ(::symlink(("../../.." + fifo).c_str(), (shm.path + "/COM3").c_str()), 0);
    ASSERT_EQ(::symlink(node.c_str(), (shm.path + "/COM4").c_str()), 0);
    ASSERT_EQ(::symlink(("../../.." + node).c_str(), (shm.path + "/COM5").c_str()), 0);
    // A look at the FIFO through a link that was followed would show here as an open.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN | IN_ACCESS | IN_ATTRIB), 0);
    device.setTimeoutMs(2000);
    const std::vector<std::string> names = {
        dir.file("COM1"),  shm.path + "/COM2", shm.path + "/COM3", shm.path + "/COM4", shm.path + "/COM5", fifo, node,
        "/dev/../" + node, pty.slavePath()};
    monitor::CaptureAnswer a = ask(kHookSerial, hookBlock(0x1FF, names), 4);
    ASSERT_TRUE(a.ok) << "the helper blocked on a name: " << a.error;
    EXPECT_EQ(a.output, u32Block(1u << 8));
    char events[256];
    EXPECT_LT(::read(watch, events, sizeof events), 0);
    ::close(watch);
}

// A pty numbered like ours in another devpts instance (a container's, say)
// is another port: a write there is not captured, one to ours is.
TEST_F(CaptureHelper, APtyOfTheSameNumberInAnotherDevptsIsNotCaptured)
{
    const std::string ours = pty.slavePath();
    const unsigned number = static_cast<unsigned>(std::stoul(ours.substr(ours.rfind('/') + 1)));
    if (number > 512) GTEST_SKIP() << "our pty number is too high to mirror: " << number;
    hookAndStart();
    test::TempDir mountPoint;
    pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(10);
        if (::mount("devpts", mountPoint.path().c_str(), "devpts", 0, "newinstance,ptmxmode=0666") != 0) _exit(11);
        // Masters up to our number, so the last slave has it too.
        unsigned n = 0;
        int master = -1;
        do {
            master = ::open(mountPoint.file("ptmx").c_str(), O_RDWR | O_NOCTTY);
            if (master < 0 || ::ioctl(master, TIOCGPTN, &n) != 0) _exit(12);
        } while (n < number);
        int unlock = 0;
        if (n != number || ::ioctl(master, TIOCSPTLCK, &unlock) != 0) _exit(13);
        const int slave = ::open(mountPoint.file(std::to_string(n)).c_str(), O_RDWR | O_NOCTTY);
        if (slave < 0 || ::write(slave, "hidden", 6) != 6) _exit(14);
        ::close(slave);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    if (WIFEXITED(status) && WEXITSTATUS(status) >= 10 && WEXITSTATUS(status) <= 12)
        GTEST_SKIP() << "no second devpts instance here (step " << WEXITSTATUS(status) << ")";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    pid_t peer = spawnPeer({"write", ours, "seen"});
    ASSERT_EQ(waitPeer(peer), 0);
    auto all = collect([&](const auto& r) { return hasRequest(ofPid(r, peer), "IRP_MJ_CLOSE"); });
    EXPECT_TRUE(hasRequest(ofPid(all, peer), "IRP_MJ_WRITE"));
    for (const auto& r : all) {
        ASSERT_FALSE(r.fields.empty());
        EXPECT_EQ(r.fields[0].find(":" + std::to_string(other)), std::string::npos) << r.fields[0];
    }
}

TEST_F(CaptureHelper, AVectorOfAnyLengthIsOneRequestWithItsWholeLength)
{
    hookAndStart(16);
    pid_t pid = spawnPeer({"pwritev", pty.slavePath(), "20"});
    ASSERT_EQ(waitPeer(pid), 0);
    auto mine = ofPid(collect([&](const auto& r) { return hasRequest(ofPid(r, pid), "IRP_MJ_CLOSE"); }), pid);
    std::vector<std::string> writes;
    for (const auto& r : mine)
        if (r.fields[1] == "IRP_MJ_WRITE") writes.push_back(r.fields[3] + " " + r.fields[4]);
    // pwritev needs an offset a pty has not; pwritev2 at the current position works.
    EXPECT_EQ(writes,
              (std::vector<std::string>{"ESPIPE Length 60: b10b11b12b13b14b", "SUCCESS Length 60: b10b11b12b13b14b"}));
}

TEST_F(CaptureHelper, ADescriptorClosedByDupOrCloseRangeIsRecordedAsItsClose)
{
    hookAndStart();
    for (const char* how : {"dup2", "closerange"}) {
        pid_t pid = spawnPeer({how, pty.slavePath()});
        ASSERT_EQ(waitPeer(pid), 0) << how;
        auto mine =
            ofPid(collect([&](const auto& r) { return ofPid(r, pid).size() >= (how[0] == 'd' ? 4u : 2u); }), pid);
        std::vector<std::string> requests;
        for (const auto& r : mine) requests.push_back(r.fields[1] + " " + r.fields[3]);
        // dup2, then dup3 over a second descriptor; the writes to /dev/null after it are not the port's.
        const std::vector<std::string> expected =
            how[0] == 'd' ? std::vector<std::string>{"IRP_MJ_CREATE SUCCESS", "IRP_MJ_CLOSE SUCCESS",
                                                     "IRP_MJ_CREATE SUCCESS", "IRP_MJ_CLOSE SUCCESS"}
                          : std::vector<std::string>{"IRP_MJ_CREATE SUCCESS", "IRP_MJ_CLOSE SUCCESS"};
        EXPECT_EQ(requests, expected) << how;
    }
}

TEST_F(CaptureHelper, ThirtyTwoBitProgramsAreDecodedWithTheirOwnSystemCalls)
{
    const std::string writer = QUILLON_PORTMON_WRITER32;
    if (writer.empty()) GTEST_SKIP() << "no 32-bit writer: this build has no assembler for i386";
    hookAndStart();
    pid_t pid = spawnProgram({writer, pty.slavePath(), "hi32"});
    ASSERT_GT(pid, 0);
    const int status = waitPeer(pid);
    if (status != 0) GTEST_SKIP() << "this kernel does not run 32-bit programs (exit " << status << ")";
    // The name is cut to the kernel's 15 characters.
    auto of32 = [&](const auto& all) { return ofPid(all, pid, "portmon_writer3"); };
    auto mine = of32(collect([&](const auto& r) { return hasRequest(of32(r), "IRP_MJ_CLOSE"); }));
    const std::string program = "portmon_writer3:" + std::to_string(pid);
    const std::string& dev = pty.slavePath();
    ASSERT_EQ(mine.size(), 4u);
    EXPECT_EQ(mine[0].fields, (Fields{program, "IRP_MJ_CREATE", dev, "SUCCESS", "O_RDWR O_NOCTTY"}));
    EXPECT_EQ(mine[1].fields, (Fields{program, "IRP_MJ_WRITE", dev, "SUCCESS", "Length 4: hi32"}));
    EXPECT_EQ(mine[2].fields, (Fields{program, "IRP_MJ_WRITE", dev, "SUCCESS", "Length 8: hi32hi32"}));
    EXPECT_EQ(mine[3].fields, (Fields{program, "IRP_MJ_CLOSE", dev, "SUCCESS", ""}));
}

TEST_F(CaptureHelper, FiltersAndSwitchesDropRecordsInTheHelper)
{
    hookAndStart();
    ASSERT_TRUE(ask(kSetFilter, filterBlock("IRP_MJ_READ;IRP_MJ_WRITE", "", true, true)).ok);
    ASSERT_TRUE(ask(kHexDisplay, u32Block(1)).ok);
    pid_t pid = spawnPeer({"write", pty.slavePath(), "AB\n"});
    ASSERT_EQ(waitPeer(pid), 0);
    auto mine = ofPid(collect([&](const auto& r) { return hasRequest(ofPid(r, pid), "IRP_MJ_WRITE"); }), pid);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].fields[4], "Length 3: 41 42 0A");

    // Writes off, and an exclude term for this program: nothing of it shows.
    ASSERT_TRUE(ask(kSetFilter, filterBlock("*", "", true, false)).ok);
    pid = spawnPeer({"write", pty.slavePath(), "CD"});
    ASSERT_EQ(waitPeer(pid), 0);
    ASSERT_TRUE(ask(kSetFilter, filterBlock("*", "PORTMON_P*", true, true)).ok);
    pid_t other = spawnPeer({"write", pty.slavePath(), "EF"});
    ASSERT_EQ(waitPeer(other), 0);
    ASSERT_TRUE(ask(kSetFilter, filterBlock("*", "", true, true)).ok);
    pid_t last = spawnPeer({"modem", pty.slavePath()});
    ASSERT_EQ(waitPeer(last), 0);
    auto all = collect([&](const auto& r) { return hasRequest(ofPid(r, last), "IRP_MJ_CLOSE"); });
    EXPECT_FALSE(hasRequest(ofPid(all, pid), "IRP_MJ_WRITE"));
    EXPECT_TRUE(hasRequest(ofPid(all, pid), "IRP_MJ_CREATE"));
    EXPECT_TRUE(ofPid(all, other).empty());
    std::vector<std::string> others;
    for (const auto& r : ofPid(all, last))
        if (r.fields[1] == "IRP_MJ_DEVICE_CONTROL") others.push_back(r.fields[3] + " " + r.fields[4]);
    EXPECT_EQ(others, (std::vector<std::string>{"ENOTTY TIOCMBIS DTR", "SUCCESS TCFLSH TCIFLUSH"}));
}

TEST_F(CaptureHelper, RefusesBadRequestsAndKeepsAnswering)
{
    monitor::CaptureAnswer a = ask(0x83070099);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, ENOTTY);
    EXPECT_EQ(ask(kSetFilter, std::vector<uint8_t>(257)).error, EINVAL);
    EXPECT_EQ(ask(kHookSerial, std::vector<uint8_t>(100), 4).error, EINVAL);
    EXPECT_EQ(ask(kMaxDataBytes, std::vector<uint8_t>(2)).error, EINVAL);
    EXPECT_EQ(ask(kStartCapture, std::vector<uint8_t>(1)).error, EINVAL);
    EXPECT_EQ(ask(kReadRecords, std::vector<uint8_t>(kMaxRequestInput + 1), kReadBufferSize).error, EINVAL);
    EXPECT_TRUE(ask(kReadRecords, {}, kReadBufferSize).ok);
}

TEST_F(CaptureHelper, StopRequestDetachesAndEnds)
{
    ASSERT_FALSE(ours.empty());
    const pid_t helper = device.pid();
    device.stop();
    EXPECT_TRUE(processGone(helper));
    EXPECT_TRUE(programsGone(ours));
}

TEST_F(CaptureHelper, SigtermDetachesAndEnds)
{
    ASSERT_FALSE(ours.empty());
    const pid_t helper = device.pid();
    ASSERT_EQ(::kill(helper, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(helper, &status, 0), helper);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(programsGone(ours));
    EXPECT_FALSE(ask(kReadRecords, {}, kReadBufferSize).ok);
}

// The program crashes: its end of the channel closes, the helper notices
// the end of input, detaches and exits.
TEST_F(CaptureHelper, EndOfInputWhenTheClientIsKilledDetachesAndEnds)
{
    device.stop();
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t client = ::fork();
    ASSERT_GE(client, 0);
    if (client == 0) {
        monitor::HelperCaptureDevice inChild(QUILLON_PORTMON_PATH);
        pid_t helper = inChild.start().ok ? inChild.pid() : -1;
        (void)!::write(report[1], &helper, sizeof helper);
        ::pause();
        ::_exit(0);
    }
    ::close(report[1]);
    pid_t helper = -1;
    ASSERT_EQ(::read(report[0], &helper, sizeof helper), static_cast<ssize_t>(sizeof helper));
    ::close(report[0]);
    ASSERT_GT(helper, 0);
    std::set<uint32_t> childs = portmonPrograms();
    for (uint32_t id : before) childs.erase(id);
    ASSERT_FALSE(childs.empty());
    ::kill(client, SIGKILL);
    ::waitpid(client, nullptr, 0);
    EXPECT_TRUE(processGone(helper));
    EXPECT_TRUE(programsGone(childs));
}

} // namespace
