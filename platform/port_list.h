#pragma once
// What the serial port list holds beyond the hardware ports, and how it is
// refreshed while the program runs.

#include "platform/device_map.h"

#include <string>
#include <vector>

namespace quillon::platform {

// Folders whose symlinks to pseudo-terminal slaves are offered as ports:
// tools that make virtual port pairs (socat, tty0tty-like helpers) name
// their ends that way, e.g. /dev/ttyV0.
inline const std::vector<std::string> kPtyLinkFolders = {"/dev", "/dev/serial"};

// True if `path` (symlinks followed) is a pseudo-terminal slave.
bool isPtySlave(const std::string& path);

// Symlinks directly in `folders` that lead to a pseudo-terminal slave, as
// device-map entries opened by the link's own path ("<folder>/<link>").
std::vector<DeviceMapEntry> ptySymlinkPorts(const std::vector<std::string>& folders);

// Which entry of a rebuilt port list to select: the port selected before
// when it is still there, otherwise the first; -1 for an empty list.
int selectionAfterRefresh(const std::vector<std::string>& list, const std::string& selected);

} // namespace quillon::platform
