#include "charts/chart_data.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "util/file_opt.h"

namespace hygro {

namespace {

namespace fs = std::filesystem;

constexpr double kHumidityLimit = 99.9;
// Day averages of a month may sit right at the sensor limit and are still shown.
constexpr double kMonthHumidityLimit = 99.99;
constexpr double kTemperatureLimit = 80.0;

// Keeps a tick on the window's first minute from falling just outside it.
constexpr double kMinOffset = 0.0000001;
// Spans on the date axis, in days.
constexpr double Hours(int n) {
    return n / 24.0;
}
constexpr double Minutes(int n) {
    return n / 1440.0;
}
constexpr double Seconds(int n) {
    return n / 86400.0;
}

// Hour file: a 36-byte head, then 22-byte records "mm:ss NN +HH.H,+TT.T\r\n".
constexpr std::size_t kHeadSize = 36;
constexpr std::size_t kRecordSize = 22;
constexpr std::size_t kHeadHumidity = 23;
constexpr std::size_t kRecordHumidity = 9;
constexpr std::size_t kRecordTemperature = 15;
constexpr std::size_t kMeanWidth = 5;
// Average file: "Averg=+HH.H,+TT.T".
constexpr std::size_t kAvgSize = 17;
constexpr std::size_t kAvgHumidity = 6;
constexpr std::size_t kAvgTemperature = 12;
// The head's counts stop at 9999, and so does any hour the station writes; whatever a
// damaged or foreign file holds beyond that is not read.
constexpr std::size_t kMaxRecords = 9999;
constexpr std::size_t kRecordsPerRead = 256;

// Not a number, or no finite one, is a sensor error like a value at the limit.
bool ValidHumidity(double h, double limit = kHumidityLimit) {
    return std::isfinite(h) && h < limit;
}
bool ValidTemperature(double t) {
    return std::isfinite(t) && t < kTemperatureLimit;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A value as the station writes it, "%+05.1lf": sign, two digits, point, one digit.
// Anything else (blanks, NUL, "nan", a shifted field) is no value.
std::optional<double> ParseValue(std::string_view s) {
    if (s.size() != kMeanWidth || (s[0] != '+' && s[0] != '-') || !IsDigit(s[1]) || !IsDigit(s[2]) ||
        s[3] != '.' || !IsDigit(s[4]))
        return std::nullopt;
    double v = 0.0;
    const char* last = s.data() + s.size();
    const auto res = std::from_chars(s.data() + 1, last, v, std::chars_format::fixed);
    if (res.ec != std::errc{} || res.ptr != last) return std::nullopt;
    return s[0] == '-' ? -v : v;
}

std::optional<int> ParseTwoDigits(const char* p, int limit) {
    if (!IsDigit(p[0]) || !IsDigit(p[1])) return std::nullopt;
    const int v = (p[0] - '0') * 10 + (p[1] - '0');
    if (v >= limit) return std::nullopt;
    return v;
}

// The first `size` bytes of a regular file; false when it cannot be opened or is shorter.
bool ReadPrefix(const fs::path& file, char* out, std::size_t size) {
    const UniqueFd fd = OpenRegular(file, O_RDONLY);
    return fd.ok() && ReadAt(fd.get(), 0, out, size) == size;
}

struct Record {
    int minute = 0;
    int second = 0;
    double humidity = 0.0;
    double temperature = 0.0;
};

// A record with any field that is not what the station writes is no record at all.
std::optional<Record> ParseRecord(const char* r) {
    const auto minute = ParseTwoDigits(r, 60);
    const auto second = ParseTwoDigits(r + 3, 60);
    if (!minute || !second || r[2] != ':') return std::nullopt;
    const auto h = ParseValue({r + kRecordHumidity, kMeanWidth});
    const auto t = ParseValue({r + kRecordTemperature, kMeanWidth});
    if (!h || !t) return std::nullopt;
    return Record{*minute, *second, *h, *t};
}

// Calls fn(record) for each complete, well-formed record of an hour file in file order
// until fn returns false. The file may grow while it is read: only what was there when
// a block was read counts, and a record cut off at the end is left out.
template <typename Fn> void ForEachRecord(const fs::path& file, Fn&& fn) {
    const UniqueFd fd = OpenRegular(file, O_RDONLY);
    if (!fd.ok()) return;
    std::array<char, kRecordsPerRead * kRecordSize> buf;
    std::size_t done = 0;
    while (done < kMaxRecords) {
        const std::size_t want = std::min(kRecordsPerRead, kMaxRecords - done);
        const std::size_t got = ReadAt(fd.get(), kHeadSize + done * kRecordSize,
                                       buf.data(), want * kRecordSize);
        const std::size_t complete = got / kRecordSize;
        for (std::size_t i = 0; i < complete; ++i) {
            if (const auto rec = ParseRecord(buf.data() + i * kRecordSize))
                if (!fn(*rec)) return;
        }
        if (complete < want) return;
        done += complete;
    }
}

struct MeanPair {
    std::optional<double> humidity;
    std::optional<double> temperature;
};

// The two means of an hour file's head: humidity at 23, temperature in the five
// characters after the comma that follows it.
MeanPair ReadHourHead(const fs::path& file) {
    std::array<char, kHeadSize> head;
    if (!ReadPrefix(file, head.data(), head.size())) return {};
    const std::string_view text(head.data(), head.size());
    MeanPair m;
    m.humidity = ParseValue(text.substr(kHeadHumidity, kMeanWidth));
    const std::size_t comma = text.find(',', kHeadHumidity + kMeanWidth);
    if (comma != std::string_view::npos && comma + 1 + kMeanWidth <= text.size())
        m.temperature = ParseValue(text.substr(comma + 1, kMeanWidth));
    return m;
}

MeanPair ReadAvgFile(const fs::path& file) {
    std::array<char, kAvgSize> avg;
    if (!ReadPrefix(file, avg.data(), avg.size())) return {};
    const std::string_view text(avg.data(), avg.size());
    return {ParseValue(text.substr(kAvgHumidity, kMeanWidth)),
            ParseValue(text.substr(kAvgTemperature, kMeanWidth))};
}

void AddMeans(SensorPoints& out, double x, const MeanPair& m, double humidityLimit = kHumidityLimit) {
    if (m.humidity && ValidHumidity(*m.humidity, humidityLimit)) out.humidity.push_back({x, *m.humidity});
    if (m.temperature && ValidTemperature(*m.temperature)) out.temperature.push_back({x, *m.temperature});
}

void AddReading(SensorPoints& out, double x, double humidity, double temperature) {
    if (ValidHumidity(humidity)) out.humidity.push_back({x, humidity});
    if (ValidTemperature(temperature)) out.temperature.push_back({x, temperature});
}

std::string Number(int v) {
    return std::to_string(v);
}

fs::path YearFolder(const fs::path& folder, int year) {
    return folder / Number(year);
}
fs::path MonthFolder(const fs::path& folder, int year, int month) {
    return YearFolder(folder, year) / Number(month);
}
fs::path DayFolder(const fs::path& folder, int year, int month, int day) {
    return MonthFolder(folder, year, month) / Number(day);
}
fs::path HourFile(const fs::path& folder, int year, int month, int day, int hour) {
    return DayFolder(folder, year, month, day) / (Number(hour) + ".cvs");
}
fs::path HourFile(const fs::path& folder, const SystemTime& t) {
    return HourFile(folder, t.wYear, t.wMonth, t.wDay, t.wHour);
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 31;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// The hour after t, on the next day, month or year when t is in the last hour of one.
SystemTime NextHour(SystemTime t) {
    t.wMinute = 0;
    t.wSecond = 0;
    t.wMilliseconds = 0;
    if (t.wHour < 23) {
        ++t.wHour;
        return t;
    }
    t.wHour = 0;
    if (t.wDay < DaysInMonth(t.wYear, t.wMonth)) {
        ++t.wDay;
        return t;
    }
    t.wDay = 1;
    if (t.wMonth < 12) {
        ++t.wMonth;
        return t;
    }
    t.wMonth = 1;
    ++t.wYear;
    return t;
}

bool SameDate(const SystemTime& a, const SystemTime& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

SystemTime StartOf(const SystemTime& t) {
    SystemTime s = t;
    s.wSecond = 0;
    s.wMilliseconds = 0;
    return s;
}

XAxisSpec RealTimeAxisSpec(RealTimeWindow window, const SystemTime& start) {
    XAxisSpec a;
    a.dateAxis = true;
    a.title = "Time(unit:Minute)";
    switch (window) {
    case RealTimeWindow::FiveMinutes:
        a.min = TimeOfDayX(start.wHour, start.wMinute, 0) - kMinOffset;
        a.max = a.min + Minutes(5);
        a.majorStep = Minutes(1);
        a.minorStep = Seconds(20);
        break;
    case RealTimeWindow::OneHour:
        a.min = TimeOfDayX(start.wHour, 0, 0) - kMinOffset;
        a.max = a.min + Hours(1);
        a.majorStep = Minutes(12);
        a.minorStep = Minutes(4);
        break;
    case RealTimeWindow::TwelveHours:
        a.min = TimeOfDayX(std::min<int>(start.wHour, 12), 0, 0) - kMinOffset;
        a.max = a.min + Hours(12);
        a.majorStep = Hours(2);
        a.minorStep = Minutes(30);
        break;
    case RealTimeWindow::Day:
        a.min = -kMinOffset;
        a.max = a.min + Hours(24);
        a.majorStep = Hours(4);
        a.minorStep = Hours(1);
        break;
    }
    return a;
}

XAxisSpec HistoryAxis(const char* title, double max, double major, double minor) {
    return {false, title, 0.0, max, major, minor};
}

// One minute of the "1 hour" view for one quantity: a minute that rose is shown by its
// peak, one that fell by its low, a steady one by its mean.
class MinuteSummary {
  public:
    void Add(double v) {
        if (m_count > 0) {
            m_trend += v - m_last;
            m_min = std::min(m_min, v);
            m_max = std::max(m_max, v);
        } else {
            m_min = m_max = v;
        }
        m_last = v;
        m_sum += v;
        ++m_count;
    }
    std::optional<double> Value() const {
        if (m_count == 0) return std::nullopt;
        if (m_trend > 0.01) return m_max;
        if (m_trend < -0.01) return m_min;
        return m_sum / m_count;
    }

  private:
    double m_sum = 0.0;
    double m_min = 0.0;
    double m_max = 0.0;
    double m_last = 0.0;
    double m_trend = 0.0;
    int m_count = 0;
};

} // namespace

double TimeOfDayX(int hour, int minute, int second) {
    return hour / 24.0 + minute / 1440.0 + second / 86400.0;
}

YAxisSpec HumidityAxis() {
    return {"Humidity", "Humidity(unit\xEF\xBC\x9A%)", 0.0, 100.0, 20.0, 5.0};
}

YAxisSpec TemperatureAxis() {
    return {"Temperature", "Temperature(unit\xEF\xBC\x9A\xE2\x84\x83)", -40.0, 80.0, 20.0, 5.0};
}

RealTimeWindow WindowForPollInterval(int pollIntervalSeconds) {
    if (pollIntervalSeconds < 60) return RealTimeWindow::FiveMinutes;
    if (pollIntervalSeconds < 600) return RealTimeWindow::OneHour;
    if (pollIntervalSeconds < 1800) return RealTimeWindow::TwelveHours;
    return RealTimeWindow::Day;
}

XAxisSpec XAxisForShowMode(int mode, int pollIntervalSeconds, const SystemTime& chartStart) {
    switch (mode) {
    case kShowModeRealTime:
        return RealTimeAxisSpec(WindowForPollInterval(pollIntervalSeconds), chartStart);
    case kShowModeDay:
        return HistoryAxis("Time(unit:1 Hour)", 24, 4, 2);
    case kShowModeMonth:
        return HistoryAxis("Time(unit:1 Day)", 32, 8, 2);
    case kShowModeYear:
        return HistoryAxis("Time(unit:1 Month)", 12, 4, 2);
    case kShowModeTenYears:
        return HistoryAxis("Time(unit:1 Year)", 10, 2, 1);
    default:
        return HistoryAxis("Time(unit:1 Minute)", 60, 10, 5);
    }
}

RealTimeAxis::RealTimeAxis(int pollIntervalSeconds, const SystemTime& start)
    : m_window(WindowForPollInterval(pollIntervalSeconds)), m_pollInterval(pollIntervalSeconds),
      m_start(StartOf(start)) {}

XAxisSpec RealTimeAxis::Axis() const {
    return RealTimeAxisSpec(m_window, m_start);
}

RealTimeAxis::Change RealTimeAxis::OnReading(const SystemTime& t) {
    Change change;
    const XAxisSpec before = Axis();

    if (m_window == RealTimeWindow::FiveMinutes) {
        if (!SameDate(t, m_start)) {
            m_start = StartOf(t);
            change.clearAll = true;
        } else {
            int d = t.wMinute - m_start.wMinute;
            const bool sameHour = t.wHour == m_start.wHour;
            const bool nextHour = t.wHour == m_start.wHour + 1;
            if (nextHour) d += 60;
            if ((!sameHour && !nextHour) || d >= 5) {
                m_start = StartOf(t);
                if (m_start.wMinute >= 4) {
                    m_start.wMinute = static_cast<std::uint16_t>(m_start.wMinute - 4);
                } else if (m_start.wHour > 0) {
                    m_start.wHour = static_cast<std::uint16_t>(m_start.wHour - 1);
                    m_start.wMinute = static_cast<std::uint16_t>(m_start.wMinute + 56);
                } else {
                    // Only a clock set back can get here; the window stays on its date.
                    m_start.wMinute = 0;
                }
            }
            if (m_start.wHour == 23 && m_start.wMinute > 55) m_start.wMinute = 55;
        }
    } else if (m_start.wHour > 0 && t.wHour == 0) {
        m_start = StartOf(t);
        m_start.wHour = 0;
        m_start.wMinute = 0;
        change.clearAll = true;
    } else if (m_window == RealTimeWindow::Day) {
        // Tracked only so that the next midnight is seen.
        m_start = StartOf(t);
        m_start.wMinute = 0;
    } else if ((t.wHour * 60 + t.wMinute) / 1440.0 > before.max) {
        m_start = StartOf(t);
        m_start.wMinute = 0;
        if (m_window == RealTimeWindow::TwelveHours) m_start.wHour = std::min<std::uint16_t>(t.wHour, 12);
    }

    change.axisChanged = !(Axis() == before);
    return change;
}

SensorPoints LivePoints(const SystemTime& poll, double humidity, double temperature) {
    SensorPoints out;
    AddReading(out, TimeOfDayX(poll.wHour, poll.wMinute, poll.wSecond), humidity, temperature);
    return out;
}

SensorPoints LoadRealTimePoints(const fs::path& folder, const SystemTime& chartStart) {
    SensorPoints out;
    const int from = chartStart.wMinute * 60;
    ForEachRecord(HourFile(folder, chartStart), [&](const Record& r) {
        if (r.minute * 60 + r.second >= from)
            AddReading(out, TimeOfDayX(chartStart.wHour, r.minute, r.second), r.humidity, r.temperature);
        return true;
    });
    // Past midnight x starts again from 0: real time has no date part.
    const SystemTime next = NextHour(chartStart);
    ForEachRecord(HourFile(folder, next), [&](const Record& r) {
        AddReading(out, TimeOfDayX(next.wHour, r.minute, r.second), r.humidity, r.temperature);
        return true;
    });
    return out;
}

SensorPoints LoadHourPoints(const fs::path& folder, int year, int month, int day, int hour) {
    SensorPoints out;
    int minute = -1;
    MinuteSummary humidity;
    MinuteSummary temperature;
    const auto emit = [&] {
        if (minute < 0) return;
        if (const auto v = humidity.Value()) out.humidity.push_back({static_cast<double>(minute), *v});
        if (const auto v = temperature.Value()) out.temperature.push_back({static_cast<double>(minute), *v});
    };
    ForEachRecord(HourFile(folder, year, month, day, hour), [&](const Record& r) {
        if (r.minute != minute) {
            emit();
            minute = r.minute;
            humidity = {};
            temperature = {};
        }
        if (ValidHumidity(r.humidity)) humidity.Add(r.humidity);
        if (ValidTemperature(r.temperature)) temperature.Add(r.temperature);
        return true;
    });
    emit();
    return out;
}

SensorPoints LoadDayPoints(const fs::path& folder, int year, int month, int day) {
    SensorPoints out;
    const fs::path dayFolder = DayFolder(folder, year, month, day);
    for (int hour = 0; hour <= 23; ++hour)
        AddMeans(out, hour, ReadHourHead(dayFolder / (Number(hour) + ".cvs")));
    return out;
}

SensorPoints LoadMonthPoints(const fs::path& folder, int year, int month) {
    SensorPoints out;
    const fs::path monthFolder = MonthFolder(folder, year, month);
    for (int day = 1; day <= 31; ++day)
        AddMeans(out, day, ReadAvgFile(monthFolder / Number(day) / "Avg.cvs"), kMonthHumidityLimit);
    return out;
}

SensorPoints LoadYearPoints(const fs::path& folder, int year) {
    SensorPoints out;
    const fs::path yearFolder = YearFolder(folder, year);
    for (int month = 1; month <= 12; ++month)
        AddMeans(out, month, ReadAvgFile(yearFolder / Number(month) / "Avg.cvs"));
    return out;
}

SensorPoints LoadTenYearPoints(const fs::path& folder, int year) {
    SensorPoints out;
    for (int i = 0; i < 10; ++i)
        AddMeans(out, i, ReadAvgFile(YearFolder(folder, year + i) / "Avg.cvs"));
    return out;
}

SensorPoints LoadHistoryPoints(const fs::path& folder, int mode, const SystemTime& period) {
    switch (mode) {
    case kShowModeRealTime:
        return LoadRealTimePoints(folder, period);
    case kShowModeDay:
        return LoadDayPoints(folder, period.wYear, period.wMonth, period.wDay);
    case kShowModeMonth:
        return LoadMonthPoints(folder, period.wYear, period.wMonth);
    case kShowModeYear:
        return LoadYearPoints(folder, period.wYear);
    case kShowModeTenYears:
        return LoadTenYearPoints(folder, period.wYear);
    default:
        return LoadHourPoints(folder, period.wYear, period.wMonth, period.wDay, period.wHour);
    }
}

SensorPoints LoadFiveMinuteWindow(const fs::path& folder, const SystemTime& start) {
    SensorPoints out;
    const int startMinute = start.wMinute;
    ForEachRecord(HourFile(folder, start), [&](const Record& r) {
        if (r.minute >= startMinute + 5) return false;
        if (r.minute * 60 + r.second >= startMinute * 60)
            AddReading(out, TimeOfDayX(start.wHour, r.minute, r.second), r.humidity, r.temperature);
        return true;
    });
    if (startMinute > 55) {
        // x runs on past the start hour, so a window over midnight goes on after 24:00.
        ForEachRecord(HourFile(folder, NextHour(start)), [&](const Record& r) {
            if (r.minute < startMinute - 50)
                AddReading(out, TimeOfDayX(start.wHour + 1, r.minute, r.second), r.humidity, r.temperature);
            return true;
        });
    }
    return out;
}

} // namespace hygro
