// The floor-plan picture and the map files, without drawing anything.
//
// Packed file ("demoFile.kvp", the working copy of the chosen picture):
//   u32 S (content size), u32 C (zlib stream size), C bytes zlib stream, zero padding to a
//   multiple of 4. Map file (".sdz"): u32 S1, u32 C1, block 1 (the settings file, zlib),
//   padding to A1; u32 S2, u32 C2, block 2 (the picture, zlib; S2 = 0: the built-in
//   picture, block 2 is the stream of empty input), padding. Integers little-endian.
//
// Every function reports a failure with the operator message of its step and changes
// nothing else; a truncated, oversized or hostile file is such a failure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hygro {

inline constexpr const char* kPackedPictureName = "demoFile.kvp";
// Nothing larger is ever unpacked (a picture or a settings file).
inline constexpr std::uint32_t kMaxUnpackedSize = 256u << 20;

std::uint32_t Mem4Align(std::uint32_t x);

// Packs source into target (replacing it). Empty on success, else the message.
std::string PmqFile(const std::filesystem::path& source, const std::filesystem::path& target);

struct UnpackResult {
    std::vector<unsigned char> bytes; // the content; empty with an empty error: S was 0
    std::string error;                // the message to show, empty when none
};
// Reads a packed file.
UnpackResult UnpackFile(const std::filesystem::path& packed);

// The name "Create" writes to: ".sdz" appended unless the name ends in "sdz" (any case).
std::filesystem::path MapFileTarget(const std::filesystem::path& chosen);
// Writes a map file of the settings file and the picture bytes (empty: built-in picture).
// Empty on success, else the message.
std::string CreateMapFile(const std::filesystem::path& settingsFile, std::span<const unsigned char> picture,
                          const std::filesystem::path& target);

struct HistorySensor {
    std::string name; // at most 99 bytes, never a split UTF-8 character
    double x = 0.0;
    double y = 0.0;
    int r = 0, g = 0, b = 0;
};

struct MapFileContent {
    bool hasSensorList = false; // "LSensor"/"Rcount" was present
    int mapWidth = 0;           // "Other"/"PWidth"
    int left = 0, top = 0, width = 0, height = 0; // "Pos" rectangle
    std::vector<HistorySensor> sensors;
    std::vector<unsigned char> picture; // empty: the built-in picture
};
// Reads a map file; nullopt with `error` set on failure.
std::optional<MapFileContent> ReadMapFile(const std::filesystem::path& mapFile, std::string& error);
// The sensor list part of a map file from the settings text (UTF-16 code units, a
// byte-order mark first); leaves `out` as it is when "Rcount" is missing.
void ParseSensorList(std::u16string_view settingsText, MapFileContent& out);

// Looks a value up in settings text held in memory (exact, case-sensitive scanning: the
// section's "[name]", then "key=" before the next "[", the value up to CR, "[" or the end).
bool GetValueFromIniBuf(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                        std::u16string& result);

} // namespace hygro
