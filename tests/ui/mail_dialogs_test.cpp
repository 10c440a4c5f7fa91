// The "Alarm Mail" dialog and the "Mail Test" window, offscreen, with the SMTP transport
// replaced so no mail leaves the process.
#include "mail/smtp.h"
#include "support/widgets.h"
#include "ui/mail_dialogs.h"
#include "util/message_box.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace hygro::ui {
namespace {

using hygro::test::OnNextModal;
using hygro::test::WaitFor;

QLineEdit* Edit(QWidget* w, const char* id) {
    return w->findChild<QLineEdit*>(QString::fromLatin1(id));
}
void Press(QWidget* w, const char* id) {
    w->findChild<QPushButton*>(QString::fromLatin1(id))->click();
}

class MailDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            m_messages.push_back(QString::fromStdU16String(text));
            return MsgAnswer::Ok;
        });
        g_MailSender.SetTransport([this](const PreparedMail& mail) {
            std::unique_lock g(m_lock);
            m_sent.push_back(mail);
            m_release.wait(g, [&] { return !m_hold; });
            if (m_error) throw ECSmtp(m_error);
        });
    }
    void TearDown() override {
        g_MailSender.SetTransport({});
        SetMessageHandler(m_previous);
    }
    void Release() {
        {
            std::lock_guard g(m_lock);
            m_hold = false;
        }
        m_release.notify_all();
    }
    // Fills the six fields by typing, as an operator would.
    static void Fill(CDlgAlarmMail& dlg, const char* server, const char* port, const char* user,
                     const char* pw, const char* to, const char* interval) {
        const std::pair<const char*, const char*> fields[] = {
            {"1131", server}, {"1135", port}, {"1133", user}, {"1134", pw}, {"1061", to}, {"1139", interval}};
        for (const auto& [id, text] : fields) {
            Edit(&dlg, id)->clear();
            QTest::keyClicks(Edit(&dlg, id), QString::fromUtf8(text));
        }
    }
    // Presses "Test" and closes the test window once it is done; returns its text.
    QString RunTest(CDlgAlarmMail& dlg) {
        QString text;
        OnNextModal([&](QWidget* w) {
            auto* log = qobject_cast<CDlgMailTestLog*>(w);
            ASSERT_NE(log, nullptr);
            ASSERT_TRUE(WaitFor([&] { return log->IsDone(); }));
            QTest::qWait(20); // the last queued lines
            text = log->Text();
            log->close();
        });
        Press(&dlg, "1137");
        return text;
    }

    MessageHandler m_previous;
    std::vector<QString> m_messages;
    std::mutex m_lock;
    std::condition_variable m_release;
    bool m_hold = false;
    int m_error = 0;
    std::vector<PreparedMail> m_sent;
};

