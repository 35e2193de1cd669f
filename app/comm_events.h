#pragma once
// The port threads' notifications as Qt events posted to the main window.

#include "serial/comm_messages.h"

#include <QEvent>
#include <cstdint>

namespace quillon {

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
