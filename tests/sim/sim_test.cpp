// The simulator seen from the station: plain sockets at 198.18.0.1, the
// simulator in the sensors' namespace (tests/support/run_in_netns.sh).
#include "sim_harness.h"
#include "support/temp_dir.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>

namespace hygro::test {
namespace {

const std::string kStation = "198.18.0.1";
const std::string kBroadcast = "255.255.255.255";
constexpr std::uint16_t kCommandPort = 65530;

bool IsReading(const std::string& s) {
    static const std::regex form(R"([+-]\d{1,2}\.\d,[+-]\d{1,2}\.\d\r\n)");
    return s.size() >= 11 && s.size() <= 13 && std::regex_match(s, form);
}

struct Values {
    double humidity = NAN;
    double temperature = NAN;
};
Values Parse(const std::string& reading) {
    Values v;
    std::sscanf(reading.c_str(), "%lf,%lf", &v.humidity, &v.temperature);
    return v;
}

std::string Shown(std::string s) { // for failure messages
    for (std::size_t i = 0; (i = s.find_first_of("\r\n", i)) != std::string::npos;)
        s.replace(i, 1, s[i] == '\r' ? "\\r" : "\\n");
    return s;
}

std::string Message(const std::string& verb, std::uint16_t port) {
    return "@KV-WiFi," + verb + "," + kStation + "," + std::to_string(port) + "\r\n";
}

std::string SearchReply(const char* serial6, const char* version = "1.00") {
    return std::string("@WiFi Sensor/T VER") + version + "," + serial6 + "\r\n";
}

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetns()) GTEST_SKIP() << "needs the namespaces of tests/support/run_in_netns.sh";
        command = UdpSocket(true);
        ASSERT_TRUE(command.valid());
        commandPort = LocalPort(command.get());
    }

    void TearDown() override {
        if (!sim) return;
        // A crash or a sanitizer report anywhere in the run shows up here.
        EXPECT_EQ(sim->Stop(SIGTERM), 0) << "the simulator did not end cleanly";
        if (HasFailure()) std::cerr << "---- simulator log ----\n" << sim->Text();
        sim.reset();
    }

    // A --duration bounds every run even if the test dies without stopping it.
    void Start(std::vector<std::string> args) {
        args.insert(args.end(), {"--duration", "30"});
        sim.emplace(SimCommand(args));
        ASSERT_TRUE(sim->started());
        ASSERT_TRUE(sim->WaitForStart("ready ", 3000ms)) << sim->Text();
    }

    std::size_t Mark() { return sim->Lines().size(); }

    void Search(const std::string& to = kBroadcast) {
        ASSERT_TRUE(SendTo(command.get(), to, kCommandPort, Message("SEARCH", commandPort)));
    }

    // Returns once the sensor's data socket is open, so that an "S" sent next
    // cannot arrive before it.
    void ConnectUdp(const std::string& sensor, std::uint16_t port) {
        const std::size_t mark = Mark();
        ASSERT_TRUE(SendTo(command.get(), sensor, kCommandPort, Message("CONNECT UDP", port)));
        ASSERT_TRUE(sim->WaitFor(sensor + " udp data port " + std::to_string(port), 2000ms, mark));
    }

    void ConnectTcp(const std::string& sensor, std::uint16_t port) {
        ASSERT_TRUE(SendTo(command.get(), sensor, kCommandPort, Message("CONNECT TCP", port)));
    }

    std::optional<Datagram> PollUdp(int data, const std::string& sensor, std::uint16_t port) {
        EXPECT_TRUE(SendTo(data, sensor, port, "S"));
        return Receive(data, 1000ms);
    }

    // After the simulator has logged that it keeps quiet, nothing may arrive.
    void ExpectNoAnswer(int data, const std::string& sensor, std::uint16_t port, std::string_view why) {
        const std::size_t mark = Mark();
        ASSERT_TRUE(SendTo(data, sensor, port, "S"));
        EXPECT_TRUE(sim->WaitFor(sensor + " ignores S (" + std::string(why) + ")", 2000ms, mark));
        const auto stray = Receive(data, 50ms);
        EXPECT_FALSE(stray) << Shown(stray->bytes);
    }

    Fd Listener() {
        Fd fd = TcpBound();
        EXPECT_EQ(::listen(fd.get(), 8), 0);
        return fd;
    }

    Fd command;
    std::uint16_t commandPort = 0;
    std::optional<SimProcess> sim;
};

// ---- search ------------------------------------------------------------------

