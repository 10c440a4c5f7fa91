// The show-mode dialog and the five-minute history chart, offscreen.
#include "ui/chart_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acq/history_files.h"
#include "charts/lumo_charts.h"
#include "support/messages.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "ui/sensor_views.h"
#include "util/file_opt.h"
#include "util/message_box.h"

namespace hygro::ui {
namespace {

using hygro::test::MessageLog;

void SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
}

void SendClosingKeys(QWidget* target) {
    SendKey(target, Qt::Key_Return);
    SendKey(target, Qt::Key_Enter);
    SendKey(target, Qt::Key_Escape);
    SendKey(target, Qt::Key_F4, Qt::AltModifier);
}

using hygro::test::At;

bool SameFields(const SystemTime& a, const SystemTime& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

struct ShowModeControls {
    explicit ShowModeControls(QWidget& d)
        : realTime(d.findChild<QRadioButton*>("1019")), history(d.findChild<QRadioButton*>("1020")),
          scale(d.findChild<QComboBox*>("1021")), date(d.findChild<QDateEdit*>("1022")),
          time(d.findChild<QTimeEdit*>("1023")), ok(d.findChild<QPushButton*>("1008")) {}
    QRadioButton* realTime;
    QRadioButton* history;
    QComboBox* scale;
    QDateEdit* date;
    QTimeEdit* time;
    QPushButton* ok;
};

TEST(ShowModeDialog, ControlsAndTexts) {
    CDlgShowMode dlg;
    ShowModeControls c(dlg);
    ASSERT_TRUE(c.realTime && c.history && c.scale && c.date && c.time && c.ok);
    EXPECT_EQ(dlg.windowTitle(), "Show Mode");
    EXPECT_EQ(c.realTime->text(), "Real Time");
    EXPECT_EQ(c.history->text(), "History Data");
    EXPECT_EQ(c.ok->text(), "OK");
    QStringList items;
    for (int i = 0; i < c.scale->count(); ++i) items << c.scale->itemText(i);
    EXPECT_EQ(items, (QStringList{"1 hour", "1 day", "1 month", "1 year", "10 years"}));
}

TEST(ShowModeDialog, OpensWithTheStoredModeAndPeriod) {
    struct Case {
        int mode;
        SystemTime period;
        bool history;
        int item;            // selected list item, -1 none
        SystemTime shown;    // pickers; year 0: the clock
    };
    const SystemTime stored = At(2023, 7, 14, 9, 30, 15);
    const Case cases[] = {
        {0, {}, false, -1, {}},
        {0, stored, false, -1, stored},
        {1, stored, true, 0, stored},
        {2, stored, true, 1, stored},
        {3, {}, true, 2, {}},
        {4, stored, true, 3, stored},
        {5, stored, true, 4, stored},
        {6, stored, true, 0, stored}, // any other mode is "1 hour"
        {-1, stored, true, 0, stored},
        {2, At(2023, 2, 30, 25, 0, 0), true, 1, {}}, // fields the pickers cannot show: the clock
    };
    for (const Case& k : cases) {
        SCOPED_TRACE("mode " + std::to_string(k.mode));
        const QDateTime before = QDateTime::currentDateTime();
        CDlgShowMode dlg;
        dlg.SetInfo(k.mode, k.period);
        ShowModeControls c(dlg);
        EXPECT_EQ(c.realTime->isChecked(), !k.history);
        EXPECT_EQ(c.history->isChecked(), k.history);
        EXPECT_EQ(c.scale->currentIndex(), k.item);
        for (QWidget* w : {static_cast<QWidget*>(c.scale), static_cast<QWidget*>(c.date), static_cast<QWidget*>(c.time)})
            EXPECT_EQ(w->isEnabled(), k.history) << w->objectName().toStdString();
        if (k.shown.wYear != 0) {
            EXPECT_EQ(c.date->date(), QDate(k.shown.wYear, k.shown.wMonth, k.shown.wDay));
            EXPECT_EQ(c.time->time(), QTime(k.shown.wHour, k.shown.wMinute, k.shown.wSecond));
        } else {
            EXPECT_GE(c.date->date(), before.date());
            EXPECT_LE(c.date->date(), QDate::currentDate());
        }
    }
}

TEST(ShowModeDialog, RadiosEnableTheListAndPickersAndSetTheMode) {
    CDlgShowMode dlg;
    dlg.SetInfo(0, {});
    dlg.show();
    ShowModeControls c(dlg);
    int mode = -9;
    SystemTime period;

    c.history->click();
    EXPECT_TRUE(c.scale->isEnabled() && c.date->isEnabled() && c.time->isEnabled());
    dlg.GetInfo(mode, period);
    EXPECT_EQ(mode, 0) << "no item selected yet: item -1 + 1";

    c.scale->setCurrentIndex(3);
    c.realTime->click();
    EXPECT_FALSE(c.scale->isEnabled() || c.date->isEnabled() || c.time->isEnabled());
    dlg.GetInfo(mode, period);
    EXPECT_EQ(mode, 0);

    c.history->click();
    dlg.GetInfo(mode, period);
    EXPECT_EQ(mode, 4);
    EXPECT_EQ(c.scale->currentIndex(), 3) << "the list keeps its item while disabled";
}

TEST(ShowModeDialog, OkOutcomes) {
    const SystemTime stored = At(2022, 12, 31, 23, 59, 58);
    enum class Action { Ok, HistoryThenOk, RealTimeThenOk, NoRadioThenOk };
    struct Case {
        const char* what;
        int mode;
        Action action;
        const char* message; // empty: closes with OK
        int outMode;
        SystemTime outPeriod;
    };
    const Case cases[] = {
        {"real time drops the stored period", 0, Action::Ok, "", 0, {}},
        {"history switched back to real time", 3, Action::RealTimeThenOk, "", 0, {}},
        {"history as opened", 3, Action::Ok, "", 3, stored},
        {"ten years", 5, Action::Ok, "", 5, stored},
        {"history without a kind", 0, Action::HistoryThenOk, "Please set kind!", -1, {}},
        {"no radio", 2, Action::NoRadioThenOk, "Please chose mode!", -1, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        MessageLog messages;
        CDlgShowMode dlg;
        dlg.SetInfo(k.mode, stored);
        dlg.show();
        ShowModeControls c(dlg);
        switch (k.action) {
        case Action::Ok:
            break;
        case Action::HistoryThenOk:
            c.history->click();
            break;
        case Action::RealTimeThenOk:
            c.realTime->click();
            break;
        case Action::NoRadioThenOk:
            for (QRadioButton* r : {c.realTime, c.history}) {
                r->setAutoExclusive(false);
                r->setChecked(false);
            }
            break;
        }
        c.ok->click();
        if (*k.message == '\0') {
            EXPECT_TRUE(messages.texts.empty());
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_FALSE(dlg.isVisible());
            int mode = -9;
            SystemTime period = At(1, 1, 1, 1, 1, 1);
            dlg.GetInfo(mode, period);
            EXPECT_EQ(mode, k.outMode);
            EXPECT_TRUE(SameFields(period, k.outPeriod))
                << period.wYear << "-" << period.wMonth << "-" << period.wDay << " " << period.wHour << ":"
                << period.wMinute << ":" << period.wSecond;
        } else {
            EXPECT_EQ(messages.texts, std::vector<QString>{QString::fromLatin1(k.message)});
            EXPECT_TRUE(dlg.isVisible()) << "stays open";
            EXPECT_NE(dlg.result(), QDialog::Accepted);
        }
    }
}

TEST(ShowModeDialog, OkTakesThePickedPeriod) {
    CDlgShowMode dlg;
    dlg.SetInfo(2, At(2020, 1, 1, 0, 0, 0));
    dlg.show();
    ShowModeControls c(dlg);
    c.scale->setCurrentIndex(2);
    c.date->setDate(QDate(2024, 2, 29));
    c.time->setTime(QTime(7, 8, 9));
    c.ok->click();
    int mode = 0;
    SystemTime period;
    dlg.GetInfo(mode, period);
    EXPECT_EQ(mode, 3);
    EXPECT_TRUE(SameFields(period, At(2024, 2, 29, 7, 8, 9)));
    EXPECT_EQ(period.wDayOfWeek, 4) << "a Thursday";
}

TEST(ShowModeDialog, EnterEscapeAndAltF4DoNotCloseButTheCloseBoxCancels) {
    CDlgShowMode dlg;
    dlg.SetInfo(1, At(2023, 7, 14, 9, 30, 15));
    dlg.show();
    ShowModeControls c(dlg);
    for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(c.scale),
                            static_cast<QWidget*>(c.date), static_cast<QWidget*>(c.time),
                            static_cast<QWidget*>(c.ok), static_cast<QWidget*>(c.history)}) {
        SendClosingKeys(target);
        EXPECT_TRUE(dlg.isVisible()) << target->objectName().toStdString();
    }
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(ShowModeDialog, RendersForAPerson) {
    CDlgShowMode dlg;
    dlg.SetInfo(2, At(2024, 5, 17, 14, 0, 0));
    dlg.show();
    QApplication::processEvents();
    QDir().mkpath("ui-shots");
    EXPECT_TRUE(dlg.grab().save("ui-shots/show-mode-dialog.png"));
}

// ---- five-minute history chart ----

// Hour files written the way the station writes them.
class SensorFolder {
  public:
    std::filesystem::path folder() const { return m_dir.path() / "Office"; }

    // One record per entry: minute, second, humidity, temperature.
    struct Reading {
        int minute, second;
        double h, t;
    };
    void WriteHour(const SystemTime& hour, const std::vector<Reading>& readings) const {
        const std::filesystem::path file = HourFilePath(folder(), hour);
        ASSERT_EQ(CheckAndCreateUnicodeFile(file), 1);
        for (const Reading& r : readings) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%02d %+05.1f,%+05.1f", 1, r.h, r.t);
            SaveComRevData(buf, 14, file, static_cast<std::uint16_t>(r.minute),
                           static_cast<std::uint16_t>(r.second), r.h, r.t);
        }
    }

  private:
    test::TempDir m_dir;
};

constexpr double kDay = 86400.0;

double X(int h, int m, int s) { return h / 24.0 + m / 1440.0 + s / kDay; }

std::vector<ChartPoint> PointsOf(const QCPGraph* g) {
    std::vector<ChartPoint> out;
    for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it) out.push_back({it->key, it->value});
    return out;
}

