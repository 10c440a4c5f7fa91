#include "map/map_files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include "util/file_opt.h"
#include "util/text.h"

namespace hygro {

namespace {

// Operator messages, one per step that can fail.
constexpr const char* kPackOpenSource = "Could not open file to read2";
constexpr const char* kPackMapSource = "Could not create file mapping object";
constexpr const char* kPackViewSource = "Could not map view of file3";
constexpr const char* kPackOpenTarget = "Could not open file to write";
constexpr const char* kPackMapTarget = "Could not create file mapping object for write1";
constexpr const char* kPackViewTarget = "Could not map view of file4";

constexpr const char* kUnpackOpen = "Could not open file to read3";
constexpr const char* kUnpackMap = "Could not create file mapping object";
constexpr const char* kUnpackView = "Could not map view of file5";
constexpr const char* kUnpackOutView = "Could not map view of file6";

constexpr const char* kCreateOpenSettings = "Could not open file to read1";
constexpr const char* kCreateViewSettings = "Could not map view of file1";
constexpr const char* kCreateOpenTarget = "Could not open file to write";
constexpr const char* kCreateMapTarget = "Could not create file mapping object for write2";
constexpr const char* kCreateViewTarget = "Could not map view of file2";

constexpr const char* kReadOpen = "Could not open file to read4";
constexpr const char* kReadMap = "Could not create file mapping object";
constexpr const char* kReadView = "Could not map view of file7";
constexpr const char* kReadPictureMap = "Could not create file mapping object for write3";
constexpr const char* kReadPictureView = "Could not map view of file8";
constexpr const char* kReadSettingsMap = "Could not create file mapping object for write4";
constexpr const char* kReadSettingsView = "Could not map view of file9";

// A list longer than any station keeps; bounds what a hostile "Rcount" can cost.
constexpr int kMaxHistorySensors = 10000;
constexpr std::size_t kMaxNameBytes = 99;

using Bytes = std::vector<unsigned char>;

std::uint64_t Align4(std::uint64_t x) { return (x + 3) & ~std::uint64_t{3}; }

std::uint32_t GetU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutBlock(std::string& out, const Bytes& block) {
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
    out.append(static_cast<std::size_t>(Align4(block.size()) - block.size()), '\0');
}

// A regular file opened for reading, with positioned reads that never go past its end.
class InputFile {
  public:
    bool Open(const std::filesystem::path& path) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) return false;
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        m_size = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    ~InputFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t Size() const { return m_size; }

    // Exactly n bytes at offset, or false.
    bool ReadAt(std::uint64_t offset, std::size_t n, unsigned char* out) const {
        if (offset > m_size || n > m_size - offset) return false;
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }
    bool ReadAt(std::uint64_t offset, std::size_t n, Bytes& out) const {
        out.resize(n);
        return ReadAt(offset, n, out.data());
    }

