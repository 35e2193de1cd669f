#pragma once
// The receive side's shared state: data mode and its settings, the block
// accumulator, the hex dump position, the idle flag and the communication
// log. The serial page and the received-data decoding hold this one object;
// it lives on the user-interface thread only.

#include "vars/sample.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

enum class DataMode : int32_t { Normal = 0, MultiVars = 2, MemoryMap = 3 };

struct DataModeSettings {
    std::array<uint8_t, 8> headMark{};
    int32_t headLen = 0;
    std::array<uint8_t, 8> endMark{};
    int32_t endLen = 0;
    int32_t startAddress = 0;
    bool fixedLength = false;
    int32_t fixedCount = 0;
    // Set when a block has been decoded; the hex dump then starts afresh.
    bool blockDecoded = false;
    DataMode mode = DataMode::Normal;
    std::string separator;
    bool stringVars = false;
};

// Received bytes collected until a block can be cut from them.
struct Accumulator {
    static constexpr size_t kCapacity = 2048;
    std::array<uint8_t, kCapacity> data{};
    size_t count = 0;

    std::span<const uint8_t> bytes() const { return {data.data(), count}; }
    void clear() { count = 0; }
    // Starts over when the chunk would not fit.
    void append(std::span<const uint8_t> chunk);
    void replace(std::span<const uint8_t> chunk);
};

// The communication log: raw bytes, each entry handed to the system as it
// is made, so a crash of the program loses nothing already logged.
class CommLog {
public:
    CommLog() = default;
    ~CommLog();
    CommLog(const CommLog&) = delete;
    CommLog& operator=(const CommLog&) = delete;

    // Creates or truncates the file. False when it can't be.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // "\r\n" + date and time + word + text. Failing writes are ignored.
    void entry(std::string_view word, std::string_view text);

private:
    int fd_ = -1;
};

// Position of the first place in `data` that holds all of `pattern`; none
// for an empty pattern or one longer than the data. A failed partial match
// moves on by one byte, so overlapping candidates are found.
std::optional<size_t> FindPattern(std::span<const uint8_t> data, std::span<const uint8_t> pattern);

// What one received chunk comes to once its data mode has seen it.
struct ReceiveResult {
    // Bytes for the receive display and its log entry; they stay valid
    // until the next chunk.
    std::span<const uint8_t> display;
    // An entry the mode itself makes in the communication log (empty: none).
    std::string_view logWord;
    std::string logText;
    // Watched-variable rows given a new value, in ascending order.
    std::vector<size_t> changedRows;
    // Every numeric value decoded, block by block, for the plot.
    std::vector<vars::Sample> samples;
};

class ReceiveState;

// The receive data-mode step of the modes other than Normal. It sees the
// state as data (settings, accumulator, interactive flags), never controls.
class DataModeStep {
public:
    virtual ~DataModeStep() = default;
    virtual ReceiveResult process(ReceiveState& state, std::span<const uint8_t> chunk) = 0;
};

class ReceiveState {
public:
    DataModeSettings settings;
    Accumulator ReceiveAccumulator;
    int32_t DumpAddress = 0;
    bool LineIdle = false;
    bool LogActive = false;
    std::string LogFileName;
    CommLog LogFile;
    // Kept current by the interactive group's handlers.
    bool interactive = false;
    bool master = false;
    // Modes other than Normal; null until the decoding is set up.
    std::unique_ptr<DataModeStep> modeStep;

    DataMode mode() const { return settings.mode; }
    bool stringVarMode() const { return settings.mode == DataMode::MultiVars && settings.stringVars; }
    // The interactive slave answers commands found in the current burst.
    bool slaveSide() const { return interactive && !master; }
    // A burst starts afresh once the line has been quiet.
    void collectBurst(std::span<const uint8_t> chunk)
    {
        if (LineIdle)
            ReceiveAccumulator.replace(chunk);
        else
            ReceiveAccumulator.append(chunk);
    }

    // Normal mode passes the chunk through; the accumulator keeps only what
    // the interactive slave looks for its commands in.
    ReceiveResult applyDataMode(std::span<const uint8_t> chunk);

    void log(std::string_view word, std::string_view text)
    {
        if (LogActive) LogFile.entry(word, text);
    }
};

inline constexpr std::string_view kLogSend = "\tSend:  ";
inline constexpr std::string_view kLogSendFile = "\tSend File:  ";
inline constexpr std::string_view kLogReceived = "\tReceived:  ";

} // namespace quillon
