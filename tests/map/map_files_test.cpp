#include "map/map_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/profile_file.h"
#include "support/station_files.h"
#include "support/temp_dir.h"

namespace hygro {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return v;
}

void SetU32At(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>(v >> (8 * i) & 0xFF);
}

// An outside reader: plain zlib, no code of ours.
std::string Inflate(const std::string& stream, std::uint32_t size) {
    std::string out(size, '\0');
    uLongf len = size;
    const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &len,
                              reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size()));
    EXPECT_EQ(rc, Z_OK);
    out.resize(len);
    return out;
}

std::string PatternBytes(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>((i * 7 + i / 13) & 0xFF));
    return s;
}

std::vector<unsigned char> AsVector(const std::string& s) { return {s.begin(), s.end()}; }

// Settings text as the station writes it: UTF-16LE with a byte-order mark.
std::u16string SettingsText(std::u16string_view body) { return u"\uFEFF" + std::u16string(body); }

TEST(Mem4Align, RoundsUpToMultipleOfFour) {
    for (auto [in, out] : {std::pair{0u, 0u}, {1u, 4u}, {3u, 4u}, {4u, 4u}, {5u, 8u}, {1001u, 1004u}})
        EXPECT_EQ(Mem4Align(in), out) << in;
}

// ---- packed picture file -------------------------------------------------------------

TEST(PackedFile, ThousandBytesPackToHeaderStreamAndPadding) {
    TempDir dir;
    const std::string content = PatternBytes(1000);
    WriteFile(dir / "plan.bmp", content);
    ASSERT_EQ(PmqFile(dir / "plan.bmp", dir / "demoFile.kvp"), "");

    const std::string packed = ReadFile(dir / "demoFile.kvp");
    ASSERT_GE(packed.size(), 8u);
    EXPECT_EQ(packed.substr(0, 4), std::string("\xE8\x03\x00\x00", 4));
    const std::uint32_t c = U32At(packed, 4);
    EXPECT_EQ(packed.size(), 8 + Mem4Align(c));
    EXPECT_EQ(packed.substr(8 + c), std::string(Mem4Align(c) - c, '\0'));
    EXPECT_EQ(Inflate(packed.substr(8, c), 1000), content);

    const UnpackResult back = UnpackFile(dir / "demoFile.kvp");
    EXPECT_EQ(back.error, "");
    EXPECT_EQ(back.bytes, AsVector(content));
}

TEST(PackedFile, PackingReplacesTargetAndFailuresLeaveItAlone) {
    TempDir dir;
    WriteFile(dir / "old.kvp", "previous");
    EXPECT_EQ(PmqFile(dir / "missing.bmp", dir / "old.kvp"), "Could not open file to read2");
    EXPECT_EQ(PmqFile(dir.path(), dir / "old.kvp"), "Could not open file to read2");
    EXPECT_EQ(ReadFile(dir / "old.kvp"), "previous");

    WriteFile(dir / "a.bmp", "abc");
    EXPECT_EQ(PmqFile(dir / "a.bmp", dir / "no" / "such" / "dir.kvp"), "Could not open file to write");
    ASSERT_EQ(PmqFile(dir / "a.bmp", dir / "old.kvp"), "");
    EXPECT_EQ(UnpackFile(dir / "old.kvp").bytes, AsVector("abc"));
}

TEST(PackedFile, EmptySourceHasSizeZeroAndUnpacksToNothingWithoutMessage) {
    TempDir dir;
    WriteFile(dir / "empty.bmp", "");
    ASSERT_EQ(PmqFile(dir / "empty.bmp", dir / "p.kvp"), "");
    EXPECT_EQ(U32At(ReadFile(dir / "p.kvp"), 0), 0u);
    const UnpackResult r = UnpackFile(dir / "p.kvp");
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.error, "");
}

TEST(PackedFile, MissingFileFailsToOpen) {
    TempDir dir;
    EXPECT_EQ(UnpackFile(dir / "none.kvp").error, "Could not open file to read3");
}

