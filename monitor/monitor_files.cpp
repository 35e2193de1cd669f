#include "monitor/monitor_files.h"

#include "common/file_io.h"
#include "common/output_file.h"

#include <cerrno>
#include <fcntl.h>
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
    if (writeAll(fd_, bytes)) return true;
    // A disk that filled up halfway leaves no half record for the next one
    // to be glued to.
    if (before >= 0 && ::ftruncate(fd_, before) != 0) errno = EIO;
    return false;
}

void CaptureLog::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

SaveStatus saveList(const std::string& path, const std::vector<MonitorRow>& rows)
{
    // The file saved before is replaced only once the whole list is written.
    SafeOutput out;
    if (!out.open(path)) return SaveStatus::OpenFailed;
    if (!writeAll(out.fd(), savedListText(rows)) || !out.commit()) return SaveStatus::WriteFailed;
    return SaveStatus::Ok;
}

} // namespace quillon::monitor
