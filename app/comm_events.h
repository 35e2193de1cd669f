#pragma once
// Notifications the serial threads post to the main window. The message
// numbers keep their historic WM_USER-based identity.

#include <QEvent>
#include <cstdint>

namespace quillon {

inline constexpr int WM_USER = 0x0400;
inline constexpr int WM_COMM_RECEIVED = WM_USER + 10;
inline constexpr int WM_COMM_SENT = WM_USER + 11;
inline constexpr int WM_COMM_ERROR = WM_USER + 12;
inline constexpr int WM_COMM_SENDING = WM_USER + 13;
inline constexpr int WM_COMM_IDLE = WM_USER + 14;

// Qt event type of a message: QEvent::User + (message - WM_USER).
inline QEvent::Type commEventType(int message) { return static_cast<QEvent::Type>(QEvent::User + (message - WM_USER)); }
inline bool isCommEventType(QEvent::Type t)
{
    return t >= commEventType(WM_COMM_RECEIVED) && t <= commEventType(WM_COMM_IDLE);
}

class CommEvent : public QEvent {
public:
    CommEvent(int message, intptr_t wParam = 0, intptr_t lParam = 0)
        : QEvent(commEventType(message)), message_(message), wParam_(wParam), lParam_(lParam)
    {
    }
    int message() const { return message_; }
    intptr_t wParam() const { return wParam_; }
    intptr_t lParam() const { return lParam_; }

private:
    int message_;
    intptr_t wParam_;
    intptr_t lParam_;
};

} // namespace quillon
