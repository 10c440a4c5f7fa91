#include "acq/sensor_editing.h"

#include "acq/sensor_checks.h"

#include <algorithm>
#include <system_error>

#include "app/app_core.h"
#include "db/wifi_sensor_db.h"
#include "util/file_opt.h"
#include "util/kx_log.h"
#include "util/text.h"

namespace hygro {
namespace {

// The six tables in the order pending rows are kept.
std::array<CTable_WiFiSensorDB*, 6> Tables(CWiFiSensorDatabase& db) {
    return {db.GetDevDB(), db.GetPicDB(), db.GetLumoDB(), db.GetNetDB(), db.GetTableDB(), db.GetTreeDB()};
}

int RowCount(CWiFiSensorDatabase& db) {
    int n = db.m_totalCount;
    for (CTable_WiFiSensorDB* t : Tables(db))
        n = std::min(n, t->GetRowCount());
    return std::max(n, 0);
}

int RealCount(CWiFiSensorDatabase& db) {
    return std::clamp(db.m_realCount, 0, RowCount(db));
}

template <typename T> T Value(const CRow_DB_WiFiSensor* row, const char* column) {
    T v{};
    if (row) row->GetValue(column, v);
    return v;
}

} // namespace

std::vector<int> GetANotUsingNo(CWiFiSensorDatabase& db, int count) {
    count = std::max(count, 1);
    std::vector<int> out;
    const int real = RealCount(db);
    if (real == 0) {
        for (int i = 1; i <= count; ++i)
            out.push_back(i);
        return out;
    }
    CTable_WiFiSensorDB* table = db.GetTableDB();
    std::vector<int> used;
    for (int i = 0; i < real; ++i)
        used.push_back(CellValue<int>(table, i, "No."));
    // The run is ordered by number, so the last is the largest; a hand-edited list may not
    // be, and a gap must never offer a number that is taken.
    const int last = std::max(0, *std::max_element(used.begin(), used.end()));
    std::sort(used.begin(), used.end());
    for (int n = 1; n < last; ++n)
        if (!std::binary_search(used.begin(), used.end(), n)) out.push_back(n);
    for (int i = 0; i < count; ++i)
        out.push_back(last + 1 + i);
    return out;
}

int GetAddDevIndex(CWiFiSensorDatabase& db, int number) {
    const int real = RealCount(db);
    CTable_WiFiSensorDB* table = db.GetTableDB();
    for (int i = 0; i < real; ++i)
        if (CellValue<int>(table, i, "No.") >= number) return i;
    return real;
}

PendingSensors::PendingSensors() = default;
PendingSensors::~PendingSensors() = default;

int PendingSensors::Take(CWiFiSensorDatabase& db, std::vector<int> chosen) {
    const int real = RealCount(db), rows = RowCount(db);
    std::erase_if(chosen, [&](int i) { return i < real || i >= rows; });
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    const auto tables = Tables(db);
    std::vector<Rows> taken(chosen.size());
    // Highest index first, so the lower indices stay valid while rows go.
    for (std::size_t c = chosen.size(); c-- > 0;) {
        for (std::size_t t = 0; t < tables.size(); ++t)
            taken[c][t] = tables[t]->RemoveRow(chosen[c]);
    }
    for (Rows& r : taken)
        m_sensors.push_back(std::move(r));
    db.m_totalCount -= static_cast<int>(chosen.size());
    return static_cast<int>(chosen.size());
}

IPv4Bytes PendingSensors::Address(int p) const {
    if (p < 0 || p >= Count()) return {};
    return UnpackIPv4(Value<int>(m_sensors[static_cast<std::size_t>(p)][3].get(), "RemoteIP"));
}

int PendingSensors::Serial(int p) const {
    if (p < 0 || p >= Count()) return 0;
    return Value<int>(m_sensors[static_cast<std::size_t>(p)][0].get(), "Serial");
}

std::string PendingSensors::Name(int p) const {
    if (p < 0 || p >= Count()) return {};
    return Value<std::string>(m_sensors[static_cast<std::size_t>(p)][0].get(), "Name");
}

int PendingSensors::Place(CWiFiSensorDatabase& db, int p, const PlacedSensorValues& v) {
    if (p < 0 || p >= Count()) return -1;
    Rows& rows = m_sensors[static_cast<std::size_t>(p)];
    const auto tables = Tables(db);
    auto set = [&](int t, const char* column, auto value) {
        if (rows[static_cast<std::size_t>(t)]) rows[static_cast<std::size_t>(t)]->SetValue(tables[t], column, value);
    };
    set(0, "Name", TruncateUtf8(v.name, kSensorNameBytes));
    set(0, "Folder", TruncateUtf8(v.folder, kSensorNameBytes));
    set(0, "HMax", v.hMax);
    set(0, "HMin", v.hMin);
    set(0, "TMax", v.tMax);
    set(0, "TMin", v.tMin);
    set(0, "OnPic", 1);
    set(2, "ColorR", v.r);
    set(2, "ColorG", v.g);
    set(2, "ColorB", v.b);
    set(2, "Show", 1);
    set(4, "No.", v.number);
    set(1, "PosX", v.x);
    set(1, "PosY", v.y);
    const int n = GetAddDevIndex(db, v.number);
    for (std::size_t t = 0; t < tables.size(); ++t)
        if (rows[t]) tables[t]->AddRow(n, std::move(rows[t]));
    m_sensors.erase(m_sensors.begin() + p);
    ++db.m_realCount;
    ++db.m_totalCount;
    return n;
}

void PendingSensors::ReturnAll(CAppForNimbo1App& app) {
    CWiFiSensorDatabase& db = app.Database();
    const auto tables = Tables(db);
    for (Rows& rows : m_sensors) {
        const int n = app.GetNewDevIndex(Value<int>(rows[0].get(), "Serial"));
        for (std::size_t t = 0; t < tables.size(); ++t)
            if (rows[t]) tables[t]->AddRow(n, std::move(rows[t]));
        ++db.m_totalCount;
    }
    m_sensors.clear();
}

int DeleteDevice(CAppForNimbo1App& app, int i) {
    CWiFiSensorDatabase& db = app.Database();
    if (i < 0 || i >= RealCount(db)) return -1;
    // Taken while i still counts as in use, so k lies in the found run (k > i).
    const int k = app.GetNewDevIndex(CellValue<int>(db.GetDevDB(), i, "Serial"));
    for (CTable_WiFiSensorDB* t : {db.GetTableDB(), db.GetTreeDB(), db.GetNetDB(), db.GetLumoDB(), db.GetPicDB(),
                                   db.GetDevDB()}) {
        if (auto row = t->RemoveRow(i)) t->AddRow(k - 1, std::move(row));
    }
    --db.m_realCount;
    return k - 1;
}

void DeleteFoundSensor(CAppForNimbo1App& app, int index) {
    CWiFiSensorDatabase& db = app.Database();
    if (index < RealCount(db) || index >= RowCount(db)) return;
    app.NotAcceptAll();
    db.GetTableDB()->DeleteRow(index);
    db.GetTreeDB()->DeleteRow(index);
    app.Protocol().SendRCmdToOneDev(index);
    app.Protocol().CloseOneDevSocket(index); // closes only in the TCP modes
    for (CTable_WiFiSensorDB* t : {db.GetNetDB(), db.GetLumoDB(), db.GetPicDB(), db.GetDevDB()})
        t->DeleteRow(index);
    --db.m_totalCount;
    app.AcceptAll();
}

bool MoveSensorFolder(const std::filesystem::path& dataPath, const std::string& oldFolder,
                      const std::string& newFolder) {
    namespace fs = std::filesystem;
    const fs::path target = dataPath / newFolder;
    std::error_code ec;
    if (oldFolder.empty() || !fs::is_directory(dataPath / oldFolder, ec)) {
        if (CheckAndCreateFolder(target)) return true;
        AddLogInfo("Sensor folder can't be created: " + target.string());
        return false;
    }
    // One rename keeps the history whole; a copy is only the fallback.
    if (!fs::exists(target, ec)) {
        fs::rename(dataPath / oldFolder, target, ec);
        if (!ec) return true;
    }
    if (CKxFileOpt::MergeFolderName_FileOpt(dataPath, oldFolder, newFolder)) return true;
    AddLogInfo("Sensor folder not moved completely: " + (dataPath / oldFolder).string() + " -> " + target.string());
    return false;
}

} // namespace hygro
