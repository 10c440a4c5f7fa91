#include "options.h"

#include "protocol.h"

#include <arpa/inet.h>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

namespace hygrosim {
namespace {

struct SensorArg {
    in_addr_t address;
    std::optional<std::uint32_t> serial;
};

struct FaultArg {
    std::uint32_t serial;
    std::string kind;
    std::optional<unsigned> n;
    std::optional<Outage> outage;
    std::string text;
};

struct Raw {
    std::vector<SensorArg> sensors;
    std::optional<unsigned> count;
    std::optional<in_addr_t> firstAddress;
    std::optional<std::uint32_t> firstSerial;
    std::vector<FaultArg> faults;
    std::vector<std::pair<std::uint32_t, Reading>> fixed;
    std::vector<std::string> scripts;
    Rogue rogue;
    bool rogueOptions = false; // any of the options that need --rogue
};

template <typename T> std::optional<T> ParseUnsigned(std::string_view s, T max) {
    T value{};
    if (s.empty() || s[0] == '+' || s[0] == '-') return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || end != s.data() + s.size() || value > max) return std::nullopt;
    return value;
}

std::optional<double> ParseValue(std::string_view s) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1); // from_chars refuses a leading '+'
    double value{};
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || !std::isfinite(value) ||
        std::fabs(value) > kMaxValue)
        return std::nullopt;
    return value;
}

std::optional<in_addr_t> ParseSensorAddress(const std::string& s) {
    in_addr a{};
    if (inet_pton(AF_INET, s.c_str(), &a) != 1) return std::nullopt;
    const std::uint32_t h = ntohl(a.s_addr);
    if (h == 0 || h == 0xFFFFFFFFu || (h >> 28) == 0xE) return std::nullopt;
    return a.s_addr;
}

std::string Quote(std::string_view s) {
    return "'" + std::string(s) + "'";
}

struct Error {
    std::string message;
};

// "A.B.C.D:PORT" with a unicast address and a port 1..65535.
std::optional<Endpoint> ParseTarget(std::string_view s) {
    const auto colon = s.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto address = ParseSensorAddress(std::string(s.substr(0, colon)));
    auto port = ParseUnsigned<std::uint16_t>(s.substr(colon + 1), 65535);
    if (!address || !port || *port == 0) return std::nullopt;
    return Endpoint{*address, *port};
}

// "A.B.C.D:PORT,N" for the TCP rogue options.
std::pair<Endpoint, unsigned> ParseTargetCount(const std::string& name, const std::string& v) {
    const auto comma = v.rfind(',');
    std::optional<Endpoint> target;
    std::optional<unsigned> n;
    if (comma != std::string::npos) {
        target = ParseTarget(std::string_view(v).substr(0, comma));
        n = ParseUnsigned<unsigned>(std::string_view(v).substr(comma + 1), kMaxRogueSockets);
    }
    if (!target || !n || *n == 0)
        throw Error{name + " " + Quote(v) + ": expected STATION:PORT,N with N 1.." +
                    std::to_string(kMaxRogueSockets)};
    return {*target, *n};
}

unsigned ParseBounded(const std::string& name, const std::string& v, unsigned min, unsigned max) {
    auto n = ParseUnsigned<unsigned>(v, max);
    if (!n || *n < min)
        throw Error{name + " " + Quote(v) + ": must be " + std::to_string(min) + ".." + std::to_string(max)};
    return *n;
}

std::optional<Reading> ParsePair(std::string_view s) {
    const auto comma = s.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    auto h = ParseValue(s.substr(0, comma));
    auto t = ParseValue(s.substr(comma + 1));
    if (!h || !t) return std::nullopt;
    return Reading{*h, *t};
}

