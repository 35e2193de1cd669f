// SPDX-License-Identifier: GPL-2.0 OR BSD-3-Clause
// Kernel side of the port monitor: sees the requests every program makes on
// the hooked serial and parallel ports and passes them to the helper.
//
// Only the kernel structures read here are declared, with CO-RE relocations,
// so the object runs on any kernel with BTF.
//
// Kept in the kernel's own layout; the include order matters here.
// clang-format off

#include <linux/types.h>
#include <linux/bpf.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_tracing.h>

#include "capture_events.h"

#if defined(__TARGET_ARCH_x86)
struct pt_regs {
    unsigned long bx;
    unsigned long cx;
    unsigned long r10;
    unsigned long dx;
    unsigned long si;
    unsigned long di;
    unsigned long orig_ax;
} __attribute__((preserve_access_index));
// A 32-bit program's system call (int 0x80, sysenter) is marked in its thread.
struct thread_info {
    __u32 status;
} __attribute__((preserve_access_index));
#define TS_COMPAT 0x0002
#define SYSCALL_NR(r) ((long)(r)->orig_ax)
#elif defined(__TARGET_ARCH_arm64)
struct user_pt_regs {
    __u64 regs[31];
} __attribute__((preserve_access_index));
struct pt_regs {
    struct user_pt_regs user_regs;
    __u64 orig_x0;
    __s32 syscallno;
} __attribute__((preserve_access_index));
#define SYSCALL_NR(r) ((long)(r)->syscallno)
#else
#error "no register layout for this architecture"
#endif

struct super_block {
    __u32 s_dev;
} __attribute__((preserve_access_index));

struct inode {
    unsigned short i_mode;
    __u32 i_rdev;
    struct super_block *i_sb;
} __attribute__((preserve_access_index));

struct file {
    struct inode *f_inode;
} __attribute__((preserve_access_index));

struct fdtable {
    unsigned int max_fds;
    struct file **fd;
} __attribute__((preserve_access_index));

struct files_struct {
    struct fdtable *fdt;
} __attribute__((preserve_access_index));

struct task_struct {
#if defined(__TARGET_ARCH_x86)
    struct thread_info thread_info;
#endif
    struct files_struct *files;
} __attribute__((preserve_access_index));

struct iovec {
    __u64 iov_base;
    __u64 iov_len;
};

struct compat_iovec {
    __u32 iov_base;
    __u32 iov_len;
};

#define S_IFMT 00170000
#define S_IFCHR 0020000
// The kernel refuses longer vectors (UIO_MAXIOV).
#define MAX_IOV 1024
#define CLOSE_RANGE_UNSHARE (1U << 1)
#define CLOSE_RANGE_CLOEXEC (1U << 2)
// Descriptors a close_range is searched through for hooked ports.
#define MAX_RANGE_SCAN 65536

char LICENSE[] SEC("license") = "Dual BSD/GPL";

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 16 << 20);
} events SEC(".maps");

// Hooked node (its filesystem and device number) -> slot.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 128);
    __type(key, struct qpm_node_key);
    __type(value, __u32);
} hooked SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct qpm_config);
} config SEC(".maps");

// System call number -> enum qpm_kind, one table per ABI: the native one
// and the 32-bit (compat) one.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, QPM_MAX_SYSCALL);
    __type(key, __u32);
    __type(value, __u32);
} kinds SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, QPM_MAX_SYSCALL);
    __type(key, __u32);
    __type(value, __u32);
} kinds32 SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 256);
    __type(key, __u32);
    __type(value, struct qpm_ioctl_copy);
} ioctl_copy SEC(".maps");

// Events the ring buffer could not take.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, __u64);
} lost SEC(".maps");

struct pending {
    __u64 time_ns;
    __u64 buf;
    __u64 count;
    __u32 slot;
    __u32 kind;
    // Opens only: the path, so a failed open of a port can be told.
    char path[QPM_PATH_LEN];
};

// The request each thread has in flight, from entry to exit; it goes with
// the thread.
struct {
    __uint(type, BPF_MAP_TYPE_TASK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, int);
    __type(value, struct pending);
} inflight SEC(".maps");

