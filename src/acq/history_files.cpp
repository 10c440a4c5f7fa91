#include "acq/history_files.h"
#include "util/file_opt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hygro {

namespace {

namespace fs = std::filesystem;

constexpr double kHumidityLimit = 99.9;
constexpr double kTemperatureLimit = 80.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Offsets inside the hour file head and the average file.
constexpr std::size_t kHeadHumCount = 6;
constexpr std::size_t kHeadTemCount = 11;
constexpr std::size_t kHeadHumMean = 23;
constexpr std::size_t kHeadTemMean = 29;
constexpr std::size_t kHeadMeansEnd = 34; // the means end here; the CR LF is not needed
constexpr std::size_t kAvgHumMean = 6;
constexpr std::size_t kAvgTemMean = 12;
constexpr std::size_t kCountWidth = 4;
constexpr std::size_t kMeanWidth = 5;

// Written where a mean has to be shown but none exists: it is invalid for both
// quantities, so averages leave it out.
constexpr std::string_view kNoMean = "+99.9";


bool WriteAt(int fd, off_t offset, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-]digits[.digits] filling the whole field; no blanks, no "nan" or "inf".
std::optional<double> ParseDecimal(std::string_view s) {
    if (s.empty() || s.size() > 16) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::int64_t mantissa = 0;
    int intDigits = 0;
    int fracDigits = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++intDigits) mantissa = mantissa * 10 + (s[i] - '0');
    if (intDigits == 0) return std::nullopt;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i, ++fracDigits) mantissa = mantissa * 10 + (s[i] - '0');
        if (fracDigits == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    // Both operands are exact, so the quotient is the correctly rounded decimal value.
    double scale = 1.0;
    for (int k = 0; k < fracDigits; ++k) scale *= 10.0;
    const double value = static_cast<double>(mantissa) / scale;
    return negative ? -value : value;
}

// Field [offset, offset + width) of the first `available` bytes of data, or empty when
// the data ends before it.
std::string_view Field(const char* data, std::size_t available, std::size_t offset, std::size_t width) {
    if (offset + width > available) return {};
    return {data + offset, width};
}

