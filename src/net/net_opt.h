// The network manager: the station address chosen from the adapters, and the registry of
// socket endpoints by unique name and by socket handle.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/socket_ext.h"

namespace hygro {

class CWiFiSensorDatabase;

struct NetAdapter {
    std::string name;
    IPv4Bytes address{};
    unsigned ifindex = 0;
};
// The adapters in the order the system lists them; nullopt when they cannot be read.
using AdapterSource = std::function<std::optional<std::vector<NetAdapter>>()>;
// IPv4 addresses of interfaces that are up, the first address of each interface.
std::optional<std::vector<NetAdapter>> SystemAdapters();

// Endpoints are shared: a holder may keep using one (sends then fail) after it was closed.
using SocketExtPtr = std::shared_ptr<CKxSocketExt>;

class CWiFiSensorNetOpt {
  public:
    explicit CWiFiSensorNetOpt(AdapterSource adapters = SystemAdapters);
    ~CWiFiSensorNetOpt();
    CWiFiSensorNetOpt(const CWiFiSensorNetOpt&) = delete;
    CWiFiSensorNetOpt& operator=(const CWiFiSensorNetOpt&) = delete;

    // Services handed to every endpoint created afterwards; set before the first create.
    EndpointHooks& Hooks() { return *m_hooks; }

    IPv4Bytes GetLocalIP() const;
    void SetLocalIP(const IPv4Bytes& ip);

    int Init();
    void GetLocalIPAddrForCString();
    void UpdateAdapterInfo();
    int HasAnotherNetworkcard();
    void ChangeLocalIP();
    int IsLocalIP(const IPv4Bytes& ip) const;
    // Interface index of the adapter that owns the station address (0 when none does).
    unsigned LocalInterfaceIndex() const;

    SocketExtPtr CreateTcpListenSocket(const std::string& name, std::uint16_t localPort, int listenCount,
                                       TcpAcceptFn accept);
    SocketExtPtr CreateUdpServerSocket(const std::string& name, std::uint16_t localPort, int receiveBufferSize,
                                       UdpAcceptFn accept, bool broadcast, int maxSenderRecords = 1024);
    SocketExtPtr CreateTcpClientFromAcceptSocket(const std::string& name, SocketHandle s, std::uint16_t localPort,
                                                 const IPv4Bytes& remoteIP, std::uint16_t remotePort, int revSize);

    SocketExtPtr GetSocketExt(const std::string& name) const;
    SocketExtPtr GetSocketExt(SocketHandle s) const;
    int SocketNameChange(const std::string& oldName, const std::string& newName);
    int SocketValueChange(SocketHandle oldSocket, SocketHandle newSocket);
    int ClosetSocket(const std::string& name);
    int ClearMemBuffer();
    void ClearAllDevUdpRevData(std::uint16_t dataPort);
    // Clears the receive count of every sensor's connection (callers hold the database lock).
    void ClearAllDevTcpRevData(CWiFiSensorDatabase& db);
    std::vector<std::string> EndpointNames() const;

    // Every endpoint reports arriving data here. WaitForData returns when data arrived
    // after `seen` (updating it) or when the wait ran out.
    void NotifyData();
    bool WaitForData(std::uint64_t& seen, std::chrono::milliseconds wait);

  private:
    SocketExtPtr Register(const std::string& name, std::unique_ptr<CKxSocketExt> ext);

    AdapterSource m_adapterSource;
    std::shared_ptr<EndpointHooks> m_hooks;
    mutable std::mutex m_lock;
    IPv4Bytes m_localIP = kLoopbackIPv4;          // guarded by m_lock
    std::vector<NetAdapter> m_adapters;           // guarded by m_lock
    std::map<std::string, SocketExtPtr> m_byName; // guarded by m_lock
    std::map<SocketHandle, SocketExtPtr> m_bySocket; // guarded by m_lock
    std::mutex m_dataLock;
    std::condition_variable m_dataArrived;
    std::uint64_t m_dataCount = 0; // guarded by m_dataLock
};

std::uint16_t GetAutoLocalUDPPort();
std::uint16_t GetAutoLocalTCPPort();

// The name of sensor index's TCP connection: "TcpClient" + name for an in-use sensor, the
// temporary name alone for a found one.
std::string ConnectionName(int index, int realCount, const std::string& sensorName);

} // namespace hygro
