#pragma once
// One open serial port: its device, name, rate, timeouts and byte counters.

#include "platform/comm_port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quillon::serial {

class TPortConnection {
public:
    enum class OpenResult { Opened, OpenFailed, SetupFailed };

    // Opens `portName` for this program alone, applies the timeouts (asked
    // for only once the device is open; an exception from `timeouts` leaves
    // this object to close the device) and the line settings.
    OpenResult OpenPort(const std::string& portName, int32_t baudRate, int parityIndex, int dataBits, int stopBitsIndex,
                        const std::function<platform::CommTimeouts()>& timeouts);
    // Why the last OpenPort gave OpenFailed.
    const platform::PortOpenFailure& openFailure() const { return openFailure_; }
    // Puts the saved timeouts back and closes the device; nothing when closed.
    void ClosePort();

    platform::CommPort* port() const { return Handle.get(); }

    platform::CommTimeouts Timeouts;
    platform::CommTimeouts SavedTimeouts;
    std::unique_ptr<platform::CommPort> Handle;
    std::string PortName;
    int32_t BaudRate = 0;
    // 64-bit: a 32-bit count turns negative after 2 GiB, well within a day
    // of a fast USB adapter streaming.
    int64_t ReceivedTotal = 0;
    int64_t SentTotal = 0;

private:
    platform::PortOpenFailure openFailure_;
};

} // namespace quillon::serial
