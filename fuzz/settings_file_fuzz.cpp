// Any bytes as the settings file, then writes and deletes: every entry that
// no operation touched reads as it did before, and a touched one reads as
// the operation left it.
#include "common/codepage.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <optional>

using namespace quillon;

namespace {

// Names with a letter-case twin, Chinese text, and U+95FF (GBK EA 5D).
const char* const kSections[] = {
    "A", "a", "LED7 Patterns", "Var List", "VAR List", "\xE5\x91\xBD\xE4\xBB\xA4", "\xE9\x97\xBF", "S 1"};
// Quoted keys and values as the command lists store texts the file could not hold raw.
const char* const kKeys[] = {"k",   "K",          "Pattern",   "pattern", "0", "1", "\xE5\x90\x8D",
                             "a b", "\"\\x3Bk\"", "\"\\x3bK\""};
const char* const kValues[] = {
    "", "1", "0x3", "6543210", "\xE4\xBD\xA0\xE5\xA5\xBD", "a=b", "x;y", "[z]", "\"\\x20v\\x0D\\x0A\""};
const char* const kEnds[] = {"\r\n", "\n", "\r", ""};
const char* const kMissing = "\x01missing";

std::string fragment(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: return utf8ToGbk("[" + std::string(in.PickValueInArray(kSections)) + "]") + in.PickValueInArray(kEnds);
    case 1:
        return utf8ToGbk(std::string(in.PickValueInArray(kKeys)) + (in.ConsumeBool() ? " = " : "=") +
                         in.PickValueInArray(kValues)) +
               in.PickValueInArray(kEnds);
    default: return in.ConsumeRandomLengthString(40);
    }
}

using Snapshot = std::map<std::pair<int, int>, std::string>;

// What readText gives for every name pair, one section read at a time (the
// section's entries hold each key's first value); spot-checked by readText.
Snapshot readAll(const SettingsFile& f, FuzzedDataProvider& in)
{
    Snapshot s;
    for (int i = 0; i < int(std::size(kSections)); ++i) {
        const auto entries = f.readSection(kSections[i]);
        for (int j = 0; j < int(std::size(kKeys)); ++j) {
            std::string v = kMissing;
            for (const auto& [k, value] : entries)
                if (equalsNoCase(k, kKeys[j])) {
                    v = value;
                    break;
                }
            s[{i, j}] = v;
        }
    }
    const int i = in.ConsumeIntegralInRange(0, int(std::size(kSections)) - 1);
    const int j = in.ConsumeIntegralInRange(0, int(std::size(kKeys)) - 1);
    if (f.readText(kSections[i], kKeys[j], kMissing) != s[{i, j}]) __builtin_trap();
    return s;
}

// Keys and values that do not read back as written: a key with "=", one
// that reads as a section header, line breaks, blanks at the ends.
const char* const kOddKeys[] = {"a=b", "[x]", "[A]", " k ", "\r\n[A]\r\nk", ";c", "x\ry"};
const char* const kOddValues[] = {"v\r\n[A]\r\nk=w", "\n", " pad ", "x\ry", "[S 1]"};

// Many writes at once leave the file byte for byte as writing them one by one.
void batchMatchesOneByOne(const std::string& file, FuzzedDataProvider& in)
{
    std::vector<SettingsFile::Write> writes(in.ConsumeIntegralInRange(0, 12));
    for (auto& w : writes) {
        w.section = in.PickValueInArray(kSections);
        w.key = in.ConsumeBool() ? in.PickValueInArray(kKeys) : in.PickValueInArray(kOddKeys);
        w.value = in.ConsumeBool() ? in.PickValueInArray(kValues) : in.PickValueInArray(kOddValues);
    }
    const std::string one = fuzz::scratchPath("one.INI");
    const std::string all = fuzz::scratchPath("all.INI");
    fuzz::writeFile(one, file);
    fuzz::writeFile(all, file);
    SettingsFile byOne(one);
    for (const auto& w : writes) byOne.writeText(w.section, w.key, w.value);
    SettingsFile(all).writeTexts(writes);
    if (fuzz::readFile(one) != fuzz::readFile(all)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::string file;
    const int fragments = in.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < fragments; ++i) file += fragment(in);
    const std::string path = fuzz::scratchPath("q.INI");
    fuzz::writeFile(path, file);
    SettingsFile f(path);
    batchMatchesOneByOne(file, in);

    Snapshot expect = readAll(f, in);
    std::vector<bool> sectionTouched(std::size(kSections));
    std::vector<std::vector<SettingsFile::Entry>> sections;
    for (const char* s : kSections) sections.push_back(f.readSection(s));

    const int ops = in.ConsumeIntegralInRange(1, 6);
    for (int op = 0; op < ops; ++op) {
        const int si = in.ConsumeIntegralInRange(0, int(std::size(kSections)) - 1);
        const int ki = in.ConsumeIntegralInRange(0, int(std::size(kKeys)) - 1);
        const bool write = in.ConsumeBool();
        const std::string value = in.PickValueInArray(kValues);
        if (write)
            f.writeText(kSections[si], kKeys[ki], value);
        else
            f.deleteKey(kSections[si], kKeys[ki]);
        for (int i = 0; i < int(std::size(kSections)); ++i) {
            if (!equalsNoCase(kSections[i], kSections[si])) continue;
            sectionTouched[size_t(i)] = true;
            for (int j = 0; j < int(std::size(kKeys)); ++j)
                if (equalsNoCase(kKeys[j], kKeys[ki])) expect[{i, j}] = write ? value : kMissing;
        }
        if (readAll(f, in) != expect) __builtin_trap();
    }
    for (size_t i = 0; i < std::size(kSections); ++i)
        if (!sectionTouched[i] && f.readSection(kSections[i]) != sections[i]) __builtin_trap();
    return 0;
}
