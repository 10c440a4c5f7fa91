// Searching the private network for sensors, adding the ones that answer from a new
// address, the poll interval check and the change of transport, against hygrolog-sim or
// hand-made sensor sockets in the sensors' namespace of run_in_netns.sh.
#include "app/discovery.h"

#include <net/if.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "app/app_core.h"
#include "net/net_test_support.h"
#include "settings/profile_file.h"
#include "support/lock_holder.h"
#include "support/simulator.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/message_box.h"
#include "util/text.h"

namespace hygro {
namespace {

using namespace test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;

constexpr std::uint16_t kCmdPort = 50120;
constexpr std::uint16_t kDataPort = 50220;
constexpr std::uint16_t kSensorPort = CSensorProtocol::kSensorCommandPort;
constexpr std::chrono::milliseconds kFastStep{250};
const std::vector<std::string> kCountdown = {"5", "4", "3", "2", "1", "0", "Search"};

struct Sensor {
    const char* name;
    const char* ip;
    int serial;
};

std::string Reply(int serial) { return "@WiFi Sensor/T VER1.00," + SerialText(serial) + "\r\n"; }

// What a search reported, in order, with a bounded wait for its end.
class Recorder {
  public:
    struct Row {
        int index;
        std::string ip, serial, connect;
        bool operator==(const Row&) const = default;
    };

