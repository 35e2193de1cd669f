#pragma once
// Which device nodes the helper may hook, and for whom. The helper runs as
// root for a user who may not be: it hooks only serial and parallel ports,
// only those that user could open for reading and writing, and finds them
// by resolving names beneath /dev without ever leaving it.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::capture {

// A hooked node as the kernel side knows it: the device of the filesystem
// the node lives on and the node's own device number, both in the kernel's
// encoding (12-bit major, 20-bit minor). Pty numbers repeat in every devpts
// instance; the pair names exactly one node.
struct PortNode {
    uint32_t filesystem = 0;
    uint32_t device = 0;
    uint64_t key() const { return (uint64_t(filesystem) << 32) | device; }
};

uint32_t kernelDevice(dev_t dev);

// The user the helper works for: the one pkexec names when pkexec started
// us (real uid 0 and PKEXEC_UID set), else the real user.
struct Invoker {
    uid_t uid = 0;
    std::vector<gid_t> groups; // primary and supplementary
};
// `pkexecUid` is the text of PKEXEC_UID, or null when unset.
Invoker invokingUser(uid_t realUid, const char* pkexecUid);

// What sysfs says of a character device (empty where it says nothing).
struct DeviceFacts {
    std::string subsystem;  // "tty", "printer", "ppdev", ...
    bool hasDevice = false; // a `device` link: real hardware behind it
};
DeviceFacts sysfsFacts(unsigned major, unsigned minor);

enum class PortClass { Refused, HardwareTty, PtySlave, Parallel };
// Serial ttys with hardware behind them (ttyS, ttyUSB, ttyACM, ...), pty
// slaves and parallel ports; never /dev/tty, consoles, /dev/ptmx or VTs.
PortClass classifyDevice(unsigned major, unsigned minor, const DeviceFacts& facts);

// Owner, group (with the supplementary ones) or others, as the kernel picks
// the class; root may use anything.
bool mayReadWrite(const struct stat& st, const Invoker& who);

// Resolves `path` ("/dev/..." only) beneath the directory `devDir`, which
// stands for /dev; symlinks may lead anywhere inside it and nowhere else.
// Checks the resolved node itself: a port of the classes above that `who`
// may open. Nothing outside `devDir` is looked at, nothing is opened for I/O.
std::optional<PortNode> resolvePort(int devDir, std::string_view path, const Invoker& who,
                                    DeviceFacts (*facts)(unsigned, unsigned) = sysfsFacts);

} // namespace quillon::capture
