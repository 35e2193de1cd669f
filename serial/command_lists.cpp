#include "serial/command_lists.h"

#include "common/settings_file.h"
#include "common/text.h"
#include "serial/hex_text.h"
#include "serial/receive_state.h"

namespace quillon {

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

void MasterCommandList::load(const SettingsFile& settings)
{
    commands_.clear();
    const int32_t count = settings.readInteger(settings::kMasterCommandCount, settings::kCountKey, 0);
    for (int32_t k = 0; k < count; ++k) add(settings.readText(settings::kMasterCommandList, std::to_string(k), ""));
}

void MasterCommandList::save(SettingsFile& settings) const
{
    if (commands_.empty()) return;
    settings.writeInteger(settings::kMasterCommandCount, settings::kCountKey, static_cast<int32_t>(commands_.size()));
    for (size_t i = 0; i < commands_.size(); ++i)
        settings.writeText(settings::kMasterCommandList, std::to_string(i), commands_[i].text);
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
    for (auto& [key, answer] : settings.readSection(settings::kSlaveCommandList))
        rows_.push_back({std::move(key), std::move(answer)});
}

void SlaveTable::save(SettingsFile& settings) const
{
    if (rows_.empty()) return;
    settings.writeInteger(settings::kSlaveCommandCount, settings::kCountKey, static_cast<int32_t>(rows_.size()));
    for (const auto& r : rows_) settings.writeText(settings::kSlaveCommandList, r.key, r.answer);
}

} // namespace quillon
