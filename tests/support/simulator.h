// hygrolog-sim started in the sensors' namespace of run_in_netns.sh, its output in a file;
// stopped (SIGTERM, then SIGKILL) on destruction.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/netns.h"
#include "support/temp_dir.h"

extern char** environ;

namespace hygro::test {

class Simulator {
  public:
    // program defaults to $HYGROLOG_SIM.
    Simulator(const std::filesystem::path& log, const std::vector<std::string>& args, std::string program = {})
        : m_log(log) {
        if (program.empty()) {
            const char* env = std::getenv("HYGROLOG_SIM");
            program = env ? env : "";
        }
        std::vector<std::string> argv = {"nsenter", "-t", std::to_string(SimNetnsPid()), "-n", program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&m_pid, "nsenter", &actions, nullptr, raw.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Simulator() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool Started() const { return m_pid > 0; }
    std::string Output() const { return ReadFile(m_log); }
    // Lines equal to `line` or, with prefix set, starting with it.
    int Count(const std::string& line, bool prefix = false) const {
        const std::string out = Output();
        int n = 0;
        std::size_t pos = 0;
        while (pos < out.size()) {
            std::size_t end = out.find('\n', pos);
            if (end == std::string::npos) end = out.size();
            const std::string_view l(out.data() + pos, end - pos);
            n += (prefix ? l.starts_with(line) : l == line) ? 1 : 0;
            pos = end + 1;
        }
        return n;
    }
    // Waits (bounded) until `line` was logged at least `atLeast` times.
    bool WaitFor(const std::string& line, int atLeast = 1, bool prefix = false,
                 std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Count(line, prefix) < atLeast) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

  private:
    std::filesystem::path m_log;
    pid_t m_pid = -1;
};

} // namespace hygro::test
