#pragma once
// Which system calls the kernel side watches, by number. One table per
// architecture; porting to another one is one more table in the .cpp.

#include <cstdint>
#include <span>

#include "monitor/capture/capture_events.h"

namespace quillon::capture {

struct SyscallEntry {
    uint32_t number;
    qpm_kind kind;
};

// The table of the architecture this helper was built for; empty if none.
std::span<const SyscallEntry> syscallTable();
// The table of its 32-bit programs' system calls (compat); empty if none.
std::span<const SyscallEntry> compatSyscallTable();

} // namespace quillon::capture
