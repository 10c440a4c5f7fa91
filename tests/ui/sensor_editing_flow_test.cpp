// The operator's way from an empty station to sensors on the map: search the network,
// choose found sensors, place and name them, see their readings; then edit, delete and
// cancel halfway. Real station, real window, simulated sensors in the private network.
#include "acq/sensor_editing.h"
#include "app/app_core.h"
#include "charts/lumo_charts.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "mail/mail_opt.h"
#include "map/map_layout.h"
#include "map/map_widget.h"
#include "settings/profile_file.h"
#include "support/messages.h"
#include "support/netns.h"
#include "support/simulator.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "ui/discovery_dialogs.h"
#include "ui/main_window.h"
#include "ui/sensor_dialogs.h"
#include "ui/sensor_views.h"
#include "util/kx_log.h"
#include "util/text.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace hygro::ui {
namespace {

using ::testing::ElementsAre;
using test::WaitFor;

struct SensorSection {
    std::string name; // empty: a found sensor
    std::string folder;
    int serial = 0;
    int number = 0;
    int lastOctet = 2;
};

class SensorEditingFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::InPrivateNetns()) GTEST_SKIP() << "runs inside tests/support/run_in_netns.sh";
    }
    // Station with these sensors (in-use ones first) and the simulator answering for
    // simulated ones; then the window as the operator sees it.
    void Start(const std::vector<SensorSection>& sensors, const std::vector<std::string>& simArgs,
               const char16_t* protocol = u"UDP") {
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"DSNet", u"UDPorTCP", protocol);
        doc.SetString(u"DSNet", u"LocalPortForData", u"50200");
        int real = 0;
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            const SensorSection& s = sensors[i];
            const std::u16string sec = ToUtf16(std::to_string(i + 1));
            if (!s.name.empty()) ++real;
            doc.SetString(sec, u"name", ToUtf16(s.name.empty() ? "!XXX" + std::to_string(i + 1) : s.name));
            doc.SetString(sec, u"FolderName", ToUtf16(s.folder));
            doc.SetString(sec, u"show", u"1");
            doc.SetString(sec, u"colorR", u"0");
            doc.SetString(sec, u"colorG", u"120");
            doc.SetString(sec, u"No", ToUtf16(std::to_string(s.number)));
            doc.SetString(sec, u"Serial", ToUtf16(std::to_string(s.serial)));
            doc.SetString(sec, u"DeviceIPandPort", ToUtf16("198.18.0." + std::to_string(s.lastOctet) + ":0"));
        }
        doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(real)));
        doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(sensors.size())));
        test::WriteSealedSettings(m_dir.path(), doc);
        if (!simArgs.empty()) {
            m_sim = std::make_unique<test::Simulator>(m_dir.path() / "sim.log", simArgs);
            ASSERT_TRUE(m_sim->Started());
        }

        m_app = std::make_unique<CAppForNimbo1App>();
        m_window = std::make_unique<CAppForNimbo1Dlg>(*m_app);
        CAppForNimbo1Dlg* w = m_window.get();
        m_app->Net().Hooks().rxLed = [w](int index) { w->StartRxLed(index); };
        m_app->Net().Hooks().txLed = [w](int index) { w->StartTxLed(index); };
        m_app->Protocol().Hooks().setConnectLed = [w](int index, int on) { w->SetConnectLed(index, on); };
        m_app->Protocol().Hooks().serialRefreshed = [w](int index, int serial) { w->RefreshDiscoverySerial(index, serial); };
        ASSERT_EQ(m_app->InitGlobalValue(m_dir.path()), 1);
        m_app->StartUp();
        m_window->InitDialog();
        m_window->resize(1000, 700);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        QTest::qWait(300); // first show
    }
    void TearDown() override {
        if (m_window) m_window->close();
        g_MailSender.Stop();
        // Endpoint threads call into the window: end them before it goes.
        if (m_app) m_app->ShutDown();
        m_window.reset();
        m_app.reset();
    }

    CWiFiSensorDatabase& Db() { return m_app->Database(); }
    // Sensor values read under the lock.
    template <typename T> T Cell(CTable_WiFiSensorDB* (CWiFiSensorDatabase::*table)(), int row, const char* column) {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        return CellValue<T>((Db().*table)(), row, column);
    }
    std::vector<int> Serials() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        std::vector<int> v;
        for (int i = 0; i < Db().m_totalCount; ++i)
            v.push_back(CellValue<int>(Db().GetDevDB(), i, "Serial"));
        return v;
    }
    std::pair<int, int> Counts() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        return {Db().m_realCount, Db().m_totalCount};
    }
    std::u16string Saved(const char16_t* section, const char16_t* key) {
        const auto p = m_dir.path() / "Veltrix" / "Hygrolog" / "Settings.ini";
        return ProfileFile::Parse(test::ReadFile(p))->GetString(section, key, u"<missing>");
    }
    QAction* MenuAction(const QString& text) {
        for (QAction* a : m_window->menuBar()->findChildren<QAction*>())
            if (a->text() == text) return a;
        return nullptr;
    }
    void ClickMap(double fx, double fy) {
        map::CPicCtrl_WiFiSensor* mapPane = m_window->Map();
        const QPoint pos(static_cast<int>(fx * mapPane->width()), static_cast<int>(fy * mapPane->height()));
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent e(type, pos, mapPane->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(mapPane, &e);
        }
    }
    template <typename T> static T* Child(QWidget* dialog, const char* name) {
        return dialog ? dialog->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    // "Get IP && Connection", one search, OK.
    void SearchOnce(int expectRows) {
        bool ran = false;
        test::OnNextModal(
            [&](QWidget* w) {
                ASSERT_NE(qobject_cast<CDlgGetIpAndConnect*>(w), nullptr);
                auto* search = Child<QPushButton>(w, "1118");
                auto* list = Child<QTableWidget>(w, "1117");
                ASSERT_NE(search, nullptr);
                ASSERT_NE(list, nullptr);
                QTest::mouseClick(search, Qt::LeftButton);
                EXPECT_TRUE(WaitFor([&] { return search->text() == "Search" && search->isEnabled(); }, 10000));
                EXPECT_EQ(list->rowCount(), expectRows);
                QTest::mouseClick(Child<QPushButton>(w, "1008"), Qt::LeftButton);
                ran = true;
            },
            5000);
        MenuAction("Get IP && Connection")->trigger();
        EXPECT_TRUE(ran);
    }
    // "Add Sensor" with the chooser's rows `rows` selected.
    void ChooseFound(const std::vector<int>& rows) {
        test::OnNextModal([&](QWidget* w) {
            ASSERT_NE(qobject_cast<CDlgFindWiFiSensor*>(w), nullptr);
            auto* list = Child<QAbstractItemView>(w, "1106");
            ASSERT_NE(list, nullptr);
            for (int r : rows)
                list->selectionModel()->select(list->model()->index(r, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
            QTest::mouseClick(Child<QPushButton>(w, "1008"), Qt::LeftButton);
        });
        MenuAction("Add Sensor")->trigger();
    }
    // Places the next pending sensor at (fx, fy) with this name, the first offered number
    // and the pending sensor at `ipRow` of the "IP:" list.
    void Place(double fx, double fy, const QString& name, int ipRow = 0) {
        test::OnNextModal([&](QWidget* w) {
            ASSERT_NE(qobject_cast<CDlgSetSensorName*>(w), nullptr);
            Child<QLineEdit>(w, "1010")->setText(name);
            Child<QComboBox>(w, "1104")->setCurrentIndex(ipRow);
            QTest::mouseClick(Child<QPushButton>(w, "1008"), Qt::LeftButton);
        });
        ClickMap(fx, fy);
    }

    test::TempDir m_dir;
    std::unique_ptr<test::Simulator> m_sim;
    std::unique_ptr<CAppForNimbo1App> m_app;
    std::unique_ptr<CAppForNimbo1Dlg> m_window;
};

TEST_F(SensorEditingFlow, FromAnEmptyStationToReadingsOnTheMapAndInTheTable) {
    Start({}, {"--count", "3", "--first-address", "198.18.0.2", "--first-serial", "30"});
    SearchOnce(3);
    EXPECT_EQ(Counts(), std::make_pair(0, 3));
    EXPECT_THAT(Serials(), ElementsAre(30, 31, 32));
    EXPECT_NE(Saved(u"DSNet", u"LocalPortForData"), u"0");

    test::MessageLog messages;
    ChooseFound({0, 2});
    EXPECT_EQ(m_window->PendingCount(), 2);
    EXPECT_EQ(Counts(), std::make_pair(0, 1));
    EXPECT_TRUE(m_window->CursorConfined());
    // Clicks outside the map do nothing while sensors wait for their place.
    QTest::mouseClick(m_window->menuBar(), Qt::LeftButton);

    Place(0.3, 0.2, "Freezer");
    EXPECT_EQ(m_window->PendingCount(), 1);
    Place(0.6, 0.7, "Bench");
    EXPECT_EQ(m_window->PendingCount(), 0);
    EXPECT_FALSE(m_window->CursorConfined());
    EXPECT_EQ(messages.texts, (std::vector<QString>{"Please add sensor in the picture!", "Add Over!"}));
    EXPECT_EQ(Counts(), std::make_pair(2, 3));
    EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, 0, "Name"), "Freezer");
    EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, 1, "Name"), "Bench");
    EXPECT_EQ(Cell<int>(&CWiFiSensorDatabase::GetTableDB, 0, "No."), 1);
    EXPECT_EQ(Cell<int>(&CWiFiSensorDatabase::GetTableDB, 1, "No."), 2);
    EXPECT_NEAR(Cell<double>(&CWiFiSensorDatabase::GetPicDB, 1, "PosY"), 0.7, 0.01);
    EXPECT_EQ(Saved(u"LSensor", u"Rcount"), u"2");
    EXPECT_EQ(Saved(u"1", u"name"), u"Freezer");
    EXPECT_EQ(Saved(u"2", u"FolderName"), u"Bench");
    ASSERT_EQ(m_window->Map()->Boxes().Boxes().size(), 2u);
    EXPECT_EQ(m_window->Map()->Boxes().Boxes()[1].name, "Bench");
    EXPECT_EQ(m_window->Charts()->Count(), 2);
    EXPECT_EQ(m_window->Table()->rowCount(), 2);
    EXPECT_EQ(m_window->Tree()->RootItem()->childCount(), 2);

    // Readings arrive for both and land in their own folders.
    m_window->OnSettingTable();
    ASSERT_TRUE(WaitFor(
        [&] {
            return !m_window->Table()->item(0, SensorTable::kColHumidity)->text().isEmpty() &&
                   !m_window->Table()->item(1, SensorTable::kColHumidity)->text().isEmpty();
        },
        25000));
    EXPECT_EQ(m_window->Table()->item(1, SensorTable::kColName)->text(), "Bench");
    const auto data = m_dir.path() / "Veltrix" / "Hygrolog";
    EXPECT_TRUE(std::filesystem::is_directory(data / "Freezer"));
    EXPECT_TRUE(std::filesystem::is_directory(data / "Bench"));
}

