// The application object: owns the settings store, the device database and the device
// list, and runs the start-up and shutdown sequences around the main window's run.
#pragma once

#include <atomic>
#include <filesystem>

#include "db/wifi_sensor_db.h"
#include "settings/device_list.h"
#include "settings/global_member.h"

namespace hygro {

class CAppForNimbo1App {
  public:
    CAppForNimbo1App();
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

    void AcceptAll();
    void NotAcceptAll();
    int IsAcceptAll() const { return m_acceptAll.load(); }

    int AddValueToDB() { return m_devList.AddValueToDB(); }
    int SaveAllDev(const CDeviceList::FolderCheck& folderCheck = {}) { return m_devList.SaveAllDev(folderCheck); }
    int GetNewDevIndex(int serial) const { return m_devList.GetNewDevIndex(serial); }
    int AddDev(std::uint32_t packedIp, int serial, const CDeviceList::NameTaken& nameTaken = {}) {
        return m_devList.AddDev(packedIp, serial, nameTaken);
    }
    // Renews the settings checksum; logs "Save md5 failed!" and returns 0 on failure.
    int SaveMd5();

    void SetSkipSave(int v) { m_skipSave = v; }
    int GetSkipSave() const { return m_skipSave; }

    CGlobalMember& Settings() { return m_settings; }
    CWiFiSensorDatabase& Database() { return m_db; }

  private:
    int m_skipSave = 0;
    CGlobalMember m_settings;
    // Written on the GUI thread, read by network callbacks.
    std::atomic<int> m_acceptAll{0};
    CWiFiSensorDatabase m_db;
    CDeviceList m_devList;
};

} // namespace hygro