TEST_F(SimTest, BroadcastSearchGetsOneExactReplyFromEachSensorAddress) {
    Start({"--sensor", "198.18.0.2,42", "--sensor", "198.18.0.3", "--sensor", "198.18.0.5,999999"});
    Search();
    const auto replies = ReceiveAll(command.get(), 300ms);

    std::map<std::string, std::string> got;
    for (const auto& d : replies) {
        EXPECT_EQ(d.port, kCommandPort) << d.ip;
        got[d.ip] = d.bytes;
    }
    EXPECT_EQ(replies.size(), 3u);
    // A --sensor without serial takes 1001 + its position.
    const std::map<std::string, std::string> expected = {
        {"198.18.0.2", SearchReply("000042")},
        {"198.18.0.3", SearchReply("001002")},
        {"198.18.0.5", SearchReply("999999")},
    };
    EXPECT_EQ(got, expected);
    for (const auto& [ip, bytes] : got)
        EXPECT_EQ(bytes.size(), 31u) << ip;

    const std::string port = std::to_string(commandPort);
    EXPECT_TRUE(sim->WaitFor("198.18.0.2 <- SEARCH 198.18.0.1:" + port));
    EXPECT_TRUE(sim->WaitFor("198.18.0.2 -> reply 000042"));
}

TEST_F(SimTest, SearchIsAnsweredByTheSensorsItIsAddressedTo) {
    Start({"--count", "3"});
    const struct {
        std::string to;
        std::set<std::string> repliers;
    } cases[] = {
        {"198.18.0.3", {"198.18.0.3"}},
        {"198.18.0.255", {"198.18.0.2", "198.18.0.3", "198.18.0.4"}},
        // Configured in the namespace, but no sensor's.
        {"198.18.0.6", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Search(c.to);
        std::set<std::string> repliers;
        const auto replies = ReceiveAll(command.get(), 200ms);
        for (const auto& d : replies)
            repliers.insert(d.ip);
        EXPECT_EQ(replies.size(), repliers.size()) << "one reply per sensor";
        EXPECT_EQ(repliers, c.repliers);
    }
    EXPECT_TRUE(sim->WaitFor("ignored datagram to 198.18.0.6"));
}

TEST_F(SimTest, SearchFaultsChangeOrSuppressTheReply) {
    Start({"--count", "4", "--fault", "1002:no-search", "--fault", "1003:old-version", "--fault",
           "1004:short-reply"});
    Search();
    std::map<std::string, std::string> got;
    for (const auto& d : ReceiveAll(command.get(), 300ms))
        got[d.ip] = d.bytes;

    const std::map<std::string, std::string> expected = {
        {"198.18.0.2", SearchReply("001001")},
        {"198.18.0.4", SearchReply("001003", "0.90")},
        {"198.18.0.5", SearchReply("001004").substr(0, 30)},
    };
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(sim->WaitFor("198.18.0.3 ignores SEARCH (no-search)"));
}

// ---- UDP mode ----------------------------------------------------------------

TEST_F(SimTest, UdpPollIsAnsweredFromTheDataPortUntilR) {
    Start({"--count", "2"});
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());
    const std::string sensor = "198.18.0.2";
    ConnectUdp(sensor, port);

    for (int i = 0; i < 5; ++i) {
        const auto d = PollUdp(data.get(), sensor, port);
        ASSERT_TRUE(d) << "poll " << i;
        EXPECT_EQ(d->ip, sensor);
        EXPECT_EQ(d->port, port); // the sensor's data side is its address at the station's data port
        ASSERT_TRUE(IsReading(d->bytes)) << Shown(d->bytes);
        const Values v = Parse(d->bytes);
        EXPECT_GE(v.humidity, 30.0);
        EXPECT_LE(v.humidity, 70.0);
        EXPECT_GE(v.temperature, 15.0);
        EXPECT_LE(v.temperature, 25.0);
        EXPECT_TRUE(sim->WaitFor(sensor + " -> " + d->bytes.substr(0, d->bytes.size() - 2)));
    }

    ASSERT_TRUE(SendTo(data.get(), sensor, port, "R"));
    ExpectNoAnswer(data.get(), sensor, port, "not connected");
    EXPECT_TRUE(sim->WaitFor(sensor + " <- R"));

    ConnectUdp(sensor, port);
    const auto again = PollUdp(data.get(), sensor, port);
    ASSERT_TRUE(again);
    EXPECT_TRUE(IsReading(again->bytes)) << Shown(again->bytes);
}

TEST_F(SimTest, ReadingsFollowTheScriptThenTheFixedValue) {
    TempDir dir;
    WriteFile(dir / "script", "# serial humidity temperature\n"
                              "1001 12.3 -4.5\n"
                              "\n"
                              "1002 0 0\n"
                              "1001 99 80   # comment after values\n");
    Start({"--count", "2", "--script", (dir / "script").string(), "--fixed", "1001=45.6,23.4", "--fixed",
           "1002=5,-3.2"});
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());

    const struct {
        std::string sensor;
        std::vector<std::string> answers;
    } cases[] = {
        {"198.18.0.2", {"+12.3,-4.5\r\n", "+99.0,+80.0\r\n", "+45.6,+23.4\r\n", "+45.6,+23.4\r\n"}},
        {"198.18.0.3", {"+0.0,+0.0\r\n", "+5.0,-3.2\r\n"}},
    };
    for (const auto& c : cases) {
        ConnectUdp(c.sensor, port);
        for (const auto& expected : c.answers) {
            const auto d = PollUdp(data.get(), c.sensor, port);
            ASSERT_TRUE(d) << c.sensor;
            EXPECT_EQ(d->ip, c.sensor);
            EXPECT_EQ(d->bytes, expected) << c.sensor;
        }
    }
}

