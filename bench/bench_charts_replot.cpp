// Redrawing both chart panes with a full day of 10-second readings per sensor (8640
// points per curve), offscreen. Run: build/bench_charts_replot
#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "charts/lumo_charts.h"

namespace {

using hygro::SensorPoints;
using hygro::XAxisSpec;
using hygro::charts::ChartPane;
using hygro::charts::LumoCharts;

constexpr int kPointsPerDay = 8640;

XAxisSpec DayAxis() { return {true, "Time(unit:Minute)", -0.0000001, 1.0 - 0.0000001, 4 / 24.0, 1 / 24.0}; }

XAxisSpec FiveMinuteAxis() {
    const double min = 14 / 24.0 + 26 / 1440.0 - 0.0000001;
    return {true, "Time(unit:Minute)", min, min + 5 / 1440.0, 1 / 1440.0, 20 / 86400.0};
}

// The main window's right side: humidity above temperature, 700 x 300 each.
struct Panes {
    QWidget window;
    ChartPane* upper;
    ChartPane* lower;
    std::unique_ptr<LumoCharts> charts;

    Panes(int sensors, const XAxisSpec& x) {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        upper = new ChartPane(hygro::HumidityAxis(), true, &window);
        lower = new ChartPane(hygro::TemperatureAxis(), true, &window);
        layout->addWidget(upper);
        layout->addWidget(lower);
        window.resize(700, 600);
        charts = std::make_unique<LumoCharts>(upper, lower);
        charts->SetXAxis(x);
        for (int n = 0; n < sensors; ++n) {
            charts->AddLineForNewWiFiSensor(n, {QString::number(n), QColor::fromHsv(n * 37 % 360, 220, 200)});
            SensorPoints p;
            p.humidity.reserve(kPointsPerDay);
            p.temperature.reserve(kPointsPerDay);
            for (int i = 0; i < kPointsPerDay; ++i) {
                const double x = i * 10 / 86400.0;
                const double noise = std::sin(i * 0.7 + n) * 0.8;
                p.humidity.push_back({x, 30 + (n % 50) + 8 * std::sin(6.283 * x) + noise});
                p.temperature.push_back({x, -10 + (n % 60) + 5 * std::cos(6.283 * x) + noise});
            }
            charts->AddPoints(n, p);
        }
        window.show();
        QApplication::processEvents();
    }
};

void ReplotBoth(benchmark::State& state, const XAxisSpec& x) {
    Panes panes(static_cast<int>(state.range(0)), x);
    for (auto _ : state) {
        panes.upper->replot();
        panes.lower->replot();
    }
    state.counters["points"] = static_cast<double>(state.range(0)) * kPointsPerDay * 2;
}

void BM_ReplotBothPanes_Day(benchmark::State& state) { ReplotBoth(state, DayAxis()); }
void BM_ReplotBothPanes_FiveMinutes(benchmark::State& state) { ReplotBoth(state, FiveMinuteAxis()); }

// The live path: one reading per sensor appended, one coalesced redraw.
void BM_LiveReadingAndCoalescedReplot(benchmark::State& state) {
    const int sensors = static_cast<int>(state.range(0));
    Panes panes(sensors, DayAxis());
    double x = 0.9999;
    for (auto _ : state) {
        for (int n = 0; n < sensors; ++n) {
            panes.charts->AddPoints(n, {{{x, 50.0}}, {{x, 20.0}}});
            panes.charts->LumoGraphInvalidate();
        }
        QApplication::processEvents();
        x += 1e-9;
    }
    state.counters["replots"] = panes.charts->ReplotCount();
}

BENCHMARK(BM_ReplotBothPanes_Day)->Arg(5)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplotBothPanes_FiveMinutes)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveReadingAndCoalescedReplot)->Arg(99)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
