#include "cli/monitor_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

bool underDev(const std::string& path) { return path.size() > 5 && path.compare(0, 5, "/dev/") == 0; }

} // namespace

PortName portNameOf(const std::string& arg)
{
    namespace fs = std::filesystem;
    PortName p{arg, {}, {}};
    const bool relative = arg.rfind("./", 0) == 0 || arg.rfind("../", 0) == 0 || arg == "." || arg == "..";
    std::string path;
    if (!arg.empty() && arg.front() == '/')
        path = arg;
    else if (relative)
        path = (fs::current_path() / arg).string();
    else
        path = "/dev/" + arg;
    path = fs::path(path).lexically_normal().string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        p.error = "cannot monitor " + arg + ": " + std::strerror(errno);
        return p;
    }
    if (!underDev(path)) {
        char* real = ::realpath(path.c_str(), nullptr);
        const bool resolved = real != nullptr;
        if (resolved) path = real;
        std::free(real);
        if (!resolved || !underDev(path)) {
            p.error = "cannot monitor " + arg + ": not a device under /dev";
            return p;
        }
    }
    p.path = path;
    return p;
}

const PortName* monitoredOutput(int fd, const std::vector<PortName>& ports)
{
    struct stat out {};
    if (::fstat(fd, &out) != 0 || !S_ISCHR(out.st_mode)) return nullptr;
    for (const auto& p : ports) {
        struct stat st {};
        if (::stat(p.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == out.st_rdev) return &p;
    }
    return nullptr;
}

std::string refusalReason(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISCHR(st.st_mode)) return "not a character device";
    if (::access(path.c_str(), R_OK | W_OK) != 0) return "you may not open it for reading and writing";
    return "not a serial or parallel port the capture helper may hook";
}

} // namespace quillon::cli