void ParseFault(const std::string& v, Raw& raw) {
    const std::string bad = "--fault " + Quote(v) + ": ";
    const auto colon = v.find(':');
    if (colon == std::string::npos) throw Error{bad + "expected SERIAL:KIND[=N]"};
    auto serial = ParseUnsigned<std::uint32_t>(std::string_view(v).substr(0, colon), kMaxSerial);
    if (!serial) throw Error{bad + "SERIAL must be 0.." + std::to_string(kMaxSerial)};
    std::string kind = v.substr(colon + 1);
    if (kind.starts_with("outage")) {
        // outage=UP/DOWN, both whole seconds >= 1.
        const std::string_view timing = std::string_view(kind).substr(6);
        const auto slash = timing.find('/');
        std::optional<unsigned> up, down;
        if (timing.starts_with("=") && slash != std::string_view::npos) {
            up = ParseUnsigned<unsigned>(timing.substr(1, slash - 1), 86400u);
            down = ParseUnsigned<unsigned>(timing.substr(slash + 1), 86400u);
        }
        if (!up || !down || *up == 0 || *down == 0)
            throw Error{bad + "outage needs =UP/DOWN, seconds 1..86400"};
        raw.faults.push_back({*serial, "outage", std::nullopt, Outage{*up, *down}, v});
        return;
    }
    std::optional<unsigned> n;
    if (const auto eq = kind.find('='); eq != std::string::npos) {
        n = ParseUnsigned<unsigned>(std::string_view(kind).substr(eq + 1), 1000000000u);
        if (!n) throw Error{bad + "N must be a whole number"};
        kind.resize(eq);
    }
    static const std::set<std::string> plain = {"silent",    "malformed",   "split",      "error-values",
                                                "no-search", "old-version", "short-reply"};
    static const std::set<std::string> counted = {"silent-after", "reconnect-every"};
    if (plain.count(kind)) {
        if (n) throw Error{bad + kind + " takes no =N"};
    } else if (counted.count(kind)) {
        if (!n) throw Error{bad + kind + " needs =N"};
        if (kind == "reconnect-every" && *n == 0) throw Error{bad + "reconnect-every needs N >= 1"};
    } else {
        throw Error{bad + "unknown kind " + Quote(kind) + " (see --help)"};
    }
    raw.faults.push_back({*serial, kind, n, std::nullopt, v});
}

void ReadScript(const std::string& path, std::vector<std::pair<std::uint32_t, Reading>>& out) {
    std::ifstream in(path);
    if (!in) throw Error{"--script " + Quote(path) + ": cannot open"};
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream fields(line);
        std::string serial, h, t, extra;
        if (!(fields >> serial)) continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!(fields >> h >> t) || (fields >> extra))
            throw Error{where + "expected SERIAL HUMIDITY TEMPERATURE"};
        auto s = ParseUnsigned<std::uint32_t>(serial, kMaxSerial);
        auto hv = ParseValue(h);
        auto tv = ParseValue(t);
        if (!s) throw Error{where + "bad serial " + Quote(serial)};
        if (!hv || !tv) throw Error{where + "values must be numbers within +-999.9"};
        out.push_back({*s, Reading{*hv, *tv}});
    }
}

