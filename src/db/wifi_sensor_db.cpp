#include "db/wifi_sensor_db.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <utility>
#include <variant>

#include "util/kx_log.h"

namespace hygro {
namespace {

using CellMap = std::map<std::string, std::unique_ptr<CValueBase_WiFiSensor>>;

// Maps the value type of a call to its cell class and kind code.
template <typename T>
struct CellTraits;
template <>
struct CellTraits<int> {
    using Cell = CValueInt_WiFiSensor;
    static constexpr int kKind = kKindInt;
};
template <>
struct CellTraits<double> {
    using Cell = CValueDouble_WiFiSensor;
    static constexpr int kKind = kKindDouble;
};
template <>
struct CellTraits<std::string> {
    using Cell = CValueString_WiFiSensor;
    static constexpr int kKind = kKindString;
};

// snprintf into a string of any length.
template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    const int n = std::snprintf(nullptr, 0, fmt, args...);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, args...);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// printf argument for a value of the call's kind.
int Arg(int v) { return v; }
double Arg(double v) { return v; }
const char* Arg(const std::string& v) { return v.c_str(); }

// Log line formats; the string SetValue line really ends in "!1", like the integer one.
const char* SetMissingFormat(int) { return "SetValue not find column name %s!%d!1"; }
const char* SetMissingFormat(double) { return "SetValue not find column name %s!%.1lf!2"; }
const char* SetMissingFormat(const std::string&) { return "SetValue not find column name %s!%s!1"; }
const char* GetMissingFormat(int) { return "GetValue not find column name %s!%d!1"; }
const char* GetMissingFormat(double) { return "GetValue not find column name %s!%.2lf!2"; }
const char* GetMissingFormat(const std::string&) { return "GetValue not find column name %s!%s!3"; }

template <typename T>
int SetCell(CellMap& cells, const CTable_WiFiSensorDB* table, const std::string& name, T value) {
    using Traits = CellTraits<T>;
    const auto it = cells.find(name);
    if (it == cells.end()) {
        if (table == nullptr) {
            cells.emplace(name, std::make_unique<typename Traits::Cell>(std::move(value)));
            return 1;
        }
        g_Log.AddLogInfo(Format(SetMissingFormat(value), name.c_str(), Arg(value)), 1);
        return 0;
    }
    // With a table, the column's kind comes from that table's head; without one (head
    // building), from the cell itself.
    int kind = 0;
    if (table != nullptr) {
        if (table->GetHeadKind(name, kind) == 0) return 0;
    } else {
        kind = it->second->GetKind();
    }
    if (kind != Traits::kKind || it->second->GetKind() != Traits::kKind) return 0;
    static_cast<typename Traits::Cell&>(*it->second).SetValue(std::move(value));
    return 1;
}

template <typename T>
int GetCell(const CellMap& cells, const std::string& name, T& value) {
    using Traits = CellTraits<T>;
    const auto it = cells.find(name);
    if (it == cells.end()) {
        g_Log.AddLogInfo(Format(GetMissingFormat(value), name.c_str(), Arg(value)), 1);
        return 0;
    }
    if (it->second->GetKind() != Traits::kKind) return 0;
    value = static_cast<const typename Traits::Cell&>(*it->second).GetValue();
    return 1;
}

// One column of a head: name and default (whose type gives the kind).
struct ColumnDef {
    const char* name;
    std::variant<int, double, const char*> def;
};

// Adds the columns one by one; on any failure empties the head and returns 0.
template <std::size_t N>
int BuildHead(CRow_DB_WiFiSensor& head, const ColumnDef (&columns)[N]) {
    for (const ColumnDef& c : columns) {
        const int ok = std::visit([&](auto v) { return head.SetValue(nullptr, c.name, v); }, c.def);
        if (ok != 1) {
            head.ClearMem();
            return 0;
        }
    }
    return 1;
}

constexpr ColumnDef kDevColumns[] = {
    {"ID", 0},          {"Name", "WiFiSensor"}, {"Folder", ""},       {"LYear", 0},
    {"LMonth", 0},      {"LDay", 0},            {"LHour", 0},         {"LMinute", 0},
    {"LSecond", 0},     {"HMax", 0.0},          {"HMin", 0.0},        {"TMax", 0.0},
    {"TMin", 0.0},      {"AlarmYear", 0},       {"AlarmMonth", 0},    {"AlarmDay", 0},
    {"AlarmHour", 0},   {"AlarmMinute", 0},     {"AlarmSecond", 0},   {"AlarmYear2", 0},
    {"AlarmMonth2", 0}, {"AlarmDay2", 0},       {"AlarmHour2", 0},    {"AlarmMinute2", 0},
    {"AlarmSecond2", 0}, {"OnPic", 0},          {"Serial", 0},
};
constexpr ColumnDef kPicColumns[] = {{"ID", 0}, {"PosX", 0.0}, {"PosY", 0.0}};
constexpr ColumnDef kLumoColumns[] = {{"ID", 0},    {"ColorR", 0}, {"ColorG", 0}, {"ColorB", 0},
                                      {"Line1", 0}, {"Line2", 0},  {"Show", 0}};
constexpr ColumnDef kNetColumns[] = {{"ID", 0},   {"RemoteIP", 0}, {"RemotePort", 0}, {"LocalPort", 0},
                                     {"On", 0},   {"Connect", 0},  {"Socket", 0},     {"SendRev", 0}};
constexpr ColumnDef kTableColumns[] = {{"ID", 0},       {"No.", 0},         {"Model", "AM232"},
                                       {"Time", ""},    {"Humidity", 0.0},  {"Temperature", 0.0},
                                       {"Alarm", 0}};
constexpr ColumnDef kTreeColumns[] = {{"ID", 0}, {"HTREEITEM", 0}};

} // namespace

