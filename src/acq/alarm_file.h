// Per-sensor alarm limits and the alarm file "Alarm.txt": a 13-byte head
// "Count=%05d\r\n" followed by fixed 33-byte records, oldest first,
// "%04d-%02d-%02d %02d:%02d:%02d %+05.1lf,%+05.1lf\r\n" (poll time, humidity,
// temperature). Numbers are written and read independently of the locale.
//
// Nothing here locks. Appending and clearing rewrite the same file, so the caller must
// serialise every call on one sensor's file (one lock around all of them is enough);
// the state check only reads, but it should run under the same lock to never see a
// half-written file.
//
// A damaged file (wrong head, a count that does not match the records, a torn record,
// garbage) is handled by trusting only the complete, well-formed records actually
// present: the state check looks at the newest of them, an append or a clearing writes
// them back with a correct head and drops what is not a record. Nothing is ever read
// or written outside the file, and a well-formed record is never dropped except by the
// 10000-record limit or a clearing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "util/local_time.h"

namespace hygro {

inline constexpr std::size_t kAlarmHeadSize = 13;
inline constexpr std::size_t kAlarmRecordSize = 33;
inline constexpr int kMaxAlarmRecords = 10000;

// Which limits a reading broke; a value equal to its limit breaks none.
struct LimitBreaches {
    bool humidityHigh = false;
    bool humidityLow = false;
    bool temperatureHigh = false;
    bool temperatureLow = false;

    bool Any() const { return humidityHigh || humidityLow || temperatureHigh || temperatureLow; }
    bool operator==(const LimitBreaches&) const = default;
};

// Only valid values (IsValidHumidity / IsValidTemperature) take part.
LimitBreaches CheckSensorLimits(double h, double t, double hMax, double hMin, double tMax, double tMin);

// Only the date and time fields of `time` are used; values are as measured.
struct AlarmRecord {
    SystemTime time;
    double humidity = 0.0;
    double temperature = 0.0;
};

struct AlarmAppendResult {
    bool written = false;
    // Set when the file was full and its oldest record was dropped: the time of the
    // record that is now the oldest, which becomes the sensor's seen time.
    std::optional<SystemTime> newSeenTime;
};

// Appends one record (creating the folders and the file when missing). The record is
// always 33 bytes: a field that would not fit its width is held to it (a value of
// magnitude 99.95 or more, or NaN, is written as +/-99.9 / +99.9, an invalid reading
// either way; a year above 9999 as 9999, other time fields above 99 as 99). The mail
// request is the caller's: it follows whether or not the record could be written.
AlarmAppendResult AddSensorAlarmDataToFile(const std::filesystem::path& alarmFile, const SystemTime& poll,
                                           double h, double t);

// 0: no record on file (or the file cannot be read); 1: the newest record is not later
// than the seen time; 2: it is later.
int CheckWiFiSensorAlarm(const std::filesystem::path& alarmFile, const SystemTime& seen);

// Removes the records up to the clear time: from the first record later than it, that
// record and all after it are kept (so records appended since the list was shown
// survive). A missing file is created empty. 1 when records remain, else 0 (also when
// the file cannot be opened for reading and writing; it is then left as it is).
int ClearAlarm(const std::filesystem::path& alarmFile, const SystemTime& clearTime);

// The well-formed records on file, oldest first (empty when it cannot be read).
std::vector<AlarmRecord> ReadAlarmRecords(const std::filesystem::path& alarmFile);

} // namespace hygro
