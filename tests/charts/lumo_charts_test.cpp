// The chart panes and the per-sensor curves, offscreen.
#include "charts/lumo_charts.h"

#include <QApplication>
#include <QDir>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "ui/sensor_views.h"

namespace hygro::charts {
namespace {

QStringList Labels(const QVector<QString>& v) { return QStringList(v.begin(), v.end()); }

// The pane as drawn: ticks and labels are only made by a replot.
struct Drawn {
    QStringList xLabels, yLabels;
    QVector<double> xTicks;
};
Drawn Draw(ChartPane& pane) {
    pane.resize(700, 300);
    pane.replot();
    return {Labels(pane.xAxis->tickVectorLabels()), Labels(pane.yAxis->tickVectorLabels()), pane.xAxis->tickVector()};
}

int SubTicksPerStep(QCPAxis* axis) {
    QVector<double> ticks, subTicks;
    axis->ticker()->generate(axis->range(), QLocale::c(), 'g', 6, ticks, &subTicks, nullptr);
    return ticks.size() > 1 ? static_cast<int>(subTicks.size() / (ticks.size() - 1)) : -1;
}

XAxisSpec DateAxis(double min, double max, double major, double minor, std::string title = "Time(unit:Minute)") {
    return {true, std::move(title), min, max, major, minor};
}

TEST(ChartPane, ConfiguredFromItsYAxis) {
    struct Case {
        YAxisSpec y;
        bool integerLabels;
        QString title, yTitle;
        double min, max;
        QStringList yLabels;
    };
    const Case cases[] = {
        {HumidityAxis(), true, "Humidity", QString::fromUtf8("Humidity(unit\uFF1A%)"), 0, 100,
         {"0", "20", "40", "60", "80", "100"}},
        {TemperatureAxis(), true, "Temperature", QString::fromUtf8("Temperature(unit\uFF1A\u2103)"), -40, 80,
         {"-40", "-20", "0", "20", "40", "60", "80"}},
        // Default number format: still plain integers for these steps, no forced decimals.
        {TemperatureAxis(), false, "Temperature", QString::fromUtf8("Temperature(unit\uFF1A\u2103)"), -40, 80,
         {"-40", "-20", "0", "20", "40", "60", "80"}},
        // F0 drops a fractional step's decimals; the default format keeps them.
        {{"P", "p", 0, 1, 0.5, 0.125}, true, "P", "p", 0, 1, {"0", "1", "1"}},
        {{"P", "p", 0, 1, 0.5, 0.125}, false, "P", "p", 0, 1, {"0", "0.5", "1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString() + (c.integerLabels ? " F0" : " default"));
        ChartPane pane(c.y, c.integerLabels);
        EXPECT_EQ(pane.Title(), c.title);
        EXPECT_EQ(pane.yAxis->label(), c.yTitle);
        EXPECT_EQ(pane.yAxis->range(), QCPRange(c.min, c.max));
        EXPECT_EQ(Draw(pane).yLabels, c.yLabels);
        EXPECT_EQ(SubTicksPerStep(pane.yAxis), 3) << "minor step a quarter of the major step";

        EXPECT_EQ(pane.interactions(), QCP::Interactions());
        EXPECT_EQ(pane.contextMenuPolicy(), Qt::NoContextMenu);
        EXPECT_FALSE(pane.legend->visible());
        EXPECT_FALSE(pane.xAxis2->visible());
        EXPECT_FALSE(pane.yAxis2->visible());
        EXPECT_TRUE(pane.yAxis->grid()->visible());
        EXPECT_FALSE(pane.xAxis->grid()->visible());
        for (QCPAxis* axis : {pane.xAxis, pane.yAxis}) {
            EXPECT_GT(axis->tickLengthIn(), 0);
            EXPECT_EQ(axis->tickLengthOut(), 0);
            EXPECT_GT(axis->subTickLengthIn(), 0);
            EXPECT_EQ(axis->subTickLengthOut(), 0);
        }
    }
}

TEST(ChartPane, TextsFollowTheWidgetFontFamilyAtFixedSizes) {
    ChartPane pane(TemperatureAxis(), true);
    pane.setFont(ui::SymbolFont(pane.font()));
    for (QCPAxis* axis : {pane.xAxis, pane.yAxis}) {
        EXPECT_TRUE(ui::CoversSymbols(axis->labelFont())) << axis->labelFont().family().toStdString();
        EXPECT_EQ(axis->labelFont().pixelSize(), ChartPane::kAxisTitlePixelSize);
        EXPECT_EQ(axis->tickLabelFont().pixelSize(), ChartPane::kTickLabelPixelSize);
    }
    EXPECT_TRUE(ui::CoversSymbols(pane.TitleElement()->font()));
    EXPECT_EQ(pane.TitleElement()->font().pixelSize(), ChartPane::kTitlePixelSize);

    // A pane made inside a widget that already has the font takes it at once.
    QWidget parent;
    parent.setFont(ui::SymbolFont(parent.font()));
    ChartPane child(HumidityAxis(), true, &parent);
    EXPECT_EQ(child.yAxis->labelFont().family(), parent.font().family());
}

TEST(ChartPane, TimeOfDayLabels) {
    struct Case {
        double days;
        const char* label;
    };
    const Case cases[] = {
        {0.0, "00:00"},
        {0.5, "12:00"},
        {1.0, "24:00"}, // the end of a 12- or 24-hour window
        {10 / 24.0 + 26 / 1440.0 - 0.0000001, "10:26"},
        {23 / 24.0 + 59 / 1440.0 + 59 / 86400.0, "23:59"},
        {13 / 24.0 + 20 / 86400.0, "13:00"},
        {-1 / 1440.0, "23:59"},
        {std::numeric_limits<double>::quiet_NaN(), ""},
        {std::numeric_limits<double>::infinity(), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ChartPane::TimeOfDayLabel(c.days), QString::fromLatin1(c.label)) << c.days;
}

TEST(ChartPane, XAxisSettingsGiveRangesTitlesAndLabels) {
    const double start = 10 / 24.0 + 26 / 1440.0 - 0.0000001;
    struct Case {
        const char* what;
        XAxisSpec x;
        QStringList labels;
        int subTicks;
    };
    const Case cases[] = {
        {"5 minutes: the last tick, a hair past the end, is labelled",
         DateAxis(start, start + 5 / 1440.0, 1 / 1440.0, 20 / 86400.0),
         {"10:26", "10:27", "10:28", "10:29", "10:30", "10:31"}, 2},
        {"1 hour", DateAxis(10 / 24.0 - 0.0000001, 11 / 24.0 - 0.0000001, 12 / 1440.0, 4 / 1440.0),
         {"10:00", "10:12", "10:24", "10:36", "10:48", "11:00"}, 2},
        {"12 hours", DateAxis(0.5 - 0.0000001, 1.0 - 0.0000001, 2 / 24.0, 30 / 1440.0),
         {"12:00", "14:00", "16:00", "18:00", "20:00", "22:00", "24:00"}, 3},
        {"24 hours", DateAxis(-0.0000001, 1.0 - 0.0000001, 4 / 24.0, 1 / 24.0),
         {"00:00", "04:00", "08:00", "12:00", "16:00", "20:00", "24:00"}, 3},
        {"1 hour history", {false, "Time(unit:1 Minute)", 0, 60, 10, 5}, {"0", "10", "20", "30", "40", "50", "60"}, 1},
        {"1 month history", {false, "Time(unit:1 Day)", 0, 32, 8, 2}, {"0", "8", "16", "24", "32"}, 3},
        {"10 years history", {false, "Time(unit:1 Year)", 0, 10, 2, 1}, {"0", "2", "4", "6", "8", "10"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChartPane pane(HumidityAxis(), true);
        pane.SetXAxis(c.x);
        EXPECT_EQ(pane.XAxis(), c.x);
        EXPECT_EQ(pane.xAxis->label(), QString::fromStdString(c.x.title));
        EXPECT_DOUBLE_EQ(pane.xAxis->range().lower, c.x.min);
        EXPECT_DOUBLE_EQ(pane.xAxis->range().upper, c.x.max);
        EXPECT_EQ(Draw(pane).xLabels, c.labels);
        EXPECT_EQ(SubTicksPerStep(pane.xAxis), c.subTicks);
    }
}

TEST(ChartPane, NonsenseXAxisDrawsBoundedTicks) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const XAxisSpec axes[] = {
        {false, "zero step", 0, 60, 0, 0},
        {false, "negative step", 0, 60, -10, -5},
        {true, "tiny step", 0, 1, 1e-12, 1e-13},
        {false, "reversed", 60, 0, 10, 5},
        {false, "nan", nan, nan, nan, nan},
        {false, "huge", 1e200, 1e200 + 1e190, 1e-3, 1e-4},
        {false, "minor above major", 0, 60, 10, 50},
    };
    for (const XAxisSpec& x : axes) {
        ChartPane pane(HumidityAxis(), true);
        pane.SetXAxis(x);
        const Drawn d = Draw(pane);
        EXPECT_LE(d.xTicks.size(), 1002) << x.title;
        EXPECT_EQ(pane.XAxis().title, x.title);
    }
}

// ---- curves ----

struct Charts {
    ChartPane upper{HumidityAxis(), true};
    ChartPane lower{TemperatureAxis(), true};
    LumoCharts charts{&upper, &lower};

    QCPGraph* UpperCurve(const QString& name) const {
        for (int i = 0; i < upper.graphCount(); ++i)
            if (upper.graph(i)->name() == name) return upper.graph(i);
        return nullptr;
    }
    QCPGraph* LowerCurve(const QString& name) const {
        for (int i = 0; i < lower.graphCount(); ++i)
            if (lower.graph(i)->name() == name) return lower.graph(i);
        return nullptr;
    }
};

std::vector<SensorCurveInfo> FiveSensors() {
    return {{"S0", QColor(255, 0, 0)}, {"S1", QColor(0, 128, 0)}, {"S2", QColor(0, 0, 255)},
            {"S3", QColor(128, 0, 128)}, {"S4", QColor(0, 128, 128)}};
}

// One point per sensor whose y is the sensor's number, so a point shows whose it is.
SensorPoints Marked(int sensor) {
    return {{{0.5, 10.0 + sensor}}, {{0.5, 20.0 + sensor}}};
}

TEST(LumoCharts, CurvesAreDiamondLinesInTheSensorColour) {
    Charts c;
    c.charts.InitLumoLine(FiveSensors());
    ASSERT_EQ(c.charts.Count(), 5);
    EXPECT_EQ(c.upper.graphCount(), 5);
    EXPECT_EQ(c.lower.graphCount(), 5);
    for (const SensorCurveInfo& s : FiveSensors()) {
        for (QCPGraph* g : {c.UpperCurve(s.name), c.LowerCurve(s.name)}) {
            ASSERT_NE(g, nullptr) << s.name.toStdString();
            EXPECT_EQ(g->pen().color(), s.colour);
            EXPECT_EQ(g->scatterStyle().shape(), QCPScatterStyle::ssDiamond);
            EXPECT_EQ(g->lineStyle(), QCPGraph::lsLine);
        }
    }
    EXPECT_EQ(c.UpperCurve("S1")->valueAxis(), c.upper.yAxis);
    EXPECT_EQ(c.LowerCurve("S1")->valueAxis(), c.lower.yAxis);

    c.charts.InitLumoLine({{"only", Qt::black}});
    EXPECT_EQ(c.charts.Count(), 1);
    EXPECT_EQ(c.upper.graphCount(), 1) << "the old curves are replaced, not kept";
}

TEST(LumoCharts, EntryIStaysSensorIThroughInsertAndDelete) {
    Charts c;
    c.charts.InitLumoLine(FiveSensors());
    for (int n = 0; n < 5; ++n) c.charts.AddPoints(n, Marked(n));

    // A sensor added at index 2 of 5 gets entry 2; the ones after it move up.
    c.charts.AddLineForNewWiFiSensor(2, {"New", QColor(10, 20, 30)});
    ASSERT_EQ(c.charts.Count(), 6);
    EXPECT_EQ(c.charts.Colour(2), QColor(10, 20, 30));
    EXPECT_TRUE(c.charts.Points(2).humidity.empty());
    const int owner[] = {0, 1, -1, 2, 3, 4};
    for (int n = 0; n < 6; ++n) {
        if (owner[n] < 0) continue;
        EXPECT_EQ(c.charts.Points(n).humidity, (std::vector<ChartPoint>{{0.5, 10.0 + owner[n]}})) << n;
        EXPECT_EQ(c.charts.Points(n).temperature, (std::vector<ChartPoint>{{0.5, 20.0 + owner[n]}})) << n;
    }

    // Recolouring index 4 afterwards recolours that sensor: the one that was S3.
    c.charts.SetColour(4, QColor(200, 100, 0));
    EXPECT_EQ(c.UpperCurve("S3")->pen().color(), QColor(200, 100, 0));
    EXPECT_EQ(c.LowerCurve("S3")->pen().color(), QColor(200, 100, 0));
    EXPECT_EQ(c.UpperCurve("S3")->scatterStyle().pen().color(), QColor(200, 100, 0));
    EXPECT_EQ(c.UpperCurve("S4")->pen().color(), QColor(0, 128, 128));
    c.charts.SetName(4, "Renamed");
    EXPECT_EQ(c.UpperCurve("S3"), nullptr);
    EXPECT_NE(c.LowerCurve("Renamed"), nullptr);

    // Points added now go to the sensor at that index.
    c.charts.AddPoints(2, Marked(9));
    EXPECT_EQ(c.charts.Points(2).humidity, (std::vector<ChartPoint>{{0.5, 19.0}}));

    // Deleting entry 1 removes S1's curves from both panes; later entries move down.
    c.charts.DeleteDevForLumo(1);
    EXPECT_EQ(c.charts.Count(), 5);
    EXPECT_EQ(c.UpperCurve("S1"), nullptr);
    EXPECT_EQ(c.LowerCurve("S1"), nullptr);
    EXPECT_EQ(c.upper.graphCount(), 5);
    EXPECT_EQ(c.charts.Colour(1), QColor(10, 20, 30));
    EXPECT_EQ(c.charts.Points(3).humidity, (std::vector<ChartPoint>{{0.5, 13.0}}));

    // Beyond the count: appended at the end.
    c.charts.AddLineForNewWiFiSensor(99, {"Tail", Qt::gray});
    EXPECT_EQ(c.charts.Colour(c.charts.Count() - 1), QColor(Qt::gray));
}

TEST(LumoCharts, PointListsAppendClearAndIgnoreBadIndices) {
    Charts c;
    c.charts.InitLumoLine(FiveSensors());
    // Out of order within a call and across calls: the curve keeps them by x.
    c.charts.AddPoints(0, {{{0.3, 3}, {0.1, 1}}, {{0.2, -2}}});
    c.charts.AddPoints(0, {{{0.2, 2}}, {}});
    EXPECT_EQ(c.charts.Points(0).humidity, (std::vector<ChartPoint>{{0.1, 1}, {0.2, 2}, {0.3, 3}}));
    EXPECT_EQ(c.charts.Points(0).temperature, (std::vector<ChartPoint>{{0.2, -2}}));
    c.charts.AddPoints(1, Marked(1));

    c.charts.ClearDevLumoLine(0);
    EXPECT_TRUE(c.charts.Points(0).humidity.empty());
    EXPECT_TRUE(c.charts.Points(0).temperature.empty());
    EXPECT_EQ(c.charts.Points(1).humidity.size(), 1u) << "only sensor 0 is emptied";

    c.charts.ClearAll();
    EXPECT_TRUE(c.charts.Points(1).humidity.empty());
    EXPECT_EQ(c.charts.Count(), 5) << "the curves stay";

    for (int bad : {-1, 5, 1000, std::numeric_limits<int>::min()}) {
        c.charts.AddPoints(bad, Marked(0));
        c.charts.SetColour(bad, Qt::red);
        c.charts.SetName(bad, "x");
        c.charts.ClearDevLumoLine(bad);
        c.charts.DeleteDevForLumo(bad);
        EXPECT_TRUE(c.charts.Points(bad).humidity.empty());
        EXPECT_FALSE(c.charts.Colour(bad).isValid());
    }
    EXPECT_EQ(c.charts.Count(), 5);
}

TEST(LumoCharts, AnyNumberOfInvalidatesInOnePassReplotsOnce) {
    Charts c;
    c.charts.InitLumoLine(FiveSensors());
    for (int i = 0; i < 100; ++i) c.charts.LumoGraphInvalidate();
    EXPECT_EQ(c.charts.ReplotCount(), 0) << "nothing is drawn before the event loop runs";
    QApplication::processEvents();
    EXPECT_EQ(c.charts.ReplotCount(), 1);
    QApplication::processEvents();
    EXPECT_EQ(c.charts.ReplotCount(), 1);
    c.charts.LumoGraphInvalidate();
    QApplication::processEvents();
    EXPECT_EQ(c.charts.ReplotCount(), 2);
}

TEST(LumoCharts, PanesGoneFirstLeavesTheCurvesInert) {
    auto upper = std::make_unique<ChartPane>(HumidityAxis(), true);
    auto lower = std::make_unique<ChartPane>(TemperatureAxis(), true);
    LumoCharts charts(upper.get(), lower.get());
    charts.InitLumoLine(FiveSensors());
    charts.LumoGraphInvalidate();
    upper.reset();
    lower.reset();
    charts.AddPoints(0, Marked(0));
    charts.SetColour(1, Qt::red);
    charts.DeleteDevForLumo(2);
    charts.AddLineForNewWiFiSensor(0, {"late", Qt::red});
    QApplication::processEvents();
    EXPECT_TRUE(charts.Points(0).humidity.empty());
}

TEST(LumoCharts, DenseDiamondsAreThinnedButNoPointIsLost) {
    Charts c;
    c.charts.InitLumoLine({{"dense", Qt::red}});
    SensorPoints day;
    for (int s = 0; s < 86400; s += 10) day.humidity.push_back({s / 86400.0, 50});
    c.charts.AddPoints(0, day);
    c.upper.resize(700, 300);

    c.upper.SetXAxis(DateAxis(-0.0000001, 1.0 - 0.0000001, 4 / 24.0, 1 / 24.0));
    c.upper.replot();
    EXPECT_GT(c.upper.graph(0)->scatterSkip(), 10) << "8640 diamonds across some 600 pixels";
    EXPECT_EQ(c.charts.Points(0).humidity.size(), 8640u);

    const double start = 10 / 24.0 - 0.0000001;
    c.upper.SetXAxis(DateAxis(start, start + 5 / 1440.0, 1 / 1440.0, 20 / 86400.0));
    c.upper.replot();
    EXPECT_EQ(c.upper.graph(0)->scatterSkip(), 0) << "30 readings in five minutes: every one drawn";
}

// A day of 10-second readings for five sensors in the 24-hour window, for a person to look at.
TEST(LumoCharts, RendersADayOfFiveSensors) {
    QWidget window;
    window.setFont(ui::SymbolFont(window.font()));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* upper = new ChartPane(HumidityAxis(), true, &window);
    auto* lower = new ChartPane(TemperatureAxis(), true, &window);
    layout->addWidget(upper);
    layout->addWidget(lower);
    window.resize(700, 600);
    LumoCharts charts(upper, lower);
    charts.SetXAxis(DateAxis(-0.0000001, 1.0 - 0.0000001, 4 / 24.0, 1 / 24.0));
    charts.InitLumoLine({{"Office", QColor(220, 40, 40)}, {"Lab", QColor(30, 120, 220)},
                         {"Store", QColor(20, 160, 60)}, {"Cellar", QColor(150, 60, 180)},
                         {"Roof", QColor(230, 140, 0)}});
    for (int n = 0; n < 5; ++n) {
        SensorPoints p;
        for (int s = 0; s < 86400; s += 10) {
            const double x = s / 86400.0;
            const double wave = std::sin(2 * M_PI * (x - 0.3 + n * 0.05));
            p.humidity.push_back({x, 45 + 8 * n + 10 * wave});
            p.temperature.push_back({x, 5 + 6 * n + 5 * wave});
        }
        charts.AddPoints(n, p);
    }
    EXPECT_EQ(charts.Points(4).humidity.size(), 8640u);
    window.show();
    charts.LumoGraphInvalidate();
    QApplication::processEvents();
    EXPECT_EQ(Labels(upper->xAxis->tickVectorLabels()),
              (QStringList{"00:00", "04:00", "08:00", "12:00", "16:00", "20:00", "24:00"}));
    QDir().mkpath("ui-shots");
    EXPECT_TRUE(window.grab().save("ui-shots/chart-panes-day.png"));
}

} // namespace
} // namespace hygro::charts
