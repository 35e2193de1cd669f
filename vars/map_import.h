#pragma once
// Global variables from an ImageCraft C linker map: the symbols between
// __bss_start and __bss_end, each sized by the distance to the next one.

#include "vars/var_list.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>

namespace quillon::vars {

struct MapSymbol {
    std::string name; // without its leading underscore
    int32_t address = 0;
    int64_t size = 0;
};

// Lines are taken in pieces of at most this many bytes, so a line of any
// length costs no more memory than this.
inline constexpr size_t kMapPieceBytes = 255;

// Calls `found` for every symbol of the window, in file order. Lines whose
// part before the first "_" is not a hex address are skipped; so are
// symbols whose size comes out zero or negative (the file lists them out of
// order). Address 0 counts as "no symbol yet".
void readIccMap(std::istream& in, const std::function<void(const MapSymbol&)>& found);

// The row a symbol gives: type by size (1 char, 2 int, 4 long, else Array),
// length = size, offset = address, shown in hex, watched.
VarRow rowForSymbol(const MapSymbol& symbol);

// Adds a row for every symbol of the map file at `path` (as the system takes
// it), each at the first free number. The count added, or nullopt when the
// file can't be opened.
std::optional<size_t> importIccMap(const std::string& path, VarList& list);

} // namespace quillon::vars
