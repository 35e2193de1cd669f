#include "vars/decoding.h"

#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::vars;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> v) { return {v.begin(), v.end()}; }
std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

VarRow var(VarType type, int32_t offset, DisplayFormat format, int32_t length = 1)
{
    VarRow r;
    r.def.type = type;
    r.def.offset = offset;
    r.def.format = format;
    r.length = length;
    return r;
}

std::string decoded(std::vector<uint8_t> body, VarType type, DisplayFormat format, int32_t length = 1,
                    int32_t offset = 0)
{
    return DecodeVariable(body, var(type, offset, format, length), false, 0).value_or("<none>");
}

std::string text(std::span<const uint8_t> b) { return {b.begin(), b.end()}; }

// A session's receive state with the decoder in it, driven chunk by chunk.
struct Line {
    VarList vars;
    ReceiveModes state;
    std::unique_ptr<DataModeDecoder> owned = std::make_unique<DataModeDecoder>(vars);
    DataModeDecoder* decoder = owned.get();

    void memoryMap(std::vector<uint8_t> head, std::vector<uint8_t> end, int32_t start = 0)
    {
        DataModeSettings& s = state.settings;
        s.mode = DataMode::MemoryMap;
        s.headLen = static_cast<int32_t>(head.size());
        std::copy(head.begin(), head.end(), s.headMark.begin());
        s.endLen = static_cast<int32_t>(end.size());
        std::copy(end.begin(), end.end(), s.endMark.begin());
        s.startAddress = start;
    }
    size_t watch(VarType type, int32_t offset, DisplayFormat format = DisplayFormat::Dec, int32_t length = 1)
    {
        VarRow r = var(type, offset, format, length);
        r.def.number = static_cast<int32_t>(vars.size());
        return vars.insert(r);
    }
    ReceiveResult feed(std::vector<uint8_t> chunk)
    {
        held = std::move(chunk);
        return decoder->process(state, held);
    }
    std::string value(size_t row) const { return vars.row(row).value; }
    std::vector<uint8_t> held;
};

} // namespace

TEST(MarkFromHex, TakesPairsFromTheLeftAndALastDigitAlone)
{
    EXPECT_EQ(MarkFromHex("A55A"), bytes({0xA5, 0x5A}));
    EXPECT_EQ(MarkFromHex("A55"), bytes({0xA5, 0x05}));
    EXPECT_EQ(MarkFromHex("fedc"), bytes({0xFE, 0xDC}));
    EXPECT_EQ(MarkFromHex("0102030405060708FF"), bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(MarkFromHex("A5G1"), std::nullopt);
    EXPECT_EQ(MarkFromHex("A 5"), std::nullopt);
    EXPECT_EQ(MarkFromHex("-1"), std::nullopt);
}

TEST(ApplyDataModeSettings, ReadsTheFieldsInOrderAndStopsAtTheFirstBadOne)
{
    DataModeSettings s;
    DataModeInput in;
    in.mode = DataMode::MemoryMap;
    in.memStart = "0100";
    in.headMark = "A55A";
    in.endMark = "FEDC";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::None);
    EXPECT_EQ(s.startAddress, 0x100);
    EXPECT_EQ(s.headLen, 2);
    EXPECT_EQ(s.headMark[0], 0xA5);
    EXPECT_EQ(s.endLen, 2);
    EXPECT_EQ(s.endMark[1], 0xDC);
    EXPECT_FALSE(s.fixedLength);

    // An empty mark field keeps the mark; a bad end mark leaves the head already read.
    in.headMark = "";
    in.endMark = "ZZ";
    in.memStart = "10";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::EndMark);
    EXPECT_EQ(s.startAddress, 0x10);
    EXPECT_EQ(s.headLen, 2);
    EXPECT_EQ(s.endMark[0], 0xFE);
    in.headMark = "G";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::HeadMark);

    // A bad start address stops before the length; the mode is already set.
    in.mode = DataMode::Normal;
    in.memStart = "XYZ";
    in.fixedLength = true;
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::StartAddress);
    EXPECT_EQ(s.mode, DataMode::Normal);
    EXPECT_FALSE(s.fixedLength);

    // Fixed length: decimal or 0x, never 0, and the marks are then not read.
    in.memStart = "0";
    in.fixedCount = "abc";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::FixedCountText);
    EXPECT_TRUE(s.fixedLength);
    in.fixedCount = "0";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::FixedCountZero);
    in.fixedCount = "0x10";
    in.headMark = "G";
    EXPECT_EQ(ApplyDataModeSettings(s, in), ApplyError::None);
    EXPECT_EQ(s.fixedCount, 16);
}

