#include "monitor/capture/port_access.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace quillon::capture {

namespace {

// Fixed numbers of the kernel's device registry.
constexpr unsigned kTtyMajor = 4;        // virtual consoles below minor 64, ttyS from 64
constexpr unsigned kTtyAuxMajor = 5;     // /dev/tty, /dev/console, /dev/ptmx
constexpr unsigned kLpMajor = 6;         // lp
constexpr unsigned kParportMajor = 99;   // parport (ppdev)
constexpr unsigned kPtySlaveFirst = 136; // UNIX98 pty slaves take eight majors
constexpr unsigned kPtySlaveLast = 143;

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0) ::close(fd);
    }
};

std::optional<uid_t> decimalUid(std::string_view text)
{
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v >= UINT32_MAX) return std::nullopt;
    return static_cast<uid_t>(v);
}

} // namespace

uint32_t kernelDevice(dev_t dev) { return (static_cast<uint32_t>(major(dev)) << 20) | (minor(dev) & 0xFFFFF); }

Invoker invokingUser(uid_t realUid, const char* pkexecUid)
{
    Invoker who;
    who.uid = realUid;
    // PKEXEC_UID counts only when pkexec made us root; anyone else could set it.
    if (realUid == 0 && pkexecUid) {
        std::optional<uid_t> uid = decimalUid(pkexecUid);
        // Unreadable: a user who owns nothing and is in no group, never root.
        who.uid = uid.value_or(static_cast<uid_t>(-1));
        if (!uid) return who;
    }
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(who.uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return who;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(std::min(count, 65536)));
        if (getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) count = 0;
    }
    groups.resize(static_cast<size_t>(std::max(count, 0)));
    if (std::find(groups.begin(), groups.end(), pw.pw_gid) == groups.end()) groups.push_back(pw.pw_gid);
    who.groups = std::move(groups);
    return who;
}

DeviceFacts sysfsFacts(unsigned maj, unsigned min)
{
    DeviceFacts facts;
    const std::string node = "/sys/dev/char/" + std::to_string(maj) + ":" + std::to_string(min);
    char link[PATH_MAX];
    const ssize_t n = ::readlink((node + "/subsystem").c_str(), link, sizeof link - 1);
    if (n > 0) {
        const std::string target(link, static_cast<size_t>(n));
        facts.subsystem = target.substr(target.rfind('/') + 1);
    }
    struct stat st {};
    facts.hasDevice = ::lstat((node + "/device").c_str(), &st) == 0;
    return facts;
}

PortClass classifyDevice(unsigned maj, unsigned min, const DeviceFacts& facts)
{
    if (maj >= kPtySlaveFirst && maj <= kPtySlaveLast) return PortClass::PtySlave;
    if (maj == kLpMajor || maj == kParportMajor) return PortClass::Parallel;
    // Consoles and the terminal of whoever asks are never ports, whatever sysfs says.
    if (maj == kTtyAuxMajor || (maj == kTtyMajor && min < 64)) return PortClass::Refused;
    if (facts.subsystem == "tty" && facts.hasDevice) return PortClass::HardwareTty;
    return PortClass::Refused;
}

bool mayReadWrite(const struct stat& st, const Invoker& who)
{
    if (who.uid == 0) return true;
    const mode_t m = st.st_mode;
    if (st.st_uid == who.uid) return (m & S_IRUSR) && (m & S_IWUSR);
    if (std::find(who.groups.begin(), who.groups.end(), st.st_gid) != who.groups.end())
        return (m & S_IRGRP) && (m & S_IWGRP);
    return (m & S_IROTH) && (m & S_IWOTH);
}

std::optional<PortNode> resolvePort(int devDir, std::string_view path, const Invoker& who,
                                    DeviceFacts (*facts)(unsigned, unsigned))
{
    constexpr std::string_view kDev = "/dev/";
    if (path.substr(0, kDev.size()) != kDev || path.size() == kDev.size()) return std::nullopt;
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string rest(path.substr(kDev.size()));
    // O_PATH opens nothing for I/O (a FIFO does not block, a device's open
    // routine does not run); RESOLVE_BENEATH keeps every step, links
    // included, inside /dev.
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = static_cast<int>(::syscall(SYS_openat2, devDir, rest.c_str(), &how, sizeof how));
    if (fd < 0) return std::nullopt; // older kernels without openat2 refuse every name
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    if (classifyDevice(maj, min, facts(maj, min)) == PortClass::Refused) return std::nullopt;
    if (!mayReadWrite(st, who)) return std::nullopt;
    return PortNode{kernelDevice(st.st_dev), kernelDevice(st.st_rdev)};
}

} // namespace quillon::capture
