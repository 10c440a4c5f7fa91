#include "sim.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hygrosim {
namespace {

constexpr int kConnectAttempts = 5;
constexpr auto kConnectPause = std::chrono::milliseconds(200);
constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kSplitGap = std::chrono::milliseconds(50);
constexpr auto kLongestWait = std::chrono::milliseconds(1000);
constexpr std::size_t kDatagramBuffer = 2048;
constexpr auto kVanishHold = std::chrono::milliseconds(300);
constexpr auto kVanishPause = std::chrono::milliseconds(200);
constexpr unsigned kFloodBurst = 1000; // datagrams sent at most per loop pass when behind

std::string Reason(int error) {
    return std::strerror(error);
}

sockaddr_in SocketAddress(in_addr_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

bool Bind(int fd, in_addr_t address, std::uint16_t port) {
    const sockaddr_in sa = SocketAddress(address, port);
    return bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool SetFlag(int fd, int level, int option) {
    const int one = 1;
    return setsockopt(fd, level, option, &one, sizeof one) == 0;
}

std::string WithoutLineEnd(std::string_view text) {
    if (text.ends_with("\r\n")) text.remove_suffix(2);
    return std::string(text);
}

std::string Serial6(std::uint32_t serial) {
    std::array<char, 16> buf{};
    std::snprintf(buf.data(), buf.size(), "%06u", static_cast<unsigned>(serial));
    return buf.data();
}

double Reflect(double v, double lo, double hi) {
    if (v < lo) v = 2 * lo - v;
    if (v > hi) v = 2 * hi - v;
    return std::clamp(v, lo, hi);
}

std::uint64_t Mix(std::uint64_t x) { // splitmix64 finaliser: nearby seeds give unrelated walks
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

void Fd::reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

void Log::Event(const std::string& line) const {
    if (!m_quiet) Always(line);
}

void Log::Always(const std::string& line) const {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

RandomWalk::RandomWalk(std::uint64_t seed, std::uint32_t serial) : m_rng(Mix(seed ^ Mix(serial))) {
    m_now.humidity = 30 + 40 * Unit();
    m_now.temperature = 15 + 10 * Unit();
}

double RandomWalk::Unit() {
    return static_cast<double>(m_rng() >> 11) * 0x1.0p-53;
}

Reading RandomWalk::Next() {
    m_now.humidity = Reflect(m_now.humidity + (Unit() - 0.5), 30, 70);
    m_now.temperature = Reflect(m_now.temperature + (Unit() - 0.5) * 0.4, 15, 25);
    return m_now;
}

Simulator::Simulator(Options options, Log log) : m_options(std::move(options)), m_log(log) {
    m_sensors.reserve(m_options.sensors.size());
    for (const auto& config : m_options.sensors)
        m_sensors.push_back(Sensor{config, FormatAddress(config.address), Fd{}, UdpLink{}, TcpLink{},
                                   RandomWalk(m_options.seed, config.serial), 0, 0});
}

int Simulator::Run() {
    if (!Open()) return 1;
    const bool clean = Loop();
    m_log.Always("stopped");
    return clean ? 0 : 1;
}

bool Simulator::Open() {
    // Blocked here and read from a signalfd so that a stop request is just
    // another event of the loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    m_signals.reset(signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_signals.valid()) {
        std::fprintf(stderr, "hygrolog-sim: signalfd: %s\n", Reason(errno).c_str());
        return false;
    }

    m_broadcasts.insert(INADDR_BROADCAST);
    if (ifaddrs* list = nullptr; getifaddrs(&list) == 0) {
        for (const ifaddrs* i = list; i; i = i->ifa_next) {
            if (!(i->ifa_flags & IFF_BROADCAST) || !i->ifa_addr || !i->ifa_broadaddr ||
                i->ifa_addr->sa_family != AF_INET || i->ifa_broadaddr->sa_family != AF_INET)
                continue;
            // An address added without "brd" reports itself as its broadcast address.
            const in_addr_t own = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
            const in_addr_t broadcast =
                reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
            if (broadcast != own) m_broadcasts.insert(broadcast);
        }
        freeifaddrs(list);
    }

    // Broadcasts reach only sockets bound to the wildcard address; unicast to
    // a sensor goes to the more specific socket bound to its own address.
    // Both share port 65530, hence SO_REUSEADDR on each.
    auto open = [](Fd& fd, in_addr_t address, bool pktinfo) {
        fd.reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.valid() && SetFlag(fd.get(), SOL_SOCKET, SO_REUSEADDR) &&
            (!pktinfo || SetFlag(fd.get(), IPPROTO_IP, IP_PKTINFO)) && Bind(fd.get(), address, kCommandPort))
            return true;
        std::fprintf(stderr, "hygrolog-sim: cannot open %s:%u: %s%s\n", FormatAddress(address).c_str(),
                     kCommandPort, Reason(errno).c_str(),
                     errno == EADDRNOTAVAIL ? " (the address must be configured on an interface here)" : "");
        return false;
    };
    // A rogue alone needs no port 65530.
    if (!m_sensors.empty() && !open(m_wildcard, htonl(INADDR_ANY), true)) return false;
    for (auto& s : m_sensors) {
        if (!open(s.command, s.config.address, false)) return false;
        m_log.Event(s.name + " serial " + Serial6(s.config.serial));
    }
    if (!OpenRogue()) return false;
    m_log.Always("ready " + std::to_string(m_sensors.size()) + " sensors");
    return true;
}

bool Simulator::OpenRogue() {
    const Rogue& r = m_options.rogue;
    if (r.address == 0) return true;
    if (!r.floodTo.empty()) {
        for (unsigned i = 0; i < r.floodPorts; ++i) {
            Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (!fd.valid() || !Bind(fd.get(), r.address, 0)) {
                std::fprintf(stderr, "hygrolog-sim: cannot open rogue %s: %s\n", FormatAddress(r.address).c_str(),
                             Reason(errno).c_str());
                return false;
            }
            m_flood.sockets.push_back(std::move(fd));
        }
        std::mt19937_64 rng(Mix(m_options.seed ^ 0x526F677565ull));
        m_flood.pattern.resize(r.floodSize);
        for (char& c : m_flood.pattern)
            c = static_cast<char>(rng() & 0xFF);
    }
    m_idle.resize(r.idleTo ? r.idleCount : 0);
    m_vanishDone = !r.vanishTo;
    return true;
}

bool Simulator::Loop() {
    m_start = Clock::now();
    std::optional<Clock::time_point> end;
    if (m_options.durationSeconds)
        end = m_start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(*m_options.durationSeconds));
    for (std::size_t i = 0; i < m_idle.size(); ++i) {
        m_idle[i].number = static_cast<unsigned>(i + 1);
        StartRogueConnect(m_idle[i], *m_options.rogue.idleTo, m_start);
    }

    std::vector<pollfd> fds;
    std::vector<Slot> slots;
    while (!m_stop) {
        auto now = Clock::now();
        if (end && now >= *end) return true;
        RunTimers(now);

        fds.clear();
        slots.clear();
        auto add = [&](int fd, short events, SlotKind kind, std::size_t sensor, std::uint64_t generation) {
            fds.push_back(pollfd{fd, events, 0});
            slots.push_back(Slot{kind, sensor, generation});
        };
        add(m_signals.get(), POLLIN, SlotKind::Signal, 0, 0);
        if (m_wildcard.valid()) add(m_wildcard.get(), POLLIN, SlotKind::Wildcard, 0, 0);
        for (std::size_t i = 0; i < m_sensors.size(); ++i) {
            const Sensor& s = m_sensors[i];
            add(s.command.get(), POLLIN, SlotKind::Command, i, 0);
            if (s.udp.fd.valid()) add(s.udp.fd.get(), POLLIN, SlotKind::Udp, i, s.udp.generation);
            if (s.tcp.fd.valid() && s.tcp.state == TcpState::Connecting)
                add(s.tcp.fd.get(), POLLOUT, SlotKind::Tcp, i, s.tcp.generation);
            if (s.tcp.fd.valid() && s.tcp.state == TcpState::Connected) {
                const bool due = !s.tcp.out.empty() && s.tcp.out.front().due <= now;
                add(s.tcp.fd.get(), static_cast<short>(POLLIN | (due ? POLLOUT : 0)), SlotKind::Tcp, i,
                    s.tcp.generation);
            }
        }
        for (std::size_t i = 0; i <= m_idle.size(); ++i) {
            const RogueConn& c = RogueAt(i);
            if (!c.fd.valid()) continue;
            // A vanishing connection is never read: whatever the station sends stays unread.
            if (c.state == RogueState::Connecting)
                add(c.fd.get(), POLLOUT, SlotKind::Rogue, i, c.generation);
            else if (c.state == RogueState::Connected && i < m_idle.size())
                add(c.fd.get(), POLLIN, SlotKind::Rogue, i, c.generation);
        }

        auto wait = std::chrono::duration_cast<Clock::duration>(kLongestWait);
        if (end) wait = std::min(wait, *end - now);
        if (auto next = NextDeadline(now)) wait = std::min(wait, *next - now);
        const int timeout = static_cast<int>(
            std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));

        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "hygrolog-sim: poll: %s\n", Reason(errno).c_str());
            return false;
        }
        for (std::size_t k = 0; k < fds.size() && !m_stop; ++k) {
            if (fds[k].revents == 0) continue;
            const Slot& slot = slots[k];
            switch (slot.kind) {
            case SlotKind::Signal: {
                signalfd_siginfo info{};
                if (read(m_signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                    m_stop = true;
                break;
            }
            case SlotKind::Wildcard:
                OnWildcardReadable();
                break;
            case SlotKind::Command:
                OnCommandReadable(m_sensors[slot.sensor]);
                break;
            case SlotKind::Udp: {
                // Handling an earlier slot may have replaced this socket.
                Sensor& s = m_sensors[slot.sensor];
                if (s.udp.fd.valid() && s.udp.generation == slot.generation) OnUdpReadable(s);
                break;
            }
            case SlotKind::Tcp: {
                Sensor& s = m_sensors[slot.sensor];
                if (s.tcp.fd.valid() && s.tcp.generation == slot.generation) OnTcpEvent(s, fds[k].revents);
                break;
            }
            case SlotKind::Rogue: {
                const RogueConn& c = RogueAt(slot.sensor);
                if (c.fd.valid() && c.generation == slot.generation) OnRogueEvent(slot.sensor, fds[k].revents);
                break;
            }
            }
        }
    }
    return true;
}

void Simulator::RunTimers(Clock::time_point now) {
    RunOutages(now);
    RunRogue(now);
    for (auto& s : m_sensors) {
        switch (s.tcp.state) {
        case TcpState::Connecting:
            if (now >= s.tcp.deadline) ConnectFailed(s, ETIMEDOUT);
            break;
        case TcpState::Pausing:
            if (now >= s.tcp.deadline) BeginConnect(s);
            break;
        case TcpState::Connected:
            FlushTcp(s, now);
            break;
        case TcpState::Idle:
            break;
        }
    }
}

std::optional<Clock::time_point> Simulator::NextDeadline(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point t) {
        if (!next || t < *next) next = t;
    };
    for (const auto& s : m_sensors) {
        if (s.tcp.state == TcpState::Connecting || s.tcp.state == TcpState::Pausing) consider(s.tcp.deadline);
        // A chunk that is already due waits for POLLOUT instead.
        if (s.tcp.state == TcpState::Connected && !s.tcp.out.empty() && s.tcp.out.front().due > now)
            consider(s.tcp.out.front().due);
        if (auto change = NextOutageChange(s, now)) consider(*change);
    }
    if (!m_flood.sockets.empty() && !m_flood.done) consider(FloodDue(m_flood.sent + m_flood.failed));
    for (std::size_t i = 0; i <= m_idle.size(); ++i) {
        const RogueConn& c = RogueAt(i);
        const bool waits = c.state == RogueState::Connecting ||
                           (i == m_idle.size() && !m_vanishDone);
        if (waits) consider(c.deadline);
    }
    return next;
}