Options Build(const Raw& raw, Options base) {
    if (!raw.sensors.empty() && raw.count) throw Error{"give either --sensor or --count, not both"};
    if (!raw.count && (raw.firstAddress || raw.firstSerial))
        throw Error{"--first-address and --first-serial go with --count"};
    const Rogue& r = raw.rogue;
    const bool rogueActs = !r.floodTo.empty() || r.idleTo || r.vanishTo;
    if (raw.rogueOptions && r.address == 0) throw Error{"--flood-*, --tcp-idle and --tcp-vanish need --rogue"};
    if (r.address != 0 && !rogueActs) throw Error{"--rogue needs --flood-to, --tcp-idle or --tcp-vanish"};
    if (raw.sensors.empty() && !raw.count && !rogueActs)
        throw Error{"no sensors: give --sensor ADDRESS or --count N"};
    base.rogue = r;

    const std::uint32_t firstSerial = raw.firstSerial.value_or(1001);
    if (raw.count) {
        const std::uint32_t first = ntohl(raw.firstAddress.value_or(inet_addr("198.18.0.2")));
        if (std::uint64_t{first} + *raw.count - 1 > 0xFFFFFFFEull)
            throw Error{"--count runs past the last address"};
        if (std::uint64_t{firstSerial} + *raw.count - 1 > kMaxSerial)
            throw Error{"--count runs past serial " + std::to_string(kMaxSerial)};
        for (unsigned i = 0; i < *raw.count; ++i)
            base.sensors.push_back({htonl(first + i), firstSerial + i, {}, {}, {}});
    } else {
        for (std::size_t i = 0; i < raw.sensors.size(); ++i) {
            const std::uint64_t serial = raw.sensors[i].serial ? *raw.sensors[i].serial : firstSerial + i;
            if (serial > kMaxSerial) throw Error{"serial beyond " + std::to_string(kMaxSerial)};
            base.sensors.push_back({raw.sensors[i].address, static_cast<std::uint32_t>(serial), {}, {}, {}});
        }
    }

    std::set<in_addr_t> addresses;
    std::map<std::uint32_t, SensorConfig*> bySerial;
    for (auto& s : base.sensors) {
        if (!addresses.insert(s.address).second)
            throw Error{"address " + FormatAddress(s.address) + " twice"};
        if (!bySerial.emplace(s.serial, &s).second)
            throw Error{"serial " + std::to_string(s.serial) + " twice"};
    }
    auto find = [&](std::uint32_t serial, const std::string& what) {
        auto it = bySerial.find(serial);
        if (it == bySerial.end()) throw Error{what + ": no sensor has serial " + std::to_string(serial)};
        return it->second;
    };

    for (const auto& f : raw.faults) {
        Faults& x = find(f.serial, "--fault " + Quote(f.text))->faults;
        if (f.kind == "silent")
            x.silent = true;
        else if (f.kind == "silent-after")
            x.silentAfter = f.n;
        else if (f.kind == "malformed")
            x.malformed = true;
        else if (f.kind == "split")
            x.split = true;
        else if (f.kind == "error-values")
            x.errorValues = true;
        else if (f.kind == "reconnect-every")
            x.reconnectEvery = f.n;
        else if (f.kind == "no-search")
            x.noSearch = true;
        else if (f.kind == "old-version")
            x.oldVersion = true;
        else if (f.kind == "short-reply")
            x.shortReply = true;
        else if (f.kind == "outage")
            x.outage = f.outage;
    }
    for (const auto& [serial, reading] : raw.fixed)
        find(serial, "--fixed")->fixed = reading;
    std::vector<std::pair<std::uint32_t, Reading>> scripted;
    for (const auto& path : raw.scripts)
        ReadScript(path, scripted);
    for (const auto& [serial, reading] : scripted)
        find(serial, "--script")->script.push_back(reading);
    return base;
}

} // namespace

