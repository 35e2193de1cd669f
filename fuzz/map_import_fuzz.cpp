// Map files are whatever the user picks: the reader must take any bytes.

#include "vars/map_import.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    quillon::vars::VarList list;
    quillon::vars::readIccMap(in, [&](const quillon::vars::MapSymbol& symbol) {
        if (symbol.size <= 0 || symbol.address == 0) std::abort();
        if (symbol.name.find_first_of("\r\n") != std::string::npos) std::abort();
        auto row = quillon::vars::rowForSymbol(symbol);
        row.def.number = list.nextNumber();
        list.insert(std::move(row));
    });
    for (size_t i = 0; i < list.size(); ++i)
        if (list.row(i).def.number != static_cast<int32_t>(i)) std::abort();
    return 0;
}
