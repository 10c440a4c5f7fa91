// The alarm mail queue, its thread, the mail line and the texts operators see. The SMTP
// transport is replaced by a recorder here; the real client is tested against a peer.
#include "mail/mail_opt.h"
#include "mail/smtp.h"
#include "support/station_files.h"
#include "util/kx_log.h"

#include <algorithm>
#include <condition_variable>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace hygro {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(MailLine, FormatAndName) {
    CSendMailInfo a{u"Room1", test::At(2019, 5, 4, 9, 3, 7), 45.6, 23.4};
    EXPECT_EQ(FormatMailLine(a),
              "Room1\xEF\xBC\x8C 2019-05-04 09:03:07\xEF\xBC\x8C H=45.6%\xEF\xBC\x8C T=23.4\xE2\x84\x83\r\n");
    a.name = u"K\u00fchlraum \u2103";
    a.h = -1.25;
    a.t = 99.9;
    EXPECT_THAT(FormatMailLine(a), ::testing::StartsWith("K\xC3\xBChlraum \xE2\x84\x83\xEF\xBC\x8C"));
    EXPECT_THAT(FormatMailLine(a), HasSubstr("H=-1.2%"));
    // A huge name is held to 1024 bytes without splitting a character.
    a.name = std::u16string(700, u'\u00fc');
    const std::string line = FormatMailLine(a);
    const std::size_t nameBytes = line.find("\xEF\xBC\x8C");
    EXPECT_EQ(nameBytes, 1024u);
}

TEST(MailLine, PreparedFromTheSettings) {
    CAlarmMailInfo s{u"smtp.example.org",  587,   u"a@example.org,b@example.org",
                     u"alarm@example.org", u"pw", 10};
    PreparedMail m = PrepareMail(s);
    EXPECT_EQ(m.server, "smtp.example.org");
    EXPECT_EQ(m.port, 587);
    EXPECT_EQ(m.login, "alarm@example.org");
    EXPECT_EQ(m.senderName, "alarm");
    EXPECT_EQ(m.subject, "Alarm");
    EXPECT_EQ(m.recipient, "a@example.org,b@example.org") << "one address, as set";
    s.user = u"alarm";
    EXPECT_EQ(PrepareMail(s).senderName, "") << "no at sign: no name";
}

TEST(MailTraffic, WhatOperatorsSee) {
    struct Case {
        std::string text;
        int flag;
        std::string shown;
    };
    const Case cases[] = {
        {"250 OK\r\n", 0, "250 OK\r\n"},
        {"334 VXNlcm5hbWU6\r\n", 1, "334 Username:"},
        {"dXNlckBleGFtcGxlLm9yZw==\r\n", 2, "******\r\n"},
        {"AUTH PLAIN AHVzZXIAc2VjcmV0\r\n", 2, "AUTH PLAIN ******\r\n"},
        {"235 ok\r\n", 7, "235 ok\r\n"},
        {"33", 1, "33"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SmtpTrafficText(c.text, c.flag), c.shown) << c.text;
}

TEST(MailDialogChecks, FirstFailureWins) {
    const MailForm good{u"smtp.example.org", u"587", u"me@example.org", u"pw", u"you@example.org", u"10"};
    struct Case {
        const char* name;
        MailForm form;
        const char* message;
    };
    auto with = [&](auto change) {
        MailForm f = good;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"all good", good, nullptr},
        {"interval 5 passes", with([](MailForm& f) { f.interval = u"5"; }), nullptr},
        {"no server", with([](MailForm& f) { f.server.clear(); }), "Please set Server address!"},
        {"no port", with([](MailForm& f) { f.port.clear(); }), "Please set Port!"},
        {"port letters", with([](MailForm& f) { f.port = u"58x"; }), "Port's value error!"},
        {"port 0", with([](MailForm& f) { f.port = u"0"; }), "Port's value error!"},
        {"port 65535", with([](MailForm& f) { f.port = u"65535"; }), "Port's value error!"},
        {"port huge", with([](MailForm& f) { f.port = u"99999999999999999999"; }), "Port's value error!"},
        {"port 65534", with([](MailForm& f) { f.port = u"65534"; }), nullptr},
        {"user without at", with([](MailForm& f) { f.user = u"me"; }), "User error!"},
        {"user at first", with([](MailForm& f) { f.user = u"@example.org"; }), "User error!"},
        {"mail to without at", with([](MailForm& f) { f.mailTo = u"you"; }), "Mail To error!"},
        {"interval 4", with([](MailForm& f) { f.interval = u"4"; }), "Mail interval must greater than 5!"},
        {"interval empty", with([](MailForm& f) { f.interval.clear(); }),
         "Mail interval must greater than 5!"},
        {"order: server before user", with([](MailForm& f) { f.server.clear(), f.user = u"x"; }),
         "Please set Server address!"},
    };
    for (const Case& c : cases) {
        const char* got = CheckAllMailInfo(c.form);
        EXPECT_STREQ(got ? got : "", c.message ? c.message : "") << c.name;
    }
}

