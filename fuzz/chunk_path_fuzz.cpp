// Random chunks against random data-mode settings: the decoder must agree
// with a plain model of the cutting rules, keep the accumulator within its
// 2048 bytes, and report exactly the rows whose value changed.

#include "serial/receive_state.h"
#include "vars/decoding.h"
#include "vars/var_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::vars;

namespace {

using Bytes = std::vector<uint8_t>;

// Reads the fuzzer's input as a stream of choices.
struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    bool flag() { return byte() & 1; }
    bool empty() const { return n == 0; }
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
}

// -------- the model: the rules as plainly as they can be written

long naiveFind(const Bytes& data, const uint8_t* pat, size_t len)
{
    if (len == 0) return -1;
    for (size_t i = 0; i + len <= data.size(); ++i) {
        size_t k = 0;
        while (k < len && data[i + k] == pat[k]) ++k;
        if (k == len) return static_cast<long>(i);
    }
    return -1;
}

struct Model {
    DataModeSettings s;
    bool interactive = false;
    bool master = true;
    Bytes acc;
    Bytes shown;
    bool bodyShown = false;

    void append(const Bytes& chunk)
    {
        if (acc.size() + chunk.size() > 2048) acc.clear();
        acc.insert(acc.end(), chunk.begin(), chunk.end());
    }
    void replace(const Bytes& chunk) { acc = chunk; }
    void keepFrom(long at) { acc.erase(acc.begin(), acc.begin() + std::min<long>(at, static_cast<long>(acc.size()))); }

    // How many bytes at the end of the accumulator begin a head.
    size_t headStartAtEnd() const
    {
        size_t keep = 0;
        for (size_t k = 1; k < static_cast<size_t>(s.headLen) && k <= acc.size(); ++k)
            if (std::equal(acc.end() - static_cast<long>(k), acc.end(), s.headMark.begin())) keep = k;
        return keep;
    }

    // One cut; false when nothing changed.
    bool cut()
    {
        const long count = static_cast<long>(acc.size());
        long s0 = 0, e = count;
        const long hl = s.headLen, el = s.endLen;
        const bool marks = s.mode == DataMode::MemoryMap && !s.fixedLength;
        if (marks) {
            if (hl > 0) s0 = naiveFind(acc, s.headMark.data(), static_cast<size_t>(hl));
            if (el > 0) e = naiveFind(acc, s.endMark.data(), static_cast<size_t>(el));
        }
        if (marks && s0 >= 0 && el == 0 && hl > 0 && s0 + hl == count) {
            // A head with no body yet and no end mark to wait for: it waits.
            if (s0 == 0) return false;
            keepFrom(s0);
            return true;
        }
        if (s0 >= 0 && e >= 0) {
            if (e - s0 - hl >= 0) {
                shown.assign(acc.begin() + s0 + hl, acc.begin() + e);
                bodyShown = true;
                if (!interactive) s.blockDecoded = true;
            }
            keepFrom(e + el);
            return true;
        }
        if (e >= 0 && el == 0) {
            // No end mark: everything goes but the start of a head.
            const size_t keep = headStartAtEnd();
            if (keep == acc.size()) return false;
            acc.erase(acc.begin(), acc.end() - static_cast<long>(keep));
            return true;
        }
        if (e >= 0) {
            keepFrom(e + el);
            return true;
        }
        if (s0 < 0) {
            // Keep the start of a head at the end, if any; never show
            // unframed bytes in place of a block's body.
            const size_t keep = headStartAtEnd();
            if (keep == acc.size()) return false;
            if (!bodyShown) shown.insert(shown.end(), acc.begin(), acc.end() - static_cast<long>(keep));
            acc.erase(acc.begin(), acc.end() - static_cast<long>(keep));
            return true;
        }
        if (s0 > 0) {
            keepFrom(s0);
            return true;
        }
        return false;
    }

    void strings(const Bytes& chunk)
    {
        append(chunk);
        std::string text(acc.begin(), acc.end());
        text = text.substr(0, text.find('\0'));
        const std::string sep = s.separator;
        if (sep == "\r\n") {
            shown.assign(text.begin(), text.end());
            acc.clear();
            return;
        }
        std::string out;
        std::string rest = text;
        for (;;) {
            const size_t at = rest.find(sep);
            if (at == std::string::npos) break;
            out += rest.substr(0, at) + "\r\n";
            rest = rest.substr(at + sep.size());
        }
        if (!rest.empty() && sep.find(rest.back()) != std::string::npos) {
            shown.assign(out.begin(), out.end());
            acc.assign(rest.begin(), rest.end());
        } else {
            out += rest;
            shown.assign(out.begin(), out.end());
            acc.clear();
        }
    }

