// The alarm list and limits dialogs, offscreen. No network is started here.
#include "ui/alarm_dialogs.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_core.h"
#include "db/wifi_sensor_db.h"
#include "settings/profile_file.h"
#include "support/messages.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "util/message_box.h"

namespace hygro::ui {
namespace {

QString Text(QWidget* parent, const char* id) {
    if (auto* l = parent->findChild<QLabel*>(QString::fromLatin1(id))) return l->text();
    if (auto* e = parent->findChild<QLineEdit*>(QString::fromLatin1(id))) return e->text();
    return QStringLiteral("<no control %1>").arg(QString::fromLatin1(id));
}

void Type(QWidget* parent, const char* id, const QString& text) {
    parent->findChild<QLineEdit*>(QString::fromLatin1(id))->setText(text);
}

void Press(QWidget* parent, const char* id) { parent->findChild<QPushButton*>(QString::fromLatin1(id))->click(); }

using hygro::test::MessageLog;

void SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
}

TEST(LimitDialog, OkChecksTheFourFieldsInOrder) {
    struct Case {
        QString hMax, hMin, tMax, tMin;
        QString message; // empty: accepted
    };
    const Case cases[] = {
        {"100.0", "0.0", "80.0", "-40.0", ""}, // the defaults pass, -40 included
        {"95", "60", "8", "0", ""},
        {"100.1", "0.0", "80.0", "-40.0", "Humidity's hight limit is error!"},
        {"50", "60", "80", "-40", "Humidity's low limit is error!"},
        {"100", "0", "81", "-40", "Temperature's hight limit is error!"},
        {"100", "0", "20", "25", "Temperature's low limit is error!"},
        {"100", "0", "80", "-41", "Temperature's low limit is error!"},
        {"x", "y", "z", "w", ""}, // not a number reads as 0: all four 0
        {"120", "-5", "99", "-99", "Humidity's hight limit is error!"},
    };
    for (const Case& c : cases) {
        MessageLog messages;
        CDlgSetSensorLimit dlg;
        dlg.SetInfo(c.hMax, c.hMin, c.tMax, c.tMin);
        dlg.show();
        Press(&dlg, "1008");
        if (c.message.isEmpty()) {
            EXPECT_TRUE(messages.texts.empty()) << c.hMax.toStdString();
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_FALSE(dlg.isVisible());
        } else {
            EXPECT_EQ(messages.texts, std::vector<QString>{c.message}) << c.hMax.toStdString();
            EXPECT_TRUE(dlg.isVisible()) << "stays open";
            EXPECT_NE(dlg.result(), QDialog::Accepted);
        }
    }
}

TEST(LimitDialog, GivesTheCheckedValuesAndCancelKeepsNothing) {
    CDlgSetSensorLimit dlg;
    dlg.SetInfo("70.5", " 20", "30.25", "-12");
    dlg.show();
    Press(&dlg, "1008");
    double hMax = 0, hMin = 0, tMax = 0, tMin = 0;
    dlg.GetLimit(hMax, hMin, tMax, tMin);
    EXPECT_EQ((SensorLimits{hMax, hMin, tMax, tMin}), (SensorLimits{70.5, 20, 30.25, -12}));

    CDlgSetSensorLimit cancelled;
    cancelled.SetInfo("70", "20", "30", "-12");
    cancelled.show();
    Press(&cancelled, "1117");
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_FALSE(cancelled.isVisible());
}

TEST(LimitDialog, EnterEscapeAndAltF4DoNotClose) {
    CDlgSetSensorLimit dlg;
    dlg.SetInfo("100", "0", "80", "-40");
    dlg.show();
    QWidget* edit = dlg.findChild<QLineEdit*>("1051");
    for (QWidget* target : {static_cast<QWidget*>(&dlg), edit}) {
        SendKey(target, Qt::Key_Return);
        SendKey(target, Qt::Key_Enter);
        SendKey(target, Qt::Key_Escape);
        SendKey(target, Qt::Key_F4, Qt::AltModifier);
    }
    QApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
}

class AlarmListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const ProfileFile doc = hygro::test::ColdRoomSettings();
        hygro::test::WriteSealedSettings(m_dir.path(), doc);
        ASSERT_EQ(m_app.InitGlobalValue(m_dir.path()), 1);
        m_app.Database().InitAllDB();
        m_app.AddValueToDB();
    }
    std::filesystem::path AlarmFile() { return m_app.Settings().GetDataPath() / "cold" / "Alarm.txt"; }
    void WriteAlarms(const std::string& content) {
        std::filesystem::create_directories(AlarmFile().parent_path());
        hygro::test::WriteFile(AlarmFile(), content);
    }
    std::u16string Saved(const char16_t* key) {
        const auto p = m_dir.path() / "Veltrix" / "Hygrolog" / "Settings.ini";
        return ProfileFile::Parse(hygro::test::ReadFile(p))->GetString(u"1", key, u"<missing>");
    }
    static QString Cell(const QTableView* list, int row, int column) {
        return list->model()->index(row, column).data().toString();
    }

    hygro::test::TempDir m_dir;
    CAppForNimbo1App m_app;
};

