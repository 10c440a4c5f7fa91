#include "net/sensor_protocol.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "app/app_core.h"
#include "net_test_support.h"
#include "support/simulator.h"
#include "settings/profile_file.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/message_box.h"
#include "util/text.h"

extern char** environ;

namespace hygro {
namespace {

using namespace test;

constexpr std::uint16_t kCmdPort = 50100;
constexpr std::uint16_t kDataPort = 50200;
constexpr std::uint16_t kSensorPort = CSensorProtocol::kSensorCommandPort;
const IPv4Bytes kLab = Ip("198.18.0.2");   // in use, named "Lab"
const IPv4Bytes kFound = Ip("198.18.0.3"); // found, still named "!XXX3"
const IPv4Bytes kStranger = Ip("198.18.0.9");

struct Sensor {
    const char* name;
    IPv4Bytes ip;
    int serial;
};

// The station as the application runs it, in a private home folder whose settings name
// the station address, both ports, the transport and the sensors.
class Station : public NetTest {
  protected:
    Station() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            m_messages.push_back(ToUtf8(text));
            return MsgAnswer::Ok;
        });
    }
    ~Station() override { SetMessageHandler(m_previous); }

    void WriteSettings(const char* mode, const std::vector<Sensor>& sensors, int real) {
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"DSNet", u"LocalPortForData", ToUtf16(std::to_string(kDataPort)));
        doc.SetString(u"DSNet", u"LocalPortForCmd", ToUtf16(std::to_string(kCmdPort)));
        doc.SetString(u"DSNet", u"UDPorTCP", ToUtf16(mode));
        doc.SetString(u"LSensor", u"Rcount", ToUtf16(std::to_string(real)));
        doc.SetString(u"LSensor", u"Tcount", ToUtf16(std::to_string(sensors.size())));
        for (std::size_t i = 0; i < sensors.size(); ++i) {
            const std::u16string section = ToUtf16(std::to_string(i + 1));
            doc.SetString(section, u"name", ToUtf16(sensors[i].name));
            doc.SetString(section, u"FolderName", ToUtf16(sensors[i].name));
            // The port in the file is stale on purpose: UDP mode uses the data port.
            doc.SetString(section, u"DeviceIPandPort", ToUtf16(IPv4Text(sensors[i].ip) + ":1"));
            char serial[16];
            std::snprintf(serial, sizeof serial, "%06d", sensors[i].serial);
            doc.SetString(section, u"Serial", ToUtf16(serial));
        }
        test::WriteSealedSettings(m_dir.path(), doc);
    }

    void Start(const char* mode, const std::vector<Sensor>& sensors = {{"Lab", kLab, 999}, {"!XXX3", kFound, 3}},
               int real = 1, bool taking = true) {
        WriteSettings(mode, sensors, real);
        ASSERT_EQ(m_app.InitGlobalValue(m_dir.path()), 1);
        m_app.StartUp();
        ASSERT_TRUE(m_messages.empty()) << m_messages.front();
        ASSERT_EQ(m_app.Database().m_totalCount, static_cast<int>(sensors.size()));
        m_app.SetMainWindowReady(taking);
    }

    int Value(CTable_WiFiSensorDB* (CWiFiSensorDatabase::*table)(), int row, const char* column) {
        CDatabaseLock::Guard guard(m_app.DatabaseLock());
        EXPECT_TRUE(guard.owns());
        int v = -2;
        (m_app.Database().*table)()->GetRow(row)->GetValue(column, v);
        return v;
    }
    int Net(int row, const char* column) { return Value(&CWiFiSensorDatabase::GetNetDB, row, column); }
    int Dev(int row, const char* column) { return Value(&CWiFiSensorDatabase::GetDevDB, row, column); }

    SocketExtPtr Endpoint(const std::string& name) { return m_app.Net().GetSocketExt(name); }
    // Waits for a connection endpoint that runs (not one whose peer has left).
    SocketExtPtr Running(const std::string& name) {
        SocketExtPtr ext;
        WaitUntil([&] {
            ext = Endpoint(name);
            return ext && !ext->IsThreadEnded() && ext->GetSocket() >= 0;
        });
        return ext;
    }

    TempDir m_dir;
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
    CAppForNimbo1App m_app;
};

