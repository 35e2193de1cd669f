#include "monitor/monitor_driver.h"
#include "monitor/monitor_files.h"
#include "monitor/monitor_requests.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_walk.h"
#include "tests/monitor/scripted_capture.h"
#include "tests/support/temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

using namespace quillon;
using namespace quillon::monitor;
using namespace quillon::test;

namespace {

std::vector<CapturedRecord> walk(const std::vector<uint8_t>& buf, size_t count = SIZE_MAX)
{
    std::vector<CapturedRecord> out;
    walkRecords(buf, std::min(count, buf.size()), [&](const CapturedRecord& r) { out.push_back(r); });
    return out;
}

std::vector<std::string> fieldsOf(const CapturedRecord& r)
{
    return std::vector<std::string>(r.fields.begin(), r.fields.begin() + static_cast<long>(r.fieldCount));
}

CapturedRecord record(int32_t seq, std::vector<std::string_view> fields, std::string time = "10:00:00")
{
    CapturedRecord r;
    r.sequence = seq;
    r.timeText = std::move(time);
    r.fieldCount = fields.size();
    for (size_t i = 0; i < fields.size(); ++i) r.fields[i] = fields[i];
    return r;
}

struct UtcZone {
    UtcZone()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~UtcZone()
    {
        unsetenv("TZ");
        tzset();
    }
};

} // namespace

TEST(MonitorRequests, FilterBlockDefaultsCaseFlagsAndLength)
{
    auto b = buildFilterBlock({"", "", true, false});
    ASSERT_EQ(b.size(), 258u);
    EXPECT_EQ(blockText(b, 0, 128), "*");
    EXPECT_EQ(blockText(b, 128, 128), "");
    EXPECT_EQ(b[256], 1);
    EXPECT_EQ(b[257], 0);

    b = buildFilterBlock({"irp_mj_read;com*", "minicom", false, true});
    EXPECT_EQ(blockText(b, 0, 128), "IRP_MJ_READ;COM*");
    EXPECT_EQ(blockText(b, 128, 128), "MINICOM");
    EXPECT_EQ(b[256], 0);
    EXPECT_EQ(b[257], 1);

    // A lone blank means "no filter" in both fields.
    b = buildFilterBlock({" ", " ", true, true});
    EXPECT_EQ(blockText(b, 0, 128), "");
    EXPECT_EQ(blockText(b, 128, 128), "");

    // 127 bytes and the terminator; a character is never cut in half.
    b = buildFilterBlock({std::string(200, 'a'), std::string(126, 'x') + "串", true, true});
    EXPECT_EQ(blockText(b, 0, 128), std::string(127, 'A'));
    EXPECT_EQ(b[127], 0);
    EXPECT_EQ(blockText(b, 128, 128), std::string(126, 'X'));
}

TEST(MonitorRequests, HookBlockHoldsMaskAndNamesInListOrder)
{
    platform::PortTables tables;
    tables.portNames[0] = "/dev/ttyS0";
    tables.portNames[1] = "/dev/ttyUSB0";
    tables.portNames[2] = "left over, not listed";
    tables.count = 2;
    const auto b = buildHookBlock(0x80000002u, tables);
    ASSERT_EQ(b.size(), 16388u);
    EXPECT_EQ(hookMaskOf(b), 0x80000002u);
    EXPECT_EQ(b[0], 0x02);
    EXPECT_EQ(b[3], 0x80);
    EXPECT_EQ(blockText(b, 4, 256), "/dev/ttyS0");
    EXPECT_EQ(blockText(b, 4 + 256, 256), "/dev/ttyUSB0");
    for (size_t i = 4 + 2 * 256; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(hookMaskOf(std::vector<uint8_t>{1, 2}), 0u);
}

TEST(RecordWalk, RecordsFollowAtTheFourByteStride)
{
    EXPECT_EQ(nextRecordOffset(5), 21u);
    EXPECT_EQ(nextRecordOffset(0), 17u);
    EXPECT_EQ(nextRecordOffset(3), 17u);
    EXPECT_EQ(nextRecordOffset(4), 21u);

    std::vector<uint8_t> buf;
    appendRecord(buf, 7, kSampleFileTime, "abcde");
    ASSERT_EQ(buf.size(), 21u);
    appendRecord(buf, -3, 0, "cat(12)\tIRP_MJ_WRITE\t/dev/ttyS0\tSUCCESS\tLength 2: hi\textra");
    appendRecord(buf, 9, 0, "\t\t\tEAGAIN");
    const auto recs = walk(buf);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].sequence, 7);
    EXPECT_EQ(fieldsOf(recs[0]), std::vector<std::string>{"abcde"});
    EXPECT_EQ(recs[1].sequence, -3);
    // Only five fields are used.
    EXPECT_EQ(fieldsOf(recs[1]),
              (std::vector<std::string>{"cat(12)", "IRP_MJ_WRITE", "/dev/ttyS0", "SUCCESS", "Length 2: hi"}));
    EXPECT_EQ(fieldsOf(recs[2]), (std::vector<std::string>{"", "", "", "EAGAIN"}));
}

