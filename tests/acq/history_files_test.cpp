#include "acq/history_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/file_opt.h"

namespace hygro {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::At;
using test::TempDir;
using test::WriteFile;


std::string Record(int minute, int second, std::string_view reading) {
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d ", minute, second);
    return stamp + std::string(reading.substr(0, 14)) + "\r\n";
}

// Stores a reading the way the station does: parse, then update the hour file.
void Store(const fs::path& hourFile, int minute, int second, std::string_view reading) {
    double h = 0;
    double t = 0;
    ParseNormalisedReading(reading, h, t);
    SaveComRevData(reading.data(), static_cast<std::uint32_t>(reading.size()), hourFile,
                   static_cast<std::uint16_t>(minute), static_cast<std::uint16_t>(second), h, t);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsMeanText(std::string_view s) {
    return s.size() == 5 && (s[0] == '+' || s[0] == '-') && IsDigit(s[1]) && IsDigit(s[2]) && s[3] == '.' &&
           IsDigit(s[4]);
}

bool IsWellFormedHead(std::string_view f) {
    if (f.size() < kHourHeadSize) return false;
    for (int i : {6, 7, 8, 9, 11, 12, 13, 14})
        if (!IsDigit(f[i])) return false;
    return f.substr(0, 6) == "Count=" && f[10] == ',' && f.substr(15, 8) == "\r\nAverg=" &&
           IsMeanText(f.substr(23, 5)) && f[28] == ',' && IsMeanText(f.substr(29, 5)) && f.substr(34, 2) == "\r\n";
}

bool IsWellFormedAvg(std::string_view f) {
    return f.size() == kAvgFileSize && f.substr(0, 6) == "Averg=" && IsMeanText(f.substr(6, 5)) && f[11] == ',' &&
           IsMeanText(f.substr(12, 5));
}

// ---------------------------------------------------------------------------------
// Reading and naming

TEST(HistoryNames, HourFilePathHasNoLeadingZeros) {
    EXPECT_EQ(HourFilePath("/data/Lab", At(2024, 3, 5, 7, 1, 2)), fs::path("/data/Lab/2024/3/5/7.cvs"));
    EXPECT_EQ(HourFilePath("/data/Lab", At(2024, 12, 31, 0, 59, 59)), fs::path("/data/Lab/2024/12/31/0.cvs"));
    // A sensor without a folder name stores right below the data path.
    EXPECT_EQ(HourFilePath(fs::path("/data") / "", At(2025, 1, 1, 23, 0, 0)), fs::path("/data/2025/1/1/23.cvs"));
}

TEST(HistoryNames, ValidityLimitsAreExclusive) {
    EXPECT_TRUE(IsValidHumidity(99.8));
    EXPECT_FALSE(IsValidHumidity(99.9));
    EXPECT_FALSE(IsValidHumidity(std::nan("")));
    EXPECT_TRUE(IsValidTemperature(79.9));
    EXPECT_TRUE(IsValidTemperature(-40.0));
    EXPECT_FALSE(IsValidTemperature(80.0));
    EXPECT_FALSE(IsValidTemperature(std::nan("")));
}

struct ParseCase {
    const char* name;
    std::string reading;
    bool ok;
    std::optional<double> h; // nullopt: NaN expected
    std::optional<double> t;
};

TEST(HistoryNames, ParseNormalisedReading) {
    const ParseCase cases[] = {
        {"with line end", "03 +45.6,-05.2\r\n", true, 45.6, -5.2},
        {"record part only", "03 +45.6,-05.2", true, 45.6, -5.2},
        {"invalid values still read", "12 +99.9,+80.0\r\n", true, 99.9, 80.0},
        {"negative zero point five", "01 -00.5,+79.9\r\n", true, -0.5, 79.9},
        {"cut inside temperature", "03 +45.6,-05", true, 45.6, -5.0},
        {"empty", "", false, std::nullopt, std::nullopt},
        {"letter in humidity", "03 +4x.6,+23.4\r\n", false, std::nullopt, 23.4},
        {"blank instead of sign padding", "03  45.6,+23.4\r\n", false, std::nullopt, 23.4},
        {"nan and inf text", "03 +nan ,+inf \r\n", false, std::nullopt, std::nullopt},
        {"three-digit sensor number shifts nothing", "100 +45.6,+23.4\r\n", true, 45.6, 23.4},
        {"point without decimals", "03 +100.,+23.4\r\n", false, std::nullopt, 23.4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Exact-size heap copy so that any read past the end is caught.
        auto buf = std::make_unique<char[]>(c.reading.size());
        std::copy(c.reading.begin(), c.reading.end(), buf.get());
        double h = 0;
        double t = 0;
        EXPECT_EQ(ParseNormalisedReading(std::string_view(buf.get(), c.reading.size()), h, t), c.ok);
        if (c.h) EXPECT_DOUBLE_EQ(h, *c.h);
        else EXPECT_TRUE(std::isnan(h));
        if (c.t) EXPECT_DOUBLE_EQ(t, *c.t);
        else EXPECT_TRUE(std::isnan(t));
    }
}

// ---------------------------------------------------------------------------------
// Hour files

class HourFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        file = HourFilePath(dir / "Lab", At(2024, 3, 10, 14, 0, 0));
        ASSERT_EQ(CheckAndCreateUnicodeFile(file), 1);
    }
    TempDir dir;
    fs::path file;
};

TEST_F(HourFileTest, FirstReadingReplacesByteOrderMarkWithHead) {
    ASSERT_EQ(ReadFile(file).size(), 2u);
    Store(file, 7, 30, "03 +45.6,+23.4\r\n");
    EXPECT_EQ(ReadFile(file), "Count=0001,0001\r\nAverg=+45.6,+23.4\r\n"
                              "07:30 03 +45.6,+23.4\r\n");
}

struct Step {
    std::string reading;
    std::string head; // expected head after this reading
};

struct SequenceCase {
    const char* name;
    std::vector<Step> steps;
};

TEST_F(HourFileTest, HeadAfterSequencesOfReadings) {
    const SequenceCase cases[] = {
        {"invalid humidity later leaves the humidity part alone",
         {{"03 +40.0,+20.1\r\n", "Count=0001,0001\r\nAverg=+40.0,+20.1\r\n"},
          {"03 +99.9,+21.3\r\n", "Count=0001,0002\r\nAverg=+40.0,+20.7\r\n"}}},
        {"invalid temperature later leaves the temperature part alone",
         {{"03 +40.0,+20.0\r\n", "Count=0001,0001\r\nAverg=+40.0,+20.0\r\n"},
          {"03 +42.0,+85.0\r\n", "Count=0002,0001\r\nAverg=+41.0,+20.0\r\n"}}},
        {"invalid first value of the hour keeps weight one",
         {{"03 +99.9,+20.0\r\n", "Count=0001,0001\r\nAverg=+99.9,+20.0\r\n"},
          {"03 +50.1,+20.0\r\n", "Count=0002,0002\r\nAverg=+75.0,+20.0\r\n"},
          {"03 +99.9,+20.0\r\n", "Count=0002,0003\r\nAverg=+75.0,+20.0\r\n"}}},
        {"running mean starts from the stored one-decimal mean",
         {{"03 +20.0,+22.0\r\n", "Count=0001,0001\r\nAverg=+20.0,+22.0\r\n"},
          {"03 +20.1,+22.0\r\n", "Count=0002,0002\r\nAverg=+20.1,+22.0\r\n"},
          {"03 +20.0,+22.0\r\n", "Count=0003,0003\r\nAverg=+20.1,+22.0\r\n"}}},
        {"negative temperatures",
         {{"03 +45.6,-05.2\r\n", "Count=0001,0001\r\nAverg=+45.6,-05.2\r\n"},
          {"03 +45.6,-04.8\r\n", "Count=0002,0002\r\nAverg=+45.6,-05.0\r\n"}}},
        {"unreadable humidity is stored as the no-mean marker",
         {{"03 +4x.6,+23.4\r\n", "Count=0001,0001\r\nAverg=+99.9,+23.4\r\n"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, "\xFF\xFE");
        std::string records;
        int minute = 0;
        for (const auto& step : c.steps) {
            Store(file, minute, 5, step.reading);
            records += Record(minute, 5, step.reading);
            ++minute;
            const std::string bytes = ReadFile(file);
            EXPECT_EQ(bytes.substr(0, kHourHeadSize), step.head) << "after " << step.reading;
        }
        EXPECT_EQ(ReadFile(file), c.steps.back().head + records);
    }
}

TEST_F(HourFileTest, RecordKeepsInvalidReadingAsSent) {
    Store(file, 0, 1, "03 +40.0,+20.1\r\n");
    Store(file, 59, 59, "03 +99.9,+21.3\r\n");
    const std::string bytes = ReadFile(file);
    ASSERT_EQ(bytes.size(), kHourHeadSize + 2 * kHourRecordSize);
    EXPECT_EQ(bytes.substr(kHourHeadSize + kHourRecordSize), "59:59 03 +99.9,+21.3\r\n");
}

TEST_F(HourFileTest, RecordTakesExactlyFourteenCharacters) {
    // The length argument does not matter; a short buffer is padded, never over-read.
    const std::string longText = "03 +45.6,+23.4\r\nTRAILING";
    SaveComRevData(longText.data(), 16, file, 1, 2, 45.6, 23.4);
    auto shortBuf = std::make_unique<char[]>(5);
    std::copy_n("03 +4", 5, shortBuf.get());
    SaveComRevData(shortBuf.get(), 5, file, 3, 4, 45.6, 23.4);
    SaveComRevData(nullptr, 0, file, 999, 65535, 45.6, 23.4);
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(bytes.substr(kHourHeadSize), "01:02 03 +45.6,+23.4\r\n"
                                           "03:04 03 +4         \r\n"
                                           "99:99               \r\n");
}

TEST(HourFile, MissingFileIsLeftMissing) {
    TempDir dir;
    const fs::path file = dir / "2024" / "3" / "10" / "14.cvs";
    Store(file, 7, 30, "03 +45.6,+23.4\r\n");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(dir / "2024"));
}

struct DamagedCase {
    const char* name;
    std::string before;
    std::string reading;
    std::string after; // whole file, without the new record
};

TEST_F(HourFileTest, ShortOrDamagedHeads) {
    const std::string oldRecord = "00:10 03 +40.0,+20.0\r\n";
    const DamagedCase cases[] = {
        {"empty file", "", "03 +44.0,+26.0", "Count=0001,0001\r\nAverg=+44.0,+26.0\r\n"},
        {"30 bytes count as no head", std::string(30, 'x'), "03 +44.0,+26.0",
         "Count=0001,0001\r\nAverg=+44.0,+26.0\r\n"},
        {"head cut inside the temperature mean", "Count=0003,0003\r\nAverg=+40.0,+2", "03 +44.0,+26.0",
         "Count=0004,0001\r\nAverg=+41.0,+26.0\r\n"},
        {"count that is not a number", "Count=00x3,0002\r\nAverg=+40.0,+20.0\r\n" + oldRecord, "03 +44.0,+26.0",
         "Count=0001,0003\r\nAverg=+44.0,+22.0\r\n" + oldRecord},
        {"nan as mean text", "Count=0005,0005\r\nAverg=  nan,+20.0\r\n" + oldRecord, "03 +44.0,+26.0",
         "Count=0001,0006\r\nAverg=+44.0,+21.0\r\n" + oldRecord},
        {"unreadable mean and invalid value", "Count=0003,0003\r\nAverg=abcde,+20.0\r\n", "03 +99.9,+20.0",
         "Count=0000,0004\r\nAverg=+99.9,+20.0\r\n"},
        {"huge means stay five characters wide", "Count=9999,9999\r\nAverg=99999,-9999\r\n", "03 +44.0,+26.0",
         "Count=9999,9999\r\nAverg=+99.9,-99.9\r\n"},
        {"counts stop at 9999", "Count=9999,9999\r\nAverg=+40.0,+20.0\r\n", "03 +44.0,+26.0",
         "Count=9999,9999\r\nAverg=+40.0,+20.0\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, c.before);
        Store(file, 1, 2, c.reading);
        EXPECT_EQ(ReadFile(file), c.after + Record(1, 2, c.reading));
    }
}

std::string RandomBytes(std::mt19937& rng, std::size_t maxLen) {
    static constexpr std::string_view kAlphabet = "0123456789+-.,= \r\nCountAverg";
    std::uniform_int_distribution<std::size_t> len(0, maxLen);
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<std::size_t> letter(0, kAlphabet.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(len(rng), '\0');
    for (char& c : s) c = pick(rng) == 0 ? static_cast<char>(byte(rng)) : kAlphabet[letter(rng)];
    return s;
}

// A head-shaped file with random damage, so that parsing gets past its first checks.
std::string DamagedHead(std::mt19937& rng) {
    std::string s = "Count=0042,0017\r\nAverg=+45.6,-05.2\r\n" + Record(3, 4, "03 +45.6,-05.2");
    std::uniform_int_distribution<std::size_t> pos(0, s.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> hits(1, 4);
    for (int n = hits(rng); n > 0; --n) s[pos(rng)] = static_cast<char>(byte(rng));
    s.resize(std::uniform_int_distribution<std::size_t>(0, s.size())(rng));
    return s;
}

TEST_F(HourFileTest, FuzzedFilesAndReadingsKeepTheLayout) {
    std::mt19937 rng(20240310);
    std::uniform_int_distribution<int> word(0, 65535);
    for (int i = 0; i < 600; ++i) {
        const std::string before = i % 2 ? RandomBytes(rng, 80) : DamagedHead(rng);
        const std::string reading = RandomBytes(rng, 20);
        WriteFile(file, before);
        auto buf = std::make_unique<char[]>(reading.size());
        std::copy(reading.begin(), reading.end(), buf.get());
        double h = 0;
        double t = 0;
        ParseNormalisedReading(std::string_view(buf.get(), reading.size()), h, t);
        SaveComRevData(buf.get(), static_cast<std::uint32_t>(reading.size()), file,
                       static_cast<std::uint16_t>(word(rng)), static_cast<std::uint16_t>(word(rng)), h, t);

        const std::string after = ReadFile(file);
        const std::size_t expected = (before.size() < kHourMinHeadSize ? kHourHeadSize
                                                                       : std::max(before.size(), kHourHeadSize)) +
                                     kHourRecordSize;
        ASSERT_EQ(after.size(), expected) << "case " << i;
        ASSERT_TRUE(IsWellFormedHead(after)) << "case " << i << ": " << after.substr(0, kHourHeadSize);
        ASSERT_EQ(after.substr(after.size() - 2), "\r\n") << "case " << i;
    }
}

// ---------------------------------------------------------------------------------
// Averages

std::string Head(const char* hum, const char* tem, const char* counts = "0001,0001") {
    return std::string("Count=") + counts + "\r\nAverg=" + hum + "," + tem + "\r\n";
}

void WriteHourHead(const fs::path& dayFolder, int hour, const std::string& head) {
    fs::create_directories(dayFolder);
    WriteFile(dayFolder / (std::to_string(hour) + ".cvs"), head + Record(5, 6, "03 +11.1,+11.1"));
}

void WriteAvg(const fs::path& folder, const std::string& text) {
    fs::create_directories(folder);
    WriteFile(folder / "Avg.cvs", text);
}

TEST(Averages, DayIsPlainMeanOfHourlyMeans) {
    TempDir dir;
    const fs::path day = dir / "10";
    // Counts differ on purpose: they must not weigh the hours.
    WriteHourHead(day, 0, Head("+40.2", "+20.3", "0050,0050"));
    WriteHourHead(day, 7, Head("+50.0", "+23.5"));
    WriteHourHead(day, 23, Head("+99.9", "+26.2", "0003,0003"));
    WriteFile(day / "12.cvs", "\xFF\xFE"); // created, never written: no head
    WriteFile(day / "24.cvs", Head("+00.0", "+00.0")); // not an hour of the day
    SaveLastDayAvg(day);
    EXPECT_EQ(ReadFile(day / "Avg.cvs"), "Averg=+45.1,+23.3");
}

TEST(Averages, PeriodWithoutValidValuesIsZeroAndCountsAsZero) {
    TempDir dir;
    const fs::path month = dir / "3";
    WriteHourHead(month / "1", 8, Head("+99.9", "+20.0"));
    WriteHourHead(month / "1", 9, Head("+99.9", "+20.0"));
    SaveLastDayAvg(month / "1");
    ASSERT_EQ(ReadFile(month / "1" / "Avg.cvs"), "Averg=+00.0,+20.0");

    WriteAvg(month / "2", "Averg=+40.0,+22.0");
    SaveLastMonthAvg(month);
    EXPECT_EQ(ReadFile(month / "Avg.cvs"), "Averg=+20.0,+21.0");

    fs::create_directories(dir / "empty");
    SaveLastDayAvg(dir / "empty");
    EXPECT_EQ(ReadFile(dir / "empty" / "Avg.cvs"), "Averg=+00.0,+00.0");
}

TEST(Averages, YearSkipsInvalidAndMissingMonths) {
    TempDir dir;
    const fs::path year = dir / "2024";
    WriteAvg(year / "1", "Averg=+30.0,+10.0");
    WriteAvg(year / "2", "Averg=+99.9,+80.0");
    WriteAvg(year / "3", "Averg=+50.0,-05.0");
    WriteAvg(year / "13", "Averg=+00.0,+00.0");
    SaveLastYearAvg(year);
    EXPECT_EQ(ReadFile(year / "Avg.cvs"), "Averg=+40.0,+02.5");
}

TEST(Averages, AverageFileIsRewrittenWhole) {
    TempDir dir;
    WriteAvg(dir.path(), std::string(40, '#'));
    WriteAvg(dir / "5", "Averg=+40.0,+20.0");
    SaveLastYearAvg(dir.path());
    EXPECT_EQ(ReadFile(dir / "Avg.cvs"), "Averg=+40.0,+20.0");
}

TEST(Averages, MissingFolderIsNotCreated) {
    TempDir dir;
    SaveLastDayAvg(dir / "gone");
    SaveLastMonthAvg(dir / "gone");
    SaveLastYearAvg(dir / "gone");
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

TEST(Averages, FuzzedInputsGiveWellFormedAverageFiles) {
    TempDir dir;
    std::mt19937 rng(17);
    for (int i = 0; i < 60; ++i) {
        const fs::path month = dir / std::to_string(i);
        fs::create_directories(month / "1");
        for (int hour = 0; hour < 24; hour += 3)
            WriteFile(month / "1" / (std::to_string(hour) + ".cvs"), i % 2 ? RandomBytes(rng, 60) : DamagedHead(rng));
        SaveLastDayAvg(month / "1");
        for (int day = 2; day <= 31; day += 7) WriteAvg(month / std::to_string(day), RandomBytes(rng, 24));
        SaveLastMonthAvg(month);
        ASSERT_TRUE(IsWellFormedAvg(ReadFile(month / "1" / "Avg.cvs"))) << ReadFile(month / "1" / "Avg.cvs");
        ASSERT_TRUE(IsWellFormedAvg(ReadFile(month / "Avg.cvs"))) << ReadFile(month / "Avg.cvs");
    }
}

// ---------------------------------------------------------------------------------
// Rollover

// The station's order for one reading: store it, roll over, remember its time.
class StationTest : public ::testing::Test {
  protected:
    void Receive(const SystemTime& poll, std::string_view reading) {
        const fs::path file = HourFilePath(sensor, poll);
        ASSERT_EQ(CheckAndCreateUnicodeFile(file), 1);
        Store(file, poll.wMinute, poll.wSecond, reading);
        CheckNeedSaveAvg(sensor, last.wYear, last.wMonth, last.wDay, last.wHour, last.wMinute, last.wSecond, poll);
        last = poll;
    }
    fs::path DayFolder(int y, int m, int d) const {
        return sensor / std::to_string(y) / std::to_string(m) / std::to_string(d);
    }

    TempDir dir;
    fs::path sensor = dir / "Lab";
    SystemTime last; // all zero: never stored
};

TEST_F(StationTest, FirstReadingOfNextDayStoresThenWritesDayAverage) {
    Receive(At(2024, 3, 10, 10, 15, 20), "03 +40.0,+20.0\r\n");
    Receive(At(2024, 3, 10, 23, 55, 17), "03 +50.0,+22.0\r\n");
    ASSERT_FALSE(fs::exists(DayFolder(2024, 3, 10) / "Avg.cvs"));

    Receive(At(2024, 3, 11, 0, 5, 0), "03 +60.0,+24.0\r\n");
    EXPECT_EQ(ReadFile(DayFolder(2024, 3, 11) / "0.cvs"), "Count=0001,0001\r\nAverg=+60.0,+24.0\r\n"
                                                          "05:00 03 +60.0,+24.0\r\n");
    EXPECT_EQ(ReadFile(DayFolder(2024, 3, 10) / "Avg.cvs"), "Averg=+45.0,+21.0");
    EXPECT_FALSE(fs::exists(DayFolder(2024, 3, 11) / "Avg.cvs"));
    EXPECT_FALSE(fs::exists(sensor / "2024" / "3" / "Avg.cvs"));
}

struct RolloverCase {
    const char* name;
    SystemTime last;
    SystemTime poll;
    bool day;
    bool month;
    bool year;
};

TEST_F(StationTest, WhichAveragesARolloverWrites) {
    const RolloverCase cases[] = {
        {"next day", At(2024, 3, 10, 23, 55, 17), At(2024, 3, 11, 0, 5, 0), true, false, false},
        {"stored second 0", At(2024, 3, 10, 23, 59, 0), At(2024, 3, 11, 0, 5, 0), false, false, false},
        {"stored minute 0", At(2024, 3, 10, 23, 0, 12), At(2024, 3, 11, 0, 5, 0), false, false, false},
        {"stored hour 0", At(2024, 3, 10, 0, 30, 12), At(2024, 3, 11, 0, 5, 0), false, false, false},
        {"never stored", At(0, 0, 0, 0, 0, 0), At(2024, 3, 11, 0, 5, 0), false, false, false},
        {"next hour", At(2024, 3, 10, 10, 59, 59), At(2024, 3, 10, 11, 0, 5), false, false, false},
        {"clock set back a day", At(2024, 3, 11, 8, 1, 1), At(2024, 3, 10, 8, 1, 1), true, false, false},
        {"same day number next month", At(2024, 3, 10, 8, 1, 1), At(2024, 4, 10, 8, 1, 1), true, true, false},
        {"month end", At(2024, 3, 31, 23, 50, 1), At(2024, 4, 1, 0, 0, 5), true, true, false},
        {"same date next year", At(2024, 3, 10, 8, 1, 1), At(2025, 3, 10, 8, 1, 1), true, true, true},
        {"new year", At(2024, 12, 31, 23, 50, 10), At(2025, 1, 1, 0, 0, 5), true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(sensor);
        const SystemTime& l = c.last;
        const fs::path file = HourFilePath(sensor, l);
        if (l.wYear) {
            ASSERT_EQ(CheckAndCreateUnicodeFile(file), 1);
            Store(file, l.wMinute, l.wSecond, "03 +40.0,+20.0\r\n");
        }
        CheckNeedSaveAvg(sensor, l.wYear, l.wMonth, l.wDay, l.wHour, l.wMinute, l.wSecond, c.poll);
        const fs::path yearFolder = sensor / std::to_string(l.wYear);
        const fs::path monthFolder = yearFolder / std::to_string(l.wMonth);
        EXPECT_EQ(fs::exists(monthFolder / std::to_string(l.wDay) / "Avg.cvs"), c.day);
        EXPECT_EQ(fs::exists(monthFolder / "Avg.cvs"), c.month);
        EXPECT_EQ(fs::exists(yearFolder / "Avg.cvs"), c.year);
        // Averages belong to the stored reading's period, never to the poll's.
        EXPECT_FALSE(fs::exists(HourFilePath(sensor, c.poll).parent_path() / "Avg.cvs"));
    }
}

TEST_F(StationTest, NewYearWritesDayThenMonthThenYear) {
    // Stale averages of the closing day and month: only the right order replaces them
    // before the level above reads them.
    WriteAvg(DayFolder(2024, 12, 31), "Averg=+99.0,+70.0");
    WriteAvg(sensor / "2024" / "12", "Averg=+99.0,+70.0");
    WriteAvg(DayFolder(2024, 12, 1), "Averg=+30.0,+10.0");
    WriteAvg(sensor / "2024" / "11", "Averg=+50.0,+30.0");

    Receive(At(2024, 12, 31, 22, 10, 10), "03 +38.0,+19.0\r\n");
    Receive(At(2024, 12, 31, 23, 50, 10), "03 +42.0,+21.0\r\n");
    Receive(At(2025, 1, 1, 0, 0, 5), "03 +60.0,+24.0\r\n");

    EXPECT_EQ(ReadFile(DayFolder(2024, 12, 31) / "Avg.cvs"), "Averg=+40.0,+20.0");
    EXPECT_EQ(ReadFile(sensor / "2024" / "12" / "Avg.cvs"), "Averg=+35.0,+15.0");
    EXPECT_EQ(ReadFile(sensor / "2024" / "Avg.cvs"), "Averg=+42.5,+22.5");
    EXPECT_FALSE(fs::exists(sensor / "2025" / "Avg.cvs"));
}

} // namespace
} // namespace hygro
