#include "app/app_core.h"

#include <chrono>
#include <thread>

#include "util/file_opt.h"
#include "util/kx_log.h"

namespace hygro {

CAppForNimbo1App::CAppForNimbo1App() : m_devList(m_db, m_settings) {}

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
    InitNetOpt();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int CAppForNimbo1App::InitNetOpt() {
    m_acceptAll = 1;
    return 1;
}

void CAppForNimbo1App::ShutDown() {
    if (m_skipSave == 0) {
        SaveAllDev();
        SaveMd5();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_db.ClearAllMem();
    g_Log.AddLogInfo("App end!\r\n", 1);
    g_Log.End();
}

void CAppForNimbo1App::AcceptAll() {
    if (m_settings.GetBaseInfo()->GetUDPorTCP() != kProtoUdp) m_acceptAll = 1;
}

void CAppForNimbo1App::NotAcceptAll() {
    if (m_settings.GetBaseInfo()->GetUDPorTCP() != kProtoUdp) m_acceptAll = 0;
}

int CAppForNimbo1App::SaveMd5() {
    if (m_settings.SaveMd5()) return 1;
    AddLogInfo("Save md5 failed!\r\n");
    return 0;
}

} // namespace hygro
