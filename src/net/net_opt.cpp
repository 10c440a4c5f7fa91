#include "net/net_opt.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "db/wifi_sensor_db.h"
#include "util/kx_log.h"

namespace hygro {
namespace {

void CloseFd(SocketHandle s) {
    if (s >= 0) ::close(s);
}

std::uint16_t AutoPort(int type) {
    const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    std::uint16_t port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (::close(s) != 0) return 0;
    return port;
}

bool BindAny(SocketHandle s, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

} // namespace

std::optional<std::vector<NetAdapter>> SystemAdapters() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::vector<NetAdapter> out;
    std::set<std::string> seen;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
        if (!seen.insert(i->ifa_name).second) continue; // an adapter's first address only
        NetAdapter a;
        a.name = i->ifa_name;
        std::memcpy(a.address.data(), &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr, 4);
        a.ifindex = ::if_nametoindex(i->ifa_name);
        out.push_back(std::move(a));
    }
    ::freeifaddrs(list);
    return out;
}

std::uint16_t GetAutoLocalUDPPort() { return AutoPort(SOCK_DGRAM); }
std::uint16_t GetAutoLocalTCPPort() { return AutoPort(SOCK_STREAM); }

std::string ConnectionName(int index, int realCount, const std::string& sensorName) {
    return index < realCount ? "TcpClient" + sensorName : sensorName;
}

CWiFiSensorNetOpt::CWiFiSensorNetOpt(AdapterSource adapters)
    : m_adapterSource(std::move(adapters)), m_hooks(std::make_shared<EndpointHooks>()) {
    m_hooks->isLocalIP = [this](const IPv4Bytes& ip) { return IsLocalIP(ip) != 0; };
    m_hooks->broadcastInterface = [this] { return LocalInterfaceIndex(); };
    m_hooks->dataArrived = [this] { NotifyData(); };
}

void CWiFiSensorNetOpt::NotifyData() {
    {
        std::lock_guard lock(m_dataLock);
        ++m_dataCount;
    }
    m_dataArrived.notify_all();
}

bool CWiFiSensorNetOpt::WaitForData(std::uint64_t& seen, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_dataLock);
    const bool arrived = m_dataArrived.wait_for(lock, wait, [&] { return m_dataCount != seen; });
    seen = m_dataCount;
    return arrived;
}

CWiFiSensorNetOpt::~CWiFiSensorNetOpt() { ClearMemBuffer(); }

IPv4Bytes CWiFiSensorNetOpt::GetLocalIP() const {
    std::lock_guard lock(m_lock);
    return m_localIP;
}

void CWiFiSensorNetOpt::SetLocalIP(const IPv4Bytes& ip) {
    std::lock_guard lock(m_lock);
    m_localIP = ip;
}

int CWiFiSensorNetOpt::Init() {
    if (GetLocalIP() == kLoopbackIPv4) GetLocalIPAddrForCString();
    else UpdateAdapterInfo(); // ChangeLocalIP and the broadcast interface need the list
    return 1;
}

void CWiFiSensorNetOpt::UpdateAdapterInfo() {
    auto adapters = m_adapterSource ? m_adapterSource() : std::nullopt;
    if (!adapters) return;
    std::lock_guard lock(m_lock);
    m_adapters = std::move(*adapters);
}

void CWiFiSensorNetOpt::GetLocalIPAddrForCString() {
    UpdateAdapterInfo();
    std::lock_guard lock(m_lock);
    for (const NetAdapter& a : m_adapters) {
        if (a.address != kLoopbackIPv4) {
            m_localIP = a.address;
            return;
        }
    }
}

int CWiFiSensorNetOpt::HasAnotherNetworkcard() {
    UpdateAdapterInfo();
    std::lock_guard lock(m_lock);
    for (const NetAdapter& a : m_adapters)
        if (a.address != kLoopbackIPv4 && a.address != m_localIP) return 1;
    return 0;
}

void CWiFiSensorNetOpt::ChangeLocalIP() {
    std::lock_guard lock(m_lock);
    bool found = false;
    bool taken = false;
    std::optional<IPv4Bytes> first;
    IPv4Bytes next = m_localIP;
    for (const NetAdapter& a : m_adapters) {
        if (a.address == kLoopbackIPv4) continue;
        if (a.address == m_localIP) {
            found = true;
            continue;
        }
        if (!first) first = a.address;
        if (found && !taken) {
            next = a.address;
            taken = true;
        }
    }
    if (!found) return;
    if (!taken && first) next = *first;
    m_localIP = next;
}

int CWiFiSensorNetOpt::IsLocalIP(const IPv4Bytes& ip) const {
    if (ip == kLoopbackIPv4) return 1;
    std::lock_guard lock(m_lock);
    return ip == m_localIP ? 1 : 0;
}

unsigned CWiFiSensorNetOpt::LocalInterfaceIndex() const {
    std::lock_guard lock(m_lock);
    for (const NetAdapter& a : m_adapters)
        if (a.address == m_localIP) return a.ifindex;
    return 0;
}

SocketExtPtr CWiFiSensorNetOpt::Register(const std::string& name, std::unique_ptr<CKxSocketExt> ext) {
    SocketExtPtr shared(std::move(ext));
    std::lock_guard lock(m_lock);
    if (m_byName.count(name)) return nullptr; // lost a race for the name
    m_byName[name] = shared;
    m_bySocket[shared->GetSocket()] = shared;
    return shared;
}