// ---- commands on the command socket ----------------------------------------------------

TEST_F(Station, SearchIsBroadcastFromTheCommandPort) {
    Start("UDP");
    Fd wildcard = SensorUdp(IPv4Bytes{0, 0, 0, 0}, kSensorPort);
    EXPECT_EQ(m_app.Protocol().SendSearchCmd(), 1);
    const auto got = ReceiveDatagram(wildcard.get());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "@KV-WiFi,SEARCH,198.18.0.1,50100\r\n");
    EXPECT_EQ(got->from, kStation);
    EXPECT_EQ(got->port, kCmdPort);
    EXPECT_EQ(m_log.Count("Thread Find Search Start!"), 1);
    EXPECT_EQ(m_log.Count("Udp Send 255.255.255.255:65530 Success !data:@KV-WiFi,SEARCH,198.18.0.1,50100\r\n"), 1);
}

class ConnectAtStartUp : public Station, public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(ConnectAtStartUp, EverySensorIsToldWhereToSend) {
    const auto& [mode, message] = GetParam();
    Fd lab = SensorUdp(kLab, kSensorPort), found = SensorUdp(kFound, kSensorPort);
    Start(mode);
    for (const Fd* s : {&lab, &found}) {
        const auto got = ReceiveDatagram(s->get());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->bytes, message);
        EXPECT_EQ(got->from, kStation);
        EXPECT_EQ(got->port, kCmdPort);
        EXPECT_FALSE(ReceiveDatagram(s->get(), 100ms)) << "sent twice";
    }
    EXPECT_EQ(m_log.Count("Create Udp Server Listen:50100 Success!"), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ConnectAtStartUp,
                         ::testing::Values(std::pair{"UDP", "@KV-WiFi,CONNECT UDP,198.18.0.1,50200\r\n"},
                                           std::pair{"TCP Server", "@KV-WiFi,CONNECT TCP,198.18.0.1,50200\r\n"},
                                           std::pair{"TCP Client", "@KV-WiFi,CONNECT TCP,198.18.0.1,50200\r\n"}));

TEST_F(Station, SearchRepliesRefreshTheSerialOfAKnownSensor) {
    struct Refreshed {
        std::mutex lock;
        std::vector<std::pair<int, int>> calls;
    };
    // Shared: the hook runs on the command socket's thread, which outlives this scope.
    const auto refreshed = std::make_shared<Refreshed>();
    m_app.Protocol().Hooks().serialRefreshed = [refreshed](int index, int serial) {
        std::lock_guard g(refreshed->lock);
        refreshed->calls.emplace_back(index, serial);
    };
    Start("UDP");
    const SocketExtPtr cmd = Endpoint("UdpServer50100");
    ASSERT_NE(cmd, nullptr);

    struct Case {
        const char* what;
        IPv4Bytes from;
        std::string reply;
        int labSerial, foundSerial;
    } cases[] = {
        {"reply", kLab, "@WiFi Sensor/T VER1.00,001234\r\n", 1234, 3},
        {"other version", kLab, "@WiFi Sensor/T VER1.01,005555\r\n", 1234, 3},
        {"30 bytes", kLab, "@WiFi Sensor/T VER1.00,006666\r", 1234, 3},
        {"unknown sender", kStranger, "@WiFi Sensor/T VER1.00,007777\r\n", 1234, 3},
        {"found sensor, longer", kFound, "@WiFi Sensor/T VER1.00,000042\r\nextra", 1234, 42},
    };
    int queued = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fd sensor = SensorUdp(c.from, kSensorPort);
        ASSERT_TRUE(SendTo(sensor.get(), kStation, kCmdPort, c.reply));
        ++queued;
        // Queued after the callback: once it is there the callback has run.
        ASSERT_TRUE(WaitUntil([&] {
            int blocks = 0;
            for (const auto& r : Queue(*cmd)) blocks += static_cast<int>(r.blocks.size());
            return blocks == queued;
        }));
        EXPECT_EQ(Dev(0, "Serial"), c.labSerial);
        EXPECT_EQ(Dev(1, "Serial"), c.foundSerial);
    }
    {
        std::lock_guard g(refreshed->lock);
        EXPECT_THAT(refreshed->calls, ::testing::ElementsAre(std::pair{0, 1234}, std::pair{1, 42}));
    }
    const auto q = Queue(*cmd);
    ASSERT_EQ(q.size(), 3u); // one record per sender
    EXPECT_EQ(q[0].blocks.size(), 3u);
}

