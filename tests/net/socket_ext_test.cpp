#include "net/socket_ext.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "net/net_opt.h"
#include "net_test_support.h"

namespace hygro {
namespace {

using namespace test;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::Matcher;

constexpr std::uint16_t kPort = 50300;
const IPv4Bytes kSensorA = Ip("198.18.0.2");
const IPv4Bytes kSensorB = Ip("198.18.0.3");

// What the datagram callback was offered; answers with `answer`.
class Offers {
  public:
    UdpAcceptFn Fn() {
        return [this](CKxSocketExt*, const IPv4Bytes& ip, std::uint16_t port, const char* data, int len) {
            std::lock_guard lock(m_lock);
            m_seen.push_back({std::string(data, static_cast<std::size_t>(len)), ip, port});
            return m_answer.load();
        };
    }
    std::vector<std::string> Bytes() const {
        std::lock_guard lock(m_lock);
        std::vector<std::string> out;
        for (const auto& d : m_seen) out.push_back(d.bytes);
        return out;
    }
    std::atomic<int> m_answer{1};

  private:
    mutable std::mutex m_lock;
    std::vector<Datagram> m_seen;
};

// A manager in the station's namespace (station address 198.18.0.1 chosen from lan0).
class Endpoint : public NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        if (IsSkipped()) return;
        m_net.Init();
        ASSERT_EQ(m_net.GetLocalIP(), kStation);
    }
    SocketExtPtr Udp(int size = 100, bool broadcast = true, std::uint16_t port = kPort) {
        return m_net.CreateUdpServerSocket("UdpServer" + std::to_string(port), port, size, m_offers.Fn(), broadcast);
    }
    // The "Socket:<name> ..." lines from the start of its close on.
    std::vector<std::string> CloseLog(const std::string& name) const {
        auto lines = m_log.StartingWith("Socket:" + name + " ");
        const auto start = std::find(lines.begin(), lines.end(), "Socket:" + name + " Start to close!");
        return {start, lines.end()};
    }

    Offers m_offers;
    CWiFiSensorNetOpt m_net;
};

TEST_F(Endpoint, DatagramsThatFillTheBufferAreDroppedWithoutACallback) {
    const SocketExtPtr ext = Udp(100);
    ASSERT_NE(ext, nullptr);
    Fd peer = SensorUdp(kSensorA);
    const std::size_t sizes[] = {1, 98, 99, 100, 101, 1400};
    for (std::size_t n : sizes) ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, std::string(n, 'a' + n % 26)));
    ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, "end"));
    ASSERT_TRUE(WaitUntil([&] { return m_offers.Bytes().size() >= 4; }));

    const std::vector<std::string> kept = {std::string(1, 'b'), std::string(98, 'u'), std::string(99, 'v'), "end"};
    EXPECT_EQ(m_offers.Bytes(), kept);
    ASSERT_TRUE(WaitUntil([&] {
        const auto q = Queue(*ext);
        return q.size() == 1 && q[0].blocks.size() == 4;
    }));
    EXPECT_EQ(Queue(*ext)[0].blocks, kept);
}

