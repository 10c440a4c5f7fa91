#include "mail/smtp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <vector>

#include "mail/smtp_auth.h"
#include "mail/smtp_protocol.h"
#include "util/file_opt.h"

namespace hygro {
namespace {

constexpr std::size_t kRecvBufSize = 10240; // the largest reply is one byte less
constexpr int kConnectSeconds = 180;
constexpr int kHandshakeSeconds = 180;
constexpr std::size_t kAttachmentPiece = 54; // 72 Base64 characters a line
constexpr std::size_t kAttachmentBlock = 5120;

// ---- traffic hook -------------------------------------------------------------------------

std::mutex g_hookMutex;
std::shared_ptr<const SmtpTrafficHook> g_hook;

void CallHook(const std::string& text) {
    std::shared_ptr<const SmtpTrafficHook> hook;
    {
        const std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    if (!hook) return;
    try {
        (*hook)(text);
    } catch (...) {
        // The hook only shows traffic; it never decides the outcome of a mail.
    }
}

// ---- OpenSSL ------------------------------------------------------------------------------

std::once_flag g_sslOnce;
BIO_METHOD* g_socketBio = nullptr; // made once, lives as long as the process

int FdOf(BIO* bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio))); }

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a closed peer;
// this one sends with MSG_NOSIGNAL.
int SocketBioWrite(BIO* bio, const char* data, int len) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(FdOf(bio), data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(bio);
        return -1;
    }
    return static_cast<int>(n);
}

int SocketBioRead(BIO* bio, char* out, int len) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(FdOf(bio), out, static_cast<std::size_t>(len), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_read(bio);
        return -1;
    }
    if (n == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF); // lets OpenSSL tell a closed peer from an error
    return static_cast<int>(n);
}

long SocketBioCtrl(BIO* bio, int cmd, long, void*) {
    switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default: return 0;
    }
}

int SocketBioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

void InitOpenSSLOnce() {
    std::call_once(g_sslOnce, [] {
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
        BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "smtp socket");
        if (method && BIO_meth_set_write(method, SocketBioWrite) == 1 && BIO_meth_set_read(method, SocketBioRead) == 1 &&
            BIO_meth_set_ctrl(method, SocketBioCtrl) == 1 && BIO_meth_set_create(method, SocketBioCreate) == 1) {
            g_socketBio = method;
        } else {
            BIO_meth_free(method);
        }
    });
}

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

[[noreturn]] void ThrowSsl() {
    ERR_clear_error();
    throw ECSmtp(414);
}

// ---- waiting ------------------------------------------------------------------------------

// Waits until fd reports one of events (or an error or hang-up, which the next call then
// meets); false when timeoutMs passed first. A failing poll throws 109.
bool WaitFor(int fd, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) throw ECSmtp(109);
        if (Clock::now() >= deadline) return false;
    }
}

void WaitOrThrow(int fd, short events, int timeoutMs) {
    if (!WaitFor(fd, events, timeoutMs)) throw ECSmtp(402);
}

std::uint16_t DefaultPort() {
    servent entry{};
    servent* found = nullptr;
    std::array<char, 1024> buf{};
    if (::getservbyname_r("mail", "tcp", &entry, buf.data(), buf.size(), &found) == 0 && found)
        return ntohs(static_cast<std::uint16_t>(found->s_port));
    return 25;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::string_view(text).substr(0, prefix.size()) == prefix;
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

} // namespace

void SetSmtpTrafficHook(SmtpTrafficHook hook) {
    auto shared = hook ? std::make_shared<const SmtpTrafficHook>(std::move(hook)) : nullptr;
    const std::lock_guard lock(g_hookMutex);
    g_hook = std::move(shared);
}

// ---- errors -------------------------------------------------------------------------------

std::string ECSmtp::GetErrorText() const { return GetErrorText(m_id); }

