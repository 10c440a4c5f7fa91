// The station's side of the simulator tests: the simulator as a child
// process in the sensors' namespace, and plain sockets at the station address.
#pragma once

#include "support/netns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace hygro::test {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(std::exchange(o.m_fd, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

inline std::string SimPath() {
    if (const char* p = std::getenv("HYGROLOG_SIM"); p && *p) return p;
    // Both executables land in the build folder.
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "hygrolog-sim").string();
}

// argv for running the simulator inside the sensors' namespace.
inline std::vector<std::string> SimCommand(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"nsenter", "-t", std::to_string(SimNetnsPid()), "-n", "--", SimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Starts argv with stdout and stderr on one pipe; -1 on failure.
inline pid_t Spawn(const std::vector<std::string>& argv, Fd& output) {
    std::array<int, 2> p{};
    if (pipe2(p.data(), O_CLOEXEC) != 0) return -1;
    Fd readEnd(p[0]);
    Fd writeEnd(p[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    std::vector<char*> cargv;
    for (const auto& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0) output = std::move(readEnd);
    return pid;
}

// Exit code, or 128 + signal.
inline int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A running simulator and the lines it has printed.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& argv) : m_pid(Spawn(argv, m_out)) {}
    ~SimProcess() { Stop(SIGTERM); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return m_pid > 0; }

    // Waits for a line containing `needle` at or after line number `from`.
    bool WaitFor(std::string_view needle, Ms timeout = 2000ms, std::size_t from = 0) {
        return WaitUntil([&](const std::string& l) { return l.find(needle) != std::string::npos; }, timeout,
                         from);
    }
    // Waits for a line that begins with `prefix`.
    bool WaitForStart(std::string_view prefix, Ms timeout = 2000ms) {
        return WaitUntil([&](const std::string& l) { return l.starts_with(prefix); }, timeout, 0);
    }
    template <typename Match> bool WaitUntil(Match match, Ms timeout, std::size_t from) {
        const auto deadline = SteadyClock::now() + timeout;
        for (;;) {
            for (std::size_t i = from; i < m_lines.size(); ++i)
                if (match(m_lines[i])) return true;
            const auto now = SteadyClock::now();
            if (m_eof || now >= deadline) return false;
            ReadSome(std::chrono::duration_cast<Ms>(deadline - now));
        }
    }

    // Lines so far, after taking whatever is already in the pipe.
    const std::vector<std::string>& Lines() {
        while (!m_eof && ReadSome(0ms)) {
        }
        return m_lines;
    }

    std::size_t Count(std::string_view needle, std::size_t from = 0) {
        const auto& lines = Lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin() + static_cast<long>(std::min(from, lines.size())), lines.end(),
                          [&](const std::string& l) { return l.find(needle) != std::string::npos; }));
    }

    std::string Text() {
        std::string all;
        for (const auto& l : Lines())
            all += l + "\n";
        return all;
    }

    // Sends `sig` (when still running) and returns the exit code, bounded:
    // a child that does not end within 3 s is killed.
    int Stop(int sig) {
        if (m_pid <= 0) return m_status;
        ::kill(m_pid, sig);
        return Reap(3000ms);
    }

    // Waits for the child to end by itself.
    int Reap(Ms timeout) {
        if (m_pid <= 0) return m_status;
        const auto deadline = SteadyClock::now() + timeout;
        int status = 0;
        for (;;) {
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) break;
            if (r < 0) {
                m_pid = -1;
                return m_status;
            }
            if (SteadyClock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            if (m_eof || !ReadSome(10ms)) std::this_thread::sleep_for(5ms);
        }
        m_pid = -1;
        m_status = DecodeStatus(status);
        Lines();
        return m_status;
    }

  private:
    bool ReadSome(Ms timeout) {
        pollfd p{m_out.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        std::array<char, 4096> buf{};
        const ssize_t n = ::read(m_out.get(), buf.data(), buf.size());
        if (n <= 0) {
            m_eof = true;
            return false;
        }
        m_partial.append(buf.data(), static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = m_partial.find('\n')) != std::string::npos;) {
            m_lines.push_back(m_partial.substr(0, nl));
            m_partial.erase(0, nl + 1);
        }
        return true;
    }

    Fd m_out;
    pid_t m_pid = -1;
    int m_status = -1;
    bool m_eof = false;
    std::string m_partial;
    std::vector<std::string> m_lines;
};

