// The station's side of the sensor protocol: which sockets exist in each transport mode,
// the SEARCH, CONNECT and R commands, and the callbacks of the command socket, the UDP
// data socket and the TCP listener, with the per-sensor connection state in the Net table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/net_opt.h"

namespace hygro {

class CWiFiSensorDatabase;
class CDatabaseLock;
class CGlobalMember;

struct ProtocolHooks {
    // Connections are taken only once the main window has been shown.
    std::function<bool()> mainWindowReady;
    std::function<void(int index, int on)> setConnectLed;
    // A known sensor's serial was refreshed from a search reply (discovery list).
    std::function<void(int index, int serial)> serialRefreshed;
};

class CSensorProtocol {
  public:
    static constexpr std::uint16_t kSensorCommandPort = 65530;
    static constexpr int kUdpBufferSize = 100;
    static constexpr int kTcpBufferSize = 200;
    static constexpr int kListenBacklog = 40;
    static constexpr int kCommandQueueRecords = 256;
    static constexpr int kDataQueueRecords = 1024;

    CSensorProtocol(CWiFiSensorDatabase& db, CDatabaseLock& dbLock, CGlobalMember& settings, CWiFiSensorNetOpt& net);
    CSensorProtocol(const CSensorProtocol&) = delete;
    CSensorProtocol& operator=(const CSensorProtocol&) = delete;

    ProtocolHooks& Hooks() { return m_hooks; }

    int InitNetOpt();
    int InitUdp65530();
    // The data socket; *out (when given) receives it or null.
    int InitDevUdpListen(SocketExtPtr* out, int sendConnect);
    int InitDevTcpListen(int sendConnect);
    int SetNetTableSocketForUdp(const CKxSocketExt* ext);
    int SendSearchCmd();
    int SendConnectCmdToAllDev();
    int SendConnectCmdToOneDev(const IPv4Bytes& ip, std::uint16_t port);
    void SendRCmdToAllDev();
    void SendRCmdToOneDev(int index);
    int CloseAllDevSocket();
    int CloseOneDevSocket(int index);

    void AcceptAll();
    void NotAcceptAll();
    void SetAcceptAll(int v) { m_acceptAll = v; }
    int IsAcceptAll() const { return m_acceptAll.load(); }
    int IsIpPortAllow(const IPv4Bytes& ip, std::uint16_t port);
    int GetIndexFromIP(const IPv4Bytes& ip);

    int ThreadUdpAccept_Callback_65530(CKxSocketExt* ext, const IPv4Bytes& ip, std::uint16_t port, const char* data,
                                       int len);
    int ThreadUdpAccept_Callback_SCmd(CKxSocketExt* ext, const IPv4Bytes& ip, std::uint16_t port, const char* data,
                                      int len);
    void ThreadTcpAccept_Callback(CKxSocketExt* listener, const IPv4Bytes& ip, std::uint16_t port, SocketHandle s);

    static std::string SearchMessage(const IPv4Bytes& station, std::uint16_t cmdPort);
    static std::string ConnectMessage(bool tcp, const IPv4Bytes& station, std::uint16_t dataPort);

    std::string CommandSocketName() const;
    std::string DataSocketName() const;
    std::string ListenerName() const;

  private:
    bool TcpMode() const;
    void OnPeerClosed(CKxSocketExt& ext, SocketHandle closed);
    // The connection name of sensor index (tables locked by the caller).
    std::string ConnectionNameOf(int index);

    CWiFiSensorDatabase& m_db;
    CDatabaseLock& m_dbLock;
    CGlobalMember& m_settings;
    CWiFiSensorNetOpt& m_net;
    ProtocolHooks m_hooks;
    // Written on the GUI thread, read by the accept thread.
    std::atomic<int> m_acceptAll{0};
};

} // namespace hygro
