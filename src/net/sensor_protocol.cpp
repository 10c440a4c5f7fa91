#include "net/sensor_protocol.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "settings/global_member.h"
#include "util/kx_log.h"

namespace hygro {
namespace {

// Indicator lookups are cosmetic: they never wait long for the tables.
constexpr std::chrono::milliseconds kIndicatorWait{50};
constexpr char kReplyPrefix[] = "@WiFi Sensor/T VER1.00,";
constexpr int kReplyPrefixLen = 23;
constexpr int kReplyMinLen = 31;

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[100];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

int GetInt(CTable_WiFiSensorDB* t, int row, const char* column) {
    int v = 0;
    t->GetRow(row)->GetValue(column, v);
    return v;
}

void SetInt(CTable_WiFiSensorDB* t, int row, const char* column, int v) { t->GetRow(row)->SetValue(t, column, v); }

} // namespace

CSensorProtocol::CSensorProtocol(CWiFiSensorDatabase& db, CDatabaseLock& dbLock, CGlobalMember& settings,
                                 CWiFiSensorNetOpt& net)
    : m_db(db), m_dbLock(dbLock), m_settings(settings), m_net(net) {
    EndpointHooks& h = m_net.Hooks();
    h.indexFromIP = [this](const IPv4Bytes& ip) {
        CDatabaseLock::Guard guard(m_dbLock, kIndicatorWait);
        return guard.owns() ? GetIndexFromIP(ip) : -1;
    };
    h.peerClosed = [this](CKxSocketExt& ext, SocketHandle closed) { OnPeerClosed(ext, closed); };
}

bool CSensorProtocol::TcpMode() const { return m_settings.GetBaseInfo()->GetUDPorTCP() != kProtoUdp; }

std::string CSensorProtocol::CommandSocketName() const {
    return "UdpServer" + std::to_string(m_settings.GetBaseInfo()->GetCmdPort());
}
std::string CSensorProtocol::DataSocketName() const {
    return "UdpServer" + std::to_string(m_settings.GetBaseInfo()->GetDataPort());
}
std::string CSensorProtocol::ListenerName() const {
    return "TcpServer" + std::to_string(m_settings.GetBaseInfo()->GetDataPort());
}

std::string CSensorProtocol::SearchMessage(const IPv4Bytes& station, std::uint16_t cmdPort) {
    return Format("@KV-WiFi,SEARCH,%d.%d.%d.%d,%d\r\n", station[0], station[1], station[2], station[3], cmdPort);
}

std::string CSensorProtocol::ConnectMessage(bool tcp, const IPv4Bytes& station, std::uint16_t dataPort) {
    return Format(tcp ? "@KV-WiFi,CONNECT TCP,%d.%d.%d.%d,%d\r\n" : "@KV-WiFi,CONNECT UDP,%d.%d.%d.%d,%d\r\n",
                  station[0], station[1], station[2], station[3], dataPort);
}

std::string CSensorProtocol::ConnectionNameOf(int index) {
    std::string name;
    m_db.GetDevDB()->GetRow(index)->GetValue("Name", name);
    return ConnectionName(index, m_db.m_realCount, name);
}

int CSensorProtocol::InitNetOpt() {
    m_net.SetLocalIP(m_settings.GetLocalIp());
    m_net.Init();
    m_settings.SetLocalIp(m_net.GetLocalIP());
    InitUdp65530();
    m_acceptAll = 1;
    const CSensorInfo& info = *m_settings.GetBaseInfo();
    if (info.GetDataPort() != 0 && m_db.m_totalCount > 0) {
        if (!TcpMode()) {
            SocketExtPtr data;
            InitDevUdpListen(&data, 1);
            SetNetTableSocketForUdp(data.get());
        } else {
            InitDevTcpListen(1);
        }
    }
    return 1;
}

int CSensorProtocol::InitUdp65530() {
    CSensorInfo& info = *m_settings.GetBaseInfo();
    if (info.GetCmdPort() == 0) {
        info.SetCmdPort(TcpMode() ? GetAutoLocalTCPPort() : GetAutoLocalUDPPort());
        m_settings.SetLocalIp(m_net.GetLocalIP());
        m_settings.SavePortInfo();
    }
    const std::uint16_t port = info.GetCmdPort();
    const SocketExtPtr ext = m_net.CreateUdpServerSocket(
        CommandSocketName(), port, kUdpBufferSize,
        [this](CKxSocketExt* e, const IPv4Bytes& ip, std::uint16_t p, const char* d, int n) {
            return ThreadUdpAccept_Callback_65530(e, ip, p, d, n);
        },
        true, kCommandQueueRecords);
    AddLogInfo(Format(ext ? "Create Udp Server Listen:%d Success!" : "Create Udp Server Listen:%d Failed!", port));
    return 1;
}

int CSensorProtocol::InitDevUdpListen(SocketExtPtr* out, int sendConnect) {
    const std::uint16_t port = m_settings.GetBaseInfo()->GetDataPort();
    // A data socket that already exists is the one to use.
    SocketExtPtr ext = m_net.GetSocketExt(DataSocketName());
    if (!ext) {
        ext = m_net.CreateUdpServerSocket(
            DataSocketName(), port, kUdpBufferSize,
            [this](CKxSocketExt* e, const IPv4Bytes& ip, std::uint16_t p, const char* d, int n) {
                return ThreadUdpAccept_Callback_SCmd(e, ip, p, d, n);
            },
            false, kDataQueueRecords);
    }
    if (out) *out = ext;
    if (!ext) {
        AddLogInfo(Format("Create Udp Server Listen:%d Failed!", port));
        return 0;
    }
    AddLogInfo(Format("Create Udp Server Listen:%d Success!", port));
    if (sendConnect) SendConnectCmdToAllDev();
    return 1;
}

int CSensorProtocol::InitDevTcpListen(int sendConnect) {
    const std::uint16_t port = m_settings.GetBaseInfo()->GetDataPort();
    const SocketExtPtr ext = m_net.CreateTcpListenSocket(
        ListenerName(), port, kListenBacklog,
        [this](CKxSocketExt* l, const IPv4Bytes& ip, std::uint16_t p, SocketHandle s) {
            ThreadTcpAccept_Callback(l, ip, p, s);
        });
    if (!ext) {
        AddLogInfo(Format("Create Tcp Server Listen:%d Failed!", port));
        return 0;
    }
    if (sendConnect) SendConnectCmdToAllDev();
    AddLogInfo(Format("Create Tcp Server Listen:%d Success!", port));
    return 1;
}

int CSensorProtocol::SetNetTableSocketForUdp(const CKxSocketExt* ext) {
    CDatabaseLock::Guard guard(m_dbLock);
    CTable_WiFiSensorDB* net = m_db.GetNetDB();
    for (int i = 0; i < net->GetRowCount(); ++i) {
        SetInt(net, i, "Socket", ext ? ext->GetSocket() : kInvalidSocket);
        SetInt(net, i, "Connect", 1);
        if (ext) {
            SetInt(net, i, "LocalPort", ext->GetLocalPort());
            SetInt(net, i, "RemotePort", ext->GetLocalPort());
        }
    }
    return 0;
}

int CSensorProtocol::SendSearchCmd() {
    AddLogInfo("Thread Find Search Start!");
    const SocketExtPtr cmd = m_net.GetSocketExt(CommandSocketName());
    if (!cmd) return 0;
    const std::string msg = SearchMessage(m_net.GetLocalIP(), m_settings.GetBaseInfo()->GetCmdPort());
    return cmd->SendUdp(nullptr, kSensorCommandPort, msg.data(), static_cast<int>(msg.size()), -1);
}

int CSensorProtocol::SendConnectCmdToAllDev() {
    const SocketExtPtr cmd = m_net.GetSocketExt(CommandSocketName());
    if (!cmd) {
        InitUdp65530();
        return 0;
    }
    const std::string msg = ConnectMessage(TcpMode(), m_net.GetLocalIP(), m_settings.GetBaseInfo()->GetDataPort());
    std::vector<IPv4Bytes> targets;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        CTable_WiFiSensorDB* net = m_db.GetNetDB();
        for (int i = 0; i < net->GetRowCount(); ++i) targets.push_back(UnpackIPv4(GetInt(net, i, "RemoteIP")));
    }
    // Sending may wait for the socket: never with the tables locked.
    for (const IPv4Bytes& ip : targets)
        cmd->SendUdp(&ip, kSensorCommandPort, msg.data(), static_cast<int>(msg.size()), -1);
    return 0;
}

