#pragma once
// The monitor's side of the capture component: loading and removing it, the
// hook masks the ports were granted, the requests, and the reads of a poll.

#include "monitor/capture_device.h"
#include "monitor/monitor_requests.h"

#include <cstdint>
#include <functional>
#include <span>

namespace quillon::monitor {

enum class PortKind { Serial, Parallel };

// How a run of reads ended.
enum class ReadEnd {
    Drained,     // a read returned nothing
    Failed,      // a read failed; the component is still there
    ChannelLost, // a read failed because the component is gone
    OutOfTime,   // records may be waiting; read on soon
};

// What capture is set to once the ports are hooked.
struct CaptureSettings {
    FilterSettings filter;
    // Read when its request is due: reading it may tell the user something.
    std::function<uint32_t()> maxBytes;
    bool hex = false;
    bool start = true; // start capturing at the end
};

// The request of the set-up that failed.
enum class SetUpStep { None, Discard, Filter, MaxBytes, Hex, Start };

class MonitorDriver {
public:
    explicit MonitorDriver(CaptureService* service) : service_(service) {}

    // The component runs and answers (the open device handle).
    bool handleValid() const { return service_ && service_->loaded(); }

    // Loads the component; a component left running is removed first. A
    // failed first attempt is retried once after removing what it left,
    // unless the failure is one a second attempt can't mend (missing
    // privilege or kernel support, a password not given), which would only
    // ask for a password again.
    bool loadDriverService();
    // Why the last load failed (None after a success).
    LoadFailure lastLoadFailure() const { return lastFailure_; }
    void removeDriverService();
    // Back to the unloaded state: the component removed, nothing hooked.
    void closeMonitor();

    // One request without output; false when it failed.
    bool send(uint32_t code, std::span<const uint8_t> input = {});
    bool sendValue(uint32_t code, uint32_t value);

    // Sends the hook block of `kind` with `mask`; the granted mask is kept
    // and returned, nullopt when the request failed.
    std::optional<uint32_t> hook(PortKind kind, uint32_t mask, const platform::PortTables& tables);
    uint32_t hookedMask(PortKind kind) const { return kind == PortKind::Serial ? serialMask_ : parallelMask_; }
    bool anyPortHooked() const { return serialMask_ != 0 || parallelMask_ != 0; }

    // The set-up that follows the hooks, in order: old records discarded,
    // the filter, the data bytes, hexadecimal display, then capture started
    // when asked. Stops at the first failed request and names it.
    SetUpStep setUpCapture(const CaptureSettings& settings);

    // Reads until the buffer is drained or a read fails, or until `inTime`
    // says the poll has used its share; reads of fewer than 6 bytes are skipped.
    ReadEnd readRecords(const std::function<bool()>& inTime,
                        const std::function<void(std::span<const uint8_t>)>& handle);

private:
    bool attemptLoad(LoadFailure& failure);

    CaptureService* service_;
    LoadFailure lastFailure_ = LoadFailure::None;
    uint32_t serialMask_ = 0;
    uint32_t parallelMask_ = 0;
};

} // namespace quillon::monitor