TEST(PackedFile, DamagedFilesFailWithTheirStepsMessage) {
    TempDir dir;
    WriteFile(dir / "src.bmp", PatternBytes(1000));
    ASSERT_EQ(PmqFile(dir / "src.bmp", dir / "good.kvp"), "");
    const std::string good = ReadFile(dir / "good.kvp");
    const std::uint32_t c = U32At(good, 4);

    auto truncated = [&](std::size_t n) { return good.substr(0, n); };
    auto patched = [&](std::size_t at, std::uint32_t v) {
        std::string s = good;
        SetU32At(s, at, v);
        return s;
    };
    std::string garbage = good;
    for (std::size_t i = 8; i < 8 + c; ++i) garbage[i] = static_cast<char>(0xA5 ^ i);

    const struct {
        const char* what;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty file", truncated(0), "Could not create file mapping object"},
        {"inside S", truncated(3), "Could not create file mapping object"},
        {"S only", truncated(4), "Could not create file mapping object"},
        {"inside C", truncated(7), "Could not create file mapping object"},
        {"header only", truncated(8), "Could not map view of file5"},
        {"inside stream", truncated(8 + c / 2), "Could not map view of file5"},
        {"C beyond the end", patched(4, c + 5), "Could not map view of file5"},
        {"C huge", patched(4, 0xFFFFFFFFu), "Could not map view of file5"},
        {"S too large", patched(0, kMaxUnpackedSize + 1), "Could not create file mapping object for write2|268435457"},
        {"S at 4 GiB", patched(0, 0xFFFFFFFFu), "Could not create file mapping object for write2|4294967295"},
        {"garbage stream", garbage, "Could not map view of file6"},
        {"S larger than the content", patched(0, 1001), "Could not map view of file6"},
        {"S smaller than the content", patched(0, 999), "Could not map view of file6"},
    };
    for (const auto& tc : cases) {
        WriteFile(dir / "bad.kvp", tc.bytes);
        const UnpackResult r = UnpackFile(dir / "bad.kvp");
        EXPECT_EQ(r.error, tc.message) << tc.what;
        EXPECT_TRUE(r.bytes.empty()) << tc.what;
    }
}

TEST(PackedFile, MissingPaddingIsNoObstacle) {
    TempDir dir;
    WriteFile(dir / "src.bmp", PatternBytes(1000));
    ASSERT_EQ(PmqFile(dir / "src.bmp", dir / "p.kvp"), "");
    std::string packed = ReadFile(dir / "p.kvp");
    packed.resize(8 + U32At(packed, 4));
    WriteFile(dir / "p.kvp", packed);
    EXPECT_EQ(UnpackFile(dir / "p.kvp").bytes, AsVector(PatternBytes(1000)));
}

// ---- map file --------------------------------------------------------------------------

TEST(MapFileTarget, AppendsExtensionUnlessNameEndsInSdz) {
    const struct {
        const char* chosen;
        const char* target;
    } cases[] = {
        {"/home/op/plan", "/home/op/plan.sdz"},
        {"/home/op/plan.sdz", "/home/op/plan.sdz"},
        {"/home/op/plan.SDZ", "/home/op/plan.SDZ"},
        {"/home/op/plan.sDz", "/home/op/plan.sDz"},
        {"/home/op/plan.txt", "/home/op/plan.txt.sdz"},
        {"/home/op/plansdz", "/home/op/plansdz"},
        {"/home/op/sdz", "/home/op/sdz.sdz"},
        {"/home/op/a", "/home/op/a.sdz"},
        {"plan", "plan.sdz"},
    };
    for (const auto& tc : cases) EXPECT_EQ(MapFileTarget(tc.chosen), std::filesystem::path(tc.target)) << tc.chosen;
}

struct MapBlocks {
    std::uint32_t s1, c1, s2, c2;
    std::string block1, block2;
};

MapBlocks SplitMapFile(const std::string& file) {
    MapBlocks m{};
    m.s1 = U32At(file, 0);
    m.c1 = U32At(file, 4);
    m.block1 = file.substr(8, m.c1);
    const std::size_t at2 = 8 + Mem4Align(m.c1);
    m.s2 = U32At(file, at2);
    m.c2 = U32At(file, at2 + 4);
    m.block2 = file.substr(at2 + 8, m.c2);
    EXPECT_EQ(file.size(), 16 + Mem4Align(m.c1) + Mem4Align(m.c2));
    EXPECT_EQ(file.substr(8 + m.c1, Mem4Align(m.c1) - m.c1), std::string(Mem4Align(m.c1) - m.c1, '\0'));
    EXPECT_EQ(file.substr(at2 + 8 + m.c2), std::string(Mem4Align(m.c2) - m.c2, '\0'));
    return m;
}

