#include "acq/alarm_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "acq/history_files.h"
#include "util/file_opt.h"
#include "util/kx_log.h"

namespace hygro {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeadPrefix = "Count=";
constexpr std::size_t kCountWidth = 5;
constexpr std::size_t kValueWidth = 5;
constexpr std::size_t kHumidityOffset = 20;
constexpr std::size_t kTemperatureOffset = 26;
// 'd' a digit, 's' a sign, anything else itself.
constexpr std::string_view kRecordPattern = "dddd-dd-dd dd:dd:dd sdd.d,sdd.d\r\n";
static_assert(kRecordPattern.size() == kAlarmRecordSize);
// A real file is at most 330013 bytes; of anything much larger only the tail (where
// the newest records are) is looked at, so a runaway file cannot exhaust memory.
constexpr std::size_t kMaxScanBytes = 4U << 20;


// Opens for reading and writing; a missing file is created (with its folders) when
// `create` is set. `created` tells whether that happened.
UniqueFd OpenForUpdate(const fs::path& path, bool create, bool& created) {
    created = false;
    UniqueFd fd = OpenRegular(path, O_RDWR);
    if (fd.ok() || errno != ENOENT || !create) return fd;
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    UniqueFd fresh(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0644));
    created = fresh.ok();
    return fresh;
}

std::size_t FileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::size_t>(st.st_size);
}

bool WriteAt(int fd, std::size_t offset, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly the shape the writer produces; nothing else counts as a record.
bool IsRecord(const char* p) {
    for (std::size_t i = 0; i < kAlarmRecordSize; ++i) {
        const char want = kRecordPattern[i];
        const char c = p[i];
        if (want == 'd' ? !IsDigit(c) : want == 's' ? (c != '+' && c != '-') : c != want) return false;
    }
    return true;
}

unsigned Digits(const char* p, std::size_t n) {
    unsigned v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v * 10 + static_cast<unsigned>(p[i] - '0');
    return v;
}

// Only on text IsRecord accepted.
SystemTime RecordTime(const char* p) {
    SystemTime t;
    t.wYear = static_cast<std::uint16_t>(Digits(p, 4));
    t.wMonth = static_cast<std::uint16_t>(Digits(p + 5, 2));
    t.wDay = static_cast<std::uint16_t>(Digits(p + 8, 2));
    t.wHour = static_cast<std::uint16_t>(Digits(p + 11, 2));
    t.wMinute = static_cast<std::uint16_t>(Digits(p + 14, 2));
    t.wSecond = static_cast<std::uint16_t>(Digits(p + 17, 2));
    return t;
}

double RecordValue(const char* p) {
    // "sdd.d": both operands exact, so the quotient is the correctly rounded decimal.
    const double v = static_cast<double>(Digits(p + 1, 2) * 10 + Digits(p + 4, 1)) / 10.0;
    return p[0] == '-' ? -v : v;
}

int CompareTimes(const SystemTime& a, const SystemTime& b) {
    return DataTimeCompare(a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond, b.wYear, b.wMonth, b.wDay,
                           b.wHour, b.wMinute, b.wSecond);
}

void AppendNumber(std::string& out, unsigned value, std::size_t width, unsigned max) {
    value = std::min(value, max);
    char digits[8];
    for (std::size_t i = width; i-- > 0; value /= 10) digits[i] = static_cast<char>('0' + value % 10);
    out.append(digits, width);
}

// "%+05.1lf" in the "C" locale, held to five characters.
void AppendValue(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "+99.9";
        return;
    }
    out += std::signbit(v) ? '-' : '+';
    char digits[32];
    const auto res = std::to_chars(digits, digits + sizeof digits, std::fabs(v), std::chars_format::fixed, 1);
    std::string_view text(digits, res.ec == std::errc{} ? static_cast<std::size_t>(res.ptr - digits) : 0);
    if (!std::isfinite(v) || text.empty() || text.size() > kValueWidth - 1) text = "99.9";
    out.append(kValueWidth - 1 - text.size(), '0');
    out += text;
}

std::string Head(std::size_t count) {
    std::string head(kHeadPrefix);
    AppendNumber(head, static_cast<unsigned>(std::min<std::size_t>(count, kMaxAlarmRecords)), kCountWidth,
                 kMaxAlarmRecords);
    head += "\r\n";
    return head;
}

