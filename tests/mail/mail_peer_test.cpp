// The alarm mail thread against a real SMTP server (tests/mail/peer): what operators
// receive, and what happens when the server refuses the mail.
#include "mail/mail_opt.h"
#include "smtp_test_support.h"
#include "support/station_files.h"
#include "util/kx_log.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace hygro {
namespace {

using namespace std::chrono_literals;

class AlarmMailToPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        g_Log.SetTap([this](const std::string& line) {
            std::lock_guard g(m_lock);
            m_log.push_back(line);
        });
        m_mail.SetMinuteForTesting(20ms);
    }
    void TearDown() override {
        m_mail.Stop();
        g_Log.SetTap({});
    }
    bool WaitLogged(const std::string& text) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard g(m_lock);
                if (std::find(m_log.begin(), m_log.end(), text) != m_log.end()) return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    void Settings(const test::SmtpPeer& peer, const char16_t* password) {
        m_mail.SetSettings(
            {u"127.0.0.1", peer.port(), u"ops@example.test", u"alarm@hygrolog.test", password, 5});
    }

    CMailOpt m_mail;
    std::mutex m_lock;
    std::vector<std::string> m_log;
};

TEST_F(AlarmMailToPeer, TenAlarmsArriveAsOneMailWithTenLines) {
    test::SmtpPeer peer;
    START_PEER(peer, {"--user", "alarm@hygrolog.test", "--pass", "pw^1"});
    Settings(peer, u"pw^1");
    for (int k = 0; k < 10; ++k)
        m_mail.AddMail(u"K\u00fchlraum", test::At(2026, 12, 10, 10, 0, k), 50.0 + k / 10.0, -45.0);
    m_mail.Start();
    const auto received = test::WaitMessage(peer);
    ASSERT_TRUE(received);
    EXPECT_TRUE(received->secure) << "STARTTLS offered, so used";
    EXPECT_EQ(received->user, "alarm@hygrolog.test");
    EXPECT_EQ(received->from, "alarm@hygrolog.test");
    EXPECT_EQ(received->to, std::vector<std::string>{"ops@example.test"});

    const std::vector<std::string> all = test::SplitLines(received->data);
    const auto blank = std::find(all.begin(), all.end(), "");
    ASSERT_NE(blank, all.end());
    EXPECT_NE(std::find(all.begin(), blank, "From: alarm <alarm@hygrolog.test>"), blank);
    EXPECT_NE(std::find(all.begin(), blank, "Subject: Alarm"), blank);
    // Each line already ends in CR LF and the client adds one: a blank line after each.
    std::vector<std::string> body(blank + 1, all.end());
    while (!body.empty() && body.back().empty())
        body.pop_back();
    ASSERT_EQ(body.size(), 19u);
    for (int k = 0; k < 10; ++k) {
        char want[160];
        std::snprintf(want, sizeof want,
                      "K\xC3\xBChlraum\xEF\xBC\x8C 2026-12-10 10:00:%02d\xEF\xBC\x8C H=%.1f%%\xEF\xBC\x8C "
                      "T=-45.0\xE2\x84\x83",
                      k, 50.0 + k / 10.0);
        EXPECT_EQ(body[static_cast<std::size_t>(2 * k)], want);
        if (k < 9) {
            EXPECT_EQ(body[static_cast<std::size_t>(2 * k + 1)], "");
        }
    }
    EXPECT_TRUE(WaitLogged("Mail was successfully."));
}

TEST_F(AlarmMailToPeer, ARefusedMailIsLoggedAndTheNextOneGoesOut) {
    test::SmtpPeer peer;
    START_PEER(peer, {"--user", "alarm@hygrolog.test", "--pass", "right"});
    Settings(peer, u"wrong");
    m_mail.AddMail(u"Lab", test::At(2026, 12, 10, 10, 0, 0), 20.0, 30.0);
    m_mail.Start();
    ASSERT_TRUE(WaitLogged("Send Mail Error!Msg: Bad login or password!"));
    ASSERT_TRUE(WaitLogged("Mail was Failed."));
    {
        std::lock_guard g(m_lock);
        for (const std::string& line : m_log) {
            EXPECT_EQ(line.find("wrong"), std::string::npos) << line;
            EXPECT_EQ(line.find("d3Jvbmc"), std::string::npos) << "Base64 of the password: " << line;
        }
    }
    Settings(peer, u"right");
    m_mail.AddMail(u"Lab", test::At(2026, 12, 10, 10, 0, 10), 20.0, 31.0);
    const auto received = test::WaitMessage(peer);
    ASSERT_TRUE(received) << "the thread went on after the failure";
    EXPECT_NE(received->data.find("10:00:10"), std::string::npos);
    EXPECT_EQ(received->data.find("10:00:00"), std::string::npos) << "a failed mail's lines are dropped";
}

TEST_F(AlarmMailToPeer, StopCutsAHangingMailShort) {
    test::SmtpPeer peer;
    START_PEER(peer, {"--silent"});
    Settings(peer, u"pw");
    m_mail.AddMail(u"Lab", test::At(2026, 12, 10, 10, 0, 0), 20.0, 30.0);
    m_mail.Start();
    ASSERT_TRUE(WaitLogged("Send e-mail Start"));
    std::this_thread::sleep_for(100ms); // the client waits for the greeting (300 s)
    m_mail.Stop();                      // would hang here without the abort
    EXPECT_TRUE(WaitLogged("Mail was Failed."));
}

} // namespace
} // namespace hygro
