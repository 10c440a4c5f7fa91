#include "ui/message_service.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/message_box.h"
#include "util/text.h"

namespace hygro::ui {
namespace {

MsgAnswer ShowBox(const std::u16string& text, MsgButtons buttons) {
    const QString msg = QString::fromStdU16String(text);
    const QString title = QStringLiteral("Hygrolog");
    switch (buttons) {
    case MsgButtons::YesNo:
        // Every question the station asks is about something that cannot be undone.
        return QMessageBox::warning(nullptr, QStringLiteral("Warning"), msg, QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes
                   ? MsgAnswer::Yes
                   : MsgAnswer::No;
    case MsgButtons::OkCancel:
        return QMessageBox::information(nullptr, title, msg, QMessageBox::Ok | QMessageBox::Cancel) ==
                       QMessageBox::Ok
                   ? MsgAnswer::Ok
                   : MsgAnswer::Cancel;
    case MsgButtons::Ok:
        break;
    }
    QMessageBox::information(nullptr, title, msg);
    return MsgAnswer::Ok;
}

MsgAnswer AutoAnswer(const char* mode, const std::u16string& text, MsgButtons buttons) {
    std::fprintf(stderr, "hygrolog message: %s\n", ToUtf8(text).c_str());
    std::fflush(stderr);
    const bool no = std::strcmp(mode, "no") == 0;
    switch (buttons) {
    case MsgButtons::YesNo:
        return no ? MsgAnswer::No : MsgAnswer::Yes;
    case MsgButtons::OkCancel:
        return no ? MsgAnswer::Cancel : MsgAnswer::Ok;
    case MsgButtons::Ok:
        break;
    }
    return MsgAnswer::Ok;
}

} // namespace

void InstallMessageService() {
    SetMessageHandler([](const std::u16string& text, MsgButtons buttons) {
        if (const char* mode = std::getenv("HYGROLOG_AUTO_ANSWER"); mode && *mode)
            return AutoAnswer(mode, text, buttons);
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) return AutoAnswer("ok", text, buttons);
        if (QThread::currentThread() == app->thread()) return ShowBox(text, buttons);
        // Worker threads wait for the operator's answer on the GUI thread.
        MsgAnswer answer = MsgAnswer::Ok;
        QMetaObject::invokeMethod(
            app, [&] { answer = ShowBox(text, buttons); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

} // namespace hygro::ui
