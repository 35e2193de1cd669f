// The settings file may be edited by hand: loading the variable rows must
// take any file, and every loaded row must be one the list can show and save.
// And every row the program saves must load again with its definition.

#include "common/settings_file.h"
#include "common/text.h"
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

// Text of the input's bytes 1 to 127 (each byte folded into that range),
// with an occasional Chinese character.
std::string asciiText(const uint8_t*& p, const uint8_t* end, size_t length)
{
    std::string out;
    for (; length > 0 && p < end; --length, ++p) {
        if (*p == 0xFF)
            out += "\xE6\xB8\xA9"; // 温
        else
            out += static_cast<char>(1 + *p % 127);
    }
    return out;
}

std::string withoutLineEnds(std::string s)
{
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

// Any row saved and loaded again keeps its definition: a value too long for
// a settings line gives way, never the columns behind it.
void savedRowComesBack(const uint8_t* data, size_t size)
{
    using namespace quillon::vars;
    if (size < 12) return;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    VarRow row;
    row.def.type = static_cast<VarType>(*p++ % 7);
    row.def.format = static_cast<DisplayFormat>(*p++ % 3);
    row.def.offset = static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | (p[3] & 0x7F) << 24);
    p += 4;
    row.length = static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | (p[3] & 0x7F) << 24) >> (p[3] >> 4 & 7) * 4;
    p += 4;
    row.def.name = asciiText(p, end, *p++ % 80);
    // A decoded array, repeated up to some 15,000 characters, or the input's text.
    if (p < end && *p++ & 1) {
        row.value = asciiText(p, end, 4096);
    } else {
        const std::string element = asciiText(p, end, 5);
        const size_t times = p < end ? static_cast<size_t>(*p) * 12 : 1;
        for (size_t i = 0; i < times; ++i) row.value += (i ? "," : "") + element;
    }
    const std::string text = savedRowText(row);
    if (quillon::utf8Chars(text) > quillon::SettingsFile::kMaxValueChars) std::abort();

    VarList list;
    list.insert(row);
    quillon::SettingsFile settings(scratchPath());
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) std::abort();
    std::fclose(f);
    saveVariables(settings, list);
    VarList back;
    loadVariables(settings, back);
    if (back.size() != 1) std::abort();
    const VarRow& got = back.row(0);
    const int32_t length = row.def.type == VarType::BitMask ? row.length & 0xFF : row.length;
    if (got.def.type != row.def.type || got.def.format != row.def.format || got.def.offset != row.def.offset ||
        got.length != length || got.def.name != withoutLineEnds(row.def.name))
        std::abort();
    // The value whole, or its first whole elements marked as cut.
    const std::string value = withoutLineEnds(row.value);
    if (got.value == value || got.value == "...") return;
    if (got.value.size() < 4) std::abort();
    const size_t kept = got.value.size() - 4;
    if (got.value.compare(kept, 4, ",...") != 0 || value.compare(0, kept, got.value, 0, kept) != 0 ||
        value[kept] != ',')
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace quillon::vars;
    savedRowComesBack(data, size);
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
