#include "ui/sensor_views.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPushButton>

#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/wifi_sensor_db.h"
#include "support/widgets.h"

namespace hygro::ui {
namespace {

// One QApplication for the whole binary, on the test thread, unless the test main
// already made one.
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (QApplication::instance() != nullptr) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

  private:
    int m_argc = 1;
    char m_name[16] = "ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};
[[maybe_unused]] const auto* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment); // gtest owns it

const QString kCelsius = QString(QChar(0x2103));

struct SensorRow {
    std::string name;
    std::string time = "";
    double humidity = 101.0;
    double temperature = 101.0;
    int alarm = 0;
};

// Database with in-use sensors; rows are inserted at an index in all six tables, the
// way the add procedure does it.
class ViewsTest : public ::testing::Test {
  protected:
    ViewsTest() { m_db.InitAllDB(); }

    void Insert(int index, const SensorRow& s) {
        for (CTable_WiFiSensorDB* t : {m_db.GetDevDB(), m_db.GetPicDB(), m_db.GetLumoDB(), m_db.GetNetDB(),
                                       m_db.GetTableDB(), m_db.GetTreeDB()})
            ASSERT_EQ(t->AddOneRow(index), index);
        CTable_WiFiSensorDB* dev = m_db.GetDevDB();
        dev->GetRow(index)->SetValue(dev, "Name", s.name);
        SetTable(index, s);
        ++m_db.m_realCount;
        ++m_db.m_totalCount;
    }
    void Append(const SensorRow& s) { Insert(m_db.m_realCount, s); }
    void AppendNamed(std::initializer_list<const char*> names) {
        for (const char* n : names) Append({n});
    }
    void SetTable(int index, const SensorRow& s) {
        CTable_WiFiSensorDB* table = m_db.GetTableDB();
        CRow_DB_WiFiSensor* row = table->GetRow(index);
        row->SetValue(table, "No.", index + 1);
        row->SetValue(table, "Time", s.time);
        row->SetValue(table, "Humidity", s.humidity);
        row->SetValue(table, "Temperature", s.temperature);
        row->SetValue(table, "Alarm", s.alarm);
    }
    void Remove(int index) {
        for (CTable_WiFiSensorDB* t : {m_db.GetDevDB(), m_db.GetPicDB(), m_db.GetLumoDB(), m_db.GetNetDB(),
                                       m_db.GetTableDB(), m_db.GetTreeDB()})
            ASSERT_EQ(t->DeleteRow(index), 1);
        --m_db.m_realCount;
        --m_db.m_totalCount;
    }
    int Handle(int index) {
        int h = 0;
        m_db.GetTreeDB()->GetRow(index)->GetValue("HTREEITEM", h);
        return h;
    }