TEST(RecordWalk, ZeroTimeTakesThePreviousTimeOfTheSameRead)
{
    UtcZone utc;
    EXPECT_EQ(fileTimeText(kSampleFileTime), "09:15:01");
    std::vector<uint8_t> buf;
    appendRecord(buf, 1, 0, "first");
    appendRecord(buf, 2, kSampleFileTime, "second");
    appendRecord(buf, 3, 0, "third");
    const auto recs = walk(buf);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].timeText, "");
    EXPECT_EQ(recs[1].timeText, "09:15:01");
    EXPECT_EQ(recs[2].timeText, "09:15:01");
    // The next read starts without a time.
    std::vector<uint8_t> next;
    appendRecord(next, 4, 0, "fourth");
    EXPECT_EQ(walk(next)[0].timeText, "");
}

TEST(RecordWalk, StopsAtTheReturnedCountAndAtAnUnterminatedRecord)
{
    std::vector<uint8_t> buf;
    appendRecord(buf, 1, 0, "one");
    appendRecord(buf, 2, 0, "two two");
    EXPECT_EQ(walk(buf, 17).size(), 1u);
    // The count cuts the second record's terminator off: it is not read.
    EXPECT_EQ(walk(buf, buf.size() - 2).size(), 1u);
    // A header with no text at all.
    std::vector<uint8_t> header(13, 0);
    EXPECT_TRUE(walk(header).empty());
    // An empty text gives a record without fields.
    std::vector<uint8_t> empty;
    appendRecord(empty, 5, 0, "");
    ASSERT_EQ(walk(empty).size(), 1u);
    EXPECT_EQ(walk(empty)[0].fieldCount, 0u);
}

TEST(RecordWalk, GarbageNeverReadsOutsideTheBuffer)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> buf(rng() % 300);
        // Few zeros make long texts, many zeros make many short records.
        const unsigned zeroEvery = 2 + rng() % 40;
        for (auto& b : buf) b = rng() % zeroEvery == 0 ? 0 : static_cast<uint8_t>(rng());
        const uint8_t* lo = buf.data();
        const uint8_t* hi = buf.data() + buf.size();
        walkRecords(buf, rng() % 400, [&](const CapturedRecord& r) {
            ASSERT_LE(r.fieldCount, kRecordFields);
            for (size_t i = 0; i < r.fieldCount; ++i) {
                const auto* p = reinterpret_cast<const uint8_t*>(r.fields[i].data());
                if (r.fields[i].empty()) continue;
                ASSERT_GE(p, lo);
                ASSERT_LE(p + r.fields[i].size(), hi);
            }
        });
    }
}