TEST_F(SimTest, TheRandomWalkIsSlowAndRepeatsForTheSameSeed) {
    auto walk = [&](const char* seed) {
        Start({"--count", "1", "--seed", seed});
        Fd data = UdpSocket();
        const std::uint16_t port = LocalPort(data.get());
        ConnectUdp("198.18.0.2", port);
        std::vector<std::string> readings;
        for (int i = 0; i < 6; ++i) {
            const auto d = PollUdp(data.get(), "198.18.0.2", port);
            readings.push_back(d ? d->bytes : "(none)");
        }
        sim.reset();
        return readings;
    };
    const auto a = walk("7");
    const auto b = walk("7");
    const auto c = walk("8");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    for (std::size_t i = 1; i < a.size(); ++i) {
        const Values prev = Parse(a[i - 1]);
        const Values next = Parse(a[i]);
        EXPECT_LE(std::fabs(next.humidity - prev.humidity), 0.6) << Shown(a[i]);
        EXPECT_LE(std::fabs(next.temperature - prev.temperature), 0.3) << Shown(a[i]);
    }
}

TEST_F(SimTest, PollFaultsOverUdp) {
    Start({"--count", "4", "--fault", "1001:silent", "--fault", "1002:silent-after=2", "--fault",
           "1003:error-values", "--fault", "1004:malformed"});
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());

    const std::string reading = "a reading";
    const struct {
        std::string sensor;
        std::string why; // in "ignores S (why)"
        std::vector<std::optional<std::string>> answers;
    } cases[] = {
        {"198.18.0.2", "silent", {std::nullopt, std::nullopt}},
        {"198.18.0.3", "silent-after", {reading, reading, std::nullopt, std::nullopt}},
        {"198.18.0.4", "", {"+99.9,+80.0\r\n", "+99.9,+80.0\r\n"}},
        {"198.18.0.5", "", {"ERR\r\n", "ERR\r\n"}},
    };
    for (const auto& c : cases) {
        ConnectUdp(c.sensor, port);
        for (std::size_t i = 0; i < c.answers.size(); ++i) {
            SCOPED_TRACE(c.sensor + " poll " + std::to_string(i));
            const auto& expected = c.answers[i];
            if (!expected) {
                ExpectNoAnswer(data.get(), c.sensor, port, c.why);
                continue;
            }
            const auto d = PollUdp(data.get(), c.sensor, port);
            ASSERT_TRUE(d);
            if (*expected == reading)
                EXPECT_TRUE(IsReading(d->bytes)) << Shown(d->bytes);
            else
                EXPECT_EQ(d->bytes, *expected);
        }
    }
    EXPECT_TRUE(sim->WaitFor("198.18.0.4 -> +99.9,+80.0 (error-values)"));
    EXPECT_TRUE(sim->WaitFor("198.18.0.5 -> ERR (malformed)"));
}

// ---- TCP mode ----------------------------------------------------------------

TEST_F(SimTest, TcpConnectThenPollsOnTheConnectionAndRClosesIt) {
    Start({"--count", "2"});
    Fd listener = Listener();
    const std::uint16_t port = LocalPort(listener.get());
    ConnectTcp("198.18.0.3", port);

    auto conn = Accept(listener.get());
    ASSERT_TRUE(conn);
    EXPECT_EQ(conn->ip, "198.18.0.3"); // from the sensor's own address
    EXPECT_TRUE(sim->WaitFor("198.18.0.3 tcp connected 198.18.0.1:" + std::to_string(port)));
    StreamReader in(conn->fd.get());

    ASSERT_TRUE(SendAll(conn->fd.get(), "S"));
    const auto first = in.Line();
    ASSERT_TRUE(first);
    EXPECT_TRUE(IsReading(*first)) << Shown(*first);

    // Each "S" byte is a poll of its own, even when they arrive together.
    ASSERT_TRUE(SendAll(conn->fd.get(), "SS"));
    for (int i = 0; i < 2; ++i) {
        const auto line = in.Line();
        ASSERT_TRUE(line) << i;
        EXPECT_TRUE(IsReading(*line)) << Shown(*line);
    }

    ASSERT_TRUE(SendAll(conn->fd.get(), "R"));
    EXPECT_TRUE(in.AtEnd());
    EXPECT_TRUE(sim->WaitFor("198.18.0.3 tcp closed (R)"));
    EXPECT_FALSE(Accept(listener.get(), 300ms)) << "R must not make the sensor connect again";
}

TEST_F(SimTest, TcpConnectIsRetriedWhileRefused) {
    Start({"--count", "1"});
    Fd server = TcpBound(); // bound but not yet listening: connections are refused
    const std::uint16_t port = LocalPort(server.get());
    ConnectTcp("198.18.0.2", port);
    ASSERT_TRUE(sim->WaitFor("198.18.0.2 tcp connect 198.18.0.1:" + std::to_string(port) +
                             " failed: Connection refused, retrying"));
    ASSERT_EQ(::listen(server.get(), 8), 0);
    const auto conn = Accept(server.get(), 2000ms);
    ASSERT_TRUE(conn);
    EXPECT_EQ(conn->ip, "198.18.0.2");
}