TEST(ApplyDataModeSettings, SeparatorIsCrLfOnlyForAnEmptyFieldOrARealLineFeed)
{
    DataModeSettings s;
    DataModeInput in;
    in.memStart = "0";
    in.mode = DataMode::MultiVars;
    in.separator = "";
    ApplyDataModeSettings(s, in);
    EXPECT_TRUE(s.stringVars);
    EXPECT_EQ(s.separator, "\r\n");
    in.separator = "\n";
    ApplyDataModeSettings(s, in);
    EXPECT_EQ(s.separator, "\r\n");
    in.separator = "\\n";
    ApplyDataModeSettings(s, in);
    EXPECT_EQ(s.separator, "\\n");
    // Other modes leave the string settings alone.
    in.mode = DataMode::MemoryMap;
    in.stringVars = false;
    in.separator = "#";
    ApplyDataModeSettings(s, in);
    EXPECT_TRUE(s.stringVars);
    EXPECT_EQ(s.separator, "\\n");
    in.mode = DataMode::MultiVars;
    ApplyDataModeSettings(s, in);
    EXPECT_FALSE(s.stringVars);
}

TEST(DecodeVariable, EveryTypeLittleEndianInEveryFormat)
{
    using enum VarType;
    using enum DisplayFormat;
    EXPECT_EQ(decoded({0x20}, Char, Dec), "32");
    EXPECT_EQ(decoded({0x20}, Char, Hex), "0x20");
    EXPECT_EQ(decoded({0x20}, Char, Bin), "100000");
    EXPECT_EQ(decoded({0xFF}, Char, Dec), "255");
    EXPECT_EQ(decoded({0x00}, Char, Bin), "0");
    EXPECT_EQ(decoded({0xFE, 0xFF}, Int, Dec), "-2");
    EXPECT_EQ(decoded({0xFE, 0xFF}, Int, Hex), "0xFFFFFFFE");
    EXPECT_EQ(decoded({0x00, 0x80}, Int, Dec), "-32768");
    EXPECT_EQ(decoded({0x0A, 0x00}, Int, Hex), "0xA");
    EXPECT_EQ(decoded({0x05, 0x00}, Int, Bin), "101");
    EXPECT_EQ(decoded({0x78, 0x56, 0x34, 0x12}, Long, Hex), "0x12345678");
    EXPECT_EQ(decoded({0xFF, 0xFF, 0xFF, 0xFF}, Long, Dec), "-1");
    EXPECT_EQ(decoded({0xFF, 0xFF, 0xFF, 0xFF}, Long, Hex), "0xFFFFFFFF");
    EXPECT_EQ(decoded({0x00, 0x00, 0x00, 0x80}, Long, Dec), "-2147483648");
    // 0.1f widened to double, 15 significant digits.
    EXPECT_EQ(decoded({0xCD, 0xCC, 0xCC, 0x3D}, Float, Dec), "0.100000001490116");
    EXPECT_EQ(decoded({0xCD, 0xCC, 0xCC, 0x3D}, Float, Hex), "0.100000001490116");
    // A whole-number float reads as an integer and takes the format.
    EXPECT_EQ(decoded({0x00, 0x00, 0x80, 0x3F}, Float, Hex), "0x1");
    EXPECT_EQ(decoded({0x00, 0x00, 0xC0, 0x3F}, Float, Bin), "1.5");
    EXPECT_EQ(decoded({0x00, 0x00, 0xC0, 0x7F}, Float, Dec), "NAN");
    EXPECT_EQ(decoded({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}, Double, Dec), "0.1");
    EXPECT_EQ(decoded({0, 0, 0, 0, 0, 0x6A, 0xF8, 0x40}, Double, Hex), "0x186A0"); // 100000.0
    EXPECT_EQ(decoded({0, 0, 0, 0, 0, 0, 0xF0, 0x43}, Double, Hex), "1.84467440737096E19");
    EXPECT_EQ(decoded({0xB7}, BitMask, Dec, 0x0F), "7");
    EXPECT_EQ(decoded({0xB7}, BitMask, Hex, 0xF0), "0xB0");
    EXPECT_EQ(decoded({1, 0x0A, 255}, Array, Dec, 3), "1,10,255");
    EXPECT_EQ(decoded({1, 0x0A, 255}, Array, Hex, 3), "0x01,0x0A,0xFF");
    EXPECT_EQ(decoded({1, 0x0A, 255}, Array, Bin, 2), "0x01,0x0A");
    EXPECT_EQ(decoded({1}, Array, Dec, 0), "");
}

