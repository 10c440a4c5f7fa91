// "Get IP & Connect" and the found-sensor chooser on a started station in the private
// network, with hygrolog-sim answering where a test needs sensors.
#include "ui/discovery_dialogs.h"

#include "ui/aux_windows.h"
#include "acq/sensor_editing.h"
#include "app/app_core.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "settings/profile_file.h"
#include "support/lock_holder.h"
#include "support/messages.h"
#include "support/netns.h"
#include "support/simulator.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "util/message_box.h"
#include "util/text.h"

#include <net/if.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace hygro::ui {
namespace {

using ::testing::ElementsAre;
using test::WaitFor;

const QColor kGreen(0, 255, 0);
const QColor kWhite(255, 255, 255);

// Operator messages: recorded with the thread they were asked on, answered from a queue
// of answers (Ok, or No for questions, when the queue is empty).
class Operator {
  public:
    Operator() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons buttons) {
            std::lock_guard g(m_lock);
            texts.push_back(QString::fromStdU16String(text));
            onGuiThread.push_back(QThread::currentThread() == qApp->thread());
            if (!answers.empty()) {
                const MsgAnswer a = answers.front();
                answers.pop_front();
                return a;
            }
            return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
        });
    }
    ~Operator() { SetMessageHandler(m_previous); }
    std::vector<QString> Texts() {
        std::lock_guard g(m_lock);
        return texts;
    }

    std::mutex m_lock;
    std::vector<QString> texts;
    std::vector<bool> onGuiThread;
    std::deque<MsgAnswer> answers;

  private:
    MessageHandler m_previous;
};

struct SensorEntry {
    const char* name; // "!..." for a found sensor
    const char* ip;
    int serial;
};

class DiscoveryDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::InPrivateNetns()) GTEST_SKIP() << "runs inside tests/support/run_in_netns.sh";
    }
    void TearDown() override {
        m_dialog.reset();
        if (m_app) m_app->ShutDown();
        m_app.reset();
        m_sim.reset();
    }

    // The station with these sensors (in-use ones first), then the dialog, shown.
    void Start(const std::vector<SensorEntry>& sensors, const char16_t* protocol = u"UDP",
               std::vector<std::string> sim = {}, AdapterSource adapters = SystemAdapters) {
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"DSNet", u"UDPorTCP", protocol);
        doc.SetString(u"DSNet", u"time", u"75");
        doc.SetString(u"DSNet", u"LocalPortForCmd", u"50130");
        doc.SetString(u"DSNet", u"LocalPortForData", u"50230");
        int real = 0;
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            const SensorEntry& s = sensors[i];
            const std::u16string sec = ToUtf16(std::to_string(i + 1));
            if (s.name[0] != '!') ++real;
            doc.SetString(sec, u"name", ToUtf16(s.name));
            doc.SetString(sec, u"FolderName", ToUtf16(std::string("F") + std::to_string(i + 1)));
            doc.SetString(sec, u"No", ToUtf16(std::to_string(i + 1)));
            doc.SetString(sec, u"Serial", ToUtf16(std::to_string(s.serial)));
            doc.SetString(sec, u"DeviceIPandPort", ToUtf16(std::string(s.ip) + ":0"));
        }
        doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(real)));
        doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(sensors.size())));
        test::WriteSealedSettings(m_dir.path(), doc);
        if (!sim.empty()) {
            sim.insert(sim.end(), {"--duration", "120"});
            m_sim = std::make_unique<test::Simulator>(m_dir.path() / "sim.log", sim);
            ASSERT_TRUE(m_sim->Started());
            ASSERT_TRUE(m_sim->WaitFor("ready", 1, true)) << m_sim->Output();
        }
        m_app = std::make_unique<CAppForNimbo1App>(std::move(adapters));
        ASSERT_EQ(m_app->InitGlobalValue(m_dir.path()), 1);
        m_app->StartUp();
        OpenDialog();
    }

    void OpenDialog() {
        DiscoveryHost host;
        host.setTimerFlags = [this](int on) { m_polling.push_back(on); };
        host.deleteDevice2 = [this](int index) {
            m_deleted.push_back(index);
            DeleteFoundSensor(*m_app, index);
        };
        m_dialog = std::make_unique<CDlgGetIpAndConnect>(*m_app, host);
        m_dialog->SetTimings(std::chrono::milliseconds(200), std::chrono::milliseconds(20));
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    template <typename T> T* Child(const char* name) {
        T* w = m_dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTableWidget* List() { return Child<QTableWidget>("1117"); }
    QPushButton* SearchButton() { return Child<QPushButton>("1118"); }
    QPushButton* DeleteButton() { return Child<QPushButton>("1074"); }
    QPushButton* OkButton() { return Child<QPushButton>("1008"); }
    QString Text(int row, int column) {
        const QTableWidgetItem* item = List()->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    QColor Background(int row, int column) {
        const QTableWidgetItem* item = List()->item(row, column);
        return item ? item->background().color() : QColor();
    }
    std::pair<int, int> Counts() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        return {m_app->Database().m_realCount, m_app->Database().m_totalCount};
    }
    std::vector<QString> ListIps() {
        std::vector<QString> v;
        for (int r = 0; r < List()->rowCount(); ++r) v.push_back(Text(r, 0));
        return v;
    }
    std::vector<QString> TableIps() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        std::vector<QString> v;
        for (int i = 0; i < m_app->Database().m_totalCount; ++i)
            v.push_back(QString::fromStdString(IPv4Text(UnpackIPv4(CellValue<int>(m_app->Database().GetNetDB(), i, "RemoteIP")))));
        return v;
    }
    // Clicks "Search" and waits for the end, noting every caption the button showed.
    // ("0" is replaced by "Search" at once and may not be seen.)
    std::vector<QString> SearchAndWait() {
        std::vector<QString> captions;
        QTest::mouseClick(SearchButton(), Qt::LeftButton);
        EXPECT_TRUE(m_dialog->IsSearching());
        EXPECT_FALSE(SearchButton()->isEnabled());
        EXPECT_FALSE(OkButton()->isEnabled());
        EXPECT_FALSE(DeleteButton()->isEnabled());
        EXPECT_TRUE(WaitFor(
            [&] {
                const QString now = SearchButton()->text();
                if (now != "0" && (captions.empty() || captions.back() != now)) captions.push_back(now);
                return !m_dialog->IsSearching();
            },
            8000));
        return captions;
    }

    test::TempDir m_dir;
    std::unique_ptr<test::Simulator> m_sim;
    std::unique_ptr<CAppForNimbo1App> m_app;
    std::unique_ptr<CDlgGetIpAndConnect> m_dialog;
    std::vector<int> m_polling;
    std::vector<int> m_deleted;
};

