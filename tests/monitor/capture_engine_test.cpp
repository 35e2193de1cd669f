// The helper's request handling and record building, fed hand-made kernel
// events: no privilege needed.

#include <gtest/gtest.h>

#include <cstdint>

#include <cerrno>
#include <cstring>

#include "monitor/capture/capture_engine.h"
#include "monitor/record_walk.h"

using namespace quillon;
using namespace quillon::capture;
using namespace quillon::monitor;

namespace {

struct FakeKernel : KernelControl {
    int setCapture(bool on) override
    {
        capture = on;
        return fail;
    }
    int setMaxBytes(uint32_t b) override
    {
        maxBytes = b;
        return fail;
    }
    int setHooks(const std::map<uint64_t, uint32_t>& d) override
    {
        hooks = d;
        return fail;
    }
    bool capture = false;
    uint32_t maxBytes = 0;
    std::map<uint64_t, uint32_t> hooks;
    int fail = 0;
};

// Pretends /dev/ttyS0 and /dev/lp0 are character devices.
std::optional<uint32_t> fakeLookup(const std::string& path)
{
    if (path == "/dev/ttyS0") return (4u << 20) | 64;
    if (path == "/dev/pts/7") return (136u << 20) | 7;
    if (path == "/dev/lp0") return (6u << 20) | 0;
    return std::nullopt;
}

Request req(uint32_t code, std::vector<uint8_t> in = {}, uint32_t out = 0)
{
    Request r;
    r.code = code;
    r.input = std::move(in);
    r.outputSize = out;
    return r;
}

std::vector<uint8_t> u32Block(uint32_t v)
{
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

std::vector<uint8_t> hookBlock(uint32_t mask, const std::vector<std::string>& names)
{
    std::vector<uint8_t> b(kHookBlockSize, 0);
    std::memcpy(b.data(), &mask, 4);
    for (size_t i = 0; i < names.size(); ++i) std::memcpy(b.data() + 4 + 256 * i, names[i].data(), names[i].size());
    return b;
}

std::vector<uint8_t> filterBlock(const std::string& include, const std::string& exclude, bool reads = true,
                                 bool writes = true)
{
    std::vector<uint8_t> b(kFilterBlockSize, 0);
    std::memcpy(b.data(), include.data(), include.size());
    std::memcpy(b.data() + 128, exclude.data(), exclude.size());
    b[256] = reads;
    b[257] = writes;
    return b;
}

std::vector<uint8_t> event(uint8_t type, uint8_t kind, uint32_t tid, uint64_t timeNs, int64_t ret = 0, uint64_t arg = 0,
                           const std::string& data = {}, uint64_t arg2 = 0, uint32_t slot = 0)
{
    qpm_event ev{};
    ev.type = type;
    ev.kind = kind;
    ev.data_len = static_cast<uint16_t>(data.size());
    ev.slot = slot;
    ev.pid = 4242;
    ev.tid = tid;
    ev.time_ns = timeNs;
    ev.ret = ret;
    ev.arg = arg;
    ev.arg2 = arg2;
    std::strcpy(ev.comm, "minicom");
    std::vector<uint8_t> raw(sizeof ev + data.size());
    std::memcpy(raw.data(), &ev, sizeof ev);
    std::memcpy(raw.data() + sizeof ev, data.data(), data.size());
    return raw;
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(engine.handle(req(kHookSerial, hookBlock(0b11, {"ttyS0", "/dev/pts/7"}), 4)).output, u32Block(3));
        ASSERT_TRUE(engine.handle(req(kStartCapture)).ok);
    }

    std::vector<MonitorRecord> read(uint32_t size = kReadBufferSize)
    {
        Answer a = engine.handle(req(kReadRecords, {}, size));
        EXPECT_TRUE(a.ok);
        lastRead = a.output;
        std::vector<MonitorRecord> out;
        walkMonitorRecords(a.output, a.output.size(), [&](const MonitorRecord& r) { out.push_back(r); });
        return out;
    }

    void quick(uint8_t kind, uint32_t tid, int64_t ret, uint64_t arg, const std::string& in = {},
               const std::string& out = {}, uint64_t arg2 = 0)
    {
        engine.onEvent(event(QPM_EV_ENTER, kind, tid, 1000, 0, arg, in, arg2));
        engine.onEvent(event(QPM_EV_EXIT, kind, tid, 2000, ret, arg, out, arg2));
    }

    FakeKernel kernel;
    EngineLimits limits;
    CaptureEngine engine{kernel, fakeLookup, limits};
    std::vector<uint8_t> lastRead;
};

using Fields = std::vector<std::string>;

TEST_F(Engine, AQuickRequestIsOneWholeRecord)
{
    quick(QPM_WRITE, 7, 5, 5, "he\tl\x80");
    quick(QPM_READ, 7, -EAGAIN, 16);
    auto recs = read();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].fields, (Fields{"minicom:4242", "IRP_MJ_WRITE", "ttyS0", "SUCCESS", "Length 5: he.l."}));
    EXPECT_EQ(recs[1].fields, (Fields{"minicom:4242", "IRP_MJ_READ", "ttyS0", "EAGAIN", "Length 16"}));
    EXPECT_EQ(recs[1].sequence, recs[0].sequence + 1);
    EXPECT_TRUE(read().empty());
}