struct scratch {
    struct qpm_event ev;
    // Three times the limit so the verifier can see every copy stays inside.
    __u8 data[QPM_MAX_DATA * 3];
};

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct scratch);
} scratch_buf SEC(".maps");

// The hooked port behind descriptor `fd` of the current task. The task and
// its descriptor table are BTF pointers, read with plain loads; the file
// behind a descriptor is read with helpers (no kfunc casts on 6.1 kernels).
static __always_inline int slot_of_fd(struct task_struct *task, __u64 fd, __u32 *slot)
{
    struct files_struct *files = task->files;
    if (!files)
        return 0;
    struct fdtable *fdt = files->fdt;
    if (!fdt || fd >= fdt->max_fds)
        return 0;
    struct file *f = 0;
    if (bpf_probe_read_kernel(&f, sizeof f, &fdt->fd[fd]) || !f)
        return 0;
    struct inode *inode = BPF_CORE_READ(f, f_inode);
    if (!inode)
        return 0;
    if ((BPF_CORE_READ(inode, i_mode) & S_IFMT) != S_IFCHR)
        return 0;
    // A pty of the same number in another devpts instance is another node.
    struct qpm_node_key key = {BPF_CORE_READ(inode, i_sb, s_dev), BPF_CORE_READ(inode, i_rdev)};
    __u32 *s = bpf_map_lookup_elem(&hooked, &key);
    if (!s)
        return 0;
    *slot = *s;
    return 1;
}

// Masks in asm, so the compiler cannot fold them into the comparisons
// before and leave the verifier without a bound.
#define BOUND(v, mask) asm volatile("%0 &= " #mask : "+r"(v))

// Copies up to `len` user bytes to data[off...]; returns how many were copied.
static __always_inline __u32 copy_user(struct scratch *s, __u32 off, __u64 src, __u64 len)
{
    if (off >= QPM_MAX_DATA || !src)
        return 0;
    if (len > QPM_MAX_DATA - off)
        len = QPM_MAX_DATA - off;
    __u64 o = off;
    BOUND(o, 8191);
    BOUND(len, 16383);
    if (bpf_probe_read_user(&s->data[o], len, (const void *)src))
        return 0;
    return len;
}

// One walk over an iovec array, native or 32-bit.
struct iov_walk {
    __u64 iov;   // user address of the array
    __u64 want;  // bytes to gather at most
    __u64 sum;   // lengths of the buffers looked at
    __u32 done;  // bytes gathered
    __u32 compat;
    __u32 whole; // look at every buffer (for the sum), not only until `want`
};

static long iov_step(__u64 i, void *ctx)
{
    struct iov_walk *w = ctx;
    __u64 base, len;
    if (w->compat) {
        struct compat_iovec v;
        if (bpf_probe_read_user(&v, sizeof v, (const void *)(w->iov + i * sizeof v)))
            return 1;
        base = v.iov_base;
        len = v.iov_len;
    } else {
        struct iovec v;
        if (bpf_probe_read_user(&v, sizeof v, (const void *)(w->iov + i * sizeof v)))
            return 1;
        base = v.iov_base;
        len = v.iov_len;
    }
    w->sum += len;
    if (w->done < w->want) {
        __u32 zero = 0;
        struct scratch *s = bpf_map_lookup_elem(&scratch_buf, &zero);
        if (!s)
            return 1;
        __u64 take = len;
        if (take > w->want - w->done)
            take = w->want - w->done;
        w->done += copy_user(s, w->done, base, take);
    } else if (!w->whole) {
        return 1;
    }
    return 0;
}

// Gathers up to `total` (and at most `limit`) bytes from an iovec array of
// any length; *sum gets the length of all its buffers when `whole` is set.
static __always_inline __u32 copy_iov(__u64 iov, __u64 iovcnt, __u64 total, __u32 limit, int compat, int whole,
                                      __u64 *sum)
{
    struct iov_walk w = {.iov = iov, .want = total < limit ? total : limit, .compat = compat, .whole = whole};
    bpf_loop(iovcnt < MAX_IOV ? iovcnt : MAX_IOV, iov_step, &w, 0);
    *sum = w.sum;
    return w.done;
}

