// Walking a read buffer into records, on hand-built buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "monitor/capture/channel.h"
#include "monitor/capture/record_text.h"
#include "monitor/record_walk.h"

using namespace quillon;
using namespace quillon::capture;
using namespace quillon::monitor;

namespace {

class RecordWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        savedTz = tz ? tz : "";
        hadTz = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (hadTz)
            setenv("TZ", savedTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::vector<MonitorRecord> walk(const std::vector<uint8_t>& buf, size_t returned)
    {
        std::vector<MonitorRecord> out;
        walkMonitorRecords(buf, returned, [&](const MonitorRecord& r) { out.push_back(r); });
        return out;
    }
    std::string savedTz;
    bool hadTz = false;
};

// 2004-03-22 17:15:01 UTC as a file time.
const uint64_t kTime = fileTimeFromUnixNs(1079975701LL * 1'000'000'000);

TEST_F(RecordWalk, StepsByTheFourByteStrideAndSplitsFields)
{
    std::vector<uint8_t> buf;
    appendRecord(buf, 7, kTime, "abcde");
    EXPECT_EQ(buf.size(), 21u);
    appendRecord(buf, 8, kTime, "ab\tIRP_MJ_READ\tCOM1\tSUCCESS\tLength 1: x\textra");
    appendRecord(buf, 9, kTime, "abcdefg");   // 13 + 8
    appendRecord(buf, 10, kTime, "abcdefgh"); // 13 + 12
    EXPECT_EQ(buf.size(), 21u + (13 + 48) + 21 + 25);
    auto recs = walk(buf, buf.size());
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].sequence, 7);
    EXPECT_EQ(recs[0].time, "17:15:01");
    EXPECT_EQ(recs[0].fields, (std::vector<std::string>{"abcde"}));
    EXPECT_EQ(recs[1].fields, (std::vector<std::string>{"ab", "IRP_MJ_READ", "COM1", "SUCCESS", "Length 1: x"}));
    EXPECT_EQ(recs[3].fields[0], "abcdefgh");
}

TEST_F(RecordWalk, CompletionRecordsAndZeroTimes)
{
    std::vector<uint8_t> buf;
    appendRecord(buf, 3, 0, "first\tIRP_MJ_READ");
    appendRecord(buf, 4, kTime, "p\tIRP_MJ_WRITE");
    appendRecord(buf, 3, 0, "\t\t\tSUCCESS\tLength 2: ab");
    appendRecord(buf, -5, 0, "");
    auto recs = walk(buf, buf.size());
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].time, "");
    EXPECT_EQ(recs[1].time, "17:15:01");
    EXPECT_EQ(recs[2].time, "17:15:01");
    EXPECT_EQ(recs[2].sequence, 3);
    EXPECT_EQ(recs[2].fields, (std::vector<std::string>{"", "", "", "SUCCESS", "Length 2: ab"}));
    EXPECT_EQ(recs[3].sequence, -5);
    EXPECT_TRUE(recs[3].fields.empty());
    // The extremes of the file time convert without overflow.
    std::vector<uint8_t> odd;
    appendRecord(odd, 1, ~0ULL, "x");
    appendRecord(odd, 2, 1, "y");
    auto oddRecs = walk(odd, odd.size());
    ASSERT_EQ(oddRecs.size(), 2u);
    EXPECT_EQ(oddRecs[0].time, "05:36:10"); // in the year 60056
    EXPECT_EQ(oddRecs[1].time, "00:00:00"); // 1601-01-01
    // Each read starts without a previous time.
    std::vector<uint8_t> next;
    appendRecord(next, 6, 0, "x");
    EXPECT_EQ(walk(next, next.size())[0].time, "");
}

TEST_F(RecordWalk, NeverReadsPastTheReturnedCountOrTheBuffer)
{
    std::vector<uint8_t> buf;
    appendRecord(buf, 1, kTime, "one");
    appendRecord(buf, 2, kTime, "two and more");
    // The count ends inside the second record's text: its terminator is out of reach.
    EXPECT_EQ(walk(buf, 16 + 13 + 5).size(), 1u);
    // A count inside the second header.
    EXPECT_EQ(walk(buf, 16 + 6).size(), 1u);
    // A count larger than the buffer is cut to the buffer.
    EXPECT_EQ(walk(buf, 1'000'000).size(), 2u);
    // A last record without its terminator ends the walk.
    std::vector<uint8_t> cut(buf.begin(), buf.end());
    cut.resize(16 + 13 + 12); // "two and more" without its zero
    EXPECT_EQ(walk(cut, cut.size()).size(), 1u);
    EXPECT_TRUE(walk(buf, 0).empty());
    EXPECT_TRUE(walk({}, 100).empty());
}

TEST_F(RecordWalk, StopsAtTheReadBufferSize)
{
    std::vector<uint8_t> buf;
    const std::string text(100, 'x');
    while (buf.size() < kReadBufferSize + 500) appendRecord(buf, 1, kTime, text);
    const size_t stride = 13 + 104;
    EXPECT_EQ(walk(buf, buf.size()).size(), kReadBufferSize / stride);
}

} // namespace
