#pragma once
// Plain POSIX file access: whole writes, and large blocks for the HEX/BIN tools.
// Inputs the user picks are regular files only: a FIFO with no writer would
// block open() and a device such as /dev/zero never ends.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Hands all of `bytes` to `fd`, again after an interrupted or short write.
// False when the system refuses (disk full, a closed pipe).
bool writeAll(int fd, std::string_view bytes);

// Read-only descriptor (close-on-exec, blocking reads) of a regular file, or
// -1 with errno set: EINVAL when the path names anything else (directory,
// FIFO, device, socket). Never blocks in open().
int openRegularFile(const std::string& path);

// The whole content of a regular file; nullopt with errno set when it can't
// be opened (as above) or read.
std::optional<std::string> readRegularFile(const std::string& path);

constexpr std::size_t kBlockSize = 1 << 20;

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Regular files only; never blocks (see openRegularFile).
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // True if `path` names this very file: writing it would destroy the input.
    bool isSameFile(const std::string& path) const;
    // Size of the open file, 0 if unknown.
    uint64_t size() const;
    // Next block of up to kBlockSize bytes; empty at the end of the file or on
    // a read error (which ends the data like the end of the file).
    std::string_view readBlock();
    void forEachBlock(const std::function<void(std::string_view)>& fn);

private:
    int fd_ = -1;
    std::vector<char> buf_;
};

// Splits a file into the pieces a line-oriented reader with a fixed buffer
// sees: each piece ends after a line feed or after `maxChars` characters,
// whichever comes first, so an over-long line arrives in several pieces.
class LineReader {
public:
    LineReader(InputFile& file, std::size_t maxChars) : file_(file), max_(maxChars) {}
    // False at the end of the file. The view stays valid until the next call.
    bool next(std::string_view& piece);
    // Number of the physical line the last piece belongs to, from 1.
    std::size_t lineNumber() const { return line_; }
    // True when the last piece is the rest of a line cut at `maxChars`: a
    // colon there is text in the middle of a line, never a record.
    bool continuesLine() const { return continues_; }

private:
    InputFile& file_;
    std::size_t max_;
    std::string_view block_;
    std::string carry_;
    std::size_t line_ = 0;
    bool atLineStart_ = true;
    bool continues_ = false;
    bool eof_ = false;
};

// Output file written through a large buffer. Writing below the current end
// overwrites what is there; the end only grows.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file.
    bool create(const std::string& path);
    // Writes to a descriptor someone else opened and will close. Without
    // `positioned` the bytes are written in order (pipes, terminals,
    // standard output), and writing below the end fails.
    void adopt(int fd, std::string name, bool positioned);
    bool isOpen() const { return fd_ >= 0; }
    // Appends at the end.
    void append(std::string_view bytes);
    void appendFill(uint8_t value, uint64_t count);
    // Writes at an offset not beyond the end.
    void writeAt(uint64_t offset, std::string_view bytes);
    uint64_t size() const { return flushed_ + buf_.size(); }
    // Writes out what is buffered and closes; throws std::runtime_error if any
    // write failed (disk full and the like), after closing.
    void close();

private:
    void flush();
    void writeOut(uint64_t offset, const char* data, std::size_t size);
    int fd_ = -1;
    std::string path_;
    std::string buf_;
    uint64_t flushed_ = 0;
    bool failed_ = false;
    bool owned_ = true;
    bool positioned_ = true;
};

} // namespace quillon
