#pragma once
// One source of "now" for the status bar and the logs, so tests can pin it.

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

namespace quillon {

using ClockFn = std::function<std::chrono::system_clock::time_point()>;

std::chrono::system_clock::time_point now();
// Replaces the clock (an empty function restores the system clock).
void setClock(ClockFn clock);

// "2004-03-22 17:15:01", local time.
std::string dateTimeText(std::chrono::system_clock::time_point t);
inline std::string nowText() { return dateTimeText(now()); }
// "17:15:01", local time; empty for a time the calendar cannot give.
std::string timeOfDayText(std::time_t t);

} // namespace quillon
