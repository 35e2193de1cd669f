#include "vars/decoding.h"
#include "vars/sample_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::vars;

namespace {

const SampleClock::time_point kStart{};

SampleClock::time_point at(double seconds)
{
    return kStart + std::chrono::duration_cast<SampleClock::duration>(std::chrono::duration<double>(seconds));
}

Sample sample(uint64_t series, uint64_t block, double seconds, double value, SampleKind kind = SampleKind::F64)
{
    return {series, block, at(seconds), kind, value};
}

std::vector<double> values(const SampleStore& store, uint64_t series)
{
    std::vector<double> out;
    for (const SamplePoint& p : store.points(series)) out.push_back(p.value);
    return out;
}

std::string csv(const SampleStore& store, const std::vector<SampleStore::CsvColumn>& columns)
{
    std::ostringstream out;
    store.writeCsv(out, "t", columns);
    return out.str();
}

} // namespace

TEST(SampleStore, KeepsEachVariableInOrderWithItsBlocksTime)
{
    SampleStore store;
    // Two blocks in the first chunk, one in the next; variable 2 misses block 1.
    store.record(sample(1, 0, 5.0, 10));
    store.record(sample(2, 0, 5.0, -1, SampleKind::I16));
    store.record(sample(1, 1, 5.0, 11));
    store.record(sample(1, 2, 5.25, 12));
    store.record(sample(2, 2, 5.25, -3, SampleKind::I16));

    EXPECT_EQ(values(store, 1), (std::vector<double>{10, 11, 12}));
    EXPECT_EQ(values(store, 2), (std::vector<double>{-1, -3}));
    const auto p = store.points(1);
    // Time counts from the first sample the store took.
    EXPECT_DOUBLE_EQ(p[0].time, 0);
    EXPECT_DOUBLE_EQ(p[1].time, 0);
    EXPECT_DOUBLE_EQ(p[2].time, 0.25);
    EXPECT_EQ(store.lastTime(), 0.25);
    EXPECT_FALSE(store.valueAt(1, -0.1));
    EXPECT_EQ(store.valueAt(1, 0.1)->value, 11);
    EXPECT_EQ(store.valueAt(2, 0.1)->value, -1);
    EXPECT_EQ(store.valueAt(2, 9)->value, -3);
    EXPECT_FALSE(store.valueAt(7, 1)); // no such series
}

TEST(SampleStore, TheBoundDropsTheOldestAndTheRingWrapsExactly)
{
    SampleStore store(4);
    // Gaps in the blocks (the variable was outside some) while the ring wraps
    // several times: values, blocks and times must stay paired.
    uint64_t block = 0;
    for (int i = 0; i < 11; ++i) {
        block += i % 3 == 0 ? 2 : 1;
        store.record(sample(1, block, i * 0.5, i, SampleKind::U8));
        store.record(sample(2, block, i * 0.5, i * 1.5, SampleKind::F32));
    }
    EXPECT_EQ(store.count(1), 4u);
    EXPECT_EQ(values(store, 1), (std::vector<double>{7, 8, 9, 10}));
    EXPECT_EQ(values(store, 2), (std::vector<double>{10.5, 12, 13.5, 15}));
    EXPECT_DOUBLE_EQ(*store.firstTime(), 3.5);
    EXPECT_EQ(store.valueAt(1, 4.2)->value, 8);

    store.setBound(2);
    EXPECT_EQ(values(store, 1), (std::vector<double>{9, 10}));
    store.record(sample(1, block + 1, 6, 200, SampleKind::U8));
    EXPECT_EQ(values(store, 1), (std::vector<double>{10, 200}));
    store.setBound(5);
    for (int i = 0; i < 4; ++i) store.record(sample(1, block + 2 + i, 7 + i, i, SampleKind::U8));
    EXPECT_EQ(values(store, 1), (std::vector<double>{200, 0, 1, 2, 3}));
    EXPECT_DOUBLE_EQ(store.points(1).front().time, 6);
}

