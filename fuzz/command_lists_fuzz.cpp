// The auto-reply tables as the settings file holds them. Any file loads
// (however large its counts); any key and answer text saved and loaded gives
// the same rows; and rows loaded from a file save and load again unchanged.
#include "common/settings_file.h"
#include "common/stored_text.h"
#include "fuzz/fuzz_support.h"
#include "serial/command_lists.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <set>

using namespace quillon;
using namespace quillon::serial;

namespace {

// Pieces of valid UTF-8 text, among them every character that once made a
// stored entry come back different.
const char* const kPieces[] = {"A",
                               "t",
                               "=",
                               ";",
                               "[",
                               "]",
                               " ",
                               "\t",
                               "\r",
                               "\n",
                               "\"",
                               "\\",
                               "\\x41",
                               "x",
                               "0",
                               "\x7F",
                               "\x01",
                               "温",
                               "\xF0\x9F\x98\x80",
                               "Var Count",
                               "=OK"};

std::string text(FuzzedDataProvider& in)
{
    std::string out;
    const int n = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < n; ++i) out += in.PickValueInArray(kPieces);
    return out;
}

void roundTrip(const SlaveTable& table, const std::string& path)
{
    fuzz::writeFile(path, "");
    SettingsFile settings(path);
    table.save(settings);
    SlaveTable back;
    back.load(settings);
    // A key repeated exactly is one row, with the answer the table gives for it.
    std::vector<SlaveRow> expect;
    std::set<std::string> keys;
    for (const auto& r : table.rows())
        if (keys.insert(r.key).second) expect.push_back(r);
    if (expect.empty()) return;
    if (back.size() != expect.size()) __builtin_trap();
    for (size_t i = 0; i < expect.size(); ++i)
        if (back.row(i).key != expect[i].key || back.row(i).answer != expect[i].answer) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string path = fuzz::scratchPath("lists.INI");
    const std::string copy = fuzz::scratchPath("lists-copy.INI");

    // Any bytes as a stored text: what is stored reads back as it was.
    const std::string raw = in.ConsumeRandomLengthString(64);
    for (StoredAs as : {StoredAs::Key, StoredAs::Value})
        for (bool letters : {false, true})
            if (textOfStored(storedText(raw, as, letters)) != raw) __builtin_trap();

    // Typed rows.
    SlaveTable typed;
    typed.remove(0);
    const int rows = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < rows; ++i) {
        typed.addEmpty();
        typed.row(typed.size() - 1) = {text(in), text(in)};
    }
    roundTrip(typed, path);

    // Any file: the lists load, and what loaded survives a save.
    fuzz::writeFile(path, in.ConsumeRemainingBytesAsString());
    SettingsFile settings(path);
    SlaveTable loaded;
    loaded.load(settings);
    MasterCommandList master;
    master.load(settings);
    if (master.size() > size + MasterCommandList::kMaxMissingCommands) __builtin_trap();
    roundTrip(loaded, copy);
    return 0;
}