TEST_F(SimTest, ANewConnectReplacesTheTcpConnection) {
    Start({"--count", "1"});
    Fd listener = Listener();
    const std::uint16_t port = LocalPort(listener.get());
    ConnectTcp("198.18.0.2", port);
    auto first = Accept(listener.get());
    ASSERT_TRUE(first);
    // Our accept can finish before the simulator has seen its connect complete.
    ASSERT_TRUE(sim->WaitFor("198.18.0.2 tcp connected"));

    ConnectTcp("198.18.0.2", port);
    auto second = Accept(listener.get());
    ASSERT_TRUE(second);
    EXPECT_TRUE(StreamReader(first->fd.get()).AtEnd());
    EXPECT_TRUE(sim->WaitFor("198.18.0.2 tcp closed (new CONNECT)"));

    ASSERT_TRUE(SendAll(second->fd.get(), "S"));
    const auto line = StreamReader(second->fd.get()).Line();
    ASSERT_TRUE(line);
    EXPECT_TRUE(IsReading(*line)) << Shown(*line);
}

TEST_F(SimTest, ReconnectEveryClosesAfterNAnswersAndConnectsAgain) {
    Start({"--count", "1", "--fault", "1001:reconnect-every=2"});
    Fd listener = Listener();
    ConnectTcp("198.18.0.2", LocalPort(listener.get()));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("connection " + std::to_string(round));
        auto conn = Accept(listener.get());
        ASSERT_TRUE(conn);
        StreamReader in(conn->fd.get());
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(SendAll(conn->fd.get(), "S"));
            const auto line = in.Line();
            ASSERT_TRUE(line) << i;
            EXPECT_TRUE(IsReading(*line)) << Shown(*line);
        }
        EXPECT_TRUE(in.AtEnd());
    }
    EXPECT_EQ(sim->Count("198.18.0.2 tcp closed (reconnect-every)"), 2u);
}

// ---- answers in two parts -----------------------------------------------------

TEST_F(SimTest, SplitAnswersArriveInTwoPartsOverUdpAndTcp) {
    Start({"--count", "1", "--fault", "1001:split"});
    const std::string sensor = "198.18.0.2";

    Fd data = UdpSocket();
    const std::uint16_t dataPort = LocalPort(data.get());
    ConnectUdp(sensor, dataPort);
    const auto head = PollUdp(data.get(), sensor, dataPort);
    const auto tail = Receive(data.get());
    ASSERT_TRUE(head && tail);
    EXPECT_EQ(tail->ip, sensor);
    EXPECT_EQ(tail->port, dataPort);
    EXPECT_FALSE(head->bytes.empty());
    EXPECT_FALSE(tail->bytes.empty());
    EXPECT_TRUE(IsReading(head->bytes + tail->bytes)) << Shown(head->bytes + tail->bytes);

    Fd listener = Listener();
    ConnectTcp(sensor, LocalPort(listener.get()));
    auto conn = Accept(listener.get());
    ASSERT_TRUE(conn);
    StreamReader in(conn->fd.get());
    ASSERT_TRUE(SendAll(conn->fd.get(), "S"));
    const auto part1 = in.Some();
    const auto t1 = SteadyClock::now();
    const auto part2 = in.Some();
    const auto t2 = SteadyClock::now();
    ASSERT_TRUE(part1 && part2);
    EXPECT_FALSE(IsReading(*part1)) << "the first write is only part of the reading";
    EXPECT_TRUE(IsReading(*part1 + *part2)) << Shown(*part1 + *part2);
    EXPECT_GE(t2 - t1, 30ms) << "the second write comes about 50 ms later";
}

// ---- outages -------------------------------------------------------------------

