// The settings file may be edited by hand: loading the variable rows must
// take any file, and every loaded row must be one the list can show and save.

#include "common/settings_file.h"
#include "vars/var_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& scratchPath()
{
    static const std::string path = [] {
        char name[] = "/tmp/quillon-fuzz-vars-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(name);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace quillon::vars;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // One field list: what is split and joined again splits the same (a
    // lone empty field joins to nothing at all).
    const auto fields = splitCommaText(text);
    const bool loneEmpty = fields.size() == 1 && fields[0].empty();
    if (!loneEmpty && splitCommaText(joinCommaText(fields)) != fields) std::abort();

    FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    quillon::SettingsFile settings(scratchPath());
    VarList list;
    loadVariables(settings, list);
    for (size_t i = 0; i < list.size(); ++i) {
        const VarRow& row = list.row(i);
        if (row.def.number != static_cast<int32_t>(i) || !row.def.watched || row.length < 0) std::abort();
        if (row.def.maskOrLength != static_cast<uint8_t>(row.length & 0xFF)) std::abort();
        (void)savedColumns(row);
    }
    return 0;
}