std::string ECSmtp::GetErrorText(int errorId) {
    // clang-format off
    switch (errorId) {
    case 0: return "";
    case 100: return "Unable to initialise winsock2";
    case 101: return "Wrong version of the winsock2";
    case 102: return "Function send() failed";
    case 103: return "Function recv() failed";
    case 104: return "Function connect failed";
    case 105: return "Unable to determine remote server";
    case 106: return "Invalid winsock2 socket";
    case 107: return "Function hostname() failed";
    case 108: return "Function ioctlsocket() failed";
    case 110: return "Improper IPv4 address";
    case 200: return "Undefined message header";
    case 201: return "Undefined mail sender";
    case 202: return "Undefined message subject";
    case 203: return "Undefined at least one reciepent";
    case 204: return "Undefined user login";
    case 205: return "Undefined user password";
    case 206: return "Invalid user login or password";
    case 207: return "Server returned a bad digest MD5 response";
    case 208: return "Unable to determine server name for digest MD5 response";
    case 209: return "Undefined recipent mail";
    case 300: return "Server returned error after sending MAIL FROM";
    case 301: return "Server returned error after sending EHLO";
    case 302: return "Server returned error after sending AUTH PLAIN";
    case 303: return "Server returned error after sending AUTH LOGIN";
    case 304: return "Server returned error after sending AUTH CRAM-MD5";
    case 305: return "Server returned error after sending AUTH DIGEST-MD5";
    case 306: return "Server returned error after sending MD5 DIGEST";
    case 307: return "Server returned error after sending DATA";
    case 308: return "Server returned error after sending QUIT";
    case 309: return "Server returned error after sending RCPT TO";
    case 310: return "Error in message body";
    case 400: return "Server has closed the connection";
    case 401: return "Server is not ready";
    case 402: return "Server not responding";
    case 404: return "Attachment file does not exist";
    case 405: return "Message is too big";
    case 406: return "Bad login or password";
    case 407: return "Undefined xyz SMTP response";
    case 408: return "Lack of memory";
    case 409: return "time() error";
    case 410: return "RecvBuf is empty";
    case 411: return "SendBuf is empty";
    case 412: return "Specified line number is out of message size";
    case 413: return "Server returned error after sending STARTTLS";
    case 414: return "SSL problem";
    case 415: return "Failed to send data block";
    case 416: return "The STARTTLS command is not supported by the server";
    case 417: return "AUTH LOGIN is not supported by the server";
    default: return "Undefined error id";
    }
    // clang-format on
}

// ---- the client ---------------------------------------------------------------------------

struct CSmtp::Impl final : SmtpAuthChannel {
    std::string localHostName;
    std::string senderMail;
    std::string senderName;
    std::string subject;
    std::string charSet = "US-ASCII";
    std::string xMailer;
    std::string replyTo;
    std::string login;
    std::string password;
    std::string server;
    std::uint16_t port = 0;
    bool authenticate = true;
    CSmptXPriority priority = XPRIORITY_NORMAL;
    bool connected = false;
    std::vector<Recipient> to, cc, bcc;
    std::vector<std::string> attachments;
    std::vector<std::string> lines;
    SMTP_SECURITY_TYPE security = NO_SECURITY;
    std::string reply; // the last complete reply ("receive buffer")
    std::string peerName; // the server name of the open connection (for SNI)

    // Guards opening and closing the socket against Abort from another thread.
    std::mutex fdLock;
    bool aborted = false; // guarded by fdLock

    // Declared in this order so the TLS connection goes before its context and socket.
    std::optional<UniqueFd> sock;
    std::unique_ptr<SSL_CTX, SslCtxFree> ctx;
    std::unique_ptr<SSL, SslFree> ssl;

    ~Impl() override { CloseSocket(); }

    int Fd() const { return sock ? sock->get() : -1; }

    // The TLS connection belongs to this socket: it ends (close_notify, best effort) first.
    void CloseSocket() {
        if (ssl) {
            ERR_clear_error();
            SSL_shutdown(ssl.get());
            ERR_clear_error();
            ssl.reset();
        }
        std::lock_guard guard(fdLock);
        sock.reset();
    }

    void Abort() {
        std::lock_guard guard(fdLock);
        aborted = true;
        if (sock && sock->ok()) ::shutdown(sock->get(), SHUT_RDWR);
    }

    // ---- sending and receiving ----

