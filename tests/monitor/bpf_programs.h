#pragma once
// The capture helper's programs in the kernel, to check that none is left behind.

#include <bpf/bpf.h>
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

// IDs of the loaded BPF programs named portmon_*.
inline std::set<uint32_t> portmonPrograms()
{
    std::set<uint32_t> ids;
    uint32_t id = 0;
    while (bpf_prog_get_next_id(id, &id) == 0) {
        int fd = bpf_prog_get_fd_by_id(id);
        if (fd < 0) continue;
        bpf_prog_info info{};
        uint32_t len = sizeof info;
        if (bpf_obj_get_info_by_fd(fd, &info, &len) == 0 && std::strncmp(info.name, "portmon_", 8) == 0) ids.insert(id);
        ::close(fd);
    }
    return ids;
}

// Programs are freed a moment after their last reference goes; on a busy
// machine (the kernel's grace periods run late) that can take seconds.
inline bool programsGone(const std::set<uint32_t>& ours)
{
    for (int i = 0; i < 1000; ++i) {
        std::set<uint32_t> now = portmonPrograms();
        bool any = false;
        for (uint32_t id : ours) any |= now.count(id) != 0;
        if (!any) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The capture helpers (processes named *portmon*, zombies not counted)
// that are children of `parent`.
inline std::vector<pid_t> helperProcessesOf(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* d = ::opendir("/proc");
    if (!d) return found;
    while (dirent* e = ::readdir(d)) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const auto close = line.rfind(')');
        const auto open = line.find('(');
        if (close == std::string::npos || open == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && line.substr(open + 1, close - open - 1).find("portmon") != std::string::npos &&
            state != 'Z')
            found.push_back(static_cast<pid_t>(std::atoi(e->d_name)));
    }
    ::closedir(d);
    return found;
}

// IDs of the portmon_* programs process `pid` holds open.
inline std::set<uint32_t> programsOf(pid_t pid)
{
    std::set<uint32_t> ids;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fdinfo";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return ids;
    while (dirent* e = ::readdir(d)) {
        std::ifstream info(dir + "/" + e->d_name);
        for (std::string line; std::getline(info, line);)
            if (line.rfind("prog_id:", 0) == 0) ids.insert(static_cast<uint32_t>(std::stoul(line.substr(8))));
    }
    ::closedir(d);
    std::set<uint32_t> portmon;
    for (uint32_t id : portmonPrograms())
        if (ids.count(id)) portmon.insert(id);
    return portmon;
}

} // namespace quillon::test
