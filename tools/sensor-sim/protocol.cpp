#include "protocol.h"

#include <arpa/inet.h>
#include <array>
#include <cstdio>

namespace hygrosim {
namespace {

// 1..max_digits decimal digits, value <= max.
std::optional<std::uint32_t> Number(std::string_view s, std::size_t maxDigits, std::uint32_t max) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

std::optional<in_addr_t> Address(std::string_view s) {
    std::uint32_t host = 0;
    for (int i = 0; i < 4; ++i) {
        const auto dot = s.find('.');
        if ((i < 3) == (dot == std::string_view::npos)) return std::nullopt;
        auto octet = Number(s.substr(0, dot), 3, 255);
        if (!octet) return std::nullopt;
        host = host << 8 | *octet;
        s = i < 3 ? s.substr(dot + 1) : std::string_view{};
    }
    const std::uint32_t first = host >> 24;
    if (first == 0 || first == 127 || first >= 224) return std::nullopt;
    return htonl(host);
}

} // namespace

std::optional<Command> ParseCommand(std::string_view m) {
    constexpr std::string_view prefix = "@KV-WiFi,";
    constexpr std::string_view end = "\r\n";
    if (!m.starts_with(prefix) || !m.ends_with(end)) return std::nullopt;
    m = m.substr(prefix.size(), m.size() - prefix.size() - end.size());

    static constexpr std::array<std::pair<std::string_view, CommandKind>, 3> kinds = {{
        {"SEARCH,", CommandKind::Search},
        {"CONNECT UDP,", CommandKind::ConnectUdp},
        {"CONNECT TCP,", CommandKind::ConnectTcp},
    }};
    for (const auto& [word, kind] : kinds) {
        if (!m.starts_with(word)) continue;
        m.remove_prefix(word.size());
        const auto comma = m.find(',');
        if (comma == std::string_view::npos) return std::nullopt;
        auto address = Address(m.substr(0, comma));
        auto port = Number(m.substr(comma + 1), 5, 65535);
        if (!address || !port || *port == 0) return std::nullopt;
        return Command{kind, Endpoint{*address, static_cast<std::uint16_t>(*port)}};
    }
    return std::nullopt;
}

std::string SearchReply(std::uint32_t serial, bool oldVersion, bool shortReply) {
    std::array<char, 64> buf{};
    const int n = std::snprintf(buf.data(), buf.size(), "@WiFi Sensor/T VER%s,%06u\r\n",
                                oldVersion ? "0.90" : "1.00", static_cast<unsigned>(serial % 1000000));
    std::string reply(buf.data(), static_cast<std::size_t>(n));
    if (shortReply && reply.size() > 30) reply.resize(30);
    return reply;
}

std::string FormatReading(const Reading& r) {
    std::array<char, 64> buf{};
    const int n = std::snprintf(buf.data(), buf.size(), "%+.1f,%+.1f\r\n", r.humidity, r.temperature);
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string FormatAddress(in_addr_t address) {
    std::array<char, INET_ADDRSTRLEN> buf{};
    in_addr a{};
    a.s_addr = address;
    inet_ntop(AF_INET, &a, buf.data(), buf.size());
    return buf.data();
}

std::string FormatEndpoint(const Endpoint& e) {
    return FormatAddress(e.address) + ":" + std::to_string(e.port);
}

std::string Printable(std::string_view bytes, std::size_t max) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                std::array<char, 8> hex{};
                std::snprintf(hex.data(), hex.size(), "\\x%02X", c);
                out += hex.data();
            }
        }
    }
    if (bytes.size() > max) out += "...";
    return out;
}

} // namespace hygrosim
