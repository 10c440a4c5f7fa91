#include "settings/device_list.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "db/wifi_sensor_db.h"
#include "settings/global_member.h"
#include "settings/profile_file.h"
#include "util/kx_log.h"
#include "util/text.h"

namespace hygro {
namespace {

// Values are read as the profile API would into a 260-unit buffer.
constexpr std::size_t kProfileValueMax = 259;
// Names and folder names live in 100-byte buffers.
constexpr int kNameBuffer = 100;

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::u16string Section(int index) { return ToUtf16(std::to_string(index + 1)); }

class SectionReader {
  public:
    SectionReader(const ProfileFile& doc, std::u16string section) : m_doc(doc), m_section(std::move(section)) {}
    std::u16string Raw(const char16_t* key, const char16_t* def) const {
        std::u16string v = m_doc.GetString(m_section, key, def);
        if (v.size() > kProfileValueMax) v.resize(kProfileValueMax);
        return v;
    }
    int Int(const char16_t* key, const char16_t* def = u"0") const { return ProfileToInt(Raw(key, def)); }
    double Double(const char16_t* key, const char16_t* def) const { return ProfileToDouble(Raw(key, def)); }
    std::string Text(const char16_t* key, const char16_t* def) const {
        char buf[kNameBuffer];
        FunCStringToSrcChar(buf, sizeof buf, Raw(key, def));
        return buf;
    }

  private:
    const ProfileFile& m_doc;
    std::u16string m_section;
};

// Stores one value into a row and logs "Dev<i> Set <label> Success!/Failed!".
class RowWriter {
  public:
    RowWriter(CTable_WiFiSensorDB* table, int index) : m_table(table), m_index(index) {
        m_row = index < table->GetRowCount() ? table->GetRow(index) : nullptr;
    }
    template <typename T>
    void Set(const char* column, T value, const std::string& label) {
        const int ok = m_row ? m_row->SetValue(m_table, column, value) : 0;
        AddLogInfo(Format("Dev%d Set ", m_index) + label + (ok ? " Success!" : " Failed!"));
    }

