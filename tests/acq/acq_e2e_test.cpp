// The acquisition loop end to end: the station polls hygrolog-sim (or a hand-made sensor
// socket) over the private network, and the tests look at what reaches the hour files,
// the device tables and the log. Poll cycles are started by calling SendSCmd directly.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "acq/acquisition.h"
#include "acq/history_files.h"
#include "app/app_core.h"
#include "net/net_test_support.h"
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

constexpr std::uint16_t kCmdPort = 50110;
constexpr std::uint16_t kDataPort = 50210;
const IPv4Bytes kLab = Ip("198.18.0.2");
constexpr const char* kLabName = "Lab";
const std::string kLabSensor = "198.18.0.2,1001";
constexpr const char* kFixed = "1001=45.6,23.4";


// Every reading that got as far as the limit check, which comes right after the write.
class StoredReadings : public AcquisitionEvents {
  public:
    struct Reading {
        int index;
        double h, t;
        SystemTime poll;
    };
    void CheckLimits(int index, double h, double t, double, double, double, double, const SystemTime& poll) override {
        std::lock_guard lock(m_lock);
        m_readings.push_back({index, h, t, poll});
    }
    std::vector<Reading> All() const {
        std::lock_guard lock(m_lock);
        return m_readings;
    }
    std::size_t Count() const { return All().size(); }

  private:
    mutable std::mutex m_lock;
    std::vector<Reading> m_readings;
};

std::string Head(int hCount, int tCount, const std::string& means) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Count=%04d,%04d\r\n", hCount, tCount);
    return buf + ("Averg=" + means + "\r\n");
}

std::string Record(const SystemTime& poll, const std::string& reading) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d 01 ", poll.wMinute, poll.wSecond);
    return buf + reading + "\r\n";
}

