#pragma once
// The watched variables in the settings file: a count and one comma text per row.

#include "vars/var_list.h"

namespace quillon {
class SettingsFile;
}

namespace quillon::vars {

// The row as its settings entry: the columns as one comma text without line
// ends, short enough to be read back whole. A value too long for that keeps
// its first whole elements followed by ",...".
std::string savedRowText(const VarRow& row);

// Writes the count and every row, in one rewrite of the file; an empty list
// writes nothing. Keys of an earlier, longer save stay in the file (the
// count bounds the load).
void saveVariables(SettingsFile& settings, const VarList& list);

// Replaces the list with the saved rows: every row watched and numbered by
// its position. Only keys below the count that the file holds give rows, so
// a count far above the saved rows costs nothing.
void loadVariables(const SettingsFile& settings, VarList& list);

} // namespace quillon::vars