  private:
    CTable_WiFiSensorDB* m_table;
    CRow_DB_WiFiSensor* m_row;
    int m_index;
};

template <typename T>
T Get(CTable_WiFiSensorDB* table, int index, const char* column) {
    T v{};
    if (index < table->GetRowCount()) table->GetRow(index)->GetValue(column, v);
    return v;
}

std::u16string Fmt16(const char* fmt, auto value) { return ToUtf16(Format(fmt, value)); }

} // namespace

RemoteAddress ParseDeviceIPandPort(std::string_view text) {
    std::size_t dots[3];
    std::size_t from = 0;
    for (auto& d : dots) {
        d = text.find('.', from);
        if (d == std::string_view::npos) return {};
        from = d + 1;
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon < dots[2]) return {};
    auto num = [&](std::size_t b, std::size_t e) { return ProfileToInt(ToUtf16(text.substr(b, e - b))); };
    const std::uint32_t a = static_cast<std::uint8_t>(num(0, dots[0]));
    const std::uint32_t b = static_cast<std::uint8_t>(num(dots[0] + 1, dots[1]));
    const std::uint32_t c = static_cast<std::uint8_t>(num(dots[1] + 1, dots[2]));
    const std::uint32_t d = static_cast<std::uint8_t>(num(dots[2] + 1, colon));
    RemoteAddress r;
    r.ip = static_cast<std::int32_t>(a | (b << 8) | (c << 16) | (d << 24));
    r.port = static_cast<std::uint16_t>(num(colon + 1, text.size()));
    return r;
}

int CDeviceList::AddValueToDB() {
    const CSensorInfo& info = *m_settings.GetBaseInfo();
    int total = std::max(info.GetTotalCount(), 0);
    int real = std::max(info.GetRealCount(), 0);
    if (total > kMaxDevices) {
        AddLogInfo(Format("Tcount %d is above %d, only %d loaded!", total, kMaxDevices, kMaxDevices));
        total = kMaxDevices;
    }
    if (real > total) {
        AddLogInfo(Format("Rcount %d is above Tcount %d, set to %d!", real, total, total));
        real = total;
    }
    if (real > kMaxInUse) {
        // The sensors beyond stay in the list as found sensors.
        AddLogInfo(Format("Rcount %d is above %d, set to %d!", real, kMaxInUse, kMaxInUse));
        real = kMaxInUse;
    }
    const ProfileFile doc = m_settings.LoadSettingsFile();
    const int dataPort = m_settings.GetBaseInfo()->GetDataPort();

    for (int i = 0; i < total; ++i) {
        const SectionReader in(doc, Section(i));
        CTable_WiFiSensorDB* dev = m_db.GetDevDB();
        const int devIndex = dev->AddOneRow(-1);
        if (devIndex < 0) {
            AddLogInfo(Format("Dev%d new row Failed!", devIndex));
            return 0;
        }
        {
            RowWriter w(dev, i);
            w.Set("ID", i, Format("ID:%d", i));
            const std::string name = in.Text(u"name", u"Sensor");
            w.Set("Name", name, "Name:" + name);
            const std::string folder = in.Text(u"FolderName", u"");
            w.Set("Folder", folder, "FolderName:" + folder);
            for (const char* key : {"LYear", "LMonth", "LDay", "LHour", "LMinute", "LSecond"}) {
                const int v = in.Int(ToUtf16(key).c_str());
                w.Set(key, v, Format("%s:%d", key, v));
            }
            static const struct {
                const char* key;
                const char16_t* def;
            } kLimits[] = {{"HMax", u"100"}, {"HMin", u"0"}, {"TMax", u"80"}, {"TMin", u"-40"}};
            for (const auto& l : kLimits) {
                const double v = in.Double(ToUtf16(l.key).c_str(), l.def);
                w.Set(l.key, v, Format("%s:%.2lf", l.key, v));
            }
            for (const char* key : {"AlarmYear", "AlarmMonth", "AlarmDay", "AlarmHour", "AlarmMinute",
                                    "AlarmSecond", "AlarmYear2", "AlarmMonth2", "AlarmDay2", "AlarmHour2",
                                    "AlarmMinute2", "AlarmSecond2", "OnPic"}) {
                const int v = in.Int(ToUtf16(key).c_str());
                w.Set(key, v, Format("%s:%d", key, v));
            }
            const int serial = in.Int(u"Serial");
            w.Set("Serial", serial, Format("Serial:%06d", serial));
        }
        {
            CTable_WiFiSensorDB* pic = m_db.GetPicDB();
            AddLogInfo(Format("Dev%d Pic index:%d!", i, pic->AddOneRow(-1)));
            RowWriter w(pic, i);
            w.Set("ID", i, Format("PicID:%d", i));
            const double x = in.Double(u"posx", u"0"), y = in.Double(u"posy", u"0");
            w.Set("PosX", x, Format("PosX:%.2lf", x));
            w.Set("PosY", y, Format("PosY:%.2lf", y));
        }
        {
            CTable_WiFiSensorDB* lumo = m_db.GetLumoDB();
            AddLogInfo(Format("Dev%d Lumo Index:%d!", i, lumo->AddOneRow(-1)));
            RowWriter w(lumo, i);
            w.Set("ID", i, Format("LumoID:%d", i));
            const int r = in.Int(u"colorR", u"255"), g = in.Int(u"colorG", u"255"), b = in.Int(u"colorB", u"255");
            w.Set("ColorR", r, Format("ColorR:%d", r));
            w.Set("ColorG", g, Format("colorG:%d", g));
            w.Set("ColorB", b, Format("colorB:%d", b));
            const int show = in.Int(u"show");
            w.Set("Show", show, Format("Show:%d", show));
        }
        {
            CTable_WiFiSensorDB* net = m_db.GetNetDB();
            AddLogInfo(Format("Dev%d Net Index:%d!", i, net->AddOneRow(-1)));
            RowWriter w(net, i);
            w.Set("ID", i, Format("NetID:%d", i));
            const RemoteAddress addr = ParseDeviceIPandPort(ToUtf8(in.Raw(u"DeviceIPandPort", u"0.0.0.0:0")));
            const auto ip = static_cast<std::uint32_t>(addr.ip);
            w.Set("RemoteIP", addr.ip,
                  Format("RemoteIP:%d.", ip & 0xFF) + Format("%d.", (ip >> 8) & 0xFF) +
                      Format("%d.", (ip >> 16) & 0xFF) + Format("%d", ip >> 24));
            w.Set("RemotePort", addr.port, Format("RemotePort:%d", addr.port));
            w.Set("LocalPort", dataPort, Format("LocalPort:%d", dataPort));
            w.Set("On", 0, "On:0");
            w.Set("Connect", 0, "Connect:0");
            w.Set("Socket", -1, "Socket:INVALID_SOCKET");
            w.Set("SendRev", 0, "SendRev:0");
        }
        {
            CTable_WiFiSensorDB* table = m_db.GetTableDB();
            AddLogInfo(Format("Dev%d Table Index:%d!", i, table->AddOneRow(-1)));
            RowWriter w(table, i);
            w.Set("ID", i, Format("TableID:%d", i));
            const int no = in.Int(u"No", u"-1");
            w.Set("No.", no, Format("No.:%d", no));
            w.Set("Model", std::string("AM232"), "Model:AM232");
            w.Set("Time", std::string(), "Time:NULL");
            w.Set("Humidity", 101.0, "Humidity:101.0");
            w.Set("Temperature", 101.0, "Temperature:101.0");
            const int alarm = in.Int(u"Alarm");
            w.Set("Alarm", alarm, Format("Alarm:%d", alarm));
        }
        {
            CTable_WiFiSensorDB* tree = m_db.GetTreeDB();
            AddLogInfo(Format("Dev%d Tree Index:%d!", i, tree->AddOneRow(-1)));
            RowWriter w(tree, i);
            w.Set("ID", i, Format("TreeID:%d", i));
            w.Set("HTREEITEM", 0, "HTREEITEM:0");
        }
    }
    m_db.m_totalCount = total;
    m_db.m_realCount = real;
    return 0;
}

int CDeviceList::SaveAllDev(const FolderCheck& folderCheck) {
    const int total = m_db.m_totalCount;
    const int real = m_db.m_realCount;
    CTable_WiFiSensorDB* dev = m_db.GetDevDB();
    // Ask for missing folder names before the file is opened for writing: the question is
    // a dialog, and the write must not wait on the operator.
    if (folderCheck) {
        for (int i = 0; i < std::min(real, total); ++i) {
            if (Get<std::string>(dev, i, "Folder").empty()) folderCheck(i);
        }
    }
    return m_settings.EditSettingsFile([&](ProfileFile& f) {
        CTable_WiFiSensorDB* pic = m_db.GetPicDB();
        CTable_WiFiSensorDB* lumo = m_db.GetLumoDB();
        CTable_WiFiSensorDB* net = m_db.GetNetDB();
        CTable_WiFiSensorDB* table = m_db.GetTableDB();
        for (int i = 0; i < total; ++i) {
            const std::u16string s = Section(i);
            auto put = [&](const char16_t* key, std::u16string value) { f.SetString(s, key, value); };
            auto putInt = [&](const char16_t* key, CTable_WiFiSensorDB* t, const char* column) {
                put(key, Fmt16("%d", Get<int>(t, i, column)));
            };
            put(u"name", ToUtf16(Get<std::string>(dev, i, "Name")));
            put(u"FolderName", ToUtf16(Get<std::string>(dev, i, "Folder")));
            for (const char* c : {"LYear", "LMonth", "LDay", "LHour", "LMinute", "LSecond"})
                putInt(ToUtf16(c).c_str(), dev, c);
            for (const char* c : {"HMax", "HMin", "TMax", "TMin"})
                put(ToUtf16(c).c_str(), Fmt16("%.1lf", Get<double>(dev, i, c)));
            putInt(u"Alarm", table, "Alarm");
            for (const char* c : {"AlarmYear", "AlarmMonth", "AlarmDay", "AlarmHour", "AlarmMinute", "AlarmSecond",
                                  "AlarmYear2", "AlarmMonth2", "AlarmDay2", "AlarmHour2", "AlarmMinute2",
                                  "AlarmSecond2", "OnPic"})
                putInt(ToUtf16(c).c_str(), dev, c);
            put(u"Serial", Fmt16("%06d", Get<int>(dev, i, "Serial")));
            put(u"posx", Fmt16("%.5lf", Get<double>(pic, i, "PosX")));
            put(u"posy", Fmt16("%.5lf", Get<double>(pic, i, "PosY")));
            putInt(u"colorR", lumo, "ColorR");
            putInt(u"colorG", lumo, "ColorG");
            putInt(u"colorB", lumo, "ColorB");
            putInt(u"show", lumo, "Show");
            const auto ip = static_cast<std::uint32_t>(Get<int>(net, i, "RemoteIP"));
            char addr[40];
            std::snprintf(addr, sizeof addr, "%u.%u.%u.%u:%d", ip & 0xFF, (ip >> 8) & 0xFF, (ip >> 16) & 0xFF,
                          ip >> 24, Get<int>(net, i, "RemotePort"));
            put(u"DeviceIPandPort", ToUtf16(addr));
            putInt(u"No", table, "No.");
        }
        f.SetString(u"LSensor", u"Rcount", Fmt16("%d", real));
        f.SetString(u"LSensor", u"Tcount", Fmt16("%d", total > 0 ? total : 0));
    });
}

int CDeviceList::GetNewDevIndex(int serial) const {
    CTable_WiFiSensorDB* dev = const_cast<CWiFiSensorDatabase&>(m_db).GetDevDB();
    const int total = std::min(m_db.m_totalCount, dev->GetRowCount());
    for (int i = std::max(m_db.m_realCount, 0); i < total; ++i) {
        if (Get<int>(dev, i, "Serial") > serial) return i;
    }
    return m_db.m_totalCount;
}

int CDeviceList::AddDev(std::uint32_t packedIp, int serial, const NameTaken& nameTaken) {
    const int n = GetNewDevIndex(serial);
    CTable_WiFiSensorDB* dev = m_db.GetDevDB();
    const int index = dev->AddOneRow(n);
    static const struct {
        CTable_WiFiSensorDB* (CWiFiSensorDatabase::*table)();
        const char* error;
    } kOthers[] = {{&CWiFiSensorDatabase::GetPicDB, "Mem Err1-1"},
                   {&CWiFiSensorDatabase::GetLumoDB, "Mem Err1-2"},
                   {&CWiFiSensorDatabase::GetNetDB, "Mem Err1-3"},
                   {&CWiFiSensorDatabase::GetTableDB, "Mem Err1-4"},
                   {&CWiFiSensorDatabase::GetTreeDB, "Mem Err1-5"}};
    for (const auto& other : kOthers) {
        if ((m_db.*other.table)()->AddOneRow(n) != index) AddLogInfo(other.error);
    }
    if (index < 0) return n;
    CRow_DB_WiFiSensor* row = dev->GetRow(index);
    row->SetValue(dev, "Serial", serial);
    CTable_WiFiSensorDB* net = m_db.GetNetDB();
    if (index < net->GetRowCount()) net->GetRow(index)->SetValue(net, "RemoteIP", static_cast<int>(packedIp));
    std::string name;
    do {
        name = Format("!XXX%d", ++m_tempNameCounter);
    } while (nameTaken && nameTaken(name));
    row->SetValue(dev, "Name", name);
    return n;
}

} // namespace hygro
