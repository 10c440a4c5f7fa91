// How adding, deleting and editing sensors move rows between the two runs of the device
// tables: in-use sensors first, ordered by their number (Table "No."), then the found
// sensors, ordered by serial. Every function expects the caller to hold the database lock.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "util/ipv4.h"

namespace hygro {

class CAppForNimbo1App;
class CRow_DB_WiFiSensor;
class CWiFiSensorDatabase;

// Numbers offered for `count` sensors about to be added: the gaps below the largest
// in-use number, then the numbers after it (at least one).
std::vector<int> GetANotUsingNo(CWiFiSensorDatabase& db, int count);
// Where an in-use sensor with this number goes: before the first with a number >= it.
int GetAddDevIndex(CWiFiSensorDatabase& db, int number);

// What the operator gave a sensor while placing it.
struct PlacedSensorValues {
    std::string name;   // UTF-8, at most 99 bytes stored
    std::string folder; // UTF-8, at most 99 bytes stored
    double hMax = 90.0, hMin = 30.0, tMax = 70.0, tMin = 15.0;
    int r = 0, g = 0, b = 255;
    int number = 1;
    double x = 0.0, y = 0.0; // fractions of the map
};

// Found sensors taken out of the tables while the operator places them on the map. They
// are in no table and not in the total count until they are inserted again.
class PendingSensors {
  public:
    PendingSensors();
    ~PendingSensors();
    PendingSensors(const PendingSensors&) = delete;
    PendingSensors& operator=(const PendingSensors&) = delete;

    // Detaches the found sensors among `chosen` (sorted, duplicates and in-use or unknown
    // indices dropped); returns how many were taken.
    int Take(CWiFiSensorDatabase& db, std::vector<int> chosen);
    int Count() const { return static_cast<int>(m_sensors.size()); }
    bool Empty() const { return m_sensors.empty(); }
    IPv4Bytes Address(int p) const;
    int Serial(int p) const;
    std::string Name(int p) const;

    // Pending sensor p becomes in-use with these values at GetAddDevIndex(number); returns
    // that index, -1 for an unknown position.
    int Place(CWiFiSensorDatabase& db, int p, const PlacedSensorValues& values);
    // Every pending sensor goes back into the found run in serial order.
    void ReturnAll(CAppForNimbo1App& app);

  private:
    // Dev, Pic, Lumo, Net, Table, Tree.
    using Rows = std::array<std::unique_ptr<CRow_DB_WiFiSensor>, 6>;
    std::vector<Rows> m_sensors;
};

// In-use sensor i becomes a found sensor at its serial's place; it keeps its values and
// connection. Views must be updated by the caller before (they read row i). Returns the
// new index, -1 when i is not in use.
int DeleteDevice(CAppForNimbo1App& app, int i);

// Found sensor i leaves the database: stop command, its TCP connection closed, rows gone.
void DeleteFoundSensor(CAppForNimbo1App& app, int index);

// The sensor's history moves from dataPath/oldFolder to dataPath/newFolder (created even
// when there was no old folder). The old folder goes only once everything is in the new
// one. false (with a log line) when the history could not be moved completely.
bool MoveSensorFolder(const std::filesystem::path& dataPath, const std::string& oldFolder,
                      const std::string& newFolder);

} // namespace hygro