TEST_F(SensorEditingFlow, CancellingAfterOneOfThreeReturnsTheOthersInSerialOrder) {
    Start({{"", "", 3, 0, 2}, {"", "", 5, 0, 3}, {"", "", 7, 0, 4}, {"", "", 9, 0, 5}}, {});
    EXPECT_THAT(Serials(), ElementsAre(3, 5, 7, 9));
    test::MessageLog messages(MsgAnswer::Yes);
    ChooseFound({0, 2, 3}); // serials 3, 7, 9
    EXPECT_EQ(Counts(), std::make_pair(0, 1));
    Place(0.5, 0.5, "Lab", 1); // serial 7
    EXPECT_EQ(Counts(), std::make_pair(1, 2));
    // The next name dialog is closed with its close box and the question answered Yes.
    test::OnNextModal([&](QWidget* w) {
        ASSERT_NE(qobject_cast<CDlgSetSensorName*>(w), nullptr);
        w->close();
    });
    ClickMap(0.2, 0.2);
    EXPECT_EQ(m_window->PendingCount(), 0);
    EXPECT_THAT(messages.texts, testing::Contains(QString("Add Over!")));
    EXPECT_THAT(messages.texts, testing::Contains(QString("Are you sure do not add sensor?")));
    EXPECT_EQ(Counts(), std::make_pair(1, 4));
    EXPECT_THAT(Serials(), ElementsAre(7, 3, 5, 9));
    EXPECT_EQ(Saved(u"LSensor", u"Tcount"), u"4");
    EXPECT_EQ(Saved(u"3", u"Serial"), u"000005");
    EXPECT_FALSE(m_window->CursorConfined());
}