TEST(SampleStore, ARedefinedOrDeletedVariableStartsAfresh)
{
    VarList list;
    VarRow row;
    row.def.name = "speed";
    row.def.type = VarType::Int;
    list.insert(row);
    row.def.number = 1;
    row.def.name = "temp";
    list.insert(row);
    const uint64_t speed = list.row(0).series;
    const uint64_t temp = list.row(1).series;
    ASSERT_NE(speed, temp);
    // Rows added at free numbers (a map import) get histories of their own too.
    list.insertAtFreeNumbers({row, row});
    EXPECT_NE(list.row(2).series, list.row(3).series);
    EXPECT_GT(std::min(list.row(2).series, list.row(3).series), std::max(speed, temp));
    list.remove({2, 3});

    VarDefinition def = list.row(0).def;
    def.format = DisplayFormat::Bin; // only how the list shows it
    list.redefine(0, def);
    EXPECT_EQ(list.row(0).series, speed);
    def.offset = 2;
    list.redefine(0, def);
    EXPECT_NE(list.row(0).series, speed);
    EXPECT_EQ(list.row(0).def.offset, 2);

    SampleStore store;
    store.record(sample(speed, 0, 0, 1, SampleKind::I16));
    store.record(sample(temp, 0, 0, 2, SampleKind::I16));
    store.keepOnly(list); // the old speed is no row any more
    EXPECT_FALSE(store.has(speed));
    EXPECT_TRUE(store.has(temp));
    list.remove({1});
    store.keepOnly(list);
    EXPECT_FALSE(store.has(temp));
    // A series that comes back with another type starts over too.
    store.record(sample(9, 1, 1, 3, SampleKind::I16));
    store.record(sample(9, 2, 1, 2.5, SampleKind::F32));
    EXPECT_EQ(values(store, 9), (std::vector<double>{2.5}));
}

TEST(SampleStore, DecimationKeepsEachColumnsLowestAndHighest)
{
    SampleStore store;
    std::vector<SamplePoint> raw;
    for (int i = 0; i < 10000; ++i) {
        const double v = std::sin(i * 0.013) * 100 + (i % 97 == 0 ? 500 : 0) - (i % 89 == 0 ? 400 : 0);
        store.record(sample(1, static_cast<uint64_t>(i), i * 0.001, v));
        raw.push_back({i * 0.001, v});
    }
    const int columns = 50;
    const double from = 2, to = 8;
    const auto shown = store.decimated(1, from, to, columns);
    EXPECT_LE(shown.size(), 2u * columns + 1);
    // The sample before the window leads in, the rest come in time order.
    EXPECT_LT(shown.front().time, from);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(),
                               [](const SamplePoint& a, const SamplePoint& b) { return a.time < b.time; }));
    const double width = (to - from) / columns;
    for (int c = 0; c < columns; ++c) {
        double lo = 1e9, hi = -1e9;
        for (const SamplePoint& p : raw)
            if (p.time >= from && p.time <= to && std::min(columns - 1, int((p.time - from) / width)) == c) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
        auto has = [&](double v) {
            return std::any_of(shown.begin(), shown.end(), [&](const SamplePoint& p) {
                return p.value == v && p.time >= from + c * width - 1e-9 && p.time <= from + (c + 1) * width + 1e-9;
            });
        };
        EXPECT_TRUE(has(lo)) << "column " << c << " lost its lowest " << lo;
        EXPECT_TRUE(has(hi)) << "column " << c << " lost its highest " << hi;
    }
    EXPECT_TRUE(store.decimated(1, 20, 30, columns).size() <= 1u); // only the lead-in
    EXPECT_TRUE(store.decimated(2, from, to, columns).empty());
}

TEST(SampleStore, AFollowingViewShowsWhatAFreshOneShows)
{
    // The view scans only what is new; it must come to the same columns as
    // one that scans the whole window, however the window has moved.
    SampleStore store;
    ColumnView following;
    const double span = 2, width = 0.05;
    uint64_t block = 0;
    for (int step = 0; step < 40; ++step) {
        for (int i = 0; i < 37; ++i, ++block) {
            const double t = static_cast<double>(block) * 0.003;
            store.record(sample(1, block, t, std::sin(static_cast<double>(block) * 0.7) * (block % 11)));
        }
        const double to = std::max(span, *store.lastTime());
        const auto& seen = following.update(store, 1, to - span, to, width);
        ColumnView fresh;
        const auto& expected = fresh.update(store, 1, to - span, to, width);
        ASSERT_EQ(seen.size(), expected.size()) << "step " << step;
        for (size_t k = 0; k < seen.size(); ++k) {
            EXPECT_EQ(seen[k].time, expected[k].time) << "step " << step << " point " << k;
            EXPECT_EQ(seen[k].value, expected[k].value) << "step " << step << " point " << k;
        }
    }
    // A view on a budget fills in over several updates and comes to the same.
    ColumnView thrifty;
    const double to = *store.lastTime();
    ColumnView whole;
    const auto& all = whole.update(store, 1, 0, to, width);
    size_t before = 0;
    int updates = 0;
    while (thrifty.update(store, 1, 0, to, width, 100).size() != all.size()) {
        ASSERT_GT(thrifty.points().size(), before) << "an update made no progress";
        before = thrifty.points().size();
        ASSERT_LT(++updates, 100);
    }
    EXPECT_GT(updates, 5);
    for (size_t k = 0; k < all.size(); ++k) EXPECT_EQ(thrifty.points()[k].value, all[k].value) << k;
    // Starting over (a cleared store) is noticed.
    store.clear();
    store.record(sample(1, 0, 100, 5));
    EXPECT_EQ(following.update(store, 1, -1, 1, width).size(), 1u);
}