// ---- CRow_DB_WiFiSensor ----

int CRow_DB_WiFiSensor::GetKind(std::string name, int& kind) const {
    const auto it = m_cells.find(name);
    if (it == m_cells.end()) return 0;
    kind = it->second->GetKind();
    return 1;
}

int CRow_DB_WiFiSensor::GetValue(std::string name, int& value) const { return GetCell(m_cells, name, value); }
int CRow_DB_WiFiSensor::GetValue(std::string name, double& value) const { return GetCell(m_cells, name, value); }
int CRow_DB_WiFiSensor::GetValue(std::string name, std::string& value) const {
    return GetCell(m_cells, name, value);
}

int CRow_DB_WiFiSensor::SetValue(const CTable_WiFiSensorDB* table, std::string name, int value) {
    return SetCell(m_cells, table, name, value);
}
int CRow_DB_WiFiSensor::SetValue(const CTable_WiFiSensorDB* table, std::string name, double value) {
    return SetCell(m_cells, table, name, value);
}
int CRow_DB_WiFiSensor::SetValue(const CTable_WiFiSensorDB* table, std::string name, std::string value) {
    return SetCell(m_cells, table, name, std::move(value));
}

int CRow_DB_WiFiSensor::AddColumnLikeHead(const CRow_DB_WiFiSensor& head) {
    for (const auto& [name, cell] : head.m_cells) {
        std::unique_ptr<CValueBase_WiFiSensor> copy;
        switch (cell->GetKind()) {
        case kKindInt:
            copy = std::make_unique<CValueInt_WiFiSensor>(static_cast<const CValueInt_WiFiSensor&>(*cell));
            break;
        case kKindDouble:
            copy = std::make_unique<CValueDouble_WiFiSensor>(static_cast<const CValueDouble_WiFiSensor&>(*cell));
            break;
        case kKindString:
            copy = std::make_unique<CValueString_WiFiSensor>(static_cast<const CValueString_WiFiSensor&>(*cell));
            break;
        default:
            continue;
        }
        m_cells.insert_or_assign(name, std::move(copy));
    }
    return 1;
}

void CRow_DB_WiFiSensor::ClearMem() { m_cells.clear(); }

// ---- CTable_WiFiSensorDB ----

int CTable_WiFiSensorDB::InitDev() { return BuildHead(m_head, kDevColumns); }
int CTable_WiFiSensorDB::InitPic() { return BuildHead(m_head, kPicColumns); }
int CTable_WiFiSensorDB::InitLumo() { return BuildHead(m_head, kLumoColumns); }
int CTable_WiFiSensorDB::InitNet() { return BuildHead(m_head, kNetColumns); }
int CTable_WiFiSensorDB::InitTable() { return BuildHead(m_head, kTableColumns); }
int CTable_WiFiSensorDB::InitTree() { return BuildHead(m_head, kTreeColumns); }

int CTable_WiFiSensorDB::GetRowCount() const { return static_cast<int>(m_rows.size()); }