void ExpectPoints(const QCPGraph* g, const std::vector<ChartPoint>& want) {
    const auto got = PointsOf(g);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, 1e-9) << i;
        EXPECT_DOUBLE_EQ(got[i].y, want[i].y) << i;
    }
}

TEST(HistoryChartDialog, ShowsTheFiveMinutesFromTheHourFile) {
    SensorFolder sensor;
    sensor.WriteHour(At(2024, 3, 15, 10, 0, 0), {
                                                      {25, 50, 40.0, 20.0}, // before the window
                                                      {26, 0, 41.5, 21.5},
                                                      {27, 30, 99.9, 22.0}, // humidity error: temperature only
                                                      {29, 10, 43.0, 80.0}, // temperature error
                                                      {30, 59, 44.0, -5.5},
                                                      {31, 0, 45.0, 23.0}, // after the window
                                                  });
    CDlgShowLumoGraphForTable dlg;
    const QColor colour(30, 120, 220);
    dlg.SetInfo("Office", sensor.folder(), colour, 2024, 3, 15, 10, 26);
    EXPECT_EQ(dlg.windowTitle(), "Show Data - Office");

    charts::ChartPane* upper = dlg.findChild<charts::ChartPane*>("1055");
    charts::ChartPane* lower = dlg.findChild<charts::ChartPane*>("1056");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(upper, dlg.HumidityPane());
    EXPECT_EQ(upper->Title(), "Humidity");
    EXPECT_EQ(lower->Title(), "Temperature");
    EXPECT_EQ(upper->yAxis->range(), QCPRange(0, 100));
    EXPECT_EQ(lower->yAxis->range(), QCPRange(-40, 80));
    EXPECT_NE(upper->yAxis->numberFormat(), "f") << "the y labels keep the default format";
    ASSERT_EQ(upper->graphCount(), 1);
    ASSERT_EQ(lower->graphCount(), 1);
    for (QCPGraph* g : {upper->graph(0), lower->graph(0)}) {
        EXPECT_EQ(g->name(), "123");
        EXPECT_EQ(g->pen().color(), colour);
        EXPECT_EQ(g->scatterStyle().shape(), QCPScatterStyle::ssDiamond);
    }
    ExpectPoints(upper->graph(0), {{X(10, 26, 0), 41.5}, {X(10, 29, 10), 43.0}, {X(10, 30, 59), 44.0}});
    ExpectPoints(lower->graph(0), {{X(10, 26, 0), 21.5}, {X(10, 27, 30), 22.0}, {X(10, 30, 59), -5.5}});

    const double min = 10 / 24.0 + 26 / 1440.0 - 0.0000001;
    for (charts::ChartPane* pane : {upper, lower}) {
        const XAxisSpec& x = pane->XAxis();
        EXPECT_TRUE(x.dateAxis);
        EXPECT_EQ(x.title, "Time(unit:Minute)");
        EXPECT_DOUBLE_EQ(x.min, min);
        EXPECT_DOUBLE_EQ(x.max, min + 5 / 1440.0);
        EXPECT_DOUBLE_EQ(x.majorStep, 1 / 1440.0);
        EXPECT_DOUBLE_EQ(x.minorStep, 20 / kDay);
        pane->replot();
        const QVector<QString> labels = pane->xAxis->tickVectorLabels();
        EXPECT_EQ(QStringList(labels.begin(), labels.end()),
                  (QStringList{"10:26", "10:27", "10:28", "10:29", "10:30", "10:31"}));
        EXPECT_TRUE(CoversSymbols(pane->yAxis->labelFont())) << pane->yAxis->labelFont().family().toStdString();
    }
}

