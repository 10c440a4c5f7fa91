// The "Alarm Mail" settings dialog and the "Mail Test" window it opens: settings are
// accepted only after a test mail with them went through.
#pragma once

#include "mail/mail_opt.h"

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <thread>

class QCloseEvent;
class QKeyEvent;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace hygro::ui {

class CDlgMailTestLog : public QDialog {
    Q_OBJECT
  public:
    // Starts sending the test mail at once.
    CDlgMailTestLog(const CAlarmMailInfo& settings, QWidget* parent = nullptr);
    ~CDlgMailTestLog() override;

    // Appends a line (any thread).
    void AddLogInfo(const QString& strValue);
    bool IsDone() const { return m_done; }
    bool WasSent() const { return m_sent; }
    QString Text() const;
    void done(int result) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void SendMail();
    void AppendLine(QString line); // GUI thread

    CAlarmMailInfo m_settings;
    QPlainTextEdit* m_text = nullptr;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_sent{false};
    std::jthread m_thread; // last: joined before the rest goes
};

class CDlgAlarmMail : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgAlarmMail(QWidget* parent = nullptr);

    void SetInfo(const std::u16string& strServer, std::uint16_t usPort, const std::u16string& strTo,
                 const std::u16string& strUser, const std::u16string& strPassword, int nInterval);
    // The accepted values (after OK).
    CAlarmMailInfo Info() const { return m_info; }
    // Shows the first failed check in a message box; true when all pass.
    bool CheckAllMailInfo();

    void OnTest();
    void OnOK();
    QPushButton* OkButton() const { return m_ok; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    MailForm Form() const;
    void ReadFields();

    CAlarmMailInfo m_info;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_mailTo = nullptr;
    QLineEdit* m_interval = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_test = nullptr;
};

} // namespace hygro::ui
