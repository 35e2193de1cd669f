#pragma once
// The thermistor's temperature-resistance table: which rows count, the
// Enter-key navigation of the grid, and the ".dat" file format.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::thermistor {

// One data row of the grid, texts as typed (UTF-8).
struct Row {
    std::string temperature;
    std::string resistance;
};

// Both cells filled; only such rows are saved and computed.
bool isComplete(const Row& row);

// What an Enter key in cell (row, col) of the data rows does.
struct EnterOutcome {
    enum class Error { None, BadStep, BadResistance, BadTemperature };
    Error error = Error::None;
    bool focusStep = false;                     // the step box takes the focus
    bool appendRow = false;                     // one empty row is added below the last
    std::optional<std::string> nextTemperature; // new text of column 0 of row+1
    int row = 0;                                // the current cell afterwards
    int col = 0;
};

// `rows` are the data rows (index 0 is the first row below the header);
// `stepping` is the check box state, `stepText` the step box text.
EnterOutcome enterKey(const std::vector<Row>& rows, int row, int col, bool stepping, std::string_view stepText);

// The ".dat" lines of a file's raw bytes: temperature and resistance fields
// as read (blanks kept), converted from the ANSI code page to UTF-8.
std::vector<Row> parseDat(std::string_view bytes);

// The file image of the complete rows: trimmed texts, one comma, CR LF, in GBK.
std::string formatDat(const std::vector<Row>& rows);

enum class FileStatus { Ok, OpenFailed, WriteFailed };

// Reads a whole file; nullopt when it cannot be opened or read.
std::optional<std::string> readFileBytes(const std::string& path);
FileStatus writeDatFile(const std::string& path, const std::vector<Row>& rows);

} // namespace quillon::thermistor