// Records what the mail thread hands to the transport.
class MailThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_Log.SetTap([this](const std::string& line) {
            std::lock_guard g(m_lock);
            m_log.push_back(line);
        });
        m_mail.SetMinuteForTesting(std::chrono::milliseconds(20));
        m_mail.SetSettings(
            {u"smtp.example.org", 587, u"ops@example.org", u"alarm@example.org", u"s3cret!", 1});
        m_mail.SetTransport([this](const PreparedMail& mail) {
            std::lock_guard g(m_lock);
            m_sent.push_back(mail);
            m_changed.notify_all();
            if (m_fail) throw ECSmtp(309);
        });
    }
    void TearDown() override {
        m_mail.Stop();
        g_Log.SetTap({});
    }
    void Alarm(int k) {
        m_mail.AddMail(u"S" + std::u16string(1, char16_t(u'0' + k % 10)),
                       test::At(2026, 12, 10, 10, 0, k % 60), 50.0, -45.0);
    }
    bool WaitForMails(std::size_t n) {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, std::chrono::seconds(10), [&] { return m_sent.size() >= n; });
    }
    bool Logged(const std::string& text) {
        // The log writer is asynchronous only after the tap; the tap itself is synchronous.
        std::lock_guard g(m_lock);
        return std::find(m_log.begin(), m_log.end(), text) != m_log.end();
    }

    CMailOpt m_mail;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<PreparedMail> m_sent;
    std::vector<std::string> m_log;
    bool m_fail = false;
};

TEST_F(MailThreadTest, AlarmsQueuedBeforeAMailGoOutTogether) {
    for (int k = 0; k < 10; ++k)
        Alarm(k);
    m_mail.Start();
    ASSERT_TRUE(WaitForMails(1));
    {
        std::lock_guard g(m_lock);
        ASSERT_EQ(m_sent[0].lines.size(), 10u);
        EXPECT_EQ(m_sent[0].lines[3].substr(0, 2), "S3");
        EXPECT_EQ(m_sent[0].login, "alarm@example.org");
        EXPECT_EQ(m_sent[0].password, "s3cret!");
    }
    // Alarms raised during the interval wait for it, then leave as the next mail.
    for (int k = 0; k < 3; ++k)
        Alarm(k);
    ASSERT_TRUE(WaitForMails(2));
    std::lock_guard g(m_lock);
    EXPECT_EQ(m_sent[1].lines.size(), 3u);
}

TEST_F(MailThreadTest, LogsTheMailButNeverThePassword) {
    Alarm(1);
    m_mail.Start();
    ASSERT_TRUE(WaitForMails(1));
    m_mail.Stop();
    EXPECT_TRUE(Logged("Mail Log Svr: smtp.example.org:587"));
    EXPECT_TRUE(Logged("Mail Log Mode: TLS"));
    EXPECT_TRUE(Logged("Mail Log User: alarm@example.org"));
    EXPECT_TRUE(Logged("Mail Log Password: ******"));
    EXPECT_TRUE(Logged("Mail Log Name: alarm"));
    EXPECT_TRUE(Logged("Mail Log From: alarm@example.org"));
    EXPECT_TRUE(Logged("Mail Log Title: Alarm"));
    EXPECT_TRUE(Logged("Mail Log To: ops@example.org"));
    EXPECT_TRUE(Logged("Contect:\r\n"));
    EXPECT_TRUE(Logged("Send e-mail Start"));
    EXPECT_TRUE(Logged("Mail was successfully."));
    std::lock_guard g(m_lock);
    for (const std::string& line : m_log)
        EXPECT_THAT(line, ::testing::Not(HasSubstr("s3cret")));
}

