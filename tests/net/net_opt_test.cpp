#include "net/net_opt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net_test_support.h"

namespace hygro {
namespace {

using namespace test;

std::vector<NetAdapter> Adapters(std::initializer_list<const char*> addresses) {
    std::vector<NetAdapter> out;
    unsigned index = 1;
    for (const char* a : addresses) out.push_back({"if" + std::to_string(index), Ip(a), index++});
    return out;
}

// A manager over an adapter list the test controls; nullopt makes the source fail.
class AdapterChoice : public NetTest {
  protected:
    std::optional<std::vector<NetAdapter>> m_list;
    CWiFiSensorNetOpt m_net{[this] { return m_list; }};
};

TEST_F(AdapterChoice, InitChoosesTheFirstAddressThatIsNotLoopback) {
    struct Case {
        std::vector<NetAdapter> adapters;
        const char* chosen;
    } cases[] = {
        {Adapters({"127.0.0.1", "0.0.0.0", "192.168.1.5"}), "0.0.0.0"}, // unconfigured counts like any other
        {Adapters({"192.168.1.5", "10.0.0.7"}), "192.168.1.5"},
        {Adapters({"127.0.0.1"}), "127.0.0.1"},
        {{}, "127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        m_net.SetLocalIP(kLoopbackIPv4);
        m_list = c.adapters;
        EXPECT_EQ(m_net.Init(), 1);
        EXPECT_EQ(m_net.GetLocalIP(), Ip(c.chosen));
    }
}

TEST_F(AdapterChoice, InitKeepsAnAddressAlreadyChosen) {
    m_list = Adapters({"127.0.0.1", "10.0.0.7", "192.168.1.5"});
    m_net.SetLocalIP(Ip("192.168.1.5"));
    m_net.Init();
    EXPECT_EQ(m_net.GetLocalIP(), Ip("192.168.1.5"));
}

TEST_F(AdapterChoice, ChangeLocalIPMovesToTheNextAdapterAndWraps) {
    struct Case {
        const char* local;
        const char* next;
    } cases[] = {
        {"10.0.0.3", "10.0.0.1"}, // last wraps to first
        {"10.0.0.1", "10.0.0.2"},
        {"10.0.0.2", "10.0.0.3"},
        {"172.16.0.9", "172.16.0.9"}, // not an adapter's: unchanged
    };
    m_list = Adapters({"127.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.3"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.local);
        m_net.SetLocalIP(Ip(c.local));
        m_net.Init(); // reads the list the change walks
        m_net.ChangeLocalIP();
        EXPECT_EQ(m_net.GetLocalIP(), Ip(c.next));
    }
}

TEST_F(AdapterChoice, ChangeLocalIPWithOneAdapterStays) {
    m_list = Adapters({"127.0.0.1", "10.0.0.1"});
    m_net.Init();
    m_net.ChangeLocalIP();
    EXPECT_EQ(m_net.GetLocalIP(), Ip("10.0.0.1"));
}

TEST_F(AdapterChoice, HasAnotherNetworkcard) {
    struct Case {
        std::vector<NetAdapter> adapters;
        const char* local;
        int another;
    } cases[] = {
        {Adapters({"127.0.0.1", "10.0.0.1"}), "10.0.0.1", 0},
        {Adapters({"127.0.0.1", "10.0.0.1", "10.0.0.2"}), "10.0.0.1", 1},
        {Adapters({"10.0.0.2", "127.0.0.1", "10.0.0.1"}), "10.0.0.1", 1},
        {Adapters({"127.0.0.1"}), "127.0.0.1", 0},
        {{}, "127.0.0.1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.local);
        m_list = c.adapters;
        m_net.SetLocalIP(Ip(c.local));
        EXPECT_EQ(m_net.HasAnotherNetworkcard(), c.another);
    }
}

TEST_F(AdapterChoice, LoopbackIsAlwaysLocal) {
    m_list = Adapters({"127.0.0.1", "10.0.0.1"});
    m_net.Init();
    ASSERT_EQ(m_net.GetLocalIP(), Ip("10.0.0.1"));
    EXPECT_EQ(m_net.IsLocalIP(kLoopbackIPv4), 1);
    EXPECT_EQ(m_net.IsLocalIP(Ip("10.0.0.1")), 1);
    EXPECT_EQ(m_net.IsLocalIP(Ip("10.0.0.2")), 0);
    EXPECT_EQ(m_net.IsLocalIP(Ip("127.0.0.2")), 0);
}

TEST_F(AdapterChoice, FailingAdapterSourceChangesNothing) {
    m_list = std::nullopt;
    m_net.Init();
    EXPECT_EQ(m_net.GetLocalIP(), kLoopbackIPv4);
    EXPECT_EQ(m_net.HasAnotherNetworkcard(), 0);

    // A list read earlier survives a later failure: the change still walks it.
    m_list = Adapters({"127.0.0.1", "10.0.0.1", "10.0.0.2"});
    m_net.Init();
    ASSERT_EQ(m_net.GetLocalIP(), Ip("10.0.0.1"));
    m_list = std::nullopt;
    m_net.UpdateAdapterInfo();
    m_net.Init();
    EXPECT_EQ(m_net.GetLocalIP(), Ip("10.0.0.1"));
    m_net.ChangeLocalIP();
    EXPECT_EQ(m_net.GetLocalIP(), Ip("10.0.0.2"));
}

TEST_F(AdapterChoice, BroadcastInterfaceIsTheOneOwningTheStationAddress) {
    m_list = Adapters({"127.0.0.1", "10.0.0.1", "10.0.0.2"});
    m_net.SetLocalIP(Ip("10.0.0.2"));
    m_net.Init();
    EXPECT_EQ(m_net.LocalInterfaceIndex(), 3u);
    m_net.SetLocalIP(Ip("172.16.0.1"));
    EXPECT_EQ(m_net.LocalInterfaceIndex(), 0u);
}

// ---- registry ---------------------------------------------------------------------

class Registry : public NetTest {
  protected:
    static int Queue1(CKxSocketExt*, const IPv4Bytes&, std::uint16_t, const char*, int) { return 1; }
    SocketExtPtr Udp(const std::string& name, std::uint16_t port) {
        return m_net.CreateUdpServerSocket(name, port, 100, Queue1, false);
    }
    CWiFiSensorNetOpt m_net;
};

TEST_F(Registry, ListenerNeedsAPortButUdpDoesNot) {
    EXPECT_EQ(m_net.CreateTcpListenSocket("TcpServer0", 0, 40, {}), nullptr);
    EXPECT_EQ(m_net.GetSocketExt("TcpServer0"), nullptr);
    const SocketExtPtr udp = Udp("UdpServer0", 0);
    ASSERT_NE(udp, nullptr);
    EXPECT_NE(LocalPort(udp->GetSocket()), 0);
}

TEST_F(Registry, ATakenNameIsRefusedAndTheFirstEndpointKeepsWorking) {
    const SocketExtPtr first = Udp("Shared", 50310);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Udp("Shared", 50311), nullptr);
    EXPECT_EQ(m_net.CreateTcpListenSocket("Shared", 50312, 40, {}), nullptr);
    EXPECT_EQ(m_net.GetSocketExt("Shared"), first);
    EXPECT_EQ(m_net.GetSocketExt(first->GetSocket()), first);

    // The refused create left nothing bound on its port.
    EXPECT_NE(Udp("Other", 50311), nullptr);

    Fd peer = SensorUdp(Ip("198.18.0.2"));
    ASSERT_TRUE(SendTo(peer.get(), kStation, 50310, "still here"));
    ASSERT_TRUE(WaitUntil([&] { return first->GetUdpServerRevDataCount() == 1; }));
    EXPECT_EQ(Queue(*first)[0].blocks, std::vector<std::string>{"still here"});
}

TEST_F(Registry, SocketKeyFollowsSocketValueChange) {
    const SocketExtPtr ext = Udp("UdpServer50313", 50313);
    ASSERT_NE(ext, nullptr);
    const SocketHandle old = ext->GetSocket();
    const SocketHandle moved = old + 1000;
    EXPECT_EQ(m_net.SocketValueChange(old, moved), 1);
    EXPECT_EQ(m_net.GetSocketExt(old), nullptr);
    EXPECT_EQ(m_net.GetSocketExt(moved), ext);
    EXPECT_EQ(m_net.SocketValueChange(old, moved + 1), 0);

    // Closing by name drops the moved key as well.
    EXPECT_EQ(m_net.ClosetSocket("UdpServer50313"), 1);
    EXPECT_EQ(m_net.GetSocketExt(moved), nullptr);
    EXPECT_EQ(m_net.GetSocketExt("UdpServer50313"), nullptr);
}

TEST_F(Registry, RenameMovesTheNameKey) {
    const SocketExtPtr ext = Udp("!AB12", 50314);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(m_net.SocketNameChange("!AB12", "TcpClientLab"), 1);
    EXPECT_EQ(m_net.GetSocketExt("!AB12"), nullptr);
    EXPECT_EQ(m_net.GetSocketExt("TcpClientLab"), ext);
    EXPECT_EQ(ext->GetName(), "TcpClientLab");
    EXPECT_EQ(m_net.GetSocketExt(ext->GetSocket()), ext);
    EXPECT_THAT(m_net.EndpointNames(), ::testing::ElementsAre("TcpClientLab"));
}

TEST_F(Registry, UnknownNamesAreRefused) {
    EXPECT_EQ(m_net.ClosetSocket("nobody"), 0); // with nothing registered
    const SocketExtPtr ext = Udp("known", 50315);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(m_net.ClosetSocket("nobody"), 0);
    EXPECT_EQ(m_net.SocketNameChange("nobody", "known2"), 0);
    EXPECT_THAT(m_net.EndpointNames(), ::testing::ElementsAre("known"));
    EXPECT_EQ(ext->GetName(), "known");
    EXPECT_EQ(ext->IsClosing(), 0);
}

TEST_F(Registry, ClearMemBufferClosesEveryEndpointInNameOrder) {
    const SocketExtPtr b = Udp("B", 50316);
    const SocketExtPtr a = Udp("A", 50317);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(m_net.ClearMemBuffer(), 1);
    EXPECT_TRUE(m_net.EndpointNames().empty());
    EXPECT_EQ(a->IsClosing(), 1);
    EXPECT_EQ(b->IsClosing(), 1);
    EXPECT_THAT(m_log.StartingWith("Delete Dev socket mem "),
                ::testing::ElementsAre("Delete Dev socket mem A!", "Delete Dev socket mem B!"));
    // Both ports are free again.
    EXPECT_NE(Udp("A", 50317), nullptr);
    EXPECT_NE(Udp("B", 50316), nullptr);
}

TEST_F(Registry, AutoPortsAreFreePorts) {
    for (const auto& [type, port] : {std::pair{SOCK_DGRAM, GetAutoLocalUDPPort()}, {SOCK_STREAM, GetAutoLocalTCPPort()}}) {
        ASSERT_NE(port, 0);
        Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
        EXPECT_TRUE(Bind(fd.get(), IPv4Bytes{0, 0, 0, 0}, port)) << port;
    }
}

} // namespace
} // namespace hygro
