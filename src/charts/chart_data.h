// What the humidity and temperature charts show, without drawing anything: the x axis of
// each show mode, the real-time window and how readings move it, and the points read from
// a sensor's history files for each mode.
//
// Real time: x is the time of day in days (hour/24 + minute/1440 + second/86400), shown as
// "HH:mm". History modes: x is a plain number of minutes (1 hour), hours (1 day), days
// (1 month), months (1 year) or years (10 years).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "util/local_time.h"

namespace hygro {

inline constexpr int kShowModeRealTime = 0;
inline constexpr int kShowModeHour = 1;
inline constexpr int kShowModeDay = 2;
inline constexpr int kShowModeMonth = 3;
inline constexpr int kShowModeYear = 4;
inline constexpr int kShowModeTenYears = 5;

struct ChartPoint {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const ChartPoint&) const = default;
};

// One sensor's two point lists.
struct SensorPoints {
    std::vector<ChartPoint> humidity;
    std::vector<ChartPoint> temperature;
};

// x of a reading in real time.
double TimeOfDayX(int hour, int minute, int second);

struct XAxisSpec {
    bool dateAxis = false; // real time: x in days, labels "HH:mm"
    std::string title;
    double min = 0.0;
    double max = 0.0;
    // Tick spacing in x units (days on a date axis).
    double majorStep = 0.0;
    double minorStep = 0.0;
    bool operator==(const XAxisSpec&) const = default;
};

struct YAxisSpec {
    std::string paneTitle;
    std::string title; // with the full-width colon U+FF1A
    double min = 0.0;
    double max = 0.0;
    double majorStep = 0.0;
    double minorStep = 0.0;
};
YAxisSpec HumidityAxis();
YAxisSpec TemperatureAxis();

// Which real-time window a poll interval (seconds) gets.
enum class RealTimeWindow { FiveMinutes, OneHour, TwelveHours, Day };
RealTimeWindow WindowForPollInterval(int pollIntervalSeconds);

// The x axis of a show mode (0..5); for real time from the chart start time and the poll
// interval. Any other mode is treated as "1 hour".
XAxisSpec XAxisForShowMode(int mode, int pollIntervalSeconds, const SystemTime& chartStart);

// The chart start time of real time and what each reading (its poll time) does to it.
class RealTimeAxis {
  public:
    // start: the chart start time; its seconds are dropped.
    RealTimeAxis(int pollIntervalSeconds, const SystemTime& start);

    struct Change {
        bool clearAll = false;    // every sensor's lists are emptied (a new day)
        bool axisChanged = false; // the x range moved
    };
    // Called for every reading of an in-use sensor in map view and real time, before its
    // points are added.
    Change OnReading(const SystemTime& t);

    const SystemTime& Start() const { return m_start; }
    RealTimeWindow Window() const { return m_window; }
    XAxisSpec Axis() const;

  private:
    RealTimeWindow m_window;
    int m_pollInterval;
    SystemTime m_start;
};

// Points of one reading (invalid values left out).
SensorPoints LivePoints(const SystemTime& poll, double humidity, double temperature);

// Loaders. `folder` is the sensor's data folder (data path / Dev "Folder"). Missing, short
// or unreadable files add no points; nothing is read outside a file.
// Real time: the hour files of the chart start hour and the next hour (calendar
// arithmetic), records from the start minute on.
SensorPoints LoadRealTimePoints(const std::filesystem::path& folder, const SystemTime& chartStart);
// "1 hour": one point per minute (trend rule).
SensorPoints LoadHourPoints(const std::filesystem::path& folder, int year, int month, int day, int hour);
// "1 day": the hour means from each hour file's head.
SensorPoints LoadDayPoints(const std::filesystem::path& folder, int year, int month, int day);
// "1 month", "1 year", "10 years": the day, month and year averages.
SensorPoints LoadMonthPoints(const std::filesystem::path& folder, int year, int month);
SensorPoints LoadYearPoints(const std::filesystem::path& folder, int year);
SensorPoints LoadTenYearPoints(const std::filesystem::path& folder, int year);
// The loader of a history mode (1..5) for the period starting at `period`.
SensorPoints LoadHistoryPoints(const std::filesystem::path& folder, int mode, const SystemTime& period);

// The table's history window: five minutes from `start` (year..minute), from the start
// hour's file and, when the window reaches into the next hour, that hour's file.
SensorPoints LoadFiveMinuteWindow(const std::filesystem::path& folder, const SystemTime& start);

} // namespace hygro