SocketExtPtr CWiFiSensorNetOpt::CreateTcpListenSocket(const std::string& name, std::uint16_t localPort,
                                                      int listenCount, TcpAcceptFn accept) {
    if (localPort == 0 || GetSocketExt(name)) return nullptr;
    const SocketHandle s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) return nullptr;
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (!BindAny(s, localPort) || ::listen(s, listenCount) != 0) {
        CloseFd(s);
        return nullptr;
    }
    auto ext = std::make_unique<CKxSocketExt>(kKindTcpListen, name, s, nullptr, 0, localPort, std::move(accept),
                                              UdpAcceptFn{}, m_hooks);
    if (!ext->CheckThread()) return nullptr; // destroying it closes the socket
    auto shared = Register(name, std::move(ext));
    return shared;
}

SocketExtPtr CWiFiSensorNetOpt::CreateUdpServerSocket(const std::string& name, std::uint16_t localPort,
                                                      int receiveBufferSize, UdpAcceptFn accept, bool broadcast,
                                                      int maxSenderRecords) {
    if (GetSocketExt(name)) return nullptr;
    const SocketHandle s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return nullptr;
    const int one = 1;
    // Never SO_REUSEADDR here: a second socket on the same port must fail.
    if ((broadcast && ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) || !BindAny(s, localPort)) {
        CloseFd(s);
        return nullptr;
    }
    auto ext = std::make_unique<CKxSocketExt>(kKindUdp, name, s, nullptr, 0, localPort, TcpAcceptFn{},
                                              std::move(accept), m_hooks);
    ext->SetMaxSenderRecords(maxSenderRecords);
    if (!ext->SetReviceBufferSize(receiveBufferSize) || !ext->CheckThread()) return nullptr;
    return Register(name, std::move(ext));
}

SocketExtPtr CWiFiSensorNetOpt::CreateTcpClientFromAcceptSocket(const std::string& name, SocketHandle s,
                                                                std::uint16_t localPort, const IPv4Bytes& remoteIP,
                                                                std::uint16_t remotePort, int revSize) {
    if (GetSocketExt(name)) return nullptr; // the socket stays the caller's
    auto ext = std::make_unique<CKxSocketExt>(kKindTcpConnection, name, s, &remoteIP, remotePort, localPort,
                                              TcpAcceptFn{}, UdpAcceptFn{}, m_hooks);
    if (!ext->SetReviceBufferSize(revSize) || !ext->CheckThread()) return nullptr; // closes s once
    return Register(name, std::move(ext));
}

SocketExtPtr CWiFiSensorNetOpt::GetSocketExt(const std::string& name) const {
    std::lock_guard lock(m_lock);
    const auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : it->second;
}

SocketExtPtr CWiFiSensorNetOpt::GetSocketExt(SocketHandle s) const {
    std::lock_guard lock(m_lock);
    const auto it = m_bySocket.find(s);
    return it == m_bySocket.end() ? nullptr : it->second;
}

int CWiFiSensorNetOpt::SocketNameChange(const std::string& oldName, const std::string& newName) {
    std::lock_guard lock(m_lock);
    const auto it = m_byName.find(oldName);
    if (it == m_byName.end()) return 0;
    SocketExtPtr ext = it->second;
    ext->SetName(newName);
    m_byName.erase(it);
    m_byName[newName] = ext;
    return 1;
}

int CWiFiSensorNetOpt::SocketValueChange(SocketHandle oldSocket, SocketHandle newSocket) {
    std::lock_guard lock(m_lock);
    const auto it = m_bySocket.find(oldSocket);
    if (it == m_bySocket.end()) return 0;
    SocketExtPtr ext = it->second;
    m_bySocket.erase(it);
    m_bySocket[newSocket] = ext;
    return 1;
}

int CWiFiSensorNetOpt::ClosetSocket(const std::string& name) {
    SocketExtPtr ext;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_byName.find(name);
        if (it == m_byName.end()) return 0;
        ext = it->second;
        m_byName.erase(it);
        for (auto s = m_bySocket.begin(); s != m_bySocket.end();) {
            if (s->second == ext) s = m_bySocket.erase(s);
            else ++s;
        }
    }
    // Outside the lock: the worker being joined may call back into the manager.
    ext->Close();
    return 1;
}

int CWiFiSensorNetOpt::ClearMemBuffer() {
    std::map<std::string, SocketExtPtr> all;
    {
        std::lock_guard lock(m_lock);
        m_bySocket.clear();
        all.swap(m_byName);
    }
    for (auto& [name, ext] : all) {
        AddLogInfo("Delete Dev socket mem " + name + "!");
        ext->Close();
    }
    return 1;
}

void CWiFiSensorNetOpt::ClearAllDevUdpRevData(std::uint16_t dataPort) {
    if (SocketExtPtr ext = GetSocketExt("UdpServer" + std::to_string(dataPort))) ext->ClearUdpRevData();
}

void CWiFiSensorNetOpt::ClearAllDevTcpRevData(CWiFiSensorDatabase& db) {
    CTable_WiFiSensorDB* dev = db.GetDevDB();
    for (int i = 0; i < dev->GetRowCount(); ++i) {
        std::string name;
        dev->GetRow(i)->GetValue("Name", name);
        if (SocketExtPtr ext = GetSocketExt(ConnectionName(i, db.m_realCount, name))) ext->ClearTcpReceiveBuffer();
    }
}

std::vector<std::string> CWiFiSensorNetOpt::EndpointNames() const {
    std::lock_guard lock(m_lock);
    std::vector<std::string> names;
    for (const auto& [name, ext] : m_byName) names.push_back(name);
    return names;
}

} // namespace hygro
