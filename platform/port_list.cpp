#include "platform/port_list.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quillon::platform {

bool isPtySlave(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    // Unix98 pty slaves use majors 136 to 143 (/dev/pts/N).
    const unsigned major = ::major(st.st_rdev);
    return major >= 136 && major <= 143;
}

std::vector<DeviceMapEntry> ptySymlinkPorts(const std::vector<std::string>& folders)
{
    std::vector<DeviceMapEntry> out;
    for (const std::string& folder : folders) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) continue;
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const std::string path = folder + "/" + e->d_name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && isPtySlave(path)) names.push_back(e->d_name);
        }
        ::closedir(dir);
        // Directory order is arbitrary; keep the map stable between refreshes.
        std::sort(names.begin(), names.end());
        for (const auto& name : names) out.push_back({"\\Device\\" + name, folder + "/" + name});
    }
    return out;
}

int selectionAfterRefresh(const std::vector<std::string>& list, const std::string& selected)
{
    if (list.empty()) return -1;
    const auto it = std::find(list.begin(), list.end(), selected);
    return it == list.end() ? 0 : static_cast<int>(it - list.begin());
}

} // namespace quillon::platform
