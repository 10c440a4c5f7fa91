#include "acq/acquisition.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "acq/alarm_file.h"
#include "acq/history_files.h"
#include "acq/sensor_alarms.h"
#include "app/app_core.h"
#include "util/file_opt.h"
#include "util/kx_log.h"
#include "util/text.h"

namespace hygro {
namespace {

constexpr std::chrono::milliseconds kPass{100};
constexpr std::chrono::milliseconds kIdlePass{500};
constexpr int kMinAnswer = 11;
constexpr int kMaxAnswer = 13;
constexpr std::size_t kAnswerBuffer = 100;

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One field: sign, one or two digits, point, one digit. Returns its length (4 or 5) or 0.
int FieldLength(const char* p) {
    if ((p[0] != '+' && p[0] != '-') || !IsDigit(p[1])) return 0;
    if (p[2] == '.') return IsDigit(p[3]) ? 4 : 0;
    if (IsDigit(p[2]) && p[3] == '.' && IsDigit(p[4])) return 5;
    return 0;
}

double FieldValue(const char* p, int len) {
    double v = 0.0;
    std::from_chars(p + 1, p + len, v);
    return p[0] == '-' ? -v : v;
}

} // namespace

CAcquisition::CAcquisition(CAppForNimbo1App& app, AcquisitionEvents* events)
    : m_app(app), m_events(events ? events : &m_noEvents) {}

CAcquisition::~CAcquisition() { Stop(); }

bool CAcquisition::TcpMode() const { return m_app.Settings().GetBaseInfo()->GetUDPorTCP() != kProtoUdp; }

SystemTime CAcquisition::GetPollTime() const {
    std::lock_guard lock(m_pollTimeLock);
    return m_pollTime;
}

void CAcquisition::SetPollTime(const SystemTime& t) {
    std::lock_guard lock(m_pollTimeLock);
    m_pollTime = t;
}

void CAcquisition::StartTimerWorkThread() {
    m_seconds = 0;
    m_pollingEnabled = 1;
}

void CAcquisition::PollSoon() { m_seconds = m_app.Settings().GetBaseInfo()->GetTimeForNet(); }

void CAcquisition::OnTimerTick() {
    if (!m_pollingEnabled.load()) return;
    const std::uint32_t seconds = m_seconds.load() + 1;
    if (seconds < m_app.Settings().GetBaseInfo()->GetTimeForNet()) {
        m_seconds = seconds;
        return;
    }
    std::lock_guard lock(m_pollThreadLock);
    if (m_pollRunning.load()) {
        // The last cycle is still sending: keep the count due and try on the next tick.
        m_seconds = seconds;
        return;
    }
    m_seconds = 0;
    if (m_pollThread.joinable()) m_pollThread.join();
    m_pollRunning = true;
    m_pollThread = std::jthread([this] {
        SendSCmd();
        m_pollRunning = false;
    });
}

void CAcquisition::SendSCmd() {
    CWiFiSensorDatabase& db = m_app.Database();
    CWiFiSensorNetOpt& net = m_app.Net();
    CSensorProtocol& protocol = m_app.Protocol();
    const std::uint16_t dataPort = m_app.Settings().GetBaseInfo()->GetDataPort();
    const bool tcp = TcpMode();

    enum class Step { Poll, NoTransport, Search, Connect };
    struct Action {
        int index;
        Step step;
        IPv4Bytes ip;
        SocketExtPtr transport;
    };
    std::vector<Action> actions;
    {
        // The tables are shared with the receive check and the network callbacks; sends
        // (which may wait for a socket) happen after the lock is released.
        CDatabaseLock::Guard guard(m_app.DatabaseLock());
        if (!guard.owns()) return;
        const int n = db.m_totalCount;
        if (n <= 0) return;
        if (tcp)
            net.ClearAllDevTcpRevData(db);
        else
            net.ClearAllDevUdpRevData(dataPort);
        SetPollTime(GetLocalTime());

        CTable_WiFiSensorDB* netTable = db.GetNetDB();
        CTable_WiFiSensorDB* dev = db.GetDevDB();
        const int rows = std::min({n, netTable->GetRowCount(), dev->GetRowCount()});
        for (int i = 0; i < rows; ++i) {
            CRow_DB_WiFiSensor* row = netTable->GetRow(i);
            const int sendRev = CellValue<int>(netTable, i, "SendRev");
            const IPv4Bytes ip = UnpackIPv4(CellValue<int>(netTable, i, "RemoteIP"));
            if (sendRev >= 3) {
                m_events->SetDevConnectValue(i, 0);
                if (sendRev < 10) {
                    actions.push_back({i, Step::Search, ip, nullptr});
                    row->SetValue(netTable, "SendRev", 10);
                } else {
                    actions.push_back({i, Step::Connect, ip, nullptr});
                    row->SetValue(netTable, "Connect", 0);
                    row->SetValue(netTable, "SendRev", 0);
                }
                continue;
            }
            if (sendRev == 1 || sendRev == 2)
                AddLogInfo(CellValue<std::string>(dev, i, "Name") + " not reply S cmd!");
            const SocketHandle s = CellValue<int>(netTable, i, "Socket");
            SocketExtPtr transport = s >= 0 ? net.GetSocketExt(s) : nullptr;
            if (!transport) {
                actions.push_back({i, Step::NoTransport, ip, nullptr});
                continue;
            }
            actions.push_back({i, Step::Poll, ip, std::move(transport)});
            row->SetValue(netTable, "SendRev", sendRev + 1);
        }
    }

    bool dataSocketRequested = false;
    for (const Action& a : actions) {
        switch (a.step) {
        case Step::Search:
            protocol.SendSearchCmd();
            break;
        case Step::Connect:
            protocol.SendConnectCmdToOneDev(a.ip, dataPort);
            break;
        case Step::NoTransport:
            if (tcp) {
                protocol.SendConnectCmdToOneDev(a.ip, dataPort);
            } else if (!dataSocketRequested) {
                dataSocketRequested = true;
                SocketExtPtr data;
                protocol.InitDevUdpListen(&data, 1);
                protocol.SetNetTableSocketForUdp(data.get());
            }
            break;
        case Step::Poll:
            if (tcp)
                a.transport->SendTcp("S", 1, a.index);
            else
                a.transport->SendUdp(&a.ip, dataPort, "S", 1, a.index);
            break;
        }
    }
}

void CAcquisition::StartCheckReceiveDataThread() {
    if (m_receiveThread.joinable()) return;
    m_receiveThread = std::jthread([this](std::stop_token st) {
        CheckReceiveData(st);
        m_receiveEnded = true;
    });
}

void CAcquisition::Stop() {
    if (m_stopped) return;
    m_stopped = true;
    if (!m_receiveThread.joinable()) {
        AddLogInfo("CheckRevThread not start!");
    } else if (m_receiveEnded.load()) {
        m_receiveThread.join();
        AddLogInfo("CheckRevThread closed!");
    } else {
        m_receiveThread.request_stop();
        m_receiveThread.join();
        AddLogInfo("CheckRevThread close![1]");
    }
    m_pollingEnabled = 0;
    std::lock_guard lock(m_pollThreadLock);
    if (m_pollThread.joinable()) m_pollThread.join();
}

void CAcquisition::CheckReceiveData(std::stop_token stop) {
    CWiFiSensorNetOpt& net = m_app.Net();
    std::uint64_t seen = 0;
    net.WaitForData(seen, kPass);
    while (!stop.stop_requested()) {
        if (!m_pollingEnabled.load()) {
            net.WaitForData(seen, kIdlePass);
            continue;
        }
        const bool tcp = TcpMode();
        if (!tcp) {
            const SocketExtPtr data = net.GetSocketExt(m_app.Protocol().DataSocketName());
            if (data && data->GetUdpServerRevDataTotalLength() > 0) {
                CDatabaseLock::Guard guard(m_app.DatabaseLock());
                if (!guard.owns())
                    AddLogInfo("[Rev1-Wait-Timeout]");
                else if (!TcpMode())
                    CollectUdp();
            }
        } else {
            CDatabaseLock::Guard guard(m_app.DatabaseLock());
            if (!guard.owns())
                AddLogInfo("[Rev2-Wait-Timeout]");
            else if (TcpMode())
                CollectTcp();
        }
        // Wakes as soon as an endpoint has new data, else after one pass.
        net.WaitForData(seen, kPass);
    }
}

void CAcquisition::CollectUdp() {
    const SocketExtPtr data = m_app.Net().GetSocketExt(m_app.Protocol().DataSocketName());
    if (!data) return;
    CTable_WiFiSensorDB* netTable = m_app.Database().GetNetDB();
    struct Answer {
        int row;
        char text[kAnswerBuffer];
    };
    std::vector<Answer> answers;
    {
        auto lock = data->LockReceive();
        const int records = data->GetUdpServerRevDataCount();
        for (int r = 0; r < records; ++r) {
            CUdpReceiveData* rec = data->GetUdpServerRevData(r);
            if (rec == nullptr || rec->GetDataCount() == 0) continue;
            int row = -1;
            const std::int32_t packed = PackIPv4(rec->GetIP());
            for (int i = 0; i < netTable->GetRowCount(); ++i) {
                if (CellValue<int>(netTable, i, "RemoteIP") == packed && CellValue<int>(netTable, i, "RemotePort") == rec->GetPort()) {
                    row = i;
                    break;
                }
            }
            if (row < 0) {
                rec->DeleteAllData();
                continue;
            }
            std::string text;
            for (int k = 0; k < rec->GetDataCount() && text.size() <= kMaxAnswer; ++k) text += rec->GetData(k);
            if (text.size() > kAnswerBuffer - 1) text.resize(kAnswerBuffer - 1);
            if (text.size() < kMinAnswer) continue; // the rest may still come in this cycle
            if (text.size() > kMaxAnswer) {
                AddLogInfo("Udp Rev too long\r\n");
                rec->DeleteAllData();
                continue;
            }
            Answer a{row, {}};
            std::memcpy(a.text, text.c_str(), text.size() + 1);
            answers.push_back(a);
            rec->DeleteAllData();
        }
    }
    for (Answer& a : answers) {
        if (CheckBufferFormat(a.row + 1, a.text, static_cast<int>(kAnswerBuffer)))
            SaveWiFiSensorData(a.row, a.text, 16);
    }
}

void CAcquisition::CollectTcp() {
    CWiFiSensorNetOpt& net = m_app.Net();
    CTable_WiFiSensorDB* netTable = m_app.Database().GetNetDB();
    CTable_WiFiSensorDB* dev = m_app.Database().GetDevDB();
    for (int i = 0; i < netTable->GetRowCount(); ++i) {
        const SocketHandle s = CellValue<int>(netTable, i, "Socket");
        SocketExtPtr conn = s >= 0 ? net.GetSocketExt(s) : nullptr;
        if (!conn && i < dev->GetRowCount()) {
            // A sensor that closes its connection right after answering: the connection is
            // retired (Socket -1) as soon as the close is read, often before this pass, but
            // its endpoint, found by the sensor's connection name, still holds the answer.
            const std::string name = CellValue<std::string>(dev, i, "Name");
            conn = net.GetSocketExt(ConnectionName(i, m_app.Database().m_realCount, name));
        }
        if (!conn) continue;
        char text[kAnswerBuffer] = {};
        bool complete = false;
        {
            auto lock = conn->LockReceive();
            const int count = conn->GetReceiveCount();
            if (count < kMinAnswer || conn->GetReceiveBuffer() == nullptr) continue;
            if (count > kMaxAnswer) {
                AddLogInfo("Tcp Rev too long\r\n");
            } else {
                std::memcpy(text, conn->GetReceiveBuffer(), static_cast<std::size_t>(count));
                complete = true;
            }
            conn->ClearTcpReceiveBuffer();
        }
        if (complete && CheckBufferFormat(i + 1, text, static_cast<int>(kAnswerBuffer))) SaveWiFiSensorData(i, text, 16);
    }
}

int CAcquisition::CheckBufferFormat(int nID, char* buffer, int maxSize) {
    if (buffer == nullptr || maxSize <= 0) return 0;
    const char* p = buffer;
    const int len1 = FieldLength(p);
    if (len1 == 0) return 0;
    // One separator character of any value, but never the end of the text.
    if (p[len1] == '\0') return 0;
    const char* q = p + len1 + 1;
    const int len2 = FieldLength(q);
    if (len2 == 0) return 0;
    const double v1 = FieldValue(p, len1);
    const double v2 = FieldValue(q, len2);
    std::snprintf(buffer, static_cast<std::size_t>(maxSize), "%02d %+05.1lf,%+05.1lf\r\n", nID, v1, v2);
    return 1;
}

void CAcquisition::SaveWiFiSensorData(int index, const char* buffer, int /*len*/) {
    CWiFiSensorDatabase& db = m_app.Database();
    CTable_WiFiSensorDB* netTable = db.GetNetDB();
    if (index < 0 || index >= netTable->GetRowCount()) return;
    netTable->GetRow(index)->SetValue(netTable, "SendRev", 0);
    netTable->GetRow(index)->SetValue(netTable, "Connect", 1);
    m_events->SetDevConnectValue(index, 1);
    if (index >= db.m_realCount) return;

    CTable_WiFiSensorDB* dev = db.GetDevDB();
    CTable_WiFiSensorDB* lumo = db.GetLumoDB();
    CTable_WiFiSensorDB* table = db.GetTableDB();
    if (index >= dev->GetRowCount() || index >= lumo->GetRowCount() || index >= table->GetRowCount()) return;
    const SystemTime poll = GetPollTime();
    const std::string name = CellValue<std::string>(dev, index, "Name");
    const std::filesystem::path folder = m_app.Settings().GetDataPath() / CellValue<std::string>(dev, index, "Folder");
    const std::filesystem::path hourFile = HourFilePath(folder, poll);
    CheckAndCreateUnicodeFile(hourFile);

    double h = 0.0, t = 0.0;
    ParseNormalisedReading(buffer, h, t);
    AddLogInfo("Save Folder:" + hourFile.string() + " Data:" + buffer);
    if (!SaveComRevData(buffer, 16, hourFile, poll.wMinute, poll.wSecond, h, t))
        AddLogInfo("Save Failed! Folder:" + hourFile.string() + " Data:" + buffer);
    CheckNeedSaveAvg(folder, static_cast<std::uint16_t>(CellValue<int>(dev, index, "LYear")),
                     static_cast<std::uint16_t>(CellValue<int>(dev, index, "LMonth")),
                     static_cast<std::uint16_t>(CellValue<int>(dev, index, "LDay")),
                     static_cast<std::uint16_t>(CellValue<int>(dev, index, "LHour")),
                     static_cast<std::uint16_t>(CellValue<int>(dev, index, "LMinute")),
                     static_cast<std::uint16_t>(CellValue<int>(dev, index, "LSecond")), poll);

    const CGlobalMember& settings = m_app.Settings();
    const bool realTime = settings.GetShowMode() == 0;
    if (settings.GetViewMode() == 0 && realTime) m_events->ScrollRealTime(poll);
    if (CellValue<int>(lumo, index, "Show") == 1) {
        AddLogInfo(Format("Show [%d|%s|%.1lf, %.1lf]", index, name.c_str(), h, t));
        if (realTime) m_events->AddLivePoint(index, poll, h, t);
        CRow_DB_WiFiSensor* row = table->GetRow(index);
        row->SetValue(table, "Time", Format("%04d-%d-%d %d:%d:%d", poll.wYear, poll.wMonth, poll.wDay, poll.wHour,
                                            poll.wMinute, poll.wSecond));
        row->SetValue(table, "Humidity", h);
        row->SetValue(table, "Temperature", t);
        m_events->RefreshTableRow(index);
    } else {
        AddLogInfo(Format("Not Show [%d|%s|%.1lf, %.1lf]", index, name.c_str(), h, t));
    }
    const double hMax = CellValue<double>(dev, index, "HMax"), hMin = CellValue<double>(dev, index, "HMin");
    const double tMax = CellValue<double>(dev, index, "TMax"), tMin = CellValue<double>(dev, index, "TMin");
    if (CheckSensorLimits(h, t, hMax, hMin, tMax, tMin).Any()) {
        table->GetRow(index)->SetValue(table, "Alarm", 2);
        m_events->AlarmRaised(index);
        // Appends run here with the database lock held; clearings take the same lock, so the
        // two never overlap on the file.
        const AlarmAppendResult added = AddSensorAlarmDataToFile(folder / "Alarm.txt", poll, h, t);
        if (added.newSeenTime) SetSeenTime(db, index, *added.newSeenTime);
        if (!m_app.Settings().GetAlarmMailInfo().smtpServer.empty()) m_events->SendAlarmMail(index, poll, h, t);
    }
    m_events->CheckLimits(index, h, t, hMax, hMin, tMax, tMin, poll);

    CRow_DB_WiFiSensor* devRow = dev->GetRow(index);
    devRow->SetValue(dev, "LYear", static_cast<int>(poll.wYear));
    devRow->SetValue(dev, "LMonth", static_cast<int>(poll.wMonth));
    devRow->SetValue(dev, "LDay", static_cast<int>(poll.wDay));
    devRow->SetValue(dev, "LHour", static_cast<int>(poll.wHour));
    devRow->SetValue(dev, "LMinute", static_cast<int>(poll.wMinute));
    devRow->SetValue(dev, "LSecond", static_cast<int>(poll.wSecond));
}

} // namespace hygro
