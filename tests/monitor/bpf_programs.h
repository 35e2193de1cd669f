#pragma once
// The capture helper's programs in the kernel, to check that none is left behind.

#include <bpf/bpf.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>

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

} // namespace quillon::test
