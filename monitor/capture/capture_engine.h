#pragma once
// The helper's logic between the kernel events and the request channel:
// answers every request, turns events into records, filters them and keeps
// them in a bounded queue until the program reads them. No BPF in here; the
// kernel side is reached through KernelControl.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "monitor/capture/capture_events.h"
#include "monitor/capture/channel.h"
#include "monitor/capture/record_text.h"

namespace quillon::capture {

class KernelControl {
public:
    virtual ~KernelControl() = default;
    // Each returns 0 or the system error.
    virtual int setCapture(bool on) = 0;
    virtual int setMaxBytes(uint32_t bytes) = 0;
    // The whole set of hooked nodes (PortNode::key()) and their slots.
    virtual int setHooks(const std::map<uint64_t, uint32_t>& nodeSlots) = 0;
};

// The hook key (PortNode::key()) of the port a path names, or nothing when
// it names no port this client may hook (see port_access.h).
using DeviceLookup = std::function<std::optional<uint64_t>(const std::string& path)>;

struct EngineLimits {
    size_t maxRecords = 262144;
    size_t maxBytes = 32u << 20;
    // A request still running this long after it entered is shown at once
    // and completed later by a second record.
    uint64_t blockedAfterNs = 20'000'000;
    // Requests waiting for their exit. An exit the kernel could not hand
    // over leaves its entry behind; the oldest goes when the table is full.
    size_t maxInFlight = 1024;
};

// Records waiting to be read, end to end in one byte queue: a record costs
// its own bytes and four more, not a heap block of its own (a full queue
// is a quarter of a million records).
class RecordQueue {
public:
    void push(const std::vector<uint8_t>& record);
    // Moves the oldest record to the end of `out`.
    void takeFront(std::vector<uint8_t>& out);
    void dropFront();
    void clear();
    size_t records() const { return sizes_.size(); }
    size_t bytes() const { return bytes_.size(); }
    size_t frontSize() const { return sizes_.front(); }
    bool empty() const { return sizes_.empty(); }

private:
    std::deque<uint8_t> bytes_;
    std::deque<uint32_t> sizes_;
};

class CaptureEngine {
public:
    CaptureEngine(KernelControl& kernel, DeviceLookup lookup, EngineLimits limits = {});

    Answer handle(const Request& request);

    // One ring-buffer event, as raw bytes (checked, never trusted).
    void onEvent(std::span<const uint8_t> raw);
    // Emits the entry records of requests that have been blocking too long.
    void flushPending(uint64_t monotonicNowNs);
    // Events the kernel could not hand over; reported like dropped records.
    void addLost(uint64_t count) { dropped_ += count; }
    // CLOCK_REALTIME minus CLOCK_MONOTONIC, to date the kernel's timestamps.
    void setClockOffset(int64_t realMinusMonotonicNs) { clockOffsetNs_ = realMinusMonotonicNs; }

    size_t queuedRecords() const { return queue_.records(); }
    uint64_t droppedRecords() const { return dropped_; }
    bool capturing() const { return capturing_; }
    uint32_t maxBytes() const { return maxBytes_; }
    bool hexDisplay() const { return hex_; }
    // Slot of entry i of a hook block: serial ports first, then parallel.
    static constexpr uint32_t kParallelSlotBase = 64;

private:
    struct InFlight {
        int32_t sequence = -1; // set once its first record is out
        bool dropped = false;  // filtered out: its exit is swallowed too
        uint8_t kind = 0;
        uint32_t slot = 0;
        uint32_t pid = 0;
        std::string comm;
        uint64_t entryNs = 0;
        uint64_t arg = 0;
        uint64_t arg2 = 0;
        std::vector<uint8_t> data;
    };
    struct Exit {
        int64_t ret = 0;
        uint64_t timeNs = 0;
        std::span<const uint8_t> data;
    };

    Answer hook(const Request& r, bool parallel);
    Answer setFilter(const Request& r);
    Answer read(uint32_t outputSize);
    void onEnter(const qpm_event& ev, std::span<const uint8_t> data);
    void onExit(const qpm_event& ev, std::span<const uint8_t> data);
    void forget(std::map<uint32_t, InFlight>::iterator it);
    bool wanted(const InFlight& f) const;
    std::string entryText(const InFlight& f) const;
    std::string fullText(const InFlight& f, const Exit& e) const;
    std::string completionOther(const InFlight& f, const Exit& e) const;
    std::string programField(const InFlight& f) const;
    std::string deviceName(uint32_t slot) const;
    std::optional<uint32_t> slotOfPath(std::string_view path) const;
    int32_t nextSequence();
    uint64_t fileTime(uint64_t monotonicNs) const;
    void push(int32_t sequence, uint64_t fileTime, const std::string& text);

    KernelControl& kernel_;
    DeviceLookup lookup_;
    EngineLimits limits_;

    bool capturing_ = false;
    bool hex_ = false;
    uint32_t maxBytes_ = 64;
    bool captureReads_ = true;
    bool captureWrites_ = true;
    RecordFilter filter_;
    std::map<uint64_t, uint32_t> serialHooks_; // node key -> slot
    std::map<uint64_t, uint32_t> parallelHooks_;
    std::map<uint32_t, std::string> slotNames_;
    std::map<uint32_t, std::string> slotPaths_; // as stat'ed, for failed opens

    std::map<uint32_t, InFlight> inFlight_; // by thread id
    RecordQueue queue_;
    uint64_t dropped_ = 0;
    uint32_t sequence_ = 0;
    int64_t clockOffsetNs_ = 0;
};

} // namespace quillon::capture