TEST_F(Endpoint, DatagramsAreQueuedPerSenderOldestFirst) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    Fd a1 = SensorUdp(kSensorA), a2 = SensorUdp(kSensorA), b = SensorUdp(kSensorB);
    ASSERT_TRUE(SendTo(a1.get(), kStation, kPort, "abcdef"));
    ASSERT_TRUE(SendTo(a1.get(), kStation, kPort, "xyz")); // shorter than the one before
    ASSERT_TRUE(WaitUntil([&] { return m_offers.Bytes().size() == 2; }));
    ASSERT_TRUE(SendTo(a2.get(), kStation, kPort, "other port"));
    ASSERT_TRUE(WaitUntil([&] { return m_offers.Bytes().size() == 3; }));
    ASSERT_TRUE(SendTo(b.get(), kStation, kPort, "other address"));
    ASSERT_TRUE(WaitUntil([&] { return ext->GetUdpServerRevDataCount() == 3; }));
    ASSERT_TRUE(WaitUntil([&] { return Queue(*ext)[2].blocks.size() == 1; }));

    const auto q = Queue(*ext);
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].ip, kSensorA);
    EXPECT_EQ(q[0].port, LocalPort(a1.get()));
    EXPECT_EQ(q[0].blocks, (std::vector<std::string>{"abcdef", "xyz"}));
    EXPECT_EQ(q[1].ip, kSensorA);
    EXPECT_EQ(q[1].port, LocalPort(a2.get()));
    EXPECT_EQ(q[1].blocks, std::vector<std::string>{"other port"});
    EXPECT_EQ(q[2].ip, kSensorB);
    EXPECT_EQ(q[2].blocks, std::vector<std::string>{"other address"});
    EXPECT_EQ(ext->GetUdpServerRevDataTotalLength(), 6 + 3 + 10 + 13);
    EXPECT_EQ(m_log.Count("Udp UdpServer50300 Rev From:198.18.0.2:" + std::to_string(LocalPort(a1.get())) +
                          " Data:abcdef"),
              1);

    // Lookup by sender finds the record; an unknown sender gets a new empty one.
    {
        auto lock = ext->LockReceive();
        EXPECT_EQ(ext->GetUdpRevDataBuf(kSensorB, q[2].port), ext->GetUdpServerRevData(2));
        EXPECT_EQ(ext->GetUdpServerRevData(3), nullptr);
        EXPECT_EQ(ext->GetUdpServerRevData(-1), nullptr);
        CUdpReceiveData* fresh = ext->GetUdpRevDataBuf(Ip("198.18.0.9"), 1);
        ASSERT_NE(fresh, nullptr);
        EXPECT_EQ(fresh->GetDataCount(), 0);
        EXPECT_EQ(ext->GetUdpServerRevDataCount(), 4);
        ext->DeleteUdpServerRevData(3);
        ext->DeleteUdpServerRevData(7); // not an index: nothing
    }

    // Emptied records stay counted and add nothing to the total.
    {
        auto lock = ext->LockReceive();
        for (int i = 0; i < ext->GetUdpServerRevDataCount(); ++i) ext->GetUdpServerRevData(i)->DeleteAllData();
    }
    EXPECT_EQ(ext->GetUdpServerRevDataTotalLength(), 0);
    EXPECT_EQ(ext->GetUdpServerRevDataCount(), 3);
    ext->ClearUdpRevData();
    EXPECT_EQ(ext->GetUdpServerRevDataCount(), 0);
}

TEST_F(Endpoint, TheCallbackDecidesWhatIsQueued) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    m_offers.m_answer = 0;
    Fd peer = SensorUdp(kSensorA);
    ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, "refused"));
    ASSERT_TRUE(WaitUntil([&] { return m_offers.Bytes().size() == 1; }));
    m_offers.m_answer = 1;
    ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, "taken"));
    ASSERT_TRUE(WaitUntil([&] { return ext->GetUdpServerRevDataTotalLength() == 5; }));
    EXPECT_EQ(Queue(*ext)[0].blocks, std::vector<std::string>{"taken"});
}

TEST_F(Endpoint, TheStationsOwnDatagramsAreIgnored) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    Fd own = StationUdp(kStation);
    Fd loop = StationUdp(kLoopbackIPv4);
    ASSERT_TRUE(SendTo(own.get(), kStation, kPort, "own address"));
    ASSERT_TRUE(SendTo(loop.get(), kLoopbackIPv4, kPort, "loopback"));
    // Delivered before the sensor's datagram below is even sent, so dealt with first.
    Fd peer = SensorUdp(kSensorA);
    ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, "sensor"));
    ASSERT_TRUE(WaitUntil([&] { return ext->GetUdpServerRevDataTotalLength() == 6; }));
    EXPECT_EQ(m_offers.Bytes(), std::vector<std::string>{"sensor"});
    const auto q = Queue(*ext);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].ip, kSensorA);
    EXPECT_EQ(m_log.CountStartingWith("Udp UdpServer50300 Rev From:198.18.0.1:"), 0);
    EXPECT_EQ(m_log.CountStartingWith("Udp UdpServer50300 Rev From:127.0.0.1:"), 0);
}

