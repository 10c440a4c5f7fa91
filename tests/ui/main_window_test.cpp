#include "app/app_core.h"
#include "charts/lumo_charts.h"
#include "db/db_lock.h"
#include "mail/mail_opt.h"
#include "settings/profile_file.h"
#include "support/netns.h"
#include "support/messages.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "map/map_layout.h"
#include "map/map_widget.h"
#include "ui/alarm_dialogs.h"
#include "ui/map_dialogs.h"
#include "ui/chart_dialogs.h"
#include "ui/mail_dialogs.h"
#include "ui/main_area.h"
#include "ui/main_window.h"
#include "ui/sensor_views.h"
#include "util/kx_log.h"
#include "util/message_box.h"
#include "util/text.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QImage>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace hygro::ui {
namespace {

using test::WaitFor;

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The station starts its network: keep it inside the private one.
        if (!test::InPrivateNetns()) GTEST_SKIP() << "runs inside tests/support/run_in_netns.sh";
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"LSensor", u"Rcount", u"4");
        doc.SetString(u"LSensor", u"Tcount", u"4");
        const char16_t* names[] = {u"Cold room", u"Lab", u"Greenhouse", u"Office"};
        for (int i = 0; i < 4; ++i) {
            const std::u16string sec = ToUtf16(std::to_string(i + 1));
            doc.SetString(sec, u"name", names[i]);
            doc.SetString(sec, u"FolderName", ToUtf16("S" + std::to_string(i + 1)));
            doc.SetString(sec, u"show", u"1");
            doc.SetString(sec, u"No", ToUtf16(std::to_string(i + 1)));
            doc.SetString(sec, u"DeviceIPandPort", ToUtf16("198.18.0." + std::to_string(i + 2) + ":50200"));
        }
        if (m_tableView) doc.SetString(u"View", u"mode", u"table");
        test::WriteSealedSettings(m_dir.path(), doc);

        m_app = std::make_unique<CAppForNimbo1App>();
        ASSERT_EQ(m_app->InitGlobalValue(m_dir.path()), 1);
        m_app->StartUp();
        m_window = std::make_unique<CAppForNimbo1Dlg>(*m_app);
        m_window->InitDialog();
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        QTest::qWait(300); // first show
    }
    void TearDown() override {
        if (m_window) m_window->close();
        m_window.reset();
        g_MailSender.Stop();
        g_MailSender.SetTransport({});
        if (m_app) m_app->ShutDown();
        g_Log.SetTap({});
    }
    std::u16string Saved(const char16_t* section, const char16_t* key) {
        const auto p = m_dir.path() / "Veltrix" / "Hygrolog" / "Settings.ini";
        return ProfileFile::Parse(test::ReadFile(p))->GetString(section, key, u"<missing>");
    }
    // Gives sensor index readings as the receive check would and refreshes its row.
    void Reading(int index, double h, double t) {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        CTable_WiFiSensorDB* table = m_app->Database().GetTableDB();
        table->GetRow(index)->SetValue(table, "Time", std::string("2026-12-10 9:5:0"));
        table->GetRow(index)->SetValue(table, "Humidity", h);
        table->GetRow(index)->SetValue(table, "Temperature", t);
        m_window->Table()->RefreshRow(m_app->Database(), index);
    }

    bool m_tableView = false;
    test::TempDir m_dir;
    std::unique_ptr<CAppForNimbo1App> m_app;
    std::unique_ptr<CAppForNimbo1Dlg> m_window;
};

