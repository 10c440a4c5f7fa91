// UTF-8 (our 8-bit text) <-> UTF-16 (our wide text) conversions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hygro {

// Wide -> 8-bit into buffer: at most bufferSize - 1 bytes, zero-terminated, never
// cutting a UTF-8 sequence. Returns the number of bytes stored (without the zero).
int FunCStringToSrcChar(char* buffer, int bufferSize, std::u16string_view wide);

// Zero-terminated 8-bit text -> wide. Returns the number of UTF-16 units produced.
int FunSrcCharToCString(std::u16string& out, const char* text);

// Unbounded conversions; invalid sequences become U+FFFD.
std::string ToUtf8(std::u16string_view wide);
std::u16string ToUtf16(std::string_view text);

// Bounded 8-bit copy: at most maxBytes bytes, cut only at a UTF-8 sequence boundary.
std::string TruncateUtf8(std::string_view text, std::size_t maxBytes);

} // namespace hygro