    void SendData(const tagCommand_Entry& entry, const std::string& text) {
        if (ssl) {
            SendDataSsl(entry, text);
        } else {
            const int timeoutMs = ScaledTimeoutMs(entry.send_timeout);
            std::size_t off = 0;
            while (off < text.size()) {
                WaitOrThrow(Fd(), POLLOUT, timeoutMs);
                const ssize_t n = ::send(Fd(), text.data() + off, text.size() - off, MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
                if (n <= 0) throw ECSmtp(102);
                off += static_cast<std::size_t>(n);
            }
        }
        CallHook(text);
    }

    void SendDataSsl(const tagCommand_Entry& entry, const std::string& text) {
        const int timeoutMs = ScaledTimeoutMs(entry.send_timeout);
        std::size_t off = 0;
        while (off < text.size()) {
            const int len = static_cast<int>(std::min<std::size_t>(text.size() - off, INT_MAX));
            ERR_clear_error();
            const int n = SSL_write(ssl.get(), text.data() + off, len);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                continue;
            }
            switch (SSL_get_error(ssl.get(), n)) {
            case SSL_ERROR_WANT_WRITE: WaitOrThrow(Fd(), POLLOUT, timeoutMs); break;
            case SSL_ERROR_WANT_READ: WaitOrThrow(Fd(), POLLIN, timeoutMs); break;
            default: ThrowSsl();
            }
        }
    }

    // One piece of a reply.
    std::string ReceiveData(const tagCommand_Entry& entry) {
        const int timeoutMs = ScaledTimeoutMs(entry.recv_timeout);
        if (ssl) return ReceiveDataSsl(timeoutMs);
        char buf[4096];
        for (;;) {
            WaitOrThrow(Fd(), POLLIN, timeoutMs);
            const ssize_t n = ::recv(Fd(), buf, sizeof buf, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
            if (n < 0) throw ECSmtp(103);
            if (n == 0) throw ECSmtp(400);
            return std::string(buf, static_cast<std::size_t>(n));
        }
    }

    std::string ReceiveDataSsl(int timeoutMs) {
        std::string got;
        for (;;) {
            char buf[1024];
            ERR_clear_error();
            const int n = SSL_read(ssl.get(), buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
                if (got.size() >= kRecvBufSize) throw ECSmtp(408);
                if (SSL_pending(ssl.get()) > 0) continue;
                return got;
            }
            switch (SSL_get_error(ssl.get(), n)) {
            case SSL_ERROR_ZERO_RETURN: // close_notify, or the peer simply closed
                if (got.empty()) throw ECSmtp(400);
                return got;
            case SSL_ERROR_WANT_READ:
                if (!got.empty()) return got;
                WaitOrThrow(Fd(), POLLIN, timeoutMs);
                break;
            case SSL_ERROR_WANT_WRITE: WaitOrThrow(Fd(), POLLOUT, timeoutMs); break;
            default: ThrowSsl();
            }
        }
    }

    // Reads until the reply's final line, keeps it as the last reply, checks its code.
    void ReceiveResponse(const tagCommand_Entry& entry) {
        std::string text;
        for (;;) {
            text += ReceiveData(entry);
            if (text.size() >= kRecvBufSize) throw ECSmtp(408);
            if (const auto code = FinalReplyCode(text)) {
                reply = std::move(text);
                CallHook(reply);
                if (*code != entry.valid_reply_code) throw ECSmtp(entry.error);
                return;
            }
        }
    }

    void Command(int command, const std::string& text) {
        const tagCommand_Entry& entry = FindCommandEntry(command);
        SendData(entry, text);
        ReceiveResponse(entry);
    }

    // SmtpAuthChannel
    void SendCommand(int command, const std::string& text) override { SendData(FindCommandEntry(command), text); }
    std::string ReceiveReply(int command) override {
        ReceiveResponse(FindCommandEntry(command));
        return reply;
    }
    std::string DigestUri() override { return DigestMd5Uri(Fd()); }

    // ---- TLS ----

    void InitOpenSSL() {
        InitOpenSSLOnce();
        if (ctx) return;
        ctx.reset(SSL_CTX_new(TLS_client_method()));
        if (!ctx) ThrowSsl();
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
        // A peer that just closes ends a read like close_notify does (then 400).
        SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    }

    void OpenSSLConnect() {
        if (!ctx || !g_socketBio) ThrowSsl();
        ssl.reset(SSL_new(ctx.get()));
        if (!ssl) ThrowSsl();
        BIO* bio = BIO_new(g_socketBio);
        if (!bio) ThrowSsl();
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(Fd())));
        SSL_set_bio(ssl.get(), bio, bio); // the connection owns the BIO
        SSL_set_mode(ssl.get(), SSL_MODE_AUTO_RETRY);
        in_addr ignored{};
        if (!peerName.empty() && ::inet_pton(AF_INET, peerName.c_str(), &ignored) != 1)
            SSL_set_tlsext_host_name(ssl.get(), peerName.c_str());