TEST_F(MainWindowTest, BothViewItemsToggleAndGrayTheMapItems) {
    EXPECT_EQ(m_window->ViewMode(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(m_window->ViewDependentAction(i)->isEnabled());
    EXPECT_TRUE(m_window->MapModeAction()->isChecked());

    m_window->MapModeAction()->trigger(); // "Map" while in map view switches to the table
    EXPECT_EQ(m_window->ViewMode(), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(m_window->ViewDependentAction(i)->isEnabled());
    EXPECT_TRUE(m_window->TableModeAction()->isChecked());
    EXPECT_FALSE(m_window->MapModeAction()->isChecked());
    EXPECT_TRUE(m_window->Table()->isVisible());
    EXPECT_EQ(Saved(u"View", u"mode"), u"table");

    m_window->TableModeAction()->trigger();
    EXPECT_EQ(m_window->ViewMode(), 0);
    EXPECT_FALSE(m_window->Table()->isVisible());
    EXPECT_EQ(Saved(u"View", u"mode"), u"map");
}

TEST_F(MainWindowTest, ALightGoesOffHalfASecondAfterTheFirstEventOfABurst) {
    m_window->StartRxLed(0);
    ASSERT_TRUE(WaitFor([&] { return m_window->RxLit(); }));
    QElapsedTimer t;
    t.start();
    // A burst keeps hitting it; it is not re-armed.
    while (m_window->RxLit() && t.elapsed() < 2000) {
        m_window->StartRxLed(0);
        QTest::qWait(20);
    }
    EXPECT_FALSE(m_window->RxLit());
    EXPECT_LT(t.elapsed(), 1500);
    m_window->StartTxLed(1);
    EXPECT_TRUE(WaitFor([&] { return m_window->TxLit(); }));
}

TEST_F(MainWindowTest, EnterAndEscapeDoNotClose) {
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(m_window.get(), Qt::Key(key));
    QTest::qWait(50);
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(MainWindowTest, CloseStopsTheReceiveCheckAndSavesTheWindow) {
    std::vector<std::string> lines;
    std::mutex lock;
    g_Log.SetTap([&](const std::string& l) {
        std::lock_guard g(lock);
        lines.push_back(l);
    });
    m_window->close();
    g_Log.SetTap({});
    EXPECT_THAT(lines, ::testing::Contains("CheckRevThread close![1]"));
    EXPECT_NE(Saved(u"Pos", u"width"), u"<missing>");
    EXPECT_EQ(Saved(u"Other", u"PWidth"), u"300");
}

TEST_F(MainWindowTest, SplitterReleaseSavesThePictureWidth) {
    MainArea* area = m_window->Area();
    const int y = area->height() / 2;
    QTest::mouseMove(area, QPoint(301, y));
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(301, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(250, y), area->mapToGlobal(QPointF(250, y)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(area, &move);
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(250, y));
    EXPECT_EQ(area->SplitterLeft(), 250);
    EXPECT_EQ(Saved(u"Other", u"PWidth"), u"250");
}

TEST_F(MainWindowTest, ClearHistoryDataStopsPollingDeletesAndEndsWithoutSaving) {
    QAction* clear = nullptr;
    for (QAction* a : m_window->findChildren<QAction*>())
        if (a->text() == QStringLiteral("Clear History Data")) clear = a;
    ASSERT_NE(clear, nullptr);
    std::vector<std::string> lines;
    g_Log.SetTap([&](const std::string& l) { lines.push_back(l); });
    MessageHandler previous =
        SetMessageHandler([](const std::u16string&, MsgButtons) { return MsgAnswer::Yes; });
    clear->trigger();
    SetMessageHandler(previous);
    g_Log.SetTap({});
    EXPECT_THAT(lines, ::testing::Contains("CheckRevThread close![1]"));
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_app->GetSkipSave(), 1);
    m_app->ShutDown();
    m_app.reset();
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "Veltrix" / "Hygrolog"));
}

class MainWindowShots : public MainWindowTest {
  protected:
    MainWindowShots() { m_tableView = true; }
};

// Pictures for a person to look at: build/ui-shots/*.png.
TEST_F(MainWindowShots, RenderBothViews) {
    Reading(0, 85.0, 4.0);
    Reading(1, 45.3, 21.7);
    Reading(2, 99.9, 24.0); // a sensor error shows as "Error!"
    QTest::qWait(50);
    EXPECT_EQ(m_window->Table()->item(0, SensorTable::kColTemperature)->text(), QString::fromUtf8("4.0℃"));
    EXPECT_EQ(m_window->Table()->item(2, SensorTable::kColHumidity)->text(), QStringLiteral("Error!"));
    const std::filesystem::path out = std::filesystem::current_path() / "ui-shots";
    std::filesystem::create_directories(out);
    m_window->resize(1100, 640);
    QTest::qWait(100);
    ASSERT_TRUE(m_window->grab().save(QString::fromStdString((out / "main-table.png").string())));
    m_window->TableModeAction()->trigger();
    QTest::qWait(100);
    ASSERT_TRUE(m_window->grab().save(QString::fromStdString((out / "main-map.png").string())));
}

// The alarm list opened from the table's alarm cell, and what closing it does.
class AlarmFlowTest : public MainWindowTest {
  protected:
    AlarmFlowTest() { m_tableView = true; }
    void SetUp() override {
        MainWindowTest::SetUp();
        // Only the readings given here set the poll time.
        if (m_window) m_window->SetTimerFlags(0);
    }
    // A reading of sensor 0 below its (default) low temperature limit, stored as the
    // receive check stores it.
    void Breach(const SystemTime& poll) {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        m_window->Acquisition().SetPollTime(poll);
        m_window->Acquisition().SaveWiFiSensorData(0, "01 +50.0,-45.0\r\n", 16);
    }
    static std::string Record(int second) {
        return "2026-12-10 10:00:" + std::string(second < 10 ? "0" : "") + std::to_string(second) +
               " +50.0,-45.0\r\n";
    }
    static SystemTime At(int second) { return test::At(2026, 12, 10, 10, 0, second); }
    std::string AlarmFile() { return test::ReadFile(m_app->Settings().GetDataPath() / "S1" / "Alarm.txt"); }
    QTableWidgetItem* AlarmCell() { return m_window->Table()->item(0, SensorTable::kColAlarm); }
    bool Red() { return AlarmCell()->foreground().color() == QColor(255, 0, 0); }
    int TableAlarm() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        int v = -1;
        m_app->Database().GetTableDB()->GetRow(0)->GetValue("Alarm", v);
        return v;
    }
    // Click and double-click sensor 0's alarm cell; `inside` runs while the list is
    // open, then the list is closed with its close box. False when no list opened.
    bool OpenList(const std::function<void(CDlgAllErrorData&)>& inside) {
        bool handled = false, opened = false;
        test::OnNextModal(
            [&](QWidget* w) {
                handled = true;
                if (auto* list = qobject_cast<CDlgAllErrorData*>(w)) {
                    opened = true;
                    inside(*list);
                    list->close();
                }
            },
            500);
        test::ClickCell(*m_window->Table(), 0, SensorTable::kColAlarm);
        test::DoubleClickCell(*m_window->Table(), 0, SensorTable::kColAlarm);
        EXPECT_TRUE(WaitFor([&] { return handled; }));
        return opened;
    }
};

TEST_F(AlarmFlowTest, NoAlarmOpensNothing) {
    EXPECT_EQ(AlarmCell()->text(), "-");
    EXPECT_FALSE(OpenList([](CDlgAllErrorData&) {}));
}

TEST_F(AlarmFlowTest, LookingAtTheListAcknowledges) {
    Breach(At(0));
    Breach(At(10));
    ASSERT_TRUE(WaitFor([&] { return AlarmCell()->text() == "Alarm" && Red(); }));
    int listed = 0;
    EXPECT_TRUE(OpenList([&](CDlgAllErrorData& list) { listed = list.List()->model()->rowCount(); }));
    EXPECT_EQ(listed, 2);
    EXPECT_EQ(TableAlarm(), 1);
    EXPECT_EQ(AlarmCell()->text(), "Alarm");
    EXPECT_FALSE(Red());
    EXPECT_EQ(AlarmFile(), "Count=00002\r\n" + Record(0) + Record(10));
    EXPECT_EQ(Saved(u"1", u"AlarmSecond2"), u"10") << "saved at once";
    EXPECT_EQ(Saved(u"1", u"AlarmYear"), u"0");

    Breach(At(20)); // a new alarm is red again
    EXPECT_TRUE(WaitFor([&] { return Red(); }));
    EXPECT_EQ(TableAlarm(), 2);
}

TEST_F(AlarmFlowTest, ClearingEmptiesTheFile) {
    Breach(At(0));
    ASSERT_TRUE(WaitFor([&] { return Red(); }));
    EXPECT_TRUE(OpenList([](CDlgAllErrorData& list) { list.OnClearAlarm(); }));
    EXPECT_EQ(AlarmFile(), "Count=00000\r\n");
    EXPECT_EQ(TableAlarm(), 0);
    EXPECT_EQ(AlarmCell()->text(), "-");
    EXPECT_EQ(Saved(u"1", u"AlarmYear"), u"2026");
    EXPECT_EQ(Saved(u"1", u"AlarmYear2"), u"2026");
}

TEST_F(AlarmFlowTest, ARecordArrivingWhileTheListIsOpenSurvivesTheClearing) {
    Breach(At(0));
    ASSERT_TRUE(WaitFor([&] { return Red(); }));
    EXPECT_TRUE(OpenList([&](CDlgAllErrorData& list) {
        Breach(At(30));
        list.OnClearAlarm();
    }));
    EXPECT_EQ(AlarmFile(), "Count=00001\r\n" + Record(30));
    EXPECT_EQ(TableAlarm(), 2);
    EXPECT_EQ(AlarmCell()->text(), "Alarm");
    EXPECT_TRUE(Red());
}

TEST_F(AlarmFlowTest, AlarmMailSettingsTestedSavedAndUsed) {
    std::mutex lock;
    std::vector<PreparedMail> sent;
    g_MailSender.SetTransport([&](const PreparedMail& mail) {
        std::lock_guard g(lock);
        sent.push_back(mail);
    });
    Breach(At(0)); // no server yet: nothing queued
    EXPECT_EQ(g_MailSender.QueuedCount(), 0u);

    QAction* item = nullptr;
    for (QAction* a : m_window->findChildren<QAction*>())
        if (a->text() == QStringLiteral("Alarm Mail")) item = a;
    ASSERT_NE(item, nullptr);
    test::OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CDlgAlarmMail*>(w);
        ASSERT_NE(dlg, nullptr);
        const std::pair<const char*, const char*> fields[] = {{"1131", "smtp.example.org"},  {"1135", "587"},
                                                              {"1133", "alarm@example.org"}, {"1134", "pw"},
                                                              {"1061", "ops@example.org"},   {"1139", "5"}};
        for (const auto& [id, text] : fields)
            QTest::keyClicks(dlg->findChild<QLineEdit*>(id), text);
        test::OnNextModal([&](QWidget* t) {
            auto* log = qobject_cast<CDlgMailTestLog*>(t);
            ASSERT_NE(log, nullptr);
            ASSERT_TRUE(WaitFor([&] { return log->IsDone(); }));
            log->close();
        });
        dlg->findChild<QPushButton*>("1137")->click();
        ASSERT_TRUE(dlg->OkButton()->isEnabled());
        dlg->OkButton()->click();
    });
    item->trigger();
    EXPECT_EQ(Saved(u"AlarmMail", u"SmtpServer"), u"smtp.example.org");
    EXPECT_EQ(Saved(u"AlarmMail", u"Time"), u"5");
    EXPECT_EQ(g_MailSender.GetSettings().smtpServer, u"smtp.example.org");
    EXPECT_EQ(g_MailSender.GetPause(), 0);

    Breach(At(10)); // now the alarm becomes a mail line
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard g(lock);
        return sent.size() == 2; // the test mail and the alarm mail
    }));
    std::lock_guard g(lock);
    ASSERT_EQ(sent[1].lines.size(), 1u);
    EXPECT_EQ(sent[1].lines[0].rfind("Cold room\xEF\xBC\x8C 2026-12-10 10:00:10", 0), 0u) << sent[1].lines[0];
}