TEST_F(Endpoint, ASendersRecordKeepsItsNewestDatagrams) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    Fd peer = SensorUdp(kSensorA);
    const int sent = CKxSocketExt::kMaxBlocksPerSender + 6;
    for (int i = 0; i < sent; ++i) {
        ASSERT_TRUE(SendTo(peer.get(), kStation, kPort, "d" + std::to_string(i)));
        if (i % 16 == 15) {
            ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(m_offers.Bytes().size()) == i + 1; }));
        }
    }
    const std::string last = "d" + std::to_string(sent - 1);
    ASSERT_TRUE(WaitUntil([&] {
        const auto q = Queue(*ext);
        return q.size() == 1 && !q[0].blocks.empty() && q[0].blocks.back() == last;
    }));
    const auto q = Queue(*ext);
    ASSERT_EQ(q[0].blocks.size(), static_cast<std::size_t>(CKxSocketExt::kMaxBlocksPerSender));
    EXPECT_EQ(q[0].blocks.front(), "d6");
    EXPECT_EQ(m_log.Count("Udp UdpServer50300 queue full, oldest data dropped!"), 1);
}

TEST_F(Endpoint, SendUdpUnicastAndBroadcast) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    Fd wildcard = SensorUdp(IPv4Bytes{0, 0, 0, 0}, 65530);
    EXPECT_EQ(ext->SendUdp(nullptr, 65530, "who is there", 12, -1), 1);
    auto got = ReceiveDatagram(wildcard.get());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "who is there");
    EXPECT_EQ(got->from, kStation);
    EXPECT_EQ(got->port, kPort);
    EXPECT_EQ(m_log.Count("Udp Send 255.255.255.255:65530 Success !data:who is there"), 1);

    Fd sensor = SensorUdp(kSensorB, 40000);
    EXPECT_EQ(ext->SendUdp(&kSensorB, 40000, "S", 1, 0), 1);
    got = ReceiveDatagram(sensor.get());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "S");
    EXPECT_EQ(m_log.Count("Udp Send 198.18.0.3:40000 Success !data:S"), 1);
}

TEST_F(Endpoint, BroadcastNeedsTheBroadcastFlag) {
    const SocketExtPtr ext = Udp(100, false);
    ASSERT_NE(ext, nullptr);
    Fd wildcard = SensorUdp(IPv4Bytes{0, 0, 0, 0}, 65530);
    EXPECT_EQ(ext->SendUdp(nullptr, 65530, "ping", 4, -1), 0);
    EXPECT_EQ(m_log.Count("Udp Send 255.255.255.255:65530 Failed !data:ping"), 1);
    EXPECT_FALSE(ReceiveDatagram(wildcard.get(), 200ms));
}

TEST_F(Endpoint, LongLogLinesAreShortenedNotLost) {
    const SocketExtPtr ext = Udp();
    ASSERT_NE(ext, nullptr);
    Fd sensor = SensorUdp(kSensorB, 40001);
    const std::string data(300, 'x');
    EXPECT_EQ(ext->SendUdp(&kSensorB, 40001, data.data(), static_cast<int>(data.size()), -1), 1);
    const auto lines = m_log.StartingWith("Udp Send 198.18.0.3:40001 Success !data:xxx");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LT(lines[0].size(), 100u);
    auto got = ReceiveDatagram(sensor.get());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, data);
}

// ---- TCP connections ----------------------------------------------------------------

