// The per-sensor history tree: one fixed-width hour file per clock hour, whose head
// keeps the running count and mean of the hour, and one average file per day, month
// and year. The charts read the same files, so every byte position here is part of
// the format, and every number is written and read independently of the locale.
//
//   <sensor folder>/<year>/<month>/<day>/<hour>.cvs   hour file
//   <sensor folder>/<year>/<month>/<day>/Avg.cvs      day average
//   <sensor folder>/<year>/<month>/Avg.cvs            month average
//   <sensor folder>/<year>/Avg.cvs                    year average
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "util/local_time.h"

namespace hygro {

// Hour file head: "Count=%04d,%04d\r\nAverg=%+05.1lf,%+05.1lf\r\n".
inline constexpr std::size_t kHourHeadSize = 36;
// One record: "%02d:%02d " + 14 characters of the reading + "\r\n".
inline constexpr std::size_t kHourRecordSize = 22;
inline constexpr std::size_t kRecordReadingSize = 14;
// A shorter hour file has no head yet (it may hold just the byte-order mark).
inline constexpr std::size_t kHourMinHeadSize = 31;
// Average file: "Averg=%+05.1lf,%+05.1lf", no line end.
inline constexpr std::size_t kAvgFileSize = 17;
inline constexpr int kMaxHourCount = 9999;

bool IsValidHumidity(double h);
bool IsValidTemperature(double t);

// sensorFolder/year/month/day/hour.cvs, decimal without leading zeros.
std::filesystem::path HourFilePath(const std::filesystem::path& sensorFolder, const SystemTime& t);

// Humidity from characters 3-7 and temperature from characters 9-13 of a normalised
// reading ("03 +45.6,-05.2\r\n"). Each value that is not a plain signed decimal number
// comes back as NaN; true only when both were read.
bool ParseNormalisedReading(std::string_view reading, double& h, double& t);

// Appends one record to an existing hour file and brings its head up to date. Does
// nothing when the file cannot be opened; the caller creates it beforehand. len is
// not used: a record always takes 14 characters of buf (padded with blanks when buf
// is null or shorter, by len). False when the reading could not be stored (the file
// is then as it was).
bool SaveComRevData(const char* buf, std::uint32_t len, const std::filesystem::path& hourFile,
                    std::uint16_t minute, std::uint16_t second, double h, double t);

// Rewrite folder/Avg.cvs from the heads of the hour files 0-23, the day averages 1-31
// or the month averages 1-12 below the folder. Nothing happens when Avg.cvs cannot be
// created (for instance the folder is missing).
void SaveLastDayAvg(const std::filesystem::path& dayFolder);
void SaveLastMonthAvg(const std::filesystem::path& monthFolder);
void SaveLastYearAvg(const std::filesystem::path& yearFolder);

// Called after a reading is stored at poll time `poll`, with the time of the sensor's
// previous stored reading: when that reading lies in another day, month or year, the
// averages of its day, then month, then year are written, each level reading the one
// just written below it. A stored time with any field 0 counts as "none".
void CheckNeedSaveAvg(const std::filesystem::path& sensorFolder, std::uint16_t lastYear,
                      std::uint16_t lastMonth, std::uint16_t lastDay, std::uint16_t lastHour,
                      std::uint16_t lastMinute, std::uint16_t lastSecond, const SystemTime& poll);

} // namespace hygro
