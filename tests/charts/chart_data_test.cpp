#include "charts/chart_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "acq/history_files.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/file_opt.h"

namespace hygro {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::At;
using test::TempDir;
using test::WriteFile;

constexpr double kOffset = 0.0000001;

// "HH:MM-HH:MM" of a real-time axis, read back from its x range.
std::string Window(const XAxisSpec& a) {
    const auto hhmm = [](double days) {
        const long minutes = std::lround(days * 1440.0);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%02ld:%02ld", minutes / 60, minutes % 60);
        return std::string(buf);
    };
    return hhmm(a.min + kOffset) + "-" + hhmm(a.max + kOffset);
}

void ExpectPoints(const std::vector<ChartPoint>& actual, const std::vector<ChartPoint>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].x, expected[i].x, 1e-9) << "point " << i;
        EXPECT_NEAR(actual[i].y, expected[i].y, 1e-9) << "point " << i;
    }
}

// One sensor folder written by the station's own history code, reading by reading.
class Station {
  public:
    explicit Station(fs::path folder) : m_folder(std::move(folder)) {}

    void Receive(const SystemTime& poll, double h, double t) {
        char reading[32];
        std::snprintf(reading, sizeof reading, "03 %+05.1f,%+05.1f\r\n", h, t);
        StoreText(poll, reading);
    }
    // Stores the reading text as sent, whatever it holds, then rolls over.
    void StoreText(const SystemTime& poll, const std::string& reading) {
        const fs::path file = HourFilePath(m_folder, poll);
        ASSERT_EQ(CheckAndCreateUnicodeFile(file), 1);
        double h = 0;
        double t = 0;
        ParseNormalisedReading(reading, h, t);
        SaveComRevData(reading.data(), static_cast<std::uint32_t>(reading.size()), file, poll.wMinute,
                       poll.wSecond, h, t);
        CheckNeedSaveAvg(m_folder, m_last.wYear, m_last.wMonth, m_last.wDay, m_last.wHour, m_last.wMinute,
                         m_last.wSecond, poll);
        m_last = poll;
    }
    // Readings every `step` seconds from `from` up to but excluding `to` (same day),
    // with humidity 40.0 + minute / 10 so each minute is told apart.
    void Every(const SystemTime& from, const SystemTime& to, int step) {
        const int end = to.wHour * 3600 + to.wMinute * 60 + to.wSecond;
        for (int s = from.wHour * 3600 + from.wMinute * 60 + from.wSecond; s < end; s += step) {
            const int minute = s / 60 % 60;
            Receive(At(from.wYear, from.wMonth, from.wDay, s / 3600, minute, s % 60), 40.0 + minute / 10.0,
                    20.0);
        }
    }
    const fs::path& folder() const { return m_folder; }

  private:
    fs::path m_folder;
    SystemTime m_last;
};

// ---------------------------------------------------------------------------------
// Axes

TEST(ChartAxes, PanesAndYAxes) {
    const YAxisSpec h = HumidityAxis();
    EXPECT_EQ(h.paneTitle, "Humidity");
    EXPECT_EQ(h.title, "Humidity(unit\xEF\xBC\x9A%)");
    EXPECT_EQ(std::vector<double>({h.min, h.max, h.majorStep, h.minorStep}),
              std::vector<double>({0, 100, 20, 5}));
    const YAxisSpec t = TemperatureAxis();
    EXPECT_EQ(t.paneTitle, "Temperature");
    EXPECT_EQ(t.title, "Temperature(unit\xEF\xBC\x9A\xE2\x84\x83)");
    EXPECT_EQ(std::vector<double>({t.min, t.max, t.majorStep, t.minorStep}),
              std::vector<double>({-40, 80, 20, 5}));
}

