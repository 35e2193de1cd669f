#pragma once
// Names and details of the terminal, modem and parallel-port ioctls shown in
// the "other" field of a device-control record.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillon::capture {

struct IoctlCopy {
    uint32_t command;
    uint16_t inLen;  // bytes of the argument read at entry
    uint16_t outLen; // bytes of the argument read after a successful return
};

// The ioctls whose argument points at data worth copying in the kernel.
const std::vector<IoctlCopy>& ioctlCopyTable();

// True when the interesting data of `command` comes back from the call
// (TCGETS, TIOCMGET, FIONREAD, ...) rather than going in.
bool ioctlReturnsData(uint32_t command);

// "TCSETS 115200 8N1 RTS/CTS", "TIOCMBIS DTR", "PPCLAIM", "0x0000ABCD".
// `data` is what was copied of the argument (may be empty or short);
// `arg` is the argument itself, for ioctls that pass a value.
std::string describeIoctl(uint32_t command, uint64_t arg, std::span<const uint8_t> data);

} // namespace quillon::capture