TEST(MonitorRows, NewRequestsCompletionsAndTheRowLimit)
{
    MonitorRows rows;
    auto changes = rows.begin();
    for (int i = 1; i <= 64; ++i) rows.apply(record(i, {"cat(1)", "IRP_MJ_READ", "/dev/ttyS0"}), changes);
    ASSERT_EQ(rows.size(), 64u);
    EXPECT_FALSE(changes.emptied);
    const MonitorRow& r = rows.rows()[0];
    EXPECT_EQ(r.columns[ColNumber], "1");
    EXPECT_EQ(r.columns[ColTime], "10:00:00");
    EXPECT_EQ(r.columns[ColDevice], "/dev/ttyS0");
    // Fields that did not come hold a single blank.
    EXPECT_EQ(r.columns[ColResult], " ");
    EXPECT_EQ(r.columns[ColOther], " ");

    // A completion fills in result and data, not the time.
    rows.apply(record(3, {"", "", "", "SUCCESS", "Length 1: a"}, "11:11:11"), changes);
    EXPECT_EQ(rows.rows()[2].columns[ColResult], "SUCCESS");
    EXPECT_EQ(rows.rows()[2].columns[ColOther], "Length 1: a");
    EXPECT_EQ(rows.rows()[2].columns[ColTime], "10:00:00");
    EXPECT_EQ(rows.rows()[2].columns[ColRequest], "IRP_MJ_READ");

    // The 65th request empties the list and becomes its first row.
    rows.apply(record(65, {"cat(1)", "IRP_MJ_CLOSE"}), changes);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(changes.emptied);
    EXPECT_EQ(rows.rows()[0].sequence, 65);
    // The completion of a row emptied away changes nothing.
    rows.apply(record(10, {"", "", "", "EIO"}), changes);
    EXPECT_EQ(rows.rows()[0].columns[ColResult], " ");

    // A record without fields is no row.
    rows.apply(record(66, {}), changes);
    EXPECT_EQ(rows.size(), 1u);
}

TEST(MonitorRows, CompletionFindsTheNewestRowOfItsNumberAndStopsAtASmallerOne)
{
    MonitorRows rows;
    auto changes = rows.begin();
    rows.apply(record(5, {"a"}), changes);
    rows.apply(record(5, {"b"}), changes); // numbers may repeat after a restart
    rows.apply(record(8, {"c"}), changes);
    changes = rows.begin();
    rows.apply(record(5, {"", "", "", "OK"}), changes);
    EXPECT_EQ(rows.rows()[1].columns[ColResult], "OK");
    EXPECT_EQ(rows.rows()[0].columns[ColResult], " ");
    EXPECT_EQ(changes.firstUpdated, 1u);
    EXPECT_EQ(changes.lastUpdated, 1u);
    // 7 lies between the rows: the search stops at 5 and finds nothing.
    changes = rows.begin();
    rows.apply(record(7, {"", "", "", "OK"}), changes);
    EXPECT_FALSE(changes.any());
}

TEST(MonitorRows, ZeroLineLimitKeepsOnlyTheNewestRow)
{
    MonitorRows rows;
    rows.setMaxLines(0);
    auto changes = rows.begin();
    rows.apply(record(1, {"a"}), changes);
    rows.apply(record(2, {"b"}), changes);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.rows()[0].sequence, 2);
}

TEST(MonitorFiles, LogAppendsAndSavingReplaces)
{
    TempDir dir;
    const std::string path = dir.file("PortMon.log");
    TempDir::writeFile(path, "old\r\n");
    CaptureLog log;
    ASSERT_TRUE(log.open(path));
    EXPECT_TRUE(log.append("new\r\n"));
    log.close();
    EXPECT_FALSE(log.append("closed"));
    EXPECT_EQ(TempDir::readFile(path), "old\r\nnew\r\n");
    EXPECT_FALSE(log.open(dir.file("missing/dir.log")));

    EXPECT_EQ(saveList(path, {}), SaveStatus::Ok);
    EXPECT_EQ(TempDir::readFile(path), "");
    EXPECT_EQ(saveList(dir.file("missing/x.log"), {}), SaveStatus::OpenFailed);
}

TEST(MonitorFiles, FullDiskLeavesNoHalfRecordAndTheNextWriteMayWork)
{
    TempDir dir;
    const std::string path = dir.file("full.log");
    CaptureLog log;
    ASSERT_TRUE(log.open(path));
    // A file size limit plays the full disk inside our own folder.
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool first = log.append("0123456789\r\n");
    const bool second = log.append("abcdefghij\r\n"); // only 4 bytes of it fit
    setrlimit(RLIMIT_FSIZE, &old);
    const bool third = log.append("after\r\n");
    std::signal(SIGXFSZ, oldHandler);
    log.close();
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(third);
    EXPECT_EQ(TempDir::readFile(path), "0123456789\r\nafter\r\n");
}

