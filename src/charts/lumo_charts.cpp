#include "charts/lumo_charts.h"

#include <QEvent>
#include <QFont>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hygro::charts {
namespace {

constexpr int kTickIn = 6;
constexpr int kSubTickIn = 3;
constexpr double kDiamondSize = 5.0;
// Denser diamonds than one per this many pixels along x overlap into a band; the ones in
// between are skipped (the line still passes through every point).
constexpr double kDiamondSpacing = 2.5;
// Room right of the plot for half of the last x label ("24:00", "60").
constexpr int kRightMargin = 24;
// More ticks than this on one axis means a wrong step; the pane falls back to ten.
constexpr double kMaxTicks = 1000.0;

// Ticks every `step` from 0 with a fixed number of sub ticks. A tick that lies a hair
// beyond either end is kept: the time axes end 0.0000001 day before their last tick.
class StepTicker : public QCPAxisTicker {
  public:
    StepTicker(double step, double minorStep, bool timeOfDay) : m_step(step), m_timeOfDay(timeOfDay) {
        const double ratio = minorStep > 0 ? step / minorStep : 0.0;
        m_subTicks = ratio >= 1.0 && ratio < 100.0 ? static_cast<int>(std::lround(ratio)) - 1 : 0;
    }

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override {
        const double step = TickStep(range);
        // Beyond this the tick index would not fit the ticker's 64-bit step counter.
        if (std::fabs(range.lower / step) > 1e15 || std::fabs(range.upper / step) > 1e15) {
            ticks.clear();
            if (subTicks) subTicks->clear();
            if (tickLabels) tickLabels->clear();
            return;
        }
        ticks = createTickVector(step, range);
        if (subTicks) {
            *subTicks = ticks.isEmpty() ? QVector<double>() : createSubTickVector(m_subTicks, ticks);
            trimTicks(range, *subTicks, false);
        }
        const double slack = step * 1e-3;
        ticks.erase(std::remove_if(ticks.begin(), ticks.end(),
                                   [&](double t) { return t < range.lower - slack || t > range.upper + slack; }),
                    ticks.end());
        if (tickLabels) *tickLabels = createLabelVector(ticks, locale, formatChar, precision);
    }

  protected:
    double getTickStep(const QCPRange& range) override { return TickStep(range); }
    int getSubTickCount(double) override { return m_subTicks; }
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override {
        if (m_timeOfDay) return ChartPane::TimeOfDayLabel(tick);
        return QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
    }

  private:
    double TickStep(const QCPRange& range) const {
        const double size = range.size();
        if (m_step > 0 && std::isfinite(m_step) && size / m_step <= kMaxTicks) return m_step;
        return size > 0 && std::isfinite(size) ? size / 10.0 : 1.0;
    }

    double m_step;
    int m_subTicks = 0;
    bool m_timeOfDay;
};

void InsideTicksOnly(QCPAxis* axis) {
    axis->setTickLengthIn(kTickIn);
    axis->setTickLengthOut(0);
    axis->setSubTickLengthIn(kSubTickIn);
    axis->setSubTickLengthOut(0);
}

void SetRange(QCPAxis* axis, double min, double max) {
    if (std::isfinite(min) && std::isfinite(max) && max > min) axis->setRange(min, max);
}

QFont Sized(const QFont& base, int pixels, bool bold = false) {
    QFont f(base);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void StyleCurve(QCPGraph* g, const QColor& colour) {
    g->setPen(QPen(colour, 1.0));
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDiamond, colour, colour, kDiamondSize));
}

void Append(QCPGraph* g, const std::vector<ChartPoint>& points) {
    if (points.empty()) return;
    if (points.size() == 1) {
        g->addData(points.front().x, points.front().y);
        return;
    }
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(static_cast<qsizetype>(points.size()));
    values.reserve(static_cast<qsizetype>(points.size()));
    bool sorted = true;
    for (const ChartPoint& p : points) {
        if (!keys.isEmpty() && p.x < keys.back()) sorted = false;
        keys.push_back(p.x);
        values.push_back(p.y);
    }
    g->addData(keys, values, sorted);
}

