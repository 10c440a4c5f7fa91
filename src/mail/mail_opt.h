// The alarm mail queue and its thread: every alarm becomes one line; the thread sends all
// lines queued so far as one mail, then waits the mail interval before the next one.
#pragma once

#include "settings/sensor_info.h"
#include "util/local_time.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hygro {

// One queued alarm.
struct CSendMailInfo {
    std::u16string name;
    SystemTime time;
    double h = 0.0;
    double t = 0.0;
};

// "<name>， YYYY-MM-DD hh:mm:ss， H=45.6%， T=23.4℃\r\n" in UTF-8 (full-width commas,
// each followed by a space); the name is held to 1024 bytes.
std::string FormatMailLine(const CSendMailInfo& alarm);

// A mail ready for the SMTP client: what the settings say, as UTF-8 text.
struct PreparedMail {
    std::string server;
    std::uint16_t port = 0;
    std::string login; // the account, also the sender address
    std::string password;
    std::string senderName; // the account up to its first '@', empty without one
    std::string subject = "Alarm";
    std::string recipient; // the whole setting, as one address
    std::vector<std::string> lines;
};
PreparedMail PrepareMail(const CAlarmMailInfo& settings);

// How a mail is set up, as (label, value) pairs for the log and the test window: "Svr",
// "Mode", "User", "Password" (always "******"), "Name", "From", "Title", "To".
std::vector<std::pair<std::string, std::string>> MailSetupLines(const PreparedMail& mail);

class CSmtp;
// Sets smtp up for the mail (STARTTLS when the server offers it, otherwise unprotected;
// logging in; priority normal) and sends it; throws ECSmtp on failure.
void SendPreparedMail(const PreparedMail& mail, CSmtp& smtp);

// The SMTP dialogue as an operator may see it: a credential line (g_bFlagsAuthLogin 2)
// becomes "******" (an "AUTH <method>" prefix is kept); a LOGIN prompt (flag 1) shows
// its code and the decoded prompt.
std::string SmtpTrafficText(const std::string& text, int authFlag);

// The first failed check of the "Alarm Mail" dialog's fields, or null when they pass.
struct MailForm {
    std::u16string server, port, user, password, mailTo, interval;
};
const char* CheckAllMailInfo(const MailForm& form);

class CMailOpt {
  public:
    using Transport = std::function<void(const PreparedMail&)>;
    using TestSink = std::function<void(const std::u16string&)>;

    CMailOpt();
    ~CMailOpt(); // stops the thread
    CMailOpt(const CMailOpt&) = delete;
    CMailOpt& operator=(const CMailOpt&) = delete;

    // Queues one alarm (any thread); 1, or 0 when it could not be queued.
    int AddMail(const std::u16string& strName, const SystemTime& pSysTime, double lfH, double lfT);
    // Starts the mail thread once (later calls do nothing while it runs) and routes the
    // SMTP traffic of the process to ShowLogForSmtp.
    void Start();
    // Ends the thread; call it before the process's statics go (the log among them). A
    // running send is cut short through the transport's abort hook, a wait ends at once;
    // queued alarms stay queued.
    void Stop();

    // The six settings the thread uses from its next mail on.
    void SetSettings(const CAlarmMailInfo& settings);
    CAlarmMailInfo GetSettings() const;
    // 1 while the settings are being replaced: no mail starts.
    void SetPause(int paused);
    int GetPause() const;

    // While set, every SMTP text of the process goes to the test window's sink.
    void SetTestFlags(int flag);
    int GetTestFlags() const;
    void SetTestSink(TestSink sink);
    // The traffic hook: to the test window during a test, to the log otherwise.
    void ShowLogForSmtp(const std::string& text);
    // Makes ShowLogForSmtp the process's SMTP traffic hook (Start does it too).
    void RouteTraffic();
    // Sends one mail now (the mail thread's and the test mail); throws ECSmtp.
    void SendNow(const PreparedMail& mail);

    // Tests: a transport instead of the SMTP client (empty: the client again), how long a
    // "minute" of the interval is, and how many alarms wait.
    void SetTransport(Transport transport);
    void SetMinuteForTesting(std::chrono::milliseconds minute);
    std::size_t QueuedCount() const;

  private:
    void ThreadSendMail(std::stop_token stop);
    void SendOne(std::vector<CSendMailInfo> alarms, const CAlarmMailInfo& settings);

    mutable std::mutex m_lock;
    std::condition_variable_any m_wake;
    CAlarmMailInfo m_settings;          // guarded by m_lock
    int m_pause = 0;                    // guarded by m_lock
    std::vector<CSendMailInfo> m_queue; // guarded by m_lock, oldest first
    std::atomic<int> m_test{0};
    TestSink m_testSink;          // guarded by m_lock
    Transport m_transport;        // guarded by m_lock; empty: the SMTP client
    std::vector<CSmtp*> m_active; // guarded by m_lock: clients sending right now
    bool m_stopping = false;      // guarded by m_lock
    std::chrono::milliseconds m_minute{std::chrono::minutes(1)}; // guarded by m_lock
    std::jthread m_thread;                                       // touched by Start/Stop on one thread
};

// The process-wide mail sender.
extern CMailOpt g_MailSender;

} // namespace hygro