static __always_inline void count_lost(void)
{
    __u32 zero = 0;
    __u64 *n = bpf_map_lookup_elem(&lost, &zero);
    if (n)
        __sync_fetch_and_add(n, 1);
}

static __always_inline struct scratch *begin_event(__u8 type, __u32 kind, __u32 slot, __u64 time_ns)
{
    __u32 zero = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratch_buf, &zero);
    if (!s)
        return 0;
    __u64 id = bpf_get_current_pid_tgid();
    s->ev.type = type;
    s->ev.kind = kind;
    s->ev.data_len = 0;
    s->ev.slot = slot;
    s->ev.pid = id >> 32;
    s->ev.tid = (__u32)id;
    s->ev.time_ns = time_ns;
    s->ev.ret = 0;
    s->ev.arg = 0;
    s->ev.arg2 = 0;
    // The helper has the name from the entry; an exit does not need it.
    if (type == QPM_EV_ENTER)
        bpf_get_current_comm(s->ev.comm, sizeof s->ev.comm);
    return s;
}

static __always_inline void send_event(struct scratch *s, __u32 len)
{
    if (len > QPM_MAX_DATA)
        len = QPM_MAX_DATA;
    s->ev.data_len = len;
    __u64 size = len;
    BOUND(size, 16383);
    size += sizeof(struct qpm_event);
    // No wake-up per event: the helper empties the buffer every few milliseconds.
    if (bpf_ringbuf_output(&events, s, size, BPF_RB_NO_WAKEUP))
        count_lost();
}

static __always_inline __u32 kind_of(long nr, int compat)
{
    if (nr < 0 || nr >= QPM_MAX_SYSCALL)
        return QPM_NONE;
    __u32 key = nr;
    __u32 *k = bpf_map_lookup_elem(compat ? (void *)&kinds32 : (void *)&kinds, &key);
    return k ? *k : QPM_NONE;
}

static __always_inline int is_compat(struct task_struct *task)
{
#if defined(__TARGET_ARCH_x86)
    return (task->thread_info.status & TS_COMPAT) != 0;
#else
    return 0;
#endif
}

// The first three arguments, from the registers of the caller's ABI.
struct sys_args {
    __u64 a1, a2, a3;
};

static __always_inline void read_args(struct pt_regs *regs, int compat, struct sys_args *a)
{
#if defined(__TARGET_ARCH_x86)
    if (compat) {
        a->a1 = (__u32)regs->bx;
        a->a2 = (__u32)regs->cx;
        a->a3 = (__u32)regs->dx;
    } else {
        a->a1 = regs->di;
        a->a2 = regs->si;
        a->a3 = regs->dx;
    }
#else
    a->a1 = regs->orig_x0;
    a->a2 = regs->user_regs.regs[1];
    a->a3 = regs->user_regs.regs[2];
#endif
}

// An open's path and flags, kept for its exit: the port is known only once
// the descriptor exists.
static __always_inline void remember_open(struct task_struct *task, __u32 kind, const struct sys_args *a)
{
    struct pending *p = bpf_task_storage_get(&inflight, task, 0, BPF_LOCAL_STORAGE_GET_F_CREATE);
    if (!p)
        return;
    p->time_ns = bpf_ktime_get_ns();
    p->kind = kind;
    const void *path = (const void *)(kind == QPM_OPEN ? a->a1 : a->a2);
    if (bpf_probe_read_user_str(p->path, sizeof p->path, path) < 0)
        p->path[0] = 0;
    if (kind == QPM_OPENAT2) {
        // openat2 passes a struct open_how, whose first member is the flags.
        __u64 flags = 0;
        bpf_probe_read_user(&flags, sizeof flags, (const void *)a->a3);
        p->count = flags;
    } else {
        p->count = kind == QPM_OPEN ? a->a2 : a->a3;
    }
}

