#pragma once
// What the frame needs of the serial connection and of the port monitor,
// for the status panels of the serial pages and for an orderly shut-down,
// and the roles through which it drives its pages without knowing them.

#include <string>

namespace quillon {

class SettingsFile;

class SerialSessionControl {
public:
    virtual ~SerialSessionControl() = default;
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

class MonitorSessionControl {
public:
    virtual ~MonitorSessionControl() = default;
    virtual bool driverLoaded() const = 0;
    // Stops monitoring and removes the capture service.
    virtual void unloadDriver() = 0;
};

// A part of a page that keeps lists in the settings file and loads them at start-up.
class SettingsLoader {
public:
    virtual ~SettingsLoader() = default;
    virtual void loadSettings(const SettingsFile& settings) = 0;
};

// A page that works on the frame's Timer1 (500 ms, always on), or has timers
// of its own that stop when the window closes.
class TimerClient {
public:
    virtual ~TimerClient() = default;
    virtual void timer1Tick() {}
    virtual void stopTimers() {}
};

} // namespace quillon
