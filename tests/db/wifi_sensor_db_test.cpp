#include "db/wifi_sensor_db.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "util/kx_log.h"

namespace hygro {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Value = std::variant<int, double, std::string>;

// Collects every text handed to g_Log for the test's lifetime.
class DbTest : public ::testing::Test {
  protected:
    DbTest() {
        g_Log.SetTap([this](const std::string& text) { m_log.push_back(text); });
    }
    ~DbTest() override { g_Log.SetTap({}); }

    // Database with built heads and `rows` rows in every table; log cleared.
    void Init(int rows = 0) {
        m_db.InitAllDB();
        for (CTable_WiFiSensorDB* t : Tables())
            for (int i = 0; i < rows; ++i) t->AddOneRow(-1);
        m_log.clear();
    }
    std::vector<CTable_WiFiSensorDB*> Tables() {
        return {m_db.GetDevDB(), m_db.GetPicDB(), m_db.GetLumoDB(),
                m_db.GetNetDB(), m_db.GetTableDB(), m_db.GetTreeDB()};
    }
    // The "ID" column of every row, used as a marker for row order.
    static std::vector<int> Ids(const CTable_WiFiSensorDB& t) {
        std::vector<int> ids;
        for (int i = 0; i < t.GetRowCount(); ++i) {
            int id = -999;
            EXPECT_EQ(t.GetRow(i)->GetValue("ID", id), 1);
            ids.push_back(id);
        }
        return ids;
    }
    // Tree table with rows whose IDs are 10, 11, 12.
    CTable_WiFiSensorDB* TreeWithIds() {
        Init();
        CTable_WiFiSensorDB* t = m_db.GetTreeDB();
        for (int id : {10, 11, 12}) t->GetRow(t->AddOneRow(-1))->SetValue(t, "ID", id);
        return t;
    }

