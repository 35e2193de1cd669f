// Fuzz target: arbitrary bytes from the program's side of the channel, and
// arbitrary kernel events, through the helper's parser and request handling.
// Whatever comes in, reads hand out whole records within the read buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "monitor/capture/capture_engine.h"
#include "monitor/record_walk.h"

using namespace quillon::capture;

namespace {

struct NullKernel : KernelControl {
    int setCapture(bool) override { return 0; }
    int setMaxBytes(uint32_t) override { return 0; }
    int setHooks(const std::map<uint64_t, uint32_t>&) override { return 0; }
};

// Never touches the file system: a name is a device when it starts with "tty".
std::optional<uint32_t> lookup(const std::string& path)
{
    if (path.rfind("/dev/tty", 0) == 0) return static_cast<uint32_t>(path.size());
    return std::nullopt;
}

size_t checkRead(CaptureEngine& engine, uint32_t outputSize)
{
    Request r;
    r.code = kReadRecords;
    r.outputSize = outputSize;
    Answer a = engine.handle(r);
    if (!a.ok || a.output.size() > std::min<size_t>(kReadBufferSize, outputSize)) std::abort();
    // Every record must be whole: the walk steps over the whole answer.
    size_t pos = 0;
    while (pos < a.output.size()) {
        const auto* text = reinterpret_cast<const char*>(a.output.data() + pos + 13);
        const size_t n = strnlen(text, a.output.size() - pos - 13);
        pos += 13 + ((n + 4) & ~size_t(3));
    }
    if (pos != a.output.size()) std::abort();
    if (std::getenv("QUILLON_FUZZ_VERBOSE")) std::fprintf(stderr, "read %zu bytes\n", a.output.size());
    return a.output.size();
}

} // namespace

namespace {

// Picks the request codes and block sizes the helper knows, most of the
// time, so random input reaches past the size checks.
Request structuredRequest(const uint8_t*& p, const uint8_t* end)
{
    static const uint32_t codes[] = {kStartCapture, kStopCapture,  kDiscardRecords, kReadRecords,  kSetFilter,
                                     kHookSerial,   kHookParallel, kHexDisplay,     kMaxDataBytes, 0x83070044};
    static const size_t sizes[] = {0, 4, kFilterBlockSize, kHookBlockSize, 3, 257};
    Request r;
    if (end - p < 3) {
        p = end;
        return r;
    }
    r.code = codes[p[0] % 10];
    size_t len = sizes[p[1] % 6];
    r.outputSize = p[2] % 2 ? kReadBufferSize : p[2];
    p += 3;
    r.input.assign(len, 0);
    // Filters and hook names come from the input; hook names get a plausible prefix.
    const size_t take = std::min<size_t>(static_cast<size_t>(end - p), std::min<size_t>(len, 300));
    if (take) std::memcpy(r.input.data(), p, take);
    if (len == kHookBlockSize)
        for (size_t i = 0; i < 4; ++i) std::memcpy(r.input.data() + 4 + 256 * i, "/dev/tty", 8);
    p += take;
    return r;
}

std::vector<uint8_t> structuredEvent(const uint8_t*& p, const uint8_t* end)
{
    qpm_event ev{};
    const size_t take = std::min<size_t>(static_cast<size_t>(end - p), sizeof ev);
    std::memcpy(&ev, p, take);
    p += take;
    static const uint8_t kinds[] = {QPM_READ, QPM_WRITE, QPM_IOCTL, QPM_OPENAT};
    ev.type = 1 + ev.type % 3;
    ev.kind = ev.kind >= 240 ? ev.kind % 12 : kinds[ev.kind % 4];
    ev.tid %= 4;
    ev.time_ns %= 1'000'000'000;
    ev.slot = ev.slot % 71 == 70 ? QPM_SLOT_BY_PATH : ev.slot % 70; // a failed open names its path
    const size_t data = std::min<size_t>(static_cast<size_t>(end - p), ev.data_len % 80);
    std::vector<uint8_t> raw(sizeof ev + data);
    std::memcpy(raw.data(), &ev, sizeof ev);
    std::memcpy(raw.data() + sizeof ev, p, data);
    p += data;
    return raw;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    NullKernel kernel;
    EngineLimits limits;
    limits.maxRecords = 64;
    CaptureEngine engine(kernel, lookup, limits);
    if (size < 2) return 0;
    // First byte: where the channel bytes end; second: how they are cut.
    const size_t split = size * data[0] / 256;
    const size_t chunk = 1 + data[1] % 64;
    RequestParser parser;
    std::vector<Request> requests;
    for (size_t i = 2; i < split; i += chunk) {
        parser.feed({data + i, std::min(chunk, split - i)}, requests);
        for (const Request& r : requests) {
            Answer a = engine.handle(r);
            if (a.ok && r.code == kReadRecords && a.output.size() > kReadBufferSize) std::abort();
        }
        requests.clear();
    }
    // The rest alternates structured requests and kernel events.
    Request start;
    start.code = kStartCapture;
    engine.handle(start);
    uint64_t clock = 500'000'000;
    const uint8_t* p = data + std::max<size_t>(split, 2);
    const uint8_t* end = data + size;
    while (p < end) {
        if (*p++ % 4 == 0) {
            Request r = structuredRequest(p, end);
            if (r.code == kReadRecords)
                checkRead(engine, r.outputSize);
            else
                engine.handle(r);
        } else {
            engine.onEvent(structuredEvent(p, end));
        }
        clock += 7'000'000;
        engine.flushPending(clock);
    }
    checkRead(engine, 40);
    return static_cast<int>(checkRead(engine, kReadBufferSize) & 0);
}
