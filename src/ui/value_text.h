// Texts of readings and limits as every window shows them, independent of the process
// locale (Qt sets it from the environment, so printf could write a decimal comma).
#pragma once

#include <QString>
#include <charconv>
#include <string>

namespace hygro::ui {

inline constexpr char16_t kDegreeCelsius = u'\u2103';

// printf's "%.1lf".
inline QString Fixed1(double value) {
    char buffer[512];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (ec != std::errc{}) return {};
    return QString::fromLatin1(buffer, end - buffer);
}
// "%.1lf%%" and "%.1lf℃".
inline QString PercentText(double value) { return Fixed1(value) + u'%'; }
inline QString CelsiusText(double value) { return Fixed1(value) + QChar(kDegreeCelsius); }

// Names are kept as 8-bit (UTF-8) text in the device tables.
inline QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace hygro::ui
