#pragma once
// The notifications the port threads send the window. The numbers keep the
// WM_USER-based identity they have always had; this is their one definition.

namespace quillon {

inline constexpr int WM_USER = 0x0400;

enum CommMessage : int {
    WM_COMM_RECEIVED = WM_USER + 10, // wParam: bytes just read and delivered
    WM_COMM_SENT = WM_USER + 11,     // wParam: bytes written and not yet reported; the send ended
    WM_COMM_ERROR = WM_USER + 12,    // a device call failed
    WM_COMM_SENDING = WM_USER + 13,  // wParam: bytes written since the last report
    WM_COMM_IDLE = WM_USER + 14,     // 500 ms without reception
};

// What went wrong in a thread that the user must be told about. The window
// chooses the words.
enum class CommFailure { SendFileOpen };

} // namespace quillon
