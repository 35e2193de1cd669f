#include "monitor/capture/capture_engine.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "monitor/capture/ioctl_decode.h"

namespace quillon::capture {

namespace {

const char* requestName(uint8_t kind)
{
    switch (kind) {
    case QPM_OPEN:
    case QPM_OPENAT:
    case QPM_OPENAT2: return "IRP_MJ_CREATE";
    case QPM_READ:
    case QPM_READV: return "IRP_MJ_READ";
    case QPM_WRITE:
    case QPM_WRITEV: return "IRP_MJ_WRITE";
    case QPM_IOCTL: return "IRP_MJ_DEVICE_CONTROL";
    case QPM_CLOSE: return "IRP_MJ_CLOSE";
    default: return "";
    }
}

bool isRead(uint8_t k) { return k == QPM_READ || k == QPM_READV; }
bool isWrite(uint8_t k) { return k == QPM_WRITE || k == QPM_WRITEV; }

// Names from other programs and hook blocks must not carry field separators.
std::string printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '.' : c;
    return out;
}

std::string_view zeroEnded(std::span<const uint8_t> field)
{
    const auto* p = reinterpret_cast<const char*>(field.data());
    return {p, strnlen(p, field.size())};
}

uint32_t u32(std::span<const uint8_t> in) { return getU32(in.data()); }

bool isOpen(uint8_t k) { return k == QPM_OPEN || k == QPM_OPENAT || k == QPM_OPENAT2; }

// "O_RDWR O_NOCTTY O_NONBLOCK": how a program opened the port.
std::string openFlags(uint64_t flags)
{
    static const char* const access[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};
    std::string out = access[flags & O_ACCMODE];
    static const std::pair<uint64_t, const char*> named[] = {
        {O_CREAT, "O_CREAT"},   {O_EXCL, "O_EXCL"},         {O_NOCTTY, "O_NOCTTY"}, {O_TRUNC, "O_TRUNC"},
        {O_APPEND, "O_APPEND"}, {O_NONBLOCK, "O_NONBLOCK"}, {O_DSYNC, "O_DSYNC"},   {O_CLOEXEC, "O_CLOEXEC"},
    };
    for (const auto& [bit, name] : named)
        if (flags & bit) {
            out += ' ';
            out += name;
        }
    return out;
}

std::vector<uint8_t> u32Bytes(uint32_t v)
{
    std::vector<uint8_t> out;
    putU32(out, v);
    return out;
}

} // namespace

void RecordQueue::push(const std::vector<uint8_t>& record)
{
    bytes_.insert(bytes_.end(), record.begin(), record.end());
    sizes_.push_back(static_cast<uint32_t>(record.size()));
}

void RecordQueue::takeFront(std::vector<uint8_t>& out)
{
    const auto end = bytes_.begin() + sizes_.front();
    out.insert(out.end(), bytes_.begin(), end);
    bytes_.erase(bytes_.begin(), end);
    sizes_.pop_front();
}

void RecordQueue::dropFront()
{
    bytes_.erase(bytes_.begin(), bytes_.begin() + sizes_.front());
    sizes_.pop_front();
}

void RecordQueue::clear()
{
    bytes_ = {};
    sizes_ = {};
}

CaptureEngine::CaptureEngine(KernelControl& kernel, DeviceLookup lookup, EngineLimits limits)
    : kernel_(kernel), lookup_(std::move(lookup)), limits_(limits)
{
}

