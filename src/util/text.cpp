#include "util/text.h"

#include <algorithm>
#include <cstring>

namespace hygro {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i; returns U+FFFD for a bad one.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i++]);
    if (b0 < 0x80) return b0;
    int extra;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) return kReplacement;
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80) return kReplacement;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

char32_t DecodeUtf16(std::u16string_view text, std::size_t& i) {
    const char16_t u = text[i++];
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            const char16_t lo = text[i++];
            return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (lo - 0xDC00);
        }
        return kReplacement;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) return kReplacement;
    return u;
}

} // namespace

std::string ToUtf8(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size();) AppendUtf8(out, DecodeUtf16(wide, i));
    return out;
}

std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) AppendUtf16(out, DecodeUtf8(text, i));
    return out;
}

std::string TruncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t cut = maxBytes;
    // Step back over continuation bytes so the cut lands on a sequence start.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
}

int FunCStringToSrcChar(char* buffer, int bufferSize, std::u16string_view wide) {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    const std::string full = ToUtf8(wide);
    const std::string cut = TruncateUtf8(full, static_cast<std::size_t>(bufferSize - 1));
    std::memcpy(buffer, cut.data(), cut.size());
    buffer[cut.size()] = '\0';
    return static_cast<int>(cut.size());
}

int FunSrcCharToCString(std::u16string& out, const char* text) {
    out = text ? ToUtf16(text) : std::u16string();
    return static_cast<int>(out.size());
}

} // namespace hygro
