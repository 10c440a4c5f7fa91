// The update/finalize/raw_digest/hex_digest interface of MD5 (the SMTP logins use it).
#include "settings/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"
#include "rfc1321_suite.h"

namespace hygro {
namespace {

std::string HexOf(const unsigned char* raw) {
    std::string out;
    char two[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(two, sizeof two, "%02x", raw[i]);
        out += two;
    }
    return out;
}

void Feed(MD5& md5, const std::string& text) {
    md5.update(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
}

TEST(Md5Class, Rfc1321TestSuite) {
    for (const auto& c : test::kRfc1321Suite) {
        MD5 md5;
        Feed(md5, c.input);
        md5.finalize();
        EXPECT_EQ(md5.hex_digest(), c.digest) << '"' << c.input << '"';
        const auto raw = md5.raw_digest();
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(HexOf(raw.get()), c.digest);
        // The digest can be read again; it stays the same.
        EXPECT_EQ(md5.hex_digest(), c.digest);
    }
}

TEST(Md5Class, StreamsAreReadToTheEndInPieces) {
    // Longer than several 1024-byte pieces and not a multiple of one.
    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>((i * 37 + i / 11) & 0xFF);
    const std::string expected = MD5::HexDigest(text);

    std::istringstream in(text);
    EXPECT_EQ(MD5(in).hex_digest(), expected);

    test::TempDir dir;
    const auto path = dir / "data.bin";
    test::WriteFile(path, text);
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(MD5(file).hex_digest(), expected);
    EXPECT_TRUE(file.is_open()); // the caller's stream stays the caller's

    std::FILE* c = std::fopen(path.c_str(), "rb");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(MD5(c).hex_digest(), expected);
    std::fclose(c);

    // update() on a stream adds to what came before.
    std::istringstream tail(text.substr(100));
    MD5 md5;
    Feed(md5, text.substr(0, 100));
    md5.update(tail);
    md5.finalize();
    EXPECT_EQ(md5.hex_digest(), expected);

    EXPECT_EQ(MD5(static_cast<std::FILE*>(nullptr)).hex_digest(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5Class, MisuseIsReportedAndIgnored) {
    MD5 early;
    testing::internal::CaptureStderr();
    EXPECT_EQ(early.raw_digest(), nullptr);
    EXPECT_EQ(early.hex_digest(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MD5::raw_digest:  Can't get digest if you haven't finalized the digest!\n"
              "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n");

    MD5 md5;
    Feed(md5, "abc");
    md5.finalize();
    std::istringstream more("more");
    testing::internal::CaptureStderr();
    Feed(md5, "def");
    md5.update(more);
    md5.Update("ghi");
    md5.finalize();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MD5::update:  Can't update a finalized digest!\n"
                                                      "MD5::update:  Can't update a finalized digest!\n"
                                                      "MD5::update:  Can't update a finalized digest!\n"
                                                      "MD5::finalize:  Already finalized this digest!\n");
    EXPECT_EQ(md5.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(more.tellg(), 0); // nothing was read from it

    // Final() hands out the finalized digest and starts over.
    EXPECT_EQ(md5.Final()[0], 0x90);
    EXPECT_EQ(early.Final()[0], 0xd4); // empty message
}

} // namespace
} // namespace hygro