Answer CaptureEngine::handle(const Request& r)
{
    if (r.oversized) return Answer::failure(EINVAL);
    const size_t in = r.input.size();
    switch (r.code) {
    case kStartCapture:
    case kStopCapture: {
        if (in != 0) return Answer::failure(EINVAL);
        const bool on = r.code == kStartCapture;
        if (int err = kernel_.setCapture(on)) return Answer::failure(err);
        capturing_ = on;
        return Answer::success();
    }
    case kDiscardRecords:
        if (in != 0) return Answer::failure(EINVAL);
        queue_.clear();
        dropped_ = 0;
        return Answer::success();
    case kReadRecords:
        if (in != 0) return Answer::failure(EINVAL);
        return read(r.outputSize);
    case kSetFilter: return setFilter(r);
    case kHookSerial:
    case kHookParallel: return hook(r, r.code == kHookParallel);
    case kHexDisplay:
        if (in != 4) return Answer::failure(EINVAL);
        hex_ = u32(r.input) != 0;
        return Answer::success();
    case kMaxDataBytes: {
        if (in != 4) return Answer::failure(EINVAL);
        // Taken as unsigned, so a negative value is as large as it gets: the limit.
        const uint32_t n = std::min(u32(r.input), kDataBytesLimit);
        if (int err = kernel_.setMaxBytes(n)) return Answer::failure(err);
        maxBytes_ = n;
        return Answer::success();
    }
    default: return Answer::failure(ENOTTY);
    }
}

Answer CaptureEngine::setFilter(const Request& r)
{
    if (r.input.size() != kFilterBlockSize) return Answer::failure(EINVAL);
    std::span<const uint8_t> block(r.input);
    filter_.set(zeroEnded(block.subspan(0, kFilterFieldSize)),
                zeroEnded(block.subspan(kFilterFieldSize, kFilterFieldSize)));
    captureReads_ = block[256] != 0;
    captureWrites_ = block[257] != 0;
    return Answer::success();
}

Answer CaptureEngine::hook(const Request& r, bool parallel)
{
    if (r.input.size() != kHookBlockSize || r.outputSize < 4) return Answer::failure(EINVAL);
    std::span<const uint8_t> block(r.input);
    const uint32_t asked = u32(block);
    const uint32_t base = parallel ? kParallelSlotBase : 0;
    uint32_t hookedMask = 0;
    std::map<uint64_t, uint32_t> devices;
    std::map<uint32_t, std::string> names, paths;
    for (uint32_t i = 0; i < kHookablePorts; ++i) {
        if (!(asked & (1u << i))) continue;
        auto field = block.subspan(4 + kHookNameSize * i, kHookNameSize);
        std::string_view name = zeroEnded(field);
        if (name.empty() || name.size() == field.size()) continue; // no name, or no terminator
        std::string path = name.front() == '/' ? std::string(name) : "/dev/" + std::string(name);
        // Ports live under /dev; anything else a block names is not even stat'ed.
        if (path.rfind("/dev/", 0) != 0 || path.find("/..") != std::string::npos) continue;
        std::optional<uint64_t> dev = lookup_(path);
        if (!dev) continue;
        devices[*dev] = base + i;
        names[base + i] = printable(name);
        paths[base + i] = path;
        hookedMask |= 1u << i;
    }
    std::map<uint64_t, uint32_t> all = parallel ? serialHooks_ : devices;
    for (const auto& [dev, slot] : parallel ? devices : parallelHooks_) all.emplace(dev, slot);
    if (int err = kernel_.setHooks(all)) return Answer::failure(err);
    (parallel ? parallelHooks_ : serialHooks_) = std::move(devices);
    for (auto& [slot, name] : names) slotNames_[slot] = std::move(name);
    for (auto& [slot, path] : paths) slotPaths_[slot] = std::move(path);
    return Answer::success(u32Bytes(hookedMask));
}

Answer CaptureEngine::read(uint32_t outputSize)
{
    const size_t limit = std::min<size_t>(outputSize, kReadBufferSize);
    std::vector<uint8_t> out;
    if (dropped_ > 0) {
        std::vector<uint8_t> marker;
        const std::string text = "quillon-portmon\t\t\tOVERFLOW\t" + std::to_string(dropped_) +
                                 " records dropped: they came faster than they were read";
        appendRecord(marker, nextSequence(), fileTime(0), text);
        if (marker.size() <= limit) {
            out = std::move(marker);
            dropped_ = 0;
        } else {
            --sequence_;
        }
    }
    while (!queue_.empty() && out.size() + queue_.frontSize() <= limit) queue_.takeFront(out);
    return Answer::success(std::move(out));
}

