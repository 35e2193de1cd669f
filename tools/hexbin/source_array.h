#pragma once
// Byte tables in C or assembler source from a binary or Intel HEX file,
// one byte per line with its running index as a comment.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::hexbin {

struct ArrayStyle {
    bool assembler = false;
    std::string directive = "DB"; // data-definition directive (assembler)
    std::string marker = "H";     // hex marker (assembler)
    bool prefix = false;          // marker before the digits instead of after
};

// Lines are separated by `newline`; the text ends with the closing line
// ("};" in C, empty in assembler) followed by one more newline, so a memo
// shows a final empty line.
class ArrayEmitter {
public:
    ArrayEmitter(ArrayStyle style, std::string_view newline);
    void begin(std::string& out);
    // One byte given by its two digit characters, kept as they are.
    void add(char hi, char lo, std::string& out);
    void finish(std::string& out);
    // Moves the lines buffered inside the emitter to `out`.
    void drain(std::string& out);
    std::size_t count() const { return count_; }

private:
    void writeLine(bool last, std::string& out);
    void nextIndex();
    ArrayStyle style_;
    std::string nl_;
    // Pieces of a line, each followed by 16 spare bytes so short ones copy
    // as one fixed-size move.
    std::string lead_, sep_, sepLast_;
    std::size_t leadLen_ = 0, sepLen_ = 0, sepLastLen_ = 0;
    char index_[32]; // hex index, right-aligned in the first 16
    int indexStart_ = 15;
    char pending_[2] = {0, 0};
    bool hasPending_ = false;
    std::size_t count_ = 0;
    // Lines are formatted here and moved to the output in large pieces.
    std::vector<char> buf_;
    std::size_t used_ = 0;
    std::size_t maxLine_ = 0;
};

enum class ArrayOutcome { Done, OpenFailed, UnknownType, BadChecksum };

// `flush` is called with the text produced so far whenever it grows large;
// it may consume (and clear) the string. The final text is left in `out`.
using ArrayFlush = std::function<void(std::string&)>;

ArrayOutcome arrayFromBinary(const std::string& path, const ArrayStyle& style, std::string_view newline,
                             std::string& out, const ArrayFlush& flush = {});
// HEX input: data bytes of the type-00 records in file order, addresses
// ignored; stops at the end record or the first bad record (the text made so
// far is closed normally). With `extended`, address records (02 to 05) are
// accepted and skipped, as files past 64 KiB carry them.
struct HexArrayResult {
    ArrayOutcome outcome = ArrayOutcome::Done;
    std::size_t line = 0;
};
HexArrayResult arrayFromHex(const std::string& path, const ArrayStyle& style, std::string_view newline,
                            std::string& out, const ArrayFlush& flush = {}, bool extended = false);

} // namespace quillon::hexbin