    CDiscoverySearch::Callbacks Callbacks() {
        CDiscoverySearch::Callbacks cb;
        cb.caption = [this](const std::string& c) {
            std::lock_guard g(m_lock);
            m_captions.push_back(c);
            m_changed.notify_all();
        };
        cb.report = Report();
        cb.ended = [this] {
            std::lock_guard g(m_lock);
            ++m_ended;
            m_changed.notify_all();
        };
        return cb;
    }
    SearchReport Report() {
        SearchReport r;
        r.rowAdded = [this](int index, const std::string& ip, const std::string& serial, const std::string& connect) {
            std::lock_guard g(m_lock);
            m_rows.push_back({index, ip, serial, connect});
            m_events.push_back("add " + std::to_string(index));
        };
        r.serialRefreshed = [this](int index, int serial) {
            std::lock_guard g(m_lock);
            m_refreshed.emplace_back(index, serial);
            m_events.push_back("serial " + std::to_string(index));
        };
        return r;
    }
    bool WaitEnded(std::chrono::milliseconds limit = 10s) {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, limit, [&] { return m_ended > 0; });
    }
    bool WaitCaption(const std::string& c, std::chrono::milliseconds limit = 3s) {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, limit, [&] { return std::count(m_captions.begin(), m_captions.end(), c) > 0; });
    }
    std::vector<std::string> Captions() {
        std::lock_guard g(m_lock);
        return m_captions;
    }
    std::vector<Row> Rows() {
        std::lock_guard g(m_lock);
        return m_rows;
    }
    std::vector<std::pair<int, int>> Refreshed() {
        std::lock_guard g(m_lock);
        return m_refreshed;
    }
    std::vector<std::string> Events() {
        std::lock_guard g(m_lock);
        return m_events;
    }
    int Ended() {
        std::lock_guard g(m_lock);
        return m_ended;
    }
    // The list a window would show: `start` with every reported row inserted in turn.
    std::vector<std::string> ListAfter(std::vector<std::string> start) {
        for (const Row& r : Rows()) {
            EXPECT_LE(r.index, static_cast<int>(start.size()));
            start.insert(start.begin() + std::min<std::ptrdiff_t>(r.index, static_cast<std::ptrdiff_t>(start.size())),
                         r.ip);
        }
        return start;
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_captions;
    std::vector<Row> m_rows;
    std::vector<std::pair<int, int>> m_refreshed;
    std::vector<std::string> m_events;
    int m_ended = 0;
};

// A station in a fresh home folder whose settings name the ports, the transport and the
// sensors; the simulator, when a test starts one, in the sensors' namespace.
class Discovery : public NetTest {
  protected:
    Discovery() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            std::lock_guard g(m_messageLock);
            m_messages.push_back(ToUtf8(text));
            return MsgAnswer::Ok;
        });
    }
    ~Discovery() override {
        m_app.reset();
        m_sim.reset();
        SetMessageHandler(m_previous);
    }

    void WriteSettings(const char* mode, const std::vector<Sensor>& sensors, int real, std::uint16_t dataPort) {
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"DSNet", u"LocalPortForData", ToUtf16(std::to_string(dataPort)));
        doc.SetString(u"DSNet", u"LocalPortForCmd", ToUtf16(std::to_string(kCmdPort)));
        doc.SetString(u"DSNet", u"UDPorTCP", ToUtf16(mode));
        doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(real)));
        doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(sensors.size())));
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            const std::u16string section = ToUtf16(std::to_string(i + 1));
            doc.SetString(section, u"name", ToUtf16(sensors[i].name));
            doc.SetString(section, u"FolderName", ToUtf16(sensors[i].name));
            doc.SetString(section, u"DeviceIPandPort", ToUtf16(std::string(sensors[i].ip) + ":1"));
            doc.SetString(section, u"Serial", ToUtf16(SerialText(sensors[i].serial)));
        }
        WriteSealedSettings(m_dir.path(), doc);
    }

    void Start(const char* mode, const std::vector<Sensor>& sensors, int real, std::uint16_t dataPort = kDataPort,
               AdapterSource adapters = SystemAdapters) {
        WriteSettings(mode, sensors, real, dataPort);
        m_app = std::make_unique<CAppForNimbo1App>(std::move(adapters));
        ASSERT_EQ(m_app->InitGlobalValue(m_dir.path()), 1);
        m_app->StartUp();
        ASSERT_TRUE(Messages().empty()) << Messages().front();
        ASSERT_EQ(m_app->Database().m_totalCount, static_cast<int>(sensors.size()));
    }

    // Before the station when the sensors must hear its start-up.
    void StartSim(const std::vector<std::string>& sensors, std::vector<std::string> extra = {}) {
        ASSERT_TRUE(std::getenv("HYGROLOG_SIM")) << "HYGROLOG_SIM names no simulator";
        std::vector<std::string> args;
        for (const std::string& s : sensors) args.insert(args.end(), {"--sensor", s});
        args.insert(args.end(), {"--duration", "120"});
        args.insert(args.end(), extra.begin(), extra.end());
        m_sim = std::make_unique<Simulator>(m_dir.path() / "sim.log", args);
        ASSERT_TRUE(m_sim->Started());
        ASSERT_TRUE(m_sim->WaitFor("ready " + std::to_string(sensors.size()) + " sensors")) << m_sim->Output();
    }

    std::vector<std::string> Messages() {
        std::lock_guard g(m_messageLock);
        return m_messages;
    }

    template <typename T = int> T Cell(CTable_WiFiSensorDB* (CWiFiSensorDatabase::*table)(), int row, const char* column) {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        EXPECT_TRUE(guard.owns());
        return CellValue<T>((m_app->Database().*table)(), row, column, T{});
    }
    int Net(int row, const char* column) { return Cell(&CWiFiSensorDatabase::GetNetDB, row, column); }
    int Dev(int row, const char* column) { return Cell(&CWiFiSensorDatabase::GetDevDB, row, column); }
    std::string Name(int row) { return Cell<std::string>(&CWiFiSensorDatabase::GetDevDB, row, "Name"); }
    int Total() {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        return m_app->Database().m_totalCount;
    }
    std::vector<std::string> Addresses() {
        std::vector<std::string> out;
        for (int i = 0; i < Total(); ++i) out.push_back(IPv4Text(UnpackIPv4(Net(i, "RemoteIP"))));
        return out;
    }
    SocketExtPtr Endpoint(const std::string& name) { return m_app->Net().GetSocketExt(name); }
    std::uint16_t DataPort() { return m_app->Settings().GetBaseInfo()->GetDataPort(); }
    std::string Station(std::uint16_t port) { return "198.18.0.1:" + std::to_string(port); }

    void RunSearch(Recorder& rec, std::chrono::milliseconds step = kFastStep) {
        CDiscoverySearch search(*m_app, rec.Callbacks(), step);
        ASSERT_TRUE(search.Start());
        ASSERT_TRUE(rec.WaitEnded());
    }

    // A reading from ip arrived on the UDP data socket (answer to an "S" sent now).
    bool UdpReadingFrom(const std::string& ip) {
        const SocketExtPtr data = Endpoint("UdpServer" + std::to_string(DataPort()));
        if (!data) return false;
        const IPv4Bytes addr = Ip(ip.c_str());
        const int index = [&] {
            CDatabaseLock::Guard guard(m_app->DatabaseLock());
            return m_app->Protocol().GetIndexFromIP(addr);
        }();
        data->SendUdp(&addr, DataPort(), "S", 1, index);
        return WaitUntil([&] {
            for (const auto& r : Queue(*data))
                if (r.ip == addr && r.port == DataPort() && !r.blocks.empty() && r.blocks.back().starts_with("+"))
                    return true;
            return false;
        });
    }
    // A reading arrived on the TCP connection endpoint `name`.
    bool TcpReadingOn(const std::string& name, int index) {
        SocketExtPtr conn;
        if (!WaitUntil([&] {
                conn = Endpoint(name);
                return conn && !conn->IsThreadEnded() && conn->GetSocket() >= 0;
            }, 5s))
            return false;
        conn->ClearTcpReceiveBuffer();
        conn->SendTcp("S", 1, index);
        return WaitUntil([&] { return Received(*conn).starts_with("+"); });
    }

    TempDir m_dir;
    std::mutex m_messageLock;
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<CAppForNimbo1App> m_app;
};