TEST(ChartAxes, HistoryModes) {
    struct Case {
        int mode;
        XAxisSpec axis;
    };
    const Case cases[] = {
        {kShowModeHour, {false, "Time(unit:1 Minute)", 0, 60, 10, 5}},
        {kShowModeDay, {false, "Time(unit:1 Hour)", 0, 24, 4, 2}},
        {kShowModeMonth, {false, "Time(unit:1 Day)", 0, 32, 8, 2}},
        {kShowModeYear, {false, "Time(unit:1 Month)", 0, 12, 4, 2}},
        {kShowModeTenYears, {false, "Time(unit:1 Year)", 0, 10, 2, 1}},
        {6, {false, "Time(unit:1 Minute)", 0, 60, 10, 5}},
        {-1, {false, "Time(unit:1 Minute)", 0, 60, 10, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        // The period start and the poll interval play no part outside real time.
        EXPECT_EQ(XAxisForShowMode(c.mode, 10, At(2024, 3, 10, 15, 42, 7)), c.axis);
        EXPECT_EQ(XAxisForShowMode(c.mode, 3600, SystemTime{}), c.axis);
    }
}

TEST(ChartAxes, RealTimeWindowPerPollInterval) {
    struct Case {
        int poll;
        int hour, minute;
        RealTimeWindow window;
        std::string range;
        double majorSeconds, minorSeconds;
    };
    const Case cases[] = {
        {10, 10, 26, RealTimeWindow::FiveMinutes, "10:26-10:31", 60, 20},
        {59, 23, 55, RealTimeWindow::FiveMinutes, "23:55-24:00", 60, 20},
        {0, 0, 0, RealTimeWindow::FiveMinutes, "00:00-00:05", 60, 20},
        {60, 10, 26, RealTimeWindow::OneHour, "10:00-11:00", 12 * 60, 4 * 60},
        {599, 23, 59, RealTimeWindow::OneHour, "23:00-24:00", 12 * 60, 4 * 60},
        {600, 5, 30, RealTimeWindow::TwelveHours, "05:00-17:00", 2 * 3600, 30 * 60},
        {1200, 15, 0, RealTimeWindow::TwelveHours, "12:00-24:00", 2 * 3600, 30 * 60},
        {1200, 5, 0, RealTimeWindow::TwelveHours, "05:00-17:00", 2 * 3600, 30 * 60},
        {1799, 12, 0, RealTimeWindow::TwelveHours, "12:00-24:00", 2 * 3600, 30 * 60},
        {1800, 15, 0, RealTimeWindow::Day, "00:00-24:00", 4 * 3600, 3600},
        {86400, 0, 0, RealTimeWindow::Day, "00:00-24:00", 4 * 3600, 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.poll << " s at " << c.hour << ":" << c.minute);
        // Seconds of the start never count.
        const SystemTime start = At(2024, 3, 10, c.hour, c.minute, 42);
        EXPECT_EQ(WindowForPollInterval(c.poll), c.window);
        const XAxisSpec a = XAxisForShowMode(kShowModeRealTime, c.poll, start);
        EXPECT_TRUE(a.dateAxis);
        EXPECT_EQ(a.title, "Time(unit:Minute)");
        EXPECT_EQ(Window(a), c.range);
        // Every minimum sits a hair before its first minute.
        const double first = TimeOfDayX(std::stoi(c.range.substr(0, 2)), std::stoi(c.range.substr(3, 2)), 0);
        EXPECT_NEAR(a.min, first - kOffset, 1e-13);
        EXPECT_NEAR(a.majorStep, c.majorSeconds / 86400.0, 1e-15);
        EXPECT_NEAR(a.minorStep, c.minorSeconds / 86400.0, 1e-15);
        EXPECT_EQ(RealTimeAxis(c.poll, start).Axis(), a);
    }
}

// ---------------------------------------------------------------------------------
// Scrolling the real-time window

struct Step {
    SystemTime t;
    std::string range; // window after the reading
    bool clear;
    bool moved;
};

struct ScrollCase {
    const char* name;
    int poll;
    SystemTime start;
    std::vector<Step> steps;
};

TEST(RealTimeScroll, WindowFollowsReadings) {
    const ScrollCase cases[] = {
        {"30 s: the fifth minute moves the window by one",
         30,
         At(2024, 3, 10, 10, 0, 0),
         {{At(2024, 3, 10, 10, 0, 0), "10:00-10:05", false, false},
          {At(2024, 3, 10, 10, 0, 30), "10:00-10:05", false, false},
          {At(2024, 3, 10, 10, 4, 30), "10:00-10:05", false, false},
          {At(2024, 3, 10, 10, 5, 0), "10:01-10:06", false, true},
          {At(2024, 3, 10, 10, 5, 30), "10:01-10:06", false, false},
          {At(2024, 3, 10, 10, 6, 0), "10:02-10:07", false, true}}},
        {"30 s from 23:58: held at 23:55, restarted after midnight",
         30,
         At(2024, 3, 10, 23, 58, 0),
         {{At(2024, 3, 10, 23, 58, 30), "23:55-24:00", false, true},
          {At(2024, 3, 10, 23, 59, 30), "23:55-24:00", false, false},
          {At(2024, 3, 11, 0, 0, 10), "00:00-00:05", true, true},
          {At(2024, 3, 11, 0, 4, 40), "00:00-00:05", false, false},
          {At(2024, 3, 11, 0, 5, 10), "00:01-00:06", false, true}}},
        {"5 minutes across the hour borrows the hour",
         10,
         At(2024, 3, 10, 10, 58, 0),
         {{At(2024, 3, 10, 11, 2, 50), "10:58-11:03", false, false},
          {At(2024, 3, 10, 11, 3, 0), "10:59-11:04", false, true},
          {At(2024, 3, 10, 13, 1, 0), "12:57-13:02", false, true},
          {At(2024, 3, 10, 13, 30, 0), "13:26-13:31", false, true}}},
        {"5 minutes: a new year is a new date",
         10,
         At(2024, 12, 31, 23, 57, 0),
         {{At(2025, 1, 1, 0, 0, 20), "00:00-00:05", true, true}}},
        {"5 minutes: same time of day on another date still clears",
         10,
         At(2024, 3, 10, 10, 0, 0),
         {{At(2024, 3, 11, 10, 0, 20), "10:00-10:05", true, false}}},
        {"5 minutes: a clock set back within the day does not cross it",
         10,
         At(2024, 3, 10, 10, 0, 0),
         {{At(2024, 3, 10, 9, 59, 0), "09:55-10:00", false, true},
          {At(2024, 3, 10, 0, 2, 0), "00:00-00:05", false, true}}},
        {"300 s: hour steps, midnight clears",
         300,
         At(2024, 3, 10, 10, 0, 0),
         {{At(2024, 3, 10, 10, 55, 0), "10:00-11:00", false, false},
          {At(2024, 3, 10, 11, 2, 0), "11:00-12:00", false, true},
          {At(2024, 3, 10, 23, 57, 0), "23:00-24:00", false, true},
          {At(2024, 3, 11, 0, 2, 0), "00:00-01:00", true, true},
          {At(2024, 3, 11, 0, 7, 0), "00:00-01:00", false, false},
          {At(2024, 3, 11, 1, 2, 0), "01:00-02:00", false, true}}},
        {"1200 s from 15:00: 12 hours, midnight clears, noon moves on",
         1200,
         At(2024, 3, 10, 15, 0, 0),
         {{At(2024, 3, 10, 23, 40, 0), "12:00-24:00", false, false},
          {At(2024, 3, 11, 0, 0, 0), "00:00-12:00", true, true},
          {At(2024, 3, 11, 11, 40, 0), "00:00-12:00", false, false},
          {At(2024, 3, 11, 12, 0, 0), "12:00-24:00", false, true}}},
        {"1200 s from 05:00: the move is held at 12:00",
         1200,
         At(2024, 3, 10, 5, 0, 0),
         {{At(2024, 3, 10, 16, 40, 0), "05:00-17:00", false, false},
          {At(2024, 3, 10, 17, 20, 0), "12:00-24:00", false, true}}},
        {"3600 s over two midnights",
         3600,
         At(2024, 3, 10, 22, 0, 0),
         {{At(2024, 3, 10, 23, 0, 0), "00:00-24:00", false, false},
          {At(2024, 3, 11, 0, 0, 0), "00:00-24:00", true, false},
          {At(2024, 3, 11, 1, 0, 0), "00:00-24:00", false, false},
          {At(2024, 3, 11, 23, 0, 0), "00:00-24:00", false, false},
          {At(2024, 3, 12, 0, 0, 0), "00:00-24:00", true, false},
          {At(2024, 3, 12, 0, 0, 0), "00:00-24:00", false, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RealTimeAxis axis(c.poll, c.start);
        for (const auto& s : c.steps) {
            SCOPED_TRACE(testing::Message()
                         << s.t.wDay << " " << s.t.wHour << ":" << s.t.wMinute << ":" << s.t.wSecond);
            const RealTimeAxis::Change change = axis.OnReading(s.t);
            EXPECT_EQ(Window(axis.Axis()), s.range);
            EXPECT_EQ(change.clearAll, s.clear);
            EXPECT_EQ(change.axisChanged, s.moved);
            EXPECT_EQ(axis.Start().wSecond, 0);
            EXPECT_EQ(axis.Axis(), XAxisForShowMode(kShowModeRealTime, c.poll, axis.Start()));
        }
    }
}

TEST(LivePoints, OnlyValidValuesBecomePoints) {
    struct Case {
        double h, t;
        bool hum, tem;
    };
    const Case cases[] = {
        {45.6, -5.2, true, true},
        {99.8, 79.9, true, true},
        {99.9, 21.3, false, true},
        {45.6, 80.0, true, false},
        {NAN, 21.3, false, true},
        {45.6, NAN, true, false},
        {INFINITY, -INFINITY, false, false},
    };
    const SystemTime poll = At(2024, 3, 10, 14, 7, 30);
    const double x = TimeOfDayX(14, 7, 30);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.h << "," << c.t);
        const SensorPoints p = LivePoints(poll, c.h, c.t);
        using Points = std::vector<ChartPoint>;
        const Points humidity = c.hum ? Points{{x, c.h}} : Points{};
        const Points temperature = c.tem ? Points{{x, c.t}} : Points{};
        EXPECT_EQ(p.humidity, humidity);
        EXPECT_EQ(p.temperature, temperature);
    }
}

// ---------------------------------------------------------------------------------
// Loaders over files the station wrote

class HistoryTest : public ::testing::Test {
  protected:
    TempDir dir;
    Station station{dir / "Lab"};
    const fs::path& folder() const { return station.folder(); }
};

TEST_F(HistoryTest, RealTimeReadsStartHourFromStartMinuteAndNextHour) {
    station.Receive(At(2024, 3, 10, 14, 29, 59), 30.0, 10.0); // before the start minute
    station.Receive(At(2024, 3, 10, 14, 30, 0), 41.0, 21.0);
    station.Receive(At(2024, 3, 10, 14, 45, 10), 99.9, 22.0);
    station.Receive(At(2024, 3, 10, 15, 0, 5), 43.0, 80.0);
    station.Receive(At(2024, 3, 10, 16, 0, 0), 44.0, 24.0); // two hours on

    const SensorPoints p = LoadRealTimePoints(folder(), At(2024, 3, 10, 14, 30, 45));
    ExpectPoints(p.humidity, {{TimeOfDayX(14, 30, 0), 41.0}, {TimeOfDayX(15, 0, 5), 43.0}});
    ExpectPoints(p.temperature, {{TimeOfDayX(14, 30, 0), 21.0}, {TimeOfDayX(14, 45, 10), 22.0}});
}

TEST_F(HistoryTest, RealTimeNextHourIsCalendarArithmetic) {
    struct Case {
        SystemTime start;
        SystemTime next;  // where the next hour's file is
        SystemTime decoy; // where a naive next hour would look
    };
    const Case cases[] = {
        {At(2024, 3, 10, 22, 10, 0), At(2024, 3, 10, 23, 0, 1), At(2024, 3, 11, 23, 0, 1)},
        {At(2024, 3, 10, 23, 10, 0), At(2024, 3, 11, 0, 0, 1), At(2024, 3, 10, 24, 0, 1)},
        {At(2024, 4, 30, 23, 10, 0), At(2024, 5, 1, 0, 0, 1), At(2024, 4, 31, 0, 0, 1)},
        {At(2024, 2, 28, 23, 10, 0), At(2024, 2, 29, 0, 0, 1), At(2024, 3, 1, 0, 0, 1)},
        {At(2023, 2, 28, 23, 10, 0), At(2023, 3, 1, 0, 0, 1), At(2023, 2, 29, 0, 0, 1)},
        {At(2100, 2, 28, 23, 10, 0), At(2100, 3, 1, 0, 0, 1), At(2100, 2, 29, 0, 0, 1)},
        {At(2024, 12, 31, 23, 10, 0), At(2025, 1, 1, 0, 0, 1), At(2024, 13, 1, 0, 0, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start.wYear << "-" << c.start.wMonth << "-" << c.start.wDay);
        fs::remove_all(folder());
        Station s(folder());
        s.Receive(c.start, 40.0, 20.0);
        s.Receive(c.next, 41.0, 21.0);
        s.Receive(c.decoy, 42.0, 22.0);
        const SensorPoints p = LoadRealTimePoints(folder(), c.start);
        // The date part of a real-time x is always 0, also after midnight.
        ExpectPoints(p.humidity, {{TimeOfDayX(c.start.wHour, c.start.wMinute, 0), 40.0},
                                  {TimeOfDayX(c.next.wHour, 0, 1), 41.0}});
    }
}

struct HourCase {
    const char* name;
    std::vector<std::pair<int, std::string>> records; // second of the hour, reading text
    std::vector<ChartPoint> humidity;
    std::vector<ChartPoint> temperature;
};

TEST_F(HistoryTest, HourModeOnePointPerMinute) {
    const auto ms = [](int m, int s) { return m * 60 + s; };
    const HourCase cases[] = {
        {"rising minute shows its maximum, a steady one its mean",
         {{ms(15, 5), "03 +40.0,+20.0"}, {ms(15, 35), "03 +41.0,+20.0"}},
         {{15, 41.0}},
         {{15, 20.0}}},
        {"falling minute shows its minimum",
         {{ms(3, 0), "03 +45.0,+22.0"}, {ms(3, 20), "03 +44.0,+21.5"}, {ms(3, 40), "03 +44.5,+21.0"}},
         {{3, 44.0}},
         {{3, 21.0}}},
        {"up and back down is steady: the mean",
         {{ms(7, 0), "03 +40.0,+20.0"}, {ms(7, 20), "03 +40.3,+20.3"}, {ms(7, 40), "03 +40.0,+20.0"}},
         {{7, 40.1}},
         {{7, 20.1}}},
        {"invalid values are neither counted nor part of the trend",
         {{ms(9, 0), "03 +40.0,+20.0"}, {ms(9, 20), "03 +99.9,+80.0"}, {ms(9, 40), "03 +41.0,+21.0"}},
         {{9, 41.0}},
         {{9, 21.0}}},
        {"a quantity without valid values in a minute gives no point",
         {{ms(0, 0), "03 +99.9,+20.0"}, {ms(0, 30), "03 +99.9,+21.0"}, {ms(1, 0), "03 +50.0,+85.0"}},
         {{1, 50.0}},
         {{0, 21.0}}},
        {"minutes apart, the last one closed at the end",
         {{ms(0, 0), "03 +40.0,+20.0"},
          {ms(2, 0), "03 +42.0,+22.0"},
          {ms(59, 0), "03 +43.0,-05.0"},
          {ms(59, 59), "03 +42.5,-05.5"}},
         {{0, 40.0}, {2, 42.0}, {59, 42.5}},
         {{0, 20.0}, {2, 22.0}, {59, -5.5}}},
        {"an unreadable record does not split or end the minute",
         {{ms(4, 0), "03 +40.0,+20.0"}, {ms(4, 10), "03 +4x.0,+2@.0"}, {ms(4, 20), "03 +41.0,+20.0"}},
         {{4, 41.0}},
         {{4, 20.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        Station s(folder());
        for (const auto& [second, text] : c.records)
            s.StoreText(At(2024, 3, 10, 10, second / 60, second % 60), text);
        const SensorPoints p = LoadHistoryPoints(folder(), kShowModeHour, At(2024, 3, 10, 10, 0, 0));
        ExpectPoints(p.humidity, c.humidity);
        ExpectPoints(p.temperature, c.temperature);
    }
}

TEST_F(HistoryTest, DayModeReadsEachHourHead) {
    station.Receive(At(2024, 3, 10, 0, 5, 7), 40.0, 20.0);
    station.Receive(At(2024, 3, 10, 5, 0, 0), 40.0, 20.0);
    station.Receive(At(2024, 3, 10, 5, 30, 0), 41.0, 21.0);
    station.Receive(At(2024, 3, 10, 7, 0, 0), 99.9, -5.2); // first reading invalid: the head keeps it
    station.Receive(At(2024, 3, 10, 23, 59, 59), 55.5, 80.0);
    const fs::path day = folder() / "2024" / "3" / "10";
    WriteFile(day / "9.cvs", std::string("Count=0001,0001\r\nAverg=+40.0,+20.0\r").substr(0, 35));
    WriteFile(day / "10.cvs", "Count=0001,0001\r\nAverg=+4\0.0,+20.0\r\n"s.substr(0, 36));
    WriteFile(day / "11.cvs", "\xFF\xFE");

    const SensorPoints p = LoadHistoryPoints(folder(), kShowModeDay, At(2024, 3, 10, 13, 14, 15));
    ExpectPoints(p.humidity, {{0, 40.0}, {5, 40.5}, {23, 55.5}});
    ExpectPoints(p.temperature, {{0, 20.0}, {5, 20.5}, {7, -5.2}, {10, 20.0}});
}

TEST_F(HistoryTest, AveragesWrittenAtRolloverAreShown) {
    station.Receive(At(2023, 12, 30, 10, 5, 7), 40.0, 20.0);
    station.Receive(At(2023, 12, 31, 10, 5, 7), 50.0, 22.0);
    station.Receive(At(2024, 1, 1, 10, 5, 7), 60.0, 24.0); // writes day, month and year averages

    ExpectPoints(LoadMonthPoints(folder(), 2023, 12).humidity, {{30, 40.0}, {31, 50.0}});
    ExpectPoints(LoadYearPoints(folder(), 2023).temperature, {{12, 21.0}});
    ExpectPoints(LoadTenYearPoints(folder(), 2023).humidity, {{0, 45.0}});
    ExpectPoints(LoadTenYearPoints(folder(), 2014).humidity, {{9, 45.0}});
    EXPECT_TRUE(LoadTenYearPoints(folder(), 2024).humidity.empty());
}

struct AvgCase {
    const char* name;
    int mode;
    std::vector<std::pair<std::string, std::string>> files; // path below the sensor folder, content
    std::vector<ChartPoint> humidity;
    std::vector<ChartPoint> temperature;
};

TEST_F(HistoryTest, AverageModes) {
    const AvgCase cases[] = {
        {"month: days 1-31, 99.9 % still shown",
         kShowModeMonth,
         {{"2024/2/1/Avg.cvs", "Averg=+45.0,+20.0"},
          {"2024/2/5/Avg.cvs", "Averg=+99.9,+79.9"},
          {"2024/2/31/Avg.cvs", "Averg=+35.0,-40.0"},
          {"2024/2/32/Avg.cvs", "Averg=+35.0,+20.0"},
          {"2024/3/2/Avg.cvs", "Averg=+35.0,+20.0"},
          {"2024/2/Avg.cvs", "Averg=+35.0,+20.0"}},
         {{1, 45.0}, {5, 99.9}, {31, 35.0}},
         {{1, 20.0}, {5, 79.9}, {31, -40.0}}},
        {"year: months 1-12, 99.9 % and 80 degrees left out",
         kShowModeYear,
         {{"2024/1/Avg.cvs", "Averg=+45.0,+20.0"},
          {"2024/2/Avg.cvs", "Averg=+99.9,+80.0"},
          {"2024/12/Avg.cvs", "Averg=+00.0,+00.0"},
          {"2024/13/Avg.cvs", "Averg=+35.0,+20.0"},
          {"2024/Avg.cvs", "Averg=+35.0,+20.0"}},
         {{1, 45.0}, {12, 0.0}},
         {{1, 20.0}, {12, 0.0}}},
        {"ten years from the period's year",
         kShowModeTenYears,
         {{"2023/Avg.cvs", "Averg=+35.0,+20.0"},
          {"2024/Avg.cvs", "Averg=+45.0,+20.0"},
          {"2030/Avg.cvs", "Averg=+46.0,+21.0"},
          {"2033/Avg.cvs", "Averg=+47.0,+22.0"},
          {"2034/Avg.cvs", "Averg=+35.0,+20.0"}},
         {{0, 45.0}, {6, 46.0}, {9, 47.0}},
         {{0, 20.0}, {6, 21.0}, {9, 22.0}}},
        {"damaged average files",
         kShowModeYear,
         {{"2024/1/Avg.cvs", "Averg=+45.0,+20."},          // 16 bytes
          {"2024/2/Avg.cvs", "Averg=+45.0,+20.0trailing"}, // read as 17 bytes
          {"2024/3/Avg.cvs", "Averg=+4 .0,+20.0"},
          {"2024/4/Avg.cvs", "Averg=+45.0,\0\0\0\0\0"s},
          {"2024/5/Avg.cvs", "Averg=  nan,+inf "},
          {"2024/6/Avg.cvs", "Averg=-45.0,-00.5"},
          {"2024/7/Avg.cvs", "\xFF\xFE"},
          {"2024/8/Avg.cvs", ""},
          {"2024/9/Avg.cvs", "Averg=45.00,-0.50"}, // numbers, but not as written
          {"2024/10/Avg.cvs", "Averg=-9999,+1e+1"}},
         {{2, 45.0}, {4, 45.0}, {6, -45.0}},
         {{2, 20.0}, {3, 20.0}, {6, -0.5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder());
        for (const auto& [path, content] : c.files) {
            fs::create_directories((folder() / path).parent_path());
            WriteFile(folder() / path, content);
        }
        const SensorPoints p = LoadHistoryPoints(folder(), c.mode, At(2024, 2, 17, 8, 9, 10));
        ExpectPoints(p.humidity, c.humidity);
        ExpectPoints(p.temperature, c.temperature);
    }
}

// ---------------------------------------------------------------------------------
// The table's five-minute window

struct WindowCase {
    const char* name;
    SystemTime start;
    std::vector<std::pair<SystemTime, SystemTime>> expected; // first and last reading of each run
    double nextHourX;                                        // x of the next hour's minute 0, or 0
};

TEST_F(HistoryTest, FiveMinuteWindow) {
    // Readings every 30 s around the examples; humidity 40.0 + minute / 10.
    station.Every(At(2024, 3, 9, 23, 50, 0), At(2024, 3, 9, 24, 0, 0), 30);
    station.Every(At(2024, 3, 10, 0, 0, 0), At(2024, 3, 10, 0, 10, 0), 30);
    station.Every(At(2024, 3, 10, 10, 20, 0), At(2024, 3, 10, 11, 10, 0), 30);

    const WindowCase cases[] = {
        {"clicked 10:30: minutes 26-30 of hour 10, nothing from minute 31",
         At(2024, 3, 10, 10, 26, 0),
         {{At(2024, 3, 10, 10, 26, 0), At(2024, 3, 10, 10, 30, 30)}},
         0},
        {"start minute 55 stays in its hour",
         At(2024, 3, 10, 10, 55, 0),
         {{At(2024, 3, 10, 10, 55, 0), At(2024, 3, 10, 10, 59, 30)}},
         0},
        {"clicked 11:01: 10:57-10:59, then minutes 0-6 of hour 11",
         At(2024, 3, 10, 10, 57, 0),
         {{At(2024, 3, 10, 10, 57, 0), At(2024, 3, 10, 10, 59, 30)},
          {At(2024, 3, 10, 11, 0, 0), At(2024, 3, 10, 11, 6, 30)}},
         11 / 24.0},
        {"clicked 00:02: 23:58 of the day before, then minutes 0-7 of hour 0",
         At(2024, 3, 9, 23, 58, 0),
         {{At(2024, 3, 9, 23, 58, 0), At(2024, 3, 9, 23, 59, 30)},
          {At(2024, 3, 10, 0, 0, 0), At(2024, 3, 10, 0, 7, 30)}},
         1.0},
        {"no file for the hour", At(2024, 3, 10, 12, 0, 0), {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ChartPoint> humidity;
        for (std::size_t run = 0; run < c.expected.size(); ++run) {
            const auto& [first, last] = c.expected[run];
            const double base = run == 0 ? c.start.wHour / 24.0 : c.nextHourX;
            for (int s = first.wMinute * 60 + first.wSecond; s <= last.wMinute * 60 + last.wSecond; s += 30)
                humidity.push_back({base + s / 86400.0, 40.0 + (s / 60) / 10.0});
        }
        const SensorPoints p = LoadFiveMinuteWindow(folder(), c.start);
        ExpectPoints(p.humidity, humidity);
        EXPECT_EQ(p.temperature.size(), humidity.size());
    }
}

TEST_F(HistoryTest, FiveMinuteWindowStopsAtFirstLateRecordAndKeepsValidity) {
    station.Receive(At(2024, 3, 10, 14, 25, 59), 41.0, 21.0); // before the window
    station.Receive(At(2024, 3, 10, 14, 26, 0), 99.9, 22.0);
    station.Receive(At(2024, 3, 10, 14, 27, 0), 43.0, 80.0);
    station.Receive(At(2024, 3, 10, 14, 31, 0), 44.0, 24.0);
    station.Receive(At(2024, 3, 10, 14, 28, 0), 45.0, 25.0); // after a late one: not read
    const SensorPoints p = LoadFiveMinuteWindow(folder(), At(2024, 3, 10, 14, 26, 0));
    ExpectPoints(p.humidity, {{TimeOfDayX(14, 27, 0), 43.0}});
    ExpectPoints(p.temperature, {{TimeOfDayX(14, 26, 0), 22.0}});
}

// ---------------------------------------------------------------------------------
// Damaged and odd hour files

struct DamageCase {
    const char* name;
    std::string bytes;
    std::size_t points; // humidity points read from the start of the hour
};

std::string Rec(const char* text) {
    return std::string(text) + "\r\n";
}

TEST_F(HistoryTest, DamagedHourFilesGiveOnlyWellFormedRecords) {
    const std::string head = "Count=0002,0002\r\nAverg=+40.0,+20.0\r\n";
    const std::string good = Rec("10:05 03 +40.0,+20.0");
    const DamageCase cases[] = {
        {"empty", "", 0},
        {"byte-order mark only", "\xFF\xFE", 0},
        {"head only", head, 0},
        {"short head", head.substr(0, 20), 0},
        {"last record cut off", head + good + good.substr(0, 21), 1},
        {"garbage between records", head + good + std::string(22, '\x9C') + good, 2},
        {"NUL bytes in a field", head + good + "10:06 03 +4\0\0\0,+20.0\r\n"s, 1},
        {"minute out of range", head + Rec("75:05 03 +40.0,+20.0") + good, 1},
        {"no colon", head + Rec("10-05 03 +40.0,+20.0") + good, 1},
        {"nan and inf", head + Rec("10:05 03 +nan ,+inf ") + good, 1},
        {"blank for sign", head + Rec("10:05 03  40.0,+20.0") + good, 1},
        {"record shifted by a long sensor number", head + Rec("10:05 100 +40.0,+20.") + good, 1},
        {"garbage head is skipped, records still read", std::string(36, '#') + good, 1},
    };
    const SystemTime hour = At(2024, 3, 10, 0, 0, 0);
    const fs::path file = HourFilePath(folder(), hour);
    fs::create_directories(file.parent_path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, c.bytes);
        const SensorPoints p = LoadRealTimePoints(folder(), hour);
        ASSERT_EQ(p.humidity.size(), c.points);
        for (const auto& pt : p.humidity)
            EXPECT_EQ(pt, (ChartPoint{TimeOfDayX(0, 10, 5), 40.0}));
        EXPECT_EQ(p.temperature.size(), c.points);
        EXPECT_EQ(LoadFiveMinuteWindow(folder(), At(2024, 3, 10, 0, 8, 0)).humidity.size(), c.points);
        EXPECT_EQ(LoadHourPoints(folder(), 2024, 3, 10, 0).humidity.size(), c.points ? 1u : 0u);
    }
}

TEST_F(HistoryTest, OddFilesInPlaceOfHistoryFiles) {
    const SystemTime hour = At(2024, 3, 10, 0, 0, 0);
    const fs::path file = HourFilePath(folder(), hour);
    fs::create_directories(file.parent_path());

    // A folder and a FIFO are no files: nothing is read and nothing blocks.
    fs::create_directories(file);
    ASSERT_EQ(::mkfifo((file.parent_path() / "1.cvs").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder() / "2024" / "3" / "Avg.cvs").c_str(), 0600), 0);
    for (int mode = kShowModeRealTime; mode <= kShowModeTenYears; ++mode) {
        const SensorPoints p = LoadHistoryPoints(folder(), mode, hour);
        EXPECT_TRUE(p.humidity.empty() && p.temperature.empty()) << mode;
    }
    EXPECT_TRUE(LoadFiveMinuteWindow(folder(), At(2024, 3, 10, 0, 57, 0)).humidity.empty());
    fs::remove(file);

    // A sparse file of 4 GiB: only the first 9999 records are looked at, none of them valid.
    {
        UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        ASSERT_TRUE(fd.ok());
        ASSERT_EQ(::ftruncate(fd.get(), off_t{4} << 30), 0);
    }
    EXPECT_TRUE(LoadRealTimePoints(folder(), hour).humidity.empty());

    // An over-long hour: records beyond 9999 are not read.
    std::string bytes = "Count=9999,9999\r\nAverg=+40.0,+20.0\r\n";
    for (int i = 0; i < 12000; ++i)
        bytes += Rec("00:10 03 +40.0,+20.0");
    WriteFile(file, bytes);
    EXPECT_EQ(LoadRealTimePoints(folder(), hour).humidity.size(), 9999u);
}

TEST_F(HistoryTest, MissingFolderGivesNoPoints) {
    for (int mode = -1; mode <= 6; ++mode) {
        const SensorPoints p = LoadHistoryPoints(dir / "nobody", mode, At(2024, 3, 10, 23, 58, 0));
        EXPECT_TRUE(p.humidity.empty() && p.temperature.empty()) << mode;
    }
    EXPECT_TRUE(LoadFiveMinuteWindow(dir / "nobody", At(2024, 3, 10, 23, 58, 0)).humidity.empty());
}

// Random damage to every kind of file: whatever is read must be a point a sensor could
// have produced, at an x the mode allows.
TEST_F(HistoryTest, FuzzedFilesNeverGiveGarbagePoints) {
    std::mt19937 rng(5150);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string alphabet = "0123456789+-.:, \r\n\0nafi";
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    const auto noise = [&](std::string s) {
        std::uniform_int_distribution<std::size_t> pos(0, s.size() - 1);
        for (int n = std::uniform_int_distribution<int>(1, 12)(rng); n > 0; --n)
            s[pos(rng)] = byte(rng) < 128 ? alphabet[letter(rng)] : static_cast<char>(byte(rng));
        s.resize(std::uniform_int_distribution<std::size_t>(0, s.size())(rng));
        return s;
    };
    const SystemTime t = At(2024, 3, 10, 23, 57, 0);
    const fs::path day = folder() / "2024" / "3" / "10";
    fs::create_directories(day);
    fs::create_directories(folder() / "2024" / "3" / "11");
    fs::create_directories(folder() / "2024" / "4");
    std::string hourFile = "Count=0003,0003\r\nAverg=+40.0,-20.0\r\n";
    for (int s = 0; s < 3600; s += 97) {
        char rec[32];
        std::snprintf(rec, sizeof rec, "%02d:%02d 03 %+05.1f,%+05.1f\r\n", s / 60, s % 60, s / 40.0,
                      s / 50.0 - 40.0);
        hourFile += rec;
    }
    for (int i = 0; i < 200; ++i) {
        WriteFile(day / "23.cvs", noise(hourFile));
        WriteFile(folder() / "2024" / "3" / "11" / "0.cvs", noise(hourFile));
        WriteFile(day / "Avg.cvs", noise("Averg=+45.6,-05.2"));
        WriteFile(folder() / "2024" / "4" / "Avg.cvs", noise("Averg=+45.6,-05.2"));
        WriteFile(folder() / "2024" / "Avg.cvs", noise("Averg=+45.6,-05.2"));
        struct Load {
            SensorPoints points;
            double xMin, xMax;
            double humidityLimit;
        };
        const Load loads[] = {
            {LoadRealTimePoints(folder(), t), 0.0, 1.0, 99.9},
            {LoadFiveMinuteWindow(folder(), t), 23 / 24.0, 1.0 + 1 / 24.0, 99.9},
            {LoadHourPoints(folder(), 2024, 3, 10, 23), 0, 59, 99.9},
            {LoadDayPoints(folder(), 2024, 3, 10), 0, 23, 99.9},
            {LoadMonthPoints(folder(), 2024, 3), 1, 31, 99.99},
            {LoadYearPoints(folder(), 2024), 1, 12, 99.9},
            {LoadTenYearPoints(folder(), 2024), 0, 9, 99.9},
        };
        for (const auto& l : loads) {
            for (const auto& p : l.points.humidity) {
                ASSERT_TRUE(p.x >= l.xMin && p.x < l.xMax + 1e-9) << p.x;
                ASSERT_TRUE(p.y > -100 && p.y < l.humidityLimit) << p.y;
            }
            for (const auto& p : l.points.temperature) {
                ASSERT_TRUE(p.x >= l.xMin && p.x < l.xMax + 1e-9) << p.x;
                ASSERT_TRUE(p.y > -100 && p.y < 80.0) << p.y;
            }
        }
    }
}

} // namespace
} // namespace hygro
