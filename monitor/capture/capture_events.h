#pragma once
// Events the kernel side hands to the helper through the ring buffer, and the
// maps the helper fills. Shared by portmon.bpf.c and the helper, so plain C
// with fixed-size types only.

#ifdef __bpf__
typedef unsigned char qpm_u8;
typedef unsigned short qpm_u16;
typedef unsigned int qpm_u32;
typedef unsigned long long qpm_u64;
typedef long long qpm_s64;
#else
#include <stdint.h>
typedef uint8_t qpm_u8;
typedef uint16_t qpm_u16;
typedef uint32_t qpm_u32;
typedef uint64_t qpm_u64;
typedef int64_t qpm_s64;
#endif

#define QPM_MAX_DATA 8192
#define QPM_COMM_LEN 16
#define QPM_MAX_SYSCALL 1024
#define QPM_PATH_LEN 128
// Slot of a failed open: the event's data is the path it named.
#define QPM_SLOT_BY_PATH 0xFFFFFFFFu

// What a system call is to us; the helper maps numbers to these per architecture.
enum qpm_kind {
    QPM_NONE = 0,
    QPM_OPEN,    // open(path, flags)
    QPM_OPENAT,  // openat(dirfd, path, flags)
    QPM_OPENAT2, // openat2(dirfd, path, how, size)
    QPM_READ,    // read / pread64 (fd, buf, count)
    QPM_READV,   // readv / preadv / preadv2 (fd, iov, iovcnt, ...)
    QPM_WRITE,   // write / pwrite64 (fd, buf, count)
    QPM_WRITEV,  // writev / pwritev / pwritev2 (fd, iov, iovcnt, ...)
    QPM_IOCTL,   // ioctl (fd, cmd, arg)
    QPM_CLOSE,   // close (fd)
    // The two below reach the helper as QPM_CLOSE events of the port they close.
    QPM_DUP,         // dup2 / dup3 (oldfd, newfd, ...): newfd is closed first
    QPM_CLOSE_RANGE, // close_range (first, last, flags)
};

enum qpm_event_type {
    QPM_EV_ENTER = 1, // a request on a hooked port began
    QPM_EV_EXIT = 2,  // the request of that thread returned
    QPM_EV_LOST = 3,  // events the ring buffer could not take (count in arg)
};

struct qpm_event {
    qpm_u8 type;
    qpm_u8 kind;
    qpm_u16 data_len; // bytes in data[]
    qpm_u32 slot;     // hooked port, as the helper numbered it
    qpm_u32 pid;      // thread group id
    qpm_u32 tid;
    qpm_u64 time_ns; // CLOCK_MONOTONIC
    qpm_s64 ret;     // exit: return value
    qpm_u64 arg;     // enter: count, ioctl command or open flags
    qpm_u64 arg2;    // enter: ioctl argument
    char comm[QPM_COMM_LEN];
    // data_len bytes follow: enter: written bytes or ioctl input;
    // exit: read bytes or ioctl output.
};

// Key of a hooked node: the device of its filesystem (the inode's
// superblock) and its own device number, kernel encodings.
struct qpm_node_key {
    qpm_u32 fs;
    qpm_u32 dev;
};

// Capture settings, one entry of an array map.
struct qpm_config {
    qpm_u32 capture;   // 0: nothing is recorded
    qpm_u32 max_bytes; // data bytes copied per request
    qpm_u32 self_pid;  // the helper, never recorded
    qpm_u32 hooks;     // hooked device numbers; none: every call returns at once
};

// How many bytes of an ioctl's argument to copy, keyed by command.
struct qpm_ioctl_copy {
    qpm_u16 in_len;  // copied at entry
    qpm_u16 out_len; // copied at successful exit
};