// One in-use sensor "Lab" at 198.18.0.2, shown in the table, polled by a station whose
// home is a fresh folder.
class Acquisition : public NetTest {
  protected:
    Acquisition() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            m_messages.push_back(ToUtf8(text));
            return MsgAnswer::Ok;
        });
    }
    ~Acquisition() override {
        m_acq.reset();
        SetMessageHandler(m_previous);
    }

    void WriteSettings(const char* mode) {
        ProfileFile doc;
        doc.SetString(u"DSNet", u"LocalIP", u"198.18.0.1");
        doc.SetString(u"DSNet", u"LocalPortForData", ToUtf16(std::to_string(kDataPort)));
        doc.SetString(u"DSNet", u"LocalPortForCmd", ToUtf16(std::to_string(kCmdPort)));
        doc.SetString(u"DSNet", u"UDPorTCP", ToUtf16(mode));
        doc.SetString(u"LSensor", u"Rcount", u"1");
        doc.SetString(u"LSensor", u"Tcount", u"1");
        doc.SetString(u"1", u"name", ToUtf16(kLabName));
        doc.SetString(u"1", u"FolderName", ToUtf16(kLabName));
        doc.SetString(u"1", u"DeviceIPandPort", ToUtf16(IPv4Text(kLab) + ":" + std::to_string(kDataPort)));
        doc.SetString(u"1", u"Serial", u"001001");
        doc.SetString(u"1", u"show", u"1");
        test::WriteSealedSettings(m_dir.path(), doc);
    }

    // Before the station, so that the simulator hears the CONNECT of the start-up.
    void StartSim(const std::vector<std::string>& extra) {
        ASSERT_TRUE(std::getenv("HYGROLOG_SIM")) << "HYGROLOG_SIM names no simulator";
        std::vector<std::string> args = {"--sensor", kLabSensor, "--fixed", kFixed, "--duration", "60"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_sim = std::make_unique<Simulator>(m_dir.path() / "sim.log", args);
        ASSERT_TRUE(m_sim->Started());
        ASSERT_TRUE(m_sim->WaitFor("ready 1 sensors")) << m_sim->Output();
    }

    void StartStation(const char* mode) {
        WriteSettings(mode);
        ASSERT_EQ(m_app.InitGlobalValue(m_dir.path()), 1);
        m_app.StartUp();
        ASSERT_TRUE(m_messages.empty()) << m_messages.front();
        ASSERT_EQ(m_app.Database().m_totalCount, 1);
        m_acq = std::make_unique<CAcquisition>(m_app, &m_stored);
        m_acq->StartTimerWorkThread();
        m_acq->StartCheckReceiveDataThread();
    }

    // Both ends ready: the simulator's data socket (UDP) or its connection (TCP).
    void WaitForLink(const char* mode) {
        if (std::string_view(mode) == "UDP") {
            ASSERT_TRUE(m_sim->WaitFor("198.18.0.2 udp data port " + std::to_string(kDataPort))) << m_sim->Output();
        } else {
            ASSERT_TRUE(WaitUntil([&] { return Net("Connect") == 1 && Net("Socket") >= 0; }, 5000ms))
                << m_sim->Output();
        }
    }

    SystemTime PollCycle() {
        m_acq->SendSCmd();
        return m_acq->GetPollTime();
    }

    template <typename T>
    T Cell(CTable_WiFiSensorDB* (CWiFiSensorDatabase::*table)(), const char* column) {
        CDatabaseLock::Guard guard(m_app.DatabaseLock());
        EXPECT_TRUE(guard.owns());
        T v{};
        (m_app.Database().*table)()->GetRow(0)->GetValue(column, v);
        return v;
    }
    int Net(const char* column) { return Cell<int>(&CWiFiSensorDatabase::GetNetDB, column); }
    int Dev(const char* column) { return Cell<int>(&CWiFiSensorDatabase::GetDevDB, column); }

    std::filesystem::path SensorFolder() { return m_app.Settings().GetDataPath() / kLabName; }
    std::filesystem::path HourFile(const SystemTime& poll) { return HourFilePath(SensorFolder(), poll); }
    bool AnyHourFile() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(SensorFolder(), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->path().extension() == ".cvs") return true;
        return false;
    }

    SocketExtPtr DataSocket() { return m_app.Net().GetSocketExt(m_app.Protocol().DataSocketName()); }
    // Whether the data socket's record of sender ip:port exists and holds blocks.
    std::optional<std::vector<std::string>> Blocks(const IPv4Bytes& ip, std::uint16_t port) {
        const SocketExtPtr data = DataSocket();
        if (!data) return std::nullopt;
        for (const auto& r : Queue(*data))
            if (r.ip == ip && r.port == port) return r.blocks;
        return std::nullopt;
    }

    TempDir m_dir;
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
    CAppForNimbo1App m_app;
    StoredReadings m_stored;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<CAcquisition> m_acq;
};

// ---- answers that are stored -------------------------------------------------------------

struct StoredCase {
    const char* what;
    const char* mode;
    std::vector<std::string> faults;
    std::string reading; // as the record and the head show it
    double h, t;
    bool valid; // the values enter the running means
};

void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.what; }

class StoredAnswer : public Acquisition, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredAnswer, EachCycleAppendsOneRecordStampedWithThePollTime) {
    const StoredCase& c = GetParam();
    StartSim(c.faults);
    StartStation(c.mode);
    WaitForLink(c.mode);

    struct Expected {
        int n = 0;
        std::string records;
    };
    std::map<std::filesystem::path, Expected> files; // should the two cycles straddle an hour
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const SystemTime poll = PollCycle();
        ASSERT_TRUE(WaitUntil([&] { return m_stored.Count() == static_cast<std::size_t>(cycle); }))
            << m_sim->Output();
        const std::filesystem::path file = HourFile(poll);
        Expected& e = files[file];
        ++e.n;
        e.records += Record(poll, c.reading);
        // The first record of an hour puts its own values in the head, valid or not.
        const int counted = c.valid ? e.n : 1;
        EXPECT_EQ(ReadFile(file), Head(counted, counted, c.reading) + e.records);