    CWiFiSensorDatabase m_db;
};

// ---- table layout ----

TEST(SensorTableWidths, FollowTheFortyNinthsOfTheInnerWidth) {
    struct Case {
        int width;
        std::array<int, 8> expected;
    };
    const Case cases[] = {
        {986, {60, 120, 180, 240, 120, 120, 80, 60}},
        {986 + 48, {60, 120, 180, 240, 120, 120, 80, 108}}, // remainder goes to "Alarm"
        {55, {3, 6, 9, 12, 6, 6, 4, 3}},
        {54, {0, 0, 0, 0, 0, 0, 0, 48}},
        {6, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {-100, {0, 0, 0, 0, 0, 0, 0, 0}},
        {INT_MIN, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(SensorTable::ColumnWidths(c.width), c.expected) << "width " << c.width;

    const auto huge = SensorTable::ColumnWidths(INT_MAX);
    long long sum = 0;
    for (int w : huge) {
        EXPECT_GE(w, 0);
        sum += w;
    }
    EXPECT_EQ(sum, static_cast<long long>(INT_MAX) - 6);
}

TEST(SensorTableLayout, HeadTitlesAlignmentsAndWidthsOnResize) {
    SensorTable table;
    const char* titles[] = {"No.", "Model", "Name", "Time", "Humidity", "Temperature", "Graph", "Alarm"};
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment align[] = {Qt::AlignCenter, left, left, Qt::AlignCenter, Qt::AlignCenter,
                                   Qt::AlignCenter, Qt::AlignCenter, Qt::AlignCenter};
    ASSERT_EQ(table.columnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        const QTableWidgetItem* head = table.horizontalHeaderItem(c);
        ASSERT_NE(head, nullptr);
        EXPECT_EQ(head->text(), QString::fromLatin1(titles[c]));
        EXPECT_EQ(Qt::Alignment(head->textAlignment()), align[c]) << c;
    }
    table.resize(986, 300);
    table.show();
    QApplication::processEvents();
    const auto expected = SensorTable::ColumnWidths(986);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(table.columnWidth(c), expected[static_cast<std::size_t>(c)]) << c;
}

// ---- table contents ----

TEST_F(ViewsTest, TableBuildShowsStoredValuesWithoutUnits) {
    Append({"Lab", "", 101.0, 101.0, 0});                  // loaded without readings
    Append({"Hall", "2024-3-7 9:5:0", 45.6, -12.5, 1});    // stored values
    Append({"Cellar", "2024-3-7 9:5:0", 100.0, 100.5, 2}); // 100.0 is shown, above it not
    SensorTable table;
    table.TableUpDate(m_db);
    ASSERT_EQ(table.rowCount(), 3);

    const std::vector<std::vector<QString>> expected = {
        {"1", "AM232", "Lab", "", "", "", "-"},
        {"2", "AM232", "Hall", "2024-3-7 9:5:0", "45.6", "-12.5", "Alarm"},
        {"3", "AM232", "Cellar", "2024-3-7 9:5:0", "100.0", "", "Alarm"},
    };
    const int columns[] = {0, 1, 2, 3, 4, 5, 7};
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 7; ++i) {
            const QTableWidgetItem* cell = table.item(r, columns[i]);
            ASSERT_NE(cell, nullptr) << r << "," << columns[i];
            EXPECT_EQ(cell->text(), expected[r][i]) << r << "," << columns[i];
        }
    // Only the newer-than-seen alarm is red.
    EXPECT_EQ(table.item(1, 7)->foreground(), QBrush());
    EXPECT_EQ(table.item(2, 7)->foreground().color(), QColor(255, 0, 0));
}

TEST_F(ViewsTest, RefreshRowFormatsTheReading) {
    struct Case {
        double h, t;
        int alarm;
        QString humidity, temperature, alarmText;
        bool red;
    };
    const Case cases[] = {
        {45.6, 23.4, 0, "45.6%", "23.4" + kCelsius, "-", false},
        {99.8, -12.5, 0, "99.8%", "-12.5" + kCelsius, "-", false},
        {99.9, 80.0, 2, "Error!", "Error!", "Alarm", true},
        {100.0, 79.9, 1, "Error!", "79.9" + kCelsius, "Alarm", false},
        {NAN, NAN, 2, "Error!", "Error!", "Alarm", true},
        {0.04, -0.04, 0, "0.0%", "-0.0" + kCelsius, "-", false},
        {23.45, 23.449, 0, "23.4%", "23.4" + kCelsius, "-", false}, // printf's rounding of the binary value
    };
    Append({"S1"});
    SensorTable table;
    table.TableUpDate(m_db);
    for (const Case& c : cases) {
        SetTable(0, {"S1", "2024-12-31 23:59:5", c.h, c.t, c.alarm});
        table.RefreshRow(m_db, 0);
        SCOPED_TRACE(::testing::Message() << "h=" << c.h << " t=" << c.t << " alarm=" << c.alarm);
        EXPECT_EQ(table.item(0, 3)->text(), "2024-12-31 23:59:5");
        EXPECT_EQ(table.item(0, 4)->text(), c.humidity);
        EXPECT_EQ(table.item(0, 5)->text(), c.temperature);
        EXPECT_EQ(table.item(0, 7)->text(), c.alarmText);
        EXPECT_EQ(table.item(0, 7)->foreground().color() == QColor(255, 0, 0), c.red);
    }
    // Rows the table does not have are ignored.
    table.RefreshRow(m_db, 1);
    table.RefreshRow(m_db, -1);
    EXPECT_EQ(table.rowCount(), 1);
}

TEST_F(ViewsTest, AddedSensorRowHasNoReadingsAndShiftsTheOthers) {
    AppendNamed({"A", "B"});
    SensorTable table;
    table.TableUpDate(m_db);
    Insert(1, {"New", "2024-1-1 0:0:0", 45.0, 20.0, 2});
    table.AddDevToTableCtrl(m_db, 1);
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.item(0, 2)->text(), "A");
    EXPECT_EQ(table.item(1, 2)->text(), "New");
    EXPECT_EQ(table.item(2, 2)->text(), "B");
    for (int c : {3, 4, 5}) EXPECT_EQ(table.item(1, c)->text(), "") << c;
    EXPECT_EQ(table.item(1, 7)->text(), "Alarm");
    for (int r = 0; r < 3; ++r) EXPECT_NE(table.cellWidget(r, 6), nullptr) << r;

    table.AddDevToTableCtrl(m_db, 7); // no such sensor
    table.deleteItemEx(3);
    table.deleteItemEx(-1);
    EXPECT_EQ(table.rowCount(), 3);
}

// ---- row buttons ----

TEST_F(ViewsTest, EveryRowHasAButtonThatReportsItsCurrentRow) {
    for (int i = 0; i < 150; ++i) Append({"S" + std::to_string(i)});
    SensorTable table;
    std::vector<int> clicked;
    QObject::connect(&table, &SensorTable::historyButtonClicked, [&](int row) { clicked.push_back(row); });
    table.TableUpDate(m_db);
    ASSERT_EQ(table.rowCount(), 150);

    const auto button = [&](int row) { return qobject_cast<QPushButton*>(table.cellWidget(row, 6)); };
    for (int r = 0; r < 150; ++r) {
        ASSERT_NE(button(r), nullptr) << r;
        EXPECT_EQ(button(r)->text(), "-");
    }
    for (int r : {0, 99, 100, 149}) button(r)->click();
    EXPECT_EQ(clicked, (std::vector<int>{0, 99, 100, 149}));

    // After a deletion the button that moved up reports its new row.
    table.deleteItemEx(3);
    ASSERT_EQ(table.rowCount(), 149);
    clicked.clear();
    for (int r : {2, 3, 148}) button(r)->click();
    EXPECT_EQ(clicked, (std::vector<int>{2, 3, 148}));
}

// ---- alarm cell clicks ----

class AlarmClickTest : public ViewsTest {
  protected:
    void SetUp() override {
        Append({"A", "", 101.0, 101.0, 1});
        Append({"B", "", 101.0, 101.0, 0});
        Append({"C", "", 101.0, 101.0, 2});
        m_table.resize(986, 300);
        m_table.TableUpDate(m_db);
        m_table.show();
        QApplication::processEvents();
        QObject::connect(&m_table, &SensorTable::alarmCellActivated, [this](int row) { m_activated.push_back(row); });
    }
    void Click(int row, int column) { test::ClickCell(m_table, row, column); }
    void DoubleClick(int row, int column) { test::DoubleClickCell(m_table, row, column); }

    SensorTable m_table;
    std::vector<int> m_activated;
};

TEST_F(AlarmClickTest, DoubleClickNeedsThePrecedingSingleClickOnTheSameAlarmCell) {
    struct Case {
        std::vector<std::pair<int, int>> clicks; // single clicks, in order
        std::pair<int, int> doubleClick;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{{0, 7}}, {0, 7}, {0}},         // alarm 1
        {{{2, 7}}, {2, 7}, {2}},         // alarm 2
        {{{1, 7}}, {1, 7}, {}},          // alarm 0
        {{}, {0, 7}, {}},                // no single click before
        {{{0, 7}}, {2, 7}, {}},          // other row
        {{{0, 2}}, {0, 7}, {}},          // single click outside the alarm column
        {{{0, 7}}, {0, 2}, {}},          // double click outside it
        {{{0, 7}, {0, 3}}, {0, 7}, {}},  // a later click elsewhere forgets the row
    };
    for (const Case& c : cases) {
        m_activated.clear();
        Click(1, 0); // start from a neutral state
        for (const auto& [r, col] : c.clicks) Click(r, col);
        DoubleClick(c.doubleClick.first, c.doubleClick.second);
        EXPECT_EQ(m_activated, c.expected) << "double click " << c.doubleClick.first << "," << c.doubleClick.second;
    }
}

TEST_F(AlarmClickTest, AlarmStateSetLaterCounts) {
    m_table.SetAlarmCell(1, 2);
    Click(1, 7);
    DoubleClick(1, 7);
    m_table.SetAlarmCell(0, 0);
    Click(0, 7);
    DoubleClick(0, 7);
    EXPECT_EQ(m_activated, std::vector<int>{1});
}

// ---- tree ----

class TreeTest : public ViewsTest {
  protected:
    // Children in order: data i, text = Dev "Name" of i, and Tree "HTREEITEM" of i
    // leads to child i.
    void ExpectMirrorsDatabase() {
        QTreeWidgetItem* root = m_tree.RootItem();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->text(0), "Computer");
        EXPECT_EQ(SensorTree::ItemData(root), -1);
        ASSERT_EQ(root->childCount(), m_db.m_realCount);
        for (int i = 0; i < root->childCount(); ++i) {
            std::string name;
            m_db.GetDevDB()->GetRow(i)->GetValue("Name", name);
            EXPECT_EQ(SensorTree::ItemData(root->child(i)), i);
            EXPECT_EQ(root->child(i)->text(0).toStdString(), name) << i;
            EXPECT_EQ(m_tree.ItemForHandle(Handle(i)), root->child(i)) << i;
        }
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < m_tree.RootItem()->childCount(); ++i)
            names.push_back(m_tree.RootItem()->child(i)->text(0).toStdString());
        return names;
    }

    SensorTree m_tree;
};

