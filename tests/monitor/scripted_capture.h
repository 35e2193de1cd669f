#pragma once
// A capture component played by the test: it records every request, grants
// or refuses ports, fails the requests it is told to, can die, and hands out
// the record buffers the test queued. Also builds records in the device's layout.

#include "monitor/capture/record_text.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_requests.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quillon::test {

struct SentRequest {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outputSize;
};

// A value the loading thread and the test both touch; copied with the
// component when a test replaces it.
template <class T>
struct SharedValue {
    std::atomic<T> value{};
    SharedValue() = default;
    SharedValue(T v) : value(v) {}
    SharedValue(const SharedValue& o) : value(o.value.load()) {}
    SharedValue& operator=(const SharedValue& o)
    {
        value = o.value.load();
        return *this;
    }
    SharedValue& operator=(T v)
    {
        value = v;
        return *this;
    }
    operator T() const { return value; }
};

class ScriptedCapture : public monitor::CaptureService {
public:
    // Results of the coming load() calls; None once the queue is empty.
    std::deque<monitor::LoadFailure> loadResults;
    // Requests with these codes fail (the component stays).
    std::set<uint32_t> failing;
    // Port bits the component refuses to hook.
    uint32_t refusedSerial = 0;
    uint32_t refusedParallel = 0;
    // Answers of the coming reads; an empty queue answers 0 bytes, unless
    // `endless` makes one for every read.
    std::deque<std::vector<uint8_t>> reads;
    std::function<std::vector<uint8_t>()> endless;

    std::vector<SentRequest> requests;
    SharedValue<int> loads = 0;
    int unloads = 0;
    // Runs inside load(), on the thread that loads (a password being asked).
    std::function<void()> duringLoad;
    SharedValue<bool> cancelled = false;

    void setLoadCancelled(bool on) override { cancelled = on; }
    monitor::LoadFailure load() override
    {
        loads = loads + 1;
        if (duringLoad) duringLoad();
        if (cancelled) return monitor::LoadFailure::Cancelled;
        monitor::LoadFailure r = monitor::LoadFailure::None;
        if (!loadResults.empty()) {
            r = loadResults.front();
            loadResults.pop_front();
        }
        running_ = r == monitor::LoadFailure::None;
        return r;
    }
    void unload() override
    {
        ++unloads;
        running_ = false;
    }
    bool loaded() const override { return running_; }

    // The component dies: every request from now on fails.
    void kill() { dead_ = true; }

    monitor::CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) override
    {
        requests.push_back({code, {input.begin(), input.end()}, outputSize});
        if (dead_) {
            running_ = false;
            return {false, 32, {}};
        }
        if (!running_ || failing.count(code)) return {false, 5, {}};
        if (code == monitor::kHookSerial || code == monitor::kHookParallel) {
            const uint32_t refused = code == monitor::kHookSerial ? refusedSerial : refusedParallel;
            const uint32_t granted = monitor::hookMaskOf(input) & ~refused;
            return {true, 0, monitor::uint32Block(granted)};
        }
        if (code == monitor::kReadRecords) {
            if (endless) return {true, 0, endless()};
            if (reads.empty()) return {true, 0, {}};
            auto out = std::move(reads.front());
            reads.pop_front();
            return {true, 0, out};
        }
        return {true, 0, {}};
    }

    std::vector<uint32_t> codes() const
    {
        std::vector<uint32_t> out;
        for (const auto& r : requests) out.push_back(r.code);
        return out;
    }
    const SentRequest* lastOf(uint32_t code) const
    {
        for (auto it = requests.rbegin(); it != requests.rend(); ++it)
            if (it->code == code) return &*it;
        return nullptr;
    }

private:
    bool running_ = false;
    bool dead_ = false;
};

// 2004-03-22 09:15:01 UTC as a file time.
inline constexpr uint64_t kSampleFileTime = 127244205010000000ULL;

// Appends one record in the layout the helper writes.
inline void appendRecord(std::vector<uint8_t>& buf, int32_t sequence, uint64_t fileTime, const std::string& text)
{
    capture::appendRecord(buf, sequence, fileTime, text);
}

inline std::string blockText(const std::vector<uint8_t>& block, size_t offset, size_t size)
{
    const char* p = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(p, strnlen(p, size));
}

} // namespace quillon::test
