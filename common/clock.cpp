#include "common/clock.h"

#include <ctime>
#include <mutex>

namespace quillon {

namespace {
std::mutex clockMutex;
ClockFn currentClock;
} // namespace

std::chrono::system_clock::time_point now()
{
    std::lock_guard lock(clockMutex);
    return currentClock ? currentClock() : std::chrono::system_clock::now();
}

void setClock(ClockFn clock)
{
    std::lock_guard lock(clockMutex);
    currentClock = std::move(clock);
}

namespace {
std::string localText(std::time_t tt, const char* format)
{
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}
} // namespace

std::string dateTimeText(std::chrono::system_clock::time_point t)
{
    return localText(std::chrono::system_clock::to_time_t(t), "%Y-%m-%d %H:%M:%S");
}

std::string timeOfDayText(std::time_t t) { return localText(t, "%H:%M:%S"); }

} // namespace quillon
