#include "settings/profile_file.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "settings/md5.h"
#include "util/text.h"

namespace hygro {
namespace {

const std::string kBom = "\xFF\xFE";

// UTF-16LE bytes of UTF-8 text, without byte-order mark.
std::string Le(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

// File bytes: byte-order mark, then the lines joined by CR LF; a final CR LF when asked.
std::string FileBytes(const std::vector<std::string>& lines, bool finalLineEnd = true) {
    std::string out = kBom;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += Le(ToUtf16(lines[i]));
        if (i + 1 < lines.size() || finalLineEnd) out += Le(u"\r\n");
    }
    return out;
}

ProfileFile MustParse(const std::string& bytes) {
    std::optional<ProfileFile> doc = ProfileFile::Parse(bytes);
    EXPECT_TRUE(doc.has_value());
    return doc ? std::move(*doc) : ProfileFile();
}

std::optional<std::string> Get8(const ProfileFile& doc, const char* section, const char* key) {
    std::optional<std::u16string> v = doc.Get(ToUtf16(section), ToUtf16(key));
    if (!v) return std::nullopt;
    return ToUtf8(*v);
}

// ---------------------------------------------------------------- parsing and bytes

TEST(ProfileFile, EmptyDocumentIsTheByteOrderMarkAlone) {
    EXPECT_EQ(ProfileFile().Serialize(), kBom);
    for (const std::string& bytes : {std::string(), kBom}) {
        const ProfileFile doc = MustParse(bytes);
        EXPECT_EQ(doc.Serialize(), kBom);
        EXPECT_TRUE(doc.SectionNames().empty());
        EXPECT_FALSE(doc.Get(u"md5", u"v"));
    }
}

TEST(ProfileFile, TextWithoutLittleEndianByteOrderMarkIsRejected) {
    EXPECT_FALSE(ProfileFile::Parse("[Pos]\r\nleft=1\r\n"));          // 8-bit text
    EXPECT_FALSE(ProfileFile::Parse("\xFF"));                           // one byte
    EXPECT_FALSE(ProfileFile::Parse(std::string("\xFE\xFF\0[", 4)));   // big-endian mark
    EXPECT_FALSE(ProfileFile::Parse(kBom + std::string("[\0P", 3)));      // odd length
    EXPECT_FALSE(ProfileFile::Parse(std::string("\0\0", 2)));
    EXPECT_TRUE(ProfileFile::Parse(kBom + std::string("[\0", 2)));
}

TEST(ProfileFile, CrLfFileRoundTripsByteExact) {
    std::string bytes = FileBytes({"; comment = not a key", "", "[Pos]", "  left = 12  ", "\tTop=\t34\t",
                                   "", "", "[Ünïcode ℃]", "名前=値", "x=\"quoted\"", "garbage without equals",
                                   "   ", "[unterminated", "k=v"});
    // Lone surrogates and a NUL unit survive untouched.
    bytes += Le(std::u16string(u"odd=") + char16_t(0xD800) + u"x" + char16_t(0xDFFF) + char16_t(0) + u"\r\n");
    const ProfileFile doc = MustParse(bytes);
    EXPECT_EQ(doc.Serialize(), bytes);
    EXPECT_EQ(doc.Get(u"unterminated", u"odd"), std::u16string(1, char16_t(0xD800)) + u"x" +
                                                     char16_t(0xDFFF) + char16_t(0));
}

TEST(ProfileFile, LoneLfAndLoneCrEndLinesToo) {
    const std::string bytes = kBom + Le(u"[A]\na=1\rb=2\r\n\r\rc=3\n\r\nlast=4");
    const ProfileFile doc = MustParse(bytes);
    EXPECT_EQ(Get8(doc, "a", "A"), "1");
    EXPECT_EQ(Get8(doc, "A", "b"), "2");
    EXPECT_EQ(Get8(doc, "A", "c"), "3");
    EXPECT_EQ(Get8(doc, "A", "last"), "4");
    // Written back with CR LF after every line: after "b=2\r\n" each lone CR ends an empty
    // line; "c=3\n\r\n" is a line end and then an empty line.
    EXPECT_EQ(doc.Serialize(), FileBytes({"[A]", "a=1", "b=2", "", "", "c=3", "", "last=4"}));
}

// ---------------------------------------------------------------- reading

TEST(ProfileFile, ReadsNamesWithoutCaseAndValuesTrimmed) {
    const ProfileFile doc = MustParse(FileBytes({
        "Orphan=before any section",
        "[DSNet]",
        "  UDPorTCP  =  TCP Server  ",
        "time=\t10\t",
        "LocalIP='127.0.0.1'",
        "Half=\"abc'",
        "One=\"",
        "Two=\"\"",
        "Inner= a \"b\" c ",
        "Spaced=\"  kept  \"",
        "Password=a=b = c",
        "Empty=",
        "Blanks=   ",
        "NoEquals",
        "; Commented=1",
        "  ;Indented=2",
        "[Größe ÄÖÜ]",
        "Ключ=значение",
    }));
    EXPECT_EQ(Get8(doc, "dsnet", "udportcp"), "TCP Server");
    EXPECT_EQ(Get8(doc, "DSNET", "TIME"), "10");
    EXPECT_EQ(Get8(doc, "DSNet", "LocalIP"), "127.0.0.1");
    EXPECT_EQ(Get8(doc, "DSNet", "Half"), "\"abc'");
    EXPECT_EQ(Get8(doc, "DSNet", "One"), "\"");
    EXPECT_EQ(Get8(doc, "DSNet", "Two"), "");
    EXPECT_EQ(Get8(doc, "DSNet", "Inner"), "a \"b\" c");
    EXPECT_EQ(Get8(doc, "DSNet", "Spaced"), "  kept  ");
    EXPECT_EQ(Get8(doc, "DSNet", "Password"), "a=b = c");
    EXPECT_EQ(Get8(doc, "DSNet", "Empty"), "");
    EXPECT_EQ(Get8(doc, "DSNet", "Blanks"), "");
    EXPECT_EQ(Get8(doc, " DSNet\t", " time "), "10"); // blanks around the asked names do not count
    // Lines that are not key=value lines are never matched.
    EXPECT_FALSE(Get8(doc, "DSNet", "NoEquals"));
    EXPECT_FALSE(Get8(doc, "DSNet", "; Commented"));
    EXPECT_FALSE(Get8(doc, "DSNet", ";Indented"));
    EXPECT_FALSE(Get8(doc, "DSNet", "Orphan"));
    EXPECT_FALSE(Get8(doc, "", "Orphan"));
    EXPECT_FALSE(Get8(doc, "DSNet", "Missing"));
    EXPECT_FALSE(Get8(doc, "Missing", "time"));
    // Non-ASCII names fold too (Latin-1, Cyrillic).
    EXPECT_EQ(Get8(doc, "grÖße äöü", "КЛЮЧ"), "значение");
    EXPECT_EQ(ToUtf8(doc.GetString(u"DSNet", u"Missing", u"dflt")), "dflt");
    EXPECT_EQ(ToUtf8(doc.GetString(u"DSNet", u"Empty", u"dflt")), "");
    EXPECT_TRUE(doc.HasSection(u"dSnEt"));
    EXPECT_FALSE(doc.HasSection(u"Orphan"));
}

TEST(ProfileFile, FirstSectionAndFirstKeyWin) {
    ProfileFile doc = MustParse(FileBytes({"[Pos]", "left=1", "LEFT=2", "[Other]", "x=0", "[pos]", "left=3",
                                           "top=4"}));
    EXPECT_EQ(Get8(doc, "Pos", "left"), "1");
    EXPECT_FALSE(Get8(doc, "Pos", "top")); // only the first "Pos" section is read
    const std::vector<std::u16string> names{u"Pos", u"Other"};
    EXPECT_EQ(doc.SectionNames(), names);

    doc.SetString(u"POS", u"Left", u"9");
    doc.SetString(u"Pos", u"top", u"8");
    EXPECT_EQ(doc.Serialize(), FileBytes({"[Pos]", "left=9", "LEFT=2", "top=8", "[Other]", "x=0", "[pos]",
                                          "left=3", "top=4"}));
    EXPECT_TRUE(doc.DeleteSection(u"pOS")); // every section of that name
    EXPECT_EQ(doc.Serialize(), FileBytes({"[Other]", "x=0"}));
    EXPECT_FALSE(doc.DeleteSection(u"Pos"));
}

TEST(ProfileFile, HeaderNames) {
    const ProfileFile doc = MustParse(FileBytes({"  [ Spaced Name ]  trailing text", "a=1", "[Open name ", "b=2",
                                                 "[]", "c=3", "x[NotAHeader]=4"}));
    EXPECT_EQ(Get8(doc, "spaced name", "a"), "1");
    EXPECT_EQ(Get8(doc, "open NAME", "b"), "2");
    EXPECT_EQ(Get8(doc, "", "c"), "3");
    EXPECT_EQ(Get8(doc, "", "x[NotAHeader]"), "4");
    const std::vector<std::u16string> names{u"Spaced Name", u"Open name", u""};
    EXPECT_EQ(doc.SectionNames(), names);
}

// ---------------------------------------------------------------- writing

TEST(ProfileFile, SetStringBuildsAFreshDocument) {
    ProfileFile doc;
    doc.SetString(u"Pos", u"left", u"10");
    doc.SetString(u"Pos", u"top", u"20");
    doc.SetString(u"DSNet", u"UDPorTCP", u"UDP");
    doc.SetString(u"pos", u"LEFT", u"11");
    EXPECT_EQ(doc.Serialize(), FileBytes({"[Pos]", "left=11", "top=20", "[DSNet]", "UDPorTCP=UDP"}));
    EXPECT_EQ(Get8(doc, "Pos", "left"), "11");
}

TEST(ProfileFile, SetStringKeepsAValueOnOneLine) {
    ProfileFile doc;
    doc.SetString(u"AlarmMail", u"MailTo", u"a@b.c\r\nRCPT TO:<x>\rz\n");
    doc.SetString(u"AlarmMail", u"Next", u"1");
    EXPECT_EQ(doc.Serialize(), FileBytes({"[AlarmMail]", "MailTo=a@b.c  RCPT TO:<x> z ", "Next=1"}));
    const ProfileFile back = MustParse(doc.Serialize());
    EXPECT_EQ(Get8(back, "AlarmMail", "MailTo"), "a@b.c  RCPT TO:<x> z");
    EXPECT_EQ(Get8(back, "AlarmMail", "Next"), "1");
}

TEST(ProfileFile, NewKeyGoesAfterTheSectionsLastEntry) {
    ProfileFile doc = MustParse(FileBytes({"[A]", "; about A", "", "[B]", "k=1", "junk", "", "; about C", "",
                                           "[C]", "z=0"}));
    doc.SetString(u"A", u"first", u"x");  // no entry yet: right after the header
    doc.SetString(u"b", u"second", u"y"); // after "junk", before the blank line and comment
    doc.SetString(u"C", u"third", u"z");  // last section: at the end
    EXPECT_EQ(doc.Serialize(), FileBytes({"[A]", "first=x", "; about A", "", "[B]", "k=1", "junk", "second=y",
                                          "", "; about C", "", "[C]", "z=0", "third=z"}));
}

// A file written by a different writer: comment, blank lines between sections, blanks
// around '=', mixed-case names, quoted values, a last line without CR LF.
const std::vector<std::string> kForeign = {
    "; Hygrolog settings, edited by hand = yes",
    "",
    "[Pos]",
    "left = 12",
    "Top=\t34\t",
    "",
    "[dsnet]",
    "UDPorTCP = \"TCP Server\"",
    "LocalIP='192.168.0.7'",
    "  time  =  15  ",
    "",
    "[AlarmMail]",
    "User = ops@example.com",
    "Password = \"p;a=ss\"",
    "",
    "[View]",
    "mode=table",
};

std::vector<std::string> With(std::vector<std::string> lines, std::size_t at, std::vector<std::string> add,
                              std::size_t remove = 0) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at),
                lines.begin() + static_cast<std::ptrdiff_t>(at + remove));
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), add.begin(), add.end());
    return lines;
}

