#include "vars/var_list.h"

#include <algorithm>

namespace quillon::vars {

const std::vector<std::string>& TypeNameList()
{
    static const std::vector<std::string> names = {"char=0",   "int=1",     "long=2", "float=3",
                                                   "double=4", "BitMask=5", "Array=6"};
    return names;
}

const std::vector<std::string>& FormatNameList()
{
    static const std::vector<std::string> names = {"Hex=0", "Dec=1", "Bin=2"};
    return names;
}

namespace {

std::string namePart(const std::string& entry) { return entry.substr(0, entry.find('=')); }

template <typename E>
std::optional<E> valueOfName(const std::vector<std::string>& list, std::string_view name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (namePart(list[i]) == name) return static_cast<E>(i);
    return std::nullopt;
}

} // namespace

std::string typeName(VarType type) { return namePart(TypeNameList().at(static_cast<size_t>(type))); }

std::string formatName(DisplayFormat format) { return namePart(FormatNameList().at(static_cast<size_t>(format))); }

std::optional<VarType> typeFromName(std::string_view name) { return valueOfName<VarType>(TypeNameList(), name); }

std::optional<DisplayFormat> formatFromName(std::string_view name)
{
    return valueOfName<DisplayFormat>(FormatNameList(), name);
}

int32_t VarList::nextNumber() const
{
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].def.number != static_cast<int32_t>(i)) return static_cast<int32_t>(i);
    return static_cast<int32_t>(rows_.size());
}

size_t VarList::insert(VarRow row)
{
    const size_t at = row.def.number >= 0 ? std::min(static_cast<size_t>(row.def.number), rows_.size()) : rows_.size();
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    return at;
}

void VarList::remove(std::vector<size_t> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (auto it = indices.rbegin(); it != indices.rend(); ++it)
        if (*it < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*it));
}

bool VarList::setValue(size_t index, std::string value)
{
    VarRow& r = rows_.at(index);
    if (r.value == value) return false;
    r.value = std::move(value);
    return true;
}

} // namespace quillon::vars
