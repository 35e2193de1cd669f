#pragma once
// The interactive mode's lists: the master's commands, any of which timed
// sending can step through, and the slave's table of expected commands and
// their answers. Both are kept in the settings file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quillon {
class SettingsFile;
} // namespace quillon

namespace quillon::serial {

struct MasterCommand {
    std::string text;
    bool checked = false; // taken by the loop; not saved
};

class MasterCommandList {
public:
    const std::vector<MasterCommand>& commands() const { return commands_; }
    size_t size() const { return commands_.size(); }
    bool empty() const { return commands_.empty(); }
    const MasterCommand& at(size_t i) const { return commands_.at(i); }

    void add(std::string text) { commands_.push_back({std::move(text), false}); }
    // Every non-empty line of `text`, in order; the number added.
    size_t addLines(const std::string& text);
    void replace(size_t i, std::string text) { commands_.at(i).text = std::move(text); }
    void setChecked(size_t i, bool checked) { commands_.at(i).checked = checked; }
    void remove(size_t i);

    // The command the loop sends next after `selected` (none selected: as if
    // the first were); none when no command is checked.
    std::optional<size_t> nextLoopCommand(std::optional<size_t> selected) const;

    // Keys "0" to Count - 1, up to the highest key stored; a missing key
    // gives an empty command (at most kMaxMissingCommands of them).
    void load(const SettingsFile& settings);
    static constexpr size_t kMaxMissingCommands = 65536;
    // An empty list writes nothing, so what was saved before stays.
    void save(SettingsFile& settings) const;

private:
    std::vector<MasterCommand> commands_;
};

struct SlaveRow {
    std::string key;    // the command as expected on the line
    std::string answer; // sent as the send box would send it
};

class SlaveTable {
public:
    // One empty row to be filled in place.
    SlaveTable() : rows_(1) {}

    const std::vector<SlaveRow>& rows() const { return rows_; }
    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    SlaveRow& row(size_t i) { return rows_.at(i); }
    const SlaveRow& row(size_t i) const { return rows_.at(i); }
    void addEmpty() { rows_.emplace_back(); }
    void remove(size_t i);

    // With duplicate keys, the first row's answer.
    std::string answerOf(const std::string& key) const;
    // The first row from the top whose key occurs in `received`. Keys are
    // text, or hex digits when `hexKeys`; a key that is not pure hex digits
    // then never matches, nor does an empty one.
    std::optional<size_t> matchingRow(std::span<const uint8_t> received, bool hexKeys) const;

    // Every entry of the section, when the saved count is above 0.
    void load(const SettingsFile& settings);
    // Rows in table order; nothing when the table is empty.
    void save(SettingsFile& settings) const;
    // The key=answer entries a save writes, given the keys already in the
    // section (which a save does not remove).
    std::vector<std::pair<std::string, std::string>> storedEntries(const std::vector<std::string>& keysInFile) const;

private:
    std::vector<SlaveRow> rows_;
};

} // namespace quillon::serial
