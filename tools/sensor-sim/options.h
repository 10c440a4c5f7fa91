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
};

struct SensorConfig {
    in_addr_t address = 0; // network byte order
    std::uint32_t serial = 0;
    Faults faults;
    std::optional<Reading> fixed;
    std::vector<Reading> script;
};

struct Options {
    std::vector<SensorConfig> sensors;
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

} // namespace hygrosim