TEST(ProfileFile, ForeignFileReads) {
    const ProfileFile doc = MustParse(FileBytes(kForeign, false));
    EXPECT_EQ(Get8(doc, "Pos", "left"), "12");
    EXPECT_EQ(Get8(doc, "POS", "top"), "34");
    EXPECT_EQ(Get8(doc, "DSNet", "UDPorTCP"), "TCP Server");
    EXPECT_EQ(Get8(doc, "DSNet", "LocalIP"), "192.168.0.7");
    EXPECT_EQ(Get8(doc, "DSNet", "time"), "15");
    EXPECT_EQ(Get8(doc, "alarmmail", "PASSWORD"), "p;a=ss");
    EXPECT_EQ(Get8(doc, "View", "mode"), "table");
    EXPECT_FALSE(Get8(doc, "Pos", "; Hygrolog settings, edited by hand"));
    const std::vector<std::u16string> names{u"Pos", u"dsnet", u"AlarmMail", u"View"};
    EXPECT_EQ(doc.SectionNames(), names);
    // Unedited, it is written back as it was, the last line now ending in CR LF.
    EXPECT_EQ(doc.Serialize(), FileBytes(kForeign, true));
}

TEST(ProfileFile, ForeignFileEditsKeepEveryOtherLine) {
    const std::string original = FileBytes(kForeign, false);
    {
        ProfileFile doc = MustParse(original); // existing key, in its own spelling
        doc.SetString(u"DSNET", u"localip", u"10.0.0.1");
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, 8, {"LocalIP=10.0.0.1"}, 1)));
    }
    {
        ProfileFile doc = MustParse(original);
        doc.SetString(u"DSNet", u"UDPorTCP", u"  UDP  "); // written as given, read trimmed
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, 7, {"UDPorTCP=  UDP  "}, 1)));
        EXPECT_EQ(Get8(doc, "dsnet", "UDPorTCP"), "UDP");
    }
    {
        ProfileFile doc = MustParse(original); // new key: after "time", before the blank line
        doc.SetString(u"DSNet", u"LocalPortForCmd", u"5000");
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, 10, {"LocalPortForCmd=5000"})));
    }
    {
        ProfileFile doc = MustParse(original); // new key in the last section
        doc.SetString(u"view", u"Extra", u"1");
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, kForeign.size(), {"Extra=1"})));
    }
    {
        ProfileFile doc = MustParse(original); // new section at the end, no blank line
        doc.SetString(u"ShowMode", u"mode", u"0");
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, kForeign.size(), {"[ShowMode]", "mode=0"})));
    }
    {
        ProfileFile doc = MustParse(original); // header through the blank line before the next
        EXPECT_TRUE(doc.DeleteSection(u"DSNet"));
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, 6, {}, 5)));
        EXPECT_FALSE(doc.HasSection(u"dsnet"));
        EXPECT_EQ(Get8(doc, "Pos", "left"), "12");
    }
    {
        ProfileFile doc = MustParse(original); // the last section
        EXPECT_TRUE(doc.DeleteSection(u"VIEW"));
        EXPECT_EQ(doc.Serialize(), FileBytes(With(kForeign, 15, {}, 2)));
    }
    {
        ProfileFile doc = MustParse(original);
        EXPECT_FALSE(doc.DeleteSection(u"Nope"));
        EXPECT_FALSE(doc.DeleteSection(u"Hygrolog settings"));
        EXPECT_EQ(doc.Serialize(), FileBytes(kForeign, true));
    }
}

