#include "monitor/capture/syscall_table.h"

namespace quillon::capture {

namespace {

[[maybe_unused]] constexpr SyscallEntry kX86_64[] = {
    {0, QPM_READ},   {1, QPM_WRITE},  {2, QPM_OPEN},    {3, QPM_CLOSE},    {16, QPM_IOCTL},    {17, QPM_READ},
    {18, QPM_WRITE}, {19, QPM_READV}, {20, QPM_WRITEV}, {257, QPM_OPENAT}, {437, QPM_OPENAT2},
};

// No plain open() here; the C library uses openat.
[[maybe_unused]] constexpr SyscallEntry kAarch64[] = {
    {29, QPM_IOCTL}, {56, QPM_OPENAT}, {57, QPM_CLOSE}, {63, QPM_READ},  {64, QPM_WRITE},
    {65, QPM_READV}, {66, QPM_WRITEV}, {67, QPM_READ},  {68, QPM_WRITE}, {437, QPM_OPENAT2},
};

} // namespace

std::span<const SyscallEntry> syscallTable()
{
#if defined(__x86_64__)
    return kX86_64;
#elif defined(__aarch64__)
    return kAarch64;
#else
    return {};
#endif
}

} // namespace quillon::capture