TEST_F(Engine, AFailedOpenIsMatchedByItsPathAgainstTheHookedNames)
{
    for (const char* path : {"/dev/ttyS0", "/dev/null", "/dev/pts/7"}) {
        engine.onEvent(event(QPM_EV_ENTER, QPM_OPENAT, 3, 10, 0, 04002, std::string(path) + '\0', 0, QPM_SLOT_BY_PATH));
        engine.onEvent(event(QPM_EV_EXIT, QPM_OPENAT, 3, 20, -EBUSY, 04002, {}, 0, QPM_SLOT_BY_PATH));
    }
    auto recs = read();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].fields, (Fields{"minicom:4242", "IRP_MJ_CREATE", "ttyS0", "EBUSY", "O_RDWR O_NONBLOCK"}));
    EXPECT_EQ(recs[1].fields[2], "/dev/pts/7");
}

TEST_F(Engine, ABlockedRequestIsShownAtEntryAndCompletedUnderTheSameNumber)
{
    engine.onEvent(event(QPM_EV_ENTER, QPM_READ, 9, 1'000'000, 0, 256, {}, 0, 1));
    engine.flushPending(1'000'000 + limits.blockedAfterNs - 1);
    EXPECT_TRUE(read().empty());
    engine.flushPending(1'000'000 + limits.blockedAfterNs);
    quick(QPM_WRITE, 10, 2, 2, "ok", {}, 0); // another program meanwhile
    auto first = read();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].fields, (Fields{"minicom:4242", "IRP_MJ_READ", "/dev/pts/7", "", "Length 256"}));
    engine.onEvent(event(QPM_EV_EXIT, QPM_READ, 9, 9'000'000, 3, 256, "a\nc"));
    auto second = read();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].sequence, first[0].sequence);
    EXPECT_EQ(second[0].fields, (Fields{"", "", "", "SUCCESS", "Length 3: a.c"}));
    // A second flush does not show it again.
    engine.flushPending(100'000'000);
    EXPECT_TRUE(read().empty());
}

TEST_F(Engine, ShowsDataInHexadecimalAndKeepsToTheByteLimit)
{
    ASSERT_TRUE(engine.handle(req(kHexDisplay, u32Block(1))).ok);
    ASSERT_TRUE(engine.handle(req(kMaxDataBytes, u32Block(2))).ok);
    quick(QPM_WRITE, 1, 3, 3, "\x01\xAB\xFF");
    ASSERT_TRUE(engine.handle(req(kMaxDataBytes, u32Block(10000))).ok);
    EXPECT_EQ(kernel.maxBytes, 8192u);
    ASSERT_TRUE(engine.handle(req(kMaxDataBytes, u32Block(0xFFFFFFFF))).ok);
    EXPECT_EQ(engine.maxBytes(), 8192u);
    auto recs = read();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].fields[4], "Length 3: 01 AB");
}

TEST_F(Engine, DecodesDeviceControlsFromTheCallersData)
{
    quick(QPM_IOCTL, 1, -ENOTTY, 0x5416, std::string("\x02\0\0\0", 4)); // TIOCMBIS DTR
    quick(QPM_IOCTL, 1, 0, 0x5415, {}, std::string("\x66\0\0\0", 4));   // TIOCMGET DTR RTS CTS CD
    quick(QPM_IOCTL, 1, 0, 0x540B, {}, {}, 2);                          // TCFLSH
    quick(QPM_IOCTL, 1, 0, 0xC0DE1234);
    auto recs = read();
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].fields, (Fields{"minicom:4242", "IRP_MJ_DEVICE_CONTROL", "ttyS0", "ENOTTY", "TIOCMBIS DTR"}));
    EXPECT_EQ(recs[1].fields[4], "TIOCMGET DTR RTS CTS CD");
    EXPECT_EQ(recs[2].fields[4], "TCFLSH TCIOFLUSH");
    EXPECT_EQ(recs[3].fields[4], "0xC0DE1234");
}