std::string Record(const SystemTime& t, double h, double tem) {
    std::string r;
    r.reserve(kAlarmRecordSize);
    AppendNumber(r, t.wYear, 4, 9999);
    r += '-';
    AppendNumber(r, t.wMonth, 2, 99);
    r += '-';
    AppendNumber(r, t.wDay, 2, 99);
    r += ' ';
    AppendNumber(r, t.wHour, 2, 99);
    r += ':';
    AppendNumber(r, t.wMinute, 2, 99);
    r += ':';
    AppendNumber(r, t.wSecond, 2, 99);
    r += ' ';
    AppendValue(r, h);
    r += ',';
    AppendValue(r, tem);
    r += "\r\n";
    return r;
}

// The record count when the file is exactly what the writer leaves behind: a correct
// head whose count matches the file size. Record contents are not looked at.
std::optional<std::size_t> IntactCount(int fd, std::size_t size) {
    char head[kAlarmHeadSize];
    if (size < kAlarmHeadSize || ReadAt(fd, 0, head, kAlarmHeadSize) != kAlarmHeadSize) return std::nullopt;
    if (std::string_view(head, kHeadPrefix.size()) != kHeadPrefix || head[11] != '\r' || head[12] != '\n')
        return std::nullopt;
    for (std::size_t i = 0; i < kCountWidth; ++i)
        if (!IsDigit(head[kHeadPrefix.size() + i])) return std::nullopt;
    const std::size_t count = Digits(head + kHeadPrefix.size(), kCountWidth);
    if (count > static_cast<std::size_t>(kMaxAlarmRecords) || size != kAlarmHeadSize + count * kAlarmRecordSize)
        return std::nullopt;
    return count;
}

// The whole file, or its last kMaxScanBytes.
std::string ReadTail(int fd, std::size_t size) {
    const std::size_t start = size > kMaxScanBytes ? size - kMaxScanBytes : 0;
    std::string data(size - start, '\0');
    data.resize(ReadAt(fd, start, data.data(), data.size()));
    return data;
}

// Every well-formed record in data, in file order. After a position that holds none
// the scan moves on by one byte, so a torn record or stray bytes cost only themselves.
std::vector<std::string_view> FindRecords(std::string_view data) {
    std::vector<std::string_view> records;
    std::size_t pos = 0;
    while (pos + kAlarmRecordSize <= data.size()) {
        if (IsRecord(data.data() + pos)) {
            records.push_back(data.substr(pos, kAlarmRecordSize));
            pos += kAlarmRecordSize;
        } else {
            ++pos;
        }
    }
    return records;
}

// Replaces the file's content in place: head, records, and nothing after them.
bool Rewrite(int fd, const std::vector<std::string_view>& records) {
    std::string content = Head(records.size());
    content.reserve(kAlarmHeadSize + records.size() * kAlarmRecordSize);
    for (std::string_view r : records) content += r;
    return WriteAt(fd, 0, content) && ::ftruncate(fd, static_cast<off_t>(content.size())) == 0;
}

// A file that is not what the writer leaves behind is worth a line in the log: someone
// or something else wrote to it.
void LogDamaged(const fs::path& path, const char* action, std::size_t records) {
    AddLogInfo("Alarm file damaged, " + std::string(action) + " " + std::to_string(records) +
               " records: " + path.string());
}

AlarmAppendResult AppendToIntact(int fd, std::size_t count, const std::string& record) {
    AlarmAppendResult result;
    if (count < static_cast<std::size_t>(kMaxAlarmRecords)) {
        // Record first: if the head is not updated the size no longer matches, and the
        // next access takes the record from the body anyway.
        result.written = WriteAt(fd, kAlarmHeadSize + count * kAlarmRecordSize, record) &&
                         WriteAt(fd, 0, Head(count + 1));
        return result;
    }
    // Full: every record but the oldest moves one slot to the front, the new one takes
    // the last slot.
    constexpr std::size_t kKept = (kMaxAlarmRecords - 1) * kAlarmRecordSize;
    std::string kept(kKept, '\0');
    if (ReadAt(fd, kAlarmHeadSize + kAlarmRecordSize, kept.data(), kKept) != kKept) return result;
    if (IsRecord(kept.data())) result.newSeenTime = RecordTime(kept.data());
    result.written = WriteAt(fd, kAlarmHeadSize, kept) && WriteAt(fd, kAlarmHeadSize + kKept, record);
    return result;
}

} // namespace