        const int timeoutMs = ScaledTimeoutMs(kHandshakeSeconds);
        for (;;) {
            ERR_clear_error();
            const int r = SSL_connect(ssl.get());
            if (r == 1) return;
            switch (SSL_get_error(ssl.get(), r)) {
            case SSL_ERROR_WANT_READ: WaitOrThrow(Fd(), POLLIN, timeoutMs); break;
            case SSL_ERROR_WANT_WRITE: WaitOrThrow(Fd(), POLLOUT, timeoutMs); break;
            default: ThrowSsl();
            }
        }
    }

    // ---- dialogue steps ----

    void SayHello() {
        Command(command_EHLO, "EHLO " + localHostName + "\r\n");
        connected = true;
    }

    void SayQuit() {
        connected = false;
        Command(command_QUIT, "QUIT\r\n");
    }

    void StartTls() {
        if (!IsKeywordSupported(reply, "STARTTLS")) throw ECSmtp(416);
        Command(command_STARTTLS, "STARTTLS\r\n");
        OpenSSLConnect();
    }

    void Disconnect() {
        struct Closer {
            Impl& impl;
            ~Closer() { impl.CloseSocket(); }
        } closer{*this};
        if (connected) SayQuit();
    }

    // On the way out of a failure: the failure is what the caller hears about.
    void DisconnectQuietly() {
        try {
            Disconnect();
        } catch (const ECSmtp&) {
        }
    }

    void Connect(const std::string& host, std::uint16_t nPort, SMTP_SECURITY_TYPE type, bool auth) {
        {
            std::lock_guard guard(fdLock);
            if (aborted) throw ECSmtp(400);
            sock.emplace(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (!sock->ok()) {
                sock.reset();
                throw ECSmtp(106);
            }
        }
        peerName = host;
        reply.clear();

        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(nPort != 0 ? nPort : DefaultPort());
        if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) throw ECSmtp(105);
            addr.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
            ::freeaddrinfo(found);
        }

        const int flags = ::fcntl(Fd(), F_GETFL, 0);
        if (flags < 0 || ::fcntl(Fd(), F_SETFL, flags | O_NONBLOCK) < 0) throw ECSmtp(108);
        if (::connect(Fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) throw ECSmtp(104);
            if (!WaitFor(Fd(), POLLOUT, ScaledTimeoutMs(kConnectSeconds))) throw ECSmtp(403);
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(Fd(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) throw ECSmtp(109);
        }

        if (type != DO_NOT_SET) security = type;
        if (security == USE_TLS || security == USE_SSL) InitOpenSSL();
        if (security == USE_SSL) OpenSSLConnect();

        ReceiveResponse(FindCommandEntry(command_INIT));
        SayHello();
        if (!IsKeywordSupported(reply, "STARTTLS") && security != USE_SSL) security = NO_SECURITY;
        if (security == USE_TLS) {
            StartTls();
            SayHello();
        }
        if (auth && IsKeywordSupported(reply, "AUTH")) SmtpLogin(*this, std::string(reply), login, password);
    }

    // ---- the message ----

    SmtpHeaderFields HeaderFields() const {
        SmtpHeaderFields f;
        const std::time_t now = std::time(nullptr);
        if (now == static_cast<std::time_t>(-1) || !::localtime_r(&now, &f.localTime)) throw ECSmtp(409);
        f.utcOffsetSeconds = f.localTime.tm_gmtoff;
        std::array<std::uint8_t, 16> guid{};
        if (RAND_bytes(guid.data(), static_cast<int>(guid.size())) == 1) f.guid = guid;
        f.localHostName = localHostName;
        f.senderMail = senderMail;
        f.senderName = senderName;
        f.replyTo = replyTo;
        f.subject = subject;
        f.charSet = charSet;
        f.priority = priority;
        f.to = to;
        f.cc = cc;
        f.bcc = bcc;
        f.hasAttachments = !attachments.empty();
        return f;
    }

    static UniqueFd OpenAttachment(const std::string& path, std::uint64_t& size) {
        UniqueFd fd = OpenRegular(path, O_RDONLY);
        struct stat st{};
        if (!fd.ok() || ::fstat(fd.get(), &st) != 0) throw ECSmtp(404);
        size = static_cast<std::uint64_t>(st.st_size);
        return fd;
    }

    // Reads up to n bytes (fewer only at the end of the file).
    static std::size_t ReadPiece(int fd, unsigned char* out, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd, out + got, n - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        return got;
    }

    void SendAttachment(const std::string& path) {
        const tagCommand_Entry& block = FindCommandEntry(command_DATABLOCK);
        std::uint64_t size = 0;
        const UniqueFd fd = OpenAttachment(path, size);
        SendData(block, AttachmentPartHead(path));

        std::string text;
        std::size_t counted = 0;
        const std::uint64_t pieces = size / kAttachmentPiece + 1;
        for (std::uint64_t i = 0; i < pieces; ++i) {
            unsigned char piece[kAttachmentPiece];
            const std::size_t n = ReadPiece(fd.get(), piece, sizeof piece);
            text += base64_encode(piece, static_cast<unsigned>(n));
            text += "\r\n";
            counted += n + 2;
            if (counted >= kAttachmentBlock) {
                SendData(block, text);
                text.clear();
                counted = 0;
            }
        }
        if (!text.empty()) SendData(block, text);
    }

    void Transfer() {
        std::uint64_t total = 0;
        for (const std::string& path : attachments) {
            std::uint64_t size = 0;
            OpenAttachment(path, size);
            total += size;
        }
        if (!AttachmentsFit(total)) throw ECSmtp(405);

        if (senderMail.empty()) throw ECSmtp(201);
        Command(command_MAILFROM, "MAIL FROM:<" + senderMail + ">\r\n");

        if (to.empty()) throw ECSmtp(203);
        for (const auto* list : {&to, &cc, &bcc})
            for (const Recipient& r : *list) Command(command_RCPTTO, "RCPT TO:<" + r.Mail + ">\r\n");

        Command(command_DATA, "DATA\r\n");

        const tagCommand_Entry& block = FindCommandEntry(command_DATABLOCK);
        SendData(block, FormatHeader(HeaderFields()));
        if (lines.empty()) {
            SendData(block, " \r\n");
        } else {
            for (const std::string& line : lines) SendData(block, DotStuffed(line) + "\r\n");
        }
        for (const std::string& path : attachments) SendAttachment(path);
        if (!attachments.empty()) SendData(block, std::string("\r\n--") + BOUNDARY_TEXT + "--\r\n");

        Command(command_DATAEND, "\r\n.\r\n");
    }
};

