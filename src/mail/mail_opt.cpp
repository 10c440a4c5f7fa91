#include "mail/mail_opt.h"

#include "mail/smtp.h"
#include "mail/smtp_auth.h"
#include "util/kx_log.h"
#include "util/text.h"

#include <algorithm>
#include <cstdio>

namespace hygro {

CMailOpt g_MailSender;

namespace {

constexpr std::size_t kMaxText = 1024;
constexpr const char* kFullWidthComma = "\xEF\xBC\x8C"; // U+FF0C
constexpr const char* kDegreeCelsius = "\xE2\x84\x83";  // U+2103
constexpr int kMinInterval = 5;

std::string Narrow(const std::u16string& text) {
    return TruncateUtf8(ToUtf8(text), kMaxText);
}

// An address needs an '@' after its first character.
bool HasAtAfterFirst(const std::u16string& s) {
    return s.find(u'@', 1) != std::u16string::npos;
}

} // namespace

std::string FormatMailLine(const CSendMailInfo& a) {
    char rest[160];
    std::snprintf(rest, sizeof rest, "%s %04d-%02d-%02d %02d:%02d:%02d%s H=%.1f%%%s T=%.1f%s\r\n",
                  kFullWidthComma, a.time.wYear, a.time.wMonth, a.time.wDay, a.time.wHour, a.time.wMinute,
                  a.time.wSecond, kFullWidthComma, a.h, kFullWidthComma, a.t, kDegreeCelsius);
    return Narrow(a.name) + rest;
}

PreparedMail PrepareMail(const CAlarmMailInfo& s) {
    PreparedMail m;
    m.server = Narrow(s.smtpServer);
    m.port = s.smtpPort;
    m.login = Narrow(s.user);
    m.password = Narrow(s.password);
    const std::size_t at = m.login.find('@');
    m.senderName = at == std::string::npos ? std::string() : m.login.substr(0, at);
    m.recipient = Narrow(s.mailTo);
    return m;
}

std::vector<std::pair<std::string, std::string>> MailSetupLines(const PreparedMail& m) {
    return {{"Svr", m.server + ":" + std::to_string(m.port)},
            {"Mode", "TLS"},
            {"User", m.login},
            {"Password", "******"},
            {"Name", m.senderName},
            {"From", m.login},
            {"Title", m.subject},
            {"To", m.recipient}};
}

void SendPreparedMail(const PreparedMail& mail, CSmtp& smtp) {
    smtp.SetSMTPServer(mail.server.c_str(), mail.port, true);
    smtp.SetSecurityType(USE_TLS);
    smtp.SetLogin(mail.login.c_str());
    smtp.SetPassword(mail.password.c_str());
    smtp.SetSenderName(mail.senderName.c_str());
    smtp.SetSenderMail(mail.login.c_str());
    smtp.SetSubject(mail.subject.c_str());
    smtp.AddRecipient(mail.recipient.c_str());
    smtp.SetXPriority(XPRIORITY_NORMAL);
    for (const std::string& line : mail.lines)
        smtp.AddMsgLine(line.c_str());
    smtp.Send();
}

std::string SmtpTrafficText(const std::string& text, int authFlag) {
    switch (authFlag) {
    case 1: {
        if (text.size() < 4) return text;
        const std::string decoded = base64_decode(text.substr(4));
        return text.substr(0, 3) + " " + decoded;
    }
    case 2: {
        // Credentials never leave the process in clear or in Base64.
        if (text.rfind("AUTH ", 0) == 0) {
            const std::size_t method = text.find(' ', 5);
            if (method != std::string::npos) return text.substr(0, method) + " ******\r\n";
        }
        return "******\r\n";
    }
    default:
        return text;
    }
}

const char* CheckAllMailInfo(const MailForm& f) {
    if (f.server.empty()) return "Please set Server address!";
    if (f.port.empty()) return "Please set Port!";
    unsigned long port = 0;
    for (char16_t c : f.port) {
        if (c < u'0' || c > u'9') return "Port's value error!";
        port = std::min<unsigned long>(port * 10 + (c - u'0'), 1000000);
    }
    if (port == 0 || port >= 65535) return "Port's value error!";
    if (!HasAtAfterFirst(f.user)) return "User error!";
    if (!HasAtAfterFirst(f.mailTo)) return "Mail To error!";
    long interval = 0;
    for (char16_t c : f.interval) {
        if (c < u'0' || c > u'9') break;
        interval = std::min<long>(interval * 10 + (c - u'0'), 1000000);
    }
    if (interval < kMinInterval) return "Mail interval must greater than 5!";
    return nullptr;
}

CMailOpt::CMailOpt() {
    m_settings.time = kMinInterval;
}

CMailOpt::~CMailOpt() {
    Stop();
}

int CMailOpt::AddMail(const std::u16string& strName, const SystemTime& pSysTime, double lfH, double lfT) {
    try {
        {
            std::lock_guard guard(m_lock);
            m_queue.push_back({strName, pSysTime, lfH, lfT});
        }
        m_wake.notify_all();
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

void CMailOpt::Start() {
    if (m_thread.joinable()) return;
    RouteTraffic();
    m_thread = std::jthread([this](std::stop_token stop) { ThreadSendMail(stop); });
}

void CMailOpt::Stop() {
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    {
        // A mail in flight would hold the join for minutes of SMTP time-outs.
        std::lock_guard guard(m_lock);
        m_stopping = true;
        for (CSmtp* smtp : m_active)
            smtp->Abort();
    }
    m_wake.notify_all();
    m_thread.join();
    m_thread = {};
    {
        std::lock_guard guard(m_lock);
        m_stopping = false;
    }
    SetSmtpTrafficHook({});
}

void CMailOpt::SetSettings(const CAlarmMailInfo& settings) {
    std::lock_guard guard(m_lock);
    m_settings = settings;
}

CAlarmMailInfo CMailOpt::GetSettings() const {
    std::lock_guard guard(m_lock);
    return m_settings;
}

void CMailOpt::SetPause(int paused) {
    {
        std::lock_guard guard(m_lock);
        m_pause = paused;
    }
    m_wake.notify_all();
}

int CMailOpt::GetPause() const {
    std::lock_guard guard(m_lock);
    return m_pause;
}

void CMailOpt::SetTestFlags(int flag) {
    m_test = flag;
}
int CMailOpt::GetTestFlags() const {
    return m_test;
}

void CMailOpt::SetTestSink(TestSink sink) {
    std::lock_guard guard(m_lock);
    m_testSink = std::move(sink);
}

void CMailOpt::ShowLogForSmtp(const std::string& text) {
    const std::string shown = SmtpTrafficText(text, g_bFlagsAuthLogin.load());
    TestSink sink;
    if (m_test == 1) {
        std::lock_guard guard(m_lock);
        sink = m_testSink;
    }
    if (sink) {
        sink(ToUtf16(shown));
        return;
    }
    // The log gets the text as sent, except credentials.
    AddLogInfo(g_bFlagsAuthLogin.load() == 2 ? shown : text);
}

void CMailOpt::RouteTraffic() {
    SetSmtpTrafficHook([this](const std::string& text) { ShowLogForSmtp(text); });
}

void CMailOpt::SendNow(const PreparedMail& mail) {
    Transport transport;
    {
        std::lock_guard guard(m_lock);
        transport = m_transport;
    }
    if (transport) {
        transport(mail);
        return;
    }
    CSmtp smtp;
    {
        std::lock_guard guard(m_lock);
        if (m_stopping) throw ECSmtp(400);
        m_active.push_back(&smtp);
    }
    struct Unregister {
        CMailOpt& self;
        CSmtp* smtp;
        ~Unregister() {
            std::lock_guard guard(self.m_lock);
            std::erase(self.m_active, smtp);
        }
    } unregister{*this, &smtp};
    SendPreparedMail(mail, smtp);
}

void CMailOpt::SetTransport(Transport transport) {
    std::lock_guard guard(m_lock);
    m_transport = std::move(transport);
}

void CMailOpt::SetMinuteForTesting(std::chrono::milliseconds minute) {
    std::lock_guard guard(m_lock);
    m_minute = minute;
}

std::size_t CMailOpt::QueuedCount() const {
    std::lock_guard guard(m_lock);
    return m_queue.size();
}

void CMailOpt::ThreadSendMail(std::stop_token stop) {
    std::unique_lock lock(m_lock);
    while (!stop.stop_requested()) {
        if (!m_wake.wait(lock, stop, [&] { return !m_queue.empty() && m_pause == 0; })) break;
        std::vector<CSendMailInfo> alarms;
        alarms.swap(m_queue);
        const CAlarmMailInfo settings = m_settings;
        lock.unlock();
        SendOne(std::move(alarms), settings);
        lock.lock();
        const auto interval = m_minute * std::max(0, settings.time);
        m_wake.wait_for(lock, stop, interval, [] { return false; });
    }
}

void CMailOpt::SendOne(std::vector<CSendMailInfo> alarms, const CAlarmMailInfo& settings) {
    PreparedMail mail = PrepareMail(settings);
    for (const auto& [label, value] : MailSetupLines(mail)) AddLogInfo("Mail Log " + label + ": " + value);
    AddLogInfo("Contect:\r\n");
    for (const CSendMailInfo& a : alarms) {
        mail.lines.push_back(FormatMailLine(a));
        AddLogInfo(mail.lines.back());
    }
    alarms.clear();
    AddLogInfo("Send e-mail Start");
    bool sent = false;
    try {
        SendNow(mail);
        sent = true;
    } catch (const ECSmtp& e) {
        AddLogInfo("Send Mail Error!Msg: " + e.GetErrorText() + "!");
    }
    AddLogInfo(sent ? "Mail was successfully." : "Mail was Failed.");
}

} // namespace hygro
