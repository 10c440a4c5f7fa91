// Times for tests.
#pragma once

#include <cstdint>

#include "util/local_time.h"

namespace hygro::test {

inline SystemTime At(int year, int month, int day, int hour, int minute, int second) {
    SystemTime t;
    t.wYear = static_cast<std::uint16_t>(year);
    t.wMonth = static_cast<std::uint16_t>(month);
    t.wDay = static_cast<std::uint16_t>(day);
    t.wHour = static_cast<std::uint16_t>(hour);
    t.wMinute = static_cast<std::uint16_t>(minute);
    t.wSecond = static_cast<std::uint16_t>(second);
    return t;
}

} // namespace hygro::test