const std::string kTwoRecords = "Count=00002\r\n"
                                "2026-12-10 10:00:00 +85.0,+09.0\r\n"
                                "2026-12-10 10:00:10 -01.5,-12.5\r\n";

TEST_F(AlarmListTest, ListsEveryRecordWithTheLimits) {
    WriteAlarms(kTwoRecords);
    CDlgAllErrorData dlg(m_app);
    dlg.SetInfo(0);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Alarm Data");
    EXPECT_EQ(Text(&dlg, "1066"), "95.0%");
    EXPECT_EQ(Text(&dlg, "1067"), "60.0%");
    EXPECT_EQ(Text(&dlg, "1068"), QString("8.0") + QChar(0x2103));
    EXPECT_EQ(Text(&dlg, "1069"), QString("0.0") + QChar(0x2103));

    const QTableView* list = dlg.List();
    ASSERT_EQ(list->model()->rowCount(), 2);
    const QStringList titles = {"Name", "Time", "Humidity", "Temperature"};
    for (int c = 0; c < 4; ++c) EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), titles[c]);
    EXPECT_EQ(Cell(list, 0, 0), "Cold room");
    EXPECT_EQ(Cell(list, 0, 1), "2026-12-10 10:00:00");
    EXPECT_EQ(Cell(list, 0, 2), "85.0%");
    EXPECT_EQ(Cell(list, 0, 3), QString("9.0") + QChar(0x2103));
    EXPECT_EQ(Cell(list, 1, 2), "-1.5%");
    EXPECT_EQ(Cell(list, 1, 3), QString("-12.5") + QChar(0x2103));

    std::uint16_t y, mo, d, h, mi, s;
    dlg.GetAlarmTime(y, mo, d, h, mi, s);
    EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}), (std::vector<int>{2026, 12, 10, 10, 0, 10}));
    EXPECT_EQ(dlg.GetIsClear(), 0);

    const auto widths = CDlgAllErrorData::ColumnWidths(list->width());
    for (int c = 0; c < 4; ++c) EXPECT_EQ(list->columnWidth(c), widths[static_cast<std::size_t>(c)]) << c;
    EXPECT_EQ(CDlgAllErrorData::ColumnWidths(626), (std::array<int, 4>{202, 202, 101, 101}));
}

TEST_F(AlarmListTest, ClearAlarmEmptiesTheListButLeavesTheFileToTheCaller) {
    WriteAlarms(kTwoRecords);
    CDlgAllErrorData dlg(m_app);
    dlg.SetInfo(0);
    dlg.show();
    Press(&dlg, "1064");
    EXPECT_EQ(dlg.List()->model()->rowCount(), 0);
    EXPECT_EQ(dlg.GetIsClear(), 1);
    EXPECT_EQ(dlg.Outcome().newestListed.wSecond, 10) << "the time of the newest record listed stays";
    EXPECT_EQ(hygro::test::ReadFile(AlarmFile()), kTwoRecords);
}