TEST(SampleStore, CsvHasOneRowPerBlockWithEmptyFieldsForMissingValues)
{
    SampleStore store;
    store.record(sample(1, 0, 0.0, 0.1, SampleKind::F32));
    store.record(sample(2, 0, 0.0, -32768, SampleKind::I16));
    store.record(sample(1, 1, 0.0, -2.5, SampleKind::F32)); // same chunk, own row
    store.record(sample(2, 2, 1.2344, 7, SampleKind::I16));
    store.record(sample(3, 2, 1.2344, 1e-300, SampleKind::F64));
    store.record(sample(1, 3, 61.0, 3, SampleKind::F32));

    EXPECT_EQ(csv(store, {{1, "fl"}, {2, "a,\"b\""}, {3, "d"}, {4, "never"}}), "t,fl,\"a,\"\"b\"\"\",d,never\r\n"
                                                                               "0.000,0.1,-32768,,\r\n"
                                                                               "0.000,-2.5,,,\r\n"
                                                                               "1.234,,7,1e-300,\r\n"
                                                                               "61.000,3,,,\r\n");
    EXPECT_EQ(csv(SampleStore(), {{1, "x"}}), "t,x\r\n");
}

TEST(SampleStore, DecoderGivesOneSamplePerWatchedNumericRowAndBlock)
{
    VarList list;
    auto watch = [&](VarType type, int32_t offset, bool watched = true, int32_t length = 1) {
        VarRow r;
        r.def.number = static_cast<int32_t>(list.size());
        r.def.type = type;
        r.def.offset = offset;
        r.def.watched = watched;
        r.length = length;
        return list.row(list.insert(r)).series;
    };
    const uint64_t ch = watch(VarType::Char, 0);
    const uint64_t in = watch(VarType::Int, 1);
    watch(VarType::Array, 0, true, 2);
    watch(VarType::Char, 1, false);
    const uint64_t mask = watch(VarType::BitMask, 2, true, 0x0F);
    const uint64_t past = watch(VarType::Long, 2); // outside a 3-byte body

    ReceiveModes state;
    DataModeDecoder decoder(list);
    state.settings.mode = DataMode::MemoryMap;
    state.settings.headLen = 1;
    state.settings.headMark[0] = 0xA5;
    state.settings.endLen = 1;
    state.settings.endMark[0] = 0xFE;
    // Two blocks: the char keeps its value (its row does not change), its sample still comes.
    const std::vector<uint8_t> chunk{0xA5, 7, 0xFF, 0xFF, 0xFE, 0xA5, 7, 0xFF, 0x3F, 0xFE};
    const ReceiveResult r = decoder.process(state, chunk);
    ASSERT_EQ(r.samples.size(), 6u);
    EXPECT_EQ(r.samples[0].series, ch);
    EXPECT_EQ(r.samples[0].value, 7);
    EXPECT_EQ(r.samples[1].series, in);
    EXPECT_EQ(r.samples[1].value, -1);
    EXPECT_EQ(r.samples[1].kind, SampleKind::I16);
    EXPECT_EQ(r.samples[2].series, mask);
    EXPECT_EQ(r.samples[2].value, 0x0F);
    EXPECT_EQ(r.samples[5].value, 0x0F);
    EXPECT_NE(r.samples[0].block, r.samples[3].block);
    EXPECT_EQ(r.samples[0].time, r.samples[5].time);
    EXPECT_TRUE(std::none_of(r.samples.begin(), r.samples.end(), [&](const Sample& s) { return s.series == past; }));
    EXPECT_EQ(r.samples[4].value, 0x3FFF);
}