ParseResult ParseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    Raw raw;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            std::string name = args[i];
            std::optional<std::string> inlineValue;
            if (name.rfind("--", 0) == 0) {
                if (const auto eq = name.find('='); eq != std::string::npos) {
                    inlineValue = name.substr(eq + 1);
                    name.resize(eq);
                }
            }
            auto flag = [&] {
                if (inlineValue) throw Error{name + " takes no value"};
            };
            auto value = [&]() -> std::string {
                if (inlineValue) return *inlineValue;
                if (i + 1 >= args.size()) throw Error{name + " needs a value"};
                return args[++i];
            };

            if (name == "--help" || name == "-h") {
                flag();
                result.options.help = true;
                return result;
            } else if (name == "--quiet") {
                flag();
                result.options.quiet = true;
            } else if (name == "--sensor") {
                const std::string v = value();
                const auto comma = v.find(',');
                auto address = ParseSensorAddress(v.substr(0, comma));
                if (!address) throw Error{"--sensor " + Quote(v) + ": bad IPv4 address"};
                std::optional<std::uint32_t> serial;
                if (comma != std::string::npos) {
                    serial = ParseUnsigned<std::uint32_t>(std::string_view(v).substr(comma + 1), kMaxSerial);
                    if (!serial)
                        throw Error{"--sensor " + Quote(v) + ": SERIAL must be 0.." +
                                    std::to_string(kMaxSerial)};
                }
                raw.sensors.push_back({*address, serial});
            } else if (name == "--count") {
                const std::string v = value();
                raw.count = ParseUnsigned<unsigned>(v, kMaxSensors);
                if (!raw.count || *raw.count == 0)
                    throw Error{"--count " + Quote(v) + ": must be 1.." + std::to_string(kMaxSensors)};
            } else if (name == "--first-address") {
                const std::string v = value();
                raw.firstAddress = ParseSensorAddress(v);
                if (!raw.firstAddress) throw Error{"--first-address " + Quote(v) + ": bad IPv4 address"};
            } else if (name == "--first-serial") {
                const std::string v = value();
                raw.firstSerial = ParseUnsigned<std::uint32_t>(v, kMaxSerial);
                if (!raw.firstSerial)
                    throw Error{"--first-serial " + Quote(v) + ": must be 0.." + std::to_string(kMaxSerial)};
            } else if (name == "--fault") {
                ParseFault(value(), raw);
            } else if (name == "--script") {
                raw.scripts.push_back(value());
            } else if (name == "--fixed") {
                const std::string v = value();
                const auto eq = v.find('=');
                std::optional<std::uint32_t> serial;
                std::optional<Reading> reading;
                if (eq != std::string::npos) {
                    serial = ParseUnsigned<std::uint32_t>(std::string_view(v).substr(0, eq), kMaxSerial);
                    reading = ParsePair(std::string_view(v).substr(eq + 1));
                }
                if (!serial || !reading)
                    throw Error{"--fixed " + Quote(v) + ": expected SERIAL=HUMIDITY,TEMPERATURE"};
                raw.fixed.push_back({*serial, *reading});
            } else if (name == "--rogue") {
                const std::string v = value();
                auto address = ParseSensorAddress(v);
                if (!address) throw Error{"--rogue " + Quote(v) + ": bad IPv4 address"};
                raw.rogue.address = *address;
            } else if (name == "--flood-to") {
                const std::string v = value();
                auto target = ParseTarget(v);
                if (!target) throw Error{"--flood-to " + Quote(v) + ": expected STATION:PORT"};
                raw.rogue.floodTo.push_back(*target);
                raw.rogueOptions = true;
            } else if (name == "--flood-rate") {
                raw.rogue.floodRate = ParseBounded(name, value(), 1, 100000);
                raw.rogueOptions = true;
            } else if (name == "--flood-count") {
                raw.rogue.floodCount = ParseBounded(name, value(), 1, 1000000000);
                raw.rogueOptions = true;
            } else if (name == "--flood-size") {
                raw.rogue.floodSize = ParseBounded(name, value(), 1, kMaxDatagram);
                raw.rogueOptions = true;
            } else if (name == "--flood-ports") {
                raw.rogue.floodPorts = ParseBounded(name, value(), 1, kMaxRogueSockets);
                raw.rogueOptions = true;
            } else if (name == "--tcp-idle") {
                std::tie(raw.rogue.idleTo, raw.rogue.idleCount) = ParseTargetCount(name, value());
                raw.rogueOptions = true;
            } else if (name == "--tcp-vanish") {
                std::tie(raw.rogue.vanishTo, raw.rogue.vanishCount) = ParseTargetCount(name, value());
                raw.rogueOptions = true;
            } else if (name == "--seed") {
                const std::string v = value();
                auto seed = ParseUnsigned<std::uint64_t>(v, UINT64_MAX);
                if (!seed) throw Error{"--seed " + Quote(v) + ": must be a whole number"};
                result.options.seed = *seed;
            } else if (name == "--duration") {
                const std::string v = value();
                double d{};
                auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
                if (v.empty() || ec != std::errc{} || end != v.data() + v.size() || !(d > 0) || d > 31536000)
                    throw Error{"--duration " + Quote(v) + ": must be seconds > 0 (at most one year)"};
                result.options.durationSeconds = d;
            } else {
                throw Error{"unknown option " + Quote(args[i]) + " (see --help)"};
            }
        }
        result.options = Build(raw, std::move(result.options));
    } catch (const Error& e) {
        result.error = e.message;
    }
    return result;
}