TEST_F(Station, CommandQueueKeepsTheNewestSenders) {
    Start("UDP");
    const SocketExtPtr cmd = Endpoint("UdpServer50100");
    ASSERT_NE(cmd, nullptr);
    const int senders = 300;
    const std::string received = "Udp UdpServer50100 Rev From:";
    IPv4Bytes lastIp{};
    std::uint16_t lastPort = 0, firstKeptPort = 0;
    for (int i = 0; i < senders; ++i) {
        const IPv4Bytes ip{198, 18, 0, static_cast<std::uint8_t>(2 + i % 8)};
        const auto port = static_cast<std::uint16_t>(41000 + i);
        Fd s = SensorUdp(ip, port);
        ASSERT_TRUE(SendTo(s.get(), kStation, kCmdPort, "@WiFi Sensor/T VER1.00,00" + std::to_string(1000 + i)));
        if (i == senders - CSensorProtocol::kCommandQueueRecords) firstKeptPort = port;
        lastIp = ip;
        lastPort = port;
        // Let the station keep up so that the socket's buffer never overflows.
        if (i % 50 == 49) {
            ASSERT_TRUE(WaitUntil([&] { return m_log.CountStartingWith(received) == i + 1; }));
        }
    }
    ASSERT_TRUE(WaitUntil([&] {
        const auto q = Queue(*cmd);
        return !q.empty() && q.back().ip == lastIp && q.back().port == lastPort;
    }));
    const auto q = Queue(*cmd);
    EXPECT_EQ(q.size(), static_cast<std::size_t>(CSensorProtocol::kCommandQueueRecords));
    EXPECT_EQ(q.front().port, firstKeptPort);
    EXPECT_EQ(m_log.Count("Udp UdpServer50100 queue full, oldest data dropped!"), 1);
}

// ---- UDP mode ---------------------------------------------------------------------------

TEST_F(Station, UdpModeReleasesEverySensorFromTheDataSocket) {
    Fd lab = SensorUdp(kLab, kDataPort), found = SensorUdp(kFound, kDataPort);
    Start("UDP");
    const SocketExtPtr data = Endpoint("UdpServer50200");
    ASSERT_NE(data, nullptr);
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Net(row, "Socket"), data->GetSocket());
        EXPECT_EQ(Net(row, "Connect"), 1);
        EXPECT_EQ(Net(row, "RemotePort"), kDataPort);
        EXPECT_EQ(Net(row, "LocalPort"), kDataPort);
    }

    m_app.Protocol().SendRCmdToAllDev();
    for (const Fd* s : {&lab, &found}) {
        const auto got = ReceiveDatagram(s->get());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->bytes, "R");
        EXPECT_EQ(got->from, kStation);
        EXPECT_EQ(got->port, kDataPort);
    }
    EXPECT_EQ(Net(0, "Connect"), 0);
    EXPECT_EQ(Net(1, "Connect"), 0);

    m_app.ShutDown();
    for (const Fd* s : {&lab, &found}) {
        const auto got = ReceiveDatagram(s->get());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->bytes, "R");
    }
    EXPECT_TRUE(m_app.Net().EndpointNames().empty());
}

