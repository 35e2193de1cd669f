// Hex packing, the dump and text views of received data, and the log format.

#include "common/clock.h"
#include "serial/hex_text.h"
#include "serial/receive_state.h"
#include "serial/receive_view.h"
#include "tests/serial/pty_pair.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace quillon;
using namespace quillon::serial;
using quillon::test::bytesOf;

namespace {

std::vector<uint8_t> packed(const std::string& text, bool* valid = nullptr)
{
    std::vector<uint8_t> v(text.begin(), text.end());
    bool ok = HexTextToBytes(v);
    if (valid) *valid = ok;
    return v;
}

std::span<const uint8_t> span(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::string range(int from, int to)
{
    std::string s;
    for (int i = from; i < to; ++i) s += static_cast<char>(i);
    return s;
}

} // namespace

TEST(HexTextToBytes, PacksAdjacentDigitPairsAndFlagsOtherCharacters)
{
    bool valid = false;
    EXPECT_EQ(packed("0102FF", &valid), (std::vector<uint8_t>{0x01, 0x02, 0xFF}));
    EXPECT_TRUE(valid);
    EXPECT_EQ(packed("41 42", &valid), (std::vector<uint8_t>{0x41, 0x42}));
    EXPECT_FALSE(valid);
    EXPECT_EQ(packed("4 142"), (std::vector<uint8_t>{0x04, 0x14, 0x02}));
    EXPECT_EQ(packed("ABC"), (std::vector<uint8_t>{0xAB, 0x0C}));
    EXPECT_EQ(packed("1 2"), (std::vector<uint8_t>{0x01, 0x02}));
    EXPECT_EQ(packed("G1", &valid), (std::vector<uint8_t>{0x01}));
    EXPECT_FALSE(valid);
    EXPECT_EQ(packed("ab\r\ncd"), (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_TRUE(packed("", &valid).empty());
    EXPECT_TRUE(valid);
    EXPECT_TRUE(packed("zz", &valid).empty());
    EXPECT_FALSE(valid);
}

TEST(TextToSendBytes, EndsLinesWithCrLfAndWritesGbk)
{
    const auto bytes = TextToSendBytes("中\nA\n\nB");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\xD6\xD0\r\nA\r\n\r\nB");
    EXPECT_TRUE(TextToSendBytes("").empty());
}

TEST(HexDump, TwentyBytesThenContinuationThenNewLineAfterPause)
{
    int32_t address = 0;
    DumpOutput a = dumpChunk(address, {}, span(range(0, 20)), true);
    EXPECT_TRUE(a.replaceAll);
    EXPECT_EQ(a.text, std::string(kDumpHeader) + "00000000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
                                                 "00000010: 10 11 12 13 ");
    // Within the quiet period: the open line goes on.
    DumpOutput b = dumpChunk(address, {}, span(bytesOf({0xAA, 0xBB, 0xCC})), false);
    EXPECT_FALSE(b.replaceAll);
    EXPECT_EQ(b.text, "AA BB CC ");
    // After the line fell quiet: a new line at address 0.
    DumpStart idle;
    idle.lineIdle = true;
    DumpOutput c = dumpChunk(address, idle, span(bytesOf({0x41, 0x42})), false);
    // Only the chunk's first byte starts the new line.
    EXPECT_EQ(c.text, "\r\n00000000: 41 42 ");
    EXPECT_EQ(address, 2);
}

TEST(HexDump, RestartsAtTheMemoryMapStartAddressIndentedToItsColumn)
{
    int32_t address = 77;
    DumpStart start;
    start.freshAddress = 0x105;
    DumpOutput out = dumpChunk(address, start, span(bytesOf({0x11, 0x22})), true);
    EXPECT_EQ(out.text, std::string(kDumpHeader) + "00000105: " + std::string(15, ' ') + "11 22 ");
    // A decoded block makes the next chunk start a fresh dump.
    start.blockDecoded = true;
    out = dumpChunk(address, start, span(bytesOf({0x33})), false);
    EXPECT_TRUE(out.replaceAll);
    EXPECT_EQ(out.text, std::string(kDumpHeader) + "00000105: " + std::string(15, ' ') + "33 ");
    // An address near the top wraps instead of misbehaving.
    start.freshAddress = -1;
    out = dumpChunk(address, start, span(bytesOf({1, 2})), false);
    EXPECT_EQ(out.text, std::string(kDumpHeader) + "FFFFFFFF: " + std::string(45, ' ') + "01 \r\n00000000: 02 ");
}

TEST(TextFeed, ShowsUpToZeroByteAndDecodesCharactersSplitAcrossChunks)
{
    TextFeed feed;
    EXPECT_EQ(feed.feed(TextFeed::shownPart(span(bytesOf({0x41, 0x00, 0x42})))), "A");
    // "中" is D6 D0 in GBK; the chunk boundary falls inside it.
    EXPECT_EQ(feed.feed(span(bytesOf({'x', 0xD6}))), "x");
    EXPECT_EQ(feed.feed(span(bytesOf({0xD0, 'y'}))), "中y");
    // CR LF split over two chunks is one line break, lone CR or LF one each.
    EXPECT_EQ(feed.feed(span("a\r")), "a\n");
    EXPECT_EQ(feed.feed(span("\nb\n\nc\rd")), "b\n\nc\nd");
}

TEST(TextFeed, BreaksEndlessLinesForDisplay)
{
    TextFeed feed;
    std::string out = feed.feed(span(std::string(TextFeed::kMaxLineChars + 10, 'x')));
    EXPECT_EQ(out, std::string(TextFeed::kMaxLineChars, 'x') + "\n" + std::string(10, 'x'));
    feed.displayCleared();
    out = feed.feed(span(std::string(TextFeed::kMaxLineChars, 'y')));
    EXPECT_EQ(out.find('\n'), std::string::npos);
}

TEST(Accumulator, StartsOverWhenAChunkWouldOverflowIt)
{
    Accumulator acc;
    std::string big(2000, 'a');
    acc.append(span(big));
    EXPECT_EQ(acc.count, 2000u);
    acc.append(span(std::string(48, 'b')));
    EXPECT_EQ(acc.count, 2048u);
    acc.append(span("c"));
    EXPECT_EQ(acc.count, 1u);
    EXPECT_EQ(acc.data[0], 'c');
    // Normal mode passes chunks through and keeps nothing.
    ReceiveModes st;
    st.burst.ReceiveAccumulator.append(span("zz"));
    const std::string chunk = "abc";
    auto shown = st.passThrough(span(chunk)).display;
    EXPECT_EQ(std::string(shown.begin(), shown.end()), "abc");
    EXPECT_EQ(st.burst.ReceiveAccumulator.count, 0u);
}

TEST(FindPattern, FindsTheFirstWholeMatchIncludingOverlappingCandidates)
{
    const auto data = bytesOf({0x00, 0xA5, 0x00, 0xA5, 0xA5, 0x5A, 0x01});
    // A5 00 fails at the second byte; the search resumes one byte later.
    EXPECT_EQ(FindPattern(span(data), span(bytesOf({0xA5, 0x5A}))), 4u);
    EXPECT_EQ(FindPattern(span(bytesOf({0xA5, 0xA5, 0x5A})), span(bytesOf({0xA5, 0x5A}))), 1u);
    EXPECT_EQ(FindPattern(span(data), span(bytesOf({0x00}))), 0u);
    EXPECT_EQ(FindPattern(span(data), span(bytesOf({0x5A, 0x01}))), 5u);
    EXPECT_EQ(FindPattern(span(data), span(bytesOf({0x01, 0x02}))), std::nullopt);
    // An empty pattern is never searched; a pattern longer than the data never matches.
    EXPECT_EQ(FindPattern(span(data), span(std::string())), std::nullopt);
    EXPECT_EQ(FindPattern(span(bytesOf({0xA5})), span(bytesOf({0xA5, 0x5A}))), std::nullopt);
}

TEST(CommLog, EntriesReachTheFileAsTheyAreMade)
{
    char path[] = "/tmp/quillon-log-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const auto t = std::chrono::system_clock::from_time_t(1080000000);
    setClock([t] { return t; });
    const std::string stamp = dateTimeText(t);

    CommLog log;
    ASSERT_TRUE(log.open(path));
    log.entry(kLogSend, "AB");
    log.entry(kLogReceived, std::string("\xD6\xD0\r\n", 4));
    auto readAll = [&] {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    // Nothing waits in a buffer: a crash now would keep both entries.
    EXPECT_EQ(readAll(), "\r\n" + stamp + "\tSend:  AB" + "\r\n" + stamp + "\tReceived:  \xD6\xD0\r\n");
    log.close();
    log.close();
    log.entry(kLogSend, "ignored");
    EXPECT_EQ(readAll().find("ignored"), std::string::npos);
    // Opening again truncates.
    ASSERT_TRUE(log.open(path));
    log.close();
    EXPECT_EQ(readAll(), "");
    EXPECT_FALSE(log.open("/nonexistent-dir/x.log"));
    setClock({});
    std::remove(path);
}
