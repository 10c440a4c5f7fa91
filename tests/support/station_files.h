// Files a test lays out the way the station would have written them.
#pragma once

#include <cstdint>
#include <filesystem>

#include "settings/md5.h"
#include "settings/profile_file.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "util/local_time.h"
#include "util/text.h"

namespace hygro::test {

// doc sealed with the checksum the station's start-up check accepts.
inline std::string SealedSettingsBytes(const ProfileFile& doc) {
    ProfileFile sealed = doc;
    sealed.SetString(u"md5", u"v", ToUtf16(MD5::HexDigest(doc.Serialize())));
    return sealed.Serialize();
}

// Writes <base>/Veltrix/Hygrolog/Settings.ini from doc, sealed.
inline void WriteSealedSettings(const std::filesystem::path& base, const ProfileFile& doc) {
    const auto folder = base / "Veltrix" / "Hygrolog";
    std::filesystem::create_directories(folder);
    WriteFile(folder / "Settings.ini", SealedSettingsBytes(doc));
}

// One in-use sensor, "Cold room" in folder "cold", limits 60..95 % and 0..8 ℃.
inline ProfileFile ColdRoomSettings() {
    ProfileFile doc;
    doc.SetString(u"LSensor", u"Rcount", u"1");
    doc.SetString(u"LSensor", u"Tcount", u"1");
    doc.SetString(u"1", u"name", u"Cold room");
    doc.SetString(u"1", u"FolderName", u"cold");
    doc.SetString(u"1", u"HMax", u"95.0");
    doc.SetString(u"1", u"HMin", u"60.0");
    doc.SetString(u"1", u"TMax", u"8.0");
    doc.SetString(u"1", u"TMin", u"0.0");
    return doc;
}

} // namespace hygro::test