TEST_F(TreeTest, BuildGivesOneChildPerInUseSensor) {
    AppendNamed({"A", "B", "C"});
    Insert(3, {"found"}); // a found sensor is not in use
    --m_db.m_realCount;
    m_tree.TreeUpDate(m_db);
    ExpectMirrorsDatabase();
    EXPECT_TRUE(m_tree.RootItem()->isExpanded());
    m_tree.TreeUpDate(m_db); // rebuilding does not duplicate
    ExpectMirrorsDatabase();
}

TEST_F(TreeTest, InsertRaisesTheDataOfLaterSensors) {
    const std::vector<std::vector<std::string>> expected = {
        {"N", "A", "B", "C"}, {"A", "N", "B", "C"}, {"A", "B", "N", "C"}, {"A", "B", "C", "N"}};
    for (int n = 0; n <= 3; ++n) {
        SCOPED_TRACE(n);
        m_db = {};
        m_db.InitAllDB();
        AppendNamed({"A", "B", "C"});
        m_tree.TreeUpDate(m_db);
        Insert(n, {"N"});
        m_tree.AddDevToTreeCtrl(m_db, n);
        m_tree.CheckItemDataForAdd(n);
        EXPECT_EQ(Names(), expected[n]);
        ExpectMirrorsDatabase();
    }
}