TEST(DecodeVariable, LeavesVariablesOutsideTheBodyAlone)
{
    using enum VarType;
    using enum DisplayFormat;
    EXPECT_EQ(decoded({1, 2, 3}, Int, Dec, 1, 2), "<none>");
    EXPECT_EQ(decoded({1, 2, 3}, Int, Dec, 1, 1), "770");
    EXPECT_EQ(decoded({1, 2, 3}, Double, Dec), "<none>");
    EXPECT_EQ(decoded({1, 2, 3}, Array, Dec, 4), "<none>");
    EXPECT_EQ(decoded({1, 2, 3}, Array, Dec, -1), "<none>");
    EXPECT_EQ(decoded({1, 2, 3}, Char, Dec, 1, -1), "<none>");
    EXPECT_EQ(decoded({}, Char, Dec), "<none>");
    EXPECT_EQ(decoded({1, 2, 3}, Char, Dec, 1, INT32_MAX), "<none>");
    // Memory map: offsets are addresses from the start address; below it reads from 0.
    const auto body = bytes({0x10, 0x20, 0x30});
    EXPECT_EQ(DecodeVariable(body, var(Char, 0x101, Dec), true, 0x100), "32");
    EXPECT_EQ(DecodeVariable(body, var(Char, 0x50, Dec), true, 0x100), "16");
    EXPECT_EQ(DecodeVariable(body, var(Char, 0x103, Dec), true, 0x100), std::nullopt);
    EXPECT_EQ(DecodeVariable(body, var(Char, -5, Dec), true, INT32_MIN), std::nullopt);
}

TEST(FindCut, EveryCaseOfTheMarks)
{
    DataModeSettings s;
    s.mode = DataMode::MemoryMap;
    s.headLen = 2;
    s.headMark = {0xA5, 0x5A};
    s.endLen = 2;
    s.endMark = {0xFE, 0xDC};
    auto cut = [&](std::vector<uint8_t> d) { return FindCut(s, d); };
    using K = Cut::Kind;

    Cut c = cut(bytes({0x00, 0xA5, 0x00, 0xA5, 0x5A, 0x11, 0xFE, 0xDC, 0x77}));
    EXPECT_EQ(c.kind, K::Block);
    EXPECT_EQ(c.bodyBegin, 5u);
    EXPECT_EQ(c.bodyEnd, 6u);
    EXPECT_EQ(c.keepFrom, 8u);
    c = cut(bytes({0xA5, 0x5A, 0xFE, 0xDC}));
    EXPECT_EQ(c.kind, K::Block);
    EXPECT_EQ(c.bodyBegin, c.bodyEnd);
    // End mark before the head, or overlapping it: drop through the end mark.
    c = cut(bytes({0x01, 0xFE, 0xDC, 0xA5, 0x5A, 0x02, 0xFE, 0xDC}));
    EXPECT_EQ(c.kind, K::EndOnly);
    EXPECT_EQ(c.keepFrom, 3u);
    s.endMark = {0x5A, 0xFE};
    c = cut(bytes({0xA5, 0x5A, 0xFE}));
    EXPECT_EQ(c.kind, K::EndOnly);
    EXPECT_EQ(c.keepFrom, 3u);
    s.endMark = {0xFE, 0xDC};
    c = cut(bytes({0x01, 0xFE, 0xDC, 0x02}));
    EXPECT_EQ(c.kind, K::EndOnly);
    EXPECT_EQ(c.keepFrom, 3u);
    c = cut(bytes({0x01, 0x02, 0x5A}));
    EXPECT_EQ(c.kind, K::Unframed);
    EXPECT_EQ(c.bodyEnd, 3u);
    EXPECT_EQ(c.keepFrom, 3u);
    // The start of a head at the end stays for the next chunk.
    c = cut(bytes({0x01, 0x02, 0xA5}));
    EXPECT_EQ(c.kind, K::Unframed);
    EXPECT_EQ(c.bodyEnd, 2u);
    EXPECT_EQ(c.keepFrom, 2u);
    EXPECT_EQ(cut(bytes({0xA5})).kind, K::Waiting);
    c = cut(bytes({0x01, 0xA5, 0x5A, 0x02}));
    EXPECT_EQ(c.kind, K::HeadLater);
    EXPECT_EQ(c.keepFrom, 1u);
    EXPECT_EQ(cut(bytes({0xA5, 0x5A, 0x02})).kind, K::Waiting);

    // Without an end mark the block runs to the end; without a head it starts at 0.
    s.endLen = 0;
    c = cut(bytes({0x01, 0xA5, 0x5A, 0x02, 0x03}));
    EXPECT_EQ(c.kind, K::Block);
    EXPECT_EQ(c.bodyBegin, 3u);
    EXPECT_EQ(c.keepFrom, 5u);
    EXPECT_EQ(cut(bytes({0x01, 0x02})).kind, K::EndOnly);
    s.endLen = 2;
    s.headLen = 0;
    EXPECT_EQ(cut(bytes({0x01, 0x02})).kind, K::Waiting);
    c = cut(bytes({0x01, 0xFE, 0xDC}));
    EXPECT_EQ(c.kind, K::Block);
    EXPECT_EQ(c.bodyEnd, 1u);

    // Fixed length and multi-variable blocks are the whole accumulator past the head length.
    s.headLen = 2;
    s.fixedLength = true;
    c = cut(bytes({0x01, 0x02, 0x03, 0xFE, 0xDC}));
    EXPECT_EQ(c.kind, K::Block);
    EXPECT_EQ(c.bodyBegin, 2u);
    EXPECT_EQ(c.bodyEnd, 5u);
    EXPECT_EQ(c.keepFrom, 5u);
    EXPECT_EQ(cut(bytes({0x01})).kind, K::EndOnly);
    s.fixedLength = false;
    s.mode = DataMode::MultiVars;
    EXPECT_EQ(cut(bytes({0x01, 0xA5, 0x5A})).bodyBegin, 2u);
}