void Simulator::OnWildcardReadable() {
    std::array<char, kDatagramBuffer> buf{};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    sockaddr_in from{};
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    const ssize_t n = recvmsg(m_wildcard.get(), &msg, MSG_DONTWAIT);
    if (n < 0) return;
    const std::string_view bytes(buf.data(), std::min<std::size_t>(static_cast<std::size_t>(n), buf.size()));

    std::optional<in_addr_t> destination;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            destination = info.ipi_addr.s_addr;
        }
    }
    if (!destination) return;

    for (auto& s : m_sensors) {
        if (s.config.address == *destination) {
            OnCommand(s, bytes);
            return;
        }
    }
    if (!m_broadcasts.count(*destination)) {
        m_log.Event("ignored datagram to " + FormatAddress(*destination));
        return;
    }
    for (auto& s : m_sensors)
        OnCommand(s, bytes);
}

void Simulator::OnCommandReadable(Sensor& s) {
    std::array<char, kDatagramBuffer> buf{};
    const ssize_t n = recv(s.command.get(), buf.data(), buf.size(), MSG_DONTWAIT);
    if (n < 0) return;
    OnCommand(s, std::string_view(buf.data(), static_cast<std::size_t>(n)));
}

void Simulator::OnCommand(Sensor& s, std::string_view bytes) {
    const auto command = ParseCommand(bytes);
    if (!command) {
        m_log.Event(s.name + " <- unknown \"" + Printable(bytes) + "\"");
        return;
    }
    const std::string station = FormatEndpoint(command->station);
    if (s.off) {
        static constexpr const char* kWhat[] = {"SEARCH", "CONNECT", "CONNECT"};
        m_log.Event(s.name + " ignores " + kWhat[static_cast<int>(command->kind)] + " (outage)");
        return;
    }
    switch (command->kind) {
    case CommandKind::Search: {
        m_log.Event(s.name + " <- SEARCH " + station);
        const Faults& f = s.config.faults;
        if (f.noSearch) {
            m_log.Event(s.name + " ignores SEARCH (no-search)");
            return;
        }
        const std::string reply = SearchReply(s.config.serial, f.oldVersion, f.shortReply);
        const sockaddr_in to = SocketAddress(command->station.address, command->station.port);
        if (sendto(s.command.get(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
            m_log.Event(s.name + " send failed: " + Reason(errno));
            return;
        }
        m_log.Event(s.name + " -> reply " + Serial6(s.config.serial) +
                    (f.oldVersion ? " (old-version)" : "") + (f.shortReply ? " (short-reply)" : ""));
        return;
    }
    case CommandKind::ConnectUdp:
        m_log.Event(s.name + " <- CONNECT UDP " + station);
        CloseTcp(s, "CONNECT UDP");
        OpenUdp(s, command->station);
        return;
    case CommandKind::ConnectTcp:
        m_log.Event(s.name + " <- CONNECT TCP " + station);
        CloseUdp(s);
        StartTcp(s, command->station);
        return;
    }
}

Reading Simulator::NextReading(Sensor& s) {
    if (s.scriptNext < s.config.script.size()) return s.config.script[s.scriptNext++];
    if (s.config.fixed) return *s.config.fixed;
    return s.walk.Next();
}

std::vector<std::string> Simulator::Answer(Sensor& s) {
    const Faults& f = s.config.faults;
    if (f.silent) {
        m_log.Event(s.name + " ignores S (silent)");
        return {};
    }
    if (f.silentAfter && s.answers >= *f.silentAfter) {
        m_log.Event(s.name + " ignores S (silent-after)");
        return {};
    }
    std::string text;
    std::string note;
    if (f.malformed) {
        text = "ERR\r\n";
        note = " (malformed)";
    } else if (f.errorValues) {
        text = FormatReading(Reading{99.9, 80.0});
        note = " (error-values)";
    } else {
        text = FormatReading(NextReading(s));
    }
    ++s.answers;
    std::vector<std::string> parts;
    if (f.split) {
        const std::size_t half = text.size() / 2;
        parts = {text.substr(0, half), text.substr(half)};
        note += " (split)";
    } else {
        parts = {text};
    }
    m_log.Event(s.name + " -> " + Printable(WithoutLineEnd(text)) + note);
    return parts;
}

void Simulator::OnUdpReadable(Sensor& s) {
    std::array<char, kDatagramBuffer> buf{};
    const ssize_t n = recv(s.udp.fd.get(), buf.data(), buf.size(), MSG_DONTWAIT);
    if (n < 0) return;
    const std::string_view bytes(buf.data(), static_cast<std::size_t>(n));
    if (bytes == "R") {
        m_log.Event(s.name + " <- R");
        s.udp.station.reset();
        return;
    }
    if (bytes != "S") {
        m_log.Event(s.name + " <- unknown \"" + Printable(bytes) + "\"");
        return;
    }
    m_log.Event(s.name + " <- S");
    if (s.off) {
        m_log.Event(s.name + " ignores S (outage)");
        return;
    }
    if (!s.udp.station) {
        m_log.Event(s.name + " ignores S (not connected)");
        return;
    }
    const sockaddr_in to = SocketAddress(s.udp.station->address, s.udp.station->port);
    for (const auto& part : Answer(s)) {
        if (sendto(s.udp.fd.get(), part.data(), part.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            m_log.Event(s.name + " send failed: " + Reason(errno));
    }
}

void Simulator::OpenUdp(Sensor& s, const Endpoint& station) {
    const std::string port = std::to_string(station.port);
    if (!s.udp.fd.valid() || s.udp.port != station.port) {
        CloseUdp(s);
        Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.valid() || !Bind(fd.get(), s.config.address, station.port)) {
            m_log.Event(s.name + " udp data port " + port + " failed: " + Reason(errno));
            return;
        }
        s.udp.fd = std::move(fd);
        s.udp.port = station.port;
        ++s.udp.generation;
    }
    s.udp.station = station;
    m_log.Event(s.name + " udp data port " + port);
}

void Simulator::CloseUdp(Sensor& s) {
    s.udp.fd.reset();
    s.udp.port = 0;
    s.udp.station.reset();
}

void Simulator::StartTcp(Sensor& s, const Endpoint& station) {
    CloseTcp(s, "new CONNECT");
    s.tcp.station = station;
    s.tcp.attempt = 0;
    BeginConnect(s);
}

void Simulator::BeginConnect(Sensor& s) {
    TcpLink& t = s.tcp;
    ++t.attempt;
    ++t.generation;
    t.fd.reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // Bound first so that the connection comes from the sensor's own address.
    if (!t.fd.valid() || !Bind(t.fd.get(), s.config.address, 0)) {
        ConnectFailed(s, errno);
        return;
    }
    const sockaddr_in to = SocketAddress(t.station.address, t.station.port);
    if (connect(t.fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        t.state = TcpState::Connected;
        t.answersOnLink = 0;
        m_log.Event(s.name + " tcp connected " + FormatEndpoint(t.station));
    } else if (errno == EINPROGRESS) {
        t.state = TcpState::Connecting;
        t.deadline = Clock::now() + kConnectTimeout;
    } else {
        ConnectFailed(s, errno);
    }
}

void Simulator::ConnectFailed(Sensor& s, int error) {
    TcpLink& t = s.tcp;
    t.fd.reset();
    const bool retry = t.attempt < kConnectAttempts;
    m_log.Event(s.name + " tcp connect " + FormatEndpoint(t.station) + " failed: " + Reason(error) +
                (retry ? ", retrying" : ", giving up"));
    t.state = retry ? TcpState::Pausing : TcpState::Idle;
    t.deadline = Clock::now() + kConnectPause;
}

void Simulator::CloseTcp(Sensor& s, const char* why) {
    TcpLink& t = s.tcp;
    if (t.state == TcpState::Connected) m_log.Event(s.name + " tcp closed (" + why + ")");
    t.fd.reset();
    t.state = TcpState::Idle;
    t.out.clear();
    t.answersOnLink = 0;
    t.reconnectWhenFlushed = false;
}

void Simulator::OnTcpEvent(Sensor& s, short revents) {
    TcpLink& t = s.tcp;
    if (t.state == TcpState::Connecting) {
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(t.fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (error != 0) {
            ConnectFailed(s, error);
            return;
        }
        t.state = TcpState::Connected;
        t.answersOnLink = 0;
        m_log.Event(s.name + " tcp connected " + FormatEndpoint(t.station));
        return;
    }
    if (t.state != TcpState::Connected) return;

    if (revents & (POLLIN | POLLERR | POLLHUP)) {
        std::array<char, 512> buf{};
        const ssize_t n = recv(t.fd.get(), buf.data(), buf.size(), MSG_DONTWAIT);
        if (n == 0) {
            CloseTcp(s, "by station");
            return;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            CloseTcp(s, "error");
            return;
        }
        std::string unknown;
        auto reportUnknown = [&] {
            if (unknown.empty()) return;
            m_log.Event(s.name + " <- unknown \"" + Printable(unknown) + "\"");
            unknown.clear();
        };
        for (const char c : std::string_view(buf.data(), static_cast<std::size_t>(n))) {
            if (c == 'R') {
                reportUnknown();
                m_log.Event(s.name + " <- R");
                CloseTcp(s, "R");
                return;
            }
            if (c != 'S') {
                unknown += c;
                continue;
            }
            reportUnknown();
            m_log.Event(s.name + " <- S");
            const auto parts = Answer(s);
            if (parts.empty()) continue;
            Clock::time_point due = Clock::now();
            if (!t.out.empty()) due = std::max(due, t.out.back().due);
            for (const auto& part : parts) {
                t.out.push_back(Chunk{due, part});
                due += kSplitGap;
            }
            const auto& every = s.config.faults.reconnectEvery;
            if (every && ++t.answersOnLink >= *every) {
                // The rest of this read is dropped with the connection.
                t.reconnectWhenFlushed = true;
                break;
            }
        }
        reportUnknown();
    }
    FlushTcp(s, Clock::now());
}

void Simulator::FlushTcp(Sensor& s, Clock::time_point now) {
    TcpLink& t = s.tcp;
    while (t.state == TcpState::Connected && !t.out.empty() && t.out.front().due <= now) {
        Chunk& chunk = t.out.front();
        const ssize_t n =
            send(t.fd.get(), chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            m_log.Event(s.name + " send failed: " + Reason(errno));
            CloseTcp(s, "error");
            return;
        }
        chunk.bytes.erase(0, static_cast<std::size_t>(n));
        if (!chunk.bytes.empty()) return; // the rest when POLLOUT says so
        t.out.pop_front();
    }
    if (t.state == TcpState::Connected && t.out.empty() && t.reconnectWhenFlushed) {
        CloseTcp(s, "reconnect-every");
        t.attempt = 0;
        BeginConnect(s);
    }
}

} // namespace hygrosim

namespace hygrosim {

// ---- outages -------------------------------------------------------------------

bool Simulator::OffAt(const Sensor& s, Clock::time_point now) const {
    const auto& o = s.config.faults.outage;
    if (!o) return false;
    const auto period = std::chrono::seconds(o->up + o->down);
    const auto phase = (now - m_start) % period;
    return phase >= std::chrono::seconds(o->up);
}

std::optional<Clock::time_point> Simulator::NextOutageChange(const Sensor& s, Clock::time_point now) const {
    const auto& o = s.config.faults.outage;
    if (!o) return std::nullopt;
    const auto period = std::chrono::seconds(o->up + o->down);
    const auto phase = (now - m_start) % period;
    const auto up = std::chrono::seconds(o->up);
    return now + (phase < up ? up - phase : period - phase);
}

void Simulator::RunOutages(Clock::time_point now) {
    for (auto& s : m_sensors) {
        const bool off = OffAt(s, now);
        if (off == s.off) continue;
        s.off = off;
        if (off) {
            m_log.Event(s.name + " outage begins");
            // Power is gone: the station is forgotten and the connection with it.
            s.udp.station.reset();
            CloseTcp(s, "outage");
        } else {
            m_log.Event(s.name + " outage ends");
        }
    }
}

// ---- the rogue ------------------------------------------------------------------

Clock::time_point Simulator::FloodDue(std::uint64_t k) const {
    const auto step = std::chrono::duration<double>(1.0 / m_options.rogue.floodRate);
    return m_start + std::chrono::duration_cast<Clock::duration>(step * static_cast<double>(k));
}

void Simulator::RunRogue(Clock::time_point now) {
    const Rogue& r = m_options.rogue;
    if (r.address == 0) return;
    SendFlood(now);
    for (auto& c : m_idle) {
        if (c.state == RogueState::Connecting && now >= c.deadline) RogueConnectFailed(c, *r.idleTo, ETIMEDOUT);
    }
    if (m_vanishDone) return;
    RogueConn& v = m_vanish;
    if (v.state == RogueState::Connecting && now >= v.deadline) {
        RogueConnectFailed(v, *r.vanishTo, ETIMEDOUT);
        v.deadline = now + kVanishPause;
    } else if (v.state == RogueState::Connected && now >= v.deadline) {
        Vanish(v);
        v.deadline = now + kVanishPause;
    }
    if (v.state != RogueState::Idle || now < v.deadline) return;
    if (v.number >= r.vanishCount) {
        m_vanishDone = true;
        m_log.Event("rogue tcp vanish done");
        return;
    }
    ++v.number;
    StartRogueConnect(v, *r.vanishTo, now);
}

void Simulator::SendFlood(Clock::time_point now) {
    const Rogue& r = m_options.rogue;
    if (m_flood.sockets.empty() || m_flood.done) return;
    static constexpr std::string_view kHeads[] = {"+50.0,+20.0\r\n", "@WiFi Sensor/T VER1.00,999999\r\n"};
    for (unsigned burst = 0; burst < kFloodBurst; ++burst) {
        const std::uint64_t k = m_flood.sent + m_flood.failed;
        if (k >= r.floodCount) {
            m_flood.done = true;
            m_log.Event("rogue flood done: " + std::to_string(m_flood.sent) + " sent, " +
                        std::to_string(m_flood.failed) + " failed");
            return;
        }
        if (now < FloodDue(k)) return;
        m_flood.datagram = m_flood.pattern;
        std::string& d = m_flood.datagram;
        if (k % 4 < 2) {
            const std::string_view head = kHeads[k % 4];
            d.replace(0, std::min(head.size(), d.size()), head.substr(0, std::min(head.size(), d.size())));
        } else {
            std::memcpy(d.data(), &k, std::min(sizeof k, d.size()));
        }
        const Endpoint& to = r.floodTo[k % r.floodTo.size()];
        const sockaddr_in sa = SocketAddress(to.address, to.port);
        const int fd = m_flood.sockets[k % m_flood.sockets.size()].get();
        if (sendto(fd, d.data(), d.size(), MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                   sizeof sa) == static_cast<ssize_t>(d.size()))
            ++m_flood.sent;
        else
            ++m_flood.failed;
    }
}

void Simulator::StartRogueConnect(RogueConn& c, const Endpoint& to, Clock::time_point now) {
    ++c.generation;
    c.fd.reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!c.fd.valid() || !Bind(c.fd.get(), m_options.rogue.address, 0)) {
        RogueConnectFailed(c, to, errno);
        return;
    }
    const sockaddr_in sa = SocketAddress(to.address, to.port);
    if (connect(c.fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        RogueConnectFailed(c, to, errno);
        return;
    }
    c.state = RogueState::Connecting;
    c.deadline = now + kConnectTimeout;
}

void Simulator::RogueConnectFailed(RogueConn& c, const Endpoint& to, int error) {
    c.fd.reset();
    c.state = RogueState::Idle;
    m_log.Event("rogue tcp connect " + FormatEndpoint(to) + " failed: " + Reason(error));
}

void Simulator::OnRogueEvent(std::size_t index, short revents) {
    RogueConn& c = RogueAt(index);
    const bool idle = index < m_idle.size();
    const Rogue& r = m_options.rogue;
    const Endpoint& to = idle ? *r.idleTo : *r.vanishTo;
    const std::string of =
        " (" + std::to_string(c.number) + "/" + std::to_string(idle ? r.idleCount : r.vanishCount) + ")";
    if (c.state == RogueState::Connecting) {
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(c.fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (error != 0) {
            RogueConnectFailed(c, to, error);
            if (!idle) c.deadline = Clock::now() + kVanishPause;
            return;
        }
        c.state = RogueState::Connected;
        c.deadline = Clock::now() + kVanishHold;
        m_log.Event(std::string("rogue tcp ") + (idle ? "idle" : "vanish") + " connected " + FormatEndpoint(to) + of);
        return;
    }
    if (c.state != RogueState::Connected || !(revents & (POLLIN | POLLERR | POLLHUP))) return;
    // An idle connection never sends; what the station sends is read and dropped.
    std::array<char, 512> buf{};
    const ssize_t n = recv(c.fd.get(), buf.data(), buf.size(), MSG_DONTWAIT);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return;
    c.fd.reset();
    c.state = RogueState::Idle;
    m_log.Event("rogue tcp idle closed by station" + of);
}

void Simulator::Vanish(RogueConn& c) {
    // In repair mode close() sends nothing, so the station keeps a connection whose
    // other end no longer exists. Without the capability, an abortive close (RST) is the
    // nearest thing.
    const int on = 1;
    const bool repaired = setsockopt(c.fd.get(), IPPROTO_TCP, TCP_REPAIR, &on, sizeof on) == 0;
    if (!repaired) {
        const linger abort{1, 0};
        setsockopt(c.fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    c.fd.reset();
    c.state = RogueState::Idle;
    m_log.Event("rogue tcp vanished (" + std::to_string(c.number) + "/" +
                std::to_string(m_options.rogue.vanishCount) + ")" + (repaired ? "" : " (reset)"));
}

} // namespace hygrosim
