#include "settings/device_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/wifi_sensor_db.h"
#include "settings_fixture.h"
#include "util/kx_log.h"

namespace hygro {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using test::ReadFile;

class DeviceList : public test::SettingsFixture {
  protected:
    DeviceList() {
        g_Log.SetTap([this](const std::string& line) { m_log.push_back(line); });
    }
    ~DeviceList() override { g_Log.SetTap({}); }

    // Starts a store and database from doc (sealed), loads the list.
    void Load(const ProfileFile& doc) {
        WriteSealed(doc);
        m_store = Start();
        m_db = std::make_unique<CWiFiSensorDatabase>();
        m_db->InitAllDB();
        m_list = std::make_unique<CDeviceList>(*m_db, *m_store);
        m_log.clear();
        m_list->AddValueToDB();
    }
    template <typename T>
    T Value(CTable_WiFiSensorDB* table, int row, const char* column) {
        T v{};
        EXPECT_EQ(table->GetRow(row)->GetValue(column, v), 1) << column;
        return v;
    }
    std::u16string Saved(const char16_t* section, const char16_t* key) {
        return ProfileFile::Parse(ReadFile(SettingsPath()))->GetString(section, key, u"<missing>");
    }
    void AddFound(int serial) {
        const int n = m_list->AddDev(0x1400A8C0, serial);
        (void)n;
        m_db->m_totalCount = m_db->GetDevDB()->GetRowCount();
    }

    std::vector<std::string> m_log;
    std::unique_ptr<CGlobalMember> m_store;
    std::unique_ptr<CWiFiSensorDatabase> m_db;
    std::unique_ptr<CDeviceList> m_list;
};

ProfileFile Counts(int real, int total) {
    ProfileFile doc;
    doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(real)));
    doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(total)));
    return doc;
}

TEST_F(DeviceList, MissingSectionsGiveDefaults) {
    ProfileFile doc = Counts(0, 2);
    doc.SetString(u"DSNet", u"LocalPortForData", u"5000");
    Load(doc);
    ASSERT_EQ(m_db->m_totalCount, 2);
    EXPECT_EQ(m_db->m_realCount, 0);
    for (int i = 0; i < 2; ++i) {
        auto* dev = m_db->GetDevDB();
        EXPECT_EQ(Value<std::string>(dev, i, "Name"), "Sensor");
        EXPECT_EQ(Value<double>(dev, i, "HMax"), 100.0);
        EXPECT_EQ(Value<double>(dev, i, "HMin"), 0.0);
        EXPECT_EQ(Value<double>(dev, i, "TMax"), 80.0);
        EXPECT_EQ(Value<double>(dev, i, "TMin"), -40.0);
        EXPECT_EQ(Value<int>(dev, i, "ID"), i);
        EXPECT_EQ(Value<int>(m_db->GetLumoDB(), i, "ColorG"), 255);
        EXPECT_EQ(Value<int>(m_db->GetLumoDB(), i, "Show"), 0);
        EXPECT_EQ(Value<int>(m_db->GetTableDB(), i, "No."), -1);
        EXPECT_EQ(Value<double>(m_db->GetTableDB(), i, "Humidity"), 101.0);
        EXPECT_EQ(Value<std::string>(m_db->GetTableDB(), i, "Model"), "AM232");
        EXPECT_EQ(Value<int>(m_db->GetNetDB(), i, "RemoteIP"), 0);
        EXPECT_EQ(Value<int>(m_db->GetNetDB(), i, "Socket"), -1);
        EXPECT_EQ(Value<int>(m_db->GetNetDB(), i, "LocalPort"), 5000);
    }
    ASSERT_GE(m_log.size(), 2u);
    EXPECT_EQ(m_log[0], "Dev0 Set ID:0 Success!");
    EXPECT_EQ(m_log[1], "Dev0 Set Name:Sensor Success!");
    EXPECT_THAT(m_log, Contains("Dev0 Set TMin:-40.00 Success!"));
    EXPECT_THAT(m_log, Contains("Dev1 Pic index:1!"));
    EXPECT_THAT(m_log, Contains("Dev1 Set colorG:255 Success!"));
    EXPECT_THAT(m_log, Contains("Dev0 Set RemoteIP:0.0.0.0 Success!"));
    EXPECT_THAT(m_log, Contains("Dev0 Set Socket:INVALID_SOCKET Success!"));
    EXPECT_THAT(m_log, Contains("Dev0 Set Time:NULL Success!"));
    EXPECT_THAT(m_log, Contains("Dev1 Set HTREEITEM:0 Success!"));
    // 27 Dev values + 5 tables' index lines + 3 + 5 + 8 + 7 + 2 values, per sensor.
    EXPECT_EQ(m_log.size(), 2u * (27 + 5 + 3 + 5 + 8 + 7 + 2));
}

