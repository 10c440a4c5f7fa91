#include "settings/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "rfc1321_suite.h"

namespace hygro {
namespace {

std::string Hex(const std::array<std::uint8_t, 16>& digest) {
    std::string out;
    char buf[3];
    for (const std::uint8_t b : digest) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

TEST(Md5, Rfc1321TestSuite) {
    for (const auto& c : test::kRfc1321Suite) {
        EXPECT_EQ(MD5::HexDigest(c.input), c.digest) << '"' << c.input << '"';
        MD5 md5;
        md5.Update(c.input);
        EXPECT_EQ(Hex(md5.Final()), c.digest) << '"' << c.input << '"';
    }
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdateAndFinalResets) {
    const std::string text = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    MD5 md5;
    for (std::size_t i = 0; i < text.size(); i += 7) md5.Update(std::string_view(text).substr(i, 7));
    md5.Update({}); // an empty piece changes nothing
    EXPECT_EQ(Hex(md5.Final()), "57edf4a22be3c955ac49da2e2107b67a");
    // Final leaves the object ready for the next message.
    md5.Update("abc");
    EXPECT_EQ(Hex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(md5.Final()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, DigestsBinaryBytes) {
    EXPECT_EQ(MD5::HexDigest(std::string_view("\0", 1)), "93b885adfe0da089cdf634904fd59f71");
    EXPECT_EQ(MD5::HexDigest("\xFF\xFE"), MD5::HexDigest(std::string("\xFF\xFE", 2)));
}

TEST(Md5, GetMd5AppendsTheFilesDigest) {
    test::TempDir dir;
    const auto small = dir / "small.bin";
    test::WriteFile(small, "abc");
    std::string out = "v=";
    EXPECT_EQ(GetMd5(small, out), 1);
    EXPECT_EQ(out, "v=900150983cd24fb0d6963f7d28e17f72");

    const auto empty = dir / "empty.bin";
    test::WriteFile(empty, "");
    out.clear();
    EXPECT_EQ(GetMd5(empty, out), 1);
    EXPECT_EQ(out, "d41d8cd98f00b204e9800998ecf8427e");

    // Larger than one read: the same digest as hashing the bytes at once.
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 131 + i / 7) & 0xFF);
    const auto bigFile = dir / "big.bin";
    test::WriteFile(bigFile, big);
    out.clear();
    EXPECT_EQ(GetMd5(bigFile, out), 1);
    EXPECT_EQ(out, MD5::HexDigest(big));
    EXPECT_EQ(out.size(), 32u);
}

TEST(Md5, GetMd5FailsWithoutTouchingOutput) {
    test::TempDir dir;
    std::string out = "unchanged";
    EXPECT_EQ(GetMd5(dir / "missing.ini", out), 0);
    EXPECT_EQ(out, "unchanged");
    // A folder opens on Linux but cannot be read.
    EXPECT_EQ(GetMd5(dir.path(), out), 0);
    EXPECT_EQ(out, "unchanged");
}

} // namespace
} // namespace hygro
