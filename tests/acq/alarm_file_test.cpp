#include "acq/alarm_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/kx_log.h"

namespace hygro {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::At;
using test::TempDir;
using test::WriteFile;


bool SameTime(const SystemTime& a, const SystemTime& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

std::string Head(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Count=%05d\r\n", n);
    return buf;
}

// Record k of a run of records one second apart from 2024-01-01 00:00:00.
SystemTime Nth(int k) { return At(2024, 1, 1 + k / 86400, k / 3600 % 24, k / 60 % 60, k % 60); }

std::string NthRecord(int k) {
    const SystemTime t = Nth(k);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +50.0,+20.0\r\n", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return buf;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- limit check ------------------------------------------------------------------

struct LimitCase {
    const char* name;
    double h, t;
    LimitBreaches want;
};

TEST(CheckSensorLimits, TableOfCases) {
    // Limits: humidity 30..70, temperature -10..40.
    const LimitCase cases[] = {
        {"inside", 50, 20, {}},
        {"h at high", 70.0, 20, {}},
        {"h at low", 30.0, 20, {}},
        {"t at high", 50, 40.0, {}},
        {"t at low", 50, -10.0, {}},
        {"h 0.1 above", 70.1, 20, {.humidityHigh = true}},
        {"h below", 29.9, 20, {.humidityLow = true}},
        {"t above", 50, 40.1, {.temperatureHigh = true}},
        {"t below", 50, -10.1, {.temperatureLow = true}},
        {"both out", 80, -20, {.humidityHigh = true, .temperatureLow = true}},
        {"h invalid, t inside", 99.9, 20, {}},
        {"h invalid, t above", 99.9, 45, {.temperatureHigh = true}},
        {"h NaN, t below", kNaN, -11, {.temperatureLow = true}},
        {"t invalid, h inside", 50, 80.0, {}},
        {"t invalid, h low", 10, 80.0, {.humidityLow = true}},
        {"t NaN, h high", 75, kNaN, {.humidityHigh = true}},
        {"both invalid", 99.9, 99.9, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckSensorLimits(c.h, c.t, 70, 30, 40, -10), c.want) << c.name;
    EXPECT_FALSE(LimitBreaches{}.Any());
    EXPECT_TRUE(LimitBreaches{.temperatureLow = true}.Any());
}

// ---- appending ----------------------------------------------------------------------

class AlarmFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path file = dir / "sensor" / "Alarm.txt";

    void Fill(int n) {
        std::string data = Head(n);
        for (int k = 0; k < n; ++k) data += NthRecord(k);
        fs::create_directories(file.parent_path());
        WriteFile(file, data);
    }
};

TEST_F(AlarmFileTest, FirstAppendCreatesFolderHeadAndRecord) {
    const auto r = AddSensorAlarmDataToFile(file, At(2024, 3, 5, 7, 8, 9), 45.6, -5.2);
    EXPECT_TRUE(r.written);
    EXPECT_FALSE(r.newSeenTime);
    EXPECT_EQ(ReadFile(file), "Count=00001\r\n2024-03-05 07:08:09 +45.6,-05.2\r\n");
}

TEST_F(AlarmFileTest, RecordFormatting) {
    struct Case {
        double h, t;
        const char* values;
    } cases[] = {
        {99.9, 25.04, "+99.9,+25.0"},   // invalid humidity is recorded as measured
        {0.0, -0.04, "+00.0,-00.0"},    // sign kept on a value that rounds to zero
        {5.25, -40.0, "+05.2,-40.0"},   // binary 5.25 rounds to even like printf
        {120.0, -150.0, "+99.9,-99.9"}, // too wide: held to five characters
        {kNaN, std::numeric_limits<double>::infinity(), "+99.9,+99.9"},
    };
    for (const auto& c : cases) {
        fs::remove(file);
        AddSensorAlarmDataToFile(file, At(2024, 12, 31, 23, 59, 58), c.h, c.t);
        EXPECT_EQ(ReadFile(file), Head(1) + "2024-12-31 23:59:58 " + c.values + "\r\n") << c.values;
    }
}

TEST_F(AlarmFileTest, AppendsInOrderAndCountsInHead) {
    for (int k = 0; k < 10; ++k) AddSensorAlarmDataToFile(file, Nth(k), 50.0, 20.0);
    std::string want = Head(10);
    for (int k = 0; k < 10; ++k) want += NthRecord(k);
    EXPECT_EQ(ReadFile(file), want);
}

TEST_F(AlarmFileTest, TenThousandthRecordFillsTheFile) {
    Fill(9999);
    const auto r = AddSensorAlarmDataToFile(file, Nth(9999), 50.0, 20.0);
    EXPECT_TRUE(r.written);
    EXPECT_FALSE(r.newSeenTime);
    const std::string data = ReadFile(file);
    ASSERT_EQ(data.size(), 13u + 33u * 10000u);
    EXPECT_EQ(data.substr(0, 13), Head(10000));
    EXPECT_EQ(data.substr(data.size() - 33), NthRecord(9999));
}

TEST_F(AlarmFileTest, FullFileDropsOldestAndMovesSeenTime) {
    Fill(10000);
    const auto r = AddSensorAlarmDataToFile(file, Nth(10000), 50.0, 20.0);
    EXPECT_TRUE(r.written);
    ASSERT_TRUE(r.newSeenTime);
    EXPECT_TRUE(SameTime(*r.newSeenTime, Nth(1)));
    std::string want = Head(10000);
    for (int k = 1; k <= 10000; ++k) want += NthRecord(k);
    EXPECT_EQ(ReadFile(file), want);
}

// ---- state ---------------------------------------------------------------------------

TEST_F(AlarmFileTest, StateFromNewestRecordAndSeenTime) {
    EXPECT_EQ(CheckWiFiSensorAlarm(file, {}), 0) << "no file";
    Fill(0);
    EXPECT_EQ(CheckWiFiSensorAlarm(file, {}), 0) << "empty file";
    Fill(3); // newest is Nth(2) = 00:00:02
    struct Case {
        SystemTime seen;
        int want;
    } cases[] = {
        {{}, 2},
        {At(2024, 1, 1, 0, 0, 1), 2},
        {At(2024, 1, 1, 0, 0, 2), 1}, // equal: acknowledged
        {At(2024, 1, 1, 0, 0, 3), 1},
        {At(2023, 12, 31, 23, 59, 59), 2},
        {At(2025, 1, 1, 0, 0, 0), 1},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckWiFiSensorAlarm(file, c.seen), c.want);
}

// ---- clearing ------------------------------------------------------------------------

TEST_F(AlarmFileTest, ClearKeepsRecordsLaterThanClearTime) {
    AddSensorAlarmDataToFile(file, At(2024, 5, 1, 9, 59, 0), 80.0, 20.0);
    AddSensorAlarmDataToFile(file, At(2024, 5, 1, 10, 0, 0), 80.0, 20.0);
    // Arrived while the list was open.
    AddSensorAlarmDataToFile(file, At(2024, 5, 1, 10, 0, 30), 81.0, 20.0);
    const SystemTime listed = At(2024, 5, 1, 10, 0, 0);
    EXPECT_EQ(ClearAlarm(file, listed), 1);
    EXPECT_EQ(ReadFile(file), "Count=00001\r\n2024-05-01 10:00:30 +81.0,+20.0\r\n");
    EXPECT_EQ(CheckWiFiSensorAlarm(file, listed), 2);
}

TEST_F(AlarmFileTest, ClearEverything) {
    Fill(5);
    EXPECT_EQ(ClearAlarm(file, Nth(4)), 0);
    EXPECT_EQ(ReadFile(file), "Count=00000\r\n");
    EXPECT_EQ(CheckWiFiSensorAlarm(file, Nth(4)), 0);
    // And appending starts over from there.
    AddSensorAlarmDataToFile(file, Nth(9), 50.0, 20.0);
    EXPECT_EQ(ReadFile(file), Head(1) + NthRecord(9));
}

TEST_F(AlarmFileTest, ClearWithoutFileCreatesEmptyOne) {
    EXPECT_EQ(ClearAlarm(file, Nth(0)), 0);
    EXPECT_EQ(ReadFile(file), "Count=00000\r\n");
}

TEST_F(AlarmFileTest, ClearKeepsEverythingFromFirstLaterRecord) {
    // A clock set back leaves an older record after a later one; it stays with the rest.
    Fill(0);
    for (int k : {1, 5, 3, 7}) AddSensorAlarmDataToFile(file, Nth(k), 50.0, 20.0);
    EXPECT_EQ(ClearAlarm(file, Nth(4)), 1);
    EXPECT_EQ(ReadFile(file), Head(3) + NthRecord(5) + NthRecord(3) + NthRecord(7));
}

TEST_F(AlarmFileTest, ReadRecordsParsesValues) {
    AddSensorAlarmDataToFile(file, At(2024, 2, 3, 4, 5, 6), -12.3, 45.6);
    AddSensorAlarmDataToFile(file, At(2024, 2, 3, 4, 5, 7), 99.9, -0.0);
    const auto recs = ReadAlarmRecords(file);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_TRUE(SameTime(recs[0].time, At(2024, 2, 3, 4, 5, 6)));
    EXPECT_DOUBLE_EQ(recs[0].humidity, -12.3);
    EXPECT_DOUBLE_EQ(recs[0].temperature, 45.6);
    EXPECT_DOUBLE_EQ(recs[1].humidity, 99.9);
    EXPECT_TRUE(ReadAlarmRecords(dir / "missing.txt").empty());
}

// ---- damaged files -------------------------------------------------------------------

struct DamageCase {
    const char* name;
    std::string content;
    std::vector<int> kept; // records (by Nth index) that must survive an append
};

std::vector<DamageCase> DamageCases() {
    const std::string r0 = NthRecord(0), r1 = NthRecord(1), r2 = NthRecord(2);
    return {
        {"empty file", "", {}},
        {"byte-order mark only", "\xFF\xFE", {}},
        {"head cut short", "Count=0", {}},
        {"garbage only", std::string(500, '\x7f'), {}},
        {"wrong head word", "Cnt=00002\r\n\r\n" + r0 + r1, {0, 1}},
        {"non-digit count", "Count=0x002\r\n" + r0 + r1, {0, 1}},
        {"count larger than records", Head(9000) + r0 + r1, {0, 1}},
        {"count smaller than records", Head(1) + r0 + r1 + r2, {0, 1, 2}},
        {"count zero with records", Head(0) + r0, {0}},
        {"count above limit", "Count=99999\r\n" + r0, {0}},
        {"torn last record", Head(3) + r0 + r1 + r2.substr(0, 20), {0, 1}},
        {"torn record in the middle", Head(3) + r0 + r1.substr(0, 10) + r2, {0, 2}},
        {"no head at all", r0 + r1, {0, 1}},
    };
}

TEST_F(AlarmFileTest, DamagedFileStateTrustsRecordsPresent) {
    for (const auto& c : DamageCases()) {
        fs::create_directories(file.parent_path());
        WriteFile(file, c.content);
        const int want = c.kept.empty() ? 0 : 2;
        EXPECT_EQ(CheckWiFiSensorAlarm(file, {}), want) << c.name;
        if (!c.kept.empty()) {
            EXPECT_EQ(CheckWiFiSensorAlarm(file, Nth(c.kept.back())), 1) << c.name;
        }
        EXPECT_EQ(ReadFile(file), c.content) << c.name << ": the state check must not write";
    }
}

TEST_F(AlarmFileTest, DamagedFileAppendRewritesHeadAndKeepsValidRecords) {
    for (const auto& c : DamageCases()) {
        fs::create_directories(file.parent_path());
        WriteFile(file, c.content);
        const auto r = AddSensorAlarmDataToFile(file, Nth(50), 50.0, 20.0);
        EXPECT_TRUE(r.written) << c.name;
        std::string want = Head(static_cast<int>(c.kept.size()) + 1);
        for (int k : c.kept) want += NthRecord(k);
        want += NthRecord(50);
        EXPECT_EQ(ReadFile(file), want) << c.name;
        // Repaired: the next append takes the plain path.
        AddSensorAlarmDataToFile(file, Nth(51), 50.0, 20.0);
        EXPECT_EQ(ReadFile(file), Head(static_cast<int>(c.kept.size()) + 2) + want.substr(13) + NthRecord(51))
            << c.name;
    }
}

TEST_F(AlarmFileTest, DamagedFileClearKeepsLaterValidRecords) {
    for (const auto& c : DamageCases()) {
        fs::create_directories(file.parent_path());
        WriteFile(file, c.content);
        const SystemTime clear = Nth(0);
        std::string want;
        int n = 0;
        for (int k : c.kept)
            if (k > 0) want += NthRecord(k), ++n;
        EXPECT_EQ(ClearAlarm(file, clear), n > 0 ? 1 : 0) << c.name;
        EXPECT_EQ(ReadFile(file), Head(n) + want) << c.name;
    }
}

TEST_F(AlarmFileTest, DamageIsLoggedByEveryAccessButNotForIntactFiles) {
    std::vector<std::string> lines;
    g_Log.SetTap([&](const std::string& text) { lines.push_back(text); });
    auto damagedLines = [&] {
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("Alarm file damaged", 0) == 0; });
    };
    fs::create_directories(file.parent_path());
    for (const auto& c : DamageCases()) {
        using Access = std::function<void()>;
        const Access accesses[] = {[&] { CheckWiFiSensorAlarm(file, {}); }, [&] { ReadAlarmRecords(file); },
                                   [&] { AddSensorAlarmDataToFile(file, Nth(60), 50.0, 20.0); },
                                   [&] { ClearAlarm(file, {}); }};
        for (const Access& access : accesses) {
            WriteFile(file, c.content);
            lines.clear();
            access();
            EXPECT_EQ(damagedLines(), 1) << c.name;
        }
    }
    Fill(3);
    lines.clear();
    CheckWiFiSensorAlarm(file, {});
    ReadAlarmRecords(file);
    AddSensorAlarmDataToFile(file, Nth(60), 50.0, 20.0);
    ClearAlarm(file, Nth(1));
    EXPECT_EQ(damagedLines(), 0);
    g_Log.SetTap({});
}

TEST_F(AlarmFileTest, GarbageSlotInConsistentFile) {
    // Head and size agree, so an append reads only the head and leaves the slot as it
    // is; readers skip it and a clearing drops it.
    const std::string bad(33, 'x');
    fs::create_directories(file.parent_path());
    WriteFile(file, Head(3) + NthRecord(0) + bad + NthRecord(2));
    EXPECT_EQ(ReadAlarmRecords(file).size(), 2u);
    AddSensorAlarmDataToFile(file, Nth(3), 50.0, 20.0);
    EXPECT_EQ(ReadFile(file), Head(4) + NthRecord(0) + bad + NthRecord(2) + NthRecord(3));
    WriteFile(file, Head(3) + NthRecord(0) + NthRecord(1) + bad);
    EXPECT_EQ(CheckWiFiSensorAlarm(file, Nth(0)), 2) << "newest readable record decides";
    EXPECT_EQ(CheckWiFiSensorAlarm(file, Nth(1)), 1);
    EXPECT_EQ(ClearAlarm(file, Nth(0)), 1);
    EXPECT_EQ(ReadFile(file), Head(1) + NthRecord(1));
}

TEST_F(AlarmFileTest, OverfullDamagedFileKeepsNewestTenThousand) {
    // Wrong count, 10001 records: the append keeps the newest 9999 plus the new one.
    std::string data = Head(5);
    for (int k = 0; k < 10001; ++k) data += NthRecord(k);
    fs::create_directories(file.parent_path());
    WriteFile(file, data);
    const auto r = AddSensorAlarmDataToFile(file, Nth(10001), 50.0, 20.0);
    ASSERT_TRUE(r.newSeenTime);
    EXPECT_TRUE(SameTime(*r.newSeenTime, Nth(2)));
    std::string want = Head(10000);
    for (int k = 2; k <= 10001; ++k) want += NthRecord(k);
    EXPECT_EQ(ReadFile(file), want);
}

TEST_F(AlarmFileTest, RandomDamageNeverLosesReadableRecords) {
    std::mt19937 rng(12345);
    std::string intact = Head(20);
    for (int k = 0; k < 20; ++k) intact += NthRecord(k);
    fs::create_directories(file.parent_path());
    for (int round = 0; round < 200; ++round) {
        std::string data = intact;
        for (int flips = rng() % 6; flips > 0; --flips) data[rng() % data.size()] = static_cast<char>(rng());
        if (rng() % 2) data.resize(rng() % (data.size() + 1));
        WriteFile(file, data);
        const auto before = ReadAlarmRecords(file);
        CheckWiFiSensorAlarm(file, {});
        AddSensorAlarmDataToFile(file, Nth(99), 50.0, 20.0);
        const auto after = ReadAlarmRecords(file);
        ASSERT_GE(after.size(), before.size() + 1) << "round " << round;
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_TRUE(SameTime(after[i].time, before[i].time)) << "round " << round;
        EXPECT_EQ(CheckWiFiSensorAlarm(file, Nth(98)), 2) << "round " << round;
    }
}

TEST_F(AlarmFileTest, UnusableFileIsLeftAlone) {
    // A folder in place of the file: nothing is written, state 0, no crash.
    fs::create_directories(file);
    EXPECT_FALSE(AddSensorAlarmDataToFile(file, Nth(0), 50.0, 20.0).written);
    EXPECT_EQ(CheckWiFiSensorAlarm(file, {}), 0);
    EXPECT_EQ(ClearAlarm(file, {}), 0);
    EXPECT_TRUE(fs::is_directory(file));
}

} // namespace
} // namespace hygro
