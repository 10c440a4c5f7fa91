// The settings store: finds or creates Settings.ini, guards it with an MD5 checksum,
// reads every setting at start-up and writes groups of settings back.
//
// Every write is one read-modify-write of the whole file that also renews the checksum
// and replaces the file atomically (mode 0600: it holds the mail password), so a station
// killed at any moment leaves a file that passes the next start's check.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "settings/sensor_info.h"
#include "util/ipv4.h"

namespace hygro {

class ProfileFile;

class CSaveWndPosBase {
  public:
    virtual ~CSaveWndPosBase() = default;
    virtual void ReadOtherInfo() = 0;
    virtual void SaveOtherInfo() = 0;

    int GetLeft() const { return m_left; }
    int GetTop() const { return m_top; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    void SetLeft(int v) { m_left = v; }
    void SetTop(int v) { m_top = v; }
    void SetWidth(int v) { m_width = v; }
    void SetHeight(int v) { m_height = v; }

    std::filesystem::path GetSettingsPath() const { return m_settingsPath; }
    const std::filesystem::path& GetDataPath() const { return m_dataPath; }
    const std::filesystem::path& GetAppPath() const { return m_appPath; }
    const std::filesystem::path& GetSystemDrive() const { return m_systemDrive; }
    std::filesystem::path GetSettingsFolder() const;

  protected:
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    std::filesystem::path m_settingsPath;
    std::filesystem::path m_dataPath;
    std::filesystem::path m_systemDrive; // the base folder standing in for the system drive
    std::filesystem::path m_appPath;
    const std::u16string m_companyWord = u"Veltrix";
    const std::u16string m_productWord = u"Hygrolog";
    const std::u16string m_fileName = u"Settings.ini";
};

class CGlobalMember : public CSaveWndPosBase {
  public:
    CGlobalMember();
    ~CGlobalMember() override;

    // Base folder: $HYGROLOG_HOME, else $XDG_DATA_HOME, else $HOME/.local/share; empty
    // when none is set.
    static std::filesystem::path DefaultBaseFolder();

    // Locates or creates the settings file and checks its checksum. base overrides the
    // base folder (tests). 0 only when the base folder is empty.
    int InitSettingsFile(std::filesystem::path base = {});
    void ReadSettingsFile();
    void ReadOtherInfo() override;
    void SaveOtherInfo() override;

    void ReadWndPos();
    void ReadPictureInfo();
    void ReadSensorListInfo();
    void ReadPortInfo();
    void ReadShowModeInfo();
    void LoadViewMode();
    void LoadAlarmMail();

    int SavePortInfo();
    int SaveCmdInterval();
    int SaveProtocol();
    int SaveLocalIP();
    int SavePictureInfo();
    int SaveShowModeInfo();
    int SaveAlarmMail();
    int SaveViewMode();
    int SavePictureWidth();
    int SaveDataPath();
    int SaveWmdPos(int left, int top, int width, int height);
    // Renews the checksum alone; 0 when the file cannot be read or written.
    int SaveMd5();

    // One read-modify-write of the settings file with a renewed checksum; 0 when the
    // file cannot be written (for example its folder has been deleted).
    int EditSettingsFile(const std::function<void(ProfileFile&)>& edit);
    // The settings file as it is on disk (empty when missing or not profile text).
    ProfileFile LoadSettingsFile() const;

    CSensorInfo* GetBaseInfo() { return m_sensorInfo.get(); }
    const CSensorInfo* GetBaseInfo() const { return m_sensorInfo.get(); }
    CAlarmMailInfo& GetAlarmMailInfo() { return m_alarmMail; }

    int GetShowMode() const { return m_showMode; }
    std::uint16_t GetShowModeHistoryYear() const { return m_histYear; }
    std::uint16_t GetShowModeHistoryMonth() const { return m_histMonth; }
    std::uint16_t GetShowModeHistoryDay() const { return m_histDay; }
    std::uint16_t GetShowModeHistoryHour() const { return m_histHour; }
    std::uint16_t GetShowModeHistoryMinute() const { return m_histMinute; }
    std::uint16_t GetShowModeHistorySecond() const { return m_histSecond; }
    void SetShowModeInfo(int mode, std::uint16_t year, std::uint16_t month, std::uint16_t day,
                         std::uint16_t hour, std::uint16_t minute, std::uint16_t second);
    int GetReadPictureMode() const { return m_readPictureMode; }
    void SetReadPictureMode(int v) { m_readPictureMode = v; }
    int GetPictureWidth() const { return m_pictureWidth; }
    void SetPictureWidth(int v) { m_pictureWidth = v; }
    int GetViewMode() const { return m_viewMode; }
    void SetViewMode(int v) { m_viewMode = v; }
    const std::u16string& GetPicturePath() const { return m_sensorInfo->GetPath(); }
    void SetPicturePath(std::u16string v) { m_sensorInfo->SetPath(std::move(v)); }
    const std::u16string& GetPicturePathHistory() const { return m_sensorInfo->GetPathHistory(); }
    void SetPicturePathHistory(std::u16string v) { m_sensorInfo->SetPathHistory(std::move(v)); }
    void SetDataPath(std::filesystem::path p) { m_dataPath = std::move(p); }

    // The station address as read from "LocalIP"; the network manager owns it at run
    // time and hands changes back before they are saved.
    IPv4Bytes GetLocalIp() const { return m_localIp; }
    void SetLocalIp(IPv4Bytes ip) { m_localIp = ip; }

  private:
    void ReadOtherInfo(const ProfileFile& doc);
    void ReadWndPos(const ProfileFile& doc);
    void ReadPictureInfo(const ProfileFile& doc);
    void ReadSensorListInfo(const ProfileFile& doc);
    void ReadPortInfo(const ProfileFile& doc);
    void ReadShowModeInfo(const ProfileFile& doc);
    void LoadViewMode(const ProfileFile& doc);
    void LoadAlarmMail(const ProfileFile& doc);
    void PutPortInfo(ProfileFile& f) const;
    void PutPictureInfo(ProfileFile& f) const;
    void PutShowModeInfo(ProfileFile& f) const;
    void PutAlarmMail(ProfileFile& f) const;
    // Every setting this store holds (not the device list).
    void PutHeldSettings(ProfileFile& f) const;
    void CheckSettingsFile();
    void RejectSettingsFile(const char* message);

    int m_showMode = 0;
    std::uint16_t m_histYear = 0, m_histMonth = 0, m_histDay = 0, m_histHour = 0, m_histMinute = 0,
                  m_histSecond = 0;
    int m_pictureWidth = 300;
    int m_readPictureMode = 0;
    int m_viewMode = 0;
    std::unique_ptr<CSensorInfo> m_sensorInfo;
    CAlarmMailInfo m_alarmMail;
    IPv4Bytes m_localIp{127, 0, 0, 1};
    // Serialises read-modify-write cycles of the file.
    mutable std::mutex m_fileLock;
};

} // namespace hygro
