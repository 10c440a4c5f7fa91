// The two chart panes (humidity above, temperature below) drawn with QCustomPlot, and the
// per-sensor curves in them: entry i of the curve arrays is sensor index i.
// GUI thread only.
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <vector>

#include "charts/chart_data.h"
#include "qcustomplot.h"

namespace hygro::charts {

// One pane: title, y axis as given, the x axis as set, ticks inside only, no legend,
// no border, no interaction. `integerYLabels` gives y labels without decimals ("F0").
// Its texts take the family of the widget's font (set one that has "℃" and "："); the
// sizes are the pane's own.
class ChartPane : public QCustomPlot {
    Q_OBJECT
  public:
    // Pixel sizes of the pane's texts.
    static constexpr int kTitlePixelSize = 15;
    static constexpr int kAxisTitlePixelSize = 13;
    static constexpr int kTickLabelPixelSize = 13;

    ChartPane(const YAxisSpec& y, bool integerYLabels, QWidget* parent = nullptr);
    void SetXAxis(const XAxisSpec& x);
    const XAxisSpec& XAxis() const { return m_x; }
    QString Title() const;
    QCPTextElement* TitleElement() const { return m_title; }

    // "HH:mm" of a time of day in days; 1.0 is "24:00".
    static QString TimeOfDayLabel(double days);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void ApplyFonts();
    // Diamonds closer than a few pixels are skipped so that a day of readings draws fast.
    void ThinScatters();

    XAxisSpec m_x;
    QCPTextElement* m_title = nullptr; // owned by the plot layout
};

struct SensorCurveInfo {
    QString name;
    QColor colour;
};

class LumoCharts : public QObject {
    Q_OBJECT
  public:
    LumoCharts(ChartPane* humidity, ChartPane* temperature, QObject* parent = nullptr);

    // One curve pair per sensor, in index order (replaces any existing ones).
    void InitLumoLine(const std::vector<SensorCurveInfo>& sensors);
    // Inserts sensor n's curves at entry n (at the end when n is not below the count).
    void AddLineForNewWiFiSensor(int n, const SensorCurveInfo& sensor);
    // Removes sensor n's curves and entry n.
    void DeleteDevForLumo(int n);
    // Empties sensor n's two lists (the curves stay).
    void ClearDevLumoLine(int n);
    void ClearAll();
    // Appends points to sensor n's lists (x in increasing order per call is not required).
    void AddPoints(int n, const SensorPoints& points);
    void SetColour(int n, const QColor& colour);
    void SetName(int n, const QString& name);
    // Both panes' x axes.
    void SetXAxis(const XAxisSpec& x);
    // Asks for a redraw of both panes; any number of calls within one pass of the event
    // loop cause a single replot.
    void LumoGraphInvalidate();

    int Count() const { return static_cast<int>(m_humidity.size()); }
    // Points currently in sensor n's lists (tests).
    SensorPoints Points(int n) const;
    QColor Colour(int n) const;
    ChartPane* HumidityPane() const { return m_upper; }
    ChartPane* TemperaturePane() const { return m_lower; }
    int ReplotCount() const { return m_replots; } // tests, benchmarks

  private:
    bool Has(int n) const { return n >= 0 && n < Count(); }
    void Replot();

    // Guarded: the panes belong to the window and may go first.
    QPointer<ChartPane> m_upper;
    QPointer<ChartPane> m_lower;
    std::vector<QCPGraph*> m_humidity;    // owned by m_upper
    std::vector<QCPGraph*> m_temperature; // owned by m_lower
    QTimer m_replot;
    int m_replots = 0;
};

} // namespace hygro::charts
