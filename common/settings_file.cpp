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
#include <unordered_map>
#include <unordered_set>

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

// The file's lines grouped by section, for many writes in one pass: each
// section and each key is looked up by its folded name instead of by a scan
// of the file per write. Every write leaves the lines exactly as a write of
// its own (read the file, change it, save it) would.
class Document {
public:
    explicit Document(std::vector<Line> lines) { parse(lines); }

    // An existing key's value is replaced in place, keeping the key as it was
    // first written; a new key goes after the section's last non-blank line;
    // a new section goes at the end of the file.
    void set(const std::string& section, const std::string& key, const std::string& value)
    {
        auto found = sections_.find(toLowerAscii(section));
        if (found == sections_.end()) {
            blocks_.emplace_back();
            blocks_.back().lines = {"[" + utf8ToGbk(section) + "]", entryLine(key, value)};
            std::string name;
            if (!sectionNameOf(blocks_.back().lines[0], name) || hasLineEnd(blocks_.back().lines[0]) ||
                !readsAsWritten(blocks_.back().lines[1]))
                return reparse();
            sections_.emplace(toLowerAscii(name), blocks_.size() - 1);
            return;
        }
        Block& block = blocks_[found->second];
        block.indexKeys();
        if (auto at = block.keys.find(toLowerAscii(key)); at != block.keys.end()) {
            std::string& raw = block.lines[at->second];
            std::string_view t = trimmed(raw);
            std::string storedKey(trimmed(t.substr(0, t.find('='))));
            raw = storedKey + "=" + utf8ToGbk(value);
            if (!readsAsWritten(raw)) reparse();
            return;
        }
        // Only blank lines follow the insertion point, so no key's line moves.
        size_t at = block.lines.size();
        while (at > 1 && trimmed(block.lines[at - 1]).empty()) --at;
        std::string line = entryLine(key, value);
        if (!readsAsWritten(line)) {
            block.lines.insert(block.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
            return reparse();
        }
        // The key as it reads back (a key of characters GBK lacks does not).
        std::string k, v;
        if (entryOf(line, k, v)) block.keys.emplace(toLowerAscii(k), at);
        block.lines.insert(block.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    }

    std::vector<Line> lines()
    {
        std::vector<Line> out;
        for (auto& b : blocks_)
            for (auto& l : b.lines) out.push_back({std::move(l)});
        blocks_.clear();
        sections_.clear();
        return out;
    }

private:
    struct Block {
        std::vector<std::string> lines; // the header first, except in block 0
        std::unordered_map<std::string, size_t> keys;
        bool indexed = false;

        // Folded key -> line of its first occurrence, made when first needed.
        void indexKeys()
        {
            if (indexed) return;
            indexed = true;
            std::string k, v;
            for (size_t i = 1; i < lines.size(); ++i)
                if (entryOf(lines[i], k, v)) keys.emplace(toLowerAscii(k), i);
        }
    };

    void parse(std::vector<Line>& lines)
    {
        // Block 0 holds the lines before the first section.
        blocks_.emplace_back();
        std::string name;
        for (auto& l : lines) {
            if (sectionNameOf(l.raw, name)) {
                blocks_.emplace_back();
                // Only the first section of a name is ever read or written.
                sections_.emplace(toLowerAscii(name), blocks_.size() - 1);
            }
            blocks_.back().lines.push_back(std::move(l.raw));
        }
    }

    // A written line stays one entry line when the file is read again unless
    // it holds a line end or looks like a section header (a key such as
    // "[x]"); those are read back as the file will be.
    static bool hasLineEnd(const std::string& line) { return line.find_first_of("\r\n") != std::string::npos; }
    static bool readsAsWritten(const std::string& line)
    {
        std::string name;
        return !hasLineEnd(line) && !sectionNameOf(line, name);
    }

    void reparse()
    {
        std::string data;
        for (const auto& l : lines()) {
            data += l.raw;
            data += "\r\n";
        }
        std::vector<Line> again;
        for (auto& l : splitLines(data)) again.push_back({std::move(l)});
        parse(again);
    }

    std::vector<Block> blocks_;
    std::unordered_map<std::string, size_t> sections_;
};

} // namespace

std::optional<int32_t> indexOfKey(const std::string& key)
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
    return utf8Prefix(v, kMaxValueChars);
}

int32_t SettingsFile::readInteger(const std::string& section, const std::string& key, int32_t def) const
{
    static const std::string missing("\x01missing");
    std::string text = readText(section, key, missing);
    if (text == missing) return def;
    return parseWholeNumber(text).value_or(def);
}

std::vector<SettingsFile::Entry> SettingsFile::readSection(const std::string& section, size_t maxValueChars) const
{
    std::vector<Entry> out;
    auto lines = loadLines(path_);
    SectionSpan span = findSection(lines, section);
    if (span.header == std::string::npos) return out;
    // Keys seen so far, folded: a large section is read in one pass.
    std::unordered_set<std::string> seen;
    std::string k, v;
    for (size_t i = span.header + 1; i < span.end; ++i) {
        if (!entryOf(lines[i].raw, k, v)) continue;
        if (seen.insert(toLowerAscii(k)).second) out.emplace_back(k, utf8Prefix(v, maxValueChars));
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
    writeTexts({{section, key, value}});
}

void SettingsFile::writeTexts(const std::vector<Write>& writes)
{
    if (writes.empty()) return;
    Document doc(loadLines(path_));
    for (const Write& w : writes) doc.set(w.section, w.key, w.value);
    saveLines(path_, doc.lines());
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
