// The application object: owns the settings store, the device database and the device
// list, and runs the start-up and shutdown sequences around the main window's run.
#pragma once

#include <atomic>
#include <filesystem>

#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "net/net_opt.h"
#include "net/sensor_protocol.h"
#include "settings/device_list.h"
#include "settings/global_member.h"

namespace hygro {

class CAppForNimbo1App {
  public:
    explicit CAppForNimbo1App(AdapterSource adapters = SystemAdapters);
    ~CAppForNimbo1App();
    CAppForNimbo1App(const CAppForNimbo1App&) = delete;
    CAppForNimbo1App& operator=(const CAppForNimbo1App&) = delete;

    // Settings file, checksum, every setting, then the log (deleted and begun anew) and
    // "App start!". base overrides the base folder (tests). 0 when the store cannot start.
    int InitGlobalValue(const std::filesystem::path& base = {});
    // Everything between the settings and the main window: tables, device list, network.
    void StartUp();
    // Everything after the main window has closed, up to the flushed log.
    void ShutDown();
    int InitNetOpt();

    void AcceptAll() { m_protocol.AcceptAll(); }
    void NotAcceptAll() { m_protocol.NotAcceptAll(); }
    int IsAcceptAll() const { return m_protocol.IsAcceptAll(); }

    // Whether incoming sensor connections are taken. StartUp turns it on before the
    // CONNECT commands go out, so a sensor that answers at once is not turned away;
    // ShutDown turns it off.
    void SetMainWindowReady(bool ready) { m_mainWindowReady = ready; }

    int AddValueToDB() { return m_devList.AddValueToDB(); }
    int SaveAllDev(const CDeviceList::FolderCheck& folderCheck = {}) { return m_devList.SaveAllDev(folderCheck); }
    int GetNewDevIndex(int serial) const { return m_devList.GetNewDevIndex(serial); }
    // Temporary names are never those of a registered endpoint.
    int AddDev(std::uint32_t packedIp, int serial) {
        return m_devList.AddDev(packedIp, serial, [this](const std::string& n) { return m_net.GetSocketExt(n) != nullptr; });
    }
    // Renews the settings checksum; logs "Save md5 failed!" and returns 0 on failure.
    int SaveMd5();

    void SetSkipSave(int v) { m_skipSave = v; }
    int GetSkipSave() const { return m_skipSave; }

    CGlobalMember& Settings() { return m_settings; }
    CWiFiSensorDatabase& Database() { return m_db; }
    CDatabaseLock& DatabaseLock() { return m_dbLock; }
    CWiFiSensorNetOpt& Net() { return m_net; }
    CSensorProtocol& Protocol() { return m_protocol; }

  private:
    int m_skipSave = 0;
    CGlobalMember m_settings;
    CWiFiSensorNetOpt m_net;
    CWiFiSensorDatabase m_db;
    CDatabaseLock m_dbLock;
    CSensorProtocol m_protocol;
    CDeviceList m_devList;
    std::atomic<bool> m_mainWindowReady{false};
};

} // namespace hygro
