#include "vars/var_list.h"

#include "common/numbers.h"
#include "common/text.h"

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

namespace {

// The length a row of `type` shows when its column can't be read.
int32_t defaultLength(VarType type)
{
    switch (type) {
    case VarType::Int: return 2;
    case VarType::Long:
    case VarType::Float: return 4;
    case VarType::Double: return 8;
    case VarType::BitMask: return 0xFF;
    case VarType::Char:
    case VarType::Array: break;
    }
    return 1;
}

// Blanks and control characters are quoted too: unquoted, reading would
// drop them from the field's ends.
bool needsQuotes(std::string_view field)
{
    for (char c : field)
        if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
    return false;
}

} // namespace

VarRow rowFor(const VarDefinition& def)
{
    VarRow row;
    row.def = def;
    row.length = def.maskOrLength;
    return row;
}

void applyDefinition(VarRow& row, const VarDefinition& def)
{
    const int32_t number = row.def.number;
    row.def = def;
    row.def.number = number;
    row.length = def.maskOrLength;
}

std::string offsetText(int32_t offset) { return hexN(static_cast<uint32_t>(offset), 4); }

std::string maskOrLengthText(const VarRow& row)
{
    if (row.def.type == VarType::BitMask) return hexN(static_cast<uint32_t>(row.length) & 0xFF, 2);
    return std::to_string(row.length);
}

std::vector<std::string> savedColumns(const VarRow& row)
{
    return {row.def.name,           row.value,
            typeName(row.def.type), offsetText(row.def.offset),
            maskOrLengthText(row),  formatName(row.def.format)};
}

VarRow rowFromColumns(const std::vector<std::string>& columns, int32_t number)
{
    auto column = [&](size_t i) -> std::string_view { return i < columns.size() ? columns[i] : std::string_view(); };
    VarRow row;
    row.def.number = number;
    row.def.name = std::string(column(0));
    if (columns.size() > 1) row.value = columns[1];
    row.def.type = typeFromName(column(2)).value_or(VarType::Char);
    row.def.offset = parseHexField(column(3)).value_or(0);
    if (row.def.type == VarType::BitMask) {
        row.length = parseHexField(column(4)).value_or(0xFF) & 0xFF;
    } else {
        const auto length = parseWholeNumber(column(4));
        row.length = length && *length >= 0 ? *length : defaultLength(row.def.type);
    }
    row.def.maskOrLength = static_cast<uint8_t>(row.length & 0xFF);
    row.def.format = formatFromName(column(5)).value_or(DisplayFormat::Hex);
    row.def.watched = true;
    return row;
}

std::string joinCommaText(const std::vector<std::string>& fields)
{
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        if (!needsQuotes(fields[i])) {
            out += fields[i];
            continue;
        }
        out += '"';
        for (char c : fields[i]) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::vector<std::string> splitCommaText(std::string_view text)
{
    std::vector<std::string> fields;
    if (trimmed(text).empty()) return fields;
    size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::string field;
        if (i < text.size() && text[i] == '"') {
            // Quoted: up to the closing quote, "" standing for one quote.
            for (++i; i < text.size(); ++i) {
                if (text[i] != '"') {
                    field += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            // Anything between the closing quote and the comma belongs to the field.
            const size_t comma = std::min(text.find(',', i), text.size());
            field += trimmed(text.substr(i, comma - i));
            i = comma;
        } else {
            const size_t comma = std::min(text.find(',', i), text.size());
            field = trimmed(text.substr(i, comma - i));
            i = comma;
        }
        fields.push_back(std::move(field));
        if (i >= text.size()) break;
        ++i; // past the comma
    }
    return fields;
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
    row.series = ++lastSeries_;
    ++revision_;
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    return at;
}

void VarList::redefine(size_t index, const VarDefinition& def)
{
    VarRow& row = rows_.at(index);
    const VarDefinition& old = row.def;
    const bool sameValue = old.name == def.name && old.offset == def.offset && old.type == def.type &&
                           row.length == def.maskOrLength;
    applyDefinition(row, def);
    if (!sameValue) {
        row.series = ++lastSeries_;
        ++revision_;
    }
}

void VarList::insertAtFreeNumbers(std::vector<VarRow> added)
{
    // Rows already in place keep theirs while they hold their index; a new
    // row takes the first index that does not, which is what the next free
    // number would be after the rows added before it.
    std::vector<VarRow> out;
    out.reserve(rows_.size() + added.size());
    size_t old = 0;
    for (VarRow& row : added) {
        while (old < rows_.size() && rows_[old].def.number == static_cast<int32_t>(out.size()))
            out.push_back(std::move(rows_[old++]));
        row.def.number = static_cast<int32_t>(out.size());
        row.series = ++lastSeries_;
        out.push_back(std::move(row));
    }
    for (; old < rows_.size(); ++old) out.push_back(std::move(rows_[old]));
    rows_ = std::move(out);
    ++revision_;
}

void VarList::remove(std::vector<size_t> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (auto it = indices.rbegin(); it != indices.rend(); ++it)
        if (*it < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*it));
    ++revision_;
}

bool VarList::setValue(size_t index, std::string value)
{
    VarRow& r = rows_.at(index);
    if (r.value == value) return false;
    r.value = std::move(value);
    return true;
}

} // namespace quillon::vars
