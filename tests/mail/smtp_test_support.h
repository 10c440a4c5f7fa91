// Helpers for the SMTP client tests: a scripted server thread on 127.0.0.1, the Node
// smtp-server peer as a child process, and a recorder for the client's traffic hook.
#pragma once

#include "mail/smtp.h"
#include "mail/smtp_auth.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
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

inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

inline std::vector<std::string> SplitLines(std::string_view text, std::string_view sep = "\r\n") {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(sep, start);
        if (end == std::string_view::npos) {
            out.emplace_back(text.substr(start));
            return out;
        }
        out.emplace_back(text.substr(start, end - start));
        start = end + sep.size();
    }
}

// The error id a call throws, 0 when it throws none.
inline int ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ECSmtp& e) {
        return e.GetErrorNum();
    }
    return 0;
}

// Every wait of the client shortened for one test: a 300 s reply time-out becomes 1 s.
class ShortTimeouts {
  public:
    explicit ShortTimeouts(double scale = 1.0 / 300) { SetSmtpTimeoutScaleForTesting(scale); }
    ~ShortTimeouts() { SetSmtpTimeoutScaleForTesting(1.0); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;
};

// What the traffic hook saw, each text with the login flag at that moment.
class TrafficLog {
  public:
    struct Entry {
        std::string text;
        int flag;
    };
    TrafficLog() {
        SetSmtpTrafficHook([this](const std::string& text) {
            const std::lock_guard lock(m_mutex);
            m_entries.push_back({text, g_bFlagsAuthLogin.load()});
        });
    }
    ~TrafficLog() { SetSmtpTrafficHook(nullptr); }
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    std::vector<Entry> Entries() const {
        const std::lock_guard lock(m_mutex);
        return m_entries;
    }
    bool Saw(std::string_view prefix) const {
        for (const Entry& e : Entries())
            if (StartsWith(e.text, prefix)) return true;
        return false;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// Accepts one client on 127.0.0.1 and plays a script: each step awaits a line starting
// with `await` ("" awaits nothing, "*" any line), then sends `reply`. QUIT is answered
// with 221 wherever it comes. Every line the client sent is kept (without CR LF).
class ScriptedSmtpServer {
  public:
    enum class Then { Continue, Close, Silent };
    struct Step {
        std::string await;
        std::string reply;
        Then then = Then::Continue;
        bool split = false; // reply in two TCP sends, 100 ms apart
    };

    explicit ScriptedSmtpServer(std::vector<Step> script) : m_script(std::move(script)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedSmtpServer() {
        Join();
        if (m_listen >= 0) ::close(m_listen);
    }
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // Waits for the dialogue to end (the client closed, or 5 s of silence).
    const std::vector<std::string>& Lines() {
        Join();
        return m_lines;
    }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

  private:
    void Run() {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        Play(fd);
        ::close(fd);
    }

    void Play(int fd) {
        std::string line;
        for (const Step& step : m_script) {
            if (!step.await.empty()) {
                for (;;) {
                    if (!ReadLine(fd, line)) return;
                    if (step.await == "*" || StartsWith(line, step.await)) break;
                    if (line == "QUIT") { // the client gave up early
                        Write(fd, "221 bye\r\n");
                        return;
                    }
                }
            }
            if (step.split && step.reply.size() > 1) {
                Write(fd, step.reply.substr(0, step.reply.size() / 2));
                std::this_thread::sleep_for(100ms);
                Write(fd, step.reply.substr(step.reply.size() / 2));
            } else {
                Write(fd, step.reply);
            }
            if (step.then == Then::Close) return;
            if (step.then == Then::Silent) {
                while (ReadLine(fd, line)) {
                }
                return;
            }
        }
        while (ReadLine(fd, line))
            if (line == "QUIT") Write(fd, "221 bye\r\n");
    }

    static void Write(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
            if (n <= 0) return;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    bool ReadLine(int fd, std::string& line) {
        for (;;) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                line = m_pending.substr(0, end);
                m_pending.erase(0, end + 2);
                m_lines.push_back(line);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return false;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            m_pending.append(buf, static_cast<std::size_t>(n));
        }
    }

    std::vector<Step> m_script;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::string m_pending;
    std::vector<std::string> m_lines;
};

// The Node smtp-server peer (tests/mail/peer/smtp_peer.js) as a child process.
class SmtpPeer {
  public:
    // The peer folder: $HYGROLOG_SMTP_PEER, else the source tree's.
    static std::filesystem::path Dir() {
        if (const char* env = std::getenv("HYGROLOG_SMTP_PEER"); env && *env) return env;
#ifdef HYGROLOG_SMTP_PEER_DEFAULT
        return HYGROLOG_SMTP_PEER_DEFAULT;
#else
        return {};
#endif
    }

    SmtpPeer() = default;
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;
    ~SmtpPeer() {
        Stop();
    }

    enum class Started { Yes, Skip, Failed };
    // Starts the peer and waits for its port; `why` explains Skip and Failed.
    Started Start(const std::vector<std::string>& args, std::string& why) {
        const std::filesystem::path script = Dir() / "smtp_peer.js";
        if (Dir().empty() || !std::filesystem::exists(script)) {
            why = "SMTP peer script not found (set HYGROLOG_SMTP_PEER)";
            return Started::Skip;
        }
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return Fail(why, "pipe failed");
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return Fail(why, "pipe failed");
        }
        std::vector<std::string> argvText{"node", script.string()};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argvText)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int rc = ::posix_spawnp(&m_pid, "node", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) {
            ::close(in[1]);
            ::close(out[0]);
            m_pid = -1;
            why = "node not found: the SMTP peer needs Node.js";
            return Started::Skip;
        }
        m_stdin = in[1];
        m_stdout = out[0];
        m_reader = std::thread([this] { ReadOutput(); });

        const auto first = WaitFor({"PORT ", "SKIP "}, 20s);
        if (first && StartsWith(*first, "PORT ")) {
            m_port = static_cast<std::uint16_t>(std::stoi(first->substr(5)));
            return Started::Yes;
        }
        if (first) {
            why = first->substr(5);
            return Started::Skip;
        }
        return Fail(why, "the SMTP peer did not start (see its stderr above)");
    }

    std::uint16_t port() const {
        return m_port;
    }

    // The first line so far starting with one of prefixes, waiting at most timeout for one.
    std::optional<std::string> WaitFor(std::vector<std::string_view> prefixes,
                                       std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(m_mutex);
        std::optional<std::string> found;
        m_cv.wait_for(lock, timeout, [&] {
            for (const std::string& line : m_lines)
                for (std::string_view p : prefixes)
                    if (StartsWith(line, p)) {
                        found = line;
                        return true;
                    }
            return m_eof;
        });
        return found;
    }

    std::vector<std::string> Lines() {
        const std::lock_guard lock(m_mutex);
        return m_lines;
    }

    void Stop() {
        if (m_stdin >= 0) ::close(m_stdin); // the peer ends on end of input
        m_stdin = -1;
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            bool gone = false;
            for (int i = 0; i < 100 && !gone; ++i) {
                gone = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
                if (!gone) std::this_thread::sleep_for(20ms);
            }
            if (!gone) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
            }
            m_pid = -1;
        }
        if (m_reader.joinable()) m_reader.join();
        if (m_stdout >= 0) ::close(m_stdout);
        m_stdout = -1;
    }