const std::vector<SensorEntry> kLabAndFound = {{"Lab", "198.18.0.2", 1001}, {"!XXX2", "198.18.0.3", 3}};

TEST_F(DiscoveryDialogTest, OpensWithEverySensorAndTheSettings) {
    Operator op;
    Start(kLabAndFound);
    EXPECT_EQ(m_dialog->windowTitle(), "Get IP & Connect");
    QTableWidget* list = List();
    ASSERT_EQ(list->columnCount(), 5);
    const char* titles[] = {"Ip", "Serial", "Connect", "RX", "TX"};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(list->horizontalHeaderItem(c)->text(), titles[c]);
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(list->horizontalHeader()->sectionsClickable());

    // w = W / 10: 4w, 2w, 2w, w and the rest, also after a resize.
    auto expectWidths = [&] {
        const int width = list->viewport()->width();
        const int w = width / 10;
        EXPECT_THAT((std::vector{list->columnWidth(0), list->columnWidth(1), list->columnWidth(2),
                                 list->columnWidth(3), list->columnWidth(4)}),
                    ElementsAre(4 * w, 2 * w, 2 * w, w, width - 9 * w));
    };
    expectWidths();
    const int before = list->viewport()->width();
    m_dialog->resize(m_dialog->width() + 173, m_dialog->height());
    ASSERT_TRUE(WaitFor([&] { return list->viewport()->width() != before; }));
    expectWidths();

    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(Text(0, 0), "198.18.0.2");
    EXPECT_EQ(Text(0, 1), "001001");
    EXPECT_EQ(Text(0, 2), "Connect");
    EXPECT_EQ(Text(1, 0), "198.18.0.3");
    EXPECT_EQ(Text(1, 1), "000003");
    for (int r = 0; r < 2; ++r)
        for (int c : {3, 4}) {
            EXPECT_EQ(Text(r, c), "");
            EXPECT_EQ(Background(r, c), kWhite);
        }
    EXPECT_FALSE(DeleteButton()->isEnabled());
    EXPECT_EQ(Child<QLineEdit>("1119")->text(), "1");
    EXPECT_EQ(Child<QLineEdit>("1120")->text(), "15");
    QComboBox* protocol = Child<QComboBox>("1104");
    ASSERT_EQ(protocol->count(), 2);
    EXPECT_EQ(protocol->itemText(0), "UDP");
    EXPECT_EQ(protocol->itemText(1), "TCP");
    EXPECT_EQ(protocol->currentIndex(), 0);
    std::vector<QString> boxes;
    for (const QGroupBox* b : m_dialog->findChildren<QGroupBox*>()) boxes.push_back(b->title());
    EXPECT_THAT(boxes, ::testing::UnorderedElementsAre("Command Time", "Protocol", "All Device"));
    std::vector<QString> labels;
    for (const QLabel* l : m_dialog->findChildren<QLabel*>()) labels.push_back(l->text());
    EXPECT_THAT(labels, ::testing::IsSupersetOf({QString("S Cmd interval:"), QString("m(0~60)"),
                                                 QString("s(0~59)     (10s~60m)"), QString("Protocol:")}));
    EXPECT_TRUE(op.Texts().empty());
}