// The charts of the map view and the table's history window, fed as the receive check
// feeds them.
class ChartFlowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (m_window) m_window->SetTimerFlags(0);
    }
    void Store(int index, const SystemTime& poll, const char* reading) {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        m_window->Acquisition().SetPollTime(poll);
        m_window->Acquisition().SaveWiFiSensorData(index, reading, 16);
    }
    SensorPoints Points(int index) { return m_window->Charts()->Points(index); }
};

TEST_F(ChartFlowTest, LiveReadingsBecomePointsAndTableViewClearsThem) {
    ASSERT_NE(m_window->Charts(), nullptr);
    EXPECT_EQ(m_window->Charts()->Count(), 4);
    SystemTime now = GetLocalTime();
    now.wMilliseconds = 0;
    Store(0, now, "01 +45.5,+21.0\r\n");
    Store(1, now, "02 +99.9,+22.0\r\n"); // an invalid humidity gives no point
    ASSERT_TRUE(WaitFor([&] { return Points(1).temperature.size() == 1; }));
    const double x = TimeOfDayX(now.wHour, now.wMinute, now.wSecond);
    EXPECT_EQ(Points(0).humidity, (std::vector<ChartPoint>{{x, 45.5}}));
    EXPECT_EQ(Points(0).temperature, (std::vector<ChartPoint>{{x, 21.0}}));
    EXPECT_TRUE(Points(1).humidity.empty());
    const XAxisSpec axis = m_window->Charts()->HumidityPane()->XAxis();
    EXPECT_TRUE(axis.dateAxis);
    EXPECT_LE(axis.min, x + 1e-9);
    EXPECT_GE(axis.max, x - 1e-9);

    m_window->MapModeAction()->trigger(); // to table view: the lists are emptied
    EXPECT_TRUE(Points(0).humidity.empty());
    m_window->TableModeAction()->trigger(); // back: the hour file's points are loaded
    EXPECT_EQ(Points(0).humidity.size(), 1u);
}