TEST_F(AlarmListTest, MissingOrDamagedFiles) {
    struct Case {
        const char* name;
        std::string content; // empty: no file
        int rows;
        int newestSecond;
    };
    const Case cases[] = {
        {"no file", "", 0, 0},
        {"garbage", std::string(100, 'x'), 0, 0},
        {"count beyond the records", "Count=00009\r\n2026-12-10 10:00:00 +85.0,+09.0\r\n", 1, 0},
        {"torn last record", kTwoRecords.substr(0, kTwoRecords.size() - 5), 1, 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(AlarmFile());
        if (!c.content.empty()) WriteAlarms(c.content);
        CDlgAllErrorData dlg(m_app);
        dlg.SetInfo(0);
        EXPECT_EQ(dlg.List()->model()->rowCount(), c.rows) << c.name;
        const SystemTime t = dlg.Outcome().newestListed;
        EXPECT_EQ(t.wYear, c.rows ? 2026 : 0) << c.name;
        EXPECT_EQ(t.wSecond, c.newestSecond) << c.name;
    }
}

TEST_F(AlarmListTest, SetLimitStoresAndSavesAtOnce) {
    MessageLog messages;
    CDlgAllErrorData dlg(m_app);
    dlg.SetInfo(0);
    dlg.show();
    QStringList shown;
    hygro::test::OnNextModal([&](QWidget* w) {
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->windowTitle(), "Limit");
        shown = {Text(w, "1051"), Text(w, "1052"), Text(w, "1045"), Text(w, "1046")};
        Type(w, "1051", "150"); // refused, the dialog stays
        Press(w, "1008");
        EXPECT_TRUE(w->isVisible());
        Type(w, "1051", "90");
        Type(w, "1046", "-2.5");
        Press(w, "1008");
    });
    dlg.OnSetLimit();
    EXPECT_EQ(shown, (QStringList{"95.0", "60.0", "8.0", "0.0"}));
    EXPECT_EQ(messages.texts, std::vector<QString>{"Humidity's hight limit is error!"});
    EXPECT_EQ(Text(&dlg, "1066"), "90.0%");
    EXPECT_EQ(Text(&dlg, "1069"), QString("-2.5") + QChar(0x2103));
    EXPECT_EQ(GetSensorLimits(m_app.Database(), 0), (SensorLimits{90, 60, 8, -2.5}));
    EXPECT_EQ(Saved(u"HMax"), u"90.0");
    EXPECT_EQ(Saved(u"TMin"), u"-2.5");
    {
        // Saved with a fresh checksum: the next start takes the file as it is.
        CAppForNimbo1App again;
        ASSERT_EQ(again.InitGlobalValue(m_dir.path()), 1);
        again.Database().InitAllDB();
        again.AddValueToDB();
        EXPECT_EQ(GetSensorLimits(again.Database(), 0), (SensorLimits{90, 60, 8, -2.5}));
        EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "Veltrix" / "Hygrolog" / "Settings.ini.rejected"));
    }

    hygro::test::OnNextModal([&](QWidget* w) { Press(w, "1117"); });
    dlg.OnSetLimit();
    EXPECT_EQ(GetSensorLimits(m_app.Database(), 0), (SensorLimits{90, 60, 8, -2.5})) << "Cancel changes nothing";
}

TEST_F(AlarmListTest, OnlyTheCloseBoxCloses) {
    CDlgAllErrorData dlg(m_app);
    dlg.SetInfo(0);
    dlg.show();
    SendKey(&dlg, Qt::Key_Return);
    SendKey(&dlg, Qt::Key_Escape);
    SendKey(&dlg, Qt::Key_F4, Qt::AltModifier);
    SendKey(dlg.List(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
}

// Pictures for a person to look at: build/ui-shots/alarm-list.png, limit.png.
TEST_F(AlarmListTest, RenderForAPerson) {
    WriteAlarms(kTwoRecords);
    const std::filesystem::path out = std::filesystem::current_path() / "ui-shots";
    std::filesystem::create_directories(out);
    CDlgAllErrorData dlg(m_app);
    dlg.SetInfo(0);
    dlg.show();
    QApplication::processEvents();
    ASSERT_TRUE(dlg.grab().save(QString::fromStdString((out / "alarm-list.png").string())));
    CDlgSetSensorLimit limit;
    limit.SetInfo("95.0", "60.0", "8.0", "0.0");
    limit.show();
    QApplication::processEvents();
    ASSERT_TRUE(limit.grab().save(QString::fromStdString((out / "limit.png").string())));
}

} // namespace
} // namespace hygro::ui