std::vector<ChartPoint> PointsOf(const QCPGraph* g) {
    std::vector<ChartPoint> out;
    const auto data = g->data();
    out.reserve(static_cast<std::size_t>(data->size()));
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) out.push_back({it->key, it->value});
    return out;
}

} // namespace

// ---- ChartPane ----

ChartPane::ChartPane(const YAxisSpec& y, bool integerYLabels, QWidget* parent) : QCustomPlot(parent) {
    setInteractions(QCP::Interactions());
    setContextMenuPolicy(Qt::NoContextMenu);
    setBackground(Qt::white);

    plotLayout()->insertRow(0);
    m_title = new QCPTextElement(this, QString::fromStdString(y.paneTitle));
    plotLayout()->addElement(0, 0, m_title);

    axisRect()->setAutoMargins(QCP::msLeft | QCP::msTop | QCP::msBottom);
    axisRect()->setMargins(QMargins(0, 0, kRightMargin, 0));
    legend->setVisible(false);
    xAxis2->setVisible(false);
    yAxis2->setVisible(false);
    for (QCPAxis* axis : {xAxis, yAxis}) InsideTicksOnly(axis);
    xAxis->grid()->setVisible(false);
    yAxis->grid()->setVisible(true);
    yAxis->grid()->setSubGridVisible(false);

    yAxis->setLabel(QString::fromStdString(y.title));
    SetRange(yAxis, y.min, y.max);
    yAxis->setTicker(QSharedPointer<StepTicker>::create(y.majorStep, y.minorStep, false));
    if (integerYLabels) {
        yAxis->setNumberFormat(QStringLiteral("f"));
        yAxis->setNumberPrecision(0);
    }
    ApplyFonts();
    connect(this, &QCustomPlot::afterLayout, this, &ChartPane::ThinScatters);
}

void ChartPane::ThinScatters() {
    const double width = axisRect()->width();
    const QCPRange range = xAxis->range();
    if (width <= 0 || range.size() <= 0) return;
    for (int i = 0; i < graphCount(); ++i) {
        QCPGraph* g = graph(i);
        const auto data = g->data();
        const auto visible = static_cast<double>(data->findEnd(range.upper) - data->findBegin(range.lower));
        const double perSpacing = visible / width * kDiamondSpacing;
        g->setScatterSkip(perSpacing >= 2.0 ? static_cast<int>(perSpacing) - 1 : 0);
    }
}

void ChartPane::SetXAxis(const XAxisSpec& x) {
    m_x = x;
    xAxis->setLabel(QString::fromStdString(x.title));
    SetRange(xAxis, x.min, x.max);
    xAxis->setTicker(QSharedPointer<StepTicker>::create(x.majorStep, x.minorStep, x.dateAxis));
}

QString ChartPane::Title() const { return m_title ? m_title->text() : QString(); }

QString ChartPane::TimeOfDayLabel(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 1e6) return {};
    long long seconds = std::llround(days * 86400.0);
    // The end of the day reads as the end of the window, not as its start.
    if (seconds != 86400) seconds = ((seconds % 86400) + 86400) % 86400;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds % 3600 / 60));
    return QString::fromLatin1(text);
}

void ChartPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) ApplyFonts();
    QCustomPlot::changeEvent(event);
}

void ChartPane::ApplyFonts() {
    const QFont base = font();
    if (m_title) m_title->setFont(Sized(base, kTitlePixelSize, true));
    for (QCPAxis* axis : {xAxis, yAxis}) {
        axis->setLabelFont(Sized(base, kAxisTitlePixelSize));
        axis->setTickLabelFont(Sized(base, kTickLabelPixelSize));
    }
}

// ---- LumoCharts ----

LumoCharts::LumoCharts(ChartPane* humidity, ChartPane* temperature, QObject* parent)
    : QObject(parent), m_upper(humidity), m_lower(temperature) {
    m_replot.setSingleShot(true);
    m_replot.setInterval(0);
    connect(&m_replot, &QTimer::timeout, this, &LumoCharts::Replot);
}