TEST_F(Engine, FilterTermsMatchProgramRequestAndDevice)
{
    ASSERT_TRUE(engine.handle(req(kSetFilter, filterBlock("IRP_MJ_READ;IRP_MJ_WRITE", ""))).ok);
    quick(QPM_IOCTL, 1, 0, 0x540B);
    quick(QPM_OPENAT, 1, 3, 0);
    quick(QPM_READ, 1, 0, 1);
    quick(QPM_WRITE, 1, 1, 1, "x");
    ASSERT_EQ(read().size(), 2u);

    ASSERT_TRUE(engine.handle(req(kSetFilter, filterBlock("MINI*", "*PTS?7"))).ok);
    engine.onEvent(event(QPM_EV_ENTER, QPM_CLOSE, 2, 10, 0, 0, {}, 0, 1)); // on /dev/pts/7
    engine.onEvent(event(QPM_EV_EXIT, QPM_CLOSE, 2, 20, 0));
    quick(QPM_CLOSE, 3, 0, 0); // on ttyS0
    auto recs = read();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].fields[2], "ttyS0");

    ASSERT_TRUE(engine.handle(req(kSetFilter, filterBlock("", "", false, true))).ok);
    quick(QPM_READ, 1, 0, 1);
    quick(QPM_WRITE, 1, 1, 1, "x");
    recs = read();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].fields[1], "IRP_MJ_WRITE");
}

TEST_F(Engine, AFullQueueDropsTheOldestAndSaysHowMany)
{
    FakeKernel k;
    EngineLimits small;
    small.maxRecords = 3;
    CaptureEngine e(k, fakeLookup, small);
    ASSERT_TRUE(e.handle(req(kHookSerial, hookBlock(1, {"ttyS0"}), 4)).ok);
    for (uint32_t i = 0; i < 5; ++i) {
        e.onEvent(event(QPM_EV_ENTER, QPM_WRITE, 1, 100, 0, 1, std::string(1, char('a' + i))));
        e.onEvent(event(QPM_EV_EXIT, QPM_WRITE, 1, 200, 1, 1));
    }
    e.addLost(4); // the kernel's ring buffer was full too
    Answer a = e.handle(req(kReadRecords, {}, kReadBufferSize));
    std::vector<MonitorRecord> recs;
    walkMonitorRecords(a.output, a.output.size(), [&](const MonitorRecord& r) { recs.push_back(r); });
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].fields[0], "quillon-portmon");
    EXPECT_EQ(recs[0].fields[3], "OVERFLOW");
    EXPECT_EQ(recs[0].fields[4].rfind("6 records dropped", 0), 0u) << recs[0].fields[4];
    EXPECT_EQ(recs[1].fields[4], "Length 1: c");
    EXPECT_EQ(recs[3].fields[4], "Length 1: e");
    a = e.handle(req(kReadRecords, {}, kReadBufferSize));
    EXPECT_TRUE(a.output.empty());
}

TEST_F(Engine, AReadReturnsWholeRecordsUpToTheOutputSize)
{
    for (uint32_t i = 0; i < 10; ++i) quick(QPM_WRITE, 1, 4, 4, "abcd");
    const size_t one = encodeRecord(0, 0, "minicom:4242\tIRP_MJ_WRITE\tttyS0\tSUCCESS\tLength 4: abcd").size();
    Answer a = engine.handle(req(kReadRecords, {}, static_cast<uint32_t>(3 * one + one / 2)));
    EXPECT_EQ(a.output.size(), 3 * one);
    a = engine.handle(req(kReadRecords, {}, 1'000'000)); // never more than one read buffer
    EXPECT_EQ(a.output.size(), 7 * one);
    EXPECT_TRUE(engine.handle(req(kDiscardRecords)).ok);
}

TEST_F(Engine, DiscardEmptiesTheQueue)
{
    quick(QPM_WRITE, 1, 1, 1, "x");
    ASSERT_TRUE(engine.handle(req(kDiscardRecords)).ok);
    EXPECT_TRUE(read().empty());
}