// ---- searching against the simulator ----------------------------------------------------

TEST_F(Discovery, SearchAddsNewSensorsInSerialOrderAndConnectsThem) {
    // The in-use sensor's stored serial is stale; the found ones answer out of serial order.
    StartSim({"198.18.0.2,1001", "198.18.0.3,3003", "198.18.0.4,3001", "198.18.0.5,3002"});
    Start("UDP", {{"Lab", "198.18.0.2", 999}}, 1, /*dataPort=*/0);
    EXPECT_EQ(Endpoint("UdpServer0"), nullptr);

    Recorder rec;
    RunSearch(rec);
    EXPECT_EQ(rec.Captions(), kCountdown);
    EXPECT_EQ(rec.Ended(), 1);

    // The list follows the tables: every insertion at its reported index reproduces them.
    EXPECT_THAT(rec.ListAfter({"198.18.0.2"}), ElementsAre("198.18.0.2", "198.18.0.4", "198.18.0.5", "198.18.0.3"));
    EXPECT_EQ(Addresses(), rec.ListAfter({"198.18.0.2"}));
    std::map<std::string, Recorder::Row> byIp;
    for (const auto& r : rec.Rows()) byIp[r.ip] = r;
    ASSERT_EQ(byIp.size(), 3u);
    EXPECT_EQ(byIp["198.18.0.3"].serial, "003003");
    EXPECT_EQ(byIp["198.18.0.4"].serial, "003001");
    EXPECT_EQ(byIp["198.18.0.3"].connect, "Connect");
    EXPECT_EQ(Dev(0, "Serial"), 1001);
    EXPECT_THAT(rec.Refreshed(), ::testing::Contains(std::pair{0, 1001}));
    EXPECT_EQ((std::vector{Dev(1, "Serial"), Dev(2, "Serial"), Dev(3, "Serial")}), (std::vector{3001, 3002, 3003}));
    EXPECT_EQ(m_app->Database().m_realCount, 1);
    EXPECT_EQ(Total(), 4);
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(Name(i).starts_with("!")) << Name(i);

    // A data port was chosen, its socket made and handed to every row.
    const std::uint16_t port = DataPort();
    ASSERT_NE(port, 0);
    const SocketExtPtr data = Endpoint("UdpServer" + std::to_string(port));
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Net(i, "Socket"), data->GetSocket());
        EXPECT_EQ(Net(i, "Connect"), 1);
        EXPECT_EQ(Net(i, "RemotePort"), port);
    }
    // Two broadcasts; every sensor, the in-use one too, told where to send; readings flow.
    for (const char* ip : {"198.18.0.2", "198.18.0.3", "198.18.0.4", "198.18.0.5"}) {
        SCOPED_TRACE(ip);
        EXPECT_EQ(m_sim->Count(std::string(ip) + " <- SEARCH " + Station(kCmdPort)), 2);
        EXPECT_TRUE(m_sim->WaitFor(std::string(ip) + " udp data port " + std::to_string(port))) << m_sim->Output();
        EXPECT_TRUE(UdpReadingFrom(ip)) << m_sim->Output();
    }
    EXPECT_EQ(m_log.Count("Thread Find Search Start!"), 1);
    EXPECT_EQ(m_log.Count("Thread Find Search End!"), 1);
}