TEST_F(DiscoveryDialogTest, TcpSettingsShowTcpAndUnconnectedSensors) {
    Start(kLabAndFound, u"TCP Client");
    EXPECT_EQ(Child<QComboBox>("1104")->currentIndex(), 1);
    EXPECT_EQ(Text(0, 2), "Disconnect");
    m_dialog->SetDevConnectValue(0, 1);
    EXPECT_EQ(Text(0, 2), "Connect");
    m_dialog->SetDevConnectValue(0, 0);
    EXPECT_EQ(Text(0, 2), "Disconnect");
    m_dialog->SetSerial(1, 42);
    EXPECT_EQ(Text(1, 1), "000042");
    // Rows that are not there are ignored.
    m_dialog->SetDevConnectValue(2, 1);
    m_dialog->SetSerial(-1, 1);
    m_dialog->StartRx(7);
    m_dialog->StartTx(-3);
    EXPECT_EQ(List()->rowCount(), 2);
}

TEST_F(DiscoveryDialogTest, IndicatorsStayGreenHalfASecondFromTheFirstEvent) {
    Start(kLabAndFound);
    m_dialog->StartRx(1);
    EXPECT_TRUE(m_dialog->RxOn(1));
    EXPECT_FALSE(m_dialog->TxOn(1));
    EXPECT_EQ(Background(1, 3), kGreen);
    EXPECT_EQ(Background(1, 4), kWhite);
    EXPECT_EQ(Background(0, 3), kWhite);
    QElapsedTimer t;
    t.start();
    m_dialog->StartTx(0);
    EXPECT_EQ(Background(0, 4), kGreen);
    // A burst does not keep it lit.
    while (m_dialog->RxOn(1) && t.elapsed() < 2000) {
        m_dialog->StartRx(1);
        QTest::qWait(20);
    }
    EXPECT_GE(t.elapsed(), 450);
    EXPECT_LT(t.elapsed(), 900);
    EXPECT_EQ(Background(1, 3), kWhite);
    EXPECT_TRUE(WaitFor([&] { return !m_dialog->TxOn(0); }));
    EXPECT_EQ(Background(0, 4), kWhite);
    m_dialog->StartRx(1);
    EXPECT_TRUE(m_dialog->RxOn(1)) << "lit again by the next event";
}