TEST_F(Engine, RefusesUnknownCodesAndWrongBlockSizes)
{
    EXPECT_EQ(engine.handle(req(0x83070044)).error, ENOTTY);
    EXPECT_EQ(engine.handle(req(kHelperQuit + 1)).error, ENOTTY);
    for (uint32_t code : {kStartCapture, kStopCapture, kDiscardRecords, kReadRecords})
        EXPECT_EQ(engine.handle(req(code, {1}, kReadBufferSize)).error, EINVAL) << std::hex << code;
    EXPECT_EQ(engine.handle(req(kSetFilter, std::vector<uint8_t>(257))).error, EINVAL);
    EXPECT_EQ(engine.handle(req(kSetFilter, std::vector<uint8_t>(259))).error, EINVAL);
    EXPECT_EQ(engine.handle(req(kHookSerial, std::vector<uint8_t>(kHookBlockSize - 1), 4)).error, EINVAL);
    EXPECT_EQ(engine.handle(req(kHookParallel, hookBlock(1, {"lp0"}), 3)).error, EINVAL);
    EXPECT_EQ(engine.handle(req(kHexDisplay, std::vector<uint8_t>(8))).error, EINVAL);
    EXPECT_EQ(engine.handle(req(kMaxDataBytes, {})).error, EINVAL);
    Request big = req(kSetFilter);
    big.oversized = true;
    EXPECT_EQ(engine.handle(big).error, EINVAL);
    kernel.fail = EPERM;
    EXPECT_EQ(engine.handle(req(kStartCapture)).error, EPERM);
}

TEST_F(Engine, HookBlocksKeepBothKindsAndRefuseWhatIsNoCharacterDevice)
{
    std::vector<uint8_t> b = hookBlock(0xFFFFFFFF, {"lp0", "nosuch", "", "/dev/ttyS0"});
    std::memset(b.data() + 4 + 256 * 4, 'A', 256);  // a name without its terminator
    std::memcpy(b.data() + 4 + 256 * 40, "lp0", 3); // beyond the 32 hookable entries
    Answer a = engine.handle(req(kHookParallel, b, 4));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.output, u32Block(0b1001));
    // The serial hooks from SetUp stay, and keep /dev/ttyS0 under its serial name.
    EXPECT_EQ(kernel.hooks,
              (std::map<uint64_t, uint32_t>{{(4u << 20) | 64, 0}, {(136u << 20) | 7, 1}, {6u << 20, 64}}));
    a = engine.handle(req(kHookSerial, hookBlock(0, {}), 4));
    EXPECT_EQ(a.output, u32Block(0));
    EXPECT_EQ(kernel.hooks.size(), 2u);
}

TEST(EngineHooks, LooksOnlyUnderDev)
{
    FakeKernel k;
    std::vector<std::string> looked;
    CaptureEngine e(k, [&](const std::string& path) {
        looked.push_back(path);
        return fakeLookup(path);
    });
    Answer a = e.handle(req(
        kHookSerial,
        hookBlock(0x3F, {"/etc/passwd", "../etc/shadow", "/dev/../etc/shadow", "/dev/pts/7", "pts/7", "ttyS0"}), 4));
    EXPECT_EQ(a.output, u32Block(0b111000));
    EXPECT_EQ(looked, (std::vector<std::string>{"/dev/pts/7", "/dev/pts/7", "/dev/ttyS0"}));
}

// Exits the kernel could not hand over must not pile up: the table of
// requests waiting for their exit is small, and what goes is counted.
TEST(EngineInFlight, TheOldestWaitingRequestGoesWhenTheTableIsFullAndIsCounted)
{
    FakeKernel k;
    EngineLimits small;
    small.maxInFlight = 2;
    CaptureEngine e(k, fakeLookup, small);
    ASSERT_TRUE(e.handle(req(kHookSerial, hookBlock(1, {"ttyS0"}), 4)).ok);
    // Threads 7, 5 and 9 enter in that order; none has exited yet.
    e.onEvent(event(QPM_EV_ENTER, QPM_WRITE, 7, 100, 0, 1, "a"));
    e.onEvent(event(QPM_EV_ENTER, QPM_WRITE, 5, 200, 0, 1, "b"));
    e.onEvent(event(QPM_EV_ENTER, QPM_WRITE, 9, 300, 0, 1, "c"));
    for (uint32_t tid : {7u, 5u, 9u}) e.onEvent(event(QPM_EV_EXIT, QPM_WRITE, tid, 400, 1, 1));
    // Thread 5 lost its exit; its next request replaces it, and that counts too.
    e.onEvent(event(QPM_EV_ENTER, QPM_READ, 5, 500, 0, 1));
    e.onEvent(event(QPM_EV_ENTER, QPM_WRITE, 5, 600, 0, 1, "d"));
    e.onEvent(event(QPM_EV_EXIT, QPM_WRITE, 5, 700, 1, 1));
    Answer a = e.handle(req(kReadRecords, {}, kReadBufferSize));
    std::vector<MonitorRecord> recs;
    walkMonitorRecords(a.output, a.output.size(), [&](const MonitorRecord& r) { recs.push_back(r); });
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].fields[3], "OVERFLOW");
    EXPECT_EQ(recs[0].fields[4].rfind("2 records dropped", 0), 0u) << recs[0].fields[4];
    EXPECT_EQ(recs[1].fields[4], "Length 1: b"); // thread 7, the oldest, went
    EXPECT_EQ(recs[2].fields[4], "Length 1: c");
    EXPECT_EQ(recs[3].fields[4], "Length 1: d");
}