TEST_F(Discovery, SensorsFoundInTcpModeConnectToTheListener) {
    StartSim({"198.18.0.3,2002", "198.18.0.4,2001"});
    Start("TCP Server", {}, 0);
    EXPECT_EQ(Endpoint("TcpServer50220"), nullptr); // no sensors at start: no listener yet

    Recorder rec;
    RunSearch(rec);
    ASSERT_EQ(rec.Rows().size(), 2u);
    for (const auto& r : rec.Rows()) EXPECT_EQ(r.connect, "") << "a TCP sensor is connected once it connects";
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"198.18.0.4", "198.18.0.3"}));
    ASSERT_NE(Endpoint("TcpServer50220"), nullptr);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(WaitUntil([&] { return Net(i, "Connect") == 1 && Net(i, "Socket") >= 0; }, 5s))
            << m_sim->Output();
        EXPECT_TRUE(TcpReadingOn(Name(i), i)) << m_sim->Output();
    }
}

TEST_F(Discovery, SilentNetworkEndsAfterFiveSecondsWithoutAQuestion) {
    Start("UDP", {{"Lab", "198.18.0.2", 1001}}, 1);
    Fd ear = SensorUdp(IPv4Bytes{0, 0, 0, 0}, kSensorPort);
    Recorder rec;
    CDiscoverySearch search(*m_app, rec.Callbacks());
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_TRUE(search.Start());
    ASSERT_TRUE(rec.WaitEnded());
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_GE(took, 4900ms);
    EXPECT_LT(took, 6500ms);
    EXPECT_EQ(rec.Captions(), kCountdown);
    EXPECT_TRUE(rec.Rows().empty());

    int searches = 0;
    while (const auto got = ReceiveDatagram(ear.get(), 100ms)) {
        if (got->bytes.find("CONNECT") != std::string::npos) continue; // the start-up's
        EXPECT_EQ(got->bytes, "@KV-WiFi,SEARCH,198.18.0.1,50120\r\n");
        ++searches;
    }
    EXPECT_EQ(searches, 2);

    int asked = 0;
    EXPECT_FALSE(CheckFindCount(*m_app, 0, [&] { return ++asked, true; }));
    EXPECT_EQ(asked, 0) << "no other adapter: no question";
}

TEST_F(Discovery, AStoppedSearchEndsAtOnceAndReportsNothingMore) {
    Start("UDP", {}, 0);
    Recorder rec;
    CDiscoverySearch search(*m_app, rec.Callbacks());
    ASSERT_TRUE(search.Start());
    EXPECT_FALSE(search.Start()) << "one search at a time";
    ASSERT_TRUE(rec.WaitCaption("5"));
    const auto begun = std::chrono::steady_clock::now();
    search.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 300ms);
    EXPECT_FALSE(search.Running());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rec.Captions(), std::vector<std::string>{"5"});
    EXPECT_EQ(rec.Ended(), 0);
    EXPECT_EQ(m_log.Count("Thread Find Search End!"), 0);

    // It can run again afterwards.
    ASSERT_TRUE(search.Start());
    ASSERT_TRUE(rec.WaitCaption("4"));
    search.Stop();
}

