#pragma once
// The files the monitor writes: the capture log, opened for appending and
// closed again within each poll, and the saved list.

#include "monitor/monitor_rows.h"

#include <string>
#include <string_view>

namespace quillon::monitor {

class CaptureLog {
public:
    CaptureLog() = default;
    ~CaptureLog() { close(); }
    CaptureLog(const CaptureLog&) = delete;
    CaptureLog& operator=(const CaptureLog&) = delete;

    // `path` as the system takes it; created when missing.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Written straight to the file, so a full disk shows at this call; a
    // write that fails leaves the file as it was before it.
    bool append(std::string_view bytes);
    void close();

private:
    int fd_ = -1;
};

enum class SaveStatus { Ok, OpenFailed, WriteFailed };

// Replaces `path` with the list (an empty list gives an empty file).
SaveStatus saveList(const std::string& path, const std::vector<MonitorRow>& rows);

} // namespace quillon::monitor