// Runs to the end (bounded) and returns the exit code and everything printed.
struct RunResult {
    int code = -1;
    std::string output;
};
inline RunResult RunToEnd(const std::vector<std::string>& argv, Ms timeout = 5000ms) {
    SimProcess p(argv);
    if (!p.started()) return {};
    RunResult r;
    r.code = p.Reap(timeout);
    r.output = p.Text();
    return r;
}

// ---- station sockets -------------------------------------------------------

inline sockaddr_in Address(const std::string& ip, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &sa.sin_addr);
    return sa;
}

inline std::uint16_t LocalPort(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

// Bound to 0.0.0.0 on an ephemeral port, like the station's sockets.
inline Fd UdpSocket(bool broadcast = false) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    if (broadcast) setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    const sockaddr_in any = Address("0.0.0.0", 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) fd.reset();
    return fd;
}

// A bound TCP socket; listen() is up to the caller so that a test can refuse
// connections first.
inline Fd TcpBound() {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in any = Address("0.0.0.0", 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) fd.reset();
    return fd;
}

inline bool SendTo(int fd, const std::string& ip, std::uint16_t port, std::string_view bytes) {
    const sockaddr_in to = Address(ip, port);
    return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

struct Datagram {
    std::string bytes;
    std::string ip;
    std::uint16_t port = 0;
};

inline bool Readable(int fd, Ms timeout) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

inline std::optional<Datagram> Receive(int fd, Ms timeout = 1000ms) {
    if (!Readable(fd, timeout)) return std::nullopt;
    std::array<char, 2048> buf{};
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    std::array<char, INET_ADDRSTRLEN> ip{};
    inet_ntop(AF_INET, &from.sin_addr, ip.data(), ip.size());
    return Datagram{std::string(buf.data(), static_cast<std::size_t>(n)), ip.data(), ntohs(from.sin_port)};
}

// Datagrams until none has come for `quiet`.
inline std::vector<Datagram> ReceiveAll(int fd, Ms quiet) {
    std::vector<Datagram> all;
    while (auto d = Receive(fd, quiet))
        all.push_back(std::move(*d));
    return all;
}

struct Accepted {
    Fd fd;
    std::string ip;
    std::uint16_t port = 0;
};

inline std::optional<Accepted> Accept(int listener, Ms timeout = 2000ms) {
    if (!Readable(listener, timeout)) return std::nullopt;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    Fd fd(::accept4(listener, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::array<char, INET_ADDRSTRLEN> ip{};
    inet_ntop(AF_INET, &from.sin_addr, ip.data(), ip.size());
    return Accepted{std::move(fd), ip.data(), ntohs(from.sin_port)};
}

inline bool SendAll(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Reads a TCP stream line by line without losing what follows a line.
class StreamReader {
  public:
    explicit StreamReader(int fd) : m_fd(fd) {}

    // The next line including its "\n"; nullopt at the end or on time-out.
    std::optional<std::string> Line(Ms timeout = 1000ms) {
        const auto deadline = SteadyClock::now() + timeout;
        for (;;) {
            if (const auto nl = m_buf.find('\n'); nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl + 1);
                m_buf.erase(0, nl + 1);
                return line;
            }
            if (m_eof || !Fill(deadline)) return std::nullopt;
        }
    }

    // What one read returns (after anything already buffered); nullopt on
    // time-out or at the end.
    std::optional<std::string> Some(Ms timeout = 1000ms) {
        if (m_buf.empty() && (m_eof || !Fill(SteadyClock::now() + timeout))) return std::nullopt;
        return std::exchange(m_buf, {});
    }

    // True once the peer has closed, within `timeout`.
    bool AtEnd(Ms timeout = 1000ms) {
        const auto deadline = SteadyClock::now() + timeout;
        while (!m_eof && Fill(deadline)) {
        }
        return m_eof;
    }

  private:
    bool Fill(SteadyClock::time_point deadline) {
        const auto left = std::chrono::duration_cast<Ms>(deadline - SteadyClock::now());
        if (left < 0ms || !Readable(m_fd, left)) return false;
        std::array<char, 512> buf{};
        const ssize_t n = ::recv(m_fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true; // spurious wake-up
        if (n <= 0) {
            m_eof = true; // closed, or reset
            return false;
        }
        m_buf.append(buf.data(), static_cast<std::size_t>(n));
        return true;
    }

    int m_fd;
    std::string m_buf;
    bool m_eof = false;
};

} // namespace hygro::test
