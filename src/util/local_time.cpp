#include "util/local_time.h"

#include <chrono>
#include <ctime>

namespace hygro {
namespace {

SystemTime FromTm(const std::tm& tm) {
    SystemTime t;
    t.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    t.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    t.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    t.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    t.wSecond = static_cast<std::uint16_t>(tm.tm_sec);
    return t;
}

} // namespace

SystemTime GetLocalTime() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&secs, &tm);
    SystemTime t = FromTm(tm);
    t.wMilliseconds = static_cast<std::uint16_t>(ms < 0 ? ms + 1000 : ms);
    return t;
}

SystemTime AddMinutes(const SystemTime& t, int minutes) {
    std::tm tm{};
    tm.tm_year = t.wYear - 1900;
    tm.tm_mon = t.wMonth - 1;
    tm.tm_mday = t.wDay;
    tm.tm_hour = t.wHour;
    tm.tm_min = t.wMinute + minutes;
    tm.tm_isdst = -1;
    std::mktime(&tm); // normalises the fields; tm_sec stays 0
    return FromTm(tm);
}

} // namespace hygro
