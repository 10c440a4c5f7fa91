#include "util/local_time.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/times.h"


namespace hygro {
namespace {

std::vector<int> Fields(const SystemTime& t) { return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}; }

TEST(AddMinutes, CrossesHoursDaysMonthsAndYears) {
    struct Case {
        SystemTime from;
        int minutes;
        std::vector<int> want;
    };
    const Case cases[] = {
        {test::At(2026, 12, 10, 10, 30, 45), -4, {2026, 12, 10, 10, 26, 0}},
        {test::At(2026, 12, 10, 11, 1, 0), -4, {2026, 12, 10, 10, 57, 0}},
        {test::At(2026, 12, 10, 0, 2, 0), -4, {2026, 12, 9, 23, 58, 0}},
        {test::At(2027, 1, 1, 0, 0, 0), -1, {2026, 12, 31, 23, 59, 0}},
        {test::At(2024, 3, 1, 0, 3, 0), -4, {2024, 2, 29, 23, 59, 0}},
        {test::At(2026, 12, 31, 23, 58, 0), 5, {2027, 1, 1, 0, 3, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(Fields(AddMinutes(c.from, c.minutes)), c.want) << c.minutes;
}

} // namespace
} // namespace hygro
