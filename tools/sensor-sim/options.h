// Command line of hygrolog-sim.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

namespace hygrosim {

struct Reading {
    double humidity = 0;
    double temperature = 0;
};

struct Endpoint {
    in_addr_t address = 0;  // network byte order
    std::uint16_t port = 0; // host byte order
    bool operator==(const Endpoint&) const = default;
};

// Periodic power loss: on for `up` seconds, off for `down`, from the start.
struct Outage {
    unsigned up = 0;
    unsigned down = 0;
};

struct Faults {
    bool silent = false;
    std::optional<unsigned> silentAfter;
    bool malformed = false;
    bool split = false;
    bool errorValues = false;
    std::optional<unsigned> reconnectEvery;
    bool noSearch = false;
    bool oldVersion = false;
    bool shortReply = false;
    std::optional<Outage> outage;
};

struct SensorConfig {
    in_addr_t address = 0; // network byte order
    std::uint32_t serial = 0;
    Faults faults;
    std::optional<Reading> fixed;
    std::vector<Reading> script;
};

// A peer that is no sensor: garbage datagrams and TCP connections that never speak.
struct Rogue {
    in_addr_t address = 0; // network byte order; 0 when there is no rogue
    std::vector<Endpoint> floodTo;
    unsigned floodRate = 100;   // datagrams per second, all targets together
    unsigned floodCount = 1000; // datagrams in all
    unsigned floodSize = 64;    // bytes per datagram
    unsigned floodPorts = 1;    // source ports taken in turn
    std::optional<Endpoint> idleTo;
    unsigned idleCount = 0;
    std::optional<Endpoint> vanishTo;
    unsigned vanishCount = 0;
};

struct Options {
    std::vector<SensorConfig> sensors;
    Rogue rogue;
    std::uint64_t seed = 1;
    std::optional<double> durationSeconds;
    bool quiet = false;
    bool help = false;
};

struct ParseResult {
    Options options;
    std::string error; // non-empty: the command line is unusable
};

ParseResult ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

inline constexpr std::uint32_t kMaxSerial = 999999; // six digits in the search reply
inline constexpr unsigned kMaxSensors = 1000;
inline constexpr double kMaxValue = 999.9; // keeps a reading within "%+.1f,%+.1f"
inline constexpr unsigned kMaxDatagram = 65507;   // the largest UDP payload over IPv4
inline constexpr unsigned kMaxRogueSockets = 1024;

} // namespace hygrosim