CSmtp::CSmtp() : m_impl(std::make_unique<Impl>()) {
    char host[256] = {};
    if (::gethostname(host, 255) != 0) throw ECSmtp(107);
    m_impl->localHostName = host;
}

CSmtp::~CSmtp() {
    try {
        if (m_impl->connected) m_impl->Disconnect();
    } catch (...) {
        // Nothing may leave a destructor; the socket is closed by Impl either way.
    }
}

void CSmtp::SetSMTPServer(const char* server, std::uint16_t port, bool authenticate) {
    m_impl->server = Text(server);
    m_impl->port = port;
    m_impl->authenticate = authenticate;
}
void CSmtp::SetLogin(const char* login) { m_impl->login = Text(login); }
void CSmtp::SetPassword(const char* password) { m_impl->password = Text(password); }
void CSmtp::SetSenderMail(const char* email) { m_impl->senderMail = Text(email); }
void CSmtp::SetSenderName(const char* name) { m_impl->senderName = Text(name); }
void CSmtp::SetSubject(const char* subject) { m_impl->subject = Text(subject); }
void CSmtp::SetXMailer(const char* xMailer) { m_impl->xMailer = Text(xMailer); }
void CSmtp::SetReplyTo(const char* replyTo) { m_impl->replyTo = Text(replyTo); }
void CSmtp::SetCharSet(const char* sCharSet) { m_impl->charSet = Text(sCharSet); }
void CSmtp::SetLocalHostName(const char* sLocalHostName) { m_impl->localHostName = Text(sLocalHostName); }
void CSmtp::SetXPriority(CSmptXPriority priority) { m_impl->priority = priority; }
void CSmtp::SetSecurityType(SMTP_SECURITY_TYPE type) { m_impl->security = type; }