TEST(DataModeDecoder, MemoryMapBlockDecodesOnceItIsComplete)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC}, 0x100);
    const size_t dec = line.watch(VarType::Char, 0x101, DisplayFormat::Dec);
    const size_t hex = line.watch(VarType::Char, 0x101, DisplayFormat::Hex);
    const size_t bin = line.watch(VarType::Char, 0x101, DisplayFormat::Bin);
    const size_t past = line.watch(VarType::Int, 0x102, DisplayFormat::Dec);
    const size_t unwatched = line.watch(VarType::Char, 0x100, DisplayFormat::Dec);
    line.vars.row(unwatched).def.watched = false;

    ReceiveResult r = line.feed(bytes({0xA5, 0x5A, 0x10}));
    EXPECT_TRUE(r.display.empty());
    EXPECT_TRUE(r.changedRows.empty());
    EXPECT_EQ(line.value(dec), "0");
    r = line.feed(bytes({0x20, 0x30, 0xFE, 0xDC}));
    EXPECT_EQ(text(r.display), text(bytes({0x10, 0x20, 0x30})));
    EXPECT_EQ(r.changedRows, (std::vector<size_t>{dec, hex, bin}));
    EXPECT_EQ(line.value(dec), "32");
    EXPECT_EQ(line.value(hex), "0x20");
    EXPECT_EQ(line.value(bin), "100000");
    EXPECT_EQ(line.value(past), "0");
    EXPECT_EQ(line.value(unwatched), "0");
    EXPECT_TRUE(line.state.settings.blockDecoded);
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);

    // The same values again change no row.
    r = line.feed(bytes({0xA5, 0x5A, 0x10, 0x20, 0x30, 0xFE, 0xDC}));
    EXPECT_TRUE(r.changedRows.empty());
    EXPECT_EQ(line.decoder->blocksDecoded(), 2u);
}