TEST_F(SensorEditingFlow, TheHundredthSensorIsRefused) {
    std::vector<SensorSection> sensors;
    for (int i = 0; i < 99; ++i)
        sensors.push_back({"S" + std::to_string(i), "F" + std::to_string(i), 1000 + i, i + 1, 2 + i});
    sensors.push_back({"", "", 5000, 0, 110});
    Start(sensors, {});
    test::MessageLog messages;
    ChooseFound({0});
    EXPECT_EQ(m_window->PendingCount(), 0);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_TRUE(messages.texts[0].startsWith("At most 99 sensors can be in use")) << messages.texts[0].toStdString();
    EXPECT_EQ(Counts(), std::make_pair(99, 100));
}

TEST_F(SensorEditingFlow, DeletedSensorJoinsTheFoundSensorsBySerialAndKeepsItsHistory) {
    Start({{"Cold", "COLD", 7, 1, 2}, {"Lab", "LAB", 4, 2, 3}, {"", "", 3, 0, 4}, {"", "", 9, 0, 5}}, {});
    const auto data = m_dir.path() / "Veltrix" / "Hygrolog";
    std::filesystem::create_directories(data / "COLD" / "2026");
    test::WriteFile(data / "COLD" / "2026" / "Avg.cvs", "history");
    test::MessageLog messages(MsgAnswer::Yes);
    m_window->SetMenuSelectIndex(0);
    m_window->OnRbtninpicDelete();
    EXPECT_EQ(messages.texts, std::vector<QString>{"Are you sure you want to delete this Sensor!"});
    EXPECT_EQ(Counts(), std::make_pair(1, 4));
    EXPECT_THAT(Serials(), ElementsAre(4, 3, 7, 9));
    EXPECT_EQ(m_window->Table()->rowCount(), 1);
    EXPECT_EQ(m_window->Table()->item(0, SensorTable::kColName)->text(), "Lab");
    EXPECT_EQ(m_window->Tree()->RootItem()->childCount(), 1);
    EXPECT_EQ(m_window->Tree()->RootItem()->child(0)->text(0), "Lab");
    ASSERT_EQ(m_window->Map()->Boxes().Boxes().size(), 1u);
    EXPECT_EQ(m_window->Map()->Boxes().Boxes()[0].name, "Lab");
    EXPECT_EQ(m_window->Charts()->Count(), 1);
    EXPECT_EQ(Saved(u"LSensor", u"Rcount"), u"1");
    EXPECT_EQ(Saved(u"3", u"name"), u"Cold");
    EXPECT_EQ(test::ReadFile(data / "COLD" / "2026" / "Avg.cvs"), "history");

    // "No" changes nothing.
    test::MessageLog refuse(MsgAnswer::No);
    m_window->SetMenuSelectIndex(0);
    m_window->OnRbtninpicDelete();
    EXPECT_EQ(Counts(), std::make_pair(1, 4));
}