TEST_F(SimTest, AnOutageForgetsTheStationAndIgnoresEverythingUntilPowerReturns) {
    // 198.18.0.2 talks UDP, 198.18.0.3 TCP; both are on for 2 s, then off for 2 s.
    Start({"--count", "2", "--fault", "1001:outage=2/2", "--fault", "1002:outage=2/2"});
    const std::string udpSensor = "198.18.0.2", tcpSensor = "198.18.0.3";
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());
    Fd listener = Listener();
    const std::uint16_t tcpPort = LocalPort(listener.get());

    ConnectUdp(udpSensor, port);
    ASSERT_TRUE(PollUdp(data.get(), udpSensor, port));
    ConnectTcp(tcpSensor, tcpPort);
    auto conn = Accept(listener.get());
    ASSERT_TRUE(conn);

    ASSERT_TRUE(sim->WaitFor(udpSensor + " outage begins", 3000ms));
    ASSERT_TRUE(sim->WaitFor(tcpSensor + " outage begins", 500ms));
    EXPECT_TRUE(StreamReader(conn->fd.get()).AtEnd()) << "power loss ends the connection";
    EXPECT_TRUE(sim->WaitFor(tcpSensor + " tcp closed (outage)"));
    ExpectNoAnswer(data.get(), udpSensor, port, "outage");
    std::size_t mark = Mark();
    Search();
    ASSERT_TRUE(SendTo(command.get(), udpSensor, kCommandPort, Message("CONNECT UDP", port)));
    ASSERT_TRUE(SendTo(command.get(), tcpSensor, kCommandPort, Message("CONNECT TCP", tcpPort)));
    EXPECT_TRUE(sim->WaitFor(udpSensor + " ignores CONNECT (outage)", 1000ms, mark));
    EXPECT_TRUE(sim->WaitFor(tcpSensor + " ignores CONNECT (outage)", 1000ms, mark));
    EXPECT_EQ(sim->Count("ignores SEARCH (outage)", mark), 2u);
    EXPECT_TRUE(ReceiveAll(command.get(), 100ms).empty());
    EXPECT_FALSE(Accept(listener.get(), 100ms));

    // Back on, each waits for a CONNECT like after power-on.
    ASSERT_TRUE(sim->WaitFor(udpSensor + " outage ends", 2500ms));
    ASSERT_TRUE(sim->WaitFor(tcpSensor + " outage ends", 500ms));
    ExpectNoAnswer(data.get(), udpSensor, port, "not connected");
    EXPECT_FALSE(Accept(listener.get(), 200ms)) << "no connection without a CONNECT";
    ConnectUdp(udpSensor, port);
    const auto d = PollUdp(data.get(), udpSensor, port);
    ASSERT_TRUE(d);
    EXPECT_TRUE(IsReading(d->bytes)) << Shown(d->bytes);
    ConnectTcp(tcpSensor, tcpPort);
    auto again = Accept(listener.get());
    ASSERT_TRUE(again);
    ASSERT_TRUE(SendAll(again->fd.get(), "S"));
    const auto line = StreamReader(again->fd.get()).Line();
    ASSERT_TRUE(line);
    EXPECT_TRUE(IsReading(*line)) << Shown(*line);
}

// ---- the rogue peer ---------------------------------------------------------------

TEST_F(SimTest, TheFloodIsBoundedInCountAndRateAndComesFromTheRogueAlone) {
    const struct {
        unsigned count, size, ports, rate;
    } cases[] = {{40, 100, 2, 200}, {6, 65507, 1, 50}, {8, 5, 1, 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        Fd a = UdpSocket(), b = UdpSocket();
        for (int fd : {a.get(), b.get()}) {
            const int big = 4 << 20;
            if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
                setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        }
        const auto start = SteadyClock::now();
        Start({"--rogue", "198.18.0.9", "--flood-to", kStation + ":" + std::to_string(LocalPort(a.get())),
               "--flood-to", kStation + ":" + std::to_string(LocalPort(b.get())), "--flood-count",
               std::to_string(c.count), "--flood-size", std::to_string(c.size), "--flood-ports",
               std::to_string(c.ports), "--flood-rate", std::to_string(c.rate)});
        ASSERT_TRUE(sim->WaitFor("rogue flood done: " + std::to_string(c.count) + " sent, 0 failed", 3000ms));
        const auto took = SteadyClock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(1000 * (c.count - 1) / c.rate));

        std::vector<std::string> got[2];
        std::set<std::uint16_t> sourcePorts;
        std::vector<char> buf(70000);
        for (int k = 0; k < 2; ++k) {
            const int fd = k == 0 ? a.get() : b.get();
            while (Readable(fd, 200ms)) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = ::recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
                ASSERT_GE(n, 0);
                std::array<char, INET_ADDRSTRLEN> ip{};
                inet_ntop(AF_INET, &from.sin_addr, ip.data(), ip.size());
                EXPECT_STREQ(ip.data(), "198.18.0.9");
                sourcePorts.insert(ntohs(from.sin_port));
                got[k].emplace_back(buf.data(), static_cast<std::size_t>(n));
            }
        }
        // The targets take the datagrams in turn: the even ones go to a.
        ASSERT_EQ(got[0].size(), c.count / 2);
        ASSERT_EQ(got[1].size(), c.count / 2);
        EXPECT_EQ(sourcePorts.size(), c.ports);
        for (const auto& list : got)
            for (const auto& d : list) EXPECT_EQ(d.size(), c.size);
        const std::string reading = "+50.0,+20.0\r\n", reply = "@WiFi Sensor/T VER1.00,999999\r\n";
        EXPECT_EQ(got[0][0], reading.substr(0, c.size) + got[0][0].substr(std::min<std::size_t>(c.size, reading.size())));
        EXPECT_EQ(got[1][0].substr(0, std::min<std::size_t>(c.size, reply.size())), reply.substr(0, c.size));
        EXPECT_NE(got[0][1].substr(0, 5), reading.substr(0, 5)) << "the rest is garbage";
        EXPECT_EQ(sim->Stop(SIGTERM), 0);
        sim.reset();
    }
}

