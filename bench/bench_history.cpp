// Figures for the history files: storing one reading (runs on the receive thread under
// the database lock, once per sensor and poll) and the day average at a rollover.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "acq/history_files.h"
#include "util/file_opt.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

using hygro::bench::BenchDir;

constexpr std::string_view kReading = "03 +45.6,+23.4\r\n";

void StoreReadings(const fs::path& file, int count) {
    hygro::CheckAndCreateUnicodeFile(file);
    for (int i = 0; i < count; ++i)
        hygro::SaveComRevData(kReading.data(), 16, file, static_cast<std::uint16_t>(i / 60 % 60),
                              static_cast<std::uint16_t>(i % 60), 45.6 + (i % 7) * 0.1, 23.4 - (i % 5) * 0.1);
}

// One hour file that grows as it does in the field; it is started afresh after an
// hour's worth of one-second polls so the file size stays realistic.
void BM_StoreReading(benchmark::State& state) {
    const fs::path dir = BenchDir("store");
    const fs::path file = dir / "2024" / "3" / "10" / "14.cvs";
    hygro::CheckAndCreateUnicodeFile(file);
    int i = 0;
    for (auto _ : state) {
        hygro::SaveComRevData(kReading.data(), 16, file, static_cast<std::uint16_t>(i / 60 % 60),
                              static_cast<std::uint16_t>(i % 60), 45.6 + (i % 7) * 0.1, 23.4 - (i % 5) * 0.1);
        if (++i == 3600) {
            state.PauseTiming();
            fs::remove(file);
            hygro::CheckAndCreateUnicodeFile(file);
            i = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
    fs::remove_all(dir);
}
BENCHMARK(BM_StoreReading)->UseRealTime();

// A full day of hour files; only their heads are read.
void BM_DayAverage(benchmark::State& state) {
    const fs::path dir = BenchDir("day");
    const fs::path day = dir / "2024" / "3" / "10";
    for (int hour = 0; hour < 24; ++hour) StoreReadings(day / (std::to_string(hour) + ".cvs"), 360);
    for (auto _ : state) hygro::SaveLastDayAvg(day);
    state.SetItemsProcessed(state.iterations() * 24);
    fs::remove_all(dir);
}
BENCHMARK(BM_DayAverage)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