TEST_F(MailDialogTest, OpensFilledOnlyWithAServerAndOkDisabled) {
    CDlgAlarmMail empty;
    empty.SetInfo(u"", 25, u"to@example.org", u"me@example.org", u"pw", 10);
    EXPECT_EQ(empty.windowTitle(), "Alarm Mail");
    for (const char* id : {"1131", "1135", "1133", "1134", "1061", "1139"})
        EXPECT_TRUE(Edit(&empty, id)->text().isEmpty()) << id;
    EXPECT_FALSE(empty.OkButton()->isEnabled());

    CDlgAlarmMail filled;
    filled.SetInfo(u"smtp.example.org", 587, u"to@example.org", u"me@example.org", u"pw", 10);
    EXPECT_EQ(Edit(&filled, "1131")->text(), "smtp.example.org");
    EXPECT_EQ(Edit(&filled, "1135")->text(), "587");
    EXPECT_EQ(Edit(&filled, "1061")->text(), "to@example.org");
    EXPECT_EQ(Edit(&filled, "1139")->text(), "10");
    EXPECT_EQ(Edit(&filled, "1134")->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(filled.OkButton()->isEnabled());
}

TEST_F(MailDialogTest, ATestMailThatWentThroughEnablesOkUntilAnAccountFieldChanges) {
    CDlgAlarmMail dlg;
    dlg.show();
    Fill(dlg, "smtp.example.org", "587", "alarm@example.org", "s3cret", "ops@example.org", "10");
    const QString text = RunTest(dlg);
    EXPECT_TRUE(dlg.OkButton()->isEnabled());
    EXPECT_EQ(g_MailSender.GetTestFlags(), 0);
    for (const char* line :
         {"Svr:smtp.example.org:587", "Mode:TLS", "User:alarm@example.org", "Password:******", "Name:alarm",
          "From:alarm@example.org", "Title:Alarm", "To:ops@example.org", "Content:", "Send e-mail Start",
          "Mail was send successfully."})
        EXPECT_TRUE(text.contains(QString::fromLatin1(line))) << line << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains("s3cret"));
    ASSERT_EQ(m_sent.size(), 1u);
    ASSERT_EQ(m_sent[0].lines.size(), 1u);
    EXPECT_EQ(m_sent[0].lines[0].rfind("test mail ", 0), 0u);

    // The interval may change after the test; an account field may not.
    Edit(&dlg, "1139")->clear();
    QTest::keyClicks(Edit(&dlg, "1139"), "2x");
    EXPECT_EQ(Edit(&dlg, "1139")->text(), "2") << "digits only";
    EXPECT_TRUE(dlg.OkButton()->isEnabled());
    Press(&dlg, "1008");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    const CAlarmMailInfo info = dlg.Info();
    EXPECT_EQ(info.smtpServer, u"smtp.example.org");
    EXPECT_EQ(info.smtpPort, 587);
    EXPECT_EQ(info.user, u"alarm@example.org");
    EXPECT_EQ(info.password, u"s3cret");
    EXPECT_EQ(info.mailTo, u"ops@example.org");
    EXPECT_EQ(info.time, 2);

    for (const char* id : {"1131", "1135", "1133", "1134", "1061"}) {
        CDlgAlarmMail again;
        again.show();
        Fill(again, "smtp.example.org", "587", "alarm@example.org", "s3cret", "ops@example.org", "10");
        RunTest(again);
        ASSERT_TRUE(again.OkButton()->isEnabled());
        QTest::keyClicks(Edit(&again, id), "x");
        EXPECT_FALSE(again.OkButton()->isEnabled()) << id;
    }
}

TEST_F(MailDialogTest, FailedChecksAndFailedMailsKeepOkDisabled) {
    CDlgAlarmMail dlg;
    dlg.show();
    Fill(dlg, "smtp.example.org", "587", "alarm", "pw", "ops@example.org", "10");
    Press(&dlg, "1137");
    EXPECT_EQ(m_messages, std::vector<QString>{"User error!"});
    EXPECT_TRUE(m_sent.empty()) << "no test without passing the checks";

    m_error = 406;
    Fill(dlg, "smtp.example.org", "587", "alarm@example.org", "pw", "ops@example.org", "10");
    const QString text = RunTest(dlg);
    EXPECT_TRUE(text.contains("Error: Bad login or password")) << text.toStdString();
    EXPECT_FALSE(dlg.OkButton()->isEnabled());
}

TEST_F(MailDialogTest, TheTestWindowStaysUntilItsMailIsDone) {
    m_hold = true;
    CAlarmMailInfo settings{u"smtp.example.org", 587, u"ops@example.org", u"alarm@example.org", u"pw", 10};
    CDlgMailTestLog log(settings);
    log.show();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard g(m_lock);
        return !m_sent.empty();
    }));
    log.close();
    log.reject(); // Escape
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(m_messages,
              (std::vector<QString>{"Please waite for test mail!", "Please waite for test mail!"}));
    Release();
    ASSERT_TRUE(WaitFor([&] { return log.IsDone(); }));
    log.close();
    EXPECT_FALSE(log.isVisible());
    EXPECT_TRUE(log.WasSent());
}

// Pictures for a person to look at: build/ui-shots/alarm-mail.png, mail-test.png.
TEST_F(MailDialogTest, RenderForAPerson) {
    const std::filesystem::path out = std::filesystem::current_path() / "ui-shots";
    std::filesystem::create_directories(out);
    CDlgAlarmMail dlg;
    dlg.SetInfo(u"smtp.example.org", 587, u"ops@example.org", u"alarm@example.org", u"secret", 10);
    dlg.show();
    QTest::qWait(50);
    ASSERT_TRUE(dlg.grab().save(QString::fromStdString((out / "alarm-mail.png").string())));
    CDlgMailTestLog log({u"smtp.example.org", 587, u"ops@example.org", u"alarm@example.org", u"secret", 10});
    log.show();
    ASSERT_TRUE(WaitFor([&] { return log.IsDone(); }));
    QTest::qWait(50);
    ASSERT_TRUE(log.grab().save(QString::fromStdString((out / "mail-test.png").string())));
}

} // namespace
} // namespace hygro::ui
