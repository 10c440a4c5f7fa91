// IPv4 addresses as four octets, first octet first, and their packed table form.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace hygro {

using IPv4Bytes = std::array<std::uint8_t, 4>;

// The device tables keep a.b.c.d with a in the lowest-order byte.
inline std::int32_t PackIPv4(const IPv4Bytes& ip) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ip[0]) | static_cast<std::uint32_t>(ip[1]) << 8 |
                                     static_cast<std::uint32_t>(ip[2]) << 16 | static_cast<std::uint32_t>(ip[3]) << 24);
}

inline IPv4Bytes UnpackIPv4(std::int32_t packed) {
    const auto v = static_cast<std::uint32_t>(packed);
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

inline std::string IPv4Text(const IPv4Bytes& ip) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return buf;
}

constexpr IPv4Bytes kLoopbackIPv4{127, 0, 0, 1};

} // namespace hygro
