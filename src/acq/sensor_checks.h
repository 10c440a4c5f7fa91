// What the "Append Sensor Info" and "Edit" dialogs accept, without Qt: the checks run in
// a fixed order and the first failure gives the operator's message.
#pragma once

#include "acq/sensor_alarms.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hygro {

// An in-use sensor as the checks see it. Texts are UTF-8, as the Dev table keeps them.
struct InUseSensor {
    std::string name;
    std::string folder;
    int number = 0; // Table "No."
};

// Bytes the main window keeps of a name or an added sensor's folder, and of a folder
// given in "Edit". Checks look at the kept form as well, so a long text cannot slip
// onto a name or folder that is already taken.
inline constexpr std::size_t kSensorNameBytes = 99;
inline constexpr std::size_t kEditFolderBytes = 254;

// RGB value, red in the lowest byte.
constexpr std::uint32_t RgbValue(int r, int g, int b) {
    return static_cast<std::uint32_t>(r & 0xFF) | static_cast<std::uint32_t>(g & 0xFF) << 8 |
           static_cast<std::uint32_t>(b & 0xFF) << 16;
}
inline constexpr std::uint32_t kWhiteRgb = RgbValue(255, 255, 255);

// A folder name is one path component under the data path: not empty, not "." or "..",
// and free of '/', '\\' and NUL.
bool IsFolderComponent(std::string_view folder);

// Sub-folders of dataPath that may hold an earlier sensor's data, in the order the file
// system lists them: not "Log", not any in-use sensor's folder (exact comparison), and
// only real folders (a symbolic link is left out, so data never goes outside the data
// path). Names that are not usable folder names are left out too. An unreadable data
// path gives an empty list.
std::vector<std::string> OldDataFolders(const std::filesystem::path& dataPath,
                                        std::span<const InUseSensor> inUse);

// The typed number: digits only and above 0, and not an in-use sensor's number.
struct SensorNoCheck {
    const char* error = nullptr; // "No. value error!" or "No. already used!"
    int number = 0;
};
SensorNoCheck CheckSensorNo(std::string_view text, std::span<const InUseSensor> inUse);

// "Append Sensor Info" as the operator left it.
struct AddSensorInput {
    std::string name;
    int folderKind = 0;    // 0: a new folder (newFolder), 1: an old one (oldFolder)
    std::string newFolder; // the new-folder edit
    std::string oldFolder; // the old-folder list's choice
    std::string hMax, hMin, tMax, tMin;
    std::uint32_t colour = RgbValue(0, 0, 255);
    std::string numberText;
    bool ipSelected = false;
};

struct AddSensorCheck {
    const char* error = nullptr; // null: accepted
    std::string folder;
    SensorLimits limits;
    int number = 0;
};

// The checks in order: name empty, name in use, '!' in the name, folder, colour white,
// number, no IP chosen; then the limits' ranges.
AddSensorCheck CheckAddSensor(const AddSensorInput& in, const std::filesystem::path& dataPath,
                              std::span<const InUseSensor> inUse);

// "Edit" as the operator left it.
struct EditSensorInput {
    std::string name;
    std::uint32_t colour = 0;
    std::string hMax, hMin, tMax, tMin;
    std::string folder;        // as typed
    std::string currentFolder; // the sensor's folder before the edit
    int number = 0;            // the edited sensor's number
};

struct EditSensorCheck {
    const char* error = nullptr; // null: accepted
    std::string folder;          // the accepted folder: upper case when it changed
    SensorLimits limits;
};

// Upper-cases a UTF-8 folder name (the dialog passes Unicode rules).
using UpperCase = std::function<std::string(const std::string&)>;

// The checks in order: name empty, colour white, empty limit texts, folder empty, and a
// changed folder (upper-cased) that is not a folder name, is "LOG", is another sensor's
// folder or already exists under dataPath; then the limits' ranges. An unchanged folder
// is taken as it is.
EditSensorCheck CheckEditSensor(const EditSensorInput& in, const std::filesystem::path& dataPath,
                                std::span<const InUseSensor> inUse, const UpperCase& upper);

} // namespace hygro