int CSensorProtocol::SendConnectCmdToOneDev(const IPv4Bytes& ip, std::uint16_t port) {
    const SocketExtPtr cmd = m_net.GetSocketExt(CommandSocketName());
    if (!cmd) {
        InitUdp65530();
        return 0;
    }
    const std::string msg = ConnectMessage(TcpMode(), m_net.GetLocalIP(), port);
    cmd->SendUdp(&ip, kSensorCommandPort, msg.data(), static_cast<int>(msg.size()), -1);
    return 0;
}

void CSensorProtocol::SendRCmdToAllDev() {
    struct Target {
        IPv4Bytes ip;
        std::uint16_t port;
        std::string connection;
    };
    std::vector<Target> targets;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        CTable_WiFiSensorDB* net = m_db.GetNetDB();
        const int rows = std::min(net->GetRowCount(), m_db.GetDevDB()->GetRowCount());
        for (int i = 0; i < rows; ++i) {
            targets.push_back({UnpackIPv4(GetInt(net, i, "RemoteIP")),
                               static_cast<std::uint16_t>(GetInt(net, i, "RemotePort")), ConnectionNameOf(i)});
            SetInt(net, i, "Connect", 0);
        }
    }
    const SocketExtPtr data = TcpMode() ? nullptr : m_net.GetSocketExt(DataSocketName());
    for (int i = 0; i < static_cast<int>(targets.size()); ++i) {
        const Target& t = targets[static_cast<std::size_t>(i)];
        if (!TcpMode()) {
            if (data) data->SendUdp(&t.ip, t.port, "R", 1, i);
        } else if (const SocketExtPtr conn = m_net.GetSocketExt(t.connection)) {
            conn->SendTcp("R", 1, i);
        }
    }
}