// The data an entry carries: what is written, the iovec total of a readv,
// an ioctl's command, argument and input block. Returns the bytes copied.
static __always_inline __u32 copy_entry_data(struct scratch *s, __u32 kind, __u64 buf, __u64 count, __u32 limit,
                                              int compat)
{
    __u32 len = 0;
    s->ev.arg = count;
    if (kind == QPM_WRITE) {
        len = copy_user(s, 0, buf, count < limit ? count : limit);
    } else if (kind == QPM_WRITEV) {
        __u64 sum;
        len = copy_iov(buf, count, ~0ULL, limit, compat, 1, &sum);
        s->ev.arg = sum;
    } else if (kind == QPM_READV) {
        __u64 sum;
        copy_iov(buf, count, 0, limit, compat, 1, &sum);
        s->ev.arg = sum;
    } else if (kind == QPM_IOCTL) {
        // For an ioctl, buf is the command and count the argument.
        __u32 cmd = (__u32)buf;
        s->ev.arg = cmd;
        s->ev.arg2 = count;
        struct qpm_ioctl_copy *c = bpf_map_lookup_elem(&ioctl_copy, &cmd);
        if (c && c->in_len)
            len = copy_user(s, 0, count, c->in_len);
    }
    return len;
}

// The data an exit carries: what was read, an ioctl's output block.
static __always_inline __u32 copy_exit_data(struct scratch *s, __u32 kind, long ret, __u64 buf, __u64 count,
                                            __u32 limit, int compat)
{
    __u32 len = 0;
    if (ret > 0 && kind == QPM_READ) {
        len = copy_user(s, 0, buf, (__u64)ret < limit ? (__u64)ret : limit);
    } else if (ret > 0 && kind == QPM_READV) {
        __u64 sum;
        len = copy_iov(buf, count, ret, limit, compat, 0, &sum);
    } else if (ret == 0 && kind == QPM_IOCTL) {
        __u32 cmd = (__u32)buf;
        s->ev.arg = cmd;
        s->ev.arg2 = count;
        struct qpm_ioctl_copy *c = bpf_map_lookup_elem(&ioctl_copy, &cmd);
        if (c && c->out_len)
            len = copy_user(s, 0, count, c->out_len);
    }
    return len;
}

// close_range closes every descriptor of a range at once: each hooked one
// is recorded as its own close, complete at once (past its argument checks,
// closing does not fail).
struct range_walk {
    __u64 first;
    __u64 time_ns;
};

static long close_step(__u64 i, void *ctx)
{
    struct range_walk *w = ctx;
    struct task_struct *task = bpf_get_current_task_btf();
    __u32 slot;
    if (!slot_of_fd(task, w->first + i, &slot))
        return 0;
    struct scratch *s = begin_event(QPM_EV_ENTER, QPM_CLOSE, slot, w->time_ns);
    if (!s)
        return 1;
    send_event(s, 0);
    s = begin_event(QPM_EV_EXIT, QPM_CLOSE, slot, w->time_ns);
    if (!s)
        return 1;
    send_event(s, 0);
    return 0;
}

static __always_inline void record_close_range(struct task_struct *task, const struct sys_args *a)
{
    const __u64 first = (__u32)a->a1, last = (__u32)a->a2, flags = a->a3;
    // Refused before anything is closed; CLOEXEC only marks the descriptors.
    if (first > last || (flags & ~(CLOSE_RANGE_UNSHARE | CLOSE_RANGE_CLOEXEC)) || (flags & CLOSE_RANGE_CLOEXEC))
        return;
    struct files_struct *files = task->files;
    if (!files)
        return;
    struct fdtable *fdt = files->fdt;
    if (!fdt)
        return;
    const __u64 open_max = fdt->max_fds;
    if (first >= open_max)
        return;
    __u64 count = (last < open_max ? last + 1 : open_max) - first;
    struct range_walk w = {.first = first, .time_ns = bpf_ktime_get_ns()};
    bpf_loop(count < MAX_RANGE_SCAN ? count : MAX_RANGE_SCAN, close_step, &w, 0);
}

