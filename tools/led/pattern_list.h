#pragma once
// The named segment wirings of one display type, as the settings file keeps
// them: the list the page shows, and every change written through at once.

#include "tools/led/led_codes.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {
class SettingsFile;
}

namespace quillon::led {

// Section of the settings file that holds the patterns of a type.
const char* patternSection(LedType type);

class PatternList {
public:
    struct Entry {
        std::string name;
        std::string pattern;
    };
    enum class Refusal { None, EmptyName, UnstorableName, DuplicateName };

    explicit PatternList(LedType type = LedType::Seg7) : type_(type) {}

    LedType type() const { return type_; }
    const std::vector<Entry>& entries() const { return entries_; }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // The entry of that name (blanks around it and letter case do not count,
    // as for the file's keys); nullptr when there is none.
    const Entry* find(const std::string& name) const;

    // The patterns of `type` in file order.
    void load(const SettingsFile& settings, LedType type);
    // Adds a pattern under `name` with blanks around it removed (the file
    // drops them too) and writes the list. Names compare as the file's keys
    // do, without regard to case. A failing write throws and leaves the
    // list as it was.
    Refusal add(SettingsFile& settings, const std::string& name, const std::string& pattern);
    void remove(SettingsFile& settings, size_t index);

private:
    LedType type_;
    std::vector<Entry> entries_;
};

} // namespace quillon::led
