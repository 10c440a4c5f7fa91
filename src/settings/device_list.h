// The list of known sensors in the settings file: one section per sensor ("1", "2", ...)
// and the two counts in "LSensor", loaded into and saved from the device tables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hygro {

class CWiFiSensorDatabase;
class CGlobalMember;

struct RemoteAddress {
    std::int32_t ip = 0; // a.b.c.d packed with a in the lowest-order byte
    int port = 0;
};

// "a.b.c.d:port"; a malformed text gives 0.0.0.0:0. Octets wrap modulo 256, the port
// modulo 65536.
RemoteAddress ParseDeviceIPandPort(std::string_view text);

class CDeviceList {
  public:
    // Asked for an in-use sensor without a folder before saving (opens the sensor dialog).
    using FolderCheck = std::function<void(int index)>;
    // Whether a socket endpoint is registered under a name (temporary names must be free).
    using NameTaken = std::function<bool(const std::string& name)>;

    // A hand-edited file can claim absurd counts; more rows than this are never loaded.
    static constexpr int kMaxDevices = 10000;
    // Readings carry a two-digit sensor number: no more in-use sensors than that.
    static constexpr int kMaxInUse = 99;

    CDeviceList(CWiFiSensorDatabase& db, CGlobalMember& settings) : m_db(db), m_settings(settings) {}

    // Loads the whole list into the tables and sets both counts; returns 0.
    int AddValueToDB();
    // Writes every device section and the counts (with a renewed checksum). folderCheck
    // is set only while the main window exists.
    int SaveAllDev(const FolderCheck& folderCheck = {});
    int GetNewDevIndex(int serial) const;
    // Inserts a found sensor into all six tables; returns its index. Counts are unchanged.
    int AddDev(std::uint32_t packedIp, int serial, const NameTaken& nameTaken = {});

  private:
    CWiFiSensorDatabase& m_db;
    CGlobalMember& m_settings;
    int m_tempNameCounter = 0;
};

} // namespace hygro