TEST_F(DeviceList, AddressEntries) {
    struct Case {
        const char* text;
        std::uint8_t octets[4];
        int port;
    } cases[] = {
        {"192.168.1.20:5000", {192, 168, 1, 20}, 5000},
        {"abc", {0, 0, 0, 0}, 0},
        {"300.1.1.1:70000", {44, 1, 1, 1}, 4464},
        {"1.2.3:80", {0, 0, 0, 0}, 0},
        {"1.2.3.4", {0, 0, 0, 0}, 0},
        {"1:2.3.4.5", {0, 0, 0, 0}, 0},
        {"10.0.0.1:1:2", {10, 0, 0, 1}, 2},
        {" 10 . 0.x.-1:  65535", {10, 0, 0, 255}, 65535},
        {"", {0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const RemoteAddress a = ParseDeviceIPandPort(c.text);
        const auto ip = static_cast<std::uint32_t>(a.ip);
        EXPECT_EQ(ip & 0xFF, c.octets[0]);
        EXPECT_EQ((ip >> 8) & 0xFF, c.octets[1]);
        EXPECT_EQ((ip >> 16) & 0xFF, c.octets[2]);
        EXPECT_EQ(ip >> 24, c.octets[3]);
        EXPECT_EQ(a.port, c.port);
    }
}

TEST_F(DeviceList, SaveFormatsAndRoundTrip) {
    ProfileFile doc = Counts(1, 2);
    doc.SetString(u"1", u"name", u"Kühlraum ℃");
    doc.SetString(u"1", u"FolderName", u"cold");
    doc.SetString(u"1", u"DeviceIPandPort", u"192.168.1.20:5000");
    doc.SetString(u"1", u"LYear", u"2019");
    doc.SetString(u"1", u"AlarmSecond2", u"59");
    doc.SetString(u"1", u"Alarm", u"2");
    Load(doc);
    auto* dev = m_db->GetDevDB();
    dev->GetRow(0)->SetValue(dev, "Serial", 42);
    dev->GetRow(0)->SetValue(dev, "HMax", 75.26);
    m_db->GetPicDB()->GetRow(0)->SetValue(m_db->GetPicDB(), "PosX", 0.123456);
    m_db->GetLumoDB()->GetRow(1)->SetValue(m_db->GetLumoDB(), "ColorB", 17);
    ASSERT_EQ(m_list->SaveAllDev(), 1);

    EXPECT_EQ(Saved(u"1", u"Serial"), u"000042");
    EXPECT_EQ(Saved(u"1", u"HMax"), u"75.3");
    EXPECT_EQ(Saved(u"1", u"TMin"), u"-40.0");
    EXPECT_EQ(Saved(u"1", u"posx"), u"0.12346");
    EXPECT_EQ(Saved(u"1", u"name"), u"Kühlraum ℃");
    EXPECT_EQ(Saved(u"1", u"DeviceIPandPort"), u"192.168.1.20:5000");
    EXPECT_EQ(Saved(u"2", u"DeviceIPandPort"), u"0.0.0.0:0");
    EXPECT_EQ(Saved(u"2", u"No"), u"-1");
    EXPECT_EQ(Saved(u"LSensor", u"Rcount"), u"1");
    EXPECT_EQ(Saved(u"LSensor", u"Tcount"), u"2");

    // A section written afresh lists its keys in a fixed order.
    std::vector<std::string> keys;
    {
        std::u16string text;
        const std::string bytes = ReadFile(SettingsPath());
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        const std::string utf8 = ToUtf8(text);
        const std::size_t from = utf8.find("[2]\r\n"), to = utf8.find("\r\n[", from + 1);
        std::size_t pos = from + 5;
        while (pos < to) {
            const std::size_t eq = utf8.find('=', pos), end = utf8.find("\r\n", pos);
            keys.push_back(utf8.substr(pos, eq - pos));
            pos = end + 2;
        }
    }
    EXPECT_THAT(keys, ElementsAre("name", "FolderName", "LYear", "LMonth", "LDay", "LHour", "LMinute", "LSecond",
                                  "HMax", "HMin", "TMax", "TMin", "Alarm", "AlarmYear", "AlarmMonth", "AlarmDay",
                                  "AlarmHour", "AlarmMinute", "AlarmSecond", "AlarmYear2", "AlarmMonth2",
                                  "AlarmDay2", "AlarmHour2", "AlarmMinute2", "AlarmSecond2", "OnPic", "Serial",
                                  "posx", "posy", "colorR", "colorG", "colorB", "show", "DeviceIPandPort", "No"));
    const std::string utf8 = ToUtf8(ProfileFile::Parse(ReadFile(SettingsPath()))->GetString(u"1", u"name", u""));
    EXPECT_EQ(utf8, "Kühlraum ℃");

    // Loading what was saved gives the same tables.
    Start(); // file must still pass the check
    EXPECT_TRUE(m_messages.empty());
    CWiFiSensorDatabase again;
    again.InitAllDB();
    CGlobalMember store2;
    store2.InitSettingsFile(m_dir.path());
    store2.ReadSettingsFile();
    CDeviceList list2(again, store2);
    list2.AddValueToDB();
    ASSERT_EQ(again.m_totalCount, 2);
    EXPECT_EQ(Value<int>(again.GetDevDB(), 0, "Serial"), 42);
    EXPECT_DOUBLE_EQ(Value<double>(again.GetDevDB(), 0, "HMax"), 75.3);
    EXPECT_EQ(Value<int>(again.GetDevDB(), 0, "LYear"), 2019);
    EXPECT_EQ(Value<int>(again.GetDevDB(), 0, "AlarmSecond2"), 59);
    EXPECT_EQ(Value<int>(again.GetTableDB(), 0, "Alarm"), 2);
    EXPECT_EQ(Value<std::string>(again.GetDevDB(), 0, "Folder"), "cold");
    EXPECT_EQ(Value<int>(again.GetLumoDB(), 1, "ColorB"), 17);
    EXPECT_EQ(Value<int>(again.GetNetDB(), 0, "RemotePort"), 5000);
    EXPECT_EQ(static_cast<std::uint32_t>(Value<int>(again.GetNetDB(), 0, "RemoteIP")) & 0xFF, 192u);
}

TEST_F(DeviceList, LongNamesAreCutAtACharacterBoundary) {
    ProfileFile doc = Counts(0, 2);
    doc.SetString(u"1", u"name", std::u16string(150, u'x'));
    doc.SetString(u"2", u"name", std::u16string(60, u'ü')); // 2 bytes each
    Load(doc);
    EXPECT_EQ(Value<std::string>(m_db->GetDevDB(), 0, "Name").size(), 99u);
    EXPECT_EQ(Value<std::string>(m_db->GetDevDB(), 1, "Name").size(), 98u);
}

TEST_F(DeviceList, HandEditedCountsAreClamped) {
    Load(Counts(5, 2));
    EXPECT_EQ(m_db->m_totalCount, 2);
    EXPECT_EQ(m_db->m_realCount, 2);
    EXPECT_THAT(m_log, Contains("Rcount 5 is above Tcount 2, set to 2!"));

    Load(Counts(-3, -1));
    EXPECT_EQ(m_db->m_totalCount, 0);
    EXPECT_EQ(m_db->m_realCount, 0);

    Load(Counts(0, 2000000000));
    EXPECT_EQ(m_db->m_totalCount, CDeviceList::kMaxDevices);

    // More in-use sensors than readings can number: the rest stay as found sensors.
    Load(Counts(150, 150));
    EXPECT_EQ(m_db->m_totalCount, 150);
    EXPECT_EQ(m_db->m_realCount, 99);
    EXPECT_THAT(m_log, Contains("Rcount 150 is above 99, set to 99!"));
}

TEST_F(DeviceList, FoundSensorsInsertInSerialOrderWithFreeTemporaryNames) {
    Load(Counts(1, 1));
    for (int serial : {9, 3, 5}) AddFound(serial);
    EXPECT_EQ(m_list->GetNewDevIndex(5), 3); // behind the equal serial, before 9
    EXPECT_EQ(m_list->GetNewDevIndex(1), 1);
    EXPECT_EQ(m_list->GetNewDevIndex(10), 4);

    std::vector<std::string> taken{"!XXX4", "!XXX5"};
    const int n = m_list->AddDev(0x0100007F, 5, [&](const std::string& name) {
        return std::find(taken.begin(), taken.end(), name) != taken.end();
    });
    EXPECT_EQ(n, 3);
    EXPECT_EQ(m_db->m_totalCount, 4); // counts are the caller's business
    for (auto* t : {m_db->GetDevDB(), m_db->GetPicDB(), m_db->GetLumoDB(), m_db->GetNetDB(), m_db->GetTableDB(),
                    m_db->GetTreeDB()})
        EXPECT_EQ(t->GetRowCount(), 5);
    std::vector<int> serials;
    for (int i = 1; i < 5; ++i) serials.push_back(Value<int>(m_db->GetDevDB(), i, "Serial"));
    EXPECT_THAT(serials, ElementsAre(3, 5, 5, 9));
    EXPECT_EQ(Value<std::string>(m_db->GetDevDB(), 3, "Name"), "!XXX6");
    EXPECT_EQ(Value<int>(m_db->GetNetDB(), 3, "RemoteIP"), 0x0100007F);
    EXPECT_EQ(Value<std::string>(m_db->GetDevDB(), 1, "Name"), "!XXX2"); // serial 3 was the second found
}

TEST_F(DeviceList, SectionsBeyondTheCountAreKeptButIgnored) {
    ProfileFile doc = Counts(0, 3);
    doc.SetString(u"3", u"name", u"Old last");
    Load(doc);
    for (auto* t : {m_db->GetDevDB(), m_db->GetPicDB(), m_db->GetLumoDB(), m_db->GetNetDB(), m_db->GetTableDB(),
                    m_db->GetTreeDB()})
        t->DeleteRow(2);
    m_db->m_totalCount = 2;
    ASSERT_EQ(m_list->SaveAllDev(), 1);
    EXPECT_EQ(Saved(u"3", u"name"), u"Old last");
    EXPECT_EQ(Saved(u"LSensor", u"Tcount"), u"2");
    m_store = Start();
    EXPECT_TRUE(m_messages.empty());
    CWiFiSensorDatabase again;
    again.InitAllDB();
    CDeviceList(again, *m_store).AddValueToDB();
    EXPECT_EQ(again.GetDevDB()->GetRowCount(), 2);
}

TEST_F(DeviceList, InUseSensorsWithoutFolderAreAskedForOneBeforeSaving) {
    ProfileFile doc = Counts(2, 3);
    doc.SetString(u"1", u"FolderName", u"has");
    Load(doc);
    std::vector<int> asked;
    ASSERT_EQ(m_list->SaveAllDev([&](int i) {
        asked.push_back(i);
        m_db->GetDevDB()->GetRow(i)->SetValue(m_db->GetDevDB(), "Folder", std::string("named"));
    }),
              1);
    EXPECT_THAT(asked, ElementsAre(1)); // not the named one, not the found one
    EXPECT_EQ(Saved(u"2", u"FolderName"), u"named");
    EXPECT_EQ(Saved(u"3", u"FolderName"), u"");
}

} // namespace
} // namespace hygro
