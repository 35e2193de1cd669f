#pragma once
// The one INI file, beside the executable where that folder is writable. Every call reads the file afresh and
// every write reaches the disk before it returns (temporary file + rename, so
// a crash never leaves half a file). Text is GBK on disk and UTF-8 here.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

// Section names the program uses.
namespace settings {
inline constexpr const char* kLed7Patterns = "LED7 Patterns";
inline constexpr const char* kLed14Patterns = "LED14 Patterns";
inline constexpr const char* kLed16Patterns = "LED16 Patterns";
inline constexpr const char* kVarCount = "Var Count";
inline constexpr const char* kVarListRead = "Var List";
inline constexpr const char* kVarListWrite = "VAR List";
inline constexpr const char* kMasterCommandCount = "Master Command Count";
inline constexpr const char* kMasterCommandList = "Master Command List";
inline constexpr const char* kSlaveCommandCount = "Slaver Command Count";
inline constexpr const char* kSlaveCommandList = "Slaver Command List";
inline constexpr const char* kCountKey = "Count";
} // namespace settings

// The index a list's key stands for ("0", "1", ...): decimal as the program
// writes it, no sign, no leading zero, at most INT32_MAX.
std::optional<int32_t> indexOfKey(const std::string& key);

class SettingsFile {
public:
    using Entry = std::pair<std::string, std::string>;

    explicit SettingsFile(std::string path);

    const std::string& path() const { return path_; }

    int32_t readInteger(const std::string& section, const std::string& key, int32_t def) const;
    std::string readText(const std::string& section, const std::string& key, const std::string& def) const;
    // Key/value pairs of the section in file order; a repeated key gives its first value.
    // Values are cut to `maxValueChars` characters, as every read of a value is.
    std::vector<Entry> readSection(const std::string& section) const { return readSection(section, kMaxValueChars); }
    std::vector<Entry> readSection(const std::string& section, size_t maxValueChars) const;
    // The same as "key=value" lines.
    std::vector<std::string> readSectionLines(const std::string& section) const;

    // Throw std::runtime_error when the file can't be written.
    void writeInteger(const std::string& section, const std::string& key, int32_t value);
    void writeText(const std::string& section, const std::string& key, const std::string& value);
    // Several writes with one rewrite of the file, which reaches the disk
    // whole or not at all; the file ends as writing them one by one leaves it.
    struct Write {
        std::string section;
        std::string key;
        std::string value;
    };
    void writeTexts(const std::vector<Write>& writes);
    void deleteKey(const std::string& section, const std::string& key);

    static constexpr size_t kMaxValueChars = 2047;

    // Where the program keeps its settings: the executable's path with ".INI".
    static std::string defaultPathFor(const std::string& executablePath);

    // The settings file actually used: beside the executable while that
    // folder can be written and is not a system folder (/usr/..., /bin,
    // /sbin, which even root must not litter); otherwise the same file
    // name in $XDG_CONFIG_HOME/quillon/, by default ~/.config/quillon/, which
    // is created when missing. `writable` decides about a folder.
    static std::string locationFor(const std::string& executablePath);
    static std::string locationFor(const std::string& executablePath, const char* xdgConfigHome, const char* home,
                                   bool (*writable)(const std::string& folder));

private:
    std::string path_;
};

} // namespace quillon