LimitBreaches CheckSensorLimits(double h, double t, double hMax, double hMin, double tMax, double tMin) {
    LimitBreaches b;
    if (IsValidHumidity(h)) {
        b.humidityHigh = h > hMax;
        b.humidityLow = h < hMin;
    }
    if (IsValidTemperature(t)) {
        b.temperatureHigh = t > tMax;
        b.temperatureLow = t < tMin;
    }
    return b;
}

AlarmAppendResult AddSensorAlarmDataToFile(const fs::path& alarmFile, const SystemTime& poll, double h, double t) {
    bool created = false;
    UniqueFd fd = OpenForUpdate(alarmFile, true, created);
    if (!fd.ok()) {
        AddLogInfo("Alarm file can't open: " + alarmFile.string());
        return {};
    }
    const std::string record = Record(poll, h, t);
    const std::size_t size = FileSize(fd.get());
    if (const auto count = IntactCount(fd.get(), size)) return AppendToIntact(fd.get(), *count, record);

    // New or damaged: rebuild from the records that can be found, plus the new one.
    AlarmAppendResult result;
    const std::string data = ReadTail(fd.get(), size);
    std::vector<std::string_view> records = FindRecords(data);
    records.push_back(record);
    if (records.size() > static_cast<std::size_t>(kMaxAlarmRecords)) {
        records.erase(records.begin(), records.end() - kMaxAlarmRecords);
        result.newSeenTime = RecordTime(records.front().data());
    }
    result.written = Rewrite(fd.get(), records);
    if (!created) LogDamaged(alarmFile, "rewritten with", records.size());
    return result;
}

int CheckWiFiSensorAlarm(const fs::path& alarmFile, const SystemTime& seen) {
    UniqueFd fd = OpenRegular(alarmFile, O_RDONLY);
    if (!fd.ok()) return 0;
    const std::size_t size = FileSize(fd.get());
    std::optional<SystemTime> newest;
    if (const auto count = IntactCount(fd.get(), size)) {
        if (*count == 0) return 0;
        char last[kAlarmRecordSize];
        if (ReadAt(fd.get(), size - kAlarmRecordSize, last, kAlarmRecordSize) == kAlarmRecordSize &&
            IsRecord(last))
            newest = RecordTime(last);
    }
    if (!newest) {
        const std::string data = ReadTail(fd.get(), size);
        const auto records = FindRecords(data);
        LogDamaged(alarmFile, "state from", records.size());
        if (records.empty()) return 0;
        newest = RecordTime(records.back().data());
    }
    return CompareTimes(*newest, seen) > 0 ? 2 : 1;
}

int ClearAlarm(const fs::path& alarmFile, const SystemTime& clearTime) {
    bool created = false;
    UniqueFd fd = OpenForUpdate(alarmFile, true, created);
    if (!fd.ok()) return 0;
    if (created) {
        WriteAt(fd.get(), 0, Head(0));
        return 0;
    }
    const std::size_t size = FileSize(fd.get());
    const bool intact = IntactCount(fd.get(), size).has_value();
    const std::string data = ReadTail(fd.get(), size);
    std::vector<std::string_view> records = FindRecords(data);
    if (!intact) LogDamaged(alarmFile, "cleared from", records.size());
    const auto firstLater = std::find_if(records.begin(), records.end(), [&](std::string_view r) {
        return CompareTimes(RecordTime(r.data()), clearTime) > 0;
    });
    records.erase(records.begin(), firstLater);
    if (records.size() > static_cast<std::size_t>(kMaxAlarmRecords))
        records.erase(records.begin(), records.end() - kMaxAlarmRecords);
    Rewrite(fd.get(), records);
    return records.empty() ? 0 : 1;
}

std::vector<AlarmRecord> ReadAlarmRecords(const fs::path& alarmFile) {
    std::vector<AlarmRecord> out;
    UniqueFd fd = OpenRegular(alarmFile, O_RDONLY);
    if (!fd.ok()) return out;
    const std::size_t size = FileSize(fd.get());
    const std::string data = ReadTail(fd.get(), size);
    const auto records = FindRecords(data);
    if (!IntactCount(fd.get(), size)) LogDamaged(alarmFile, "listing", records.size());
    for (std::string_view r : records)
        out.push_back({RecordTime(r.data()), RecordValue(r.data() + kHumidityOffset),
                       RecordValue(r.data() + kTemperatureOffset)});
    return out;
}

} // namespace hygro