TEST(DataModeDecoder, EveryBlockInAChunkIsCutSoTheNewestValueShows)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC});
    const size_t v = line.watch(VarType::Char, 0);
    // Garbage, an end mark ahead of the head, two blocks and the start of a third.
    ReceiveResult r = line.feed(
        bytes({0x00, 0xFE, 0xDC, 0xA5, 0x5A, 0x01, 0xFE, 0xDC, 0xA5, 0x5A, 0x02, 0xFE, 0xDC, 0xA5, 0x5A, 0x03}));
    EXPECT_EQ(line.value(v), "2");
    EXPECT_EQ(text(r.display), text(bytes({0x02})));
    EXPECT_EQ(line.decoder->blocksDecoded(), 2u);
    EXPECT_EQ(text(line.state.burst.ReceiveAccumulator.bytes()), text(bytes({0xA5, 0x5A, 0x03})));
    // A head cut by the chunk boundary behind a block waits for its second byte.
    line.state.burst.ReceiveAccumulator.clear();
    line.feed(bytes({0xA5, 0x5A, 0x04, 0xFE, 0xDC, 0xA5}));
    EXPECT_EQ(line.value(v), "4");
    line.feed(bytes({0x5A, 0x05, 0xFE, 0xDC}));
    EXPECT_EQ(line.value(v), "5");
    // A row changed and changed back within one chunk is not reported.
    r = line.feed(bytes({0xFE, 0xDC, 0xA5, 0x5A, 0x09, 0xFE, 0xDC, 0xA5, 0x5A, 0x05, 0xFE, 0xDC}));
    EXPECT_EQ(line.value(v), "5");
    EXPECT_TRUE(r.changedRows.empty());
    // Bytes with no mark at all are shown as they are and not kept.
    line.state.burst.ReceiveAccumulator.clear();
    r = line.feed(bytes({0x41, 0x42}));
    EXPECT_EQ(text(r.display), "AB");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
}

TEST(DataModeDecoder, ABlockArrivingByteByByteDecodes)
{
    Line line;
    line.memoryMap({0xA5, 0x5A, 0xA5}, {0xFE, 0xDC});
    const size_t v = line.watch(VarType::Int, 0);
    size_t shown = 0;
    for (int b : {0x41, 0xA5, 0x5A, 0x41, 0xA5, 0x5A, 0xA5, 0x34, 0x12, 0xFE, 0xDC}) {
        shown += line.feed(bytes({b})).display.size();
        EXPECT_EQ(line.value(v), b == 0xDC ? "4660" : "0");
    }
    // The body, and the bytes that turned out to begin no head.
    EXPECT_EQ(shown, 2u + 4u);
}

TEST(DataModeDecoder, FixedLengthDecodesOnlyAfterAChunkLongerThanTheCount)
{
    Line line;
    line.state.settings.mode = DataMode::MemoryMap;
    line.state.settings.fixedLength = true;
    line.state.settings.fixedCount = 10;
    const size_t first = line.watch(VarType::Char, 0);
    const size_t eleventh = line.watch(VarType::Char, 10);
    ReceiveResult r = line.feed(std::vector<uint8_t>(10, 1));
    EXPECT_TRUE(r.display.empty());
    EXPECT_EQ(line.value(first), "0");
    r = line.feed(std::vector<uint8_t>(11, 2));
    // The block is everything collected since the last one.
    EXPECT_EQ(r.display.size(), 21u);
    EXPECT_EQ(line.value(first), "1");
    EXPECT_EQ(line.value(eleventh), "2");
    // After a decoded block, until the hex dump has restarted, each chunk starts a new one.
    line.feed(std::vector<uint8_t>(3, 3));
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 3u);
    line.feed(std::vector<uint8_t>(11, 4));
    EXPECT_EQ(line.value(first), "4");
    line.state.settings.blockDecoded = false;
    line.feed(std::vector<uint8_t>(3, 7));
    line.feed(std::vector<uint8_t>(11, 8));
    EXPECT_EQ(line.value(first), "7");
    // In interactive mode the chunks are always collected.
    line.state.role.interactive = true;
    line.feed(std::vector<uint8_t>(3, 5));
    line.feed(std::vector<uint8_t>(2, 6));
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 5u);
}

TEST(DataModeDecoder, MultiVarsBinaryDecodesEachChunkPastTheHeadLength)
{
    Line line;
    line.state.settings.mode = DataMode::MultiVars;
    line.state.settings.headLen = 1;
    const size_t v = line.watch(VarType::Int, 0);
    ReceiveResult r = line.feed(bytes({0x99, 0xFE, 0xFF}));
    EXPECT_EQ(line.value(v), "-2");
    EXPECT_EQ(r.display.size(), 2u);
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    // A chunk no longer than the head length is a block without a body.
    line.feed(bytes({0x99}));
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    line.feed(bytes({0x98, 0x01, 0x00}));
    EXPECT_EQ(line.value(v), "1");
}