int32_t CaptureEngine::nextSequence()
{
    const int32_t s = static_cast<int32_t>(sequence_ & 0x7FFFFFFF);
    ++sequence_;
    return s;
}

uint64_t CaptureEngine::fileTime(uint64_t monotonicNs) const
{
    if (monotonicNs == 0) {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return fileTimeFromUnixNs(int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec);
    }
    return fileTimeFromUnixNs(static_cast<int64_t>(monotonicNs) + clockOffsetNs_);
}

void CaptureEngine::push(int32_t sequence, uint64_t time, const std::string& text)
{
    std::vector<uint8_t> rec = encodeRecord(sequence, time, text);
    queue_.push(rec);
    // Oldest records go first; the next read says how many.
    while (queue_.records() > limits_.maxRecords || queue_.bytes() > limits_.maxBytes) {
        queue_.dropFront();
        ++dropped_;
    }
}

void CaptureEngine::onEvent(std::span<const uint8_t> raw)
{
    if (raw.size() < sizeof(qpm_event)) return;
    qpm_event ev;
    std::memcpy(&ev, raw.data(), sizeof ev);
    std::span<const uint8_t> data = raw.subspan(sizeof ev);
    data = data.first(std::min<size_t>(data.size(), ev.data_len));
    if (ev.type == QPM_EV_ENTER && isOpen(ev.kind) && ev.slot == QPM_SLOT_BY_PATH) {
        // A failed open: the path it named tells whether it was a hooked port.
        std::optional<uint32_t> slot = slotOfPath(zeroEnded(data));
        if (!slot) {
            inFlight_.erase(ev.tid);
            return;
        }
        qpm_event known = ev;
        known.slot = *slot;
        onEnter(known, {});
        return;
    }
    data = data.first(std::min<size_t>(data.size(), maxBytes_));
    if (ev.type == QPM_EV_ENTER)
        onEnter(ev, data);
    else if (ev.type == QPM_EV_EXIT)
        onExit(ev, data);
}

void CaptureEngine::onEnter(const qpm_event& ev, std::span<const uint8_t> data)
{
    if (auto same = inFlight_.find(ev.tid); same != inFlight_.end()) {
        // The thread's last request never saw its exit (the kernel lost it).
        forget(same);
    } else if (inFlight_.size() >= limits_.maxInFlight) {
        auto oldest = std::min_element(inFlight_.begin(), inFlight_.end(), [](const auto& a, const auto& b) {
            return a.second.entryNs < b.second.entryNs;
        });
        forget(oldest);
    }
    InFlight& f = inFlight_[ev.tid];
    f = InFlight{};
    f.kind = ev.kind;
    f.slot = ev.slot;
    f.pid = ev.pid;
    f.comm = printable(zeroEnded({reinterpret_cast<const uint8_t*>(ev.comm), sizeof ev.comm}));
    f.entryNs = ev.time_ns;
    f.arg = ev.arg;
    f.arg2 = ev.arg2;
    f.data.assign(data.begin(), data.end());
    f.dropped = !wanted(f);
}

// A request given up before its exit: a record the user would have seen is
// counted with the dropped ones.
void CaptureEngine::forget(std::map<uint32_t, InFlight>::iterator it)
{
    if (!it->second.dropped) ++dropped_;
    inFlight_.erase(it);
}

bool CaptureEngine::wanted(const InFlight& f) const
{
    if (isRead(f.kind) && !captureReads_) return false;
    if (isWrite(f.kind) && !captureWrites_) return false;
    const std::string program = programField(f);
    const std::string device = deviceName(f.slot);
    return filter_.passes({f.comm, program, requestName(f.kind), device});
}

void CaptureEngine::onExit(const qpm_event& ev, std::span<const uint8_t> data)
{
    auto it = inFlight_.find(ev.tid);
    if (it == inFlight_.end()) return;
    InFlight f = std::move(it->second);
    inFlight_.erase(it);
    if (f.dropped || f.kind != ev.kind) return;
    Exit e{ev.ret, ev.time_ns, data};
    if (f.sequence < 0) {
        push(nextSequence(), fileTime(f.entryNs), fullText(f, e));
    } else {
        push(f.sequence, fileTime(e.timeNs), "\t\t\t" + resultText(e.ret) + "\t" + completionOther(f, e));
    }
}

