#include "vars/map_import.h"

#include "common/codepage.h"
#include "common/numbers.h"
#include "common/text.h"

#include <fstream>
#include <iterator>

namespace quillon::vars {

namespace {

// Yields the file's lines in pieces of at most kMapPieceBytes, without line ends.
class PieceReader {
public:
    explicit PieceReader(std::istream& in) : it_(in) {}

    bool next(std::string& piece)
    {
        piece.clear();
        if (it_ == end_) return false;
        while (it_ != end_ && piece.size() < kMapPieceBytes) {
            const char c = *it_;
            ++it_;
            if (c == '\n') return true;
            piece += c;
        }
        // A line that ends right after a full piece leaves no empty piece behind.
        if (it_ != end_ && *it_ == '\n') ++it_;
        return true;
    }

private:
    std::istreambuf_iterator<char> it_;
    std::istreambuf_iterator<char> end_;
};

const std::string_view kWindowStart = "__bss_start";
const std::string_view kWindowEndName = "_bss_end";

} // namespace

void readIccMap(std::istream& in, const std::function<void(const MapSymbol&)>& found)
{
    PieceReader reader(in);
    std::string piece;
    bool inWindow = false;
    MapSymbol previous;
    while (reader.next(piece)) {
        std::string_view line = piece;
        if (line.find(kWindowStart) != std::string_view::npos) {
            inWindow = true;
            continue;
        }
        if (!inWindow) continue;
        line = line.substr(0, std::min(line.find_first_of("\r\n"), line.size()));
        const size_t underscore = line.find('_');
        if (underscore == std::string_view::npos) continue;
        const auto address = parseHexField(trimmed(line.substr(0, underscore)));
        if (!address) continue;
        MapSymbol current;
        current.address = *address;
        // A symbol holds no blanks; trailing ones are layout, not name.
        current.name = gbkToUtf8(trimmed(line.substr(underscore + 1)));
        if (previous.address != 0) {
            previous.size = static_cast<int64_t>(current.address) - previous.address;
            if (previous.size > 0) found(previous);
        }
        previous = std::move(current);
        if (previous.name == kWindowEndName) break;
    }
}

VarRow rowForSymbol(const MapSymbol& symbol)
{
    VarDefinition def;
    def.name = symbol.name;
    def.offset = symbol.address;
    switch (symbol.size) {
    case 1: def.type = VarType::Char; break;
    case 2: def.type = VarType::Int; break;
    case 4: def.type = VarType::Long; break;
    default: def.type = VarType::Array; break;
    }
    const int32_t length = symbol.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(symbol.size);
    def.maskOrLength = static_cast<uint8_t>(length & 0xFF);
    def.format = DisplayFormat::Hex;
    def.watched = true;
    VarRow row = rowFor(def);
    row.length = length;
    return row;
}

std::optional<size_t> importIccMap(const std::string& path, VarList& list)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<VarRow> rows;
    readIccMap(in, [&](const MapSymbol& symbol) { rows.push_back(rowForSymbol(symbol)); });
    const size_t added = rows.size();
    list.insertAtFreeNumbers(std::move(rows));
    return added;
}

} // namespace quillon::vars