TEST(DataModeDecoder, StringValuesBreakAtTheSeparatorAndWaitForACutOne)
{
    Line line;
    line.state.settings.mode = DataMode::MultiVars;
    line.state.settings.stringVars = true;
    line.state.settings.separator = "#;";
    ReceiveResult r = line.feed(bytes("12#;34#"));
    EXPECT_EQ(text(r.display), "12\r\n");
    // The mode logs the raw chunk, not what it shows.
    ASSERT_EQ(r.log.size(), 1u);
    EXPECT_EQ(r.log[0].word, kLogReceived);
    EXPECT_EQ(r.log[0].text, "12#;34#");
    EXPECT_EQ(text(line.state.burst.ReceiveAccumulator.bytes()), "34#");
    r = line.feed(bytes(";56"));
    EXPECT_EQ(text(r.display), "34\r\n56");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    // A value ending in a separator character with no separator yet waits whole.
    r = line.feed(bytes("7;"));
    EXPECT_TRUE(r.display.empty());
    EXPECT_EQ(text(line.state.burst.ReceiveAccumulator.bytes()), "7;");
    // Text ends at a zero byte.
    line.state.burst.ReceiveAccumulator.clear();
    r = line.feed(bytes({'a', 0, 'b'}));
    EXPECT_EQ(text(r.display), "a");
    // CR LF as the separator: shown as received.
    line.state.settings.separator = "\r\n";
    r = line.feed(bytes("x\r\ny\r"));
    EXPECT_EQ(text(r.display), "x\r\ny\r");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
}

TEST(DataModeDecoder, TheSlaveCollectsTheBurstAndShowsNothing)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC});
    line.state.role.interactive = true;
    line.state.role.master = false;
    line.feed(bytes({0xA5, 0x5A, 0x01, 0xFE, 0xDC}));
    ReceiveResult r = line.feed(bytes("AT"));
    EXPECT_TRUE(r.display.empty());
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 7u);
    line.state.burst.lineWentIdle();
    line.feed(bytes("xy"));
    EXPECT_EQ(text(line.state.burst.ReceiveAccumulator.bytes()), "xy");
    // With interactive mode off the blocks are decoded again, whatever the master box says.
    line.state.role.interactive = false;
    line.state.burst.chunkDelivered();
    r = line.feed(bytes({0xA5, 0x5A, 0x05, 0xFE, 0xDC}));
    EXPECT_EQ(text(r.display), text(bytes({0x05})));
    // Normal mode shows everything and keeps the burst only for the slave.
    line.state.settings.mode = DataMode::Normal;
    r = line.feed(bytes("ok"));
    EXPECT_EQ(text(r.display), "ok");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    line.state.role.interactive = true;
    line.feed(bytes("AT"));
    line.feed(bytes("+X"));
    EXPECT_EQ(text(line.state.burst.ReceiveAccumulator.bytes()), "AT+X");
}

TEST(DataModeDecoder, GarbageNeverOverfillsTheAccumulator)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC});
    const size_t v = line.watch(VarType::Char, 0);
    // A head, then garbage that never ends the block.
    line.feed(bytes({0xA5, 0x5A}));
    for (int i = 0; i < 10; ++i) {
        line.feed(std::vector<uint8_t>(2047, static_cast<uint8_t>(i)));
        EXPECT_LE(line.state.burst.ReceiveAccumulator.count, Accumulator::kCapacity);
    }
    EXPECT_GT(line.decoder->overflows(), 0u);
    EXPECT_EQ(line.value(v), "0");
    // A block begun in the accumulator and ended in a full 2048-byte chunk is not lost.
    line.state.burst.ReceiveAccumulator.clear();
    std::vector<uint8_t> start = bytes({0xA5, 0x5A, 0x33});
    start.resize(100, 0x00);
    line.feed(start);
    std::vector<uint8_t> full(2048, 0x00);
    full[0] = 0xFE;
    full[1] = 0xDC;
    line.feed(full);
    EXPECT_EQ(line.value(v), "51");
    const uint64_t overflows = line.decoder->overflows();
    // A full 2048-byte chunk holding a whole block still decodes.
    std::vector<uint8_t> big(2048, 0x00);
    big[100] = 0xA5;
    big[101] = 0x5A;
    big[102] = 0x42;
    big[2046] = 0xFE;
    big[2047] = 0xDC;
    line.state.burst.ReceiveAccumulator.clear();
    line.feed(big);
    EXPECT_EQ(line.value(v), "66");
    EXPECT_EQ(line.decoder->overflows(), overflows);
}

