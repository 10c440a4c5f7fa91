#include "ui/signal_close.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace hygro::ui {
namespace {

int g_signalFds[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: wake the GUI thread.
    [[maybe_unused]] const auto n = ::write(g_signalFds[0], &byte, 1);
}

} // namespace

void CloseOnTerminationSignals(QWidget* window) {
    if (g_signalFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, window);
    QPointer<QWidget> target(window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [target] {
        char buf[16];
        [[maybe_unused]] const auto n = ::read(g_signalFds[1], buf, sizeof buf);
        if (target) target->close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

} // namespace hygro::ui