void LumoCharts::InitLumoLine(const std::vector<SensorCurveInfo>& sensors) {
    while (Count() > 0) DeleteDevForLumo(Count() - 1);
    for (const SensorCurveInfo& s : sensors) AddLineForNewWiFiSensor(Count(), s);
}

void LumoCharts::AddLineForNewWiFiSensor(int n, const SensorCurveInfo& sensor) {
    if (!m_upper || !m_lower) return;
    const auto make = [&](ChartPane* pane) {
        QCPGraph* g = pane->addGraph(pane->xAxis, pane->yAxis);
        g->setName(sensor.name);
        g->setLineStyle(QCPGraph::lsLine);
        StyleCurve(g, sensor.colour);
        return g;
    };
    const std::size_t at = n >= 0 && n < Count() ? static_cast<std::size_t>(n) : m_humidity.size();
    m_humidity.insert(m_humidity.begin() + static_cast<std::ptrdiff_t>(at), make(m_upper));
    m_temperature.insert(m_temperature.begin() + static_cast<std::ptrdiff_t>(at), make(m_lower));
}

void LumoCharts::DeleteDevForLumo(int n) {
    if (!Has(n)) return;
    const auto at = static_cast<std::size_t>(n);
    if (m_upper) m_upper->removeGraph(m_humidity[at]);
    if (m_lower) m_lower->removeGraph(m_temperature[at]);
    m_humidity.erase(m_humidity.begin() + static_cast<std::ptrdiff_t>(at));
    m_temperature.erase(m_temperature.begin() + static_cast<std::ptrdiff_t>(at));
}

void LumoCharts::ClearDevLumoLine(int n) {
    if (!Has(n) || !m_upper || !m_lower) return;
    m_humidity[static_cast<std::size_t>(n)]->data()->clear();
    m_temperature[static_cast<std::size_t>(n)]->data()->clear();
}

void LumoCharts::ClearAll() {
    for (int n = 0; n < Count(); ++n) ClearDevLumoLine(n);
}

void LumoCharts::AddPoints(int n, const SensorPoints& points) {
    if (!Has(n) || !m_upper || !m_lower) return;
    Append(m_humidity[static_cast<std::size_t>(n)], points.humidity);
    Append(m_temperature[static_cast<std::size_t>(n)], points.temperature);
}

void LumoCharts::SetColour(int n, const QColor& colour) {
    if (!Has(n) || !m_upper || !m_lower) return;
    StyleCurve(m_humidity[static_cast<std::size_t>(n)], colour);
    StyleCurve(m_temperature[static_cast<std::size_t>(n)], colour);
}

void LumoCharts::SetName(int n, const QString& name) {
    if (!Has(n) || !m_upper || !m_lower) return;
    m_humidity[static_cast<std::size_t>(n)]->setName(name);
    m_temperature[static_cast<std::size_t>(n)]->setName(name);
}

void LumoCharts::SetXAxis(const XAxisSpec& x) {
    if (m_upper) m_upper->SetXAxis(x);
    if (m_lower) m_lower->SetXAxis(x);
}

void LumoCharts::LumoGraphInvalidate() {
    if (!m_replot.isActive()) m_replot.start();
}

void LumoCharts::Replot() {
    ++m_replots;
    if (m_upper) m_upper->replot();
    if (m_lower) m_lower->replot();
}

SensorPoints LumoCharts::Points(int n) const {
    if (!Has(n) || !m_upper || !m_lower) return {};
    return {PointsOf(m_humidity[static_cast<std::size_t>(n)]), PointsOf(m_temperature[static_cast<std::size_t>(n)])};
}

QColor LumoCharts::Colour(int n) const {
    if (!Has(n) || !m_upper) return {};
    return m_humidity[static_cast<std::size_t>(n)]->pen().color();
}

} // namespace hygro::charts
