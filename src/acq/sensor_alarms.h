// One sensor's alarm limits and alarm state as the device tables hold them, and what the
// operator's visit to the alarm list does to them.
//
// Every function expects the caller to hold the database lock. The receive-check thread
// appends alarm records with that lock held, so holding it here also keeps a clearing
// from overlapping an append on the same file.
#pragma once

#include <filesystem>
#include <string_view>

#include "util/local_time.h"

namespace hygro {

class CWiFiSensorDatabase;

struct SensorLimits {
    double hMax = 100.0;
    double hMin = 0.0;
    double tMax = 80.0;
    double tMin = -40.0;
    bool operator==(const SensorLimits&) const = default;
};

// Limits of sensor index (the defaults above for an index without a Dev row).
SensorLimits GetSensorLimits(CWiFiSensorDatabase& db, int index);
void SetSensorLimits(CWiFiSensorDatabase& db, int index, const SensorLimits& limits);

// A limit as typed: the leading decimal number of the text (spaces before it allowed),
// 0 when the text does not start with one.
double ReadLimitText(std::string_view text);
// Null when the limits can be stored; otherwise the message of the first field, in the
// order humidity high, humidity low, temperature high, temperature low, that is out of
// its range (humidity 0..100, temperature -40..80) or, for a low limit, above its high.
const char* LimitError(const SensorLimits& limits);

// Seen time ("AlarmYear2".."AlarmSecond2"): records up to it count as acknowledged.
SystemTime GetSeenTime(CWiFiSensorDatabase& db, int index);
void SetSeenTime(CWiFiSensorDatabase& db, int index, const SystemTime& t);
// Clear time ("AlarmYear".."AlarmSecond"): records up to it were removed by a clearing.
SystemTime GetClearTime(CWiFiSensorDatabase& db, int index);
void SetClearTime(CWiFiSensorDatabase& db, int index, const SystemTime& t);

// dataPath / Dev "Folder" / "Alarm.txt".
std::filesystem::path AlarmFilePath(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index);

// 0, 1 or 2 from the sensor's alarm file and its seen time (0 for an unknown index).
int CheckWiFiSensorAlarm(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index);
// Removes the sensor's records up to its clear time; 1 when records remain.
int ClearAlarm(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index);

// How the operator left the alarm list: the time of the newest record it listed (year 0
// when it listed none) and whether "Clear Alarm" was pressed.
struct AlarmListOutcome {
    SystemTime newestListed;
    bool cleared = false;
};

// Acknowledges (seen time := newest listed) or clears up to the newest listed record,
// then stores the re-evaluated state in Table "Alarm" and returns it. Records newer
// than the list survive a clearing and keep the state at 2.
int ApplyAlarmListOutcome(CWiFiSensorDatabase& db, const std::filesystem::path& dataPath, int index,
                          const AlarmListOutcome& outcome);

} // namespace hygro