TEST_F(DiscoveryDialogTest, OnlyFoundSensorsCanBeDeleted) {
    Operator op;
    Start({{"Lab", "198.18.0.2", 1001}, {"!XXX2", "198.18.0.3", 3}, {"!XXX3", "198.18.0.4", 4}});
    test::ClickCell(*List(), 0, 0);
    EXPECT_FALSE(DeleteButton()->isEnabled()) << "in use";
    test::ClickCell(*List(), 1, 0);
    EXPECT_TRUE(DeleteButton()->isEnabled());

    // No: nothing happens.
    op.answers = {MsgAnswer::No};
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(List()->rowCount(), 3);
    EXPECT_TRUE(m_deleted.empty());
    EXPECT_TRUE(m_polling.empty());

    // Yes: the sensor leaves the tables and the list, its indicators with it.
    m_dialog->StartRx(2);
    op.answers = {MsgAnswer::Yes};
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_THAT(op.Texts(), ElementsAre("Are you sure you want to delete this Device!",
                                        "Are you sure you want to delete this Device!"));
    EXPECT_THAT(m_deleted, ElementsAre(1));
    EXPECT_THAT(m_polling, ElementsAre(0, 1));
    EXPECT_EQ(Counts(), (std::pair{1, 2}));
    EXPECT_EQ(ListIps(), (std::vector<QString>{"198.18.0.2", "198.18.0.4"}));
    EXPECT_EQ(ListIps(), TableIps());
    EXPECT_TRUE(m_dialog->RxOn(1)) << "the indicator moved with its row";
    EXPECT_FALSE(m_dialog->RxOn(2));
    EXPECT_TRUE(WaitFor([&] { return !m_dialog->RxOn(1); }));
    EXPECT_EQ(Background(1, 3), kWhite);
}

TEST_F(DiscoveryDialogTest, DeleteGivesUpWhenTheTablesStayBusy) {
    Operator op;
    Start(kLabAndFound);
    test::ClickCell(*List(), 1, 0);
    ASSERT_TRUE(DeleteButton()->isEnabled());
    test::LockHolder holder(m_app->DatabaseLock(), std::chrono::milliseconds(1500));
    ASSERT_TRUE(holder.held());
    op.answers = {MsgAnswer::Yes};
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_THAT(op.Texts(), ElementsAre("Are you sure you want to delete this Device!", "Delete Failed!"));
    EXPECT_THAT(m_polling, ElementsAre(0, 1));
    EXPECT_TRUE(m_deleted.empty());
    EXPECT_EQ(List()->rowCount(), 2);
}

TEST_F(DiscoveryDialogTest, SearchCountsDownAndAddsWhatAnswers) {
    Operator op;
    Start({{"Lab", "198.18.0.2", 999}}, u"UDP", {"--sensor", "198.18.0.2,1001", "--sensor", "198.18.0.3,3003",
                                                 "--sensor", "198.18.0.4,3001"});
    const std::vector<QString> captions = SearchAndWait();
    EXPECT_THAT(captions, ElementsAre("Search", "5", "4", "3", "2", "1", "Search"));
    EXPECT_TRUE(SearchButton()->isEnabled());
    EXPECT_TRUE(OkButton()->isEnabled());
    EXPECT_FALSE(DeleteButton()->isEnabled());

    EXPECT_EQ(ListIps(), (std::vector<QString>{"198.18.0.2", "198.18.0.4", "198.18.0.3"}));
    EXPECT_EQ(ListIps(), TableIps());
    EXPECT_EQ(Text(0, 1), "001001") << "a known sensor's serial is refreshed";
    EXPECT_EQ(Text(1, 1), "003001");
    EXPECT_EQ(Text(2, 1), "003003");
    EXPECT_EQ(Text(1, 2), "Connect");
    m_dialog->StartTx(2);
    EXPECT_TRUE(m_dialog->TxOn(2)) << "new rows have their indicators";
    EXPECT_TRUE(m_sim->WaitFor("198.18.0.3 udp data port 50230")) << m_sim->Output();

    test::ClickCell(*List(), 2, 0);
    EXPECT_TRUE(DeleteButton()->isEnabled());
    EXPECT_TRUE(op.Texts().empty()) << op.Texts().front().toStdString();
}

TEST_F(DiscoveryDialogTest, TheCloseBoxWaitsForTheSearch) {
    Operator op;
    Start(kLabAndFound);
    QTest::mouseClick(SearchButton(), Qt::LeftButton);
    ASSERT_TRUE(m_dialog->IsSearching());
    EXPECT_FALSE(m_dialog->close());
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->GetIsClosing(), 0);
    EXPECT_THAT(op.Texts(), ElementsAre("Please wait!"));

    // Enter and Escape never close it.
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(m_dialog.get(), Qt::Key(key));
    QTest::keyClick(m_dialog.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(m_dialog->isVisible());

    ASSERT_TRUE(WaitFor([&] { return !m_dialog->IsSearching(); }, 8000));
    EXPECT_TRUE(m_dialog->close());
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_EQ(m_dialog->GetIsClosing(), 1);
}