TEST_F(MailThreadTest, AFailedMailIsLoggedDroppedAndTheThreadGoesOn) {
    m_fail = true;
    Alarm(1);
    m_mail.Start();
    ASSERT_TRUE(WaitForMails(1));
    Alarm(2);
    ASSERT_TRUE(WaitForMails(2)) << "the thread survived the failure";
    m_mail.Stop();
    EXPECT_TRUE(Logged("Send Mail Error!Msg: Server returned error after sending RCPT TO!"));
    EXPECT_TRUE(Logged("Mail was Failed."));
    std::lock_guard g(m_lock);
    EXPECT_EQ(m_sent[1].lines.size(), 1u) << "the failed mail's line is not sent again";
}

TEST_F(MailThreadTest, NothingStartsWhilePaused) {
    m_mail.SetPause(1);
    m_mail.Start();
    Alarm(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard g(m_lock);
        EXPECT_TRUE(m_sent.empty());
    }
    EXPECT_EQ(m_mail.QueuedCount(), 1u);
    m_mail.SetSettings({u"other.example.org", 25, u"x@example.org", u"y@example.org", u"p", 1});
    m_mail.SetPause(0);
    ASSERT_TRUE(WaitForMails(1));
    std::lock_guard g(m_lock);
    EXPECT_EQ(m_sent[0].server, "other.example.org") << "the new settings apply";
}

TEST_F(MailThreadTest, ManyProducersLoseNothing) {
    constexpr int kThreads = 4, kEach = 250;
    m_mail.Start();
    {
        std::vector<std::jthread> producers;
        for (int p = 0; p < kThreads; ++p)
            producers.emplace_back([&] {
                for (int k = 0; k < kEach; ++k)
                    Alarm(k);
            });
    }
    std::size_t lines = 0;
    for (int tries = 0; tries < 500 && lines < kThreads * kEach; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard g(m_lock);
        lines = 0;
        for (const PreparedMail& m : m_sent)
            lines += m.lines.size();
    }
    EXPECT_EQ(lines, static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(m_mail.QueuedCount(), 0u);
}

TEST_F(MailThreadTest, StopEndsALongIntervalAtOnce) {
    m_mail.SetMinuteForTesting(std::chrono::hours(1));
    Alarm(1);
    m_mail.Start();
    ASSERT_TRUE(WaitForMails(1));
    m_mail.Stop(); // would hang the test for an hour if the wait ignored the stop
    Alarm(2);
    EXPECT_EQ(m_mail.QueuedCount(), 1u) << "queued alarms stay queued";
}

TEST_F(MailThreadTest, TrafficGoesToTheTestWindowOnlyDuringATest) {
    std::vector<std::u16string> window;
    m_mail.SetTestSink([&](const std::u16string& text) { window.push_back(text); });
    m_mail.ShowLogForSmtp("250 before\r\n");
    m_mail.SetTestFlags(1);
    m_mail.ShowLogForSmtp("250 during\r\n");
    g_bFlagsAuthLogin = 2;
    m_mail.ShowLogForSmtp("c2VjcmV0\r\n");
    g_bFlagsAuthLogin = 0;
    m_mail.SetTestFlags(0);
    m_mail.ShowLogForSmtp("250 after\r\n");
    g_bFlagsAuthLogin = 2;
    m_mail.ShowLogForSmtp("c2VjcmV0\r\n");
    g_bFlagsAuthLogin = 0;
    EXPECT_THAT(window, ElementsAre(u"250 during\r\n", u"******\r\n"));
    EXPECT_TRUE(Logged("250 before\r\n"));
    EXPECT_TRUE(Logged("250 after\r\n"));
    EXPECT_TRUE(Logged("******\r\n"));
    EXPECT_FALSE(Logged("c2VjcmV0\r\n"));
}

} // namespace
} // namespace hygro
