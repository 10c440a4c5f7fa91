#include "util/text.h"

#include <gtest/gtest.h>

namespace hygro {
namespace {

TEST(TextConversion, BoundedConversionNeverSplitsACharacter) {
    struct Case {
        std::u16string text;
        int buffer;
        int expectedBytes;
    } cases[] = {
        {std::u16string(150, u'a'), 100, 99},  // plain ASCII fills the buffer
        {std::u16string(60, u'\u00e9'), 100, 98}, // 2-byte chars: 49 fit, not 49.5
        {std::u16string(40, u'\u2103'), 100, 99}, // "℃" is 3 bytes: 33 fit exactly
        {u"\U0001F600\U0001F600", 8, 4},        // a surrogate pair is one 4-byte char
        {u"abc", 1, 0},
    };
    for (const auto& c : cases) {
        std::string buf(static_cast<std::size_t>(c.buffer), '\x7f');
        const int n = FunCStringToSrcChar(buf.data(), c.buffer, c.text);
        EXPECT_EQ(n, c.expectedBytes);
        EXPECT_EQ(buf[static_cast<std::size_t>(n)], '\0');
        // What was stored decodes back to a prefix of the input, without replacement chars.
        std::u16string back;
        FunSrcCharToCString(back, buf.c_str());
        EXPECT_EQ(c.text.substr(0, back.size()), back);
    }
}

TEST(TextConversion, RoundTripsAndReplacesInvalidInput) {
    const std::u16string wide = u"Kühlraum 3 ℃ \U0001F321";
    EXPECT_EQ(ToUtf16(ToUtf8(wide)), wide);
    EXPECT_EQ(ToUtf8(u"\u2103"), "\xE2\x84\x83");

    EXPECT_EQ(ToUtf16("a\xFF" "b"), u"a\uFFFDb");       // stray byte
    EXPECT_EQ(ToUtf16("\xE2\x84"), u"\uFFFD");          // truncated sequence
    EXPECT_EQ(ToUtf16("\xC0\xAF"), u"\uFFFD");          // overlong
    EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD"); // lone surrogate
}

TEST(TextConversion, TruncateKeepsWholeSequences) {
    EXPECT_EQ(TruncateUtf8("ab\xE2\x84\x83", 4), "ab");
    EXPECT_EQ(TruncateUtf8("ab\xE2\x84\x83", 5), "ab\xE2\x84\x83");
    EXPECT_EQ(TruncateUtf8("abc", 10), "abc");
}

} // namespace
} // namespace hygro
