#pragma once
// The reports the port threads make to their session. The kinds keep the
// WM_USER-based numbers they have always had; this is their one definition.

#include <cstdint>

namespace quillon::serial {

inline constexpr int WM_USER = 0x0400;

enum CommMessage : int {
    WM_COMM_RECEIVED = WM_USER + 10, // count: bytes just read and delivered
    WM_COMM_SENT = WM_USER + 11,     // count: bytes written and not yet reported; the send ended
    WM_COMM_ERROR = WM_USER + 12,    // a device call failed
    WM_COMM_SENDING = WM_USER + 13,  // count: bytes written since the last report
    WM_COMM_IDLE = WM_USER + 14,     // 500 ms without reception
};

// One report of a thread. `send` names the writer a sending report comes
// from (0 for the reader); the sink that carries it names the connection.
struct CommReport {
    CommMessage kind;
    intptr_t count = 0;
    uint64_t send = 0;

    bool operator==(const CommReport&) const = default;
};

// What went wrong in a thread that the user must be told about. The window
// chooses the words.
enum class CommFailure { SendFileOpen };

} // namespace quillon::serial
