#include "serial/receive_state.h"

#include "common/clock.h"
#include "common/file_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillon::serial {

void Accumulator::append(std::span<const uint8_t> chunk)
{
    if (count + chunk.size() > kCapacity) count = 0;
    const size_t n = std::min(chunk.size(), kCapacity - count);
    std::copy_n(chunk.begin(), n, data.begin() + static_cast<std::ptrdiff_t>(count));
    count += n;
}

void Accumulator::replace(std::span<const uint8_t> chunk)
{
    const size_t n = std::min(chunk.size(), kCapacity);
    std::copy_n(chunk.begin(), n, data.begin());
    count = n;
}

CommLog::~CommLog() { close(); }

bool CommLog::open(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

void CommLog::close()
{
    if (fd_ < 0) return;
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
}

void CommLog::entry(std::string_view word, std::string_view text)
{
    if (fd_ < 0) return;
    std::string e;
    e.reserve(2 + 19 + word.size() + text.size());
    e += "\r\n";
    e += nowText();
    e += word;
    e += text;
    // One write per entry: it reaches the file as a whole or not at all
    // as far as this program is concerned. A failing write loses only itself.
    (void)writeAll(fd_, e);
}

std::optional<size_t> FindPattern(std::span<const uint8_t> data, std::span<const uint8_t> pattern)
{
    if (pattern.empty() || data.size() < pattern.size()) return std::nullopt;
    for (size_t start = 0; start + pattern.size() <= data.size(); ++start) {
        if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<std::ptrdiff_t>(start))) return start;
    }
    return std::nullopt;
}

ReceiveResult ReceiveModes::passThrough(std::span<const uint8_t> chunk)
{
    if (role.slaveSide())
        burst.collect(chunk);
    else
        burst.ReceiveAccumulator.clear();
    ReceiveResult passed;
    passed.display = chunk;
    return passed;
}

} // namespace quillon::serial
