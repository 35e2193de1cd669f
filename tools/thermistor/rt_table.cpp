#include "tools/thermistor/rt_table.h"

#include "common/codepage.h"
#include "common/file_io.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/text.h"

#include <cstdio>
#include <memory>

namespace quillon::thermistor {

bool isComplete(const Row& row) { return isFilled(row.temperature) && isFilled(row.resistance); }

EnterOutcome enterKey(const std::vector<Row>& rows, int row, int col, bool stepping, std::string_view stepText)
{
    EnterOutcome out;
    out.row = row;
    out.col = col;
    if (row < 0 || row >= static_cast<int>(rows.size())) return out;
    const Row& r = rows[static_cast<size_t>(row)];
    const bool last = row == static_cast<int>(rows.size()) - 1;

    if (stepping && isFilled(stepText)) {
        const auto step = parseDecimal(stepText);
        if (!step) {
            out.error = EnterOutcome::Error::BadStep;
            out.focusStep = true;
            return out;
        }
        if (!isComplete(r)) {
            out.col = isFilled(r.temperature) ? 1 : 0;
            return out;
        }
        if (!parseDecimal(trimmed(r.resistance))) {
            out.error = EnterOutcome::Error::BadResistance;
            return out;
        }
        out.appendRow = last;
        const auto t = parseDecimal(trimmed(r.temperature));
        if (!t) {
            // The row appended above stays.
            out.error = EnterOutcome::Error::BadTemperature;
            out.col = 0;
            return out;
        }
        out.nextTemperature = formatFloat(*t + *step);
        out.row = row + 1;
        out.col = 1;
        return out;
    }

    if (!isFilled(r.temperature)) {
        out.col = 0;
    } else if (col == 1 && isFilled(r.resistance)) {
        if (!parseDecimal(trimmed(r.resistance))) {
            out.error = EnterOutcome::Error::BadResistance;
            return out;
        }
        out.appendRow = last;
        out.row = row + 1;
        out.col = 0;
    } else {
        out.col = 1;
    }
    return out;
}

namespace {

// Lines as a 250-byte line buffer reads them: up to and including LF, at
// most 249 bytes; a longer line continues as the next piece.
std::vector<std::string_view> datLines(std::string_view bytes)
{
    constexpr size_t kMaxLine = 249;
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t len = 0;
        while (pos + len < bytes.size() && len < kMaxLine) {
            ++len;
            if (bytes[pos + len - 1] == '\n') break;
        }
        std::string_view line = bytes.substr(pos, len);
        // The buffer is a C string: a NUL byte ends the line's text.
        if (auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
        lines.push_back(line);
        pos += len;
    }
    return lines;
}

// Skips leading delimiters, then takes text up to the next delimiter.
std::optional<std::string_view> nextToken(std::string_view& rest, std::string_view delims)
{
    const size_t start = rest.find_first_not_of(delims);
    if (start == std::string_view::npos) {
        rest = {};
        return std::nullopt;
    }
    rest.remove_prefix(start);
    const size_t end = rest.find_first_of(delims);
    std::string_view token = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return token;
}

} // namespace

std::vector<Row> parseDat(std::string_view bytes)
{
    std::vector<Row> rows;
    for (std::string_view line : datLines(bytes)) {
        std::string_view rest = line;
        const auto first = nextToken(rest, ",");
        if (!first) continue;
        auto second = nextToken(rest, ",");
        if (!second) continue;
        std::string_view inner = *second;
        const auto value = nextToken(inner, "\r\n");
        if (!value || value->empty()) continue;
        rows.push_back({gbkToUtf8(*first), gbkToUtf8(*value)});
    }
    return rows;
}

std::string formatDat(const std::vector<Row>& rows)
{
    std::string out;
    for (const Row& r : rows) {
        if (!isComplete(r)) continue;
        out += utf8ToGbk(trim(r.temperature));
        out += ',';
        out += utf8ToGbk(trim(r.resistance));
        out += "\r\n";
    }
    return out;
}

// Regular files only: a FIFO or a device could block or never end.
std::optional<std::string> readFileBytes(const std::string& path) { return readRegularFile(path); }

FileStatus writeDatFile(const std::string& path, const std::vector<Row>& rows)
{
    // Replaced only once the whole table is written: a full disk must not
    // cost the user the table saved before.
    SafeOutput out;
    if (!out.open(path)) return FileStatus::OpenFailed;
    if (!writeAll(out.fd(), formatDat(rows)) || !out.commit()) return FileStatus::WriteFailed;
    return FileStatus::Ok;
}

} // namespace quillon::thermistor
