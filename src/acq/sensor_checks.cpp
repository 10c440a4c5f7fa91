#include "acq/sensor_checks.h"

#include "util/text.h"

#include <charconv>
#include <system_error>

namespace hygro {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderRefused = "Can't use this folder!";

// Anything already at dataPath/folder counts, a file or a dangling link too: the folder
// could not be made there. A path whose state cannot be read counts as taken as well.
bool PathTaken(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    return st.type() != fs::file_type::not_found;
}

// The folder as typed and as the main window will keep it.
bool FolderTaken(const fs::path& dataPath, const std::string& folder, std::size_t keptBytes) {
    if (PathTaken(dataPath / folder)) return true;
    const std::string kept = TruncateUtf8(folder, keptBytes);
    return kept != folder && PathTaken(dataPath / kept);
}

bool SameKept(const std::string& typed, const std::string& stored, std::size_t keptBytes) {
    return typed == stored || TruncateUtf8(typed, keptBytes) == stored;
}

bool ValidUtf8(const std::string& text) {
    return ToUtf8(ToUtf16(text)) == text;
}

} // namespace

bool IsFolderComponent(std::string_view folder) {
    if (folder.empty() || folder == "." || folder == "..") return false;
    return folder.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::vector<std::string> OldDataFolders(const fs::path& dataPath, std::span<const InUseSensor> inUse) {
    std::vector<std::string> out;
    std::error_code ec;
    fs::directory_iterator it(dataPath, ec);
    if (ec) return out;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeEc;
        if (!fs::is_directory(it->symlink_status(typeEc)) || typeEc) continue;
        std::string name = it->path().filename().string();
        if (name == "Log" || !IsFolderComponent(name) || !ValidUtf8(name)) continue;
        bool used = false;
        for (const InUseSensor& s : inUse)
            used = used || s.folder == name;
        if (!used) out.push_back(std::move(name));
    }
    return out;
}

SensorNoCheck CheckSensorNo(std::string_view text, std::span<const InUseSensor> inUse) {
    constexpr const char* kValueError = "No. value error!";
    for (const char c : text)
        if (c < '0' || c > '9') return {kValueError, 0};
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value <= 0)
        return {kValueError, 0};
    for (const InUseSensor& s : inUse)
        if (s.number == value) return {"No. already used!", 0};
    return {nullptr, value};
}

AddSensorCheck CheckAddSensor(const AddSensorInput& in, const fs::path& dataPath,
                              std::span<const InUseSensor> inUse) {
    AddSensorCheck r;
    auto fail = [&r](const char* message) {
        r.error = message;
        return r;
    };
    if (in.name.empty()) return fail("Please set name");
    for (const InUseSensor& s : inUse)
        if (SameKept(in.name, s.name, kSensorNameBytes)) return fail("Name is used!");
    if (in.name.find('!') != std::string::npos) return fail("Name Error!Cannot contain '!'");

    if (in.folderKind == 0) {
        r.folder = in.newFolder;
        if (!IsFolderComponent(r.folder) || FolderTaken(dataPath, r.folder, kSensorNameBytes))
            return fail(kFolderRefused);
    } else {
        r.folder = in.oldFolder;
        if (!IsFolderComponent(r.folder)) return fail(kFolderRefused);
    }

    r.limits = {ReadLimitText(in.hMax), ReadLimitText(in.hMin), ReadLimitText(in.tMax),
                ReadLimitText(in.tMin)};
    if (in.colour == kWhiteRgb) return fail("Please set other color!");

    const SensorNoCheck no = CheckSensorNo(in.numberText, inUse);
    if (no.error) return fail(no.error);
    r.number = no.number;

    if (!in.ipSelected) return fail("Please select IP!");
    if (const char* e = LimitError(r.limits)) return fail(e);
    return r;
}

EditSensorCheck CheckEditSensor(const EditSensorInput& in, const fs::path& dataPath,
                                std::span<const InUseSensor> inUse, const UpperCase& upper) {
    EditSensorCheck r;
    auto fail = [&r](const char* message) {
        r.error = message;
        return r;
    };
    constexpr const char* kMax = "Please set sensor's max value!";
    constexpr const char* kMin = "Please set sensor's min value!";
    if (in.name.empty()) return fail("Please set sensor's name!");
    if (in.colour == kWhiteRgb) return fail("Please set other color!");
    if (in.hMax.empty()) return fail(kMax);
    if (in.hMin.empty()) return fail(kMin);
    if (in.tMax.empty()) return fail(kMax);
    if (in.tMin.empty()) return fail(kMin);
    r.limits = {ReadLimitText(in.hMax), ReadLimitText(in.hMin), ReadLimitText(in.tMax),
                ReadLimitText(in.tMin)};

    if (in.folder.empty()) return fail("Please set folder!");
    r.folder = in.folder;
    if (in.folder != in.currentFolder) {
        r.folder = upper ? upper(in.folder) : in.folder;
        if (!IsFolderComponent(r.folder) || r.folder == "LOG") return fail(kFolderRefused);
        for (const InUseSensor& s : inUse)
            if (s.number != in.number && SameKept(r.folder, s.folder, kEditFolderBytes))
                return fail(kFolderRefused);
        if (FolderTaken(dataPath, r.folder, kEditFolderBytes)) return fail(kFolderRefused);
    }
    if (const char* e = LimitError(r.limits)) return fail(e);
    return r;
}

} // namespace hygro