TEST_F(DiscoveryDialogTest, NothingFoundWithOneAdapterAsksNothing) {
    Operator op;
    Start({});
    EXPECT_THAT(SearchAndWait(), ElementsAre("Search", "5", "4", "3", "2", "1", "Search"));
    QTest::qWait(50);
    EXPECT_TRUE(op.Texts().empty());
    EXPECT_EQ(List()->rowCount(), 0);
}

TEST_F(DiscoveryDialogTest, NothingFoundOffersTheNextAdapterOnTheWindowThread) {
    Operator op;
    const unsigned lan0 = if_nametoindex("lan0");
    Start({}, u"UDP", {}, [lan0]() -> std::optional<std::vector<NetAdapter>> {
        return std::vector<NetAdapter>{
            {"lo", {127, 0, 0, 1}, 1}, {"lan0", {198, 18, 0, 1}, lan0}, {"lan9", {10, 99, 0, 1}, 0}};
    });
    const QString question = "No not search any device!Do you want to search with another network-card!";
    op.answers = {MsgAnswer::Yes}; // then No
    QTest::mouseClick(SearchButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return op.Texts().size() == 1; }, 8000));
    // Yes searched again at once, from the next adapter's address.
    EXPECT_TRUE(m_dialog->IsSearching());
    EXPECT_EQ(m_app->Net().GetLocalIP(), (IPv4Bytes{10, 99, 0, 1}));
    ASSERT_TRUE(WaitFor([&] { return op.Texts().size() == 2 && !m_dialog->IsSearching(); }, 8000));
    EXPECT_THAT(op.Texts(), ElementsAre(question, question));
    EXPECT_THAT(op.onGuiThread, ElementsAre(true, true));
    EXPECT_EQ(m_app->Net().GetLocalIP(), (IPv4Bytes{10, 99, 0, 1})) << "No leaves it";
    EXPECT_TRUE(SearchButton()->isEnabled());
}

struct IntervalCase {
    const char* minutes;
    const char* seconds;
    const char* message; // empty: accepted
    std::uint32_t interval;
};

TEST_F(DiscoveryDialogTest, OkChecksTheIntervalFirst) {
    Start(kLabAndFound);
    const IntervalCase cases[] = {
        {"60", "0", "", 3600},
        {"60", "1", "Time too long!", 0},
        {"0", "9", "Time too short!", 0},
        {"-1", "0", "Minute Value Error!", 0},
        {"0", "75", "Second Value Error!", 0},
        {"", "30", "", 30},
    };
    for (const IntervalCase& c : cases) {
        SCOPED_TRACE(std::string(c.minutes) + " / " + c.seconds);
        OpenDialog();
        Operator op;
        const auto endpoints = m_app->Net().EndpointNames();
        Child<QLineEdit>("1119")->setText(c.minutes);
        Child<QLineEdit>("1120")->setText(c.seconds);
        QTest::mouseClick(OkButton(), Qt::LeftButton);
        if (*c.message) {
            EXPECT_THAT(op.Texts(), ElementsAre(c.message));
            EXPECT_TRUE(m_dialog->isVisible());
        } else {
            EXPECT_TRUE(op.Texts().empty());
            EXPECT_FALSE(m_dialog->isVisible());
            EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
            EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetTimeForNet(), c.interval);
            // The active protocol: nothing touched.
            EXPECT_TRUE(m_polling.empty());
            EXPECT_EQ(m_app->Net().EndpointNames(), endpoints);
        }
    }
}

TEST_F(DiscoveryDialogTest, OkWithAnotherProtocolMovesTheSensors) {
    Operator op;
    Start(kLabAndFound, u"UDP", {"--sensor", "198.18.0.2,1001", "--sensor", "198.18.0.3,3"});
    ASSERT_TRUE(m_sim->WaitFor("198.18.0.3 udp data port 50230")) << m_sim->Output();
    QComboBox* protocol = Child<QComboBox>("1104");
    protocol->setCurrentIndex(-1);
    QTest::mouseClick(OkButton(), Qt::LeftButton);
    EXPECT_THAT(op.Texts(), ElementsAre("Please select protocol!"));
    EXPECT_TRUE(m_dialog->isVisible());

    protocol->setCurrentIndex(1);
    bool progressShown = false;
    test::OnNextModal([&](QWidget* w) {
        progressShown = qobject_cast<ProgressWindow*>(w) != nullptr;
        // It closes by itself.
        EXPECT_TRUE(WaitFor([&] { return !w->isVisible(); }));
    });
    QTest::mouseClick(OkButton(), Qt::LeftButton);
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetUDPorTCP(), kProtoTcpServer);
    EXPECT_THAT(m_polling, ElementsAre(0, 1));
    EXPECT_NE(m_app->Net().GetSocketExt("TcpServer50230"), nullptr);
    EXPECT_TRUE(WaitFor([&] { return m_app->Net().GetSocketExt("TcpClientLab") != nullptr; }, 5000))
        << m_sim->Output();
    EXPECT_TRUE(WaitFor([&] { return m_app->Net().GetSocketExt("!XXX2") != nullptr; }, 5000)) << m_sim->Output();
    EXPECT_THAT(op.Texts(), ElementsAre("Please select protocol!"));
}

