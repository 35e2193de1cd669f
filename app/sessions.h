#pragma once
// What the frame needs of the serial connection and of the port monitor,
// for the status panels of the serial pages and for an orderly shut-down.

#include <string>

namespace quillon {

class SerialSession {
public:
    virtual ~SerialSession() = default;
    virtual bool portOpen() const = 0;
    // Byte counts of a session that may run for days at full speed.
    virtual long long receivedTotal() const = 0;
    virtual long long sentTotal() const = 0;
    virtual std::string portName() const = 0;
    virtual int baudRate() const = 0;
    virtual bool logActive() const = 0;
    virtual void closeLog() = 0;
    // Stops the reader and writer threads, waits until they have let go of
    // the device, restores its timeouts, closes it and drops the connection.
    virtual void closeForExit() = 0;
};

class MonitorSession {
public:
    virtual ~MonitorSession() = default;
    virtual bool driverLoaded() const = 0;
    // Stops monitoring and removes the capture service.
    virtual void unloadDriver() = 0;
};

} // namespace quillon