TEST_F(SimTest, IdleConnectionsNeverSpeakAndVanishingOnesLeaveNoTrace) {
    Fd listener = Listener();
    const std::string to = kStation + ":" + std::to_string(LocalPort(listener.get()));
    Start({"--rogue", "198.18.0.9", "--tcp-idle", to + ",3", "--tcp-vanish", to + ",2"});
    std::vector<Accepted> conns;
    while (conns.size() < 5) {
        auto c = Accept(listener.get(), 3000ms);
        ASSERT_TRUE(c) << "only " << conns.size() << " connections";
        EXPECT_EQ(c->ip, "198.18.0.9");
        conns.push_back(std::move(*c));
    }
    ASSERT_TRUE(sim->WaitFor("rogue tcp vanish done", 3000ms));
    EXPECT_EQ(sim->Count("rogue tcp idle connected " + to), 3u);
    EXPECT_EQ(sim->Count("rogue tcp vanished"), 2u);
    EXPECT_EQ(sim->Count("(reset)"), 0u) << "TCP_REPAIR refused";

    // No FIN and no data on any of them...
    for (auto& c : conns) EXPECT_FALSE(StreamReader(c.fd.get()).Some(100ms));
    // ...yet the vanished ones answer what we send with a reset, the idle ones take it.
    int reset = 0;
    for (auto& c : conns) {
        ASSERT_TRUE(SendAll(c.fd.get(), "S"));
        if (StreamReader(c.fd.get()).AtEnd(300ms)) ++reset;
    }
    EXPECT_EQ(reset, 2);
    EXPECT_EQ(sim->Count("rogue tcp idle closed"), 0u);

    // A connection the station closes is logged.
    for (auto& c : conns) c.fd.reset();
    EXPECT_TRUE(sim->WaitFor("rogue tcp idle closed by station (3/3)"));
}

// ---- bad input ----------------------------------------------------------------

TEST_F(SimTest, MalformedMessagesAreLoggedAndIgnored) {
    Start({"--count", "2"});
    const std::string sensor = "198.18.0.2";
    const std::string p = std::to_string(commandPort);
    const std::string good = "@KV-WiFi,SEARCH,198.18.0.1," + p;
    // Where a message would name a station, it names ours: any wrong
    // acceptance shows up as a reply on the command socket.
    const std::vector<std::string> bad = {
        "",
        "S",
        "hello",
        good,
        good + "\n",
        good + "\r\nX",
        good + ",\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1\r\n",
        "@KV-WiFi,SEARCH,198.18.0.256," + p + "\r\n",
        "@KV-WiFi,SEARCH,198.18.0," + p + "\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1.1," + p + "\r\n",
        "@KV-WiFi,SEARCH,198.18..1," + p + "\r\n",
        "@KV-WiFi,SEARCH, 198.18.0.1," + p + "\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1,+" + p + "\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1,0\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1,65536\r\n",
        "@KV-WiFi,SEARCH,198.18.0.1,4294967297\r\n",
        "@KV-WiFi,SEARCH,0.0.0.0," + p + "\r\n",
        "@KV-WiFi,SEARCH,255.255.255.255," + p + "\r\n",
        "@KV-WiFi,SEARCH,127.0.0.1," + p + "\r\n",
        "@kv-wifi,search,198.18.0.1," + p + "\r\n",
        "@KV-WiFi,CONNECT,198.18.0.1," + p + "\r\n",
        "@KV-WiFi,CONNECT SCTP,198.18.0.1," + p + "\r\n",
        "@KV-WiFi,CONNECT UDP,198.18.0.1,0\r\n",
        std::string("@KV-WiFi,SEARCH,198.18.0.1\0,", 28) + p + "\r\n",
        std::string("\xff\xfe\x00\x01", 4),
        std::string(1500, '@'),
    };
    for (const auto& m : bad)
        ASSERT_TRUE(SendTo(command.get(), sensor, kCommandPort, m));
    const auto deadline = SteadyClock::now() + 2000ms;
    while (sim->Count(sensor + " <- unknown") < bad.size() && SteadyClock::now() < deadline)
        sim->WaitFor("\x01never", 20ms);
    EXPECT_EQ(sim->Count(sensor + " <- unknown"), bad.size());
    EXPECT_TRUE(ReceiveAll(command.get(), 100ms).empty());
    EXPECT_EQ(sim->Count("udp data port"), 0u);
    EXPECT_EQ(sim->Count(" tcp "), 0u);

    // The data side takes exactly "S" and "R".
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());
    ConnectUdp(sensor, port);
    const std::size_t mark = Mark();
    for (const char* m : {"", "SS", "s", "S\r\n", "RS"})
        ASSERT_TRUE(SendTo(data.get(), sensor, port, m));
    const auto d = PollUdp(data.get(), sensor, port);
    ASSERT_TRUE(d);
    EXPECT_TRUE(IsReading(d->bytes)) << Shown(d->bytes) << ": only the last datagram is a poll";
    EXPECT_EQ(sim->Count(sensor + " <- unknown", mark), 5u);

    // Other bytes on a TCP connection are skipped; the "S" among them counts.
    Fd listener = Listener();
    ConnectTcp(sensor, LocalPort(listener.get()));
    auto conn = Accept(listener.get());
    ASSERT_TRUE(conn);
    ASSERT_TRUE(SendAll(conn->fd.get(), std::string("xy\0\r\nS", 6)));
    const auto line = StreamReader(conn->fd.get()).Line();
    ASSERT_TRUE(line);
    EXPECT_TRUE(IsReading(*line)) << Shown(*line);

    // Still answering searches after all that.
    Search();
    EXPECT_EQ(ReceiveAll(command.get(), 300ms).size(), 2u);
}

