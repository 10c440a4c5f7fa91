#include "app/app_core.h"

#include <chrono>
#include <thread>

#include "util/file_opt.h"
#include "util/kx_log.h"

namespace hygro {

CAppForNimbo1App::CAppForNimbo1App(AdapterSource adapters)
    : m_net(std::move(adapters)), m_protocol(m_db, m_dbLock, m_settings, m_net), m_devList(m_db, m_settings) {
    m_protocol.Hooks().mainWindowReady = [this] { return m_mainWindowReady.load(); };
}

CAppForNimbo1App::~CAppForNimbo1App() {
    // Endpoint threads call into the protocol and the tables: stop them first.
    m_net.ClearMemBuffer();
}

int CAppForNimbo1App::InitGlobalValue(const std::filesystem::path& base) {
    if (!m_settings.InitSettingsFile(base)) return 0;
    m_settings.ReadSettingsFile();
    const std::filesystem::path logFolder = m_settings.GetDataPath() / "Log";
    g_Log.SetPath(logFolder);
    CheckAndCreateFolder(logFolder);
    AddLogInfo("App start!");
    return 1;
}

void CAppForNimbo1App::StartUp() {
    m_skipSave = 0;
    m_db.InitAllDB();
    AddValueToDB();
    m_mainWindowReady = true;
    InitNetOpt();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int CAppForNimbo1App::InitNetOpt() { return m_protocol.InitNetOpt(); }

void CAppForNimbo1App::ShutDown() {
    m_mainWindowReady = false;
    if (m_skipSave == 0) {
        SaveAllDev();
        SaveMd5();
    }
    m_protocol.SendRCmdToAllDev();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        // Network threads still run until the endpoints are closed below.
        CDatabaseLock::Guard guard(m_dbLock);
        m_db.ClearAllMem();
    }
    m_net.ClearMemBuffer();
    g_Log.AddLogInfo("App end!\r\n", 1);
    g_Log.End();
}

int CAppForNimbo1App::SaveMd5() {
    if (m_settings.SaveMd5()) return 1;
    AddLogInfo("Save md5 failed!\r\n");
    return 0;
}

} // namespace hygro