std::string HelpText() {
    return R"HELP(Usage: hygrolog-sim [OPTIONS]

A simulated network of Wi-Fi temperature/humidity sensors for Hygrolog.
Each sensor owns an IPv4 address, which must already be configured on an
interface where the simulator runs, and answers the station's SEARCH,
CONNECT UDP, CONNECT TCP, "S" (poll) and "R" (release) like a real sensor.
Run it in a private network namespace (tests/support/run_in_netns.sh makes
one); it sends only to the station addresses it is told about.

Sensors (give either --sensor or --count):
  --sensor ADDRESS[,SERIAL]  one sensor; repeatable. Without SERIAL the n-th
                             --sensor (counting from 0) gets serial 1001 + n.
  --count N                  N sensors (1..1000) on consecutive addresses
  --first-address A          address of the first of --count (198.18.0.2)
  --first-serial S           serial of the first of --count (1001); serials
                             are 0..999999

Readings (default: a slow random walk per sensor, humidity 30..70 %,
temperature 15..25 C, repeatable for a given seed):
  --fixed SERIAL=H,T         that sensor always reads humidity H, temperature T
  --script FILE              lines "SERIAL HUMIDITY TEMPERATURE" ('#' starts a
                             comment); each sensor's polls take its lines in
                             order, then it returns to --fixed or the random
                             walk; repeatable
  --seed N                   seed of the random walks (default 1)

Faults (repeatable; SERIAL names a sensor; malformed wins over error-values,
both over --fixed and --script):
  --fault SERIAL:KIND[=N]    KIND is one of
      silent                 never answers S
      silent-after=N         answers the first N polls, then stays silent
      malformed              answers S with "ERR\r\n"
      split                  sends each answer in two parts: two TCP writes
                             50 ms apart, or two UDP datagrams
      error-values           answers S with "+99.9,+80.0\r\n"
      reconnect-every=N      TCP: closes the connection and connects again
                             after every N answers
      no-search              ignores SEARCH
      old-version            search reply says "VER0.90," for "VER1.00,"
      short-reply            search reply cut to 30 bytes
      outage=UP/DOWN         power cuts: from the start, on for UP seconds,
                             off for DOWN, and so on. Going off drops the
                             station (the TCP connection is closed); while
                             off it ignores everything; back on it waits
                             for a CONNECT like after power-on

A rogue peer (no sensor; the options below need --rogue, and sensors are
optional with them):
  --rogue ADDRESS            the rogue's own address (configured here; it may
                             be an address the station knows as a sensor)
  --flood-to STATION:PORT    send garbage datagrams there; repeatable, the
                             datagrams take the targets in turn. Every fourth
                             begins like a reading, the next like a search
                             reply; the rest of each is random bytes
  --flood-rate N             datagrams per second in all (100)
  --flood-count N            datagrams in all, then the flood ends (1000)
  --flood-size N             bytes per datagram, 1..65507 (64)
  --flood-ports N            source ports taken in turn, 1..1024 (1)
  --tcp-idle STATION:PORT,N  open N connections there that never send
  --tcp-vanish STATION:PORT,N
                             N times, one after the other: connect, wait
                             300 ms, then drop the connection without a FIN
                             or RST (TCP_REPAIR; a reset when not permitted)