TEST(HistoryChartDialog, MissingFilesLeaveEmptyCurvesUnderTheAxes) {
    SensorFolder sensor;
    CDlgShowLumoGraphForTable dlg;
    dlg.SetInfo(QString::fromUtf8("Kühlraum"), sensor.folder() / "nothing", Qt::red, 2024, 3, 15, 23, 58);
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Show Data - Kühlraum"));
    EXPECT_TRUE(dlg.HumidityPane()->graph(0)->data()->isEmpty());
    EXPECT_TRUE(dlg.TemperaturePane()->graph(0)->data()->isEmpty());
    EXPECT_DOUBLE_EQ(dlg.HumidityPane()->XAxis().min, 23 / 24.0 + 58 / 1440.0 - 0.0000001);

    // Shown again for another sensor: the old points go.
    sensor.WriteHour(At(2024, 3, 15, 9, 0, 0), {{0, 5, 50.0, 20.0}});
    dlg.SetInfo("B", sensor.folder(), Qt::blue, 2024, 3, 15, 9, 0);
    EXPECT_EQ(dlg.HumidityPane()->graph(0)->data()->size(), 1);
    dlg.SetInfo("C", sensor.folder() / "none", Qt::blue, 2024, 3, 15, 9, 0);
    EXPECT_TRUE(dlg.HumidityPane()->graph(0)->data()->isEmpty());
}

