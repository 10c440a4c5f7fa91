#include "ui/chart_dialogs.h"

#include "ui/dialog_parts.h"
#include "charts/chart_data.h"
#include "charts/lumo_charts.h"
#include "ui/sensor_views.h"
#include "util/message_box.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace hygro::ui {
namespace {

constexpr int kModeCount = 5; // history modes 1..5, one list item each
constexpr const char* kScaleItems[kModeCount] = {"1 hour", "1 day", "1 month", "1 year", "10 years"};

// Size of one pane of the history window.
constexpr int kPaneWidth = 720;
constexpr int kPaneHeight = 300;

} // namespace

// ---- show mode ----

CDlgShowMode::CDlgShowMode(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Show Mode"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(SymbolFont(font()));

    m_realTime = Named(new QRadioButton(QStringLiteral("Real Time"), this), "1019");
    m_history = Named(new QRadioButton(QStringLiteral("History Data"), this), "1020");
    m_scale = Named(new QComboBox(this), "1021");
    for (const char* item : kScaleItems) m_scale->addItem(QString::fromLatin1(item));
    m_date = Named(new QDateEdit(this), "1022");
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setCalendarPopup(true);
    m_time = Named(new QTimeEdit(this), "1023");
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    QPushButton* ok = Button("OK", "1008", this);

    auto* grid = new QGridLayout;
    grid->addWidget(m_realTime, 0, 0, 1, 3);
    grid->addWidget(m_history, 1, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Scale Type:"), this), 2, 0);
    grid->addWidget(m_scale, 2, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Start Time:"), this), 3, 0);
    grid->addWidget(m_date, 3, 1);
    grid->addWidget(m_time, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_realTime, &QRadioButton::clicked, this, &CDlgShowMode::OnRealTime);
    connect(m_history, &QRadioButton::clicked, this, &CDlgShowMode::OnHistory);
    connect(ok, &QPushButton::clicked, this, &CDlgShowMode::OnOK);
    SetInfo(0, {});
}

void CDlgShowMode::SetInfo(int mode, const SystemTime& period) {
    m_period = period;
    const bool history = mode != kShowModeRealTime;
    m_mode = history && (mode < 1 || mode > kModeCount) ? kShowModeHour : mode;
    m_realTime->setChecked(!history);
    m_history->setChecked(history);
    m_scale->setCurrentIndex(history ? m_mode - 1 : -1);
    EnableHistoryControls(history);

    const QDateTime now = QDateTime::currentDateTime();
    QDate date = now.date();
    QTime time(now.time().hour(), now.time().minute(), now.time().second());
    if (period.wYear != 0) {
        // A stored field the pickers cannot show leaves that picker at the clock.
        if (const QDate d(period.wYear, period.wMonth, period.wDay); d.isValid()) date = d;
        if (const QTime t(period.wHour, period.wMinute, period.wSecond); t.isValid()) time = t;
    }
    m_date->setDate(date);
    m_time->setTime(time);
}

void CDlgShowMode::GetInfo(int& mode, SystemTime& period) const {
    mode = m_mode;
    period = m_period;
}

void CDlgShowMode::EnableHistoryControls(bool on) {
    m_scale->setEnabled(on);
    m_date->setEnabled(on);
    m_time->setEnabled(on);
}

void CDlgShowMode::OnRealTime() {
    EnableHistoryControls(false);
    m_mode = kShowModeRealTime;
}

void CDlgShowMode::OnHistory() {
    EnableHistoryControls(true);
    m_mode = m_scale->currentIndex() + 1;
}

void CDlgShowMode::OnOK() {
    if (m_realTime->isChecked()) {
        m_mode = kShowModeRealTime;
        m_period = {};
        accept();
        return;
    }
    if (!m_history->isChecked()) {
        ShowMessage(std::string("Please chose mode!"));
        return;
    }
    const int item = m_scale->currentIndex();
    if (item < 0) {
        ShowMessage(std::string("Please set kind!"));
        return;
    }
    m_mode = item + 1;
    const QDate d = m_date->date();
    const QTime t = m_time->time();
    SystemTime p;
    p.wYear = static_cast<std::uint16_t>(d.year());
    p.wMonth = static_cast<std::uint16_t>(d.month());
    p.wDayOfWeek = static_cast<std::uint16_t>(d.dayOfWeek() % 7); // Sunday is 0
    p.wDay = static_cast<std::uint16_t>(d.day());
    p.wHour = static_cast<std::uint16_t>(t.hour());
    p.wMinute = static_cast<std::uint16_t>(t.minute());
    p.wSecond = static_cast<std::uint16_t>(t.second());
    m_period = p;
    accept();
}

void CDlgShowMode::keyPressEvent(QKeyEvent* event) {
    if (SwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- five-minute history chart ----

CDlgShowLumoGraphForTable::CDlgShowLumoGraphForTable(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Show Data"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    // Before the panes exist, so that they take a font with "℃" and "：".
    setFont(SymbolFont(font()));

    m_upper = Named(new charts::ChartPane(HumidityAxis(), false, this), "1055");
    m_lower = Named(new charts::ChartPane(TemperatureAxis(), false, this), "1056");
    auto* layout = new QVBoxLayout(this);
    for (charts::ChartPane* pane : {m_upper, m_lower}) {
        pane->setFixedSize(kPaneWidth, kPaneHeight);
        layout->addWidget(pane);
    }
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const auto curve = [](charts::ChartPane* pane) {
        QCPGraph* g = pane->addGraph(pane->xAxis, pane->yAxis);
        g->setName(QStringLiteral("123"));
        g->setLineStyle(QCPGraph::lsLine);
        return g;
    };
    m_humidity = curve(m_upper);
    m_temperature = curve(m_lower);
}

void CDlgShowLumoGraphForTable::SetInfo(const QString& name, const std::filesystem::path& folder,
                                        const QColor& colour, int year, int month, int day, int hour,
                                        int minute) {
    XAxisSpec x;
    x.dateAxis = true;
    x.title = "Time(unit:Minute)";
    x.min = hour / 24.0 + minute / 1440.0 - 0.0000001;
    x.max = x.min + 5.0 / 1440.0;
    x.majorStep = 1.0 / 1440.0;
    x.minorStep = 20.0 / 86400.0;
    m_upper->SetXAxis(x);
    m_lower->SetXAxis(x);

    for (QCPGraph* g : {m_humidity, m_temperature}) {
        g->setPen(QPen(colour, 1.0));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDiamond, colour, colour, 5.0));
        g->data()->clear();
    }

    SystemTime start;
    const auto field = [](int v) { return static_cast<std::uint16_t>(v < 0 || v > 65535 ? 0 : v); };
    start.wYear = field(year);
    start.wMonth = field(month);
    start.wDay = field(day);
    start.wHour = field(hour);
    start.wMinute = field(minute);
    const SensorPoints points = LoadFiveMinuteWindow(folder, start);
    const auto fill = [](QCPGraph* g, const std::vector<ChartPoint>& list) {
        QVector<double> keys;
        QVector<double> values;
        for (const ChartPoint& p : list) {
            keys.push_back(p.x);
            values.push_back(p.y);
        }
        g->addData(keys, values);
    };
    fill(m_humidity, points.humidity);
    fill(m_temperature, points.temperature);
    m_upper->replot();
    m_lower->replot();
    setWindowTitle(QStringLiteral("Show Data - ") + name);
}

void CDlgShowLumoGraphForTable::keyPressEvent(QKeyEvent* event) {
    if (SwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace hygro::ui
