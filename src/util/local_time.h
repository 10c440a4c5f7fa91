// Broken-down local time with millisecond resolution.
#pragma once

#include <cstdint>

namespace hygro {

struct SystemTime {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// The wall clock in the local time zone (localtime_r).
SystemTime GetLocalTime();

// t moved by whole minutes in local calendar arithmetic (across hours, days, months,
// years); seconds and milliseconds become 0.
SystemTime AddMinutes(const SystemTime& t, int minutes);

} // namespace hygro
