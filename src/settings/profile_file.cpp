#include "settings/profile_file.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>

namespace hygro {
namespace {

// How a line reads. Only headers and "key=value" lines take part in look-ups; every
// other line (blank, comment, text before the first header, text without '=') is kept
// as it is and never matched.
enum class Kind { Blank, Comment, Header, NoValue, KeyValue };

struct Classified {
    Kind kind = Kind::Blank;
    std::u16string_view name;  // section name (Header) or key (KeyValue)
    std::u16string_view value; // KeyValue only: trimmed, one pair of quotes removed
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

Classified Classify(std::u16string_view line) {
    Classified c;
    const std::u16string_view t = Trim(line);
    if (t.empty()) return c;
    if (t.front() == u';') {
        c.kind = Kind::Comment;
        return c;
    }
    if (t.front() == u'[') {
        const std::u16string_view rest = t.substr(1);
        c.kind = Kind::Header;
        c.name = Trim(rest.substr(0, rest.find(u']'))); // no ']': the rest of the line
        return c;
    }
    const std::size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos) {
        c.kind = Kind::NoValue;
        return c;
    }
    c.kind = Kind::KeyValue;
    c.name = Trim(line.substr(0, eq));
    std::u16string_view v = Trim(line.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    c.value = v;
    return c;
}

// Simple case folding: ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic and
// the full-width Latin letters. Enough for names; both sides are folded the same way.
char16_t Fold(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    if (c == 0x130) return u'i';
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c | 1);
    if (((c >= 0x139 && c <= 0x147) || (c >= 0x179 && c <= 0x17D)) && (c & 1))
        return static_cast<char16_t>(c + 1);
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
    return c;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// A value or name must stay on its line.
std::u16string OneLine(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        if (c == u'\r' || c == u'\n') c = u' ';
    return out;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Lines [header, end) of the first section of that name.
struct Range {
    std::size_t header = 0;
    std::size_t end = 0;
    bool found = false;
};

template <typename Lines>
Range FindSection(const Lines& lines, std::u16string_view section) {
    const std::u16string_view name = Trim(section);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Classified c = Classify(lines[i].text);
        if (c.kind != Kind::Header || !NamesEqual(c.name, name)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && Classify(lines[end].text).kind != Kind::Header) ++end;
        return {i, end, true};
    }
    return {};
}

} // namespace

std::optional<ProfileFile> ProfileFile::Parse(std::string_view bytes) {
    ProfileFile doc;
    if (bytes.empty()) return doc;
    if (bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE)
        return std::nullopt;

    // Code units are kept as they are (a lone surrogate survives a round trip).
    std::u16string text;
    text.reserve(bytes.size() / 2 - 1);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[i]);
        const auto hi = static_cast<unsigned char>(bytes[i + 1]);
        text += static_cast<char16_t>(lo | (hi << 8));
    }

    // CR LF ends a line; so does a lone LF or a lone CR. A final line end adds no line.
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            doc.m_lines.push_back({text.substr(start, i - start)});
            i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) doc.m_lines.push_back({text.substr(start)});
    return doc;
}

std::string ProfileFile::Serialize() const {
    std::size_t units = 0;
    for (const Line& l : m_lines) units += l.text.size() + 2;
    std::string out;
    out.reserve(2 + 2 * units);
    out += "\xFF\xFE";
    auto put = [&out](char16_t c) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    };
    for (const Line& l : m_lines) {
        for (const char16_t c : l.text) put(c);
        put(u'\r');
        put(u'\n');
    }
    return out;
}

std::optional<std::u16string> ProfileFile::Get(std::u16string_view section, std::u16string_view key) const {
    const Range r = FindSection(m_lines, section);
    if (!r.found) return std::nullopt;
    const std::u16string_view k = Trim(key);
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        const Classified c = Classify(m_lines[i].text);
        if (c.kind == Kind::KeyValue && NamesEqual(c.name, k)) return std::u16string(c.value);
    }
    return std::nullopt;
}

std::u16string ProfileFile::GetString(std::u16string_view section, std::u16string_view key,
                                      std::u16string_view def) const {
    if (std::optional<std::u16string> v = Get(section, key)) return std::move(*v);
    return std::u16string(def);
}