TEST(HistoryChartDialog, FixedSizeAndKeysDoNotClose) {
    CDlgShowLumoGraphForTable dlg;
    dlg.SetInfo("A", "/nonexistent", Qt::red, 2024, 1, 1, 0, 0);
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()) << "not resizable";
    for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(dlg.HumidityPane())}) {
        SendClosingKeys(target);
        EXPECT_TRUE(dlg.isVisible());
    }
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
}

TEST(HistoryChartDialog, RendersForAPerson) {
    SensorFolder sensor;
    std::vector<SensorFolder::Reading> readings;
    for (int s = 24 * 60; s < 33 * 60; s += 10)
        readings.push_back({s / 60, s % 60, 52.0 + 3.0 * std::sin(s / 40.0), 21.0 + 1.5 * std::cos(s / 55.0)});
    sensor.WriteHour(At(2024, 3, 15, 14, 0, 0), readings);
    CDlgShowLumoGraphForTable dlg;
    dlg.SetInfo("Office", sensor.folder(), QColor(30, 120, 220), 2024, 3, 15, 14, 26);
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.HumidityPane()->graph(0)->data()->size(), 30);
    QDir().mkpath("ui-shots");
    EXPECT_TRUE(dlg.grab().save("ui-shots/history-chart-dialog.png"));
}

} // namespace
} // namespace hygro::ui
