#pragma once
// The system's list of serial and parallel ports, shaped like a registry
// device map: each entry has a value name (a device path whose last
// backslash-separated part is the device name) and a value (the port name
// that is opened).

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon::platform {

struct DeviceMapEntry {
    std::string valueName; // e.g. "\Device\ttyUSB0"
    std::string value;     // e.g. "/dev/ttyUSB0"
};

class DeviceMap {
public:
    virtual ~DeviceMap() = default;
    // nullopt when the list can't be read at all (the page lists stay empty).
    virtual std::optional<std::vector<DeviceMapEntry>> serialPorts() = 0;
    virtual std::optional<std::vector<DeviceMapEntry>> parallelPorts() = 0;
};

// Enumerates through udev: tty devices backed by real hardware (read afresh
// on every call), pseudo-terminals named by a symlink in /dev or /dev/serial,
// and parallel ports.
std::unique_ptr<DeviceMap> makeSystemDeviceMap();

// A fixed list, for tests and for pseudo-terminals.
class FixedDeviceMap : public DeviceMap {
public:
    std::optional<std::vector<DeviceMapEntry>> serial;
    std::optional<std::vector<DeviceMapEntry>> parallel;
    std::optional<std::vector<DeviceMapEntry>> serialPorts() override { return serial; }
    std::optional<std::vector<DeviceMapEntry>> parallelPorts() override { return parallel; }
};

// The monitor keeps 32 port names and 32 device names of at most 255 bytes each.
inline constexpr size_t kPortTableSize = 32;
inline constexpr size_t kPortNameMaxBytes = 255;

struct PortTables {
    std::array<std::string, kPortTableSize> portNames;
    std::array<std::string, kPortTableSize> deviceNames;
    size_t count = 0;
};

struct PortListing {
    std::vector<std::string> comList;      // port names, plain-text sorted (serial only)
    std::vector<std::string> monitorLines; // "port: device", device-map order
    PortTables tables;
};

// Part of the value name after its last backslash (the whole name without one).
std::string lastBackslashPart(const std::string& s);

// Serial listing: port name = the entry's value, device name from the value name;
// comList is sorted as plain text (COM10 before COM2).
PortListing buildSerialListing(const std::vector<DeviceMapEntry>& entries);
// Parallel listing: both names are the parts after the last backslash; comList stays empty.
PortListing buildParallelListing(const std::vector<DeviceMapEntry>& entries);

} // namespace quillon::platform
