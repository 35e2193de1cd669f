#pragma once
// The receive side's parts: the data mode and its settings, the block
// accumulator of the current burst, the interactive role, the result of a
// chunk, and the communication log. They live on the user-interface thread.

#include "serial/sample.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::serial {

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

// The current burst of reception: the bytes collected from it (for block
// cutting and for the slave's commands) and whether the line has been quiet
// since the last chunk, which starts the next burst afresh.
class ReceiveBurst {
public:
    Accumulator ReceiveAccumulator;

    bool lineIdle() const { return LineIdle; }
    // 500 ms without reception.
    void lineWentIdle() { LineIdle = true; }
    // Every delivered chunk ends the quiet.
    void chunkDelivered() { LineIdle = false; }
    // A burst starts afresh once the line has been quiet.
    void collect(std::span<const uint8_t> chunk)
    {
        if (LineIdle)
            ReceiveAccumulator.replace(chunk);
        else
            ReceiveAccumulator.append(chunk);
    }

private:
    bool LineIdle = false;
};

// The interactive group's role.
struct InteractiveRole {
    bool interactive = false;
    bool master = false;
    // The interactive slave answers commands found in the current burst.
    bool slaveSide() const { return interactive && !master; }
};

// An entry for the communication log.
struct LogEntry {
    std::string_view word;
    std::string text;
};

// What one received chunk comes to once its data mode has seen it.
struct ReceiveResult {
    // Bytes for the receive display; they stay valid until the next chunk.
    std::span<const uint8_t> display;
    // Entries the mode itself makes in the communication log.
    std::vector<LogEntry> log;
    // Watched-variable rows given a new value, in ascending order.
    std::vector<size_t> changedRows;
    // Every numeric value decoded, block by block, for the plot.
    std::vector<Sample> samples;
};

// What the receive modes work on: the applied settings (a decoded block
// sets blockDecoded, the hex dump clears it), the burst and the interactive
// role. The serial session owns it and changes it only through its own calls
// and the data-mode step.
struct ReceiveModes {
    DataModeSettings settings;
    ReceiveBurst burst;
    InteractiveRole role;

    DataMode mode() const { return settings.mode; }
    bool stringVarMode() const { return settings.mode == DataMode::MultiVars && settings.stringVars; }
    // Normal mode passes the chunk through; the accumulator keeps only what
    // the interactive slave looks for its commands in.
    ReceiveResult passThrough(std::span<const uint8_t> chunk);
};

// The receive data-mode step of the modes other than Normal. It sees the
// modes' state as data, never controls.
class DataModeStep {
public:
    virtual ~DataModeStep() = default;
    virtual ReceiveResult process(ReceiveModes& state, std::span<const uint8_t> chunk) = 0;
};

inline constexpr std::string_view kLogSend = "\tSend:  ";
inline constexpr std::string_view kLogSendFile = "\tSend File:  ";
inline constexpr std::string_view kLogReceived = "\tReceived:  ";

} // namespace quillon::serial
