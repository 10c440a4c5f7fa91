// Acquisition figures against 99 simulated sensors (198.18.0.2 .. 198.18.0.100, UDP):
//   - latency from the start of a poll cycle to each answer's record being on disk, over
//     30 cycles one second apart, and the number of answers lost;
//   - CPU time the station uses in one minute of normal running (10 s poll interval,
//     ticked once a second).
// It sends real traffic, so it runs only inside the private network, from the source root:
//   bash tests/support/run_in_netns.sh --sensors 100 build/bench_acquisition
// The simulator is $HYGROLOG_SIM, else hygrolog-sim next to this executable.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "acq/acquisition.h"
#include "app/app_core.h"
#include "settings/profile_file.h"
#include "support/netns.h"
#include "support/simulator.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/message_box.h"
#include "util/text.h"

extern char** environ;

namespace {

using namespace hygro;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kSensors = 99;
constexpr int kCycles = 30;
constexpr int kIdleSeconds = 60;
constexpr std::uint16_t kCmdPort = 50120;
constexpr std::uint16_t kDataPort = 50220;

// The poll time identifies the cycle an answer belongs to (cycles are a second apart).
long long PollKey(const SystemTime& t) {
    return ((static_cast<long long>(t.wDay) * 24 + t.wHour) * 60 + t.wMinute) * 60000LL + t.wSecond * 1000LL +
           t.wMilliseconds;
}

// When each record was on disk: the limit check follows the write directly.
class StoreTimes : public AcquisitionEvents {
  public:
    struct Stored {
        long long poll;
        Clock::time_point at;
    };
    void CheckLimits(int, double, double, double, double, double, double, const SystemTime& poll) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_lock);
        m_stored.push_back({PollKey(poll), now});
    }
    std::vector<Stored> Take() {
        std::lock_guard lock(m_lock);
        return std::exchange(m_stored, {});
    }

  private:
    std::mutex m_lock;
    std::vector<Stored> m_stored;
};


std::string SimulatorProgram() {
    if (const char* sim = std::getenv("HYGROLOG_SIM"); sim && *sim) return sim;
    std::error_code ec;
    return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "hygrolog-sim").string();
}

void WriteSettings(const std::filesystem::path& base) {
    ProfileFile doc;
    doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
    doc.SetString(u"DSNet", u"LocalPortForData", ToUtf16(std::to_string(kDataPort)));
    doc.SetString(u"DSNet", u"LocalPortForCmd", ToUtf16(std::to_string(kCmdPort)));
    doc.SetString(u"DSNet", u"UDPorTCP", u"UDP");
    doc.SetString(u"DSNet", u"time", u"10");
    doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(kSensors)));
    doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(kSensors)));
    for (int i = 0; i < kSensors; ++i) {
        const std::u16string section = ToUtf16(std::to_string(i + 1));
        const std::string name = "S" + std::to_string(i + 1);
        doc.SetString(section, u"name", ToUtf16(name));
        doc.SetString(section, u"FolderName", ToUtf16(name));
        doc.SetString(section, u"DeviceIPandPort",
                      ToUtf16("198.18.0." + std::to_string(i + 2) + ":" + std::to_string(kDataPort)));
        doc.SetString(section, u"Serial", ToUtf16(std::to_string(1001 + i)));
        doc.SetString(section, u"show", u"1");
    }
    test::WriteSealedSettings(base, doc);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::max(1.0, p * static_cast<double>(v.size()) + 0.999999));
    return v[std::min(rank, v.size()) - 1];
}

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Run() {
    if (!test::InPrivateNetns()) {
        std::puts("SKIP: run me through tests/support/run_in_netns.sh --sensors 100");
        return 77;
    }
    const char* count = std::getenv("HYGRO_SIM_SENSOR_COUNT");
    if (!count || std::atoi(count) < kSensors) {
        std::printf("SKIP: needs %d sensor addresses (--sensors %d)\n", kSensors, kSensors + 1);
        return 77;
    }
    SetMessageHandler([](const std::u16string& text, MsgButtons) {
        std::printf("message: %s\n", ToUtf8(text).c_str());
        return MsgAnswer::Ok;
    });

    test::TempDir home;
    WriteSettings(home.path());
    test::Simulator sim(home / "sim.log",
                        {"--count", std::to_string(kSensors), "--first-address", "198.18.0.2", "--quiet", "--duration",
                         "600"},
                        SimulatorProgram());
    if (!sim.Started() || !sim.WaitFor("ready " + std::to_string(kSensors) + " sensors", 1, false, 5s)) {
        std::printf("simulator did not start:\n%s\n", sim.Output().c_str());
        return 1;
    }

    CAppForNimbo1App app;
    if (app.InitGlobalValue(home.path()) != 1) return 1;
    app.StartUp();
    StoreTimes times;
    CAcquisition acq(app, &times);
    acq.StartTimerWorkThread();
    acq.StartCheckReceiveDataThread();

    // Until every sensor has taken the start-up CONNECT and answers.
    bool allAnswer = false;
    for (int i = 0; i < 10 && !allAnswer; ++i) {
        acq.SendSCmd();
        std::this_thread::sleep_for(1s);
        allAnswer = times.Take().size() == kSensors;
    }
    if (!allAnswer) std::puts("warning: not every sensor answered during the warm-up");

    std::map<long long, Clock::time_point> sent;
    std::vector<double> latency, sendTime;
    std::size_t stored = 0;
    for (int c = 0; c < kCycles; ++c) {
        const auto start = Clock::now();
        acq.SendSCmd();
        sendTime.push_back(Ms(Clock::now() - start));
        sent[PollKey(acq.GetPollTime())] = start;
        std::this_thread::sleep_until(start + 1s);
        for (const auto& s : times.Take()) {
            const auto it = sent.find(s.poll);
            if (it == sent.end()) continue;
            latency.push_back(Ms(s.at - it->second));
            ++stored;
        }
    }
    const std::size_t expected = static_cast<std::size_t>(kSensors) * kCycles;
    std::printf("poll cycles:          %d x %d sensors, 1 s apart (UDP)\n", kCycles, kSensors);
    std::printf("SendSCmd duration:    median %.3f ms, max %.3f ms\n", Percentile(sendTime, 0.5),
                Percentile(sendTime, 1.0));
    std::printf("poll -> record:       median %.3f ms, p99 %.3f ms, max %.3f ms\n", Percentile(latency, 0.5),
                Percentile(latency, 0.99), Percentile(latency, 1.0));
    std::printf("answers stored:       %zu of %zu, lost %zu\n", stored, expected, expected - std::min(stored, expected));

    // Normal running: the one-second tick starts a cycle every tenth second.
    times.Take();
    acq.StartTimerWorkThread();
    const double cpuBefore = CpuSeconds();
    const auto idleStart = Clock::now();
    for (int s = 1; s <= kIdleSeconds; ++s) {
        std::this_thread::sleep_until(idleStart + s * 1s);
        acq.OnTimerTick();
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    std::this_thread::sleep_for(1s); // the last cycle's answers
    const std::size_t idleStored = times.Take().size();
    std::printf("normal running:       %.0f s, poll interval 10 s, %zu readings stored\n", wall, idleStored);
    std::printf("process CPU time:     %.3f s (%.2f %% of one core)\n", cpu, 100.0 * cpu / wall);

    acq.Stop();
    return stored == expected ? 0 : 1;
}

} // namespace

int main() { return Run(); }
