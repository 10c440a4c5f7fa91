// The sensor side of the station protocol: messages in, replies out.
#pragma once

#include "options.h"

#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>

namespace hygrosim {

inline constexpr std::uint16_t kCommandPort = 65530;

enum class CommandKind { Search, ConnectUdp, ConnectTcp };

struct Command {
    CommandKind kind;
    Endpoint station;
};

// Exactly "@KV-WiFi,<SEARCH|CONNECT UDP|CONNECT TCP>,a.b.c.d,port\r\n"; a
// station address that cannot be a station (unspecified, loopback,
// multicast, broadcast) or port 0 makes the message malformed.
std::optional<Command> ParseCommand(std::string_view message);

std::string SearchReply(std::uint32_t serial, bool oldVersion, bool shortReply);
std::string FormatReading(const Reading& reading);

std::string FormatAddress(in_addr_t address);
std::string FormatEndpoint(const Endpoint& endpoint);
// Bytes for a log line: C escapes for anything unprintable, cut at `max`.
std::string Printable(std::string_view bytes, std::size_t max = 64);

} // namespace hygrosim
