#include "platform/device_map.h"

#include <algorithm>

namespace quillon::platform {

std::string lastBackslashPart(const std::string& s)
{
    size_t p = s.rfind('\\');
    return p == std::string::npos ? s : s.substr(p + 1);
}

namespace {

void storeInTables(PortTables& t, size_t i, const std::string& port, const std::string& device)
{
    // Ports past the 32nd are still listed; only the monitor's tables are bounded.
    if (i >= kPortTableSize) return;
    t.portNames[i] = port.substr(0, kPortNameMaxBytes);
    t.deviceNames[i] = device.substr(0, kPortNameMaxBytes);
    t.count = i + 1;
}

} // namespace

PortListing buildSerialListing(const std::vector<DeviceMapEntry>& entries)
{
    PortListing out;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string device = lastBackslashPart(entries[i].valueName);
        const std::string& port = entries[i].value;
        out.comList.push_back(port);
        storeInTables(out.tables, i, port, device);
        out.monitorLines.push_back(port + ": " + device);
    }
    std::sort(out.comList.begin(), out.comList.end());
    return out;
}

PortListing buildParallelListing(const std::vector<DeviceMapEntry>& entries)
{
    PortListing out;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string device = lastBackslashPart(entries[i].valueName);
        const std::string port = lastBackslashPart(entries[i].value);
        storeInTables(out.tables, i, port, device);
        out.monitorLines.push_back(port + ": " + device);
    }
    return out;
}

} // namespace quillon::platform
