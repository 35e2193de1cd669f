#include "monitor/monitor_driver.h"

#include <algorithm>

namespace quillon::monitor {

bool MonitorDriver::attemptLoad(LoadFailure& failure)
{
    // Whatever is left of an earlier component (of this run or an earlier
    // one) goes before a new one starts.
    service_->unload();
    failure = service_->load();
    if (failure == LoadFailure::None && !service_->loaded()) failure = LoadFailure::Other;
    return failure == LoadFailure::None;
}

bool MonitorDriver::loadDriverService()
{
    lastFailure_ = LoadFailure::Other;
    if (!service_) return false;
    if (attemptLoad(lastFailure_)) return true;
    if (lastFailure_ != LoadFailure::Other) return false;
    removeDriverService();
    return attemptLoad(lastFailure_);
}

void MonitorDriver::removeDriverService()
{
    if (service_) service_->unload();
}

void MonitorDriver::closeMonitor()
{
    removeDriverService();
    // A new component hooks nothing until it is told the ports again.
    serialMask_ = 0;
    parallelMask_ = 0;
}

bool MonitorDriver::send(uint32_t code, std::span<const uint8_t> input)
{
    if (!handleValid()) return false;
    return service_->request(code, input, 0).ok;
}

bool MonitorDriver::sendValue(uint32_t code, uint32_t value)
{
    const auto block = uint32Block(value);
    return send(code, block);
}

std::optional<uint32_t> MonitorDriver::hook(PortKind kind, uint32_t mask, const platform::PortTables& tables)
{
    if (!handleValid()) return std::nullopt;
    const auto block = buildHookBlock(mask, tables);
    const uint32_t code = kind == PortKind::Serial ? kHookSerial : kHookParallel;
    const CaptureAnswer answer = service_->request(code, block, 4);
    if (!answer.ok) return std::nullopt;
    const uint32_t granted = hookMaskOf(answer.output);
    (kind == PortKind::Serial ? serialMask_ : parallelMask_) = granted;
    return granted;
}

SetUpStep MonitorDriver::setUpCapture(const CaptureSettings& settings)
{
    if (!send(kDiscardRecords)) return SetUpStep::Discard;
    if (!send(kSetFilter, buildFilterBlock(settings.filter))) return SetUpStep::Filter;
    if (!sendValue(kMaxDataBytes, settings.maxBytes ? settings.maxBytes() : uint32_t(kLimitDefault)))
        return SetUpStep::MaxBytes;
    if (!sendValue(kHexDisplay, settings.hex ? 1 : 0)) return SetUpStep::Hex;
    if (settings.start && !send(kStartCapture)) return SetUpStep::Start;
    return SetUpStep::None;
}

ReadEnd MonitorDriver::readRecords(const std::function<bool()>& inTime,
                                   const std::function<void(std::span<const uint8_t>)>& handle)
{
    while (true) {
        if (!handleValid()) return ReadEnd::ChannelLost;
        const CaptureAnswer answer = service_->request(kReadRecords, {}, kReadBufferSize);
        if (!answer.ok) return service_->loaded() ? ReadEnd::Failed : ReadEnd::ChannelLost;
        const size_t count = std::min<size_t>(answer.output.size(), kReadBufferSize);
        if (count == 0) return ReadEnd::Drained;
        if (count >= 6) handle(std::span<const uint8_t>(answer.output.data(), count));
        if (!inTime()) return ReadEnd::OutOfTime;
    }
}

} // namespace quillon::monitor