  private:
    static Started Fail(std::string& why, const char* text) {
        why = text;
        return Started::Failed;
    }

    void ReadOutput() {
        std::string pending;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_stdout, buf, sizeof buf);
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                {
                    const std::lock_guard lock(m_mutex);
                    m_lines.push_back(pending.substr(0, end));
                }
                pending.erase(0, end + 1);
                m_cv.notify_all();
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_eof = true;
        }
        m_cv.notify_all();
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::uint16_t m_port = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_lines;
    bool m_eof = false;
};

// Starts the peer in a test: skips the test when Node.js or the package is missing.
#define START_PEER(peer, ...)                                                                                \
    do {                                                                                                     \
        std::string why_;                                                                                    \
        switch ((peer).Start(__VA_ARGS__, why_)) {                                                           \
        case ::hygro::test::SmtpPeer::Started::Yes:                                                          \
            break;                                                                                           \
        case ::hygro::test::SmtpPeer::Started::Skip:                                                         \
            GTEST_SKIP() << why_;                                                                            \
        case ::hygro::test::SmtpPeer::Started::Failed:                                                       \
            FAIL() << why_;                                                                                  \
        }                                                                                                    \
    } while (0)

// A message the peer received.
struct Received {
    bool secure = false;
    std::string user;
    std::string from;
    std::vector<std::string> to;
    std::string data;
};

inline std::optional<Received> WaitMessage(SmtpPeer& peer) {
    const auto line = peer.WaitFor({"MESSAGE\t"});
    if (!line) return std::nullopt;
    const std::vector<std::string> f = SplitLines(*line, "\t");
    if (f.size() != 6) return std::nullopt;
    Received r;
    r.secure = f[1] == "1";
    r.user = f[2];
    r.from = f[3];
    r.to = SplitLines(f[4], ",");
    r.data = base64_decode(f[5]);
    return r;
}

} // namespace hygro::test