TEST_F(SimTest, RandomlyDamagedMessagesNeverUpsetIt) {
    Start({"--count", "1"});
    const std::string sensor = "198.18.0.2";
    Fd data = UdpSocket();
    const std::uint16_t port = LocalPort(data.get());
    ConnectUdp(sensor, port);

    const std::string valid[] = {Message("SEARCH", commandPort), Message("CONNECT UDP", port),
                                 Message("CONNECT TCP", port), "S", "R"};
    std::mt19937 rng(20240611);
    for (int i = 0; i < 400; ++i) {
        std::string m = valid[rng() % std::size(valid)];
        for (unsigned flips = 1 + rng() % 3; flips > 0 && !m.empty(); --flips) {
            const std::size_t at = rng() % m.size();
            switch (rng() % 3) {
            case 0:
                m[at] = static_cast<char>(rng());
                break;
            case 1:
                m.erase(at, 1);
                break;
            default:
                m.insert(at, 1, static_cast<char>(rng()));
                break;
            }
        }
        ASSERT_TRUE(SendTo(data.get(), sensor, i % 2 ? kCommandPort : port, m));
    }
    ReceiveAll(command.get(), 100ms);
    ReceiveAll(data.get(), 100ms);

    Search();
    const auto reply = Receive(command.get());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, SearchReply("001001"));
}

// ---- running and stopping -------------------------------------------------------

TEST_F(SimTest, StopSignalsEndItCleanly) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Start({"--count", "2"});
        EXPECT_EQ(sim->Stop(sig), 0);
        ASSERT_FALSE(sim->Lines().empty());
        EXPECT_EQ(sim->Lines().back(), "stopped");
    }
}

TEST_F(SimTest, DurationEndsItByItself) {
    const auto start = SteadyClock::now();
    sim.emplace(SimCommand({"--count", "1", "--duration", "0.3"}));
    ASSERT_TRUE(sim->started());
    EXPECT_EQ(sim->Reap(3000ms), 0);
    const auto took = SteadyClock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 2000ms);
    EXPECT_EQ(sim->Lines().back(), "stopped");
}

TEST_F(SimTest, QuietKeepsOnlyReadyAndStopped) {
    Start({"--count", "1", "--quiet"});
    Search();
    ASSERT_TRUE(Receive(command.get()));
    sim->Stop(SIGTERM);
    EXPECT_EQ(sim->Lines(), (std::vector<std::string>{"ready 1 sensors", "stopped"}));
}

TEST_F(SimTest, AnAddressThatIsNotConfiguredStopsItWithStatus1) {
    const auto r = RunToEnd(SimCommand({"--sensor", "198.18.0.254", "--duration", "5"}));
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_NE(r.output.find("198.18.0.254:65530"), std::string::npos) << r.output;
}

// ---- command line ----------------------------------------------------------------

TEST(SimOptions, HelpExitsZeroAndDescribesEveryOption) {
    // --help opens no socket, so it may run outside the private network.
    const auto r = RunToEnd({SimPath(), "--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* word : {"--sensor ADDRESS[,SERIAL]",
                             "--count N",
                             "--first-address",
                             "--first-serial",
                             "--fault SERIAL:KIND",
                             "silent",
                             "silent-after=N",
                             "malformed",
                             "split",
                             "error-values",
                             "reconnect-every=N",
                             "no-search",
                             "old-version",
                             "short-reply",
                             "outage=UP/DOWN",
                             "--rogue ADDRESS",
                             "--flood-to STATION:PORT",
                             "--flood-rate N",
                             "--flood-count N",
                             "--flood-size N",
                             "--flood-ports N",
                             "--tcp-idle STATION:PORT,N",
                             "--tcp-vanish STATION:PORT,N",
                             "rogue flood done",
                             "--script FILE",
                             "--fixed SERIAL=H,T",
                             "--seed N",
                             "--duration SECONDS",
                             "--quiet",
                             "--help",
                             "Example",
                             "<- SEARCH",
                             "-> reply",
                             "tcp connected",
                             "tcp closed",
                             "ready",
                             "stopped"})
        EXPECT_NE(r.output.find(word), std::string::npos) << word;
}