TEST_F(SensorEditingFlow, EditRenamesTheTcpConnectionAndMovesTheFolder) {
    Start({{"Cold", "abc", 30, 1, 2}}, {"--sensor", "198.18.0.2,30"}, u"TCP Server");
    const auto data = m_dir.path() / "Veltrix" / "Hygrolog";
    std::filesystem::create_directories(data / "abc" / "2025");
    test::WriteFile(data / "abc" / "2025" / "Avg.cvs", "old history");
    ASSERT_TRUE(WaitFor([&] { return m_app->Net().GetSocketExt("TcpClientCold") != nullptr; }, 15000))
        << "the sensor connects over TCP";

    test::OnNextModal([&](QWidget* w) {
        ASSERT_NE(qobject_cast<CDlgEditOneOfSensor*>(w), nullptr);
        EXPECT_EQ(Child<QLineEdit>(w, "1127")->text(), "abc");
        Child<QLineEdit>(w, "1010")->setText("Freezer");
        Child<QLineEdit>(w, "1127")->setText("new");
        QTest::mouseClick(Child<QPushButton>(w, "1008"), Qt::LeftButton);
    });
    m_window->SetMenuSelectIndex(0);
    m_window->OnRbtninpicEdit();

    EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, 0, "Name"), "Freezer");
    EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, 0, "Folder"), "NEW");
    EXPECT_EQ(m_app->Net().GetSocketExt("TcpClientCold"), nullptr);
    EXPECT_NE(m_app->Net().GetSocketExt("TcpClientFreezer"), nullptr);
    EXPECT_EQ(test::ReadFile(data / "NEW" / "2025" / "Avg.cvs"), "old history");
    EXPECT_FALSE(std::filesystem::exists(data / "abc"));
    EXPECT_EQ(m_window->Table()->item(0, SensorTable::kColName)->text(), "Freezer");
    EXPECT_EQ(m_window->Tree()->RootItem()->child(0)->text(0), "Freezer");
    EXPECT_EQ(m_window->Map()->Boxes().Boxes()[0].name, "Freezer");
    EXPECT_EQ(Saved(u"1", u"FolderName"), u"NEW");
    EXPECT_EQ(Saved(u"1", u"name"), u"Freezer");
    // Readings keep coming over the renamed connection, into the new folder.
    ASSERT_TRUE(WaitFor(
        [&] {
            std::error_code ec;
            for (auto it = std::filesystem::recursive_directory_iterator(data / "NEW", ec);
                 it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
                if (it->path().extension() == ".cvs" && it->path().filename() != "Avg.cvs") return true;
            return false;
        },
        25000));
}

TEST_F(SensorEditingFlow, ASensorWithoutFolderIsAskedForOneAtFirstShow) {
    test::MessageLog messages;
    bool asked = false;
    test::OnNextModal(
        [&](QWidget* w) {
            auto* dlg = qobject_cast<CDlgEditOneOfSensor*>(w);
            ASSERT_NE(dlg, nullptr);
            asked = true;
            Child<QLineEdit>(w, "1127")->setText("x");
            QTest::mouseClick(Child<QPushButton>(w, "1008"), Qt::LeftButton);
        },
        5000);
    Start({{"Cold", "", 30, 1, 2}}, {});
    EXPECT_TRUE(WaitFor([&] { return asked; }));
    EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, 0, "Folder"), "X");
    EXPECT_THAT(messages.texts, testing::IsEmpty());
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.path() / "Veltrix" / "Hygrolog" / "X"));
}

} // namespace
} // namespace hygro::ui
