// Map files are whatever the user picks: the reader must take any bytes.

#include "vars/map_import.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    // Rows already there, numbered with gaps as deleting leaves them.
    quillon::vars::VarList list;
    for (size_t i = 0; i < std::min<size_t>(size, 8); ++i) {
        quillon::vars::VarRow row;
        row.def.number = static_cast<int32_t>(i * (data[i] % 3 + 1));
        list.insert(row);
    }
    quillon::vars::VarList together = list;
    std::vector<quillon::vars::VarRow> added;
    quillon::vars::readIccMap(in, [&](const quillon::vars::MapSymbol& symbol) {
        if (symbol.size <= 0 || symbol.address == 0) std::abort();
        if (symbol.name.find_first_of("\r\n") != std::string::npos) std::abort();
        auto row = quillon::vars::rowForSymbol(symbol);
        added.push_back(row);
        row.def.number = list.nextNumber();
        list.insert(std::move(row));
    });
    // The import places them all in one pass, as one add after another would.
    together.insertAtFreeNumbers(std::move(added));
    if (together.size() != list.size()) std::abort();
    for (size_t i = 0; i < list.size(); ++i)
        if (together.row(i).def.number != list.row(i).def.number || together.row(i).def.name != list.row(i).def.name)
            std::abort();
    return 0;
}