const std::string& CSmtp::GetLocalHostName() const { return m_impl->localHostName; }
const std::string& CSmtp::GetMailFrom() const { return m_impl->senderMail; }
const std::string& CSmtp::GetSenderName() const { return m_impl->senderName; }
const std::string& CSmtp::GetSubject() const { return m_impl->subject; }
const std::string& CSmtp::GetXMailer() const { return m_impl->xMailer; }
const std::string& CSmtp::GetReplyTo() const { return m_impl->replyTo; }
CSmptXPriority CSmtp::GetXPriority() const { return m_impl->priority; }
SMTP_SECURITY_TYPE CSmtp::GetSecurityType() const { return m_impl->security; }

void CSmtp::AddRecipient(const char* email, const char* name) {
    if (!email) throw ECSmtp(209);
    m_impl->to.push_back({Text(name), email});
}
void CSmtp::AddCCRecipient(const char* email, const char* name) {
    if (!email) throw ECSmtp(209);
    m_impl->cc.push_back({Text(name), email});
}
void CSmtp::AddBCCRecipient(const char* email, const char* name) {
    if (!email) throw ECSmtp(209);
    m_impl->bcc.push_back({Text(name), email});
}
unsigned CSmtp::GetRecipientCount() const { return static_cast<unsigned>(m_impl->to.size()); }
unsigned CSmtp::GetCCRecipientCount() const { return static_cast<unsigned>(m_impl->cc.size()); }
unsigned CSmtp::GetBCCRecipientCount() const { return static_cast<unsigned>(m_impl->bcc.size()); }
void CSmtp::DelRecipients() { m_impl->to.clear(); }
void CSmtp::DelCCRecipients() { m_impl->cc.clear(); }
void CSmtp::DelBCCRecipients() { m_impl->bcc.clear(); }

void CSmtp::AddMsgLine(const char* text) { m_impl->lines.push_back(Text(text)); }
void CSmtp::ModMsgLine(unsigned line, const char* text) {
    if (!text) return;
    if (line >= m_impl->lines.size()) throw ECSmtp(412);
    m_impl->lines[line] = text;
}
void CSmtp::DelMsgLine(unsigned line) {
    if (line >= m_impl->lines.size()) throw ECSmtp(412);
    m_impl->lines.erase(m_impl->lines.begin() + line);
}
void CSmtp::DelMsgLines() { m_impl->lines.clear(); }
std::string CSmtp::GetMsgLineText(unsigned line) const {
    if (line >= m_impl->lines.size()) throw ECSmtp(412);
    return m_impl->lines[line];
}
unsigned CSmtp::GetMsgLines() const { return static_cast<unsigned>(m_impl->lines.size()); }

void CSmtp::AddAttachment(const char* path) { m_impl->attachments.push_back(Text(path)); }
void CSmtp::DelAttachments() { m_impl->attachments.clear(); }

void CSmtp::ClearMessage() {
    DelRecipients();
    DelCCRecipients();
    DelBCCRecipients();
    DelAttachments();
    DelMsgLines();
}

bool CSmtp::ConnectRemoteServer(const char* szServer, std::uint16_t nPort_, SMTP_SECURITY_TYPE securityType,
                                bool authenticate, const char* login, const char* password) {
    Impl& m = *m_impl;
    if (m.sock) m.DisconnectQuietly(); // a connection left over from before
    if (login) m.login = login;
    if (password) m.password = password;
    try {
        m.Connect(Text(szServer), nPort_, securityType, authenticate);
        return true;
    } catch (const ECSmtp&) {
        // 530: the server wants something else first; it is left without a QUIT.
        if (StartsWith(m.reply, "530")) m.connected = false;
        m.DisconnectQuietly();
        throw;
    }
}

void CSmtp::DisconnectRemoteServer() { m_impl->Disconnect(); }

void CSmtp::Abort() { m_impl->Abort(); }

void CSmtp::Send() {
    Impl& m = *m_impl;
    if (!m.sock) ConnectRemoteServer(m.server.c_str(), m.port, DO_NOT_SET, m.authenticate, nullptr, nullptr);
    try {
        m.Transfer();
    } catch (const ECSmtp&) {
        m.DisconnectQuietly();
        throw;
    }
}

} // namespace hygro