// A station's settings file with three in-use sensors placed on the map.
ProfileFile ThreeSensorSettings() {
    ProfileFile doc = test::ColdRoomSettings();
    doc.SetString(u"LSensor", u"Rcount", u"3");
    doc.SetString(u"LSensor", u"Tcount", u"3");
    doc.SetString(u"Other", u"PWidth", u"312");
    doc.SetString(u"Pos", u"left", u"40");
    doc.SetString(u"Pos", u"top", u"-8");
    doc.SetString(u"Pos", u"width", u"1024");
    doc.SetString(u"Pos", u"height", u"700");
    doc.SetString(u"1", u"posx", u"0.25");
    doc.SetString(u"1", u"posy", u"0.75");
    doc.SetString(u"1", u"colorR", u"255");
    doc.SetString(u"1", u"colorG", u"128");
    doc.SetString(u"1", u"colorB", u"0");
    doc.SetString(u"2", u"name", u"Kühlhaus Süd");
    doc.SetString(u"2", u"FolderName", u"sued");
    doc.SetString(u"2", u"posx", u"1");
    doc.SetString(u"2", u"posy", u"0");
    doc.SetString(u"2", u"colorR", u"1");
    doc.SetString(u"2", u"colorG", u"2");
    doc.SetString(u"2", u"colorB", u"3");
    doc.SetString(u"3", u"name", u"温室");
    doc.SetString(u"3", u"posx", u"0.5");
    doc.SetString(u"3", u"posy", u"0.125");
    return doc;
}

void ExpectThreeSensors(const MapFileContent& m) {
    EXPECT_TRUE(m.hasSensorList);
    EXPECT_EQ(m.mapWidth, 312);
    EXPECT_EQ(m.left, 40);
    EXPECT_EQ(m.top, -8);
    EXPECT_EQ(m.width, 1024);
    EXPECT_EQ(m.height, 700);
    ASSERT_EQ(m.sensors.size(), 3u);
    EXPECT_EQ(m.sensors[0].name, "Cold room");
    EXPECT_DOUBLE_EQ(m.sensors[0].x, 0.25);
    EXPECT_DOUBLE_EQ(m.sensors[0].y, 0.75);
    EXPECT_EQ(std::tie(m.sensors[0].r, m.sensors[0].g, m.sensors[0].b), std::tuple(255, 128, 0));
    EXPECT_EQ(m.sensors[1].name, "Kühlhaus Süd");
    EXPECT_DOUBLE_EQ(m.sensors[1].x, 1.0);
    EXPECT_DOUBLE_EQ(m.sensors[1].y, 0.0);
    EXPECT_EQ(std::tie(m.sensors[1].r, m.sensors[1].g, m.sensors[1].b), std::tuple(1, 2, 3));
    EXPECT_EQ(m.sensors[2].name, "温室");
    EXPECT_DOUBLE_EQ(m.sensors[2].x, 0.5);
    EXPECT_DOUBLE_EQ(m.sensors[2].y, 0.125);
    EXPECT_EQ(std::tie(m.sensors[2].r, m.sensors[2].g, m.sensors[2].b), std::tuple(0, 0, 0));
}

class MapFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settingsBytes = test::SealedSettingsBytes(ThreeSensorSettings());
        WriteFile(dir / "Settings.ini", settingsBytes);
    }
    std::string Create(std::span<const unsigned char> picture, const std::string& name = "plan.sdz") {
        EXPECT_EQ(CreateMapFile(dir / "Settings.ini", picture, dir / name), "");
        return ReadFile(dir / name);
    }

    TempDir dir;
    std::string settingsBytes;
};