SEC("tp_btf/sys_enter")
int BPF_PROG(portmon_enter, struct pt_regs *regs, long nr)
{
    struct task_struct *task = bpf_get_current_task_btf();
    const int compat = is_compat(task);
    __u32 kind = kind_of(nr, compat);
    if (kind == QPM_NONE)
        return 0;
    __u32 zero = 0;
    struct qpm_config *cfg = bpf_map_lookup_elem(&config, &zero);
    if (!cfg || !cfg->capture || !cfg->hooks)
        return 0;
    if ((bpf_get_current_pid_tgid() >> 32) == cfg->self_pid)
        return 0;
    struct sys_args a;
    read_args(regs, compat, &a);

    if (kind == QPM_OPEN || kind == QPM_OPENAT || kind == QPM_OPENAT2) {
        remember_open(task, kind, &a);
        return 0;
    }
    if (kind == QPM_CLOSE_RANGE) {
        record_close_range(task, &a);
        return 0;
    }
    // dup2/dup3 close their target first: that is the port's close.
    const __u64 fd = kind == QPM_DUP ? a.a2 : a.a1;
    if (kind == QPM_DUP && (__u32)a.a1 == (__u32)a.a2)
        return 0;
    __u32 slot;
    if (!slot_of_fd(task, fd, &slot))
        return 0;
    struct pending *p = bpf_task_storage_get(&inflight, task, 0, BPF_LOCAL_STORAGE_GET_F_CREATE);
    if (!p)
        return 0;
    p->time_ns = bpf_ktime_get_ns();
    p->kind = kind;
    p->slot = slot;
    p->buf = a.a2;
    p->count = a.a3;

    const __u32 shown = kind == QPM_DUP ? QPM_CLOSE : kind;
    struct scratch *s = begin_event(QPM_EV_ENTER, shown, slot, p->time_ns);
    if (!s)
        return 0;
    send_event(s, kind == QPM_DUP ? 0 : copy_entry_data(s, kind, p->buf, p->count, cfg->max_bytes, compat));
    return 0;
}

SEC("tp_btf/sys_exit")
int BPF_PROG(portmon_exit, struct pt_regs *regs, long ret)
{
    struct task_struct *task = bpf_get_current_task_btf();
    const int compat = is_compat(task);
    __u32 kind = kind_of(SYSCALL_NR(regs), compat);
    if (kind == QPM_NONE)
        return 0;
    struct pending *pp = bpf_task_storage_get(&inflight, task, 0, 0);
    if (!pp || pp->kind != kind)
        return 0;
    struct pending p;
    p.time_ns = pp->time_ns;
    p.buf = pp->buf;
    p.count = pp->count;
    p.slot = pp->slot;
    pp->kind = QPM_NONE;

    __u32 zero = 0;
    struct qpm_config *cfg = bpf_map_lookup_elem(&config, &zero);
    if (!cfg)
        return 0;
    __u32 limit = cfg->max_bytes;

    struct scratch *s;
    if (kind == QPM_OPEN || kind == QPM_OPENAT || kind == QPM_OPENAT2) {
        __u32 slot = QPM_SLOT_BY_PATH;
        __u32 len = 0;
        if (ret >= 0) {
            if (!slot_of_fd(task, ret, &slot))
                return 0;
            s = begin_event(QPM_EV_ENTER, kind, slot, p.time_ns);
            if (!s)
                return 0;
        } else {
            // No descriptor to go by: the helper matches the path against
            // the hooked names. Only paths under /dev are worth sending.
            if (pp->path[0] != '/' || pp->path[1] != 'd' || pp->path[2] != 'e' || pp->path[3] != 'v' ||
                pp->path[4] != '/')
                return 0;
            s = begin_event(QPM_EV_ENTER, kind, slot, p.time_ns);
            if (!s)
                return 0;
            len = bpf_probe_read_kernel_str(s->data, QPM_PATH_LEN, pp->path);
            if ((int)len < 0)
                len = 0;
        }
        s->ev.arg = p.count;
        send_event(s, len);
        p.slot = slot;
    }

    if (kind == QPM_DUP) {
        // It returns the new descriptor: the close itself succeeded.
        s = begin_event(QPM_EV_EXIT, QPM_CLOSE, p.slot, bpf_ktime_get_ns());
        if (!s)
            return 0;
        s->ev.ret = ret < 0 ? ret : 0;
        send_event(s, 0);
        return 0;
    }
    s = begin_event(QPM_EV_EXIT, kind, p.slot, bpf_ktime_get_ns());
    if (!s)
        return 0;
    s->ev.ret = ret;
    s->ev.arg = p.count;
    send_event(s, copy_exit_data(s, kind, ret, p.buf, p.count, limit, compat));
    return 0;
}