TEST_F(Discovery, AnotherAdapterIsOfferedOnlyWhenNothingWasFound) {
    const unsigned lan0 = if_nametoindex("lan0");
    Start("UDP", {}, 0, kDataPort, [lan0]() -> std::optional<std::vector<NetAdapter>> {
        return std::vector<NetAdapter>{
            {"lo", {127, 0, 0, 1}, 1}, {"lan0", {198, 18, 0, 1}, lan0}, {"lan9", {10, 99, 0, 1}, 999}};
    });
    int asked = 0;
    EXPECT_FALSE(CheckFindCount(*m_app, 2, [&] { return ++asked, true; }));
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(CheckFindCount(*m_app, 0, [&] { return ++asked, false; }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(m_app->Net().GetLocalIP(), (IPv4Bytes{198, 18, 0, 1}));
    EXPECT_TRUE(CheckFindCount(*m_app, 0, [&] { return ++asked, true; }));
    EXPECT_EQ(m_app->Net().GetLocalIP(), (IPv4Bytes{10, 99, 0, 1}));
    EXPECT_EQ(m_app->Settings().GetLocalIp(), (IPv4Bytes{10, 99, 0, 1}));
}

// ---- collecting replies by hand ---------------------------------------------------------

// Waits until the command socket holds `records` sender records.
bool Queued(CKxSocketExt& cmd, std::size_t records) {
    return WaitUntil([&] { return Queue(cmd).size() == records; });
}

TEST_F(Discovery, TwoRecordsFromOneNewAddressAddOneSensor) {
    Start("UDP", {{"Lab", "198.18.0.2", 1001}}, 1);
    const SocketExtPtr cmd = Endpoint("UdpServer50120");
    ASSERT_NE(cmd, nullptr);
    Fd connectEar = SensorUdp(Ip("198.18.0.7"), kSensorPort);
    Fd first = SensorUdp(Ip("198.18.0.7"), 41001), second = SensorUdp(Ip("198.18.0.7"), 41002);
    ASSERT_TRUE(SendTo(first.get(), kStation, kCmdPort, Reply(7001)));
    ASSERT_TRUE(Queued(*cmd, 1));
    ASSERT_TRUE(SendTo(second.get(), kStation, kCmdPort, Reply(7002)));
    ASSERT_TRUE(Queued(*cmd, 2));

    Recorder rec;
    EXPECT_EQ(RevUdpSearchData(*m_app, rec.Report()), 1);
    EXPECT_THAT(rec.Rows(), ElementsAre(Recorder::Row{1, "198.18.0.7", "007001", "Connect"}));
    EXPECT_THAT(rec.Refreshed(), ElementsAre(std::pair{1, 7002}));
    EXPECT_THAT(rec.Events(), ElementsAre("add 1", "serial 1"));
    EXPECT_EQ(Total(), 2);
    EXPECT_EQ(Dev(1, "Serial"), 7002);
    EXPECT_TRUE(Queue(*cmd).empty());

    const auto told = ReceiveDatagram(connectEar.get());
    ASSERT_TRUE(told);
    EXPECT_EQ(told->bytes, "@KV-WiFi,CONNECT UDP,198.18.0.1,50220\r\n");
    EXPECT_EQ(Net(1, "Socket"), Endpoint("UdpServer50220")->GetSocket());
    EXPECT_EQ(Net(1, "RemotePort"), kDataPort);
    EXPECT_EQ(Net(1, "Connect"), 1);
}

TEST_F(Discovery, OnlySearchRepliesMakeSensors) {
    Start("UDP", {{"Lab", "198.18.0.2", 1001}}, 1);
    const SocketExtPtr cmd = Endpoint("UdpServer50120");
    ASSERT_NE(cmd, nullptr);
    struct Case {
        const char* what;
        const char* from;
        std::string bytes;
        bool added;
        std::string serialText;
        int serial;
    } cases[] = {
        {"reply", "198.18.0.3", Reply(1234), true, "001234", 1234},
        {"other version", "198.18.0.4", "@WiFi Sensor/T VER0.90,004321\r\n", true, "004321", 4321},
        {"cut short", "198.18.0.5", "@WiFi Sensor/T VER1.00,12", true, "12", 12},
        {"prefix only", "198.18.0.6", "@WiFi Sensor/T VER", true, "", 0},
        {"wrong prefix", "198.18.0.7", "@WiFi Sensor/X VER1.00,001234\r\n", false, "", 0},
        {"another station's search", "198.18.0.8", "@KV-WiFi,SEARCH,198.18.0.8,50000\r\n", false, "", 0},
        {"noise", "198.18.0.9", "hello", false, "", 0},
        // A known sensor's serial stays as it is when its reply is not one.
        {"known, wrong prefix", "198.18.0.2", "@WiFi Sensor/X VER1.00,000000\r\n", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = Total();
        Fd s = SensorUdp(Ip(c.from), kSensorPort + 1);
        ASSERT_TRUE(SendTo(s.get(), kStation, kCmdPort, c.bytes));
        ASSERT_TRUE(Queued(*cmd, 1));
        Recorder rec;
        EXPECT_EQ(RevUdpSearchData(*m_app, rec.Report()), c.added ? 1 : 0);
        EXPECT_TRUE(Queue(*cmd).empty());
        EXPECT_TRUE(rec.Refreshed().empty());
        ASSERT_EQ(Total(), before + (c.added ? 1 : 0));
        if (!c.added) continue;
        ASSERT_EQ(rec.Rows().size(), 1u);
        const Recorder::Row row = rec.Rows()[0];
        EXPECT_EQ(row.ip, c.from);
        EXPECT_EQ(row.serial, c.serialText);
        EXPECT_EQ(Dev(row.index, "Serial"), c.serial);
        EXPECT_EQ(IPv4Text(UnpackIPv4(Net(row.index, "RemoteIP"))), c.from);
    }
    EXPECT_EQ(Dev(0, "Serial"), 1001);
}

TEST(DiscoveryText, SerialTextAndNumbers) {
    struct Case {
        std::string reply;
        std::string serialText;
    } serials[] = {{"@WiFi Sensor/T VER1.00,001234\r\n", "001234"},
                   {"@WiFi Sensor/T VER1.00,0012", "0012"},
                   {"@WiFi Sensor/T VER1.00,", ""},
                   {"@WiFi", ""},
                   {"", ""}};
    for (const Case& c : serials) EXPECT_EQ(SearchSerialText(c.reply), c.serialText) << c.reply;

    struct Number {
        const char* text;
        int value;
    } numbers[] = {{"", 0},          {"abc", 0},         {"42", 42},           {"  7", 7},
                   {"-1", -1},       {"+5", 5},          {"12ab", 12},         {"001234\r\n", 1234},
                   {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"- 3", 0}};
    for (const Number& n : numbers) EXPECT_EQ(ReadDecimal(n.text), n.value) << n.text;
}

// ---- adding -----------------------------------------------------------------------------

struct AddCase {
    const char* what;
    const char* mode;
    std::uint16_t dataPort; // 0: chosen on the first add
    const char* transport;  // endpoint name prefix of the data side
    const char* connect;    // the CONNECT sent to the new sensor
};

void PrintTo(const AddCase& c, std::ostream* os) { *os << c.what; }

class DiscoveryAdd : public Discovery, public ::testing::WithParamInterface<AddCase> {};

TEST_P(DiscoveryAdd, MakesTheDataSideOnlyWhenMissing) {
    const AddCase& c = GetParam();
    Fd labEar = SensorUdp(Ip("198.18.0.2"), kSensorPort);
    Start(c.mode, {{"Lab", "198.18.0.2", 1001}}, 1, c.dataPort);
    while (ReceiveDatagram(labEar.get(), 200ms)) {
    } // the start-up's CONNECT, if any
    const SocketExtPtr before = c.dataPort ? Endpoint(std::string(c.transport) + std::to_string(c.dataPort)) : nullptr;
    EXPECT_EQ(before != nullptr, c.dataPort != 0);

    Fd newEar = SensorUdp(Ip("198.18.0.6"), kSensorPort);
    int index;
    {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        ASSERT_TRUE(guard.owns());
        index = DiscoveryAddDev(*m_app, Ip("198.18.0.6"), 6006);
    }
    EXPECT_EQ(index, 1);
    EXPECT_EQ(Total(), 2);
    const std::uint16_t port = DataPort();
    ASSERT_NE(port, 0);
    const SocketExtPtr after = Endpoint(std::string(c.transport) + std::to_string(port));
    ASSERT_NE(after, nullptr);
    if (before) {
        EXPECT_EQ(after, before) << "an existing data side is kept";
    }

    const auto told = ReceiveDatagram(newEar.get());
    ASSERT_TRUE(told);
    EXPECT_EQ(told->bytes, std::string(c.connect) + ",198.18.0.1," + std::to_string(port) + "\r\n");
    // The in-use sensor hears a CONNECT only when the data side was new.
    EXPECT_EQ(ReceiveDatagram(labEar.get(), 300ms).has_value(), before == nullptr);

    if (std::string_view(c.mode) == "UDP") {
        EXPECT_EQ(Net(1, "Socket"), after->GetSocket());
        EXPECT_EQ(Net(1, "RemotePort"), port);
        EXPECT_EQ(Net(1, "Connect"), 1);
    } else {
        EXPECT_EQ(Net(1, "Connect"), 0) << "connected once it connects";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryAdd,
    ::testing::Values(AddCase{"UdpExisting", "UDP", kDataPort, "UdpServer", "@KV-WiFi,CONNECT UDP"},
                      AddCase{"UdpPortChosen", "UDP", 0, "UdpServer", "@KV-WiFi,CONNECT UDP"},
                      AddCase{"TcpExisting", "TCP Server", kDataPort, "TcpServer", "@KV-WiFi,CONNECT TCP"},
                      AddCase{"TcpPortChosen", "TCP Server", 0, "TcpServer", "@KV-WiFi,CONNECT TCP"}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- poll interval ----------------------------------------------------------------------

TEST(DiscoveryInterval, MinutesAndSecondsAreChecked) {
    struct Case {
        const char* minutes;
        const char* seconds;
        std::string_view error;
        std::uint32_t interval;
    } cases[] = {
        {"60", "0", {}, 3600},
        {"60", "1", kTimeTooLong, 0},
        {"0", "9", kTimeTooShort, 0},
        {"0", "10", {}, 10},
        {"-1", "0", kMinuteValueError, 0},
        {"61", "0", kMinuteValueError, 0},
        {"99999999999", "0", kMinuteValueError, 0},
        {"-99999999999", "0", kMinuteValueError, 0},
        {"0", "60", kSecondValueError, 0},
        {"0", "-1", kSecondValueError, 0},
        {"-1", "-1", kMinuteValueError, 0}, // minutes first
        {"", "30", {}, 30},
        {"", "", kTimeTooShort, 0},
        {"abc", "15", {}, 15},
        {"1x", "5", {}, 65},
        {" 2", "0", {}, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.minutes) + " / " + c.seconds);
        const IntervalCheck check = CheckCmdInterval(c.minutes, c.seconds);
        EXPECT_EQ(check.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(check.seconds, c.interval);
        }
    }
}

TEST_F(Discovery, AValidIntervalIsStoredAndSavedAtOnce) {
    Start("UDP", {}, 0);
    auto saved = [&] {
        const auto p = m_dir.path() / "Veltrix" / "Hygrolog" / "Settings.ini";
        return ToUtf8(ProfileFile::Parse(ReadFile(p))->GetString(u"DSNet", u"time", u"<missing>"));
    };
    EXPECT_EQ(SaveCmdTime(m_app->Settings(), "1", "15"), "");
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetTimeForNet(), 75u);
    EXPECT_EQ(saved(), "75");
    EXPECT_EQ(SaveCmdTime(m_app->Settings(), "0", "5"), kTimeTooShort);
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetTimeForNet(), 75u);
    EXPECT_EQ(saved(), "75");
}

// ---- transport --------------------------------------------------------------------------

struct HookLog {
    std::vector<int> polling;
    int progress = 0;
    ProtocolChangeHooks Hooks(std::function<void()> atProgress = {}) {
        return {[this](int on) { polling.push_back(on); },
                [this, atProgress] {
                    ++progress;
                    if (atProgress) atProgress();
                }};
    }
};

TEST_F(Discovery, TheActiveProtocolTouchesNothing) {
    StartSim({"198.18.0.2,1001"});
    Start("UDP", {{"Lab", "198.18.0.2", 1001}}, 1);
    ASSERT_TRUE(m_sim->WaitFor("198.18.0.2 udp data port 50220")) << m_sim->Output();
    const SocketExtPtr data = Endpoint("UdpServer50220");
    const auto names = m_app->Net().EndpointNames();
    HookLog hooks;
    EXPECT_EQ(ChangeProtocol(*m_app, 0, hooks.Hooks()), ProtocolChange::Unchanged);
    EXPECT_TRUE(hooks.polling.empty());
    EXPECT_EQ(hooks.progress, 0);
    EXPECT_EQ(m_app->Net().EndpointNames(), names);
    EXPECT_EQ(Endpoint("UdpServer50220"), data);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_sim->Count("198.18.0.2 <- R"), 0);
    EXPECT_EQ(m_sim->Count("198.18.0.2 <- CONNECT UDP " + Station(kDataPort)), 1) << "only the start-up's";
}

TEST_F(Discovery, SensorsMoveToTcpAndBack) {
    StartSim({"198.18.0.2,1001", "198.18.0.3,1002"});
    Start("UDP", {{"Lab", "198.18.0.2", 1001}, {"!XXX3", "198.18.0.3", 1002}}, 1);
    for (const char* ip : {"198.18.0.2", "198.18.0.3"})
        ASSERT_TRUE(m_sim->WaitFor(std::string(ip) + " udp data port 50220")) << m_sim->Output();
    {
        CDatabaseLock::Guard guard(m_app->DatabaseLock());
        m_app->Database().GetNetDB()->SetTableColumnValue("SendRev", 5);
    }

    // While the progress window shows, the old data side is gone and the new one not made.
    std::vector<std::string> duringProgress;
    std::uint8_t modeDuringProgress = 9;
    HookLog toTcp;
    ASSERT_EQ(ChangeProtocol(*m_app, 1, toTcp.Hooks([&] {
                  duringProgress = m_app->Net().EndpointNames();
                  modeDuringProgress = m_app->Settings().GetBaseInfo()->GetUDPorTCP();
              })),
              ProtocolChange::Changed);
    EXPECT_THAT(toTcp.polling, ElementsAre(0, 1));
    EXPECT_EQ(toTcp.progress, 1);
    EXPECT_THAT(duringProgress, ElementsAre("UdpServer50120"));
    EXPECT_EQ(modeDuringProgress, kProtoTcpServer);
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetUDPorTCP(), kProtoTcpServer);
    EXPECT_EQ(Endpoint("UdpServer50220"), nullptr);
    ASSERT_NE(Endpoint("TcpServer50220"), nullptr);
    EXPECT_EQ(m_app->IsAcceptAll(), 1);
    const char* connection[] = {"TcpClientLab", "!XXX3"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string ip = i == 0 ? "198.18.0.2" : "198.18.0.3";
        EXPECT_TRUE(m_sim->WaitFor(ip + " <- R")) << m_sim->Output();
        EXPECT_TRUE(m_sim->WaitFor(ip + " <- CONNECT TCP " + Station(kDataPort))) << m_sim->Output();
        ASSERT_TRUE(WaitUntil([&] { return Net(i, "Connect") == 1 && Net(i, "Socket") >= 0; }, 5s))
            << m_sim->Output();
        EXPECT_EQ(Net(i, "SendRev"), 0);
        EXPECT_TRUE(TcpReadingOn(connection[i], i)) << m_sim->Output();
    }

    HookLog toUdp;
    ASSERT_EQ(ChangeProtocol(*m_app, 0, toUdp.Hooks()), ProtocolChange::Changed);
    EXPECT_THAT(toUdp.polling, ElementsAre(0, 1));
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetUDPorTCP(), kProtoUdp);
    EXPECT_THAT(m_app->Net().EndpointNames(), UnorderedElementsAre("UdpServer50120", "UdpServer50220"));
    const SocketExtPtr data = Endpoint("UdpServer50220");
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string ip = i == 0 ? "198.18.0.2" : "198.18.0.3";
        EXPECT_TRUE(m_sim->WaitFor(ip + " tcp closed (R)")) << m_sim->Output();
        EXPECT_TRUE(m_sim->WaitFor(ip + " <- CONNECT UDP " + Station(kDataPort), 2)) << m_sim->Output();
        EXPECT_EQ(Net(i, "Socket"), data->GetSocket());
        EXPECT_EQ(Net(i, "Connect"), 1);
        EXPECT_TRUE(UdpReadingFrom(ip)) << m_sim->Output();
    }
}