Running:
  --duration SECONDS         stop by itself after SECONDS (fractions allowed);
                             otherwise run until SIGTERM or SIGINT
  --quiet                    no event log (only "ready" and "stopped")
  -h, --help                 this text

Protocol (UDP port 65530 on every sensor address, and 0.0.0.0:65530 for
broadcasts):
  "@KV-WiFi,SEARCH,A.B.C.D,PORT\r\n"       reply to A.B.C.D:PORT from
                                           ADDRESS:65530 with
                                           "@WiFi Sensor/T VER1.00,%06d\r\n"
  "@KV-WiFi,CONNECT UDP,A.B.C.D,PORT\r\n"  open ADDRESS:PORT; "S" arriving
                                           there is answered to A.B.C.D:PORT,
                                           "R" forgets the station
  "@KV-WiFi,CONNECT TCP,A.B.C.D,PORT\r\n"  connect from ADDRESS to
                                           A.B.C.D:PORT (up to 5 tries,
                                           200 ms apart); "S" is answered on
                                           the connection, "R" closes it
  A CONNECT of one transport drops the link of the other. A reading is
  "%+.1f,%+.1f\r\n" (humidity, temperature), e.g. "+45.6,+23.4\r\n".
  Anything else is logged and ignored.

Log (stdout, one line per event; ADDRESS is the sensor's, STATION the
A.B.C.D:PORT of the message, TEXT without its CR LF; a fault that changes an
answer adds " (KIND)"):
  ADDRESS serial NNNNNN                  at start, one per sensor
  ready N sensors                        all sockets are open
  ADDRESS <- SEARCH STATION
  ADDRESS -> reply NNNNNN
  ADDRESS ignores SEARCH (no-search)
  ADDRESS <- CONNECT UDP STATION
  ADDRESS udp data port PORT             data socket ADDRESS:PORT is open
  ADDRESS udp data port PORT failed: REASON
  ADDRESS <- CONNECT TCP STATION
  ADDRESS tcp connected STATION
  ADDRESS tcp connect STATION failed: REASON, retrying
  ADDRESS tcp connect STATION failed: REASON, giving up
  ADDRESS tcp closed (WHY)               WHY: R, by station, new CONNECT,
                                         CONNECT UDP, reconnect-every, error
  ADDRESS <- S
  ADDRESS -> TEXT                        e.g. "198.18.0.2 -> +45.6,+23.4"
  ADDRESS ignores S (WHY)                WHY: silent, silent-after,
                                         not connected
  ADDRESS <- R
  ADDRESS <- unknown "BYTES"             (C escapes, at most 64 bytes shown)
  ADDRESS send failed: REASON
  ADDRESS outage begins                  (outage) going off ...
  ADDRESS outage ends                    ... and on again
  ADDRESS ignores WHAT (outage)          WHAT: S, SEARCH, CONNECT
  rogue flood done: N sent, M failed     after --flood-count datagrams
  rogue tcp idle connected STATION (K/N)
  rogue tcp idle closed by station (K/N)
  rogue tcp vanish connected STATION (K/N)
  rogue tcp vanished (K/N)               (reset) when TCP_REPAIR was refused
  rogue tcp vanish done
  rogue tcp connect STATION failed: REASON
  ignored datagram to DESTINATION        arrived on 0.0.0.0:65530 for an
                                         address that is no sensor's
  stopped                                at the end

Exit status: 0 after --help, --duration, SIGTERM or SIGINT; 1 when a socket
cannot be opened (for example an address that is not configured); 2 for a
bad command line.

Example (inside the namespaces made by tests/support/run_in_netns.sh):
  nsenter -t "$HYGRO_SIM_NETNS_PID" -n build/hygrolog-sim --count 3 \
      --fault 1002:split --fixed 1003=45.6,23.4 --duration 60
)HELP";
}

} // namespace hygrosim