    void feed(const Bytes& chunk, bool lineIdle)
    {
        shown.clear();
        bodyShown = false;
        if (s.mode == DataMode::Normal) {
            shown = chunk;
            if (interactive && !master) {
                if (lineIdle)
                    replace(chunk);
                else
                    append(chunk);
            } else {
                acc.clear();
            }
        } else if (s.mode == DataMode::MultiVars && s.stringVars) {
            strings(chunk);
        } else if (s.mode == DataMode::MultiVars) {
            append(chunk);
            cut();
        } else if (s.fixedLength) {
            if (s.blockDecoded && !interactive)
                replace(chunk);
            else
                append(chunk);
            if (static_cast<long>(chunk.size()) > s.fixedCount) cut();
        } else if (interactive && !master) {
            if (lineIdle)
                replace(chunk);
            else
                append(chunk);
        } else {
            // Marks: in as far as there is room, cutting every block; a full
            // accumulator that frames nothing drops up to the next head.
            size_t at = 0;
            while (at < chunk.size()) {
                if (acc.size() == 2048) {
                    size_t from = acc.size();
                    if (s.headLen > 0) {
                        const long next = naiveFind(Bytes(acc.begin() + 1, acc.end()), s.headMark.data(),
                                                    static_cast<size_t>(s.headLen));
                        from = next >= 0 ? static_cast<size_t>(next) + 1 : acc.size() - headStartAtEnd();
                    }
                    keepFrom(static_cast<long>(from));
                }
                const size_t take = std::min(chunk.size() - at, 2048 - acc.size());
                acc.insert(acc.end(), chunk.begin() + static_cast<long>(at),
                           chunk.begin() + static_cast<long>(at + take));
                at += take;
                while (!acc.empty() && cut()) {}
            }
        }
    }
};

DataModeSettings randomSettings(Input& in)
{
    DataModeSettings s;
    const uint8_t m = in.byte() % 3;
    s.mode = m == 0 ? DataMode::Normal : m == 1 ? DataMode::MultiVars : DataMode::MemoryMap;
    // Small alphabets make marks that actually occur.
    const uint8_t alphabet = static_cast<uint8_t>(2 + in.byte() % 4);
    s.headLen = in.byte() % 4;
    for (int i = 0; i < s.headLen; ++i) s.headMark[static_cast<size_t>(i)] = in.byte() % alphabet;
    s.endLen = in.byte() % 4;
    for (int i = 0; i < s.endLen; ++i) s.endMark[static_cast<size_t>(i)] = in.byte() % alphabet;
    s.startAddress = static_cast<int8_t>(in.byte());
    s.fixedLength = in.flag();
    s.fixedCount = static_cast<int8_t>(in.byte());
    s.stringVars = in.flag();
    const uint8_t sepLen = in.byte() % 3;
    if (sepLen == 0) {
        s.separator = "\r\n";
    } else {
        for (int i = 0; i < sepLen; ++i) s.separator += static_cast<char>(1 + in.byte() % alphabet);
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    VarList vars;
    ReceiveModes state;
    auto owned = std::make_unique<DataModeDecoder>(vars);
    DataModeDecoder* decoder = owned.get();
    state.settings = randomSettings(in);
    state.role.interactive = in.flag();
    state.role.master = in.flag();

    const int rowCount = in.byte() % 6;
    for (int i = 0; i < rowCount; ++i) {
        VarRow r;
        r.def.number = i;
        r.def.type = static_cast<VarType>(in.byte() % 7);
        r.def.format = static_cast<DisplayFormat>(in.byte() % 3);
        r.def.offset = static_cast<int8_t>(in.byte());
        r.def.watched = in.byte() % 4 != 0;
        r.length = static_cast<int8_t>(in.byte());
        vars.insert(r);
    }

    Model model;
    model.s = state.settings;
    model.interactive = state.role.interactive;
    model.master = state.role.master;
    // Large chunks come from repeating a short pattern.
    Bytes chunk;
    while (!in.empty()) {
        const uint8_t len = in.byte();
        chunk.clear();
        if (len >= 250) {
            const size_t big = 200 + static_cast<size_t>(in.byte()) * 8;
            const uint8_t a = in.byte(), b = in.byte();
            for (size_t i = 0; i < std::min<size_t>(big, 2048); ++i) chunk.push_back(i % 3 ? a : b);
        } else {
            for (int i = 0; i < 1 + len % 24; ++i) chunk.push_back(in.byte());
        }
        const bool idle = in.flag();
        if (in.flag()) state.settings.blockDecoded = model.s.blockDecoded = false; // the hex dump restarted

        if (idle) state.burst.lineWentIdle();
        std::vector<std::string> before;
        for (const auto& r : vars.rows()) before.push_back(r.value);
        const ReceiveResult result = decoder->process(state, chunk);
        state.burst.chunkDelivered();
        model.feed(chunk, idle);

        if (state.burst.ReceiveAccumulator.count > Accumulator::kCapacity) fail("accumulator overfilled");
        if (!std::equal(model.acc.begin(), model.acc.end(), state.burst.ReceiveAccumulator.data.begin()) ||
            model.acc.size() != state.burst.ReceiveAccumulator.count)
            fail("accumulator");
        if (!std::equal(model.shown.begin(), model.shown.end(), result.display.begin(), result.display.end()))
            fail("display");
        if (model.s.blockDecoded != state.settings.blockDecoded) fail("blockDecoded");
        for (size_t i = 0; i < vars.size(); ++i) {
            const bool reported = std::binary_search(result.changedRows.begin(), result.changedRows.end(), i);
            if (reported != (before[i] != vars.row(i).value)) fail("changed rows");
            if (!vars.row(i).def.watched && vars.row(i).value != "0") fail("unwatched row decoded");
        }
    }
    (void)decoder;
    return 0;
}