// A connection accepted by the test and handed to the manager, as the listener's
// callback does; `peer` is the sensor's end.
class Connection : public Endpoint {
  protected:
    void SetUp() override {
        Endpoint::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_listen.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        SetReuse(m_listen.get());
        ASSERT_TRUE(Bind(m_listen.get(), IPv4Bytes{0, 0, 0, 0}, kPort));
        ASSERT_EQ(::listen(m_listen.get(), 4), 0);
    }
    SocketExtPtr Accept(const std::string& name, Fd& peer, int size = 200) {
        peer = SensorConnect(kSensorA, kPort);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        if (!Readable(m_listen.get(), 3000ms)) return nullptr;
        const int s = ::accept4(m_listen.get(), reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
        if (s < 0) return nullptr;
        SocketExtPtr ext = m_net.CreateTcpClientFromAcceptSocket(name, s, kPort, kSensorA, ntohs(from.sin_port), size);
        if (!ext) ::close(s);
        return ext;
    }
    Fd m_listen;
};

TEST_F(Connection, AFullBufferTakesNothingMoreUntilCleared) {
    Fd peer;
    const SocketExtPtr ext = Accept("TcpClientLab", peer);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->GetKind(), kKindTcpConnection);
    std::string sent;
    for (int i = 0; i < 300; ++i) sent += static_cast<char>('A' + i % 26 + (i >= 200 ? 6 : 0));
    ASSERT_TRUE(SendAll(peer.get(), sent));

