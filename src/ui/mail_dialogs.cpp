#include "ui/mail_dialogs.h"

#include "ui/dialog_parts.h"
#include "mail/smtp.h"
#include "util/local_time.h"
#include "util/message_box.h"
#include "util/text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstdio>
#include <string>

namespace hygro::ui {
namespace {

QString Wide(const std::u16string& s) {
    return QString::fromStdU16String(s);
}
std::u16string Narrow16(const QString& s) {
    return s.toStdU16String();
}

} // namespace

// ---- test window ----

CDlgMailTestLog::CDlgMailTestLog(const CAlarmMailInfo& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Mail Test"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(560, 380);
    auto* layout = new QVBoxLayout(this);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("1137"));
    m_text->setReadOnly(true);
    layout->addWidget(m_text);

    // The SMTP dialogue of the whole process comes here while the test flag is set.
    // The mail thread may still hold this sink when the window goes: the window is looked
    // up on the GUI thread only, where it is destroyed.
    QPointer<CDlgMailTestLog> self(this);
    g_MailSender.RouteTraffic();
    g_MailSender.SetTestSink([self](const std::u16string& text) {
        QMetaObject::invokeMethod(qApp, [self, line = QString::fromStdU16String(text)] {
            if (self) self->AppendLine(line);
        });
    });
    m_thread = std::jthread([this] { SendMail(); });
}

CDlgMailTestLog::~CDlgMailTestLog() {
    if (m_thread.joinable()) m_thread.join();
    g_MailSender.SetTestSink({});
}

void CDlgMailTestLog::AddLogInfo(const QString& strValue) {
    // The test thread's lines; the window outlives that thread.
    QMetaObject::invokeMethod(this, [this, strValue] { AppendLine(strValue); });
}

void CDlgMailTestLog::AppendLine(QString line) {
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (line.endsWith(u'\n')) line.chop(1);
    m_text->appendPlainText(line);
}

QString CDlgMailTestLog::Text() const {
    return m_text->toPlainText();
}

void CDlgMailTestLog::SendMail() {
    const PreparedMail base = PrepareMail(m_settings);
    auto say = [this](const std::string& s) { AddLogInfo(QString::fromStdString(s)); };
    for (const auto& [label, value] : MailSetupLines(base)) say(label + ":" + value);
    PreparedMail mail = base;
    const SystemTime now = GetLocalTime();
    char line[64];
    std::snprintf(line, sizeof line, "test mail %04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    mail.lines.emplace_back(line);
    say("Content:");
    say(line);
    say("\r\nSend e-mail Start");
    try {
        g_MailSender.SendNow(mail);
        say("Mail was send successfully.");
        m_sent = true;
    } catch (const ECSmtp& e) {
        say("Error: " + e.GetErrorText());
    }
    m_done = true;
}

void CDlgMailTestLog::done(int result) {
    // Neither the close box nor Escape may take the window away from its thread.
    if (!m_done) {
        ShowMessage(std::string("Please waite for test mail!"));
        return;
    }
    g_MailSender.SetTestSink({});
    QDialog::done(result);
}

void CDlgMailTestLog::closeEvent(QCloseEvent* event) {
    if (!m_done) {
        event->ignore();
        ShowMessage(std::string("Please waite for test mail!"));
        return;
    }
    QDialog::closeEvent(event);
}

// ---- settings dialog ----

CDlgAlarmMail::CDlgAlarmMail(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Alarm Mail"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto field = [&](int row, const char* label, const char* id) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(id));
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        grid->addWidget(edit, row, 1);
        return edit;
    };
    m_server = field(0, "Mail SMTP Server:", "1131");
    m_port = field(1, "SMTP Server Port:", "1135");
    m_user = field(2, "Mail Account:", "1133");
    m_password = field(3, "Password:", "1134");
    m_password->setEchoMode(QLineEdit::Password);
    m_mailTo = field(4, "Mail To:", "1061");
    m_interval = field(5, "Mail interval:", "1139");
    m_interval->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    grid->addWidget(new QLabel(QStringLiteral("Minute"), this), 5, 2);
    grid->setColumnMinimumWidth(1, 240);
    layout->addLayout(grid);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = Button("OK", "1008", this);
    m_test = Button("Test", "1137", this);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_test);
    layout->addLayout(buttons);
    m_ok->setEnabled(false);
    // Settings that were not tested cannot be accepted; the interval needs no test.
    for (QLineEdit* e : {m_server, m_port, m_user, m_password, m_mailTo})
        connect(e, &QLineEdit::textEdited, this, [this] { m_ok->setEnabled(false); });
    connect(m_ok, &QPushButton::clicked, this, &CDlgAlarmMail::OnOK);
    connect(m_test, &QPushButton::clicked, this, &CDlgAlarmMail::OnTest);
}

void CDlgAlarmMail::SetInfo(const std::u16string& strServer, std::uint16_t usPort,
                            const std::u16string& strTo, const std::u16string& strUser,
                            const std::u16string& strPassword, int nInterval) {
    m_info = {strServer, usPort, strTo, strUser, strPassword, nInterval};
    if (strServer.empty()) return;
    m_server->setText(Wide(strServer));
    m_port->setText(QString::number(usPort));
    m_mailTo->setText(Wide(strTo));
    m_user->setText(Wide(strUser));
    m_password->setText(Wide(strPassword));
    m_interval->setText(QString::number(nInterval));
}

MailForm CDlgAlarmMail::Form() const {
    return {Narrow16(m_server->text()),   Narrow16(m_port->text()),   Narrow16(m_user->text()),
            Narrow16(m_password->text()), Narrow16(m_mailTo->text()), Narrow16(m_interval->text())};
}

bool CDlgAlarmMail::CheckAllMailInfo() {
    if (const char* error = hygro::CheckAllMailInfo(Form())) {
        ShowMessage(std::string(error));
        return false;
    }
    return true;
}

void CDlgAlarmMail::ReadFields() {
    m_info.smtpServer = Narrow16(m_server->text());
    m_info.smtpPort = static_cast<std::uint16_t>(m_port->text().toUInt());
    m_info.mailTo = Narrow16(m_mailTo->text());
    m_info.user = Narrow16(m_user->text());
    m_info.password = Narrow16(m_password->text());
    m_info.time = m_interval->text().toInt();
}

void CDlgAlarmMail::OnTest() {
    if (!CheckAllMailInfo()) return;
    g_MailSender.SetTestFlags(1);
    ReadFields();
    {
        CDlgMailTestLog test(m_info, this);
        test.exec();
        if (test.WasSent()) m_ok->setEnabled(true);
    }
    g_MailSender.SetTestFlags(0);
}

void CDlgAlarmMail::OnOK() {
    m_info.time = m_interval->text().toInt();
    accept();
}

void CDlgAlarmMail::keyPressEvent(QKeyEvent* event) {
    // Enter must not accept settings that were never tested.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace hygro::ui