void CaptureEngine::flushPending(uint64_t now)
{
    std::vector<InFlight*> due;
    for (auto& [tid, f] : inFlight_)
        if (f.sequence < 0 && !f.dropped && f.entryNs + limits_.blockedAfterNs <= now) due.push_back(&f);
    std::sort(due.begin(), due.end(), [](const InFlight* a, const InFlight* b) { return a->entryNs < b->entryNs; });
    for (InFlight* f : due) {
        f->sequence = nextSequence();
        push(f->sequence, fileTime(f->entryNs), entryText(*f));
    }
}

std::optional<uint32_t> CaptureEngine::slotOfPath(std::string_view path) const
{
    for (const auto* hooks : {&serialHooks_, &parallelHooks_})
        for (const auto& [dev, slot] : *hooks) {
            auto it = slotPaths_.find(slot);
            if (it != slotPaths_.end() && it->second == path) return slot;
        }
    return std::nullopt;
}

std::string CaptureEngine::programField(const InFlight& f) const { return f.comm + ":" + std::to_string(f.pid); }

std::string CaptureEngine::deviceName(uint32_t slot) const
{
    auto it = slotNames_.find(slot);
    return it == slotNames_.end() ? std::string() : it->second;
}

namespace {

std::span<const uint8_t> firstBytes(std::span<const uint8_t> d, int64_t n)
{
    return d.first(std::min<uint64_t>(d.size(), n < 0 ? 0 : static_cast<uint64_t>(n)));
}

} // namespace

// The fields up to the result, then the other field.
std::string CaptureEngine::entryText(const InFlight& f) const
{
    std::string other;
    if (isRead(f.kind))
        other = "Length " + std::to_string(f.arg);
    else if (isWrite(f.kind))
        other = lengthAndData(f.arg, f.data, hex_);
    else if (f.kind == QPM_IOCTL)
        other = describeIoctl(static_cast<uint32_t>(f.arg), f.arg2, f.data);
    else if (isOpen(f.kind))
        other = openFlags(f.arg);
    return programField(f) + "\t" + requestName(f.kind) + "\t" + deviceName(f.slot) + "\t\t" + other;
}

std::string CaptureEngine::fullText(const InFlight& f, const Exit& e) const
{
    std::string other;
    const bool ok = e.ret >= 0;
    if (isRead(f.kind))
        other = ok ? lengthAndData(e.ret, e.data, hex_) : "Length " + std::to_string(f.arg);
    else if (isWrite(f.kind))
        other = ok ? lengthAndData(e.ret, firstBytes(f.data, e.ret), hex_) : lengthAndData(f.arg, f.data, hex_);
    else if (f.kind == QPM_IOCTL) {
        const uint32_t cmd = static_cast<uint32_t>(f.arg);
        other = describeIoctl(cmd, f.arg2, ok && ioctlReturnsData(cmd) ? e.data : std::span<const uint8_t>(f.data));
    } else if (isOpen(f.kind)) {
        other = openFlags(f.arg);
    }
    return programField(f) + "\t" + requestName(f.kind) + "\t" + deviceName(f.slot) + "\t" + resultText(e.ret) + "\t" +
           other;
}

std::string CaptureEngine::completionOther(const InFlight& f, const Exit& e) const
{
    if (e.ret < 0) return {};
    if (isRead(f.kind)) return lengthAndData(e.ret, e.data, hex_);
    if (isWrite(f.kind)) return lengthAndData(e.ret, firstBytes(f.data, e.ret), hex_);
    if (f.kind == QPM_IOCTL && ioctlReturnsData(static_cast<uint32_t>(f.arg)))
        return describeIoctl(static_cast<uint32_t>(f.arg), f.arg2, e.data);
    return {};
}

} // namespace quillon::capture
