#include "tools/led/pattern_list.h"

#include "common/settings_file.h"
#include "common/text.h"

namespace quillon::led {

const char* patternSection(LedType type)
{
    switch (type) {
    case LedType::Seg7: return settings::kLed7Patterns;
    case LedType::Seg14: return settings::kLed14Patterns;
    case LedType::Seg16: break;
    }
    return settings::kLed16Patterns;
}

void PatternList::load(const SettingsFile& settings, LedType type)
{
    type_ = type;
    entries_.clear();
    for (auto& [name, pattern] : settings.readSection(patternSection(type)))
        entries_.push_back({std::move(name), std::move(pattern)});
}

const PatternList::Entry* PatternList::find(const std::string& name) const
{
    const std::string key = trim(name);
    for (const Entry& e : entries_)
        if (equalsNoCase(e.name, key)) return &e;
    return nullptr;
}

PatternList::Refusal PatternList::add(SettingsFile& settings, const std::string& name, const std::string& pattern)
{
    const std::string key = trim(name);
    if (key.empty()) return Refusal::EmptyName;
    if (!isStorablePatternName(key)) return Refusal::UnstorableName;
    if (find(key)) return Refusal::DuplicateName;

    entries_.push_back({key, pattern});
    try {
        for (const Entry& e : entries_) settings.writeText(patternSection(type_), e.name, e.pattern);
    } catch (...) {
        // Not stored: the list must not hold it either.
        entries_.pop_back();
        throw;
    }
    return Refusal::None;
}

void PatternList::remove(SettingsFile& settings, size_t index)
{
    if (index >= entries_.size()) return;
    settings.deleteKey(patternSection(type_), entries_[index].name);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

} // namespace quillon::led