TEST_F(SimTest, BadCommandLinesExitWith2AndSayWhy) {
    TempDir dir;
    WriteFile(dir / "bad-script", "1001 45.6\n");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "no sensors"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--count"}, "--count needs a value"},
        {{"--count", "0"}, "--count '0'"},
        {{"--count", "two"}, "--count 'two'"},
        {{"--count", "2", "--sensor", "198.18.0.2"}, "either --sensor or --count"},
        {{"--first-address", "198.18.0.2", "--sensor", "198.18.0.3"}, "go with --count"},
        {{"--sensor", "198.18.0.300"}, "bad IPv4 address"},
        {{"--sensor", "255.255.255.255"}, "bad IPv4 address"},
        {{"--sensor", "198.18.0.2,1000000"}, "SERIAL must be"},
        {{"--sensor", "198.18.0.2", "--sensor", "198.18.0.2"}, "twice"},
        {{"--sensor", "198.18.0.2,7", "--sensor", "198.18.0.3,7"}, "twice"},
        {{"--count", "1", "--first-serial", "999999", "--count", "2"}, "past serial"},
        {{"--count", "1", "--fault", "1001:sleepy"}, "unknown kind 'sleepy'"},
        {{"--count", "1", "--fault", "1001"}, "SERIAL:KIND"},
        {{"--count", "1", "--fault", "9999:silent"}, "no sensor has serial 9999"},
        {{"--count", "1", "--fault", "1001:silent-after"}, "needs =N"},
        {{"--count", "1", "--fault", "1001:reconnect-every=0"}, "N >= 1"},
        {{"--count", "1", "--fault", "1001:silent=3"}, "takes no =N"},
        {{"--count", "1", "--fixed", "1001=45.6"}, "SERIAL=HUMIDITY,TEMPERATURE"},
        {{"--count", "1", "--fixed", "1001=nan,1"}, "SERIAL=HUMIDITY,TEMPERATURE"},
        {{"--count", "1", "--fixed", "1002=1,2"}, "no sensor has serial 1002"},
        {{"--count", "1", "--seed", "x"}, "--seed 'x'"},
        {{"--count", "1", "--duration", "-1"}, "--duration '-1'"},
        {{"--count", "1", "--quiet=yes"}, "--quiet takes no value"},
        {{"--count", "1", "--script", (dir / "missing").string()}, "cannot open"},
        {{"--count", "1", "--script", (dir / "bad-script").string()}, "bad-script:1: expected"},
        {{"--count", "1", "--fault", "1001:outage"}, "outage needs =UP/DOWN"},
        {{"--count", "1", "--fault", "1001:outage=5"}, "outage needs =UP/DOWN"},
        {{"--count", "1", "--fault", "1001:outage=0/5"}, "outage needs =UP/DOWN"},
        {{"--count", "1", "--fault", "1001:outage=5/x"}, "outage needs =UP/DOWN"},
        {{"--flood-to", "198.18.0.1:50200"}, "need --rogue"},
        {{"--count", "1", "--tcp-idle", "198.18.0.1:50200,1"}, "need --rogue"},
        {{"--rogue", "198.18.0.9"}, "--rogue needs"},
        {{"--rogue", "198.18.0.0x", "--flood-to", "198.18.0.1:1"}, "--rogue '198.18.0.0x'"},
        {{"--rogue", "198.18.0.9", "--flood-to", "198.18.0.1"}, "expected STATION:PORT"},
        {{"--rogue", "198.18.0.9", "--flood-to", "198.18.0.1:0"}, "expected STATION:PORT"},
        {{"--rogue", "198.18.0.9", "--flood-to", "198.18.0.1:1", "--flood-size", "65508"}, "--flood-size"},
        {{"--rogue", "198.18.0.9", "--flood-to", "198.18.0.1:1", "--flood-rate", "0"}, "--flood-rate"},
        {{"--rogue", "198.18.0.9", "--flood-to", "198.18.0.1:1", "--flood-ports", "1025"}, "--flood-ports"},
        {{"--rogue", "198.18.0.9", "--tcp-vanish", "198.18.0.1:1,0"}, "expected STATION:PORT,N"},
        {{"--rogue", "198.18.0.9", "--tcp-idle", "198.18.0.1:1"}, "expected STATION:PORT,N"},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const auto r = RunToEnd(SimCommand(c.args));
        EXPECT_EQ(r.code, 2) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("ready"), std::string::npos) << r.output;
    }
}

// ---- the namespace helper ------------------------------------------------------------

TEST(NetnsSupport, SocketInNetnsMakesTheSocketInTheSensorsNamespace) {
    if (!InPrivateNetns()) GTEST_SKIP() << "needs the namespaces of tests/support/run_in_netns.sh";
    const sockaddr_in sensor = Address("198.18.0.2", 0);
    auto binds = [&](int fd) {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&sensor), sizeof sensor) == 0;
    };

    Fd there(SocketInNetns(SimNetnsPid(), AF_INET, SOCK_DGRAM));
    ASSERT_TRUE(there.valid()) << std::strerror(errno);
    EXPECT_TRUE(binds(there.get())) << std::strerror(errno);

    Fd here(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    EXPECT_FALSE(binds(here.get())) << "198.18.0.2 belongs to the sensors' namespace only";

    EXPECT_EQ(SocketInNetns(0x7FFFFFF0, AF_INET, SOCK_DGRAM), -1);
}

} // namespace
} // namespace hygro::test
