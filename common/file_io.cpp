#include "common/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int openRegularFile(const std::string& path)
{
    // O_NONBLOCK only for the open itself: it keeps a FIFO from waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::optional<std::string> readRegularFile(const std::string& path)
{
    const int fd = openRegularFile(path);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path)
{
    close();
    // Directories, FIFOs and devices are refused: they have no data to
    // convert, may block the open, or never end.
    fd_ = openRegularFile(path);
    return fd_ >= 0;
}

bool InputFile::isSameFile(const std::string& path) const
{
    struct stat mine {
    }, other{};
    if (fd_ < 0 || ::fstat(fd_, &mine) != 0 || ::stat(path.c_str(), &other) != 0) return false;
    return mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}

uint64_t InputFile::size() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void InputFile::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string_view InputFile::readBlock()
{
    if (fd_ < 0) return {};
    if (buf_.size() < kBlockSize) buf_.resize(kBlockSize);
    for (;;) {
        ssize_t n = ::read(fd_, buf_.data(), buf_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        return {buf_.data(), static_cast<std::size_t>(n)};
    }
}

void InputFile::forEachBlock(const std::function<void(std::string_view)>& fn)
{
    for (std::string_view b = readBlock(); !b.empty(); b = readBlock()) fn(b);
}

bool LineReader::next(std::string_view& piece)
{
    carry_.clear();
    for (;;) {
        if (block_.empty()) {
            if (eof_) break;
            block_ = file_.readBlock();
            if (block_.empty()) {
                eof_ = true;
                break;
            }
        }
        const std::size_t room = max_ - carry_.size();
        const std::size_t span = block_.size() < room ? block_.size() : room;
        const void* lf = std::memchr(block_.data(), '\n', span);
        std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - block_.data()) + 1 : span;
        const bool complete = lf || take == room;
        if (complete && carry_.empty()) {
            // The usual case: the piece lies inside the current block.
            piece = block_.substr(0, take);
            block_.remove_prefix(take);
            goto done;
        }
        carry_.append(block_.data(), take);
        block_.remove_prefix(take);
        if (complete) break;
    }
    if (carry_.empty()) return false;
    piece = carry_;
done:
    continues_ = !atLineStart_;
    if (atLineStart_) ++line_;
    atLineStart_ = !piece.empty() && piece.back() == '\n';
    return true;
}

OutputFile::~OutputFile()
{
    try {
        close();
    } catch (...) {
    }
}

bool OutputFile::create(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    path_ = path;
    buf_.clear();
    buf_.reserve(kBlockSize + 4096);
    flushed_ = 0;
    failed_ = false;
    owned_ = true;
    positioned_ = true;
    return fd_ >= 0;
}

void OutputFile::adopt(int fd, std::string name, bool positioned)
{
    fd_ = fd;
    path_ = std::move(name);
    buf_.clear();
    buf_.reserve(kBlockSize + 4096);
    flushed_ = 0;
    failed_ = false;
    owned_ = false;
    positioned_ = positioned;
}

void OutputFile::writeOut(uint64_t offset, const char* data, std::size_t size)
{
    if (!positioned_ && offset != flushed_) failed_ = true;
    while (size > 0 && !failed_) {
        ssize_t n = positioned_ ? ::pwrite(fd_, data, size, static_cast<off_t>(offset)) : ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

void OutputFile::flush()
{
    if (fd_ < 0 || buf_.empty()) return;
    writeOut(flushed_, buf_.data(), buf_.size());
    flushed_ += buf_.size();
    buf_.clear();
}

void OutputFile::append(std::string_view bytes)
{
    if (buf_.size() + bytes.size() > kBlockSize) {
        flush();
        if (bytes.size() >= kBlockSize) {
            writeOut(flushed_, bytes.data(), bytes.size());
            flushed_ += bytes.size();
            return;
        }
    }
    buf_.append(bytes);
}

void OutputFile::appendFill(uint8_t value, uint64_t count)
{
    while (count > 0) {
        if (buf_.size() >= kBlockSize) flush();
        const uint64_t room = kBlockSize - buf_.size();
        const std::size_t n = static_cast<std::size_t>(count < room ? count : room);
        buf_.append(n, static_cast<char>(value));
        count -= n;
    }
}

void OutputFile::writeAt(uint64_t offset, std::string_view bytes)
{
    if (offset < flushed_) {
        const std::size_t below = static_cast<std::size_t>(std::min<uint64_t>(flushed_ - offset, bytes.size()));
        writeOut(offset, bytes.data(), below);
        bytes.remove_prefix(below);
        offset += below;
    }
    if (bytes.empty()) return;
    const std::size_t at = static_cast<std::size_t>(offset - flushed_);
    const std::size_t inside = std::min(bytes.size(), buf_.size() - at);
    buf_.replace(at, inside, bytes.substr(0, inside));
    append(bytes.substr(inside));
}

void OutputFile::close()
{
    if (fd_ < 0) return;
    flush();
    if (owned_ && ::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    if (failed_) {
        failed_ = false;
        throw std::runtime_error("cannot write " + path_);
    }
}

} // namespace quillon