    CWiFiSensorDatabase m_db;
    std::vector<std::string> m_log;
};

// ---- Heads and fresh rows ----

struct Column {
    const char* name;
    int kind;
    Value def;
};
struct HeadCase {
    const char* table;
    CTable_WiFiSensorDB* (CWiFiSensorDatabase::*get)();
    std::vector<Column> columns;
};

Column I(const char* n) { return {n, kKindInt, 0}; }
Column D(const char* n) { return {n, kKindDouble, 0.0}; }
Column S(const char* n, const char* def) { return {n, kKindString, std::string(def)}; }

const HeadCase kHeads[] = {
    // 27 Dev columns, every one of them stored in the device list.
    {"Dev",
     &CWiFiSensorDatabase::GetDevDB,
     {I("ID"),          S("Name", "WiFiSensor"), S("Folder", ""),     I("LYear"),       I("LMonth"),
      I("LDay"),        I("LHour"),              I("LMinute"),        I("LSecond"),     D("HMax"),
      D("HMin"),        D("TMax"),               D("TMin"),           I("AlarmYear"),   I("AlarmMonth"),
      I("AlarmDay"),    I("AlarmHour"),          I("AlarmMinute"),    I("AlarmSecond"), I("AlarmYear2"),
      I("AlarmMonth2"), I("AlarmDay2"),          I("AlarmHour2"),     I("AlarmMinute2"), I("AlarmSecond2"),
      I("OnPic"),       I("Serial")}},
    {"Pic", &CWiFiSensorDatabase::GetPicDB, {I("ID"), D("PosX"), D("PosY")}},
    {"Lumo",
     &CWiFiSensorDatabase::GetLumoDB,
     {I("ID"), I("ColorR"), I("ColorG"), I("ColorB"), I("Line1"), I("Line2"), I("Show")}},
    {"Net",
     &CWiFiSensorDatabase::GetNetDB,
     {I("ID"), I("RemoteIP"), I("RemotePort"), I("LocalPort"), I("On"), I("Connect"), I("Socket"),
      I("SendRev")}},
    {"Table",
     &CWiFiSensorDatabase::GetTableDB,
     {I("ID"), I("No."), S("Model", "AM232"), S("Time", ""), D("Humidity"), D("Temperature"), I("Alarm")}},
    {"Tree", &CWiFiSensorDatabase::GetTreeDB, {I("ID"), I("HTREEITEM")}},
};

class Heads : public DbTest, public ::testing::WithParamInterface<HeadCase> {};

// Checks one cell of `row` against its expected kind and value (read back with the call's kind).
void ExpectCell(const CRow_DB_WiFiSensor& row, const Column& c) {
    SCOPED_TRACE(c.name);
    int kind = 0;
    ASSERT_EQ(row.GetKind(c.name, kind), 1);
    EXPECT_EQ(kind, c.kind);
    std::visit(
        [&](const auto& expected) {
            std::decay_t<decltype(expected)> v{};
            EXPECT_EQ(row.GetValue(c.name, v), 1);
            EXPECT_EQ(v, expected);
        },
        c.def);
}

TEST_P(Heads, HeadAndFreshRowHaveExactlyTheSpecifiedColumns) {
    const HeadCase& hc = GetParam();
    Init();
    CTable_WiFiSensorDB* t = (m_db.*hc.get)();
    ASSERT_EQ(t->AddOneRow(-1), 0);
    const CRow_DB_WiFiSensor& row = *t->GetRow(0);
    // Matching count + every listed (distinct) name present = exactly this column set.
    EXPECT_EQ(t->Head().ColumnCount(), hc.columns.size());
    EXPECT_EQ(row.ColumnCount(), hc.columns.size());
    for (const Column& c : hc.columns) {
        ExpectCell(t->Head(), c);
        ExpectCell(row, c);
        int kind = 0;
        EXPECT_EQ(t->GetHeadKind(c.name, kind), 1);
        EXPECT_EQ(kind, c.kind);
    }
    EXPECT_THAT(m_log, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(AllTables, Heads, ::testing::ValuesIn(kHeads),
                         [](const auto& info) { return std::string(info.param.table); });

TEST_F(DbTest, GetHeadDefaultValueFollowsGetValueRules) {
    Init();
    const CTable_WiFiSensorDB& t = *m_db.GetTableDB();
    std::string model;
    EXPECT_EQ(t.GetHeadDefaultValue("Model", model), 1);
    EXPECT_EQ(model, "AM232");
    int i = 5;
    EXPECT_EQ(t.GetHeadDefaultValue("Model", i), 0);
    EXPECT_EQ(i, 5);
    double d = 2.5;
    EXPECT_EQ(t.GetHeadDefaultValue("Nope", d), 0);
    EXPECT_THAT(m_log, ElementsAre("GetValue not find column name Nope!2.50!2"));
}

// ---- SetValue / GetValue ----

struct SetCase {
    const char* label;
    const char* column;
    Value value;
    int result;
    std::vector<std::string> log;
};

const SetCase kSetCases[] = {
    {"int into int", "No.", 7, 1, {}},
    {"double into double", "Humidity", 45.6, 1, {}},
    {"string into string", "Model", std::string("DHT22"), 1, {}},
    {"double into int", "ID", 2.5, 0, {}},
    {"int into double", "Humidity", 3, 0, {}},
    {"string into int", "Alarm", std::string("x"), 0, {}},
    {"int into string", "Model", 5, 0, {}},
    {"missing int", "Missing", -7, 0, {"SetValue not find column name Missing!-7!1"}},
    {"missing double", "Missing", 3.14159, 0, {"SetValue not find column name Missing!3.1!2"}},
    // The string line ends in "!1", not "!3".
    {"missing string", "Missing", std::string("abc"), 0, {"SetValue not find column name Missing!abc!1"}},
};

TEST_F(DbTest, SetValueWithTableStoresOnlyExistingColumnsOfTheCallsKind) {
    for (const SetCase& c : kSetCases) {
        SCOPED_TRACE(c.label);
        Init(1);
        CTable_WiFiSensorDB* t = m_db.GetTableDB();
        CRow_DB_WiFiSensor& row = *t->GetRow(0);
        const int result = std::visit([&](const auto& v) { return row.SetValue(t, c.column, v); }, c.value);
        EXPECT_EQ(result, c.result);
        EXPECT_THAT(m_log, ElementsAreArray(c.log));
        EXPECT_EQ(row.ColumnCount(), 7u);
        // Stored values read back; refused ones leave the cell at its default.
        for (const Column& col : kHeads[4].columns) {
            Column now = col;
            if (c.result == 1 && std::string(col.name) == c.column) now.def = c.value;
            ExpectCell(row, now);
        }
        m_db.ClearAllMem();
    }
}

TEST_F(DbTest, SetValueUsesTheGivenTablesHeadForTheKind) {
    Init(1);
    CRow_DB_WiFiSensor& row = *m_db.GetTableDB()->GetRow(0);
    // The Dev head has "ID" as an integer but no "Model": found in the row, refused silently.
    EXPECT_EQ(row.SetValue(m_db.GetDevDB(), "ID", 4), 1);
    EXPECT_EQ(row.SetValue(m_db.GetDevDB(), "Model", std::string("X")), 0);
    // An emptied head knows no column at all.
    m_db.GetPicDB()->ClearHeadMem();
    EXPECT_EQ(row.SetValue(m_db.GetPicDB(), "ID", 5), 0);
    int id = 0;
    std::string model;
    EXPECT_EQ(row.GetValue("ID", id), 1);
    EXPECT_EQ(id, 4);
    EXPECT_EQ(row.GetValue("Model", model), 1);
    EXPECT_EQ(model, "AM232");
    // A row whose cell kind differs from the head's: the head decides, so nothing is stored.
    CRow_DB_WiFiSensor odd;
    odd.SetValue(nullptr, "ID", 1.5);
    EXPECT_EQ(odd.SetValue(m_db.GetDevDB(), "ID", 2.5), 0);
    ExpectCell(odd, {"ID", kKindDouble, 1.5});
    EXPECT_THAT(m_log, IsEmpty());
}

TEST_F(DbTest, SetValueWithoutTableAddsMissingColumnsAndChecksTheCellKind) {
    CRow_DB_WiFiSensor row;
    EXPECT_EQ(row.SetValue(nullptr, "A", 1), 1);
    EXPECT_EQ(row.SetValue(nullptr, "B", 1.5), 1);
    EXPECT_EQ(row.SetValue(nullptr, "C", "text"), 1);
    EXPECT_EQ(row.ColumnCount(), 3u);
    EXPECT_EQ(row.SetValue(nullptr, "A", 9), 1);       // same kind: stored
    EXPECT_EQ(row.SetValue(nullptr, "A", 9.5), 0);     // other kind: refused
    EXPECT_EQ(row.SetValue(nullptr, "C", 3), 0);
    EXPECT_EQ(row.ColumnCount(), 3u);
    ExpectCell(row, {"A", kKindInt, 9});
    ExpectCell(row, {"B", kKindDouble, 1.5});
    ExpectCell(row, {"C", kKindString, std::string("text")});
    row.ClearMem();
    EXPECT_EQ(row.ColumnCount(), 0u);
    EXPECT_THAT(m_log, IsEmpty());
}

TEST_F(DbTest, GetValueOfAMissingColumnLogsTheOutVariablesContent) {
    Init(1);
    const CRow_DB_WiFiSensor& row = *m_db.GetTableDB()->GetRow(0);
    int i = 42;
    double d = 1.236;
    std::string s = "xyz";
    int kind = 77;
    EXPECT_EQ(row.GetValue("Nope", i), 0);
    EXPECT_EQ(row.GetValue("Nope", d), 0);
    EXPECT_EQ(row.GetValue("Nope", s), 0);
    EXPECT_EQ(row.GetKind("Nope", kind), 0); // GetKind logs nothing
    EXPECT_EQ(i, 42);
    EXPECT_EQ(d, 1.236);
    EXPECT_EQ(s, "xyz");
    EXPECT_EQ(kind, 77);
    EXPECT_THAT(m_log, ElementsAre("GetValue not find column name Nope!42!1",
                                   "GetValue not find column name Nope!1.24!2",
                                   "GetValue not find column name Nope!xyz!3"));
}

TEST_F(DbTest, GetValueOfTheWrongKindIsSilentAndLeavesTheVariable) {
    Init(1);
    const CRow_DB_WiFiSensor& row = *m_db.GetTableDB()->GetRow(0);
    int i = 42;
    double d = 1.5;
    std::string s = "xyz";
    EXPECT_EQ(row.GetValue("Humidity", i), 0);
    EXPECT_EQ(row.GetValue("Model", d), 0);
    EXPECT_EQ(row.GetValue("ID", s), 0);
    EXPECT_EQ(i, 42);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(s, "xyz");
    EXPECT_THAT(m_log, IsEmpty());
}

// ---- Row insertion and removal ----

struct IndexCase {
    int index;
    int result;
    std::vector<int> ids; // 0 marks the new row (its default ID)
};

TEST_F(DbTest, AddOneRowAppendsOnMinusOneOrOutOfRangeAndInsertsInRange) {
    const IndexCase cases[] = {
        {-1, 3, {10, 11, 12, 0}}, {3, 3, {10, 11, 12, 0}},  {0, 0, {0, 10, 11, 12}},
        {1, 1, {10, 0, 11, 12}},  {2, 2, {10, 11, 0, 12}},  {4, 3, {10, 11, 12, 0}},
        {99, 3, {10, 11, 12, 0}}, {-2, 3, {10, 11, 12, 0}},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(c.index);
        CTable_WiFiSensorDB* t = TreeWithIds();
        EXPECT_EQ(t->AddOneRow(c.index), c.result);
        EXPECT_EQ(Ids(*t), c.ids);
        EXPECT_EQ(t->GetRow(c.result)->ColumnCount(), 2u);
        m_db.ClearAllMem();
    }
}

TEST_F(DbTest, AddRowInsertsInRangeAndOtherwiseAppends) {
    const IndexCase cases[] = {
        {-1, 3, {10, 11, 12, 0}}, {3, 3, {10, 11, 12, 0}}, {10, 3, {10, 11, 12, 0}},
        {-5, 3, {10, 11, 12, 0}}, {0, 0, {0, 10, 11, 12}}, {2, 2, {10, 11, 0, 12}},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(c.index);
        CTable_WiFiSensorDB* t = TreeWithIds();
        auto row = std::make_unique<CRow_DB_WiFiSensor>();
        row->AddColumnLikeHead(t->Head());
        CRow_DB_WiFiSensor* raw = row.get();
        t->AddRow(c.index, std::move(row));
        EXPECT_EQ(Ids(*t), c.ids);
        EXPECT_EQ(t->GetRow(c.result), raw); // the very row, not a copy
        m_db.ClearAllMem();
    }
}

TEST_F(DbTest, RemoveRowHandsTheLiveRowBackAndAddRowTakesItAgain) {
    CTable_WiFiSensorDB* t = TreeWithIds();
    CRow_DB_WiFiSensor* middle = t->GetRow(1);
    CRow_DB_WiFiSensor* last = t->GetRow(2);

    std::unique_ptr<CRow_DB_WiFiSensor> removed = t->RemoveRow(1);
    ASSERT_EQ(removed.get(), middle);
    EXPECT_EQ(Ids(*t), (std::vector<int>{10, 12}));
    EXPECT_EQ(t->GetRow(1), last); // other rows keep their addresses

    t->ClearRowMem(); // the detached row is the caller's, untouched by the table
    EXPECT_EQ(t->GetRowCount(), 0);
    int id = 0;
    EXPECT_EQ(removed->GetValue("ID", id), 1);
    EXPECT_EQ(id, 11);

    t->AddRow(-1, std::move(removed));
    EXPECT_EQ(t->GetRow(0), middle);
    EXPECT_EQ(Ids(*t), (std::vector<int>{11}));
}

TEST_F(DbTest, RemoveRowAndDeleteRowRejectIndicesOutOfRange) {
    CTable_WiFiSensorDB* t = TreeWithIds();
    for (int bad : {-1, 3, 100}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(t->RemoveRow(bad), nullptr);
        EXPECT_EQ(t->DeleteRow(bad), 0);
    }
    EXPECT_EQ(Ids(*t), (std::vector<int>{10, 11, 12}));
}

// Destruction itself is checked by the asan preset's leak checker.
TEST_F(DbTest, DeleteRowRemovesTheRowAndKeepsTheOthers) {
    CTable_WiFiSensorDB* t = TreeWithIds();
    CRow_DB_WiFiSensor* first = t->GetRow(0);
    CRow_DB_WiFiSensor* last = t->GetRow(2);
    EXPECT_EQ(t->DeleteRow(1), 1);
    EXPECT_EQ(Ids(*t), (std::vector<int>{10, 12}));
    EXPECT_EQ(t->GetRow(0), first);
    EXPECT_EQ(t->GetRow(1), last);
    EXPECT_EQ(t->DeleteRow(0), 1);
    EXPECT_EQ(t->DeleteRow(0), 1);
    EXPECT_EQ(t->GetRowCount(), 0);
}

TEST_F(DbTest, GetRowThrowsOutOfRangeForABadIndex) {
    Init();
    CTable_WiFiSensorDB* t = m_db.GetNetDB();
    EXPECT_THROW(t->GetRow(0), std::out_of_range);
    t->AddOneRow(-1);
    t->AddOneRow(-1);
    EXPECT_NO_THROW(t->GetRow(1));
    for (int bad : {-1, 2, 1000}) EXPECT_THROW(t->GetRow(bad), std::out_of_range) << bad;
}

// ---- Whole-column and whole-database operations ----

TEST_F(DbTest, SetTableColumnValueSetsEveryRowOnlyForAHeadColumnOfTheCallsKind) {
    Init(3);
    CTable_WiFiSensorDB* net = m_db.GetNetDB();
    const auto sockets = [&] {
        std::vector<int> v;
        for (int i = 0; i < net->GetRowCount(); ++i) {
            int s = 0;
            net->GetRow(i)->GetValue("Socket", s);
            v.push_back(s);
        }
        return v;
    };
    EXPECT_EQ(net->SetTableColumnValue("Socket", -1), 1);
    EXPECT_EQ(sockets(), (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(net->SetTableColumnValue("Socket", 2.0), 0);
    EXPECT_EQ(net->SetTableColumnValue("Socket", std::string("2")), 0);
    EXPECT_EQ(net->SetTableColumnValue("Nope", 5), 0);
    EXPECT_EQ(sockets(), (std::vector<int>{-1, -1, -1}));

    CTable_WiFiSensorDB* table = m_db.GetTableDB();
    EXPECT_EQ(table->SetTableColumnValue("Humidity", 101.0), 1);
    EXPECT_EQ(table->SetTableColumnValue("Time", std::string("12:00")), 1);
    for (int i = 0; i < 3; ++i) {
        ExpectCell(*table->GetRow(i), {"Humidity", kKindDouble, 101.0});
        ExpectCell(*table->GetRow(i), {"Time", kKindString, std::string("12:00")});
    }
    // The head's defaults are not changed.
    ExpectCell(table->Head(), {"Humidity", kKindDouble, 0.0});

    EXPECT_EQ(m_db.GetTreeDB()->SetTableColumnValue("ID", 3), 1); // works on an empty table too
    m_db.GetTreeDB()->ClearRowMem();
    EXPECT_EQ(m_db.GetTreeDB()->SetTableColumnValue("ID", 3), 1);
    EXPECT_THAT(m_log, IsEmpty());
}

TEST_F(DbTest, ClearAllMemEmptiesHeadsAndRowsButKeepsTheCounts) {
    Init(3);
    m_db.m_totalCount = 3;
    m_db.m_realCount = 2;
    m_db.ClearAllMem();
    for (CTable_WiFiSensorDB* t : Tables()) {
        EXPECT_EQ(t->Head().ColumnCount(), 0u);
        EXPECT_EQ(t->GetRowCount(), 0);
    }
    EXPECT_EQ(m_db.m_totalCount, 3);
    EXPECT_EQ(m_db.m_realCount, 2);
    // Heads can be built again afterwards.
    m_db.InitAllDB();
    EXPECT_EQ(m_db.GetTreeDB()->Head().ColumnCount(), 2u);
}

TEST_F(DbTest, ANewDatabaseHasZeroCountsAndEmptyTables) {
    EXPECT_EQ(m_db.m_totalCount, 0);
    EXPECT_EQ(m_db.m_realCount, 0);
    for (CTable_WiFiSensorDB* t : Tables()) {
        EXPECT_EQ(t->Head().ColumnCount(), 0u);
        EXPECT_EQ(t->GetRowCount(), 0);
        EXPECT_EQ(t->AddOneRow(-1), 0); // a row of an empty head has no cells
        EXPECT_EQ(t->GetRow(0)->ColumnCount(), 0u);
    }
}

TEST_F(DbTest, InitAllDBLogsOneLinePerTableInOrder) {
    m_db.InitAllDB();
    EXPECT_THAT(m_log, ElementsAre("Dev Init Success!", "Pic Init Success!", "Lumo Init Success!",
                                   "Net Init Success!", "Table Init Success!", "Tree Init Success!"));
}

} // namespace
} // namespace hygro