int ParseCount(std::string_view s) {
    if (s.size() != kCountWidth) return 0;
    int n = 0;
    for (char c : s) {
        if (!IsDigit(c)) return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

void AppendCount(std::string& out, int count) {
    count = std::clamp(count, 0, kMaxHourCount);
    char digits[kCountWidth];
    for (std::size_t i = kCountWidth; i-- > 0; count /= 10) digits[i] = static_cast<char>('0' + count % 10);
    out.append(digits, kCountWidth);
}

// "%+05.1lf" in the "C" locale, held to five characters: magnitudes that would round
// to 100.0 or more become 99.9 with their sign, NaN becomes the "no mean" marker.
void AppendMean(std::string& out, double v) {
    if (std::isnan(v)) {
        out += kNoMean;
        return;
    }
    const char sign = std::signbit(v) ? '-' : '+';
    char digits[32];
    const auto res = std::to_chars(digits, digits + sizeof digits, std::fabs(v), std::chars_format::fixed, 1);
    std::string_view text(digits, res.ec == std::errc{} ? static_cast<std::size_t>(res.ptr - digits) : 0);
    if (std::isinf(v) || text.empty() || text.size() > kMeanWidth - 1) text = "99.9";
    out += sign;
    out.append(kMeanWidth - 1 - text.size(), '0');
    out += text;
}

void AppendTwoDigits(std::string& out, unsigned value) {
    value = std::min(value, 99U);
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

// Count and mean of one quantity in an hour head.
struct Running {
    int count = 0;
    std::optional<double> mean;
};

Running Update(Running r, double value, bool valid) {
    // A mean that cannot be read gives nothing to build on.
    if (!r.mean) r.count = 0;
    if (!valid) return r;
    if (r.count <= 0) return {1, value};
    const double mean = (r.count * *r.mean + value) / (r.count + 1);
    return {std::min(r.count + 1, kMaxHourCount), mean};
}

std::string HourHead(const Running& hum, const Running& tem) {
    std::string head;
    head.reserve(kHourHeadSize);
    head += "Count=";
    AppendCount(head, hum.count);
    head += ',';
    AppendCount(head, tem.count);
    head += "\r\nAverg=";
    AppendMean(head, hum.mean.value_or(kNaN));
    head += ',';
    AppendMean(head, tem.mean.value_or(kNaN));
    head += "\r\n";
    return head;
}

struct MeanPair {
    std::optional<double> hum;
    std::optional<double> tem;
};

MeanPair ReadMeans(const fs::path& file, std::size_t humOffset, std::size_t temOffset, std::size_t size) {
    UniqueFd fd = OpenRegular(file, O_RDONLY);
    if (!fd.ok()) return {};
    std::array<char, kHourHeadSize> buf{};
    const std::size_t got = ReadAt(fd.get(), 0, buf.data(), std::min(size, buf.size()));
    return {ParseDecimal(Field(buf.data(), got, humOffset, kMeanWidth)),
            ParseDecimal(Field(buf.data(), got, temOffset, kMeanWidth))};
}

class Averager {
  public:
    void Add(const MeanPair& m) {
        if (m.hum && IsValidHumidity(*m.hum)) {
            m_humSum += *m.hum;
            ++m_humCount;
        }
        if (m.tem && IsValidTemperature(*m.tem)) {
            m_temSum += *m.tem;
            ++m_temCount;
        }
    }

    void WriteTo(const fs::path& folder) const {
        std::string text = "Averg=";
        AppendMean(text, m_humCount ? m_humSum / m_humCount : 0.0);
        text += ',';
        AppendMean(text, m_temCount ? m_temSum / m_temCount : 0.0);
        UniqueFd fd = OpenRegular(folder / "Avg.cvs", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!fd.ok()) return;
        WriteAt(fd.get(), 0, text);
    }

  private:
    double m_humSum = 0.0;
    double m_temSum = 0.0;
    int m_humCount = 0;
    int m_temCount = 0;
};

// Average of the Avg.cvs files in the numbered subfolders first..last.
void SaveAvgOfSubfolders(const fs::path& folder, int first, int last) {
    Averager avg;
    for (int i = first; i <= last; ++i)
        avg.Add(ReadMeans(folder / std::to_string(i) / "Avg.cvs", kAvgHumMean, kAvgTemMean, kAvgFileSize));
    avg.WriteTo(folder);
}

} // namespace

bool IsValidHumidity(double h) { return !std::isnan(h) && h < kHumidityLimit; }

bool IsValidTemperature(double t) { return !std::isnan(t) && t < kTemperatureLimit; }

fs::path HourFilePath(const fs::path& sensorFolder, const SystemTime& t) {
    return sensorFolder / std::to_string(t.wYear) / std::to_string(t.wMonth) / std::to_string(t.wDay) /
           (std::to_string(t.wHour) + ".cvs");
}

bool ParseNormalisedReading(std::string_view reading, double& h, double& t) {
    // By field, not by position: the sensor number in front may have more than two digits.
    const std::size_t space = reading.find(' ');
    const std::size_t comma = space == std::string_view::npos ? space : reading.find(',', space + 1);
    std::string_view humText, temText;
    if (comma != std::string_view::npos) {
        humText = reading.substr(space + 1, comma - space - 1);
        temText = reading.substr(comma + 1);
        temText = temText.substr(0, std::min(temText.find_first_of("\r\n"), temText.size()));
    }
    const auto hum = ParseDecimal(humText);
    const auto tem = ParseDecimal(temText);
    h = hum.value_or(kNaN);
    t = tem.value_or(kNaN);
    return hum && tem;
}

bool SaveComRevData(const char* buf, std::uint32_t len, const fs::path& hourFile, std::uint16_t minute,
                    std::uint16_t second, double h, double t) {
    UniqueFd fd = OpenRegular(hourFile, O_RDWR);
    if (!fd.ok()) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return false;
    const auto length = static_cast<std::size_t>(st.st_size);

    Running hum{1, h};
    Running tem{1, t};
    if (length >= kHourMinHeadSize) {
        std::array<char, kHourHeadSize> head{};
        const std::size_t got = ReadAt(fd.get(), 0, head.data(), head.size());
        hum = Update({ParseCount(Field(head.data(), got, kHeadHumCount, kCountWidth)),
                      ParseDecimal(Field(head.data(), got, kHeadHumMean, kMeanWidth))},
                     h, IsValidHumidity(h));
        tem = Update({ParseCount(Field(head.data(), got, kHeadTemCount, kCountWidth)),
                      ParseDecimal(Field(head.data(), got, kHeadTemMean, kMeanWidth))},
                     t, IsValidTemperature(t));
    }
    std::string record;
    record.reserve(kHourRecordSize);
    AppendTwoDigits(record, minute);
    record += ':';
    AppendTwoDigits(record, second);
    record += ' ';
    const std::size_t copied = buf ? std::min<std::size_t>(len, kRecordReadingSize) : 0;
    if (copied > 0) record.append(buf, copied);
    record.append(kRecordReadingSize - copied, ' ');
    record += "\r\n";
    // A file without a head gets its first record right after the new head.
    const std::size_t end = length < kHourMinHeadSize ? kHourHeadSize : std::max(length, kHourHeadSize);
    // The record first, then the head that counts it. A write that fails (a full disk
    // fails one part-way) is taken back, so the file stays a head plus whole records: a
    // partial record would shift every later one.
    if (WriteAt(fd.get(), static_cast<off_t>(end), record) && WriteAt(fd.get(), 0, HourHead(hum, tem)))
        return true;
    [[maybe_unused]] const int restored = ::ftruncate(fd.get(), static_cast<off_t>(length));
    return false;
}

void SaveLastDayAvg(const fs::path& dayFolder) {
    Averager avg;
    for (int hour = 0; hour <= 23; ++hour)
        avg.Add(ReadMeans(dayFolder / (std::to_string(hour) + ".cvs"), kHeadHumMean, kHeadTemMean,
                          kHeadMeansEnd));
    avg.WriteTo(dayFolder);
}

void SaveLastMonthAvg(const fs::path& monthFolder) { SaveAvgOfSubfolders(monthFolder, 1, 31); }

void SaveLastYearAvg(const fs::path& yearFolder) { SaveAvgOfSubfolders(yearFolder, 1, 12); }

void CheckNeedSaveAvg(const fs::path& sensorFolder, std::uint16_t lastYear, std::uint16_t lastMonth,
                      std::uint16_t lastDay, std::uint16_t lastHour, std::uint16_t lastMinute,
                      std::uint16_t lastSecond, const SystemTime& poll) {
    // Zero marks a sensor that never stored a reading; a real reading at hour, minute
    // or second 0 falls under the same rule and starts no rollover either.
    if (lastYear == 0 || lastMonth == 0 || lastDay == 0 || lastHour == 0 || lastMinute == 0 || lastSecond == 0)
        return;
    const bool yearChanged = lastYear != poll.wYear;
    const bool monthChanged = yearChanged || lastMonth != poll.wMonth;
    const bool dayChanged = monthChanged || lastDay != poll.wDay;
    if (!dayChanged) return;

    const fs::path yearFolder = sensorFolder / std::to_string(lastYear);
    const fs::path monthFolder = yearFolder / std::to_string(lastMonth);
    SaveLastDayAvg(monthFolder / std::to_string(lastDay));
    if (monthChanged) SaveLastMonthAvg(monthFolder);
    if (yearChanged) SaveLastYearAvg(yearFolder);
}

} // namespace hygro
