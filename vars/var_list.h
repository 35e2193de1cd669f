#pragma once
// Watched variables: named, typed pieces of the received blocks. The list is
// what the variable group shows and what the decoder fills; it holds no
// widget, so decoding is testable on its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::vars {

enum class VarType : int32_t { Char = 0, Int = 1, Long = 2, Float = 3, Double = 4, BitMask = 5, Array = 6 };
enum class DisplayFormat : int32_t { Hex = 0, Dec = 1, Bin = 2 };

// The name=value lists the program keeps, in this order.
const std::vector<std::string>& TypeNameList();
const std::vector<std::string>& FormatNameList();
// The name part of an entry ("char" of "char=0").
std::string typeName(VarType type);
std::string formatName(DisplayFormat format);
std::optional<VarType> typeFromName(std::string_view name);
std::optional<DisplayFormat> formatFromName(std::string_view name);

// One variable as the dialog edits it.
struct VarDefinition {
    int32_t number = 0;
    std::string name;
    int32_t offset = 0;
    VarType type = VarType::Char;
    // BitMask: the mask; Array: the element count; otherwise the byte length shown.
    uint8_t maskOrLength = 1;
    DisplayFormat format = DisplayFormat::Hex;
    bool watched = true;
};

// A row of the list: the definition and what its columns show.
struct VarRow {
    VarDefinition def;
    // The mask/length column. Rows from a map file may hold lengths above
    // 255; the decoder uses this, not the one-byte field of the definition.
    int32_t length = 1;
    // The last decoded value.
    std::string value = "0";
    // Names the recorded history of the row's values; the list gives a new
    // one to each row it takes in and to a row whose value means something
    // else after an edit.
    uint64_t series = 0;
};

// A new row for `def`, as adding one by hand makes it.
VarRow rowFor(const VarDefinition& def);
// Edits the row's definition; its number and value stay as they are.
void applyDefinition(VarRow& row, const VarDefinition& def);

// The columns as the list shows them.
std::string offsetText(int32_t offset);          // 4 upper-case hex digits, more if needed
std::string maskOrLengthText(const VarRow& row); // BitMask: 2 hex digits; else decimal
// name, value, type name, offset, mask/length, format name: what is saved.
std::vector<std::string> savedColumns(const VarRow& row);
// A row from saved columns; missing or unreadable columns take defaults.
VarRow rowFromColumns(const std::vector<std::string>& columns, int32_t number);

// Fields joined by ","; a field holding a blank (or another control
// character), a comma or a double quote is quoted, with inner quotes doubled.
std::string joinCommaText(const std::vector<std::string>& fields);
// The reverse: splits at commas outside quotes, blanks around an unquoted
// field dropped. Empty text gives no field.
std::vector<std::string> splitCommaText(std::string_view text);

class VarList {
public:
    const std::vector<VarRow>& rows() const { return rows_; }
    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    const VarRow& row(size_t index) const { return rows_.at(index); }
    VarRow& row(size_t index) { return rows_.at(index); }

    // The number a new row gets: the first index whose row holds another
    // number, else the row count.
    int32_t nextNumber() const;
    // Inserts at index = number (or at the end when the list is shorter).
    size_t insert(VarRow row);
    // Edits a row's definition (applyDefinition). A new name, offset, type
    // or mask/length starts a new history; a new display format does not.
    void redefine(size_t index, const VarDefinition& def);
    // Adds the rows in turn, each numbered and placed as nextNumber() and
    // insert() would do it, in one pass over the list.
    void insertAtFreeNumbers(std::vector<VarRow> rows);
    // Removes the rows at `indices` (any order, duplicates ignored).
    void remove(std::vector<size_t> indices);
    void clear()
    {
        rows_.clear();
        ++revision_;
    }
    // Counts the changes of which rows there are and what they mean.
    uint64_t revision() const { return revision_; }

    // Sets the value text; true when it changed.
    bool setValue(size_t index, std::string value);

private:
    std::vector<VarRow> rows_;
    uint64_t lastSeries_ = 0;
    uint64_t revision_ = 0;
};

} // namespace quillon::vars
