#pragma once
// The message of a serial port that will not open: the fixed first line and
// a second that says why, in the user's terms.

#include <QString>

namespace quillon {
struct PortOpenFailure;
} // namespace quillon

namespace quillon::serial {

QString openFailureText(const PortOpenFailure& failure);

} // namespace quillon::serial