// ---------------------------------------------------------------- the md5 scheme

// What the settings store does: drop the md5 section, digest, write it as the last section.
std::string Seal(ProfileFile doc, std::string* hashed = nullptr) {
    doc.DeleteSection(u"md5");
    const std::string bytes = doc.Serialize();
    if (hashed) *hashed = bytes;
    doc.SetString(u"md5", u"v", ToUtf16(MD5::HexDigest(bytes)));
    return doc.Serialize();
}

// What the start-up check does.
bool Verify(const std::string& file) {
    std::optional<ProfileFile> doc = ProfileFile::Parse(file);
    if (!doc) return false;
    const std::u16string v = doc->GetString(u"md5", u"v", u"");
    if (v.empty()) return false;
    doc->DeleteSection(u"md5");
    return ToUtf16(MD5::HexDigest(doc->Serialize())) == v;
}

TEST(ProfileFile, Md5SchemeRoundTrips) {
    std::vector<ProfileFile> docs;
    docs.emplace_back();                                     // empty: the digest covers the BOM alone
    docs.push_back(MustParse(FileBytes(kForeign, false)));    // another writer's file
    docs.push_back(MustParse(FileBytes({"orphan line", ""}))); // no section at all, trailing blank
    docs.push_back(MustParse(FileBytes({"[Pos]", "left=1", "", ""})));
    docs.push_back(MustParse(FileBytes({"[A]", "[MD5]", "v=stale", "", "[B]", "k=1", "[md5"})));
    {
        ProfileFile d = MustParse(FileBytes(kForeign, false));
        d.SetString(u"1", u"Name", u"Sensor 1");
        d.SetString(u"DSNet", u"time", u"30");
        docs.push_back(std::move(d));
    }
    for (const ProfileFile& d : docs) {
        std::string hashed;
        const std::string sealed = Seal(d, &hashed);
        // The checksum is the file's last section.
        const std::string tail = Le(u"[md5]\r\nv=" + ToUtf16(MD5::HexDigest(hashed)) + u"\r\n");
        ASSERT_GE(sealed.size(), tail.size());
        EXPECT_EQ(sealed.substr(sealed.size() - tail.size()), tail);
        // Removing it gives back exactly the digested bytes.
        ProfileFile back = MustParse(sealed);
        EXPECT_TRUE(back.DeleteSection(u"md5"));
        EXPECT_EQ(back.Serialize(), hashed);
        EXPECT_TRUE(Verify(sealed));
        // Sealing again (the next save with nothing changed) writes the same file.
        EXPECT_EQ(Seal(MustParse(sealed)), sealed);
        // Any edited byte outside the checksum breaks it.
        for (std::size_t i = 2; i + tail.size() < sealed.size(); i += 2) {
            std::string tampered = sealed;
            tampered[i] = static_cast<char>(tampered[i] ^ 0x01);
            EXPECT_FALSE(Verify(tampered)) << "byte " << i;
        }
    }
    EXPECT_FALSE(Verify(FileBytes({"[Pos]", "left=1"}))); // no checksum at all
}