TEST_F(MapFileTest, BuiltInPictureIsSizeZeroWithStreamOfEmptyInput) {
    const MapBlocks m = SplitMapFile(Create({}));
    EXPECT_EQ(m.s1, settingsBytes.size());
    EXPECT_EQ(Inflate(m.block1, m.s1), settingsBytes);
    EXPECT_EQ(m.s2, 0u);
    EXPECT_EQ(m.c2, 8u);
    EXPECT_EQ(Inflate(m.block2, 0), "");

    std::string error;
    const auto read = ReadMapFile(dir / "plan.sdz", error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(error, "");
    EXPECT_TRUE(read->picture.empty());
    ExpectThreeSensors(*read);
}

TEST_F(MapFileTest, PictureAndSettingsRoundTripAndOpenToAnOutsideReader) {
    const std::string picture = PatternBytes(5001);
    const MapBlocks m = SplitMapFile(Create(AsVector(picture)));
    EXPECT_EQ(m.s1, settingsBytes.size());
    EXPECT_EQ(Inflate(m.block1, m.s1), settingsBytes);
    EXPECT_EQ(m.s2, 5001u);
    EXPECT_EQ(Inflate(m.block2, m.s2), picture);

    std::string error;
    const auto read = ReadMapFile(dir / "plan.sdz", error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->picture, AsVector(picture));
    ExpectThreeSensors(*read);
}

TEST_F(MapFileTest, SettingsWithoutSensorListStillGiveThePicture) {
    ProfileFile doc;
    doc.SetString(u"Other", u"PWidth", u"300");
    WriteFile(dir / "Settings.ini", doc.Serialize());
    Create(AsVector(std::string("pic")));
    std::string error;
    const auto read = ReadMapFile(dir / "plan.sdz", error);
    ASSERT_TRUE(read) << error;
    EXPECT_FALSE(read->hasSensorList);
    EXPECT_TRUE(read->sensors.empty());
    EXPECT_EQ(read->mapWidth, 0);
    EXPECT_EQ(read->picture, AsVector(std::string("pic")));
}

TEST_F(MapFileTest, CreateFailuresNameTheirStepAndLeaveTargetAlone) {
    WriteFile(dir / "old.sdz", "previous");
    EXPECT_EQ(CreateMapFile(dir / "nothing.ini", {}, dir / "old.sdz"), "Could not open file to read1");
    EXPECT_EQ(ReadFile(dir / "old.sdz"), "previous");
    EXPECT_EQ(CreateMapFile(dir / "Settings.ini", {}, dir / "no" / "dir" / "x.sdz"), "Could not open file to write");
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST_F(MapFileTest, MissingFileFailsToOpen) {
    std::string error;
    EXPECT_FALSE(ReadMapFile(dir / "none.sdz", error));
    EXPECT_EQ(error, "Could not open file to read4");
}

TEST_F(MapFileTest, DamagedFilesFailWithTheirStepsMessage) {
    const std::string good = Create(AsVector(PatternBytes(3000)));
    const MapBlocks m = SplitMapFile(good);
    const std::size_t at2 = 8 + Mem4Align(m.c1);

    auto truncated = [&](std::size_t n) { return good.substr(0, n); };
    auto patched = [&](std::size_t at, std::uint32_t v) {
        std::string s = good;
        SetU32At(s, at, v);
        return s;
    };
    auto scrambled = [&](std::size_t from, std::size_t n) {
        std::string s = good;
        for (std::size_t i = from; i < from + n; ++i) s[i] = static_cast<char>(0x5A ^ (i * 31));
        return s;
    };

    const std::string view = "Could not map view of file7";
    const struct {
        const char* what;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty file", truncated(0), "Could not create file mapping object"},
        {"inside S1", truncated(2), "Could not create file mapping object"},
        {"S1 only", truncated(4), "Could not create file mapping object"},
        {"inside C1", truncated(6), "Could not create file mapping object"},
        {"header 1 only", truncated(8), view},
        {"inside block 1", truncated(8 + m.c1 / 2), view},
        {"inside padding 1", truncated(8 + m.c1), view},
        {"S2 missing", truncated(at2), view},
        {"inside S2", truncated(at2 + 2), view},
        {"inside C2", truncated(at2 + 6), view},
        {"header 2 only", truncated(at2 + 8), view},
        {"inside block 2", truncated(at2 + 8 + m.c2 / 2), view},
        {"C1 beyond the end", patched(4, static_cast<std::uint32_t>(good.size())), view},
        {"C1 huge", patched(4, 0xFFFFFFFFu), view},
        {"C1 pointing header 2 past the end", patched(4, static_cast<std::uint32_t>(good.size() - 12)), view},
        {"C2 beyond the end", patched(at2 + 4, m.c2 + 4), view},
        {"C2 huge", patched(at2 + 4, 0xFFFFFFFFu), view},
        {"S1 too large", patched(0, kMaxUnpackedSize + 1), "Could not create file mapping object for write4"},
        {"S1 wrong", patched(0, m.s1 + 1), "Could not map view of file9"},
        {"garbage block 1", scrambled(8, m.c1), "Could not map view of file9"},
        {"S2 too large", patched(at2, 0xFFFFFFFFu), "Could not create file mapping object for write3"},
        {"S2 wrong", patched(at2, m.s2 - 1), "Could not map view of file8"},
        {"garbage block 2", scrambled(at2 + 8, m.c2), "Could not map view of file8"},
    };
    for (const auto& tc : cases) {
        WriteFile(dir / "bad.sdz", tc.bytes);
        std::string error;
        EXPECT_FALSE(ReadMapFile(dir / "bad.sdz", error)) << tc.what;
        EXPECT_EQ(error, tc.message) << tc.what;
    }
}

TEST_F(MapFileTest, BuiltInPictureNeedsNoBlockTwo) {
    // S2 = 0 says the built-in picture: block 2 is not read at all.
    std::string file = Create({});
    const std::size_t at2 = 8 + Mem4Align(U32At(file, 4));
    SetU32At(file, at2 + 4, 0);
    file.resize(at2 + 8);
    WriteFile(dir / "short.sdz", file);
    std::string error;
    const auto read = ReadMapFile(dir / "short.sdz", error);
    ASSERT_TRUE(read) << error;
    EXPECT_TRUE(read->picture.empty());
    EXPECT_EQ(read->sensors.size(), 3u);
}

// ---- settings text -------------------------------------------------------------------

TEST(GetValueFromIniBuf, ScansSectionThenKeyThenValue) {
    const std::u16string text = SettingsText(
        u"[1]\r\nFolderName=a\r\nposx=0.5\r\n[2]\r\nname=Second\r\n[11]\r\nname=Eleven\r\n"
        u"[Tail]\r\nlast=to the end");
    const struct {
        std::u16string_view section, key;
        bool found;
        std::u16string_view value;
    } cases[] = {
        {u"1", u"posx", true, u"0.5"},
        {u"1", u"name", false, u""}, // the next "[" ends section 1
        {u"2", u"name", true, u"Second"},
        {u"11", u"name", true, u"Eleven"},
        {u"1", u"Name", true, u"a"}, // a key matches wherever it stands
        {u"Tail", u"last", true, u"to the end"},
        {u"tail", u"last", false, u""}, // case-sensitive
        {u"2", u"NAME", false, u""},
        {u"3", u"name", false, u""},
        {u"Tail", u"end", false, u""}, // needs "=" after the key
    };
    for (const auto& tc : cases) {
        std::u16string value = u"untouched";
        EXPECT_EQ(GetValueFromIniBuf(text, tc.section, tc.key, value), tc.found)
            << ToUtf8(tc.section) << "/" << ToUtf8(tc.key);
        EXPECT_EQ(value, tc.found ? std::u16string(tc.value) : u"untouched") << ToUtf8(tc.key);
    }
}

TEST(GetValueFromIniBuf, EdgesOfTheText) {
    std::u16string v;
    EXPECT_FALSE(GetValueFromIniBuf(u"", u"a", u"k", v));
    EXPECT_FALSE(GetValueFromIniBuf(u"[a]", u"a", u"k", v));
    EXPECT_FALSE(GetValueFromIniBuf(u"\uFEFF[a", u"a", u"k", v)); // no room for the "]"
    EXPECT_FALSE(GetValueFromIniBuf(u"\uFEFF[a]k", u"a", u"k", v));
    EXPECT_TRUE(GetValueFromIniBuf(u"\uFEFF[a]k=", u"a", u"k", v));
    EXPECT_EQ(v, u"");
    EXPECT_TRUE(GetValueFromIniBuf(u"\uFEFF[a]k=x[b]", u"a", u"k", v));
    EXPECT_EQ(v, u"x");
    // Scanning starts at index 1, so a section at the very start is not seen.
    EXPECT_FALSE(GetValueFromIniBuf(u"[a]\r\nk=1", u"[a", u"k", v));
}

TEST(ParseSensorList, WithoutRcountLeavesTheContentAlone) {
    MapFileContent out;
    out.mapWidth = 77;
    out.sensors.push_back({"kept", 0.1, 0.2, 1, 2, 3});
    ParseSensorList(SettingsText(u"[LSensor]\r\nTcount=3\r\n[Other]\r\nPWidth=300\r\n[1]\r\nname=x\r\n"), out);
    EXPECT_FALSE(out.hasSensorList);
    EXPECT_EQ(out.mapWidth, 77);
    ASSERT_EQ(out.sensors.size(), 1u);
    EXPECT_EQ(out.sensors[0].name, "kept");
}

TEST(ParseSensorList, ClaimedCountIsBoundedByTheSectionsPresent) {
    const struct {
        std::u16string_view rcount;
        std::size_t sensors;
    } cases[] = {{u"2", 2}, {u"1", 1}, {u"0", 0}, {u"-5", 0}, {u"2147483647", 2}, {u"99999999999999", 2},
                 {u"junk", 0}};
    for (const auto& tc : cases) {
        MapFileContent out;
        out.sensors.push_back({"stale", 0, 0, 0, 0, 0});
        ParseSensorList(SettingsText(u"[LSensor]\r\nRcount=" + std::u16string(tc.rcount) +
                                     u"\r\n[1]\r\nname=A\r\n[2]\r\nname=B\r\n[4]\r\nname=D\r\n"),
                        out);
        EXPECT_TRUE(out.hasSensorList);
        EXPECT_EQ(out.sensors.size(), tc.sensors) << ToUtf8(tc.rcount);
    }
}

TEST(ParseSensorList, ValuesParseAsTheyAreWrittenWhateverTheLocale) {
    MapFileContent out;
    ParseSensorList(SettingsText(u"[LSensor]\r\nRcount=1\r\n[Pos]\r\nleft= 12px\r\ntop=+3\r\n"
                                 u"[1]\r\nname= padded \r\nposx=  0.125\r\nposy=1e-1\r\ncolorR=nan\r\n"
                                 u"colorG=300\r\n[Other]\r\nPWidth=abc\r\n"),
                    out);
    EXPECT_EQ(out.left, 12);
    EXPECT_EQ(out.top, 3);
    EXPECT_EQ(out.width, 0);
    EXPECT_EQ(out.mapWidth, 0);
    ASSERT_EQ(out.sensors.size(), 1u);
    EXPECT_EQ(out.sensors[0].name, " padded ");
    EXPECT_DOUBLE_EQ(out.sensors[0].x, 0.125);
    EXPECT_DOUBLE_EQ(out.sensors[0].y, 0.1);
    EXPECT_EQ(out.sensors[0].r, 0);
    EXPECT_EQ(out.sensors[0].g, 300);

    ParseSensorList(SettingsText(u"[LSensor]\r\nRcount=1\r\n[1]\r\nname=n\r\nposx=nan\r\nposy=inf\r\n"), out);
    ASSERT_EQ(out.sensors.size(), 1u);
    EXPECT_EQ(out.sensors[0].x, 0.0);
    EXPECT_EQ(out.sensors[0].y, 0.0);
}

TEST(ParseSensorList, LongNamesAreCutToWholeCharactersWithin99Bytes) {
    std::u16string name;
    for (int i = 0; i < 60; ++i) name += u"é"; // two bytes each in UTF-8
    MapFileContent out;
    ParseSensorList(SettingsText(u"[LSensor]\r\nRcount=2\r\n[1]\r\nname=" + name + u"\r\n[2]\r\nname=" +
                                 std::u16string(150, u'x') + u"\r\n"),
                    out);
    ASSERT_EQ(out.sensors.size(), 2u);
    EXPECT_EQ(out.sensors[0].name.size(), 98u);
    EXPECT_EQ(out.sensors[0].name, ToUtf8(name.substr(0, 49)));
    EXPECT_EQ(out.sensors[1].name, std::string(99, 'x'));
}

} // namespace
} // namespace hygro
