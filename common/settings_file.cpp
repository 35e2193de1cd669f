#include "common/settings_file.h"

#include "common/codepage.h"
#include "common/file_io.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

namespace {

// One line of the file, raw bytes as stored (no line end).
struct Line {
    std::string raw;
};

// A missing file reads as empty. Any other failure to open or read it is an
// error: carrying on with no lines would let the next write wipe the file.
std::vector<Line> loadLines(const std::string& path)
{
    std::vector<Line> lines;
    const auto data = readRegularFile(path);
    if (!data) {
        if (errno == ENOENT) return lines;
        throw std::runtime_error("settings file: cannot read " + path + ": " + std::strerror(errno));
    }
    for (auto& l : splitLines(*data)) lines.push_back({std::move(l)});
    return lines;
}

bool sectionNameOf(const std::string& raw, std::string& name)
{
    std::string_view t = trimmed(raw);
    if (t.size() < 2 || t.front() != '[') return false;
    // Decoded first: the second byte of a GBK character may be ']'.
    std::string text = gbkToUtf8(t.substr(1));
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    name = std::string(trimmed(std::string_view(text).substr(0, close)));
    return true;
}

bool entryOf(const std::string& raw, std::string& key, std::string& value)
{
    std::string_view t = trimmed(raw);
    if (t.empty() || t.front() == ';' || t.front() == '[') return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = gbkToUtf8(trimmed(t.substr(0, eq)));
    value = gbkToUtf8(trimmed(t.substr(eq + 1)));
    return true;
}

// Index range [first, last) of the body lines of the first section named `section`;
// first == npos when the section is absent.
struct SectionSpan {
    size_t header = std::string::npos;
    size_t end = 0;
};

SectionSpan findSection(const std::vector<Line>& lines, const std::string& section)
{
    SectionSpan span;
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!sectionNameOf(lines[i].raw, name)) continue;
        if (span.header != std::string::npos) {
            span.end = i;
            return span;
        }
        if (equalsNoCase(name, section)) span.header = i;
    }
    span.end = lines.size();
    return span;
}

size_t findKey(const std::vector<Line>& lines, const SectionSpan& span, const std::string& key)
{
    if (span.header == std::string::npos) return std::string::npos;
    std::string k, v;
    for (size_t i = span.header + 1; i < span.end; ++i)
        if (entryOf(lines[i].raw, k, v) && equalsNoCase(k, key)) return i;
    return std::string::npos;
}

std::string truncateChars(const std::string& utf8, size_t maxChars)
{
    size_t chars = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return utf8.substr(0, i);
            ++chars;
        }
    }
    return utf8;
}

void saveLines(const std::string& path, const std::vector<Line>& lines)
{
    std::string data;
    for (const auto& l : lines) {
        data += l.raw;
        data += "\r\n";
    }
    // Through SafeOutput: a settings file kept as a symlink stays one, and a
    // failed write leaves the old file whole.
    std::string error;
    if (!writeWholeFile(path, data, error, true)) throw std::runtime_error("settings file: " + error);
}

std::string entryLine(const std::string& key, const std::string& value)
{
    return utf8ToGbk(key) + "=" + utf8ToGbk(value);
}

} // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::defaultPathFor(const std::string& executablePath)
{
    size_t slash = executablePath.rfind('/');
    size_t dot = executablePath.rfind('.');
    std::string base = executablePath;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base = executablePath.substr(0, dot);
    return base + ".INI";
}

namespace {

bool folderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

// Folders the package manager (or make install) owns. Root can write them,
// but a settings file left there by "sudo quillon" belongs to no package.
bool systemFolder(const std::string& folder)
{
    return folder == "/usr" || folder.rfind("/usr/", 0) == 0 || folder == "/bin" || folder == "/sbin";
}

} // namespace

std::string SettingsFile::locationFor(const std::string& executablePath)
{
    return locationFor(executablePath, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), folderWritable);
}