// ---------------------------------------------------------------- numbers

TEST(ProfileNumbers, IntegerLikeAtoi) {
    EXPECT_EQ(ProfileToInt(u"42"), 42);
    EXPECT_EQ(ProfileToInt(u"  \t42abc"), 42);
    EXPECT_EQ(ProfileToInt(u"-7"), -7);
    EXPECT_EQ(ProfileToInt(u"+5"), 5);
    EXPECT_EQ(ProfileToInt(u"007"), 7);
    EXPECT_EQ(ProfileToInt(u""), 0);
    EXPECT_EQ(ProfileToInt(u"   "), 0);
    EXPECT_EQ(ProfileToInt(u"abc"), 0);
    EXPECT_EQ(ProfileToInt(u"-"), 0);
    EXPECT_EQ(ProfileToInt(u"- 5"), 0);
    EXPECT_EQ(ProfileToInt(u"+-5"), 0);
    EXPECT_EQ(ProfileToInt(u"0x10"), 0);
    EXPECT_EQ(ProfileToInt(u"12.9"), 12);
    EXPECT_EQ(ProfileToInt(u"\n5"), 0);
    EXPECT_EQ(ProfileToInt(u"\uFF15"), 0); // a full-width digit is not a digit
    EXPECT_EQ(ProfileToInt(u"2147483647"), INT_MAX);
    EXPECT_EQ(ProfileToInt(u"2147483648"), INT_MAX);
    EXPECT_EQ(ProfileToInt(u"-2147483648"), INT_MIN);
    EXPECT_EQ(ProfileToInt(u"-2147483649"), INT_MIN);
    EXPECT_EQ(ProfileToInt(u"99999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(ProfileToInt(u"-99999999999999999999999999999x"), INT_MIN);
    const std::u16string longer = u"1234";
    EXPECT_EQ(ProfileToInt(std::u16string_view(longer).substr(0, 2)), 12); // stops at the view's end
}

TEST(ProfileNumbers, DoubleLikeStrtod) {
    EXPECT_EQ(ProfileToDouble(u"3.25"), 3.25);
    EXPECT_EQ(ProfileToDouble(u"0.1"), 0.1);
    EXPECT_EQ(ProfileToDouble(u"123.456"), 123.456);
    EXPECT_EQ(ProfileToDouble(u"  -1.5e3xyz"), -1500.0);
    EXPECT_EQ(ProfileToDouble(u"\t+2E-2"), 0.02);
    EXPECT_EQ(ProfileToDouble(u".5"), 0.5);
    EXPECT_EQ(ProfileToDouble(u"5."), 5.0);
    EXPECT_EQ(ProfileToDouble(u"7e"), 7.0);
    EXPECT_EQ(ProfileToDouble(u"7e+"), 7.0);
    EXPECT_EQ(ProfileToDouble(u"7e-x"), 7.0);
    EXPECT_EQ(ProfileToDouble(u"42"), 42.0);
    EXPECT_EQ(ProfileToDouble(u"1,5"), 1.0); // the decimal point is always '.'
    EXPECT_EQ(ProfileToDouble(u""), 0.0);
    EXPECT_EQ(ProfileToDouble(u"."), 0.0);
    EXPECT_EQ(ProfileToDouble(u"-.e5"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"abc"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"inf"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"nan"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"0x1p3"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"0.000"), 0.0);
    EXPECT_TRUE(std::signbit(ProfileToDouble(u"-0")));
    EXPECT_EQ(ProfileToDouble(u"1.7976931348623157e308"), DBL_MAX);
    EXPECT_EQ(ProfileToDouble(u"4.9406564584124654e-324"), 4.9406564584124654e-324);
    EXPECT_EQ(ProfileToDouble(u"1e400"), HUGE_VAL);
    EXPECT_EQ(ProfileToDouble(u"-1e400"), -HUGE_VAL);
    EXPECT_EQ(ProfileToDouble(u"1e-400"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"1e99999999999999999999999"), HUGE_VAL);
    EXPECT_EQ(ProfileToDouble(u"1e-99999999999999999999999"), 0.0);
    EXPECT_EQ(ProfileToDouble(u"1" + std::u16string(500, u'0') + u"e-500"), 1.0);
    EXPECT_EQ(ProfileToDouble(u"0." + std::u16string(500, u'0') + u"25e501"), 2.5);
    const std::u16string longer = u"1.25";
    EXPECT_EQ(ProfileToDouble(std::u16string_view(longer).substr(0, 3)), 1.2);
}

TEST(ProfileNumbers, DoubleIgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
    bool switched = false;
    for (const char* name : candidates) switched = switched || std::setlocale(LC_NUMERIC, name) != nullptr;
    EXPECT_EQ(ProfileToDouble(u"1.5"), 1.5);
    EXPECT_EQ(ProfileToDouble(u"1,5"), 1.0);
    std::setlocale(LC_NUMERIC, previous.c_str());
    if (!switched) GTEST_SKIP() << "no comma-decimal locale installed";
}

// ---------------------------------------------------------------- garbage

// A deterministic generator (mt19937's output is fixed by the standard).
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : m_gen(seed) {}
    std::uint32_t Next(std::uint32_t bound) { return static_cast<std::uint32_t>(m_gen() % bound); }

    // Units biased towards the characters that carry structure.
    char16_t Unit() {
        static constexpr char16_t kStructure[] = {u'[', u']', u'=', u';', u' ', u'\t', u'\r', u'\n', u'"',
                                                  u'\'', u'a', u'A', u'm', u'd', u'5', u'v', u'-', u'.',
                                                  u'e', u'0', u'9', 0x00, 0xC4, 0xE4, 0x410, 0x430};
        switch (Next(4)) {
        case 0: return static_cast<char16_t>(m_gen() & 0xFFFF); // anything, lone surrogates included
        case 1: return static_cast<char16_t>(0xD800 + Next(0x800));
        default: return kStructure[Next(sizeof kStructure / sizeof kStructure[0])];
        }
    }
    std::u16string Text(std::size_t maxLen) {
        std::u16string s;
        const std::size_t n = Next(static_cast<std::uint32_t>(maxLen + 1));
        for (std::size_t i = 0; i < n; ++i) s += Unit();
        return s;
    }
    // A well-formed name: it reads back as written.
    std::u16string Name() {
        static constexpr char16_t kChars[] = u"aAbBmMdD5vxY_ÄäЖж";
        std::u16string s;
        const std::size_t n = 1 + Next(4);
        for (std::size_t i = 0; i < n; ++i) s += kChars[Next(sizeof kChars / sizeof kChars[0] - 1)];
        return s;
    }

  private:
    std::mt19937 m_gen;
};

std::u16string Expected(std::u16string value) {
    for (char16_t& c : value)
        if (c == u'\r' || c == u'\n') c = u' ';
    std::size_t b = 0, e = value.size();
    while (b < e && (value[b] == u' ' || value[b] == u'\t')) ++b;
    while (e > b && (value[e - 1] == u' ' || value[e - 1] == u'\t')) --e;
    value = value.substr(b, e - b);
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return value;
}

TEST(ProfileFile, SurvivesGarbage) {
    Noise noise(20240611u);
    for (int round = 0; round < 4000; ++round) {
        std::string bytes;
        if (noise.Next(8) == 0) {
            // Raw bytes: mostly rejected, sometimes by chance a mark and even length.
            const std::size_t n = noise.Next(64);
            for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>(noise.Next(256));
            if (noise.Next(2)) bytes = kBom + bytes;
        } else {
            bytes = kBom + Le(noise.Text(300));
        }
        std::optional<ProfileFile> parsed = ProfileFile::Parse(bytes);
        if (!parsed) {
            EXPECT_TRUE(bytes.size() % 2 != 0 || bytes.compare(0, 2, kBom) != 0) << round;
            continue;
        }
        ProfileFile doc = std::move(*parsed);
        // Serialising is stable after one normalisation of line ends.
        const std::string once = doc.Serialize();
        const std::string twice = MustParse(once).Serialize();
        ASSERT_EQ(once, twice) << round;

        for (const std::u16string& name : doc.SectionNames()) {
            EXPECT_TRUE(doc.HasSection(name));
            (void)doc.Get(name, noise.Text(3));
            (void)ProfileToInt(doc.GetString(name, noise.Name(), noise.Text(20)));
            (void)ProfileToDouble(doc.GetString(name, noise.Name(), noise.Text(20)));
        }
        (void)ProfileToInt(noise.Text(30));
        (void)ProfileToDouble(noise.Text(30));

        // Garbage names and values never break the document.
        doc.SetString(noise.Text(6), noise.Text(6), noise.Text(20));
        ASSERT_EQ(MustParse(doc.Serialize()).Serialize(), doc.Serialize()) << round;

        // Well-formed names read back what was written.
        const std::vector<std::u16string> names = doc.SectionNames();
        const std::u16string section =
            !names.empty() && noise.Next(2) ? names[noise.Next(static_cast<std::uint32_t>(names.size()))]
                                            : noise.Name();
        const std::u16string key = noise.Name();
        const std::u16string value = noise.Text(20);
        if (section.find_first_of(u"[];=\r\n") == std::u16string::npos) {
            doc.SetString(section, key, value);
            EXPECT_EQ(doc.Get(section, key), Expected(value)) << round;
            EXPECT_EQ(MustParse(doc.Serialize()).Get(section, key), Expected(value)) << round;
        }

        // The md5 scheme holds for any document.
        std::string hashed;
        const std::string sealed = Seal(doc, &hashed);
        ProfileFile back = MustParse(sealed);
        EXPECT_TRUE(back.DeleteSection(u"md5"));
        ASSERT_EQ(back.Serialize(), hashed) << round;
        EXPECT_TRUE(Verify(sealed)) << round;

        const std::u16string victim = names.empty() ? noise.Text(4) : names[0];
        doc.DeleteSection(victim);
        EXPECT_FALSE(doc.HasSection(victim)) << round;
        (void)doc.DeleteSection(noise.Text(4));
        (void)doc.Serialize();
    }
}

} // namespace
} // namespace hygro
