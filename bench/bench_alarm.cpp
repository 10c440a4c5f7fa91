// Figures for the alarm file: an append to a file already holding 10000 records (each
// append drops the oldest by moving the other 9999 one slot forward), an append to a
// file with room, and the state check. Bytes written are what this process handed to
// write calls (/proc/self/io "wchar"), per append.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "acq/alarm_file.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

using hygro::bench::BenchDir;

// Bytes this process has passed to write(2) and friends so far; -1 when unknown.
long long WrittenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return -1;
}

hygro::SystemTime Nth(int k) {
    hygro::SystemTime t;
    t.wYear = 2026;
    t.wMonth = 1 + k / 100000 % 12;
    t.wDay = 1 + k / 3600 % 28;
    t.wHour = k / 3600 % 24;
    t.wMinute = k / 60 % 60;
    t.wSecond = k % 60;
    return t;
}

void Fill(const fs::path& file, int records) {
    for (int k = 0; k < records; ++k) hygro::AddSensorAlarmDataToFile(file, Nth(k), 85.0, 9.0);
}

void Report(benchmark::State& state, long long writtenBefore) {
    const long long after = WrittenBytes();
    if (writtenBefore >= 0 && after >= 0 && state.iterations() > 0)
        state.counters["bytes_written_per_append"] =
            static_cast<double>(after - writtenBefore) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
}

void BM_AlarmAppendToFullFile(benchmark::State& state) {
    const fs::path dir = BenchDir("alarm-full");
    const fs::path file = dir / "sensor" / "Alarm.txt";
    Fill(file, hygro::kMaxAlarmRecords);
    int k = hygro::kMaxAlarmRecords;
    const long long before = WrittenBytes();
    for (auto _ : state) {
        auto r = hygro::AddSensorAlarmDataToFile(file, Nth(k++), 85.0, 9.0);
        benchmark::DoNotOptimize(r);
    }
    Report(state, before);
    fs::remove_all(dir);
}
BENCHMARK(BM_AlarmAppendToFullFile)->UseRealTime();

// A file with room; restarted before it fills.
void BM_AlarmAppendWithRoom(benchmark::State& state) {
    const fs::path dir = BenchDir("alarm-room");
    const fs::path file = dir / "sensor" / "Alarm.txt";
    int k = 0;
    const long long before = WrittenBytes();
    for (auto _ : state) {
        auto r = hygro::AddSensorAlarmDataToFile(file, Nth(k), 85.0, 9.0);
        benchmark::DoNotOptimize(r);
        if (++k == hygro::kMaxAlarmRecords) {
            state.PauseTiming();
            fs::remove(file);
            k = 0;
            state.ResumeTiming();
        }
    }
    Report(state, before);
    fs::remove_all(dir);
}
BENCHMARK(BM_AlarmAppendWithRoom)->UseRealTime();

void BM_AlarmStateOfFullFile(benchmark::State& state) {
    const fs::path dir = BenchDir("alarm-state");
    const fs::path file = dir / "sensor" / "Alarm.txt";
    Fill(file, hygro::kMaxAlarmRecords);
    for (auto _ : state) benchmark::DoNotOptimize(hygro::CheckWiFiSensorAlarm(file, Nth(5000)));
    state.SetItemsProcessed(state.iterations());
    fs::remove_all(dir);
}
BENCHMARK(BM_AlarmStateOfFullFile)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
