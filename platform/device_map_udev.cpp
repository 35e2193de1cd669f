#include "platform/device_map.h"
#include "platform/port_list.h"

#include <cstring>
#include <libudev.h>

namespace quillon::platform {

namespace {

bool isPresentSerial(udev_device* dev)
{
    // Ports without a parent device are virtual consoles and ptys.
    udev_device* parent = udev_device_get_parent(dev);
    if (!parent) return false;
    const char* driver = udev_device_get_driver(parent);
    if (driver && std::strcmp(driver, "serial8250") == 0) {
        // The 8250 driver registers its ports whether or not a UART answers.
        const char* type = udev_device_get_sysattr_value(dev, "type");
        return type && std::strcmp(type, "0") != 0;
    }
    return true;
}

std::vector<DeviceMapEntry> enumerate(const char* subsystem, bool serial)
{
    std::vector<DeviceMapEntry> out;
    udev* u = udev_new();
    if (!u) return out;
    udev_enumerate* en = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(en, subsystem);
    udev_enumerate_scan_devices(en);
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(en))
    {
        udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(item));
        if (!dev) continue;
        const char* node = udev_device_get_devnode(dev);
        const char* name = udev_device_get_sysname(dev);
        if (node && name && (!serial || isPresentSerial(dev))) out.push_back({std::string("\\Device\\") + name, node});
        udev_device_unref(dev);
    }
    udev_enumerate_unref(en);
    udev_unref(u);
    return out;
}

class UdevDeviceMap : public DeviceMap {
public:
    std::optional<std::vector<DeviceMapEntry>> serialPorts() override
    {
        auto ports = enumerate("tty", true);
        for (auto& link : ptySymlinkPorts(kPtyLinkFolders)) ports.push_back(std::move(link));
        return ports;
    }
    std::optional<std::vector<DeviceMapEntry>> parallelPorts() override { return enumerate("ppdev", false); }
};

} // namespace

std::unique_ptr<DeviceMap> makeSystemDeviceMap() { return std::make_unique<UdevDeviceMap>(); }

} // namespace quillon::platform