TEST_F(TreeTest, DeleteLowersTheDataOfLaterSensors) {
    const std::vector<std::vector<std::string>> expected = {{"B", "C", "D"}, {"A", "C", "D"}, {"A", "B", "D"},
                                                            {"A", "B", "C"}};
    for (int n = 0; n <= 3; ++n) {
        SCOPED_TRACE(n);
        m_db = {};
        m_db.InitAllDB();
        AppendNamed({"A", "B", "C", "D"});
        m_tree.TreeUpDate(m_db);
        const int handle = Handle(n);
        m_tree.CheckItemDataForDelete(n);
        // Before the item goes, the sensor's own child keeps its index and the later
        // ones already carry theirs after the deletion.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(SensorTree::ItemData(m_tree.RootItem()->child(i)), i <= n ? i : i - 1) << i;
        EXPECT_TRUE(m_tree.DeleteItemByHandle(handle));
        EXPECT_EQ(m_tree.ItemForHandle(handle), nullptr);
        Remove(n);
        EXPECT_EQ(Names(), expected[n]);
        ExpectMirrorsDatabase();
    }
}

TEST_F(TreeTest, DeleteDevRemovesTheSensorsChildEvenWithoutAHandle) {
    AppendNamed({"A", "B", "C"});
    m_tree.TreeUpDate(m_db);
    m_db.GetTreeDB()->GetRow(1)->SetValue(m_db.GetTreeDB(), "HTREEITEM", 0);
    m_tree.DeleteDevFromTreeCtrl(m_db, 1);
    Remove(1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
    ExpectMirrorsDatabase();

    // Unknown handles and indices leave the tree alone.
    EXPECT_FALSE(m_tree.DeleteItemByHandle(12345));
    EXPECT_FALSE(m_tree.SetItemTextByHandle(0, "x"));
    m_tree.DeleteDevFromTreeCtrl(m_db, 9);
    m_tree.DeleteDevFromTreeCtrl(m_db, -1);
    ExpectMirrorsDatabase();
}

TEST_F(TreeTest, OutOfRangeAddAppendsWithTheLastIndex) {
    AppendNamed({"A", "B"});
    m_tree.TreeUpDate(m_db);
    m_tree.AddDevToTreeCtrl(m_db, 9);
    m_tree.CheckItemDataForAdd(9);
    ASSERT_EQ(m_tree.RootItem()->childCount(), 3);
    EXPECT_EQ(SensorTree::ItemData(m_tree.RootItem()->child(2)), 1);
    EXPECT_EQ(m_tree.RootItem()->child(2)->text(0), "B");
}

TEST_F(TreeTest, RightClickOnASensorAsksForItsMenuOnly) {
    AppendNamed({"A", "B"});
    m_tree.resize(200, 400);
    m_tree.TreeUpDate(m_db);
    m_tree.show();
    QApplication::processEvents();
    std::vector<std::pair<int, QPoint>> requests;
    QObject::connect(&m_tree, &SensorTree::sensorContextMenuRequested,
                     [&](int index, QPoint global) { requests.emplace_back(index, global); });

    const auto rightClick = [&](QPoint pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, m_tree.viewport()->mapToGlobal(pos));
        QApplication::sendEvent(m_tree.viewport(), &event);
    };
    const QPoint second = m_tree.visualItemRect(m_tree.RootItem()->child(1)).center();
    rightClick(second);
    rightClick(m_tree.visualItemRect(m_tree.RootItem()).center());
    rightClick(QPoint(5, m_tree.viewport()->height() - 5)); // background
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].first, 1);
    EXPECT_EQ(requests[0].second, m_tree.viewport()->mapToGlobal(second));
}

// ---- fonts ----

TEST(SensorViewFonts, TableAndTreeRenderTheSymbols) {
    bool installed = false;
    for (const QString& family : QFontDatabase::families())
        if (CoversSymbols(QFont(family))) {
            installed = true;
            break;
        }
    if (!installed) GTEST_SKIP() << "no installed font has U+2103 and U+FF1A (install fonts-wqy-microhei)";

    SensorTable table;
    SensorTree tree;
    for (const QFont& font : {table.font(), tree.font()}) {
        const QFontMetrics metrics(font);
        EXPECT_TRUE(metrics.inFont(QChar(0x2103))) << font.family().toStdString();
        EXPECT_TRUE(metrics.inFont(QChar(0xFF1A))) << font.family().toStdString();
        EXPECT_TRUE(CoversSymbols(font)) << font.family().toStdString();
    }
}

} // namespace
} // namespace hygro::ui
