#include "vars/var_settings.h"

#include "common/settings_file.h"
#include "common/text.h"

#include <algorithm>
#include <utility>

namespace quillon::vars {

std::string savedRowText(const VarRow& row)
{
    std::vector<std::string> columns = savedColumns(row);
    // A decoded value may hold line ends; written as they are, they would
    // end the entry and start lines of their own in the file.
    for (auto& column : columns)
        std::replace_if(
            column.begin(), column.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    std::string text = joinCommaText(columns);
    constexpr size_t limit = SettingsFile::kMaxValueChars;
    if (utf8Chars(text) <= limit) return text;

    // Only the columns after the value hold the definition; a line cut at
    // the reading limit would lose them. The value (a long array) is shown
    // again at the next decode, so it keeps what fits, whole elements, and
    // says that it was cut.
    const std::string value = std::move(columns[1]);
    columns[1].clear();
    const size_t others = utf8Chars(joinCommaText(columns));
    // Two quotes, a comma and "..." besides the kept characters.
    const size_t room = limit > others + 6 ? limit - others - 6 : 0;
    size_t end = 0;
    for (size_t used = 0; end < value.size(); ++end) {
        const auto c = static_cast<unsigned char>(value[end]);
        if ((c & 0xC0) == 0x80) continue;     // within a character
        const size_t cost = c == '"' ? 2 : 1; // a quote is written doubled
        if (used + cost > room) break;
        used += cost;
    }
    if (end == value.size()) {
        columns[1] = value;
    } else {
        std::string kept = value.substr(0, end);
        if (value[end] != ',') {
            const size_t comma = kept.rfind(',');
            kept.resize(comma == std::string::npos ? 0 : comma);
        }
        columns[1] = kept.empty() ? std::string("...") : kept + ",...";
    }
    text = joinCommaText(columns);
    // A name as long as a whole line (only from a hand-edited file) gives way too.
    while (utf8Chars(text) > limit && !columns[0].empty()) {
        columns[0] = utf8Prefix(columns[0], utf8Chars(columns[0]) - 1);
        text = joinCommaText(columns);
    }
    return text;
}

void saveVariables(SettingsFile& settings, const VarList& list)
{
    if (list.empty()) return;
    // One rewrite of the file for the count and every row.
    std::vector<SettingsFile::Write> writes;
    writes.reserve(list.size() + 1);
    writes.push_back({settings::kVarCount, settings::kCountKey, std::to_string(list.size())});
    for (size_t i = 0; i < list.size(); ++i)
        writes.push_back({settings::kVarListWrite, std::to_string(i), savedRowText(list.row(i))});
    settings.writeTexts(writes);
}

void loadVariables(const SettingsFile& settings, VarList& list)
{
    list.clear();
    const int32_t count = settings.readInteger(settings::kVarCount, settings::kCountKey, 0);
    if (count <= 0) return;
    // One read of the section instead of one per index; a key written twice
    // gives its first value, as a single lookup would.
    std::vector<std::pair<int32_t, std::string>> saved;
    for (auto& [key, value] : settings.readSection(settings::kVarListRead)) {
        const auto index = indexOfKey(key);
        if (index && *index < count) saved.emplace_back(*index, std::move(value));
    }
    std::stable_sort(saved.begin(), saved.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [index, text] : saved) {
        VarRow row = rowFromColumns(splitCommaText(text), static_cast<int32_t>(list.size()));
        list.insert(std::move(row));
    }
}

} // namespace quillon::vars
