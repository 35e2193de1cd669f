// The monitor benchmarks' own accounting and load: a wrong count here would
// report records as lost, or losses as none.

#include "bench/monitor/flood_tally.h"
#include "bench/monitor/pty_flood.h"
#include "monitor/capture/record_text.h"
#include "monitor/monitor_requests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace quillon;
using namespace quillon::bench;

namespace {

const std::string kWrite = "writer:42\tIRP_MJ_WRITE\t/dev/pts/3\tSUCCESS\tLength 64: " + std::string(64, 'x');

std::vector<uint8_t> records(const std::vector<std::string>& texts)
{
    std::vector<uint8_t> out;
    int32_t sequence = 0;
    for (const auto& t : texts) capture::appendRecord(out, sequence++, 134000000000000000ULL, t);
    return out;
}

bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

} // namespace

TEST(FloodTally, TheLogOfWhatWasReceivedCountsTheSameByKind)
{
    const std::vector<std::vector<uint8_t>> buffers = {
        records({kWrite, "writer:42\tIRP_MJ_CREATE\t/dev/pts/3\tSUCCESS\tO_WRONLY", kWrite,
                 // Another program, and one whose process id merely ends in the writer's.
                 "other:7\tIRP_MJ_WRITE\t/dev/pts/3\tSUCCESS\tLength 1: a",
                 "other:142\tIRP_MJ_WRITE\t/dev/pts/3\tSUCCESS\tLength 1: a"}),
        records({"quillon-portmon\t\t\tOVERFLOW\t5 records dropped: they came faster than they were read",
                 "\t\t\tSUCCESS\tLength 64: " + std::string(64, 'x'), "", kWrite,
                 "quillon-portmon\t\t\tOVERFLOW\t12 records dropped: they came faster than they were read"}),
    };
    const Received got = receivedFrom(buffers, ":42");
    EXPECT_EQ(got.tally.records, 9); // the empty record is neither shown nor logged
    EXPECT_EQ(got.tally.writerWrites, 3);
    EXPECT_EQ(got.tally.completions, 1);
    EXPECT_EQ(got.tally.overflowRecords, 2);
    EXPECT_EQ(got.tally.dropped, 17);
    EXPECT_EQ(got.bytes, static_cast<long long>(buffers[0].size() + buffers[1].size()));
    EXPECT_EQ(got.expectedLog.substr(0, kWrite.size() + 2), kWrite + "\r\n");
    EXPECT_EQ(tallyLog(got.expectedLog, ":42"), got.tally);

    // A last line cut short (a log still being written) still counts.
    const Tally cut =
        tallyLog("writer:42\tIRP_MJ_WRITE\t/dev/pts/3\tSUCCESS\tLength 64: x\r\nwriter:42\tIRP_MJ_WRITE", ":42");
    EXPECT_EQ(cut.records, 2);
    EXPECT_EQ(cut.writerWrites, 2);
}

TEST(FloodTally, ABufferIsFullWhenTheLargestRecordNoLongerFits)
{
    std::vector<std::string> many;
    const size_t stride = 13 + ((kWrite.size() + 4) & ~size_t(3));
    for (size_t size = 0; size + stride <= monitor::kReadBufferSize; size += stride) many.push_back(kWrite);
    const Received got = receivedFrom({records(many), records({kWrite, kWrite}), records(many)}, ":42");
    EXPECT_EQ(got.fullBuffers, 2);
    EXPECT_EQ(got.tally.writerWrites, static_cast<long long>(2 * many.size() + 2));
}

TEST(PtyWriter, APacedWriterKeepsItsRateAndThePtyTakesEveryByte)
{
    DrainedPty pty;
    ASSERT_TRUE(pty.ok());
    const WriterResult r = writerResult(startWriter(pty.slavePath(), 0.5, 2000).finish());
    EXPECT_EQ(r.writes, 1000);
    EXPECT_GT(r.wall, 0);
    EXPECT_TRUE(waitFor([&] { return pty.drainedBytes() >= 64000; }));
    EXPECT_EQ(pty.drainedBytes(), 64000);
}

TEST(PtyWriter, AFloodingWriterCountsWhatReachedThePty)
{
    DrainedPty pty;
    ASSERT_TRUE(pty.ok());
    Child writer = startWriter(pty.slavePath(), 0.2);
    ASSERT_TRUE(writer.started());
    EXPECT_TRUE(waitFor([&] { return writer.exited(); }));
    const WriterResult r = writerResult(writer.finish());
    EXPECT_GT(r.writes, 0);
    EXPECT_GT(r.cpu, 0);
    EXPECT_TRUE(waitFor([&] { return pty.drainedBytes() >= 64 * r.writes; }));
    EXPECT_EQ(pty.drainedBytes(), 64 * r.writes);
}

TEST(PtyWriter, AWriterThatCannotOpenItsPortReportsNothing)
{
    const WriterResult r = writerResult(startWriter("/nonexistent/port", 0.1).finish());
    EXPECT_EQ(r.writes, 0);
    EXPECT_EQ(r.wall, 0);
}

int main(int argc, char** argv)
{
    // The writers these tests start are this program in its child modes.
    if (isWriterChild(argc, argv)) return runWriterChild(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
