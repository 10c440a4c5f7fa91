// The station: start-up, the main window's run, shutdown.
#include <QApplication>
#include <QTimer>
#include <clocale>
#include <thread>

#include "acq/acquisition.h"
#include "app/app_core.h"
#include "app/single_instance.h"
#include "settings/global_member.h"
#include "ui/main_window.h"
#include "ui/message_service.h"
#include "ui/signal_close.h"
#include "util/message_box.h"

int main(int argc, char* argv[]) {
    QApplication qtApp(argc, argv);
    // Qt adopts the user's locale; files and wire texts need '.' as the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Hygrolog"));
    hygro::ui::InstallMessageService();

    const std::filesystem::path base = hygro::CGlobalMember::DefaultBaseFolder();
    hygro::SingleInstanceLock instance;
    if (!instance.Acquire(base / "Veltrix" / "Hygrolog" / "Settings.ini")) {
        hygro::ShowMessage(std::string("Can't run too many this App!"));
        return 0;
    }

    hygro::CAppForNimbo1App theApp;
    {
        hygro::ui::MainWindow window;
        if (theApp.InitGlobalValue(base)) {
            theApp.StartUp();
            hygro::ui::CloseOnTerminationSignals(&window);
            // Polling and reception run while the window is up; the window's own issue
            // will host them and show their events.
            hygro::CAcquisition acquisition(theApp);
            QTimer pollTick;
            QObject::connect(&pollTick, &QTimer::timeout, [&acquisition] { acquisition.OnTimerTick(); });
            acquisition.StartTimerWorkThread();
            acquisition.StartCheckReceiveDataThread();
            pollTick.start(1000);
            window.show();
            QApplication::exec();
            pollTick.stop();
            acquisition.Stop();
            theApp.ShutDown();
        }
    }
    return 0;
}
