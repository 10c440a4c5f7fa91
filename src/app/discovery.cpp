#include "app/discovery.h"

#include <climits>
#include <cstdio>

#include "app/app_core.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "net/net_opt.h"
#include "net/sensor_protocol.h"
#include "net/socket_ext.h"
#include "settings/global_member.h"
#include "util/kx_log.h"

namespace hygro {
namespace {

bool TcpMode(const CSensorInfo& info) { return info.GetUDPorTCP() != kProtoUdp; }

// A data port of 0 is replaced by a free one of the mode's kind; true when one was chosen.
bool ChooseDataPort(CSensorInfo& info) {
    if (info.GetDataPort() != 0) return false;
    const std::uint16_t port = TcpMode(info) ? GetAutoLocalTCPPort() : GetAutoLocalUDPPort();
    info.SetDataPort(port);
    return port != 0;
}

} // namespace

// ---- search replies -----------------------------------------------------------------

std::string CheckSearchRevData(const CUdpReceiveData& record) {
    std::string text;
    for (int i = 0; i < record.GetDataCount(); ++i) text += record.GetData(i);
    if (!std::string_view(text).starts_with(kSearchReplyPrefix)) text.clear();
    return text;
}

std::string SearchSerialText(std::string_view reply) {
    if (reply.size() <= kSerialOffset) return {};
    return std::string(reply.substr(kSerialOffset, kSerialLength));
}

int ReadDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string AddressText(const IPv4Bytes& ip) { return IPv4Text(ip); }

std::string SerialText(int serial) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", serial);
    return buf;
}

int CheckIP(CAppForNimbo1App& app, const IPv4Bytes& ip, std::string_view serialText, int* serial, bool* changed) {
    if (changed) *changed = false;
    const int index = app.Protocol().GetIndexFromIP(ip);
    if (index < 0) return -1;
    // A reply that was not recognised has no serial text and changes nothing.
    CTable_WiFiSensorDB* dev = app.Database().GetDevDB();
    if (serialText.empty() || index >= dev->GetRowCount()) return index;
    const int value = ReadDecimal(serialText);
    if (CellValue<int>(dev, index, "Serial") != value) {
        dev->GetRow(index)->SetValue(dev, "Serial", value);
        if (changed) *changed = true;
    }
    if (serial) *serial = value;
    return index;
}

int DiscoveryAddDev(CAppForNimbo1App& app, const IPv4Bytes& ip, int serial) {
    CSensorInfo& info = *app.Settings().GetBaseInfo();
    CSensorProtocol& protocol = app.Protocol();
    CWiFiSensorDatabase& db = app.Database();
    const bool tcp = TcpMode(info);
    const bool chosen = ChooseDataPort(info);

    SocketExtPtr data;
    if (!tcp) {
        data = app.Net().GetSocketExt(protocol.DataSocketName());
        if (!data || chosen) {
            protocol.InitDevUdpListen(&data, 1);
            protocol.SetNetTableSocketForUdp(data.get());
        }
    } else if (!app.Net().GetSocketExt(protocol.ListenerName()) || chosen) {
        protocol.InitDevTcpListen(1);
    }

    const int index = app.AddDev(static_cast<std::uint32_t>(PackIPv4(ip)), serial);
    CTable_WiFiSensorDB* net = db.GetNetDB();
    if (!tcp && index >= 0 && index < net->GetRowCount()) {
        CRow_DB_WiFiSensor* row = net->GetRow(index);
        row->SetValue(net, "Connect", 1);
        row->SetValue(net, "Socket", data ? data->GetSocket() : kInvalidSocket);
        row->SetValue(net, "RemotePort", static_cast<int>(info.GetDataPort()));
    }
    db.m_totalCount = db.GetDevDB()->GetRowCount();
    protocol.SendConnectCmdToOneDev(ip, info.GetDataPort());
    return index;
}

int RevUdpSearchData(CAppForNimbo1App& app, const SearchReport& report) {
    const SocketExtPtr cmd = app.Net().GetSocketExt(app.Protocol().CommandSocketName());
    if (!cmd) return 0;
    int added = 0;
    // Records that arrive meanwhile wait for the next collection.
    const int records = cmd->GetUdpServerRevDataCount();
    for (int pass = 0; pass < records; ++pass) {
        IPv4Bytes ip{};
        std::string reply;
        bool hasData = false;
        {
            // The receive thread may drop the oldest record at any time: copy and remove
            // the first one in one go.
            auto lock = cmd->LockReceive();
            const CUdpReceiveData* record = cmd->GetUdpServerRevData(0);
            if (record == nullptr) break;
            ip = record->GetIP();
            hasData = record->GetDataCount() > 0;
            if (hasData) reply = CheckSearchRevData(*record);
            cmd->DeleteUdpServerRevData(0);
        }
        if (!hasData) continue;
        const std::string serialText = SearchSerialText(reply);

        enum class Outcome { Nothing, Refreshed, Added } outcome = Outcome::Nothing;
        int index = -1, serial = 0;
        bool tcp = false;
        {
            CDatabaseLock::Guard guard(app.DatabaseLock());
            if (!guard.owns()) {
                // Found again by a later search.
                if (!reply.empty()) AddLogInfo("SearchData Add Failed!\r\n");
                continue;
            }
            index = CheckIP(app, ip, serialText, &serial);
            if (index >= 0) {
                if (!serialText.empty()) outcome = Outcome::Refreshed;
            } else if (!reply.empty()) {
                tcp = TcpMode(*app.Settings().GetBaseInfo());
                index = DiscoveryAddDev(app, ip, ReadDecimal(serialText));
                outcome = Outcome::Added;
                ++added;
            }
        }
        if (outcome == Outcome::Refreshed && report.serialRefreshed) report.serialRefreshed(index, serial);
        if (outcome == Outcome::Added && report.rowAdded)
            report.rowAdded(index, AddressText(ip), serialText, tcp ? std::string() : std::string("Connect"));
    }
    return added;
}