TEST_F(ChartFlowTest, DisplayModeOneDayShowsTheHourMeans) {
    SystemTime now = GetLocalTime();
    Store(0, now, "01 +40.0,+20.0\r\n");
    Store(0, now, "01 +50.0,+22.0\r\n");
    test::OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CDlgShowMode*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->findChild<QRadioButton*>("1020")->click();
        dlg->findChild<QComboBox*>("1021")->setCurrentIndex(1); // "1 day"
        dlg->findChild<QDateEdit*>("1022")->setDate(QDate(now.wYear, now.wMonth, now.wDay));
        dlg->findChild<QTimeEdit*>("1023")->setTime(QTime(0, 0));
        dlg->OnOK();
    });
    m_window->ViewDependentAction(0)->trigger();
    EXPECT_EQ(m_app->Settings().GetShowMode(), 2);
    EXPECT_EQ(m_window->Charts()->HumidityPane()->XAxis().title, "Time(unit:1 Hour)");
    EXPECT_EQ(Points(0).humidity, (std::vector<ChartPoint>{{double(now.wHour), 45.0}}));
    EXPECT_EQ(Points(0).temperature, (std::vector<ChartPoint>{{double(now.wHour), 21.0}}));

    // A history mode takes no live points.
    Store(0, now, "01 +60.0,+25.0\r\n");
    QTest::qWait(50);
    EXPECT_EQ(Points(0).humidity.size(), 1u);
}