TEST(DataModeDecoder, AChunkShowsTheBodyOfItsBlockNotTheBytesAfterIt)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC}, 0x100);
    const size_t v = line.watch(VarType::Char, 0x101);
    // Every frame followed by a line end, one per chunk and two in a chunk.
    ReceiveResult r = line.feed(bytes({0xA5, 0x5A, 0x10, 0x20, 0x30, 0xFE, 0xDC, 0x0D, 0x0A}));
    EXPECT_EQ(text(r.display), text(bytes({0x10, 0x20, 0x30})));
    EXPECT_EQ(line.value(v), "32");
    r = line.feed(
        bytes({0xA5, 0x5A, 0x11, 0x21, 0xFE, 0xDC, 0x0D, 0x0A, 0xA5, 0x5A, 0x12, 0x22, 0xFE, 0xDC, 0x0D, 0x0A}));
    EXPECT_EQ(text(r.display), text(bytes({0x12, 0x22})));
    EXPECT_EQ(line.value(v), "34");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    // Bytes with no block around them still show as they come.
    r = line.feed(bytes({0x0D, 0x0A}));
    EXPECT_EQ(text(r.display), "\r\n");
}

TEST(DataModeDecoder, AWholeBlockNearTheEndOfAFullChunkDecodesBehindAnUnfinishedOne)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {0xFE, 0xDC});
    const size_t v = line.watch(VarType::Char, 0);
    // A block whose end mark was lost...
    line.feed(bytes({0xA5, 0x5A, 0x01, 0x02, 0x03}));
    // ...then a full chunk whose whole block begins before the room left in
    // the accumulator runs out and ends after it.
    std::vector<uint8_t> full(2048, 0x00);
    const size_t at = Accumulator::kCapacity - 5 - 3;
    for (size_t i = 0; i < 7; ++i) full[at + i] = std::array<uint8_t, 7>{0xA5, 0x5A, 0x42, 0x43, 0x44, 0xFE, 0xDC}[i];
    ReceiveResult r = line.feed(full);
    EXPECT_EQ(line.value(v), "66");
    EXPECT_EQ(text(r.display), text(bytes({0x42, 0x43, 0x44})));
    EXPECT_EQ(line.decoder->blocksDecoded(), 1u);
    // A block begun in the accumulator and ended by the next full chunk is kept as before.
    line.feed(bytes({0xA5, 0x5A, 0x07}));
    std::vector<uint8_t> rest(2048, 0x00);
    rest[0] = 0xFE;
    rest[1] = 0xDC;
    line.feed(rest);
    EXPECT_EQ(line.value(v), "7");
}

TEST(DataModeDecoder, WithoutAnEndMarkAHeadCutByTheChunkBoundaryStillFramesItsBlock)
{
    Line line;
    line.memoryMap({0xA5, 0x5A}, {});
    const size_t c = line.watch(VarType::Char, 0);
    const size_t i = line.watch(VarType::Int, 0);
    // The block runs to the end of the data: the head's last byte brings it.
    ReceiveResult r = line.feed(bytes({0x00, 0xA5}));
    EXPECT_TRUE(r.display.empty());
    r = line.feed(bytes({0x5A, 0x10, 0x20}));
    EXPECT_EQ(text(r.display), text(bytes({0x10, 0x20})));
    EXPECT_EQ(line.value(i), "8208");
    // One byte per chunk: a head with nothing behind it waits for its body.
    for (int b : {0x00, 0xA5, 0x5A, 0x33}) line.feed(bytes({b}));
    EXPECT_EQ(line.value(c), "51");
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    // Data without a head is dropped, as before.
    line.feed(bytes({0x01, 0x02}));
    EXPECT_EQ(line.state.burst.ReceiveAccumulator.count, 0u);
    EXPECT_EQ(line.decoder->blocksDecoded(), 2u);
}