// ---- the search -------------------------------------------------------------------------

CDiscoverySearch::CDiscoverySearch(CAppForNimbo1App& app, Callbacks callbacks, std::chrono::milliseconds step)
    : m_app(app), m_callbacks(std::move(callbacks)), m_step(step) {}

CDiscoverySearch::~CDiscoverySearch() { Stop(); }

bool CDiscoverySearch::Start() {
    if (m_running.load()) return false;
    // A search that has ended may still be returning from its last report.
    if (m_thread.joinable()) m_thread.join();
    m_running = true;
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

void CDiscoverySearch::Stop() {
    if (m_thread.joinable()) {
        m_thread.request_stop(); // wakes Pause through the stop token
        m_thread.join();
    }
    m_running = false;
}

bool CDiscoverySearch::Pause(std::stop_token& stop) {
    std::unique_lock lock(m_waitLock);
    m_wake.wait_for(lock, stop, m_step, [] { return false; });
    return !stop.stop_requested();
}

void CDiscoverySearch::Broadcast() {
    const SocketExtPtr cmd = m_app.Net().GetSocketExt(m_app.Protocol().CommandSocketName());
    if (!cmd) return;
    const std::string msg =
        CSensorProtocol::SearchMessage(m_app.Net().GetLocalIP(), m_app.Settings().GetBaseInfo()->GetCmdPort());
    cmd->SendUdp(nullptr, CSensorProtocol::kSensorCommandPort, msg.data(), static_cast<int>(msg.size()), -1);
}

void CDiscoverySearch::Run(std::stop_token stop) {
    auto caption = [this](const char* text) {
        if (m_callbacks.caption) m_callbacks.caption(text);
    };
    AddLogInfo("Thread Find Search Start!");
    Broadcast();
    struct Step {
        const char* caption;
        bool broadcast;
        bool collect;
    };
    static constexpr Step kSteps[] = {
        {"5", false, false}, {"4", false, true}, {"3", false, true}, {"2", true, true}, {"1", false, true}};
    for (const Step& s : kSteps) {
        if (stop.stop_requested()) break;
        if (s.broadcast) Broadcast();
        caption(s.caption);
        if (s.collect) RevUdpSearchData(m_app, m_callbacks.report);
        if (!Pause(stop)) break;
    }
    if (stop.stop_requested()) {
        m_running = false;
        return;
    }
    caption("0");
    caption("Search");
    AddLogInfo("Thread Find Search End!");
    m_running = false;
    if (m_callbacks.ended) m_callbacks.ended();
}

bool CheckFindCount(CAppForNimbo1App& app, int listRows, const std::function<bool()>& ask) {
    if (listRows != 0 || !app.Net().HasAnotherNetworkcard()) return false;
    if (!ask || !ask()) return false;
    app.Net().ChangeLocalIP();
    // Saved with the port settings when the window closes.
    app.Settings().SetLocalIp(app.Net().GetLocalIP());
    return true;
}

// ---- poll interval ----------------------------------------------------------------------

IntervalCheck CheckCmdInterval(std::string_view minutes, std::string_view seconds) {
    const int m = ReadDecimal(minutes);
    const int s = ReadDecimal(seconds);
    if (static_cast<unsigned>(m) > 60u) return {0, kMinuteValueError};
    if (static_cast<unsigned>(s) > 59u) return {0, kSecondValueError};
    const auto t = static_cast<std::uint32_t>(60 * m + s);
    if (t < 10) return {0, kTimeTooShort};
    if (t > 3600) return {0, kTimeTooLong};
    return {t, {}};
}

std::string_view SaveCmdTime(CGlobalMember& settings, std::string_view minutes, std::string_view seconds) {
    const IntervalCheck check = CheckCmdInterval(minutes, seconds);
    if (!check.error.empty()) return check.error;
    settings.GetBaseInfo()->SetTimeForNet(check.seconds);
    settings.SaveCmdInterval();
    return {};
}

// ---- transport --------------------------------------------------------------------------

ProtocolChange ChangeProtocol(CAppForNimbo1App& app, int mode, const ProtocolChangeHooks& hooks) {
    const std::uint8_t wanted = mode == 0 ? kProtoUdp : kProtoTcpServer;
    CSensorInfo& info = *app.Settings().GetBaseInfo();
    if (info.GetUDPorTCP() == wanted) return ProtocolChange::Unchanged;

    auto polling = [&](int on) {
        if (hooks.setTimerFlags) hooks.setTimerFlags(on);
    };
    polling(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        CDatabaseLock::Guard guard(app.DatabaseLock());
        if (!guard.owns()) {
            polling(1);
            return ProtocolChange::LockFailed;
        }
        CSensorProtocol& protocol = app.Protocol();
        // Released and closed in the old mode, then everything is made anew in the new one.
        app.NotAcceptAll();
        protocol.SendRCmdToAllDev();
        protocol.CloseAllDevSocket();
        info.SetUDPorTCP(wanted);
        if (hooks.showProgress) hooks.showProgress();
        app.AcceptAll();
        ChooseDataPort(info);
        if (wanted == kProtoUdp) {
            SocketExtPtr data;
            protocol.InitDevUdpListen(&data, 0);
            protocol.SetNetTableSocketForUdp(data.get());
        } else {
            protocol.InitDevTcpListen(0);
        }
        app.Database().GetNetDB()->SetTableColumnValue("SendRev", 0);
        protocol.SendConnectCmdToAllDev();
    }
    polling(1);
    return ProtocolChange::Changed;
}

} // namespace hygro