class TableChartTest : public ChartFlowTest {
  protected:
    TableChartTest() { m_tableView = true; }
};

TEST_F(TableChartTest, RowButtonOpensTheSensorsLastFiveMinutes) {
    SystemTime now = GetLocalTime();
    Store(2, now, "03 +55.0,+18.5\r\n");
    QString title;
    int points = -1;
    test::OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CDlgShowLumoGraphForTable*>(w);
        ASSERT_NE(dlg, nullptr);
        title = dlg->windowTitle();
        points = dlg->HumidityPane()->graphCount() > 0 ? dlg->HumidityPane()->graph(0)->dataCount() : -1;
        dlg->close();
    });
    auto* button = qobject_cast<QPushButton*>(m_window->Table()->cellWidget(2, SensorTable::kColGraph));
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_EQ(title, "Show Data - Greenhouse");
    EXPECT_EQ(points, 1) << "the reading just stored lies in the last five minutes";
}

// The map view: boxes from the device tables, moving a sensor, map files.
class MapFlowTest : public MainWindowTest {
  protected:
    void SendToMap(QEvent::Type type, QPoint pos) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, pos, m_window->Map()->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(m_window->Map(), &e);
    }
};

TEST_F(MapFlowTest, SensorsAreBoxesAndAMovedOneKeepsItsPlace) {
    map::CPicCtrl_WiFiSensor* mapPane = m_window->Map();
    ASSERT_NE(mapPane, nullptr);
    ASSERT_TRUE(WaitFor([&] { return mapPane->Boxes().Boxes().size() == 4; }));
    EXPECT_EQ(mapPane->Boxes().Boxes()[1].name, "Lab");
    EXPECT_EQ(mapPane->Picture().size(), QSize(227, 470)) << "the built-in plan";

    m_window->StartMoveSensor(1);
    const QPoint target(mapPane->width() / 2, mapPane->height() / 4);
    SendToMap(QEvent::MouseMove, target);
    SendToMap(QEvent::MouseButtonPress, target);
    SendToMap(QEvent::MouseButtonRelease, target);
    EXPECT_EQ(mapPane->Boxes().MovingIndex(), -1);
    const double fx = double(target.x()) / mapPane->width(), fy = double(target.y()) / mapPane->height();
    double x = -1, y = -1;
    {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        m_app->Database().GetPicDB()->GetRow(1)->GetValue("PosX", x);
        m_app->Database().GetPicDB()->GetRow(1)->GetValue("PosY", y);
    }
    EXPECT_NEAR(x, fx, 1e-9);
    EXPECT_NEAR(y, fy, 1e-9);
    // Saved at once: the next start finds it there.
    EXPECT_NEAR(std::stod(ToUtf8(Saved(u"2", u"posx"))), fx, 1e-4);
    EXPECT_NEAR(std::stod(ToUtf8(Saved(u"2", u"posy"))), fy, 1e-4);
}