TEST_F(Discovery, TcpClientSettingIsChangedOnceToTcp) {
    Start("TCP Client", {}, 0);
    HookLog hooks;
    EXPECT_EQ(ChangeProtocol(*m_app, 1, hooks.Hooks()), ProtocolChange::Changed);
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetUDPorTCP(), kProtoTcpServer);
    EXPECT_NE(Endpoint("TcpServer50220"), nullptr);
    EXPECT_EQ(ChangeProtocol(*m_app, 1, hooks.Hooks()), ProtocolChange::Unchanged);
    EXPECT_EQ(hooks.progress, 1);
}

TEST_F(Discovery, AProtocolChangeGivesUpWhenTheTablesStayBusy) {
    Start("UDP", {{"Lab", "198.18.0.2", 1001}}, 1);
    const auto names = m_app->Net().EndpointNames();
    test::LockHolder holder(m_app->DatabaseLock(), std::chrono::milliseconds(1500));
    ASSERT_TRUE(holder.held());
    HookLog hooks;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(ChangeProtocol(*m_app, 1, hooks.Hooks()), ProtocolChange::LockFailed);
    EXPECT_GE(std::chrono::steady_clock::now() - begun, 900ms);
    EXPECT_THAT(hooks.polling, ElementsAre(0, 1));
    EXPECT_EQ(hooks.progress, 0);
    EXPECT_EQ(m_app->Settings().GetBaseInfo()->GetUDPorTCP(), kProtoUdp);
    EXPECT_EQ(m_app->Net().EndpointNames(), names);
}

} // namespace
} // namespace hygro