        const auto stored = m_stored.All().back();
        EXPECT_EQ(stored.index, 0);
        EXPECT_DOUBLE_EQ(stored.h, c.h);
        EXPECT_DOUBLE_EQ(stored.t, c.t);
        EXPECT_EQ(stored.poll.wSecond, poll.wSecond);

        EXPECT_EQ(Net("SendRev"), 0);
        EXPECT_EQ(Net("Connect"), 1);
        EXPECT_EQ(Dev("LYear"), poll.wYear);
        EXPECT_EQ(Dev("LMonth"), poll.wMonth);
        EXPECT_EQ(Dev("LDay"), poll.wDay);
        EXPECT_EQ(Dev("LHour"), poll.wHour);
        EXPECT_EQ(Dev("LMinute"), poll.wMinute);
        EXPECT_EQ(Dev("LSecond"), poll.wSecond);
        char time[64];
        std::snprintf(time, sizeof time, "%04d-%d-%d %d:%d:%d", poll.wYear, poll.wMonth, poll.wDay, poll.wHour,
                      poll.wMinute, poll.wSecond);
        EXPECT_EQ(Cell<std::string>(&CWiFiSensorDatabase::GetTableDB, "Time"), time);
        EXPECT_DOUBLE_EQ(Cell<double>(&CWiFiSensorDatabase::GetTableDB, "Humidity"), c.h);
        EXPECT_DOUBLE_EQ(Cell<double>(&CWiFiSensorDatabase::GetTableDB, "Temperature"), c.t);
        EXPECT_EQ(m_log.CountStartingWith("Show [0|Lab|"), cycle);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredAnswer,
    ::testing::Values(StoredCase{"Udp", "UDP", {}, "+45.6,+23.4", 45.6, 23.4, true},
                      StoredCase{"Tcp", "TCP Server", {}, "+45.6,+23.4", 45.6, 23.4, true},
                      StoredCase{"UdpSplit", "UDP", {"--fault", "1001:split"}, "+45.6,+23.4", 45.6, 23.4, true},
                      StoredCase{"TcpSplit", "TCP Server", {"--fault", "1001:split"}, "+45.6,+23.4", 45.6, 23.4,
                                 true},
                      StoredCase{"UdpErrorValues", "UDP", {"--fault", "1001:error-values"}, "+99.9,+80.0", 99.9,
                                 80.0, false}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- answers that are dropped ------------------------------------------------------------

struct DroppedCase {
    const char* what;
    std::uint16_t fromPort;
    std::string bytes;
    const char* log; // logged when dropped, or null
};

void PrintTo(const DroppedCase& c, std::ostream* os) { *os << c.what; }

class DroppedAnswer : public Acquisition, public ::testing::WithParamInterface<DroppedCase> {};

// No simulator: the sensor is a socket of the test's own on the sensor's address.
TEST_P(DroppedAnswer, StoresNothingAndLeavesTheSensorPolled) {
    const DroppedCase& c = GetParam();
    Fd sensor = SensorUdp(kLab, kDataPort);
    Fd other;
    if (c.fromPort != kDataPort) other = SensorUdp(kLab, c.fromPort);
    StartStation("UDP");

    const SystemTime poll = PollCycle();
    const auto s = ReceiveDatagram(sensor.get());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->bytes, "S");
    ASSERT_TRUE(SendTo(other.valid() ? other.get() : sensor.get(), kStation, kDataPort, c.bytes));
    const std::string arrived =
        "Udp " + m_app.Protocol().DataSocketName() + " Rev From:198.18.0.2:" + std::to_string(c.fromPort) + " Data:";
    // Queued after it is logged, emptied once the collection has dealt with it.
    ASSERT_TRUE(WaitUntil([&] {
        const auto blocks = Blocks(kLab, c.fromPort);
        return m_log.CountStartingWith(arrived) == 1 && blocks && blocks->empty();
    }));
    if (c.log) {
        EXPECT_EQ(m_log.Count(c.log), 1);
    }
    EXPECT_EQ(m_stored.Count(), 0u);
    EXPECT_FALSE(AnyHourFile());
    EXPECT_EQ(Net("SendRev"), 1);

    // A proper answer later in the same cycle is still taken, and stamped with the poll
    // time, not with the second it arrived in.
    ASSERT_TRUE(WaitUntil([&] { return GetLocalTime().wSecond != poll.wSecond; }, 2000ms));
    ASSERT_TRUE(SendTo(sensor.get(), kStation, kDataPort, "+45.6,+23.4\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return m_stored.Count() == 1; }));
    EXPECT_EQ(ReadFile(HourFile(poll)), Head(1, 1, "+45.6,+23.4") + Record(poll, "+45.6,+23.4"));
    EXPECT_EQ(Net("SendRev"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DroppedAnswer,
    ::testing::Values(DroppedCase{"TooLong", kDataPort, "+45.3,+23.1\r\n\r\n", "Udp Rev too long\r\n"},
                      DroppedCase{"FromAnotherPort", static_cast<std::uint16_t>(kDataPort + 7), "+11.1,+22.2\r\n",
                                  nullptr}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- sensors that never give a reading ---------------------------------------------------

class NoReading : public Acquisition, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoReading, WalksThroughSearchAndReconnect) {
    const std::string fault = GetParam();
    StartSim({"--fault", "1001:" + fault});
    StartStation("UDP");
    WaitForLink("UDP");

    enum class Sees { S, Search, Connect };
    const struct Step {
        Sees sees;
        int sendRev;
        int notReplyLogs; // so far
    } steps[] = {
        {Sees::S, 1, 0}, {Sees::S, 2, 1}, {Sees::S, 3, 2}, {Sees::Search, 10, 2}, {Sees::Connect, 0, 2}, {Sees::S, 1, 2},
    };
    const std::string s = "198.18.0.2 <- S";
    const std::string search = "198.18.0.2 <- SEARCH ";
    const std::string connect = "198.18.0.2 <- CONNECT UDP ";
    int cycle = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("cycle " + std::to_string(++cycle));
        const int polls = m_sim->Count(s), searches = m_sim->Count(search, true),
                  connects = m_sim->Count(connect, true);
        PollCycle();
        switch (step.sees) {
        case Sees::S:
            ASSERT_TRUE(m_sim->WaitFor(s, polls + 1)) << m_sim->Output();
            if (fault == "malformed") {
                // Too short to be judged: it waits in the queue for the rest.
                ASSERT_TRUE(WaitUntil([&] {
                    const auto b = Blocks(kLab, kDataPort);
                    return b && *b == std::vector<std::string>{"ERR\r\n"};
                })) << m_sim->Output();
            }
            break;
        case Sees::Search:
            ASSERT_TRUE(m_sim->WaitFor(search, searches + 1, true)) << m_sim->Output();
            EXPECT_EQ(m_sim->Count(s), polls);
            break;
        case Sees::Connect:
            ASSERT_TRUE(m_sim->WaitFor(connect, connects + 1, true)) << m_sim->Output();
            EXPECT_EQ(m_sim->Count(s), polls);
            EXPECT_EQ(Net("Connect"), 0);
            break;
        }
        EXPECT_EQ(Net("SendRev"), step.sendRev);
        EXPECT_EQ(m_log.Count("Lab not reply S cmd!"), step.notReplyLogs);
    }
    EXPECT_EQ(m_stored.Count(), 0u);
    EXPECT_FALSE(AnyHourFile());
}

INSTANTIATE_TEST_SUITE_P(Faults, NoReading, ::testing::Values("silent", "malformed"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace hygro