void CSensorProtocol::SendRCmdToOneDev(int index) {
    IPv4Bytes ip;
    std::uint16_t port;
    std::string connection;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        CTable_WiFiSensorDB* net = m_db.GetNetDB();
        if (index < 0 || index >= net->GetRowCount() || index >= m_db.GetDevDB()->GetRowCount()) return;
        ip = UnpackIPv4(GetInt(net, index, "RemoteIP"));
        port = static_cast<std::uint16_t>(GetInt(net, index, "RemotePort"));
        connection = ConnectionNameOf(index);
    }
    if (!TcpMode()) {
        if (const SocketExtPtr data = m_net.GetSocketExt(DataSocketName())) data->SendUdp(&ip, port, "R", 1, index);
    } else if (const SocketExtPtr conn = m_net.GetSocketExt(connection)) {
        conn->SendTcp("R", 1, index);
    }
}

int CSensorProtocol::CloseAllDevSocket() {
    if (!TcpMode()) {
        m_net.ClosetSocket(DataSocketName());
    } else {
        std::vector<std::string> names;
        {
            CDatabaseLock::Guard guard(m_dbLock);
            for (int i = 0; i < m_db.GetDevDB()->GetRowCount(); ++i) names.push_back(ConnectionNameOf(i));
        }
        for (const std::string& n : names) m_net.ClosetSocket(n);
        m_net.ClosetSocket(ListenerName());
    }
    CDatabaseLock::Guard guard(m_dbLock);
    m_db.GetNetDB()->SetTableColumnValue("Socket", kInvalidSocket);
    return 1;
}

int CSensorProtocol::CloseOneDevSocket(int index) {
    std::string name;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        if (index < 0 || index >= m_db.GetNetDB()->GetRowCount() || index >= m_db.GetDevDB()->GetRowCount()) return 0;
        name = ConnectionNameOf(index);
    }
    if (TcpMode()) m_net.ClosetSocket(name);
    CDatabaseLock::Guard guard(m_dbLock);
    if (index < m_db.GetNetDB()->GetRowCount()) SetInt(m_db.GetNetDB(), index, "Socket", kInvalidSocket);
    return 1;
}

void CSensorProtocol::AcceptAll() {
    if (TcpMode()) m_acceptAll = 1;
}

void CSensorProtocol::NotAcceptAll() {
    if (TcpMode()) m_acceptAll = 0;
}

int CSensorProtocol::GetIndexFromIP(const IPv4Bytes& ip) {
    CTable_WiFiSensorDB* net = m_db.GetNetDB();
    const std::int32_t packed = PackIPv4(ip);
    for (int i = 0; i < net->GetRowCount(); ++i)
        if (GetInt(net, i, "RemoteIP") == packed) return i;
    return -1;
}

int CSensorProtocol::IsIpPortAllow(const IPv4Bytes& ip, std::uint16_t) {
    if (m_acceptAll.load() == 0) return -1;
    return GetIndexFromIP(ip);
}