TEST_F(MapFlowTest, CreateWritesAMapFileThatOpenShowsInTheHistoryWindow) {
    test::MessageLog messages;
    const std::filesystem::path plan = m_dir.path() / "plan";
    test::OnNextModal([&](QWidget* w) {
        auto* files = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(files, nullptr);
        files->selectFile(QString::fromStdString(plan.string()));
        QMetaObject::invokeMethod(files, "accept");
    });
    m_window->ViewDependentAction(2)->trigger(); // "Create"
    EXPECT_EQ(messages.texts, std::vector<QString>{"Success to create filie!"});
    const std::filesystem::path written = m_dir.path() / "plan.sdz";
    ASSERT_TRUE(std::filesystem::exists(written));

    test::OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CDlgSetPicturePath*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->findChild<QLineEdit*>("1006")->setText(QString::fromStdString(written.string()));
        dlg->OnOK();
    });
    m_window->ViewDependentAction(1)->trigger(); // "Open"
    ASSERT_TRUE(m_window->HistoryMap()->isVisible());
    EXPECT_EQ(m_window->HistoryMap()->windowTitle(), "History Map - plan.sdz");
    EXPECT_EQ(m_window->HistoryMap()->View()->Boxes().Boxes().size(), 4u);
    m_window->HistoryMap()->close();
    EXPECT_FALSE(m_window->HistoryMap()->isVisible()) << "hidden, not destroyed";
}

TEST_F(MapFlowTest, OpenTakesAPictureAndRefusesOneThatCannotBeDecoded) {
    const auto open = [&](const std::filesystem::path& path) {
        test::OnNextModal([&](QWidget* w) {
            auto* dlg = qobject_cast<CDlgSetPicturePath*>(w);
            ASSERT_NE(dlg, nullptr);
            dlg->findChild<QLineEdit*>("1006")->setText(QString::fromStdString(path.string()));
            dlg->OnOK();
        });
        m_window->ViewDependentAction(1)->trigger();
    };
    const std::filesystem::path png = m_dir.path() / "plan.png";
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(png.string())));
    open(png);
    EXPECT_EQ(m_window->Map()->Picture().size(), QSize(400, 200));
    EXPECT_TRUE(std::filesystem::exists(m_app->Settings().GetDataPath() / "demoFile.kvp"));
    EXPECT_EQ(Saved(u"Other", u"PWidth"), ToUtf16(std::to_string(m_window->Area()->height() * 2)))
        << "width from the picture's proportions";

    test::MessageLog messages;
    const std::filesystem::path broken = m_dir.path() / "broken.bmp";
    test::WriteFile(broken, std::string(300, 'x'));
    open(broken);
    EXPECT_EQ(messages.texts, std::vector<QString>{"File is error!"});
    EXPECT_EQ(m_window->Map()->Picture().size(), QSize(227, 470)) << "back to the built-in plan";
}

} // namespace
} // namespace hygro::ui