std::string SettingsFile::locationFor(const std::string& executablePath, const char* xdgConfigHome, const char* home,
                                      bool (*writable)(const std::string& folder))
{
    const std::string beside = defaultPathFor(executablePath);
    const size_t slash = beside.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : beside.substr(0, slash));
    if (!systemFolder(folder) && writable(folder)) return beside;
    // A relative XDG_CONFIG_HOME is to be ignored.
    std::string config;
    if (xdgConfigHome && xdgConfigHome[0] == '/') {
        config = xdgConfigHome;
    } else {
        std::string h = home && *home ? home : "";
        if (h.empty())
            if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) h = pw->pw_dir;
        if (h.empty()) return beside;
        config = h + "/.config";
    }
    const std::string dir = config + "/quillon";
    ::mkdir(config.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    return dir + "/" + beside.substr(slash == std::string::npos ? 0 : slash + 1);
}

std::string SettingsFile::readText(const std::string& section, const std::string& key, const std::string& def) const
{
    auto lines = loadLines(path_);
    size_t i = findKey(lines, findSection(lines, section), key);
    if (i == std::string::npos) return def;
    std::string k, v;
    entryOf(lines[i].raw, k, v);
    return truncateChars(v, kMaxValueChars);
}

int32_t SettingsFile::readInteger(const std::string& section, const std::string& key, int32_t def) const
{
    static const std::string missing("\x01missing");
    std::string text = readText(section, key, missing);
    if (text == missing) return def;
    return parseWholeNumber(text).value_or(def);
}

std::vector<SettingsFile::Entry> SettingsFile::readSection(const std::string& section) const
{
    std::vector<Entry> out;
    auto lines = loadLines(path_);
    SectionSpan span = findSection(lines, section);
    if (span.header == std::string::npos) return out;
    std::string k, v;
    for (size_t i = span.header + 1; i < span.end; ++i) {
        if (!entryOf(lines[i].raw, k, v)) continue;
        bool seen = false;
        for (const auto& e : out)
            if (equalsNoCase(e.first, k)) seen = true;
        if (!seen) out.emplace_back(k, truncateChars(v, kMaxValueChars));
    }
    return out;
}

std::vector<std::string> SettingsFile::readSectionLines(const std::string& section) const
{
    std::vector<std::string> out;
    for (const auto& [k, v] : readSection(section)) out.push_back(k + "=" + v);
    return out;
}

void SettingsFile::writeInteger(const std::string& section, const std::string& key, int32_t value)
{
    writeText(section, key, std::to_string(value));
}

void SettingsFile::writeText(const std::string& section, const std::string& key, const std::string& value)
{
    auto lines = loadLines(path_);
    SectionSpan span = findSection(lines, section);
    if (span.header == std::string::npos) {
        lines.push_back({"[" + utf8ToGbk(section) + "]"});
        lines.push_back({entryLine(key, value)});
    } else if (size_t i = findKey(lines, span, key); i != std::string::npos) {
        // Keep the key as it was first written, replace the value in place.
        std::string_view t = trimmed(lines[i].raw);
        std::string storedKey(trimmed(t.substr(0, t.find('='))));
        lines[i].raw = storedKey + "=" + utf8ToGbk(value);
    } else {
        // New key: after the section's last non-blank line.
        size_t at = span.end;
        while (at > span.header + 1 && trimmed(lines[at - 1].raw).empty()) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {entryLine(key, value)});
    }
    saveLines(path_, lines);
}

void SettingsFile::deleteKey(const std::string& section, const std::string& key)
{
    auto lines = loadLines(path_);
    SectionSpan span = findSection(lines, section);
    if (span.header == std::string::npos) return;
    // Every line of the key goes: a second one (hand-edited, other letter
    // case) would otherwise be read back as the key's value.
    std::string k, v;
    size_t removed = 0;
    for (size_t i = span.end; i-- > span.header + 1;) {
        if (entryOf(lines[i].raw, k, v) && equalsNoCase(k, key)) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
        }
    }
    if (removed == 0) return;
    saveLines(path_, lines);
}

} // namespace quillon
