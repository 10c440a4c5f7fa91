// Figures for loading chart points from the history files: every history mode's loader,
// the real-time loader and the table's five-minute window, for one sensor and for 99
// sensors (99 folders of their own, loaded one after the other as the charts do on a
// mode change). The files are in the page cache after the first pass, so the figures
// are warm-cache ones.
//
// The tree: sensor 0 holds ten years (2015-2024) of day, month and year averages; every
// sensor holds the hour files of 10 March 2024 (a reading every 10 s) and the averages
// the benchmarked periods read. Sensor 0 also has one hour of one-second readings.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "charts/chart_data.h"
#include "util/local_time.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSensors = 99;
constexpr int kFirstYear = 2015;
constexpr int kYear = 2024;
constexpr int kMonth = 3;
constexpr int kDay = 10;
constexpr int kBusyDay = 11; // one hour of one-second readings
constexpr int kBusyHour = 9;

hygro::SystemTime At(int y, int mo, int d, int h, int mi) {
    hygro::SystemTime t;
    t.wYear = static_cast<std::uint16_t>(y);
    t.wMonth = static_cast<std::uint16_t>(mo);
    t.wDay = static_cast<std::uint16_t>(d);
    t.wHour = static_cast<std::uint16_t>(h);
    t.wMinute = static_cast<std::uint16_t>(mi);
    return t;
}

void Write(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

std::string Means(double h, double t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+05.1f,%+05.1f", h, t);
    return buf;
}

// An hour file in the station's layout with a reading every `step` seconds.
std::string HourFile(int step, int seed) {
    const int count = 3600 / step;
    char head[48];
    std::snprintf(head, sizeof head, "Count=%04d,%04d\r\nAverg=", count, count);
    std::string out = head + Means(45.6, 23.4) + "\r\n";
    out.reserve(out.size() + static_cast<std::size_t>(count) * 22);
    for (int s = 0; s < 3600; s += step) {
        char rec[32];
        std::snprintf(rec, sizeof rec, "%02d:%02d 03 %s\r\n", s / 60, s % 60,
                      Means(40.0 + (s + seed) % 200 / 10.0, 15.0 + (s + seed) % 150 / 10.0).c_str());
        out += rec;
    }
    return out;
}

std::string Avg(int seed) {
    return "Averg=" + Means(40.0 + seed % 300 / 10.0, 10.0 + seed % 200 / 10.0);
}

struct Tree {
    fs::path root;
    std::vector<fs::path> sensors;
    std::size_t files = 0;
    std::uintmax_t bytes = 0;

    Tree() : root(hygro::bench::BenchDir("chart-load")) {
        for (int i = 0; i < kSensors; ++i)
            sensors.push_back(root / ("sensor" + std::to_string(i)));
        const fs::path& first = sensors.front();
        for (int y = kFirstYear; y <= kYear; ++y) {
            for (int m = 1; m <= 12; ++m) {
                for (int d = 1; d <= 31; ++d)
                    Add(first / std::to_string(y) / std::to_string(m) / std::to_string(d) / "Avg.cvs",
                        Avg(y + m + d));
                Add(first / std::to_string(y) / std::to_string(m) / "Avg.cvs", Avg(y + m));
            }
            Add(first / std::to_string(y) / "Avg.cvs", Avg(y));
        }
        Add(first / std::to_string(kYear) / std::to_string(kMonth) / std::to_string(kBusyDay) /
                (std::to_string(kBusyHour) + ".cvs"),
            HourFile(1, 0));
        for (int i = 0; i < kSensors; ++i) {
            const fs::path year = sensors[static_cast<std::size_t>(i)] / std::to_string(kYear);
            const fs::path month = year / std::to_string(kMonth);
            for (int h = 0; h < 24; ++h)
                Add(month / std::to_string(kDay) / (std::to_string(h) + ".cvs"), HourFile(10, i + h));
            if (i == 0) continue;
            for (int d = 1; d <= 31; ++d)
                Add(month / std::to_string(d) / "Avg.cvs", Avg(i + d));
            for (int m = 1; m <= 12; ++m)
                Add(year / std::to_string(m) / "Avg.cvs", Avg(i + m));
            for (int y = kFirstYear; y <= kYear; ++y)
                Add(sensors[static_cast<std::size_t>(i)] / std::to_string(y) / "Avg.cvs", Avg(i + y));
        }
    }
    ~Tree() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    void Add(const fs::path& file, const std::string& bytes) {
        Write(file, bytes);
        ++files;
        this->bytes += bytes.size();
    }
};

Tree& TheTree() {
    static Tree tree;
    return tree;
}

enum class Loader { RealTime, Hour, HourOneSecond, Day, Month, Year, TenYears, FiveMinuteWindow };

hygro::SensorPoints Load(Loader loader, const fs::path& folder) {
    using namespace hygro;
    switch (loader) {
    case Loader::RealTime:
        return LoadRealTimePoints(folder, At(kYear, kMonth, kDay, 14, 30));
    case Loader::Hour:
        return LoadHistoryPoints(folder, kShowModeHour, At(kYear, kMonth, kDay, 14, 0));
    case Loader::HourOneSecond:
        return LoadHistoryPoints(folder, kShowModeHour, At(kYear, kMonth, kBusyDay, kBusyHour, 0));
    case Loader::Day:
        return LoadHistoryPoints(folder, kShowModeDay, At(kYear, kMonth, kDay, 0, 0));
    case Loader::Month:
        return LoadHistoryPoints(folder, kShowModeMonth, At(kYear, kMonth, 1, 0, 0));
    case Loader::Year:
        return LoadHistoryPoints(folder, kShowModeYear, At(kYear, 1, 1, 0, 0));
    case Loader::TenYears:
        return LoadHistoryPoints(folder, kShowModeTenYears, At(kFirstYear, 1, 1, 0, 0));
    case Loader::FiveMinuteWindow:
        return LoadFiveMinuteWindow(folder, At(kYear, kMonth, kDay, 14, 57));
    }
    return {};
}

// range(0): how many sensors are loaded per iteration.
void BM_Load(benchmark::State& state, Loader loader) {
    const Tree& tree = TheTree();
    const auto sensors = static_cast<std::size_t>(state.range(0));
    std::size_t points = 0;
    for (auto _ : state) {
        points = 0;
        for (std::size_t i = 0; i < sensors; ++i) {
            const hygro::SensorPoints p = Load(loader, tree.sensors[i]);
            points += p.humidity.size() + p.temperature.size();
            benchmark::DoNotOptimize(p);
        }
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["sensors/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * sensors), benchmark::Counter::kIsRate);
}

#define LOADER(name, loader)                                                                                 \
    BENCHMARK_CAPTURE(BM_Load, name, loader)                                                                 \
        ->Arg(1)                                                                                             \
        ->Arg(kSensors)                                                                                      \
        ->Unit(benchmark::kMicrosecond)                                                                      \
        ->UseRealTime()

LOADER(real_time, Loader::RealTime);
LOADER(hour, Loader::Hour);
// Only sensor 0 has an hour of one-second polls: the largest hour file in practice.
BENCHMARK_CAPTURE(BM_Load, hour_1s_polls, Loader::HourOneSecond)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
LOADER(day, Loader::Day);
LOADER(month, Loader::Month);
LOADER(year, Loader::Year);
LOADER(ten_years, Loader::TenYears);
LOADER(five_minute_window, Loader::FiveMinuteWindow);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const Tree& tree = TheTree();
    std::printf("History tree: %zu files, %.1f MB of data, %d sensor folders, under %s\n", tree.files,
                static_cast<double>(tree.bytes) / 1e6, kSensors, tree.root.c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