    ASSERT_TRUE(WaitUntil([&] { return ext->GetReceiveCount() == 200; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ext->GetReceiveCount(), 200);
    EXPECT_EQ(Received(*ext), sent.substr(0, 200));
    {
        auto lock = ext->LockReceive();
        EXPECT_EQ(ext->GetReceiveBuffer()[200], '\0');
    }

    ext->ClearTcpReceiveBuffer();
    ASSERT_TRUE(WaitUntil([&] { return ext->GetReceiveCount() == 100; }));
    EXPECT_EQ(Received(*ext), sent.substr(200));

    ext->AddTcpRevCount(500); // clamped to the size
    EXPECT_EQ(ext->GetReceiveCount(), 200);
}

TEST_F(Connection, SendingRightAfterClearingTheBufferSucceeds) {
    // The poll cycle empties a connection's buffer and sends the next "S" at once; the
    // wake-up meant for the receive thread must not make the send fail.
    Fd peer;
    const SocketExtPtr ext = Accept("TcpClientLab", peer);
    ASSERT_NE(ext, nullptr);
    int sent = 0;
    for (int i = 0; i < 50; ++i) {
        ext->ClearTcpReceiveBuffer();
        sent += ext->SendTcp("S", 1, -1);
    }
    EXPECT_EQ(sent, 50);
    EXPECT_EQ(ReceiveStream(peer.get(), static_cast<std::size_t>(sent)), std::string(static_cast<std::size_t>(sent), 'S'));
}

TEST_F(Connection, AWakeUpNobodyTookDoesNotStopASend) {
    // A stream has no worker, so nothing takes the wake-ups of attaching and clearing
    // its buffer: a send must not mistake them for its own.
    Fd peer = SensorConnect(kSensorA, kPort);
    ASSERT_TRUE(Readable(m_listen.get(), 3000ms));
    const int s = ::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(s, 0);
    CKxSocketExt stream(kKindTcpStream, "Stream", s, &kSensorA, LocalPort(peer.get()), kPort, {}, {});
    EXPECT_EQ(stream.CheckThread(), 0);
    ASSERT_EQ(stream.SetReviceBufferSize(200), 1);
    stream.ClearTcpReceiveBuffer();
    EXPECT_EQ(stream.SendTcp("S", 1, -1), 1);
    EXPECT_EQ(ReceiveStream(peer.get(), 1), "S");
}

TEST_F(Connection, EachKindSendsOnlyItsOwnWay) {
    Fd peer;
    const SocketExtPtr conn = Accept("TcpClientLab", peer);
    ASSERT_NE(conn, nullptr);
    const SocketExtPtr udp = Udp(100, true, kPort + 1);
    ASSERT_NE(udp, nullptr);
    Fd sensor = SensorUdp(kSensorA, 40002);

    EXPECT_EQ(udp->SendTcp("S", 1, -1), 0);
    EXPECT_EQ(conn->SendUdp(&kSensorA, 40002, "S", 1, -1), 0);
    EXPECT_EQ(m_log.CountStartingWith("Udp Send "), 0);
    EXPECT_FALSE(ReceiveDatagram(sensor.get(), 200ms));
    EXPECT_FALSE(Readable(peer.get(), 200ms));

    EXPECT_EQ(conn->SendTcp("S", 1, -1), 1);
    EXPECT_EQ(ReceiveStream(peer.get(), 1), "S");
    EXPECT_EQ(m_log.Count("Tcp Send 198.18.0.2:" + std::to_string(conn->GetRemotePort()) + " Success!data:S"), 1);
}

TEST_F(Connection, APeerThatClosesIsDropped) {
    Fd peer;
    const SocketExtPtr ext = Accept("TcpClientLab", peer);
    ASSERT_NE(ext, nullptr);
    ASSERT_TRUE(SendAll(peer.get(), "+45.6,+23.4\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return ext->GetReceiveCount() == 13; }));
    EXPECT_EQ(m_log.Count("Tcp TcpClientLab Rev:+45.6,+23.4\r\n"), 1);
    peer.reset();
    ASSERT_TRUE(WaitUntil([&] { return ext->IsThreadEnded(); }));
    EXPECT_EQ(ext->GetSocket(), kInvalidSocket);
    EXPECT_EQ(m_log.Count("Socket:TcpClientLab Peer closed!"), 1);
    EXPECT_EQ(ext->SendTcp("S", 1, -1), 0);
    EXPECT_EQ(Received(*ext), "+45.6,+23.4\r\n"); // what came before the close is kept
}

TEST_F(Connection, ANewSocketIsUsedAtOnce) {
    Fd first;
    const SocketExtPtr ext = Accept("TcpClientLab", first);
    ASSERT_NE(ext, nullptr);
    Fd second = SensorConnect(kSensorA, kPort);
    ASSERT_TRUE(Readable(m_listen.get(), 3000ms));
    const int s = ::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(s, 0);
    const SocketHandle old = ext->SetSocketValue(s);
    ::close(old);
    EXPECT_TRUE(SeesEnd(first.get()));
    ASSERT_TRUE(SendAll(second.get(), "via second"));
    ASSERT_TRUE(WaitUntil([&] { return Received(*ext) == "via second"; }));
    EXPECT_EQ(ext->SendTcp("R", 1, -1), 1);
    EXPECT_EQ(ReceiveStream(second.get(), 1), "R");
}

// ---- close sequence -------------------------------------------------------------------

// The ordered "Socket:<name> ..." lines of one close; a thread may have ended just
// before its slot is looked at, or be waited for.
std::vector<Matcher<std::string>> CloseLines(const std::string& name, const char* socket, int kind, bool ended) {
    const std::string p = "Socket:" + name + " ";
    auto thread = [&](const char* label) -> Matcher<std::string> {
        if (ended) return Eq(p + label + " closed!");
        return AnyOf(Eq(p + label + " close![1]"), Eq(p + label + " closed!"));
    };
    return {Eq(p + "Start to close!"),
            Eq(p + socket),
            kind == kKindTcpListen ? thread("Accept Thread") : Eq(p + "No Accept Thread!"),
            kind == kKindTcpConnection ? thread("Receive Thread") : Eq(p + "No Receive Thread!"),
            kind == kKindUdp ? thread("ReceiveUdp Thread") : Eq(p + "No ReceiveUdp Thread!"),
            Eq(p + "End to close!")};
}

TEST_F(Connection, CloseSequences) {
    Fd peer, closedPeer;
    const SocketExtPtr udp = Udp(100, true, kPort + 1);
    const SocketExtPtr listener = m_net.CreateTcpListenSocket("TcpServer50302", kPort + 2, 40, {});
    const SocketExtPtr conn = Accept("TcpClientLab", peer);
    const SocketExtPtr gone = Accept("!XXX3", closedPeer);
    ASSERT_TRUE(udp && listener && conn && gone);
    // One buffer full, so its thread idles on the full buffer when asked to end.
    ASSERT_TRUE(SendAll(peer.get(), std::string(250, 'f')));
    ASSERT_TRUE(WaitUntil([&] { return conn->GetReceiveCount() == 200; }));
    closedPeer.reset();
    ASSERT_TRUE(WaitUntil([&] { return gone->IsThreadEnded(); }));

    struct Case {
        SocketExtPtr ext;
        const char* socket;
        bool ended;
    } cases[] = {
        {udp, "Socket close!", false},
        {listener, "Socket close!", false},
        {conn, "Socket close!", false},
        {gone, "Socket closed!", true},
    };
    for (const Case& c : cases) {
        const std::string name = c.ext->GetName();
        SCOPED_TRACE(name);
        EXPECT_EQ(m_net.ClosetSocket(name), 1);
        EXPECT_EQ(c.ext->IsClosing(), 1);
        EXPECT_THAT(CloseLog(name), ::testing::ElementsAreArray(CloseLines(name, c.socket, c.ext->GetKind(), c.ended)));
        EXPECT_EQ(c.ext->GetSocket(), kInvalidSocket);
        EXPECT_EQ(c.ext->CheckReceiveBuffer(), 0);
        EXPECT_EQ(c.ext->GetUdpServerRevDataCount(), 0);
    }
    EXPECT_TRUE(SeesEnd(peer.get()));

    // A holder may still use a closed endpoint: sends fail, closing again does nothing.
    const std::size_t before = m_log.Lines().size();
    EXPECT_EQ(udp->SendUdp(&kSensorA, 40003, "late", 4, -1), 0);
    EXPECT_EQ(m_log.Count("Udp Send 198.18.0.2:40003 Failed !data:late"), 1);
    udp->Close();
    conn->Close();
    EXPECT_EQ(m_log.Lines().size(), before + 1);
}

TEST_F(Endpoint, ClosingWithoutASocketStillEndsTheThread) {
    auto ext = std::make_unique<CKxSocketExt>(kKindUdp, "NoSocket", kInvalidSocket, nullptr, 0, 0, TcpAcceptFn{},
                                              m_offers.Fn());
    EXPECT_EQ(ext->CheckThread(), 1);
    ext->Close();
    EXPECT_THAT(CloseLog("NoSocket"), ::testing::ElementsAreArray(CloseLines("NoSocket", "Socket closed!", kKindUdp, false)));
    EXPECT_TRUE(ext->IsThreadEnded());
    ext.reset(); // the destructor's close does nothing more
    EXPECT_EQ(m_log.CountStartingWith("Socket:NoSocket "), 6);
}

TEST_F(Endpoint, ListenerHandsOverEachConnection) {
    struct Accepted {
        IPv4Bytes ip;
        std::uint16_t port;
    };
    std::mutex lock;
    std::vector<Accepted> accepted;
    const SocketExtPtr listener = m_net.CreateTcpListenSocket(
        "TcpServer50300", kPort, 40, [&](CKxSocketExt* l, const IPv4Bytes& ip, std::uint16_t port, SocketHandle s) {
            EXPECT_EQ(l->GetLocalPort(), kPort);
            ::close(s);
            std::lock_guard g(lock);
            accepted.push_back({ip, port});
        });
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(listener->GetKind(), kKindTcpListen);
    EXPECT_EQ(m_log.WaitFor("Tcp Accept Thread Start!"), true);
    Fd a = SensorConnect(kSensorA, kPort);
    Fd b = SensorConnect(kSensorB, kPort);
    const bool both = WaitUntil([&] {
        std::lock_guard g(lock);
        return accepted.size() == 2;
    });
    m_net.ClosetSocket("TcpServer50300"); // the callback's captures end with this test
    ASSERT_TRUE(both);
    EXPECT_EQ(accepted[0].ip, kSensorA);
    EXPECT_EQ(accepted[0].port, LocalPort(a.get()));
    EXPECT_EQ(accepted[1].ip, kSensorB);
    EXPECT_EQ(accepted[1].port, LocalPort(b.get()));
    EXPECT_TRUE(SeesEnd(a.get()));
}

} // namespace
} // namespace hygro
