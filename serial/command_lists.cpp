#include "serial/command_lists.h"

#include "common/settings_file.h"
#include "common/stored_text.h"
#include "common/text.h"
#include "serial/hex_text.h"
#include "serial/receive_state.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

namespace quillon::serial {

size_t MasterCommandList::addLines(const std::string& text)
{
    size_t added = 0;
    for (auto& line : splitLines(text)) {
        if (line.empty()) continue;
        add(std::move(line));
        ++added;
    }
    return added;
}

void MasterCommandList::remove(size_t i)
{
    if (i < commands_.size()) commands_.erase(commands_.begin() + static_cast<std::ptrdiff_t>(i));
}

std::optional<size_t> MasterCommandList::nextLoopCommand(std::optional<size_t> selected) const
{
    const size_t n = commands_.size();
    bool anyChecked = false;
    for (const auto& c : commands_) anyChecked = anyChecked || c.checked;
    if (!anyChecked) return std::nullopt;
    size_t at = selected && *selected < n ? *selected : 0;
    do {
        at = (at + 1) % n;
    } while (!commands_[at].checked);
    return at;
}

namespace {

// Values are read whole and cut after they are unquoted, so a quoted text is
// never cut inside an escape.
std::string loadedText(const std::string& stored)
{
    return utf8Prefix(textOfStored(stored), SettingsFile::kMaxValueChars);
}

} // namespace

void MasterCommandList::load(const SettingsFile& settings)
{
    commands_.clear();
    const int32_t count = settings.readInteger(settings::kMasterCommandCount, settings::kCountKey, 0);
    if (count <= 0) return;
    // One read of the section; the list reaches as far as the highest key
    // actually stored, however large a hand-edited count is. Keys in between
    // that are missing give empty commands, though never more of them than
    // kMaxMissingCommands in all: a key such as 2000000000 must not cost
    // gigabytes.
    std::map<size_t, std::string> stored;
    for (auto& [key, value] : settings.readSection(settings::kMasterCommandList, SIZE_MAX)) {
        const auto index = indexOfKey(key);
        if (index && *index < count) stored.emplace(static_cast<size_t>(*index), loadedText(value));
    }
    size_t missingLeft = kMaxMissingCommands;
    for (auto& [index, text] : stored) {
        const size_t missing = std::min(index - commands_.size(), missingLeft);
        commands_.resize(commands_.size() + missing);
        missingLeft -= missing;
        add(std::move(text));
    }
}

void MasterCommandList::save(SettingsFile& settings) const
{
    if (commands_.empty()) return;
    // One rewrite of the file for the whole list.
    std::vector<SettingsFile::Write> writes;
    writes.push_back({settings::kMasterCommandCount, settings::kCountKey, std::to_string(commands_.size())});
    for (size_t i = 0; i < commands_.size(); ++i)
        writes.push_back(
            {settings::kMasterCommandList, std::to_string(i), storedText(commands_[i].text, StoredAs::Value)});
    settings.writeTexts(writes);
}

void SlaveTable::remove(size_t i)
{
    if (i < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
}

std::string SlaveTable::answerOf(const std::string& key) const
{
    for (const auto& r : rows_)
        if (r.key == key) return r.answer;
    return {};
}

std::optional<size_t> SlaveTable::matchingRow(std::span<const uint8_t> received, bool hexKeys) const
{
    for (size_t i = 0; i < rows_.size(); ++i) {
        std::vector<uint8_t> key = TextToSendBytes(rows_[i].key);
        if (hexKeys && !HexTextToBytes(key)) continue;
        if (FindPattern(received, key)) return i;
    }
    return std::nullopt;
}

void SlaveTable::load(const SettingsFile& settings)
{
    if (settings.readInteger(settings::kSlaveCommandCount, settings::kCountKey, 0) <= 0) return;
    rows_.clear();
    for (auto& [key, answer] : settings.readSection(settings::kSlaveCommandList, SIZE_MAX))
        rows_.push_back({textOfStored(key), loadedText(answer)});
}

std::vector<SettingsFile::Entry> SlaveTable::storedEntries(const std::vector<std::string>& keysInFile) const
{
    // Keys are told apart without regard to case. A key that differs only in
    // case from one stored before it (in the table or left in the file by an
    // earlier save) is stored with its letters escaped, so both come back. A
    // key repeated exactly is stored once with the upper row's answer: that is
    // the answer the table gives for it.
    std::vector<SettingsFile::Entry> entries;
    std::set<std::string> rowKeys;
    std::map<std::string, std::string> taken; // upper-case stored key -> stored key
    for (const auto& k : keysInFile) taken.emplace(toUpperAscii(k), k);
    for (const auto& r : rows_) {
        if (!rowKeys.insert(r.key).second) continue;
        std::string key = storedText(r.key, StoredAs::Key);
        if (auto it = taken.find(toUpperAscii(key)); it != taken.end() && it->second != key)
            key = storedText(r.key, StoredAs::Key, true);
        taken.emplace(toUpperAscii(key), key);
        entries.emplace_back(std::move(key), storedText(r.answer, StoredAs::Value));
    }
    return entries;
}

void SlaveTable::save(SettingsFile& settings) const
{
    if (rows_.empty()) return;
    std::vector<std::string> keysInFile;
    for (auto& entry : settings.readSection(settings::kSlaveCommandList)) keysInFile.push_back(std::move(entry.first));
    std::vector<SettingsFile::Write> writes;
    writes.push_back({settings::kSlaveCommandCount, settings::kCountKey, std::to_string(rows_.size())});
    for (auto& [key, answer] : storedEntries(keysInFile))
        writes.push_back({settings::kSlaveCommandList, std::move(key), std::move(answer)});
    settings.writeTexts(writes);
}

} // namespace quillon::serial
