#include "monitor/monitor_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace quillon::monitor {

bool CaptureLog::open(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

bool CaptureLog::append(std::string_view bytes)
{
    if (fd_ < 0) return false;
    const off_t before = ::lseek(fd_, 0, SEEK_END);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A disk that filled up halfway leaves no half record for the
            // next one to be glued to.
            if (before >= 0 && ::ftruncate(fd_, before) != 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void CaptureLog::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

SaveStatus saveList(const std::string& path, const std::vector<MonitorRow>& rows)
{
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> f(std::fopen(path.c_str(), "wb"));
    if (!f) return SaveStatus::OpenFailed;
    const std::string text = savedListText(rows);
    if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) return SaveStatus::WriteFailed;
    // A full disk often shows only when the buffer is flushed.
    if (std::fclose(f.release()) != 0) return SaveStatus::WriteFailed;
    return SaveStatus::Ok;
}

} // namespace quillon::monitor