CRow_DB_WiFiSensor* CTable_WiFiSensorDB::GetRow(int index) const {
    if (index < 0 || index >= GetRowCount()) {
        throw std::out_of_range("CTable_WiFiSensorDB::GetRow: index " + std::to_string(index) +
                                " outside 0.." + std::to_string(GetRowCount() - 1));
    }
    return m_rows[static_cast<std::size_t>(index)].get();
}

int CTable_WiFiSensorDB::AddOneRow(int index) {
    try {
        auto row = std::make_unique<CRow_DB_WiFiSensor>();
        row->AddColumnLikeHead(m_head);
        // -1 appends and 0..count inserts; any other index also appends, like AddRow,
        // rather than failing.
        if (index < 0 || index >= GetRowCount()) {
            m_rows.push_back(std::move(row));
            return GetRowCount() - 1;
        }
        m_rows.insert(m_rows.begin() + index, std::move(row));
        return index;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

void CTable_WiFiSensorDB::AddRow(int index, std::unique_ptr<CRow_DB_WiFiSensor> row) {
    // A null row is not a row; ignoring it keeps every stored pointer valid for GetRow.
    if (!row) return;
    if (index >= 0 && index < GetRowCount()) {
        m_rows.insert(m_rows.begin() + index, std::move(row));
    } else {
        m_rows.push_back(std::move(row));
    }
}

std::unique_ptr<CRow_DB_WiFiSensor> CTable_WiFiSensorDB::RemoveRow(int index) {
    if (index < 0 || index >= GetRowCount()) return nullptr;
    const auto it = m_rows.begin() + index;
    std::unique_ptr<CRow_DB_WiFiSensor> row = std::move(*it);
    m_rows.erase(it);
    return row;
}

int CTable_WiFiSensorDB::DeleteRow(int index) {
    if (index < 0 || index >= GetRowCount()) return 0;
    m_rows.erase(m_rows.begin() + index);
    return 1;
}

namespace {
template <typename T>
int SetColumn(CTable_WiFiSensorDB& table, std::vector<std::unique_ptr<CRow_DB_WiFiSensor>>& rows,
              const std::string& name, const T& value) {
    int kind = 0;
    if (table.GetHeadKind(name, kind) == 0 || kind != CellTraits<T>::kKind) return 0;
    for (auto& row : rows) row->SetValue(&table, name, value);
    return 1;
}
} // namespace

int CTable_WiFiSensorDB::SetTableColumnValue(const std::string& name, int value) {
    return SetColumn(*this, m_rows, name, value);
}
int CTable_WiFiSensorDB::SetTableColumnValue(const std::string& name, double value) {
    return SetColumn(*this, m_rows, name, value);
}
int CTable_WiFiSensorDB::SetTableColumnValue(const std::string& name, const std::string& value) {
    return SetColumn(*this, m_rows, name, value);
}

int CTable_WiFiSensorDB::GetHeadKind(const std::string& name, int& kind) const { return m_head.GetKind(name, kind); }
int CTable_WiFiSensorDB::GetHeadDefaultValue(const std::string& name, int& value) const {
    return m_head.GetValue(name, value);
}
int CTable_WiFiSensorDB::GetHeadDefaultValue(const std::string& name, double& value) const {
    return m_head.GetValue(name, value);
}
int CTable_WiFiSensorDB::GetHeadDefaultValue(const std::string& name, std::string& value) const {
    return m_head.GetValue(name, value);
}

void CTable_WiFiSensorDB::ClearRowMem() { m_rows.clear(); }
void CTable_WiFiSensorDB::ClearHeadMem() { m_head.ClearMem(); }
void CTable_WiFiSensorDB::ClearMem() {
    ClearHeadMem();
    ClearRowMem();
}

// ---- CWiFiSensorDatabase ----

void CWiFiSensorDatabase::InitAllDB() {
    const auto report = [](const char* table, int ok) {
        g_Log.AddLogInfo(std::string(table) + (ok ? " Init Success!" : " Init Failed!"), 1);
    };
    report("Dev", m_dev.InitDev());
    report("Pic", m_pic.InitPic());
    report("Lumo", m_lumo.InitLumo());
    report("Net", m_net.InitNet());
    report("Table", m_table.InitTable());
    report("Tree", m_tree.InitTree());
}

void CWiFiSensorDatabase::ClearAllMem() {
    for (CTable_WiFiSensorDB* t : {&m_dev, &m_pic, &m_lumo, &m_net, &m_table, &m_tree}) t->ClearMem();
}

} // namespace hygro