void ProfileFile::SetString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    const std::u16string s = OneLine(section);
    const std::u16string k = OneLine(key);
    const std::u16string v = OneLine(value);
    const std::u16string_view sName = Trim(s);
    const std::u16string_view kName = Trim(k);

    const Range r = FindSection(m_lines, sName);
    if (!r.found) {
        m_lines.push_back({u"[" + std::u16string(sName) + u"]"});
        m_lines.push_back({std::u16string(kName) + u"=" + v});
        return;
    }
    // A new key goes right after the section's last entry (a line that is neither blank
    // nor a comment), so blank lines and comments that end the section stay where they
    // are; with no entry yet, right after the header.
    std::size_t insertAt = r.header + 1;
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        const Classified c = Classify(m_lines[i].text);
        if (c.kind == Kind::KeyValue && NamesEqual(c.name, kName)) {
            // In place, in the key's own spelling.
            m_lines[i].text = std::u16string(c.name) + u"=" + v;
            return;
        }
        if (c.kind == Kind::KeyValue || c.kind == Kind::NoValue) insertAt = i + 1;
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                   Line{std::u16string(kName) + u"=" + v});
}

bool ProfileFile::DeleteSection(std::u16string_view section) {
    const std::u16string_view name = Trim(section);
    std::vector<Line> kept;
    kept.reserve(m_lines.size());
    bool removing = false;
    bool removed = false;
    for (Line& l : m_lines) {
        const Classified c = Classify(l.text);
        if (c.kind == Kind::Header) {
            removing = NamesEqual(c.name, name);
            removed = removed || removing;
        }
        if (!removing) kept.push_back(std::move(l));
    }
    m_lines = std::move(kept);
    return removed;
}

bool ProfileFile::HasSection(std::u16string_view section) const { return FindSection(m_lines, section).found; }

std::vector<std::u16string> ProfileFile::SectionNames() const {
    std::vector<std::u16string> names;
    for (const Line& l : m_lines) {
        const Classified c = Classify(l.text);
        if (c.kind != Kind::Header) continue;
        bool seen = false;
        for (const std::u16string& n : names) seen = seen || NamesEqual(n, c.name);
        if (!seen) names.emplace_back(c.name);
    }
    return names;
}

int ProfileToInt(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1; // |INT_MIN|
    long long magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > kLimit) magnitude = kLimit; // saturate, keep consuming digits
    }
    if (negative) return magnitude >= kLimit ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

double ProfileToDouble(std::u16string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

    // Mantissa digits, integer and fraction parts together; intDigits of them before the '.'.
    std::string digits;
    while (i < n && IsDigit(text[i])) digits += static_cast<char>(text[i++]);
    const long long intDigits = static_cast<long long>(digits.size());
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && IsDigit(text[i])) digits += static_cast<char>(text[i++]);
    }
    if (digits.empty()) return 0.0;

    // Optional exponent, only when it has digits; saturated far beyond any double.
    long long exponent = 0;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) expNegative = text[j++] == u'-';
        if (j < n && IsDigit(text[j])) {
            for (; j < n && IsDigit(text[j]); ++j) {
                exponent = exponent * 10 + (text[j] - u'0');
                if (exponent > 1'000'000'000LL) exponent = 1'000'000'000LL;
            }
            if (expNegative) exponent = -exponent;
        }
    }

    // value = 0.<significant> x 10^scale
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos) return negative ? -0.0 : 0.0;
    const long long scale = intDigits - static_cast<long long>(firstNonZero) + exponent;
    double value;
    if (scale > 400) {
        value = HUGE_VAL;
    } else if (scale < -400) {
        value = 0.0;
    } else {
        std::string canonical = "0.";
        canonical.append(digits, firstNonZero, std::string::npos);
        canonical += 'e';
        canonical += std::to_string(scale);
        value = 0.0;
        const auto res = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value,
                                         std::chars_format::general);
        if (res.ec == std::errc::result_out_of_range) value = scale > 0 ? HUGE_VAL : 0.0;
        else if (res.ec != std::errc()) value = 0.0;
    }
    return negative ? -value : value;
}

} // namespace hygro
