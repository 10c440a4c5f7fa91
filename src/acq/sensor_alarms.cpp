#include "acq/sensor_alarms.h"

#include "acq/alarm_file.h"
#include "db/wifi_sensor_db.h"

#include <charconv>
#include <string>

namespace hygro {
namespace {

constexpr double kHumidityFloor = 0.0, kHumidityCeiling = 100.0;
constexpr double kTemperatureFloor = -40.0, kTemperatureCeiling = 80.0;

bool HasRow(CTable_WiFiSensorDB* table, int index) {
    return index >= 0 && index < table->GetRowCount();
}

// The six Dev columns of one time, named prefix + field + suffix.
SystemTime GetTime(CWiFiSensorDatabase& db, int index, const char* suffix) {
    CTable_WiFiSensorDB* dev = db.GetDevDB();
    auto field = [&](const char* name) {
        return static_cast<std::uint16_t>(
            CellValue<int>(dev, index, (std::string("Alarm") + name + suffix).c_str()));
    };
    SystemTime t;
    t.wYear = field("Year");
    t.wMonth = field("Month");
    t.wDay = field("Day");
    t.wHour = field("Hour");
    t.wMinute = field("Minute");
    t.wSecond = field("Second");
    return t;
}

void SetTime(CWiFiSensorDatabase& db, int index, const char* suffix, const SystemTime& t) {
    CTable_WiFiSensorDB* dev = db.GetDevDB();
    if (!HasRow(dev, index)) return;
    CRow_DB_WiFiSensor* row = dev->GetRow(index);
    auto field = [&](const char* name, std::uint16_t v) {
        row->SetValue(dev, std::string("Alarm") + name + suffix, static_cast<int>(v));
    };
    field("Year", t.wYear);
    field("Month", t.wMonth);
    field("Day", t.wDay);
    field("Hour", t.wHour);
    field("Minute", t.wMinute);
    field("Second", t.wSecond);
}

bool Within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

} // namespace

SensorLimits GetSensorLimits(CWiFiSensorDatabase& db, int index) {
    CTable_WiFiSensorDB* dev = db.GetDevDB();
    SensorLimits defaults;
    return {CellValue<double>(dev, index, "HMax", defaults.hMax),
            CellValue<double>(dev, index, "HMin", defaults.hMin),
            CellValue<double>(dev, index, "TMax", defaults.tMax),
            CellValue<double>(dev, index, "TMin", defaults.tMin)};
}

void SetSensorLimits(CWiFiSensorDatabase& db, int index, const SensorLimits& limits) {
    CTable_WiFiSensorDB* dev = db.GetDevDB();
    if (!HasRow(dev, index)) return;
    CRow_DB_WiFiSensor* row = dev->GetRow(index);
    row->SetValue(dev, "HMax", limits.hMax);
    row->SetValue(dev, "HMin", limits.hMin);
    row->SetValue(dev, "TMax", limits.tMax);
    row->SetValue(dev, "TMin", limits.tMin);
}

double ReadLimitText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Digits or a point must follow: from_chars would also take "inf" and "nan".
    if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0.0;
    double v = 0.0;
    const auto res =
        std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::general);
    if (res.ec != std::errc{}) return 0.0;
    return negative ? -v : v;
}

const char* LimitError(const SensorLimits& l) {
    if (!Within(l.hMax, kHumidityFloor, kHumidityCeiling)) return "Humidity's hight limit is error!";
    if (!Within(l.hMin, kHumidityFloor, kHumidityCeiling) || l.hMin > l.hMax)
        return "Humidity's low limit is error!";
    if (!Within(l.tMax, kTemperatureFloor, kTemperatureCeiling)) return "Temperature's hight limit is error!";
    if (!Within(l.tMin, kTemperatureFloor, kTemperatureCeiling) || l.tMin > l.tMax)
        return "Temperature's low limit is error!";
    return nullptr;
}

SystemTime GetSeenTime(CWiFiSensorDatabase& db, int index) {
    return GetTime(db, index, "2");
}
void SetSeenTime(CWiFiSensorDatabase& db, int index, const SystemTime& t) {
    SetTime(db, index, "2", t);
}
SystemTime GetClearTime(CWiFiSensorDatabase& db, int index) {
    return GetTime(db, index, "");
}
void SetClearTime(CWiFiSensorDatabase& db, int index, const SystemTime& t) {
    SetTime(db, index, "", t);
}

std::filesystem::path AlarmFilePath(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath,
                                    int index) {
    return dataPath / CellValue<std::string>(db.GetDevDB(), index, "Folder") / "Alarm.txt";
}

int CheckWiFiSensorAlarm(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index) {
    if (!HasRow(db.GetDevDB(), index)) return 0;
    return CheckWiFiSensorAlarm(AlarmFilePath(db, dataPath, index), GetSeenTime(db, index));
}

int ClearAlarm(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index) {
    if (!HasRow(db.GetDevDB(), index)) return 0;
    return ClearAlarm(AlarmFilePath(db, dataPath, index), GetClearTime(db, index));
}

int ApplyAlarmListOutcome(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index,
                          const AlarmListOutcome& outcome) {
    CTable_WiFiSensorDB* table = db.GetTableDB();
    if (!HasRow(db.GetDevDB(), index) || !HasRow(table, index)) return 0;
    if (outcome.newestListed.wYear != 0) {
        SetSeenTime(db, index, outcome.newestListed);
        if (outcome.cleared) {
            SetClearTime(db, index, outcome.newestListed);
            ClearAlarm(db, dataPath, index);
        }
    }
    const int state = CheckWiFiSensorAlarm(db, dataPath, index);
    table->GetRow(index)->SetValue(table, "Alarm", state);
    return state;
}

} // namespace hygro
