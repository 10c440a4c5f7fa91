// SMTP client: one object sends one plain-text message (optionally with attachments) to
// one or more recipients, over plain TCP, STARTTLS or SSL, logging in with LOGIN, PLAIN,
// CRAM-MD5 or DIGEST-MD5. Every failure throws ECSmtp with a numeric id.
//
// An object is used by one thread at a time; several objects may work at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hygro {

enum SMTP_SECURITY_TYPE : int { NO_SECURITY = 0, USE_TLS = 1, USE_SSL = 2, DO_NOT_SET = 3 };
enum CSmptXPriority : int { XPRIORITY_HIGH = 2, XPRIORITY_NORMAL = 3, XPRIORITY_LOW = 4 };

class ECSmtp {
  public:
    explicit ECSmtp(int errorId) : m_id(errorId) {}
    int GetErrorNum() const { return m_id; }
    // The fixed English text of the id ("Undefined error id" for ids without one).
    std::string GetErrorText() const;
    static std::string GetErrorText(int errorId);

  private:
    int m_id;
};

// While a login runs: 1 while a reply carrying a Base64 prompt is awaited (AUTH LOGIN),
// 2 while a line carrying credentials is sent, else 0. Read by the traffic hook, which
// shows the credential lines masked. Lines sent with 2: the Base64 login name and password
// of LOGIN, the whole "AUTH PLAIN <Base64>" line, and the CRAM-MD5 and DIGEST-MD5 response
// lines. Process-wide: whichever object is logging in sets it; it is back to 0 when a login
// ends, also when it fails.
extern std::atomic<int> g_bFlagsAuthLogin;

// Receives every complete text sent and every complete reply, on the thread of the
// object that sent or received it. Process-wide; empty by default.
using SmtpTrafficHook = std::function<void(const std::string& text)>;
void SetSmtpTrafficHook(SmtpTrafficHook hook);

// Multiplies every wait of every object (connect, TLS handshake, each command's send and
// reply time-out); 1 by default. Tests use it to meet a silent server in about a second.
void SetSmtpTimeoutScaleForTesting(double scale);

class CSmtp {
  public:
    struct Recipient {
        std::string Name;
        std::string Mail;
    };

    CSmtp();
    virtual ~CSmtp(); // sends QUIT when still connected
    CSmtp(const CSmtp&) = delete;
    CSmtp& operator=(const CSmtp&) = delete;

    void SetSMTPServer(const char* server, std::uint16_t port = 0, bool authenticate = true);
    void SetLogin(const char* login);
    void SetPassword(const char* password);
    void SetSenderMail(const char* email);
    void SetSenderName(const char* name);
    void SetSubject(const char* subject);
    void SetXMailer(const char* xMailer); // kept, never written into a header
    void SetReplyTo(const char* replyTo);
    void SetCharSet(const char* sCharSet); // of the text part of a message with attachments
    void SetLocalHostName(const char* sLocalHostName);
    void SetXPriority(CSmptXPriority priority);
    void SetSecurityType(SMTP_SECURITY_TYPE type);

    const std::string& GetLocalHostName() const;
    const std::string& GetMailFrom() const;
    const std::string& GetSenderName() const;
    const std::string& GetSubject() const;
    const std::string& GetXMailer() const;
    const std::string& GetReplyTo() const;
    CSmptXPriority GetXPriority() const;
    SMTP_SECURITY_TYPE GetSecurityType() const;

    // A null email throws 209; a null name leaves the recipient without one.
    void AddRecipient(const char* email, const char* name = nullptr);
    void AddCCRecipient(const char* email, const char* name = nullptr);
    void AddBCCRecipient(const char* email, const char* name = nullptr);
    unsigned GetRecipientCount() const;
    unsigned GetCCRecipientCount() const;
    unsigned GetBCCRecipientCount() const;
    void DelRecipients();
    void DelCCRecipients();
    void DelBCCRecipients();

    // Message lines, sent as they are, each followed by CR LF. A line number not below
    // GetMsgLines() throws 412.
    void AddMsgLine(const char* text);
    void ModMsgLine(unsigned line, const char* text); // a null text changes nothing
    void DelMsgLine(unsigned line);
    void DelMsgLines();
    std::string GetMsgLineText(unsigned line) const;
    unsigned GetMsgLines() const;

    void AddAttachment(const char* path);
    void DelAttachments();

    // Empties the three recipient lists, the attachments and the lines.
    void ClearMessage();

    // Connects, greets, upgrades and logs in. port 0: the "mail" service's port, else 25.
    // DO_NOT_SET keeps the object's security type; a null login or password keeps the
    // stored one. Returns true or throws (the connection is closed first).
    bool ConnectRemoteServer(const char* szServer, std::uint16_t nPort_ = 0,
                             SMTP_SECURITY_TYPE securityType = DO_NOT_SET, bool authenticate = true,
                             const char* login = nullptr, const char* password = nullptr);
    // QUIT when connected, then the socket is closed.
    void DisconnectRemoteServer();
    // From any thread: the connection is shut down, so the step waiting on it fails at once
    // (and a connect not begun yet fails with 400). For ending the process.
    void Abort();

    // Connects when not connected yet, then transfers the message.
    void Send();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace hygro
