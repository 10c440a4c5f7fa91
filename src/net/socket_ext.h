// One IPv4 socket with the worker thread it needs: a TCP listener with its accept
// thread, an accepted TCP connection whose thread fills a receive buffer, or a UDP socket
// whose thread queues datagrams per sender.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/ipv4.h"

namespace hygro {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

class CKxSocketExt;

// What an endpoint asks of the rest of the station. Every member may be empty.
struct EndpointHooks {
    std::function<bool(const IPv4Bytes&)> isLocalIP;
    std::function<int(const IPv4Bytes&)> indexFromIP;
    std::function<void(int index)> txLed;
    std::function<void(int index)> rxLed;
    // A TCP connection's peer closed it; `closed` is the handle that was closed (runs on
    // the worker, which ends right after).
    std::function<void(CKxSocketExt&, SocketHandle closed)> peerClosed;
    // Data was queued or buffered (wakes the receive check at once).
    std::function<void()> dataArrived;
    // Interface index that broadcasts leave through (0: the routing table decides).
    std::function<unsigned()> broadcastInterface;
};

using TcpAcceptFn = std::function<void(CKxSocketExt*, const IPv4Bytes& ip, std::uint16_t port, SocketHandle s)>;
using UdpAcceptFn =
    std::function<int(CKxSocketExt*, const IPv4Bytes& ip, std::uint16_t port, const char* data, int len)>;

// One sender's queued datagrams, oldest first; each block is a NUL-terminated copy of the
// receive buffer.
class CUdpReceiveData {
  public:
    CUdpReceiveData(const IPv4Bytes& ip, std::uint16_t port) : m_ip(ip), m_port(port) {}
    int AddData(const char* buf, int count);
    void DeleteAllData() { m_blocks.clear(); }
    const IPv4Bytes& GetIP() const { return m_ip; }
    std::uint16_t GetPort() const { return m_port; }
    int GetDataCount() const { return static_cast<int>(m_blocks.size()); }
    const char* GetData(int i) const { return m_blocks[static_cast<std::size_t>(i)].data(); }
    void DeleteData(int i) { m_blocks.erase(m_blocks.begin() + i); }

  private:
    friend class CKxSocketExt;
    IPv4Bytes m_ip;
    std::uint16_t m_port;
    std::vector<std::vector<char>> m_blocks;
};

enum SocketKind : int { kKindTcpListen = 1, kKindTcpStream = 2, kKindTcpConnection = 3, kKindUdp = 4 };

class CKxSocketExt {
  public:
    // Starts the worker thread the kind needs at once; every field is set before it runs.
    CKxSocketExt(int kind, std::string name, SocketHandle socket, const IPv4Bytes* remoteIP,
                 std::uint16_t remotePort, std::uint16_t localPort, TcpAcceptFn tcpAccept, UdpAcceptFn udpAccept,
                 std::shared_ptr<const EndpointHooks> hooks = {});
    // Runs the close sequence if Close() has not.
    ~CKxSocketExt();
    CKxSocketExt(const CKxSocketExt&) = delete;
    CKxSocketExt& operator=(const CKxSocketExt&) = delete;

    // The logged close sequence: flag, socket, threads (each ends within its bounded wait),
    // buffers. Later calls do nothing.
    void Close();

    int CheckThread() const;
    // Attach the receive buffer before the worker reads it; 0 on allocation failure.
    int SetReviceBufferSize(int size);
    int CheckReceiveBuffer() const;
    // The receive buffer, count and datagram queue are shared with other threads: hold
    // LockReceive() while reading them through raw pointers.
    std::unique_lock<std::recursive_mutex> LockReceive() const { return std::unique_lock(m_receiveLock); }
    char* GetReceiveBuffer() { return m_buffer.empty() ? nullptr : m_buffer.data(); }
    int GetReceiveSize() const { return m_receiveSize; }
    int GetReceiveCount() const;
    void ClearTcpReceiveBuffer();
    void AddTcpRevCount(int count);