TEST(MonitorDriver, LoadRetriesOnceAndOnlyWhereARetryCanHelp)
{
    ScriptedCapture capture;
    MonitorDriver driver(&capture);
    capture.loadResults = {monitor::LoadFailure::Other, monitor::LoadFailure::None};
    EXPECT_TRUE(driver.loadDriverService());
    EXPECT_EQ(capture.loads, 2);
    EXPECT_TRUE(driver.handleValid());

    // A component still running is removed before a new one starts.
    const int unloadsBefore = capture.unloads;
    EXPECT_TRUE(driver.loadDriverService());
    EXPECT_GT(capture.unloads, unloadsBefore);

    capture.loads = 0;
    capture.loadResults = {monitor::LoadFailure::Other, monitor::LoadFailure::Other};
    EXPECT_FALSE(driver.loadDriverService());
    EXPECT_EQ(capture.loads, 2);

    capture.loads = 0;
    capture.loadResults = {monitor::LoadFailure::NoPrivilege};
    EXPECT_FALSE(driver.loadDriverService());
    EXPECT_EQ(capture.loads, 1);

    MonitorDriver none(nullptr);
    EXPECT_FALSE(none.loadDriverService());
    EXPECT_FALSE(none.send(kStartCapture));
}

TEST(MonitorDriver, ReadsSkipShortAnswersAndEndOnEmptyFailedOrLost)
{
    ScriptedCapture capture;
    MonitorDriver driver(&capture);
    ASSERT_TRUE(driver.loadDriverService());
    std::vector<uint8_t> full;
    appendRecord(full, 1, 0, "x");
    capture.reads = {{1, 2, 3}, full, full};
    int buffers = 0;
    auto count = [&](std::span<const uint8_t>) { ++buffers; };
    EXPECT_EQ(driver.readRecords([] { return true; }, count), ReadEnd::Drained);
    EXPECT_EQ(buffers, 2);
    EXPECT_EQ(capture.requests.back().outputSize, kReadBufferSize);

    capture.reads = {full, full};
    buffers = 0;
    EXPECT_EQ(driver.readRecords([] { return false; }, count), ReadEnd::OutOfTime);
    EXPECT_EQ(buffers, 1);

    capture.failing = {kReadRecords};
    EXPECT_EQ(driver.readRecords([] { return true; }, count), ReadEnd::Failed);
    capture.kill();
    EXPECT_EQ(driver.readRecords([] { return true; }, count), ReadEnd::ChannelLost);
}

TEST(MonitorDriver, SetUpSendsInOrderAndStopsAtTheFirstFailedRequest)
{
    ScriptedCapture capture;
    MonitorDriver driver(&capture);
    ASSERT_TRUE(driver.loadDriverService());
    int limitRead = 0;
    const CaptureSettings settings{{"irp_mj_write", "", false, true}, [&] { return ++limitRead, 300u; }, true, true};
    EXPECT_EQ(driver.setUpCapture(settings), SetUpStep::None);
    std::vector<uint32_t> codes;
    for (const auto& r : capture.requests) codes.push_back(r.code);
    EXPECT_EQ(codes, (std::vector<uint32_t>{kDiscardRecords, kSetFilter, kMaxDataBytes, kHexDisplay, kStartCapture}));
    EXPECT_EQ(capture.requests[1].input, buildFilterBlock(settings.filter));
    EXPECT_EQ(capture.requests[2].input, uint32Block(300));
    EXPECT_EQ(capture.requests[3].input, uint32Block(1));

    // The data-bytes value is read only when its request is due.
    capture.requests.clear();
    limitRead = 0;
    capture.failing = {kSetFilter};
    EXPECT_EQ(driver.setUpCapture(settings), SetUpStep::Filter);
    EXPECT_EQ(limitRead, 0);
    EXPECT_EQ(capture.requests.size(), 2u);

    capture.failing = {};
    capture.requests.clear();
    const CaptureSettings noStart{{}, [] { return 64u; }, false, false};
    EXPECT_EQ(driver.setUpCapture(noStart), SetUpStep::None);
    EXPECT_EQ(capture.requests.back().code, kHexDisplay);
    capture.kill();
    EXPECT_EQ(driver.setUpCapture(noStart), SetUpStep::Discard);
}
