#pragma once
// Keyboard shortcuts peer terminals have taught users to expect.

class QAbstractButton;
class QWidget;

namespace quillon {

// Ctrl+Enter in `box` presses `button` while it is enabled; otherwise the
// key does what it did before.
void pressOnCtrlEnter(QWidget* box, QAbstractButton* button);

} // namespace quillon