    SocketHandle GetSocket() const { return m_socket.load(); }
    // Gives a connection a new socket and returns the old one, which the worker no longer
    // uses once this returns (the caller closes it).
    SocketHandle SetSocketValue(SocketHandle s);
    // The same for a sensor that connects again, but refused (false) once the worker has
    // dropped its socket after the peer closed: such an endpoint is retired.
    bool ReplaceSocket(SocketHandle s, SocketHandle& old);
    std::string GetName() const;
    void SetName(std::string name);
    int GetKind() const { return m_kind; }
    std::uint16_t GetLocalPort() const { return m_localPort; }
    const IPv4Bytes& GetRemoteIPv4Buf() const { return m_remoteIP; }
    std::uint16_t GetRemotePort() const { return m_remotePort; }
    int IsClosing() const { return m_closing.load() ? 1 : 0; }
    // True once the worker thread has returned (for example after the peer closed).
    bool IsThreadEnded() const { return m_threadEnded.load(); }

    int SendTcp(const char* buf, int len, int index);
    // ip == nullptr broadcasts to 255.255.255.255.
    int SendUdp(const IPv4Bytes* ip, std::uint16_t port, const char* buf, int len, int index);

    int GetUdpServerRevDataCount() const;
    CUdpReceiveData* GetUdpServerRevData(int index);
    int GetUdpServerRevDataTotalLength() const;
    CUdpReceiveData* GetUdpRevDataBuf(const IPv4Bytes& ip, std::uint16_t port);
    void DeleteUdpServerRevData(int index);
    void ClearUdpRevData();
    // At most this many sender records are kept; the oldest goes first.
    void SetMaxSenderRecords(int records) { m_maxRecords = records; }
    static constexpr int kMaxBlocksPerSender = 64;

  private:
    void ThreadForAccept_NetOpt();
    void ThreadForTcpRevice_NetOpt();
    void ThreadForUdpRevice_NetOpt();
    int FunTcpSocketRevData(char* buf, int count, int index);
    int FunUdpSocketRevData(char* buf, int count, IPv4Bytes& ip, std::uint16_t& port);
    // Waits until fd is ready (or the endpoint is woken); true when ready.
    bool WaitReady(SocketHandle fd, short events, int timeoutMs) const;
    void Wake() const;
    void Log(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
    void QueueDatagram(const IPv4Bytes& ip, std::uint16_t port);

    TcpAcceptFn m_tcpAccept;
    UdpAcceptFn m_udpAccept;
    std::atomic<SocketHandle> m_socket;
    mutable std::mutex m_nameLock;
    std::string m_name; // guarded by m_nameLock
    const int m_kind;
    IPv4Bytes m_remoteIP{};
    std::uint16_t m_remotePort;
    std::uint16_t m_localPort;
    std::shared_ptr<const EndpointHooks> m_hooks;

    // The worker holds m_socketUse (shared) while it uses the socket; replacing or closing
    // the socket takes it exclusively after waking the worker, so a handle is never used
    // after it was closed and reused by the kernel.
    mutable std::shared_mutex m_socketUse;
    int m_wakeFd = -1; // eventfd that interrupts the worker's waits

    mutable std::recursive_mutex m_receiveLock;
    std::vector<char> m_buffer; // size + 1 for the terminating NUL
    int m_receiveSize = 0;
    int m_receiveCount = 0;                             // guarded by m_receiveLock
    std::vector<std::unique_ptr<CUdpReceiveData>> m_queue; // guarded by m_receiveLock
    int m_maxRecords = 1024;
    bool m_dropLogged = false; // guarded by m_receiveLock

    std::atomic<std::thread::id> m_workerId{};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_threadEnded{false};
    bool m_retired = false; // guarded by m_socketUse
    bool m_closed = false;
    std::jthread m_acceptThread, m_tcpThread, m_udpThread;
};

} // namespace hygro
