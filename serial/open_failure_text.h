#pragma once
// The message of a serial port that will not open: the fixed first line and
// a second that says why, in the user's terms.

#include <QString>

namespace quillon::platform {
struct PortOpenFailure;
} // namespace quillon::platform

namespace quillon::serial {

QString openFailureText(const platform::PortOpenFailure& failure);

} // namespace quillon::serial