TEST_F(Station, UdpModeQueuesReadingsPerSensor) {
    Fd lab = SensorUdp(kLab, kDataPort);
    Start("UDP");
    const SocketExtPtr data = Endpoint("UdpServer50200");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->SendUdp(&kLab, kDataPort, "S", 1, 0), 1);
    const auto poll = ReceiveDatagram(lab.get());
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->bytes, "S");
    ASSERT_TRUE(SendTo(lab.get(), kStation, kDataPort, "+45.6,+23.4\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return data->GetUdpServerRevDataTotalLength() == 13; }));
    const auto q = Queue(*data);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].ip, kLab);
    EXPECT_EQ(q[0].port, kDataPort);
    EXPECT_EQ(q[0].blocks, std::vector<std::string>{"+45.6,+23.4\r\n"});
}

// ---- TCP mode ---------------------------------------------------------------------------

TEST_F(Station, TcpConnectionsAreNamedAfterTheirSensor) {
    Start("TCP Server");
    struct Case {
        IPv4Bytes from;
        const char* endpoint;
        int row;
    } cases[] = {{kLab, "TcpClientLab", 0}, {kFound, "!XXX3", 1}};
    std::vector<Fd> peers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint);
        peers.push_back(SensorConnect(c.from, kDataPort));
        const int peer = peers.back().get();
        const SocketExtPtr ext = Running(c.endpoint);
        ASSERT_NE(ext, nullptr);
        EXPECT_EQ(ext->GetKind(), kKindTcpConnection);
        EXPECT_EQ(ext->GetRemoteIPv4Buf(), c.from);
        EXPECT_EQ(ext->GetRemotePort(), LocalPort(peer));
        EXPECT_EQ(ext->GetLocalPort(), kDataPort);
        EXPECT_EQ(m_app.Net().GetSocketExt(ext->GetSocket()), ext);
        ASSERT_TRUE(WaitUntil([&] { return Net(c.row, "Connect") == 1; }));
        EXPECT_EQ(Net(c.row, "Socket"), ext->GetSocket());
        EXPECT_EQ(Net(c.row, "RemotePort"), LocalPort(peer));
        EXPECT_EQ(m_log.Count("Tcp Accept Success " + IPv4Text(c.from) + ":" + std::to_string(LocalPort(peer)) + "!"),
                  1);

        ASSERT_TRUE(SendAll(peer, "+45.6,+23.4\r\n"));
        ASSERT_TRUE(WaitUntil([&] { return Received(*ext) == "+45.6,+23.4\r\n"; }));
        EXPECT_EQ(ext->SendTcp("S", 1, c.row), 1);
        EXPECT_EQ(ReceiveStream(peer, 1), "S");
    }
    EXPECT_THAT(m_app.Net().EndpointNames(),
                ::testing::UnorderedElementsAre("!XXX3", "TcpClientLab", "TcpServer50200", "UdpServer50100"));
}

