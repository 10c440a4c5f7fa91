// Sockets on both sides of the private network, bounded waits and a log tap for the
// network tests. Everything here assumes run_in_netns.sh made the namespaces.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/socket_ext.h"
#include "support/netns.h"
#include "util/ipv4.h"
#include "util/kx_log.h"

namespace hygro::test {

using namespace std::chrono_literals;

inline constexpr IPv4Bytes kStation{198, 18, 0, 1};

inline IPv4Bytes Ip(const char* text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text, &a) != 1) ADD_FAILURE() << "bad address " << text;
    IPv4Bytes ip{};
    std::memcpy(ip.data(), &a.s_addr, 4);
    return ip;
}

inline sockaddr_in SockAddr(const IPv4Bytes& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    std::memcpy(&a.sin_addr.s_addr, ip.data(), 4);
    return a;
}

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
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

// Polls pred every 10 ms until it holds or limit has passed; the last answer.
template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(10ms);
    }
}

inline std::uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

inline bool Bind(int fd, const IPv4Bytes& ip, std::uint16_t port) {
    const sockaddr_in a = SockAddr(ip, port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

inline void SetReuse(int fd) {
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

// A UDP socket in the sensors' namespace bound to ip:port (port 0: any).
inline Fd SensorUdp(const IPv4Bytes& ip, std::uint16_t port = 0) {
    Fd fd(SocketInNetns(SimNetnsPid(), AF_INET, SOCK_DGRAM));
    EXPECT_TRUE(fd.valid()) << std::strerror(errno);
    if (!fd.valid()) return fd;
    SetReuse(fd.get());
    EXPECT_TRUE(Bind(fd.get(), ip, port)) << IPv4Text(ip) << ":" << port << " " << std::strerror(errno);
    return fd;
}

// A UDP socket of the station's own namespace bound to ip:port.
inline Fd StationUdp(const IPv4Bytes& ip, std::uint16_t port = 0) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    EXPECT_TRUE(fd.valid());
    if (fd.valid()) {
        EXPECT_TRUE(Bind(fd.get(), ip, port)) << IPv4Text(ip) << " " << std::strerror(errno);
    }
    return fd;
}

// A TCP connection from sensor address `from` to the station's port.
inline Fd SensorConnect(const IPv4Bytes& from, std::uint16_t stationPort) {
    Fd fd(SocketInNetns(SimNetnsPid(), AF_INET, SOCK_STREAM));
    EXPECT_TRUE(fd.valid()) << std::strerror(errno);
    if (!fd.valid()) return fd;
    EXPECT_TRUE(Bind(fd.get(), from, 0)) << std::strerror(errno);
    const timeval limit{3, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_in to = SockAddr(kStation, stationPort);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0) << std::strerror(errno);
    return fd;
}

inline bool SendTo(int fd, const IPv4Bytes& ip, std::uint16_t port, std::string_view bytes) {
    const sockaddr_in to = SockAddr(ip, port);
    return ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

inline bool SendAll(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

inline bool Readable(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) == 1;
}

struct Datagram {
    std::string bytes;
    IPv4Bytes from{};
    std::uint16_t port = 0;
};

inline std::optional<Datagram> ReceiveDatagram(int fd, std::chrono::milliseconds limit = 3000ms) {
    if (!Readable(fd, limit)) return std::nullopt;
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    Datagram d;
    d.bytes.assign(buf, static_cast<std::size_t>(n));
    std::memcpy(d.from.data(), &from.sin_addr.s_addr, 4);
    d.port = ntohs(from.sin_port);
    return d;
}

// Reads from a stream until `want` bytes arrived, the peer closed or the limit passed.
inline std::string ReceiveStream(int fd, std::size_t want, std::chrono::milliseconds limit = 3000ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (out.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left <= 0ms || !Readable(fd, left)) break;
        char buf[512];
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, want - out.size()), MSG_DONTWAIT);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// True when the peer closed the connection (end of stream or reset) within the limit;
// bytes that arrive first are skipped.
inline bool SeesEnd(int fd, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left <= 0ms || !Readable(fd, left)) return false;
        char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    }
}

// Every text handed to the log while installed, in order. The lines live in shared
// state because worker threads may still hold a copy of the tap after removal.
class LogTap {
  public:
    void Install() {
        auto state = m_state;
        g_Log.SetTap([state](const std::string& text) {
            std::lock_guard lock(state->lock);
            state->lines.push_back(text);
        });
    }
    void Remove() { g_Log.SetTap({}); }

    std::vector<std::string> Lines() const {
        std::lock_guard lock(m_state->lock);
        return m_state->lines;
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const auto& l : Lines()) n += l == line ? 1 : 0;
        return n;
    }
    int CountStartingWith(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : Lines()) n += l.starts_with(prefix) ? 1 : 0;
        return n;
    }
    std::vector<std::string> StartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : Lines())
            if (l.starts_with(prefix)) out.push_back(l);
        return out;
    }
    bool WaitFor(const std::string& line, std::chrono::milliseconds limit = 3000ms) const {
        return WaitUntil([&] { return Count(line) > 0; }, limit);
    }
    void Clear() {
        std::lock_guard lock(m_state->lock);
        m_state->lines.clear();
    }

  private:
    struct State {
        std::mutex lock;
        std::vector<std::string> lines;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// Skips outside the private network; taps the log for the test's duration.
class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetns()) GTEST_SKIP() << "needs the private network of run_in_netns.sh";
        m_log.Install();
    }
    void TearDown() override { m_log.Remove(); }

    LogTap m_log;
};

// One sender's queued datagrams, copied under the endpoint's receive lock.
struct QueuedRecord {
    IPv4Bytes ip{};
    std::uint16_t port = 0;
    std::vector<std::string> blocks;
};

inline std::vector<QueuedRecord> Queue(CKxSocketExt& ext) {
    std::vector<QueuedRecord> out;
    auto lock = ext.LockReceive();
    for (int i = 0; i < ext.GetUdpServerRevDataCount(); ++i) {
        const CUdpReceiveData* r = ext.GetUdpServerRevData(i);
        QueuedRecord q{r->GetIP(), r->GetPort(), {}};
        for (int b = 0; b < r->GetDataCount(); ++b) q.blocks.emplace_back(r->GetData(b));
        out.push_back(std::move(q));
    }
    return out;
}

// The bytes held in a TCP connection's receive buffer.
inline std::string Received(CKxSocketExt& ext) {
    auto lock = ext.LockReceive();
    const char* buf = ext.GetReceiveBuffer();
    return buf ? std::string(buf, static_cast<std::size_t>(ext.GetReceiveCount())) : std::string();
}

} // namespace hygro::test