TEST_F(Engine, MalformedEventsAreIgnored)
{
    std::vector<uint8_t> raw = event(QPM_EV_ENTER, QPM_WRITE, 1, 100, 0, 5, "abc");
    raw[2] = 0xFF; // claims more data than it carries
    raw[3] = 0xFF;
    engine.onEvent(raw);
    engine.onEvent(std::span(raw).first(10));
    engine.onEvent(event(QPM_EV_EXIT, QPM_WRITE, 1, 200, 5, 5));
    engine.onEvent(event(QPM_EV_EXIT, QPM_READ, 77, 200, 5, 5)); // exit without an entry
    engine.onEvent(event(99, QPM_WRITE, 1, 200));
    auto recs = read();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].fields[4], "Length 5: abc");
}

TEST(RequestParser, CutsFramesFromAnyChunkingAndSkipsOversizedInput)
{
    std::vector<uint8_t> stream = encodeRequest(kHexDisplay, u32Block(1), 0);
    std::vector<uint8_t> big(12, 0);
    uint32_t code = kSetFilter, len = kMaxRequestInput + 5, out = 0;
    std::memcpy(big.data(), &code, 4);
    std::memcpy(big.data() + 4, &len, 4);
    std::memcpy(big.data() + 8, &out, 4);
    big.resize(12 + len, 0xEE);
    stream.insert(stream.end(), big.begin(), big.end());
    std::vector<uint8_t> last = encodeRequest(kReadRecords, {}, kReadBufferSize);
    stream.insert(stream.end(), last.begin(), last.end());

    for (size_t chunk : {size_t(1), size_t(7), size_t(4096), stream.size()}) {
        RequestParser p;
        std::vector<Request> got;
        for (size_t i = 0; i < stream.size(); i += chunk)
            p.feed(std::span(stream).subspan(i, std::min(chunk, stream.size() - i)), got);
        ASSERT_EQ(got.size(), 3u) << chunk;
        EXPECT_EQ(got[0].code, kHexDisplay);
        EXPECT_EQ(got[0].input, u32Block(1));
        EXPECT_TRUE(got[1].oversized);
        EXPECT_TRUE(got[1].input.empty());
        EXPECT_EQ(got[2].code, kReadRecords);
        EXPECT_EQ(got[2].outputSize, kReadBufferSize);
        EXPECT_FALSE(p.midFrame());
    }
}

TEST(Wildcards, MatchCaseInsensitivelyWithStarsAndQuestionMarks)
{
    EXPECT_TRUE(wildcardMatch("IRP_MJ_READ", "irp_mj_read"));
    EXPECT_FALSE(wildcardMatch("IRP_MJ_READ", "IRP_MJ_READX"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("*TTY*", "/dev/ttyUSB0"));
    EXPECT_TRUE(wildcardMatch("/DEV/TTYS?", "/dev/ttyS1"));
    EXPECT_FALSE(wildcardMatch("/DEV/TTYS?", "/dev/ttyS10"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXbYbZ"));
    // Many stars on a long subject must not take exponential time.
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*b", std::string(120, 'a')));
}

TEST(RecordText, ResultsAndFileTimes)
{
    EXPECT_EQ(resultText(0), "SUCCESS");
    EXPECT_EQ(resultText(17), "SUCCESS");
    EXPECT_EQ(resultText(-EAGAIN), "EAGAIN");
    // A malformed event may carry the most negative value; it must not overflow.
    EXPECT_EQ(resultText(INT64_MIN), "ERROR 9223372036854775808");
    EXPECT_EQ(resultText(-EIO), "EIO");
    EXPECT_EQ(resultText(-512), "ERESTARTSYS");
    EXPECT_EQ(resultText(-4000), "ERROR 4000");
    EXPECT_EQ(fileTimeFromUnixNs(0), 116444736000000000ULL);
    EXPECT_EQ(fileTimeFromUnixNs(1'000'000'123), 116444736000000000ULL + 10'000'001);
}

} // namespace
