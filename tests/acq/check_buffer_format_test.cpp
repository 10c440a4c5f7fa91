#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "acq/acquisition.h"

namespace hygro {
namespace {

TEST(CheckBufferFormat, AcceptsAndNormalisesReadings) {
    struct Case {
        int id;
        const char* answer;
        const char* normalised; // nullptr: rejected, buffer untouched
    } cases[] = {
        {1, "+45.3,+23.1\r\n", "01 +45.3,+23.1\r\n"},
        {5, "+5.3,-2.1\r\n", "05 +05.3,-02.1\r\n"},
        {1, "+45.3;+23.1\r\n", "01 +45.3,+23.1\r\n"}, // the separator is not examined
        {1, "+45.3,+23.1", "01 +45.3,+23.1\r\n"},      // no line end
        {12, "-0.5,+0.0\r\n", "12 -00.5,+00.0\r\n"},
        {99, "+99.9,+80.0\r\n", "99 +99.9,+80.0\r\n"}, // error values are still readings
        {1, "+45.3,+23.1xyz", "01 +45.3,+23.1\r\n"},   // anything after field 2 is ignored
        {1, "45.3,+23.1\r\n", nullptr},                // no sign
        {1, "+456.3,+2.1\r\n", nullptr},               // three digits
        {1, "+45.,+23.1\r\n", nullptr},
        {1, "+45.3,23.1\r\n", nullptr},
        {1, "+45.3", nullptr},                         // ends after field 1
        {1, "+45.3,", nullptr},
        {1, "", nullptr},
        {1, "ERR\r\n", nullptr},
        {1, "+4a.3,+23.1\r\n", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        char buf[100];
        std::memset(buf, 0, sizeof buf);
        std::strcpy(buf, c.answer);
        const int ok = CAcquisition::CheckBufferFormat(c.id, buf, sizeof buf);
        if (c.normalised) {
            EXPECT_EQ(ok, 1);
            EXPECT_STREQ(buf, c.normalised);
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_STREQ(buf, c.answer);
        }
    }
}

TEST(CheckBufferFormat, NeverWritesPastTheGivenSize) {
    char buf[32];
    std::memset(buf, 'Z', sizeof buf);
    std::strcpy(buf, "+45.3,+23.1\r\n");
    EXPECT_EQ(CAcquisition::CheckBufferFormat(1, buf, 8), 1);
    EXPECT_STREQ(buf, "01 +45.");
    EXPECT_EQ(buf[8], '3'); // the original text beyond the size is untouched
}

} // namespace
} // namespace hygro
