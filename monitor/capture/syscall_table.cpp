#include "monitor/capture/syscall_table.h"

namespace quillon::capture {

namespace {

[[maybe_unused]] constexpr SyscallEntry kX86_64[] = {
    {0, QPM_READ},     {1, QPM_WRITE},         {2, QPM_OPEN},      {3, QPM_CLOSE},    {16, QPM_IOCTL},
    {17, QPM_READ},    {18, QPM_WRITE},        {19, QPM_READV},    {20, QPM_WRITEV},  {33, QPM_DUP},
    {257, QPM_OPENAT}, {292, QPM_DUP},         {295, QPM_READV},   {296, QPM_WRITEV}, {327, QPM_READV},
    {328, QPM_WRITEV}, {436, QPM_CLOSE_RANGE}, {437, QPM_OPENAT2},
};

// 32-bit programs on x86-64 (int 0x80, sysenter): the i386 numbers.
[[maybe_unused]] constexpr SyscallEntry kIa32[] = {
    {3, QPM_READ},     {4, QPM_WRITE},         {5, QPM_OPEN},      {6, QPM_CLOSE},    {54, QPM_IOCTL},
    {63, QPM_DUP},     {145, QPM_READV},       {146, QPM_WRITEV},  {180, QPM_READ},   {181, QPM_WRITE},
    {295, QPM_OPENAT}, {330, QPM_DUP},         {333, QPM_READV},   {334, QPM_WRITEV}, {378, QPM_READV},
    {379, QPM_WRITEV}, {436, QPM_CLOSE_RANGE}, {437, QPM_OPENAT2},
};

// No plain open() or dup2() here; the C library uses openat and dup3.
[[maybe_unused]] constexpr SyscallEntry kAarch64[] = {
    {24, QPM_DUP},    {29, QPM_IOCTL},   {56, QPM_OPENAT},       {57, QPM_CLOSE},    {63, QPM_READ},  {64, QPM_WRITE},
    {65, QPM_READV},  {66, QPM_WRITEV},  {67, QPM_READ},         {68, QPM_WRITE},    {69, QPM_READV}, {70, QPM_WRITEV},
    {286, QPM_READV}, {287, QPM_WRITEV}, {436, QPM_CLOSE_RANGE}, {437, QPM_OPENAT2},
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

std::span<const SyscallEntry> compatSyscallTable()
{
#if defined(__x86_64__)
    return kIa32;
#else
    return {};
#endif
}

} // namespace quillon::capture
