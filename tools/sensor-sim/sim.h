// The simulated sensors and their single-threaded event loop.
#pragma once

#include "options.h"
#include "protocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace hygrosim {

using Clock = std::chrono::steady_clock;

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : m_fd(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int m_fd = -1;
};

class Log {
  public:
    explicit Log(bool quiet) : m_quiet(quiet) {}
    void Event(const std::string& line) const;
    void Always(const std::string& line) const;

  private:
    bool m_quiet;
};

// Humidity 30..70, temperature 15..25, small steps; the same for the same seed.
class RandomWalk {
  public:
    RandomWalk(std::uint64_t seed, std::uint32_t serial);
    Reading Next();

  private:
    double Unit();
    std::mt19937_64 m_rng;
    Reading m_now;
};

class Simulator {
  public:
    Simulator(Options options, Log log);
    // 0 on a clean stop, 1 when a socket could not be opened or polling failed.
    int Run();

  private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };
    struct UdpLink {
        Fd fd;
        std::uint16_t port = 0;
        std::optional<Endpoint> station;
        std::uint64_t generation = 0;
    };
    enum class TcpState { Idle, Connecting, Pausing, Connected };
    struct TcpLink {
        Fd fd;
        TcpState state = TcpState::Idle;
        Endpoint station;
        int attempt = 0;
        Clock::time_point deadline;
        std::deque<Chunk> out;
        unsigned answersOnLink = 0;
        bool reconnectWhenFlushed = false;
        std::uint64_t generation = 0;
    };
    struct Sensor {
        SensorConfig config;
        std::string name;
        Fd command;
        UdpLink udp;
        TcpLink tcp;
        RandomWalk walk;
        std::size_t scriptNext = 0;
        unsigned answers = 0;
        bool off = false; // in an outage
    };
    enum class SlotKind { Signal, Wildcard, Command, Udp, Tcp, Rogue };
    enum class RogueState { Idle, Connecting, Connected };
    struct RogueConn {
        Fd fd;
        RogueState state = RogueState::Idle;
        Clock::time_point deadline;
        unsigned number = 0; // 1-based, for the log
        std::uint64_t generation = 0;
    };
    struct Flood {
        std::vector<Fd> sockets;
        std::string pattern; // random bytes; each datagram gets its own head
        std::string datagram;
        std::uint64_t sent = 0;
        std::uint64_t failed = 0;
        bool done = false;
    };
    struct Slot {
        SlotKind kind;
        std::size_t sensor;
        std::uint64_t generation;
    };

    bool Open();
    bool OpenRogue();
    bool Loop(); // false when polling failed
    void RunTimers(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline(Clock::time_point now) const;

    void OnWildcardReadable();
    void OnCommandReadable(Sensor& s);
    void OnCommand(Sensor& s, std::string_view bytes);
    void OnUdpReadable(Sensor& s);
    void OnTcpEvent(Sensor& s, short revents);

    // The parts of the answer to one "S"; empty when the sensor keeps quiet.
    std::vector<std::string> Answer(Sensor& s);
    Reading NextReading(Sensor& s);

    void OpenUdp(Sensor& s, const Endpoint& station);
    void CloseUdp(Sensor& s);
    void StartTcp(Sensor& s, const Endpoint& station);
    void BeginConnect(Sensor& s);
    void ConnectFailed(Sensor& s, int error);
    void CloseTcp(Sensor& s, const char* why);
    void FlushTcp(Sensor& s, Clock::time_point now);

    bool OffAt(const Sensor& s, Clock::time_point now) const;
    std::optional<Clock::time_point> NextOutageChange(const Sensor& s, Clock::time_point now) const;
    void RunOutages(Clock::time_point now);

    void RunRogue(Clock::time_point now);
    Clock::time_point FloodDue(std::uint64_t k) const;
    void SendFlood(Clock::time_point now);
    void StartRogueConnect(RogueConn& c, const Endpoint& to, Clock::time_point now);
    void OnRogueEvent(std::size_t index, short revents);
    void RogueConnectFailed(RogueConn& c, const Endpoint& to, int error);
    void Vanish(RogueConn& c);
    // The idle connections, then the vanishing one.
    RogueConn& RogueAt(std::size_t index) { return index < m_idle.size() ? m_idle[index] : m_vanish; }
    const RogueConn& RogueAt(std::size_t index) const {
        return index < m_idle.size() ? m_idle[index] : m_vanish;
    }

    Options m_options;
    Log m_log;
    std::vector<Sensor> m_sensors;
    std::unordered_set<in_addr_t> m_broadcasts;
    Fd m_wildcard;
    Fd m_signals;
    bool m_stop = false;
    Clock::time_point m_start;
    Flood m_flood;
    std::vector<RogueConn> m_idle;
    RogueConn m_vanish;
    bool m_vanishDone = true; // until a --tcp-vanish series is set up
};

} // namespace hygrosim