  private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

enum class ZResult { Ok, NoMemory, Failed };

ZResult Compress(const unsigned char* data, std::size_t size, Bytes& out) {
    uLongf len = compressBound(static_cast<uLong>(size));
    try {
        out.resize(len);
    } catch (const std::bad_alloc&) {
        return ZResult::NoMemory;
    }
    const int rc = compress2(out.data(), &len, data, static_cast<uLong>(size), Z_DEFAULT_COMPRESSION);
    if (rc == Z_MEM_ERROR) return ZResult::NoMemory;
    if (rc != Z_OK) return ZResult::Failed;
    out.resize(len);
    return ZResult::Ok;
}

// The stream must decode to exactly `size` bytes.
ZResult Uncompress(const Bytes& stream, std::uint32_t size, Bytes& out) {
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return ZResult::NoMemory;
    }
    uLongf len = size;
    uLong srcLen = static_cast<uLong>(stream.size());
    const int rc = uncompress2(out.data(), &len, stream.data(), &srcLen);
    if (rc == Z_MEM_ERROR) return ZResult::NoMemory;
    if (rc != Z_OK || len != size) return ZResult::Failed;
    return ZResult::Ok;
}

std::u16string Utf16FromLeBytes(const Bytes& bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return text;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

// Decimal integer the way the settings values are written: leading blanks, optional sign,
// digits up to anything else; 0 when there are none; saturating.
int ToInt(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    long long v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        v = v * 10 + (s[i] - u'0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-v);
    return static_cast<int>(std::min<long long>(v, INT_MAX));
}

// Decimal fraction, independent of the process locale; 0 when nothing parses, and for
// anything that is not a finite number.
double ToDouble(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    std::string ascii;
    if (i < s.size() && s[i] == u'+') ++i;
    for (; i < s.size() && s[i] < 0x80 && ascii.size() < 64; ++i) ascii.push_back(static_cast<char>(s[i]));
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
    (void)ptr;
    if (ec != std::errc{}) return 0.0;
    if (!(v == v) || v == std::numeric_limits<double>::infinity() || v == -std::numeric_limits<double>::infinity())
        return 0.0;
    return v;
}

std::u16string Lookup(std::u16string_view text, std::u16string_view section, std::u16string_view key) {
    std::u16string value;
    GetValueFromIniBuf(text, section, key, value);
    return value;
}

} // namespace

std::uint32_t Mem4Align(std::uint32_t x) { return (x + 3u) & ~3u; }

std::string PmqFile(const std::filesystem::path& source, const std::filesystem::path& target) {
    InputFile in;
    if (!in.Open(source)) return kPackOpenSource;
    if (in.Size() > kMaxUnpackedSize) return kPackMapSource;
    Bytes content;
    try {
        if (!in.ReadAt(0, static_cast<std::size_t>(in.Size()), content)) return kPackViewSource;
    } catch (const std::bad_alloc&) {
        return kPackMapSource;
    }

    Bytes stream;
    switch (Compress(content.data(), content.size(), stream)) {
    case ZResult::Ok: break;
    case ZResult::NoMemory: return kPackMapTarget;
    case ZResult::Failed: return kPackViewTarget;
    }
    std::string out;
    try {
        out.reserve(8 + static_cast<std::size_t>(Align4(stream.size())));
        PutU32(out, static_cast<std::uint32_t>(content.size()));
        PutU32(out, static_cast<std::uint32_t>(stream.size()));
        PutBlock(out, stream);
    } catch (const std::bad_alloc&) {
        return kPackMapTarget;
    }
    if (!WriteFileAtomically(target, out)) return kPackOpenTarget;
    return {};
}

UnpackResult UnpackFile(const std::filesystem::path& packed) {
    UnpackResult result;
    InputFile in;
    if (!in.Open(packed)) {
        result.error = kUnpackOpen;
        return result;
    }
    unsigned char header[8];
    if (!in.ReadAt(0, sizeof header, header)) {
        result.error = kUnpackMap;
        return result;
    }
    const std::uint32_t s = GetU32(header);
    const std::uint32_t c = GetU32(header + 4);
    if (s == 0) return result;
    if (c > in.Size() - 8) {
        result.error = kUnpackView;
        return result;
    }
    if (s > kMaxUnpackedSize) {
        result.error = "Could not create file mapping object for write2|" + std::to_string(s);
        return result;
    }
    Bytes stream;
    try {
        if (!in.ReadAt(8, c, stream)) {
            result.error = kUnpackView;
            return result;
        }
    } catch (const std::bad_alloc&) {
        result.error = kUnpackView;
        return result;
    }
    Bytes content;
    switch (Uncompress(stream, s, content)) {
    case ZResult::Ok: result.bytes = std::move(content); break;
    case ZResult::NoMemory: result.error = "Could not create file mapping object for write2|" + std::to_string(s); break;
    case ZResult::Failed: result.error = kUnpackOutView; break;
    }
    return result;
}

std::filesystem::path MapFileTarget(const std::filesystem::path& chosen) {
    const std::string name = chosen.filename().string();
    if (name.size() > 3) {
        const std::string_view tail(name.data() + name.size() - 3, 3);
        auto lower = [](char ch) { return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch); };
        if (lower(tail[0]) == 's' && lower(tail[1]) == 'd' && lower(tail[2]) == 'z') return chosen;
    }
    std::filesystem::path target = chosen;
    target += ".sdz";
    return target;
}

std::string CreateMapFile(const std::filesystem::path& settingsFile, std::span<const unsigned char> picture,
                          const std::filesystem::path& target) {
    InputFile in;
    if (!in.Open(settingsFile)) return kCreateOpenSettings;
    if (in.Size() > kMaxUnpackedSize)
        return "[Could not create file mapping object for write1|" + std::to_string(EFBIG) + "]";
    Bytes settings;
    try {
        if (!in.ReadAt(0, static_cast<std::size_t>(in.Size()), settings)) return kCreateViewSettings;
    } catch (const std::bad_alloc&) {
        return "[Could not create file mapping object for write1|" + std::to_string(ENOMEM) + "]";
    }
    if (picture.size() > kMaxUnpackedSize) return kCreateMapTarget;

    Bytes block1;
    Bytes block2;
    for (const ZResult rc : {Compress(settings.data(), settings.size(), block1),
                             Compress(picture.data(), picture.size(), block2)}) {
        if (rc == ZResult::NoMemory) return kCreateMapTarget;
        if (rc == ZResult::Failed) return kCreateViewTarget;
    }
    std::string out;
    try {
        out.reserve(16 + static_cast<std::size_t>(Align4(block1.size()) + Align4(block2.size())));
        PutU32(out, static_cast<std::uint32_t>(settings.size()));
        PutU32(out, static_cast<std::uint32_t>(block1.size()));
        PutBlock(out, block1);
        PutU32(out, static_cast<std::uint32_t>(picture.size()));
        PutU32(out, static_cast<std::uint32_t>(block2.size()));
        PutBlock(out, block2);
    } catch (const std::bad_alloc&) {
        return kCreateMapTarget;
    }
    if (!WriteFileAtomically(target, out)) return kCreateOpenTarget;
    return {};
}

std::optional<MapFileContent> ReadMapFile(const std::filesystem::path& mapFile, std::string& error) {
    auto fail = [&error](std::string message) -> std::optional<MapFileContent> {
        error = std::move(message);
        return std::nullopt;
    };
    try {
        InputFile in;
        if (!in.Open(mapFile)) return fail(kReadOpen);
        const std::uint64_t size = in.Size();
        unsigned char header[8];
        if (!in.ReadAt(0, sizeof header, header)) return fail(kReadMap);
        const std::uint32_t s1 = GetU32(header);
        const std::uint32_t c1 = GetU32(header + 4);
        if (c1 > size - 8) return fail(kReadView);
        if (s1 > kMaxUnpackedSize) return fail(kReadSettingsMap);

        MapFileContent content;
        if (s1 > 0) {
            Bytes stream;
            if (!in.ReadAt(8, c1, stream)) return fail(kReadView);
            Bytes settings;
            switch (Uncompress(stream, s1, settings)) {
            case ZResult::Ok: break;
            case ZResult::NoMemory: return fail(kReadSettingsMap);
            case ZResult::Failed: return fail(kReadSettingsView);
            }
            ParseSensorList(Utf16FromLeBytes(settings), content);
        }

        const std::uint64_t at2 = 8 + Align4(c1);
        if (at2 > size || size - at2 < 8 || !in.ReadAt(at2, sizeof header, header)) return fail(kReadView);
        const std::uint32_t s2 = GetU32(header);
        const std::uint32_t c2 = GetU32(header + 4);
        if (c2 > size - at2 - 8) return fail(kReadView);
        if (s2 == 0) return content;
        if (s2 > kMaxUnpackedSize) return fail(kReadPictureMap);
        Bytes stream;
        if (!in.ReadAt(at2 + 8, c2, stream)) return fail(kReadView);
        switch (Uncompress(stream, s2, content.picture)) {
        case ZResult::Ok: break;
        case ZResult::NoMemory: return fail(kReadPictureMap);
        case ZResult::Failed: return fail(kReadPictureView);
        }
        return content;
    } catch (const std::bad_alloc&) {
        return fail(kReadMap);
    }
}

void ParseSensorList(std::u16string_view settingsText, MapFileContent& out) {
    std::u16string rcount;
    if (!GetValueFromIniBuf(settingsText, u"LSensor", u"Rcount", rcount)) return;

    MapFileContent parsed;
    parsed.hasSensorList = true;
    parsed.mapWidth = ToInt(Lookup(settingsText, u"Other", u"PWidth"));
    parsed.left = ToInt(Lookup(settingsText, u"Pos", u"left"));
    parsed.top = ToInt(Lookup(settingsText, u"Pos", u"top"));
    parsed.width = ToInt(Lookup(settingsText, u"Pos", u"width"));
    parsed.height = ToInt(Lookup(settingsText, u"Pos", u"height"));

    // The count is only a claim: the list ends at the first section without a name.
    const int count = std::min(ToInt(rcount), kMaxHistorySensors);
    for (int k = 1; k <= count; ++k) {
        const std::u16string section = ToUtf16(std::to_string(k));
        std::u16string name;
        if (!GetValueFromIniBuf(settingsText, section, u"name", name)) break;
        HistorySensor sensor;
        sensor.name = TruncateUtf8(ToUtf8(name), kMaxNameBytes);
        sensor.x = ToDouble(Lookup(settingsText, section, u"posx"));
        sensor.y = ToDouble(Lookup(settingsText, section, u"posy"));
        sensor.r = ToInt(Lookup(settingsText, section, u"colorR"));
        sensor.g = ToInt(Lookup(settingsText, section, u"colorG"));
        sensor.b = ToInt(Lookup(settingsText, section, u"colorB"));
        parsed.sensors.push_back(std::move(sensor));
    }

    out.hasSensorList = true;
    out.mapWidth = parsed.mapWidth;
    out.left = parsed.left;
    out.top = parsed.top;
    out.width = parsed.width;
    out.height = parsed.height;
    out.sensors = std::move(parsed.sensors);
}

bool GetValueFromIniBuf(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                        std::u16string& result) {
    const std::size_t n = text.size();
    enum class State { Section, Keys } state = State::Section;
    for (std::size_t i = 1; i < n; ++i) {
        if (state == State::Section) {
            if (section.size() + 1 <= n - i && text.substr(i, section.size()) == section && text[i - 1] == u'[' &&
                text[i + section.size()] == u']') {
                state = State::Keys;
                i += section.size(); // resume after the "]"
            }
            continue;
        }
        if (text[i] == u'[') return false;
        if (key.size() + 1 <= n - i && text.substr(i, key.size()) == key && text[i + key.size()] == u'=') {
            const std::size_t start = i + key.size() + 1;
            std::size_t end = start;
            while (end < n && text[end] != u'\r' && text[end] != u'[') ++end;
            result.assign(text.substr(start, end - start));
            return true;
        }
    }
    return false;
}

} // namespace hygro