// ---- the chooser ------------------------------------------------------------------------

TEST(DiscoveryChooser, OffersFoundSensorsAndReturnsTheChosenInListOrder) {
    test::MessageLog messages;
    CDlgFindWiFiSensor dlg;
    std::vector<int> chosen = {99};
    dlg.SetInfo(&chosen, {{3, {198, 18, 0, 7}, 7001}, {4, {198, 18, 0, 5}, 42}, {5, {198, 18, 0, 9}, 123456}});
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.windowTitle(), "Add");
    auto* list = dlg.findChild<QTableWidget*>("1106");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->columnCount(), 3);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "No.");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "IP");
    EXPECT_EQ(list->horizontalHeaderItem(2)->text(), "Msg");
    const int width = list->width() - 4, u = width / 7;
    EXPECT_EQ(list->columnWidth(0), u);
    EXPECT_EQ(list->columnWidth(1), 4 * u);
    EXPECT_EQ(list->columnWidth(2), width - 5 * u);
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(list->item(0, 0)->text(), "1");
    EXPECT_EQ(list->item(2, 0)->text(), "3");
    EXPECT_EQ(list->item(1, 1)->text(), "198.18.0.5");
    EXPECT_EQ(list->item(1, 2)->text(), "000042");
    EXPECT_EQ(list->item(2, 2)->text(), "123456");

    auto* ok = dlg.findChild<QPushButton*>("1008");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_THAT(messages.texts, ElementsAre("Please select a device!"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(chosen.empty());

    for (int r : {2, 0})
        list->selectionModel()->select(list->model()->index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_THAT(chosen, ElementsAre(3, 5));
}

TEST(DiscoveryChooser, NoFoundSensorsGiveAnEmptyList) {
    test::MessageLog messages;
    CDlgFindWiFiSensor dlg;
    std::vector<int> chosen;
    dlg.SetInfo(&chosen, {});
    dlg.show();
    auto* list = dlg.findChild<QTableWidget*>("1106");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->rowCount(), 0);
    QTest::mouseClick(dlg.findChild<QPushButton*>("1008"), Qt::LeftButton);
    EXPECT_THAT(messages.texts, ElementsAre("Please select a device!"));
    EXPECT_TRUE(dlg.isVisible());
}

// Pictures for a person to look at: ui-shots/discovery.png and discovery-chooser.png.
TEST_F(DiscoveryDialogTest, Pictures) {
    Start({{"Lab", "198.18.0.2", 1001}, {"Cold room", "198.18.0.4", 1002}, {"!XXX3", "198.18.0.3", 3003},
           {"!XXX4", "198.18.0.5", 3004}});
    m_dialog->SetDevConnectValue(3, 0);
    m_dialog->StartRx(0);
    m_dialog->StartTx(2);
    test::ClickCell(*List(), 2, 0);
    const std::filesystem::path out = std::filesystem::current_path() / "ui-shots";
    std::filesystem::create_directories(out);
    ASSERT_TRUE(m_dialog->grab().save(QString::fromStdString((out / "discovery.png").string())));

    CDlgFindWiFiSensor chooser;
    std::vector<int> chosen;
    chooser.SetInfo(&chosen, {{2, {198, 18, 0, 3}, 3003}, {3, {198, 18, 0, 5}, 3004}});
    chooser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
    ASSERT_TRUE(chooser.grab().save(QString::fromStdString((out / "discovery-chooser.png").string())));
}

} // namespace
} // namespace hygro::ui
