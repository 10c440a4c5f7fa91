// The station: start-up, the main window's run, shutdown.
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/app_core.h"
#include "app/single_instance.h"
#include "settings/global_member.h"
#include "mail/mail_opt.h"
#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/message_service.h"
#include "ui/signal_close.h"
#include "ui/ui_probe.h"
#include "util/message_box.h"

namespace {

bool HasGraphicalSession() {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* s = std::getenv(v);
        if (s && *s) return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!HasGraphicalSession()) {
        std::fprintf(stderr,
                     "hygrolog: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Start it from a desktop session, under a virtual X server (xvfb-run -a hygrolog),\n"
                     "or without any window at all with QT_QPA_PLATFORM=offscreen.\n");
        return 1;
    }
    QApplication qtApp(argc, argv);
    // Qt adopts the user's locale; files and wire texts need '.' as the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Hygrolog"));
    QApplication::setWindowIcon(hygro::ui::AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("hygrolog"));
    hygro::ui::InstallMessageService();
    hygro::ui::StartUiProbeFromEnvironment();

    const std::filesystem::path base = hygro::CGlobalMember::DefaultBaseFolder();
    hygro::SingleInstanceLock instance;
    if (!instance.Acquire(base / "Veltrix" / "Hygrolog" / "Settings.ini")) {
        hygro::ShowMessage(std::string("Can't run too many this App!"));
        return 0;
    }

    hygro::CAppForNimbo1App theApp;
    {
        hygro::ui::CAppForNimbo1Dlg window(theApp);
        // Endpoint threads light the status bar; set before any endpoint exists.
        theApp.Net().Hooks().rxLed = [&window](int index) { window.StartRxLed(index); };
        theApp.Net().Hooks().txLed = [&window](int index) { window.StartTxLed(index); };
        theApp.Protocol().Hooks().setConnectLed = [&window](int index, int on) { window.SetConnectLed(index, on); };
        theApp.Protocol().Hooks().serialRefreshed = [&window](int index, int serial) {
            window.RefreshDiscoverySerial(index, serial);
        };
        if (theApp.InitGlobalValue(base)) {
            theApp.StartUp();
            window.InitDialog();
            hygro::ui::CloseOnTerminationSignals(&window);
            window.show();
            QApplication::exec();
            hygro::g_MailSender.Stop();
            theApp.ShutDown();
        }
    }
    return 0;
}
