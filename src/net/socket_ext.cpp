#include "net/socket_ext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <system_error>

#include "util/kx_log.h"

namespace hygro {
namespace {

constexpr int kTcpReceiveWaitMs = 1000;
constexpr int kUdpReceiveWaitMs = 2000;
constexpr int kSendWaitMs = 5000;
constexpr int kNoBufferPauseMs = 500;
constexpr int kAcceptFailPauseMs = 1000;
// Log lines are built in 100-byte buffers and shortened rather than dropped.
constexpr std::size_t kLogLine = 100;

IPv4Bytes FromSockaddr(const sockaddr_in& a) {
    IPv4Bytes ip;
    std::memcpy(ip.data(), &a.sin_addr.s_addr, 4);
    return ip;
}

sockaddr_in ToSockaddr(const IPv4Bytes& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    std::memcpy(&a.sin_addr.s_addr, ip.data(), 4);
    return a;
}

std::string AsText(const char* buf, int len) { return std::string(buf, static_cast<std::size_t>(len > 0 ? len : 0)).c_str(); }

} // namespace

int CUdpReceiveData::AddData(const char* buf, int count) {
    try {
        std::vector<char> block(static_cast<std::size_t>(count) + 1, '\0');
        std::memcpy(block.data(), buf, static_cast<std::size_t>(count));
        m_blocks.push_back(std::move(block));
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

CKxSocketExt::CKxSocketExt(int kind, std::string name, SocketHandle socket, const IPv4Bytes* remoteIP,
                           std::uint16_t remotePort, std::uint16_t localPort, TcpAcceptFn tcpAccept,
                           UdpAcceptFn udpAccept, std::shared_ptr<const EndpointHooks> hooks)
    : m_socket(socket), m_name(std::move(name)), m_kind(kind), m_remotePort(remotePort), m_localPort(localPort),
      m_hooks(hooks ? std::move(hooks) : std::make_shared<EndpointHooks>()) {
    if (remoteIP) m_remoteIP = *remoteIP;
    if (kind == kKindTcpListen) m_tcpAccept = std::move(tcpAccept);
    if (kind == kKindUdp) m_udpAccept = std::move(udpAccept);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    try {
        switch (kind) {
        case kKindTcpListen:
            m_acceptThread = std::jthread([this] {
                m_workerId = std::this_thread::get_id();
                ThreadForAccept_NetOpt();
            });
            break;
        case kKindTcpConnection:
            m_tcpThread = std::jthread([this] {
                m_workerId = std::this_thread::get_id();
                ThreadForTcpRevice_NetOpt();
            });
            break;
        case kKindUdp:
            m_udpThread = std::jthread([this] {
                m_workerId = std::this_thread::get_id();
                ThreadForUdpRevice_NetOpt();
            });
            break;
        default:
            break;
        }
    } catch (const std::system_error&) {
        // CheckThread reports it; the creator destroys the endpoint.
    }
}

CKxSocketExt::~CKxSocketExt() {
    Close();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void CKxSocketExt::Log(const char* fmt, ...) const {
    char buf[kLogLine];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    AddLogInfo(buf);
}

void CKxSocketExt::Wake() const {
    if (m_wakeFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
}

bool CKxSocketExt::WaitReady(SocketHandle fd, short events, int timeoutMs) const {
    // Only the worker listens to the wake-up; a sender is released by the socket's shutdown.
    const bool worker = std::this_thread::get_id() == m_workerId.load();
    pollfd fds[2] = {{fd, events, 0}, {worker ? m_wakeFd : -1, POLLIN, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    pollfd* first = fd >= 0 ? &fds[0] : &fds[1];
    for (;;) {
        const int r = ::poll(first, count, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        if (fds[1].revents & POLLIN) {
            std::uint64_t v;
            [[maybe_unused]] const auto n = ::read(m_wakeFd, &v, sizeof v);
            if (m_closing.load()) return false;
            // A wake for another reason (buffer cleared, socket replaced): let the caller look again.
            return false;
        }
        return fd >= 0 && (fds[0].revents & (events | POLLERR | POLLHUP)) != 0;
    }
}

void CKxSocketExt::Close() {
    if (m_closed) return;
    m_closed = true;
    const std::string name = GetName();
    Log("Socket:%s Start to close!", name.c_str());
    m_closing = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Wake();
    SocketHandle fd;
    {
        // Unblock the worker first; the handle is only released once nobody uses it.
        std::shared_lock use(m_socketUse);
        fd = m_socket.load();
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }
    if (fd >= 0) {
        {
            std::unique_lock use(m_socketUse);
            // The worker may have dropped it meanwhile (peer closed): never close twice.
            if (m_socket.load() == fd) ::close(fd);
            m_socket = kInvalidSocket;
        }
        Log("Socket:%s Socket close!", name.c_str());
    } else {
        Log("Socket:%s Socket closed!", name.c_str());
    }
    struct Slot {
        std::jthread* thread;
        const char* label;
        const char* none;
    } slots[] = {{&m_acceptThread, "Accept Thread", "No Accept Thread!"},
                 {&m_tcpThread, "Receive Thread", "No Receive Thread!"},
                 {&m_udpThread, "ReceiveUdp Thread", "No ReceiveUdp Thread!"}};
    for (const Slot& s : slots) {
        if (!s.thread->joinable()) {
            Log("Socket:%s %s", name.c_str(), s.none);
        } else if (m_threadEnded.load()) {
            s.thread->join();
            Log("Socket:%s %s closed!", name.c_str(), s.label);
        } else {
            // Every wait of the worker is interrupted by the wake above, so it ends well
            // within the second it is given.
            Wake();
            s.thread->join();
            Log("Socket:%s %s close![1]", name.c_str(), s.label);
        }
    }
    {
        std::lock_guard lock(m_receiveLock);
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_receiveSize = 0;
        m_receiveCount = 0;
        m_queue.clear();
    }
    Log("Socket:%s End to close!", name.c_str());
}

int CKxSocketExt::CheckThread() const {
    switch (m_kind) {
    case kKindTcpListen:
        return m_acceptThread.joinable() ? 1 : 0;
    case kKindTcpConnection:
        return m_tcpThread.joinable() ? 1 : 0;
    case kKindUdp:
        return m_udpThread.joinable() ? 1 : 0;
    default:
        return 0;
    }
}

int CKxSocketExt::SetReviceBufferSize(int size) {
    if (size <= 0) return 0;
    std::lock_guard lock(m_receiveLock);
    try {
        m_buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
    } catch (const std::bad_alloc&) {
        return 0;
    }
    m_receiveSize = size;
    m_receiveCount = 0;
    Wake();
    return 1;
}

int CKxSocketExt::CheckReceiveBuffer() const {
    std::lock_guard lock(m_receiveLock);
    return m_buffer.empty() ? 0 : 1;
}

int CKxSocketExt::GetReceiveCount() const {
    std::lock_guard lock(m_receiveLock);
    return m_receiveCount;
}

void CKxSocketExt::ClearTcpReceiveBuffer() {
    {
        std::lock_guard lock(m_receiveLock);
        m_receiveCount = 0;
    }
    Wake(); // a worker idling on a full buffer reads again
}

void CKxSocketExt::AddTcpRevCount(int count) {
    std::lock_guard lock(m_receiveLock);
    m_receiveCount = std::min(m_receiveCount + count, m_receiveSize);
}

SocketHandle CKxSocketExt::SetSocketValue(SocketHandle s) {
    Wake();
    std::unique_lock use(m_socketUse);
    return m_socket.exchange(s);
}

bool CKxSocketExt::ReplaceSocket(SocketHandle s, SocketHandle& old) {
    Wake();
    std::unique_lock use(m_socketUse);
    if (m_retired) return false;
    old = m_socket.exchange(s);
    return true;
}

std::string CKxSocketExt::GetName() const {
    std::lock_guard lock(m_nameLock);
    return m_name;
}

void CKxSocketExt::SetName(std::string name) {
    std::lock_guard lock(m_nameLock);
    m_name = std::move(name);
}

// ---- worker threads ---------------------------------------------------------

void CKxSocketExt::ThreadForAccept_NetOpt() {
    Log("Tcp Accept Thread Start!");
    if (m_tcpAccept) {
        while (!m_closing.load()) {
            SocketHandle accepted = kInvalidSocket;
            sockaddr_in peer{};
            bool failed = false;
            {
                std::shared_lock use(m_socketUse);
                const SocketHandle fd = m_socket.load();
                if (fd < 0) break;
                if (!WaitReady(fd, POLLIN, kTcpReceiveWaitMs)) continue;
                socklen_t len = sizeof peer;
                accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
                failed = accepted < 0;
            }
            if (failed) {
                WaitReady(kInvalidSocket, 0, kAcceptFailPauseMs);
                continue;
            }
            m_tcpAccept(this, FromSockaddr(peer), ntohs(peer.sin_port), accepted);
        }
    }
    Log("Tcp Accept Thread End!");
    m_threadEnded = true;
}

int CKxSocketExt::FunTcpSocketRevData(char* buf, int count, int index) {
    std::shared_lock use(m_socketUse);
    const SocketHandle fd = m_socket.load();
    if (fd < 0) return 0;
    if (!WaitReady(fd, POLLIN, kTcpReceiveWaitMs)) return 0;
    const ssize_t n = ::recv(fd, buf, static_cast<std::size_t>(count), MSG_DONTWAIT);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        return -1; // reset: the connection is gone
    }
    if (n == 0) return -1; // orderly close by the peer
    Log("Tcp %s Rev:%s", GetName().c_str(), AsText(buf, static_cast<int>(n)).c_str());
    if (m_hooks->rxLed) m_hooks->rxLed(index);
    return static_cast<int>(n);
}

void CKxSocketExt::ThreadForTcpRevice_NetOpt() {
    Log("ThreadForTcpRevice_NetOpt begin");
    std::vector<char> chunk;
    while (!m_closing.load() && m_socket.load() >= 0) {
        int space;
        {
            std::lock_guard lock(m_receiveLock);
            space = m_buffer.empty() ? -1 : m_receiveSize - m_receiveCount;
        }
        if (space < 0) {
            WaitReady(kInvalidSocket, 0, kNoBufferPauseMs);
            continue;
        }
        if (space == 0) {
            // Full: nothing more is taken until the count is cleared (which wakes us).
            WaitReady(kInvalidSocket, 0, kTcpReceiveWaitMs);
            continue;
        }
        const int index = m_hooks->indexFromIP ? m_hooks->indexFromIP(m_remoteIP) : -1;
        chunk.resize(static_cast<std::size_t>(space));
        const int n = FunTcpSocketRevData(chunk.data(), space, index);
        if (n > 0) {
            std::lock_guard lock(m_receiveLock);
            // The count may have been cleared meanwhile; never write past the buffer.
            const int take = std::min(n, m_receiveSize - m_receiveCount);
            std::memcpy(m_buffer.data() + m_receiveCount, chunk.data(), static_cast<std::size_t>(take));
            m_receiveCount += take;
            m_buffer[static_cast<std::size_t>(m_receiveCount)] = '\0';
            if (m_hooks->dataArrived) m_hooks->dataArrived();
        } else if (n < 0) {
            // The peer is gone: reading again would return at once, forever. Drop the socket
            // and let the station reconnect the sensor.
            const SocketHandle fd = m_socket.load();
            {
                std::unique_lock use(m_socketUse);
                if (m_socket.load() != fd || fd < 0) continue; // replaced meanwhile
                ::close(fd);
                m_socket = kInvalidSocket;
                // From here on a new connection of the sensor needs a new endpoint.
                m_retired = true;
            }
            Log("Socket:%s Peer closed!", GetName().c_str());
            if (m_hooks->peerClosed) m_hooks->peerClosed(*this, fd);
        }
    }
    Log("ThreadForTcpRevice_NetOpt end");
    m_threadEnded = true;
}

int CKxSocketExt::FunUdpSocketRevData(char* buf, int count, IPv4Bytes& ip, std::uint16_t& port) {
    std::shared_lock use(m_socketUse);
    const SocketHandle fd = m_socket.load();
    if (fd < 0 || !WaitReady(fd, POLLIN, kUdpReceiveWaitMs)) return 0;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    // MSG_TRUNC reports the real size, so a datagram that does not fit is dropped whole.
    const ssize_t n = ::recvfrom(fd, buf, static_cast<std::size_t>(count - 1), MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0 || n > count - 1) return 0;
    ip = FromSockaddr(from);
    port = ntohs(from.sin_port);
    if (ip == kLoopbackIPv4 || (m_hooks->isLocalIP && m_hooks->isLocalIP(ip))) return 0;
    buf[n] = '\0';
    Log("Udp %s Rev From:%d.%d.%d.%d:%d Data:%s", GetName().c_str(), ip[0], ip[1], ip[2], ip[3], port, buf);
    if (m_hooks->rxLed) m_hooks->rxLed(m_hooks->indexFromIP ? m_hooks->indexFromIP(ip) : -1);
    return static_cast<int>(n);
}

void CKxSocketExt::ThreadForUdpRevice_NetOpt() {
    Log("%s ThreadForUdpRevice_NetOpt Start!", GetName().c_str());
    std::vector<char> datagram;
    while (!m_closing.load() && m_socket.load() >= 0) {
        int size;
        {
            std::lock_guard lock(m_receiveLock);
            size = m_buffer.empty() ? 0 : m_receiveSize;
        }
        if (size <= 0) {
            WaitReady(kInvalidSocket, 0, kNoBufferPauseMs);
            continue;
        }
        datagram.assign(static_cast<std::size_t>(size) + 1, '\0');
        IPv4Bytes ip{};
        std::uint16_t port = 0;
        const int n = FunUdpSocketRevData(datagram.data(), size, ip, port);
        if (n <= 0 || !m_udpAccept) continue;
        if (m_udpAccept(this, ip, port, datagram.data(), n) == 0) continue;
        std::lock_guard lock(m_receiveLock);
        if (m_buffer.empty()) continue;
        std::memcpy(m_buffer.data(), datagram.data(), static_cast<std::size_t>(n) + 1);
        QueueDatagram(ip, port);
        if (m_hooks->dataArrived) m_hooks->dataArrived();
    }
    Log("%s ThreadForUdpRevice_NetOpt End!", GetName().c_str());
    m_threadEnded = true;
}

void CKxSocketExt::QueueDatagram(const IPv4Bytes& ip, std::uint16_t port) {
    // Caller holds m_receiveLock; the receive buffer holds the datagram, NUL-terminated.
    CUdpReceiveData* record = GetUdpRevDataBuf(ip, port);
    if (record == nullptr) return;
    bool dropped = false;
    if (record->GetDataCount() >= kMaxBlocksPerSender) {
        record->DeleteData(0);
        dropped = true;
    }
    record->AddData(m_buffer.data(), static_cast<int>(std::strlen(m_buffer.data())));
    while (static_cast<int>(m_queue.size()) > m_maxRecords) {
        m_queue.erase(m_queue.begin());
        dropped = true;
    }
    if (dropped && !m_dropLogged) {
        Log("Udp %s queue full, oldest data dropped!", GetName().c_str());
        m_dropLogged = true;
    }
}

// ---- sending ------------------------------------------------------------------

int CKxSocketExt::SendTcp(const char* buf, int len, int index) {
    if (m_kind != kKindTcpStream && m_kind != kKindTcpConnection) return 0;
    std::shared_lock use(m_socketUse);
    const SocketHandle fd = m_socket.load();
    if (fd < 0 || len <= 0 || !WaitReady(fd, POLLOUT, kSendWaitMs)) return 0;
    const ssize_t n = ::send(fd, buf, static_cast<std::size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n != len) return 0;
    if (m_hooks->txLed) m_hooks->txLed(index);
    Log("Tcp Send %d.%d.%d.%d:%d Success!data:%s", m_remoteIP[0], m_remoteIP[1], m_remoteIP[2], m_remoteIP[3],
        m_remotePort, AsText(buf, len).c_str());
    return 1;
}

int CKxSocketExt::SendUdp(const IPv4Bytes* ip, std::uint16_t port, const char* buf, int len, int index) {
    if (m_kind != kKindUdp) return 0;
    const IPv4Bytes dest = ip ? *ip : IPv4Bytes{255, 255, 255, 255};
    const sockaddr_in to = ToSockaddr(dest, port);
    bool sent = false;
    {
        std::shared_lock use(m_socketUse);
        const SocketHandle fd = m_socket.load();
        if (fd >= 0 && len > 0 && WaitReady(fd, POLLOUT, kSendWaitMs)) {
            msghdr msg{};
            iovec iov{const_cast<char*>(buf), static_cast<std::size_t>(len)};
            msg.msg_name = const_cast<sockaddr_in*>(&to);
            msg.msg_namelen = sizeof to;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            const unsigned ifindex = !ip && m_hooks->broadcastInterface ? m_hooks->broadcastInterface() : 0;
            if (ifindex != 0) {
                // A broadcast leaves through the interface that owns the station address.
                msg.msg_control = control;
                msg.msg_controllen = sizeof control;
                cmsghdr* c = CMSG_FIRSTHDR(&msg);
                c->cmsg_level = IPPROTO_IP;
                c->cmsg_type = IP_PKTINFO;
                c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
                in_pktinfo info{};
                info.ipi_ifindex = static_cast<int>(ifindex);
                std::memcpy(CMSG_DATA(c), &info, sizeof info);
            }
            sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT) == len;
        }
    }
    if (sent && m_hooks->txLed) m_hooks->txLed(index);
    const std::string text = AsText(buf, len);
    const char* outcome = sent ? "Success" : "Failed";
    if (ip == nullptr)
        Log("Udp Send 255.255.255.255:65530 %s !data:%s", outcome, text.c_str());
    else
        Log("Udp Send %d.%d.%d.%d:%d %s !data:%s", dest[0], dest[1], dest[2], dest[3], port, outcome, text.c_str());
    return sent ? 1 : 0;
}

// ---- datagram queue ----------------------------------------------------------

int CKxSocketExt::GetUdpServerRevDataCount() const {
    std::lock_guard lock(m_receiveLock);
    return static_cast<int>(m_queue.size());
}

CUdpReceiveData* CKxSocketExt::GetUdpServerRevData(int index) {
    std::lock_guard lock(m_receiveLock);
    if (index < 0 || index >= static_cast<int>(m_queue.size())) return nullptr;
    return m_queue[static_cast<std::size_t>(index)].get();
}

int CKxSocketExt::GetUdpServerRevDataTotalLength() const {
    std::lock_guard lock(m_receiveLock);
    int total = 0;
    for (const auto& r : m_queue)
        for (const auto& b : r->m_blocks) total += static_cast<int>(std::strlen(b.data()));
    return total;
}

CUdpReceiveData* CKxSocketExt::GetUdpRevDataBuf(const IPv4Bytes& ip, std::uint16_t port) {
    std::lock_guard lock(m_receiveLock);
    for (const auto& r : m_queue)
        if (r->GetIP() == ip && r->GetPort() == port) return r.get();
    try {
        m_queue.push_back(std::make_unique<CUdpReceiveData>(ip, port));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return m_queue.back().get();
}

void CKxSocketExt::DeleteUdpServerRevData(int index) {
    std::lock_guard lock(m_receiveLock);
    if (index < 0 || index >= static_cast<int>(m_queue.size())) return;
    m_queue.erase(m_queue.begin() + index);
    m_dropLogged = false;
}

void CKxSocketExt::ClearUdpRevData() {
    std::lock_guard lock(m_receiveLock);
    m_queue.clear();
    m_dropLogged = false;
}

} // namespace hygro