TEST_F(Station, ASecondConnectionReplacesTheSocket) {
    Start("TCP Server");
    Fd first = SensorConnect(kLab, kDataPort);
    const SocketExtPtr ext = Running("TcpClientLab");
    ASSERT_NE(ext, nullptr);
    const SocketHandle oldSocket = ext->GetSocket();

    Fd second = SensorConnect(kLab, kDataPort);
    ASSERT_TRUE(WaitUntil([&] { return Net(0, "RemotePort") == LocalPort(second.get()); }));
    EXPECT_TRUE(SeesEnd(first.get()));
    EXPECT_EQ(Endpoint("TcpClientLab"), ext);
    EXPECT_EQ(m_app.Net().EndpointNames().size(), 3u);
    EXPECT_NE(ext->GetSocket(), oldSocket);
    EXPECT_EQ(Net(0, "Socket"), ext->GetSocket());
    EXPECT_EQ(Net(0, "Connect"), 1);
    EXPECT_EQ(m_app.Net().GetSocketExt(ext->GetSocket()), ext);
    EXPECT_EQ(m_app.Net().GetSocketExt(oldSocket), nullptr);

    ASSERT_TRUE(SendAll(second.get(), "+1.0,+2.0\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return Received(*ext) == "+1.0,+2.0\r\n"; }));
    EXPECT_EQ(ext->SendTcp("S", 1, 0), 1);
    EXPECT_EQ(ReceiveStream(second.get(), 1), "S");
}

struct Refusal {
    const char* what;
    IPv4Bytes from;
    bool taking; // the station takes connections at all
    bool acceptOff;
};

class RefusedConnection : public Station, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedConnection, IsClosedAndLogged) {
    const Refusal& r = GetParam();
    Start("TCP Server", {{"Lab", kLab, 999}, {"!XXX3", kFound, 3}}, 1, r.taking);
    if (r.acceptOff) m_app.NotAcceptAll();
    Fd peer = SensorConnect(r.from, kDataPort);
    EXPECT_TRUE(SeesEnd(peer.get()));
    EXPECT_TRUE(m_log.WaitFor("Tcp Accept Failed " + IPv4Text(r.from) + ":" + std::to_string(LocalPort(peer.get())) + "!"));
    EXPECT_THAT(m_app.Net().EndpointNames(), ::testing::UnorderedElementsAre("TcpServer50200", "UdpServer50100"));
    EXPECT_EQ(Net(0, "Connect"), 0);
    EXPECT_EQ(Net(0, "Socket"), kInvalidSocket);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedConnection,
                         ::testing::Values(Refusal{"NotTaking", kLab, false, false},
                                           Refusal{"AcceptingOff", kLab, true, true},
                                           Refusal{"UnknownAddress", kStranger, true, false}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(Station, TcpModeReleasesEveryConnectionOnShutDown) {
    Start("TCP Server");
    Fd lab = SensorConnect(kLab, kDataPort);
    Fd found = SensorConnect(kFound, kDataPort);
    ASSERT_NE(Running("TcpClientLab"), nullptr);
    ASSERT_NE(Running("!XXX3"), nullptr);
    m_app.ShutDown();
    for (const Fd* s : {&lab, &found}) {
        EXPECT_EQ(ReceiveStream(s->get(), 1), "R");
        EXPECT_TRUE(SeesEnd(s->get()));
    }
}

TEST_F(Station, ASensorThatLeftCanComeBack) {
    Start("TCP Server");
    Fd peer = SensorConnect(kLab, kDataPort);
    const SocketExtPtr first = Running("TcpClientLab");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Net(0, "Connect") == 1; }));

    peer.reset();
    ASSERT_TRUE(WaitUntil([&] { return Net(0, "Connect") == 0 && Net(0, "Socket") == kInvalidSocket; }));
    EXPECT_EQ(m_log.Count("Socket:TcpClientLab Peer closed!"), 1);

    peer = SensorConnect(kLab, kDataPort);
    SocketExtPtr again;
    ASSERT_TRUE(WaitUntil([&] {
        again = Endpoint("TcpClientLab");
        return again && again != first && again->GetSocket() >= 0;
    }));
    ASSERT_TRUE(WaitUntil([&] { return Net(0, "Connect") == 1; }));
    EXPECT_EQ(Net(0, "Socket"), again->GetSocket());
    EXPECT_EQ(first->IsClosing(), 1);
    EXPECT_EQ(again->SendTcp("S", 1, 0), 1);
    EXPECT_EQ(ReceiveStream(peer.get(), 1), "S");
    ASSERT_TRUE(SendAll(peer.get(), "+50.0,+20.0\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return Received(*again) == "+50.0,+20.0\r\n"; }));
}

// FAILS intermittently (about every other run): the accept callback in
// src/net/sensor_protocol.cpp (ThreadTcpAccept_Callback) takes the "connects again"
// path while the old connection's receive thread is still handling the peer's close
// (src/net/socket_ext.cpp, ThreadForTcpRevice_NetOpt: socket already closed, thread
// not yet marked ended). The late peer-closed report then marks the live connection
// as gone (Net Connect 0, Socket -1), and the new socket may be handed to a thread
// that is about to end.
TEST_F(Station, ASensorThatReconnectsAtOnceStaysConnected) {
    // What a sensor does when it drops its connection and connects again right away.
    Start("TCP Server");
    Fd peer = SensorConnect(kLab, kDataPort);
    ASSERT_NE(Running("TcpClientLab"), nullptr);
    for (int round = 0; round < 50 && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        peer.reset();
        peer = SensorConnect(kLab, kDataPort);
        const std::uint16_t port = LocalPort(peer.get());
        ASSERT_TRUE(WaitUntil([&] { return Net(0, "RemotePort") == port; }));
        // Let a late report of the old connection's end land, if one is coming.
        std::this_thread::sleep_for(20ms);
        const SocketExtPtr ext = Endpoint("TcpClientLab");
        ASSERT_NE(ext, nullptr);
        EXPECT_FALSE(ext->IsThreadEnded()) << "nothing reads the new connection";
        EXPECT_EQ(Net(0, "Connect"), 1);
        EXPECT_EQ(Net(0, "Socket"), ext->GetSocket());
        EXPECT_EQ(m_app.Net().GetSocketExt(ext->GetSocket()), ext);
        EXPECT_EQ(ext->SendTcp("S", 1, 0), 1);
        EXPECT_EQ(ReceiveStream(peer.get(), 1), "S");
        ext->ClearTcpReceiveBuffer();
        ASSERT_TRUE(SendAll(peer.get(), "+1.0,+2.0\r\n"));
        EXPECT_TRUE(WaitUntil([&] { return Received(*ext) == "+1.0,+2.0\r\n"; }, 1500ms));
    }
}

// ---- against the simulator -------------------------------------------------------------


TEST_F(Station, PollsTheSimulatedSensorsOverUdp) {
    if (!std::getenv("HYGROLOG_SIM")) GTEST_SKIP() << "HYGROLOG_SIM names no simulator";
    test::Simulator sim(m_dir.path() / "sim.log",
                  {"--sensor", "198.18.0.2,1001", "--sensor", "198.18.0.3,1002", "--duration", "20"});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(sim.WaitFor("ready 2 sensors")) << sim.Output();

    const IPv4Bytes sensors[] = {kLab, kFound};
    Start("UDP", {{"Lab", kLab, 1001}, {"Kitchen", kFound, 1002}}, 2);
    for (const IPv4Bytes& ip : sensors) {
        EXPECT_TRUE(sim.WaitFor(IPv4Text(ip) + " <- CONNECT UDP 198.18.0.1:50200")) << sim.Output();
        EXPECT_TRUE(sim.WaitFor(IPv4Text(ip) + " udp data port 50200")) << sim.Output();
    }

    const SocketExtPtr data = Endpoint("UdpServer50200");
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(data->SendUdp(&sensors[i], kDataPort, "S", 1, i), 1);
    const std::regex reading(R"([+-][0-9]+\.[0-9],[+-][0-9]+\.[0-9]\r\n)");
    for (const IPv4Bytes& ip : sensors) {
        SCOPED_TRACE(IPv4Text(ip));
        std::string block;
        EXPECT_TRUE(WaitUntil([&] {
            for (const auto& r : Queue(*data))
                if (r.ip == ip && r.port == kDataPort && !r.blocks.empty()) block = r.blocks.front();
            return !block.empty();
        })) << sim.Output();
        EXPECT_TRUE(std::regex_match(block, reading)) << block;
    }

    m_app.ShutDown();
    for (const IPv4Bytes& ip : sensors) EXPECT_TRUE(sim.WaitFor(IPv4Text(ip) + " <- R")) << sim.Output();
}

} // namespace
} // namespace hygro