int CSensorProtocol::ThreadUdpAccept_Callback_65530(CKxSocketExt*, const IPv4Bytes& ip, std::uint16_t,
                                                    const char* data, int len) {
    if (len < kReplyMinLen) return 1;
    int refreshed = -1, serial = 0;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        if (!guard.owns()) return 1;
        const int row = GetIndexFromIP(ip);
        if (row < 0 || std::memcmp(data, kReplyPrefix, kReplyPrefixLen) != 0) return 1;
        // The serial is the decimal number at byte 23, within the first 29 bytes.
        char head[30] = {};
        std::memcpy(head, data, 29);
        serial = std::atoi(head + kReplyPrefixLen);
        CTable_WiFiSensorDB* dev = m_db.GetDevDB();
        if (row < dev->GetRowCount()) {
            if (GetInt(dev, row, "Serial") != serial) SetInt(dev, row, "Serial", serial);
            refreshed = row;
        }
    }
    if (refreshed >= 0 && m_hooks.serialRefreshed) m_hooks.serialRefreshed(refreshed, serial);
    return 1;
}

int CSensorProtocol::ThreadUdpAccept_Callback_SCmd(CKxSocketExt*, const IPv4Bytes&, std::uint16_t, const char*, int) {
    return 1;
}

void CSensorProtocol::ThreadTcpAccept_Callback(CKxSocketExt* listener, const IPv4Bytes& ip, std::uint16_t port,
                                               SocketHandle s) {
    auto refuse = [&](bool closeSocket = true) {
        if (closeSocket) ::close(s);
        AddLogInfo(Format("Tcp Accept Failed %d.%d.%d.%d:%d!", ip[0], ip[1], ip[2], ip[3], port));
    };
    if (!m_hooks.mainWindowReady || !m_hooks.mainWindowReady()) return refuse();
    int row;
    std::string name;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        if (!guard.owns()) return refuse();
        row = IsIpPortAllow(ip, port);
        if (row < 0 || row >= m_db.GetDevDB()->GetRowCount()) return refuse();
        m_db.GetDevDB()->GetRow(row)->GetValue("Name", name);
    }
    const std::string connName = !name.empty() && name[0] == '!' ? name : "TcpClient" + name;

    SocketExtPtr ext = m_net.GetSocketExt(connName);
    SocketHandle old = kInvalidSocket;
    if (ext && !ext->ReplaceSocket(s, old)) {
        // Its peer closed it: retire it so this connection gets a working endpoint.
        m_net.ClosetSocket(connName);
        ext.reset();
    }
    if (!ext) {
        ext = m_net.CreateTcpClientFromAcceptSocket(connName, s, listener->GetLocalPort(), ip, port, kTcpBufferSize);
        // A failed creation has closed the socket, unless the name was taken meanwhile.
        if (!ext) return refuse(m_net.GetSocketExt(connName) != nullptr);
        AddLogInfo(Format("Tcp Accept Success %d.%d.%d.%d:%d!", ip[0], ip[1], ip[2], ip[3], port));
    } else {
        // The sensor connected again: same endpoint, new socket.
        if (old >= 0 && old != s) ::close(old);
        m_net.SocketValueChange(old, s);
    }
    {
        CDatabaseLock::Guard guard(m_dbLock);
        // Rows may have moved while the lock was free (a sensor added or deleted): find it again.
        if (guard.owns()) row = GetIndexFromIP(ip);
        CTable_WiFiSensorDB* net = m_db.GetNetDB();
        if (guard.owns() && row >= 0 && row < net->GetRowCount()) {
            SetInt(net, row, "RemotePort", port);
            SetInt(net, row, "Socket", s);
            SetInt(net, row, "Connect", 1);
        }
    }
    if (row >= 0 && m_hooks.setConnectLed) m_hooks.setConnectLed(row, 1);
}

void CSensorProtocol::OnPeerClosed(CKxSocketExt& ext, SocketHandle closed) {
    const std::string name = ext.GetName();
    int row = -1;
    {
        CDatabaseLock::Guard guard(m_dbLock);
        if (!guard.owns()) return;
        for (int i = 0; i < m_db.GetDevDB()->GetRowCount() && i < m_db.GetNetDB()->GetRowCount(); ++i) {
            // A row that already holds a newer connection keeps it.
            if (ConnectionNameOf(i) == name && GetInt(m_db.GetNetDB(), i, "Socket") == closed) {
                SetInt(m_db.GetNetDB(), i, "Socket", kInvalidSocket);
                SetInt(m_db.GetNetDB(), i, "Connect", 0);
                row = i;
                break;
            }
        }
    }
    if (row >= 0 && m_hooks.setConnectLed) m_hooks.setConnectLed(row, 0);
}

} // namespace hygro
