#pragma once
// Received data cut into blocks and decoded into the watched variables:
// the settings the data-mode group applies, the cutting of the accumulator
// at marks or by length, the value text of one variable, and the data-mode
// step the serial session runs for every chunk.

#include "serial/receive_state.h"
#include "serial/sample.h"
#include "vars/var_list.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::vars {

// The data-mode group's fields as typed (text in UTF-8).
struct DataModeInput {
    serial::DataMode mode = serial::DataMode::Normal;
    bool stringVars = true; // cbVarFixLength
    std::string separator;  // leVarSplit
    std::string memStart;   // leMemStart, hex without prefix
    bool fixedLength = false;
    std::string fixedCount; // edMemFixLength
    std::string headMark;   // leMemHead, hex digits
    std::string endMark;    // leMemEnd
};

// Which field stopped an apply; fields before it keep their new values.
enum class ApplyError { None, StartAddress, FixedCountText, FixedCountZero, HeadMark, EndMark };

ApplyError ApplyDataModeSettings(serial::DataModeSettings& settings, const DataModeInput& input);

// Hex digits taken two at a time from the left, a last single digit as a
// byte of its own ("A55" is A5 05); at most 8 bytes. None for a pair that
// is not hexadecimal.
std::optional<std::vector<uint8_t>> MarkFromHex(std::string_view text);

// The value text of `row` read from a block body; none when the variable
// does not lie wholly inside it. In memory-map mode the offset is an address
// and the body starts at `startAddress`.
std::optional<std::string> DecodeVariable(std::span<const uint8_t> body, const VarRow& row, bool memoryMap,
                                          int32_t startAddress);
// The number DecodeVariable shows as text (whatever the display format);
// none for arrays and where DecodeVariable gives none.
std::optional<double> numericValue(std::span<const uint8_t> body, const VarRow& row, bool memoryMap,
                                   int32_t startAddress);

// What the accumulator holds, seen through the marks or the length.
struct Cut {
    enum class Kind {
        Block,     // a body from bodyBegin to bodyEnd; keep from keepFrom
        EndOnly,   // an end mark without a usable head: drop through it (with
                   // no end mark in use: all but the start of a cut head)
        Unframed,  // neither mark: show everything but the start of a cut head
        HeadLater, // head further in, no end yet: drop what comes before it
        Waiting,   // head (or the start of one) at the start, no end yet; with
                   // no end mark in use, a head with nothing behind it
    };
    Kind kind = Kind::Waiting;
    size_t bodyBegin = 0;
    size_t bodyEnd = 0;
    size_t keepFrom = 0;
};

Cut FindCut(const serial::DataModeSettings& settings, std::span<const uint8_t> data);

// The step of the modes other than Normal. It reads the watched rows from
// the list and writes their values there.
class DataModeDecoder : public serial::DataModeStep {
public:
    explicit DataModeDecoder(VarList& variables) : variables_(variables) {}

    serial::ReceiveResult process(serial::ReceiveModes& state, std::span<const uint8_t> chunk) override;

    // Times the accumulator was too full for a chunk and started over.
    uint64_t overflows() const { return overflows_; }
    uint64_t blocksDecoded() const { return blocks_; }

private:
    // One cut of the accumulator; false when it changed nothing. A body or
    // unframed bytes go to `shown`, rows given a new value to `changed`.
    bool CutBlock(serial::ReceiveModes& state, std::vector<uint8_t>& shown, std::vector<size_t>& changed);
    void append(serial::ReceiveModes& state, std::span<const uint8_t> chunk);
    void cutAtMarks(serial::ReceiveModes& state, std::span<const uint8_t> chunk, std::vector<size_t>& changed);
    void stringValues(serial::ReceiveModes& state, std::span<const uint8_t> chunk, serial::ReceiveResult& result);
    void decodeRows(const serial::ReceiveModes& state, std::span<const uint8_t> body, std::vector<size_t>& changed);

    VarList& variables_;
    std::vector<uint8_t> display_;
    // A block body is what this chunk shows.
    bool bodyShown_ = false;
    // Values of the changed rows before this chunk, in the order of `changed`.
    std::vector<std::string> previous_;
    std::vector<serial::Sample> samples_;
    serial::SampleClock::time_point chunkTime_;
    uint64_t overflows_ = 0;
    uint64_t blocks_ = 0;
};

} // namespace quillon::vars
