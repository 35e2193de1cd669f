#include "vars/var_settings.h"

#include "common/settings_file.h"

#include <algorithm>
#include <utility>

namespace quillon::vars {

namespace {

// The row index a key stands for: decimal as the program writes it, no sign,
// no leading zero.
std::optional<int32_t> rowIndexOfKey(const std::string& key)
{
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return std::nullopt;
    int64_t value = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace

void saveVariables(SettingsFile& settings, const VarList& list)
{
    if (list.empty()) return;
    settings.writeInteger(settings::kVarCount, settings::kCountKey, static_cast<int32_t>(list.size()));
    for (size_t i = 0; i < list.size(); ++i) {
        std::string text = joinCommaText(savedColumns(list.row(i)));
        // A decoded value may hold line ends; written as they are, they would
        // end the entry and start lines of their own in the file.
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        settings.writeText(settings::kVarListWrite, std::to_string(i), text);
    }
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
        const auto index = rowIndexOfKey(key);
        if (index && *index < count) saved.emplace_back(*index, std::move(value));
    }
    std::stable_sort(saved.begin(), saved.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [index, text] : saved) {
        VarRow row = rowFromColumns(splitCommaText(text), static_cast<int32_t>(list.size()));
        list.insert(std::move(row));
    }
}

} // namespace quillon::vars
