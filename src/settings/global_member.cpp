#include "settings/global_member.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "settings/md5.h"
#include "settings/profile_file.h"
#include "util/file_opt.h"
#include "util/kx_log.h"
#include "util/message_box.h"
#include "util/text.h"

namespace hygro {
namespace {

constexpr char kBom[] = "\xFF\xFE";
constexpr unsigned kSettingsMode = 0600;

std::u16string Num(long long v) { return ToUtf16(std::to_string(v)); }

std::u16string PathText(const std::filesystem::path& p) { return ToUtf16(p.string()); }

const char16_t* ProtocolText(std::uint8_t proto) {
    return proto == kProtoUdp ? u"UDP" : proto == kProtoTcpServer ? u"TCP Server" : u"TCP Client";
}

std::u16string IpText(const IPv4Bytes& ip) {
    char text[20];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return ToUtf16(text);
}

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

} // namespace

std::filesystem::path CSaveWndPosBase::GetSettingsFolder() const { return m_settingsPath.parent_path(); }

CGlobalMember::CGlobalMember() : m_sensorInfo(std::make_unique<CSensorInfo>()) {}
CGlobalMember::~CGlobalMember() = default;

std::filesystem::path CGlobalMember::DefaultBaseFolder() {
    if (const char* h = std::getenv("HYGROLOG_HOME"); h && *h) return h;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return x;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share";
    return {};
}

int CGlobalMember::InitSettingsFile(std::filesystem::path base) {
    m_systemDrive = base.empty() ? DefaultBaseFolder() : std::move(base);
    m_appPath = ExecutableFolder();
    if (m_systemDrive.empty()) return 0;
    m_settingsPath = m_systemDrive / ToUtf8(m_companyWord) / ToUtf8(m_productWord) / ToUtf8(m_fileName);
    CheckAndCreateFolder(m_settingsPath.parent_path());
    if (!CKxFileOpt::IsFile_FileOpt(m_settingsPath)) WriteFileAtomically(m_settingsPath, {kBom, 2}, kSettingsMode);
    CheckSettingsFile();
    return 1;
}

void CGlobalMember::CheckSettingsFile() {
    std::string bytes;
    if (!ReadWholeFile(m_settingsPath, bytes)) bytes.clear();
    std::optional<ProfileFile> doc = ProfileFile::Parse(bytes);
    const std::u16string v = doc ? doc->GetString(u"md5", u"v", u"") : std::u16string();
    if (v.empty()) {
        if (bytes.size() > 2) RejectSettingsFile("File:settings.ini check with MD5 failed1!");
        return;
    }
    // The checksum covers the file without its own section; the file on disk is left as
    // it is, so a crash right after start still passes the next check.
    doc->DeleteSection(u"md5");
    if (ToUtf16(MD5::HexDigest(doc->Serialize())) != v)
        RejectSettingsFile("File:settings.ini check with MD5 failed2!");
}

void CGlobalMember::RejectSettingsFile(const char* message) {
    ShowMessage(std::string(message));
    // Keep the rejected file for the operator instead of destroying it.
    std::filesystem::path rejected = m_settingsPath;
    rejected += ".rejected";
    std::error_code ec;
    std::filesystem::rename(m_settingsPath, rejected, ec);
    if (ec) std::filesystem::remove(m_settingsPath, ec);
    WriteFileAtomically(m_settingsPath, {kBom, 2}, kSettingsMode);
}

ProfileFile CGlobalMember::LoadSettingsFile() const {
    std::string bytes;
    if (ReadWholeFile(m_settingsPath, bytes)) {
        if (auto doc = ProfileFile::Parse(bytes)) return std::move(*doc);
    }
    return {};
}

int CGlobalMember::EditSettingsFile(const std::function<void(ProfileFile&)>& edit) {
    if (m_settingsPath.empty()) return 0;
    std::lock_guard lock(m_fileLock);
    ProfileFile doc = LoadSettingsFile();
    if (!CKxFileOpt::IsFile_FileOpt(m_settingsPath)) {
        // Deleted while we run: a file holding only this edit would lose every other setting
        // at the next start, so it starts again from everything held here. The device list
        // is not held here; its own save (at the latest when the station closes) adds it.
        AddLogInfo("Settings file missing, written again from the settings in use!");
        PutHeldSettings(doc);
    }
    if (edit) edit(doc);
    doc.DeleteSection(u"md5");
    const std::string digest = MD5::HexDigest(doc.Serialize());
    doc.SetString(u"md5", u"v", ToUtf16(digest));
    return WriteFileAtomically(m_settingsPath, doc.Serialize(), kSettingsMode) ? 1 : 0;
}

int CGlobalMember::SaveMd5() {
    if (m_settingsPath.empty() || !CKxFileOpt::IsFile_FileOpt(m_settingsPath)) return 0;
    return EditSettingsFile({});
}

void CGlobalMember::ReadSettingsFile() {
    const ProfileFile doc = LoadSettingsFile();
    m_dataPath = ToUtf8(doc.GetString(u"Data", u"Path", u""));
    if (m_dataPath.empty()) m_dataPath = GetSettingsFolder();
    CheckAndCreateFolder(m_dataPath);
    ReadWndPos(doc);
    ReadOtherInfo(doc);
}

void CGlobalMember::ReadWndPos() { ReadWndPos(LoadSettingsFile()); }

void CGlobalMember::ReadWndPos(const ProfileFile& doc) {
    m_left = ProfileToInt(doc.GetString(u"Pos", u"left", u"0"));
    m_top = ProfileToInt(doc.GetString(u"Pos", u"top", u"0"));
    m_width = ProfileToInt(doc.GetString(u"Pos", u"width", u"0"));
    m_height = ProfileToInt(doc.GetString(u"Pos", u"height", u"0"));
}

void CGlobalMember::ReadOtherInfo() { ReadOtherInfo(LoadSettingsFile()); }

void CGlobalMember::ReadOtherInfo(const ProfileFile& doc) {
    m_pictureWidth = ProfileToInt(doc.GetString(u"Other", u"PWidth", u"300"));
    ReadPictureInfo(doc);
    ReadSensorListInfo(doc);
    if (m_pictureWidth == 0) m_pictureWidth = m_width / 3;
    ReadPortInfo(doc);
    ReadShowModeInfo(doc);
    LoadViewMode(doc);
    LoadAlarmMail(doc);
}

void CGlobalMember::ReadPictureInfo() { ReadPictureInfo(LoadSettingsFile()); }

void CGlobalMember::ReadPictureInfo(const ProfileFile& doc) {
    m_readPictureMode = ProfileToInt(doc.GetString(u"Picture", u"ReadPMode", u"0"));
    m_sensorInfo->SetPath(doc.GetString(u"Picture", u"path", u""));
    const auto demo = m_dataPath / "demoFile.kvp";
    if (!CKxFileOpt::IsFile_FileOpt(demo)) CKxFileOpt::CreateFile_FileOpt(demo);
    m_sensorInfo->SetPathHistory(doc.GetString(u"Picture", u"historypath", u""));
}

void CGlobalMember::ReadSensorListInfo() { ReadSensorListInfo(LoadSettingsFile()); }

void CGlobalMember::ReadSensorListInfo(const ProfileFile& doc) {
    m_sensorInfo->SetRealCount(ProfileToInt(doc.GetString(u"LSensor", u"Rcount", u"0")));
    m_sensorInfo->SetTotalCount(ProfileToInt(doc.GetString(u"LSensor", u"Tcount", u"0")));
}

void CGlobalMember::ReadPortInfo() { ReadPortInfo(LoadSettingsFile()); }

void CGlobalMember::ReadPortInfo(const ProfileFile& doc) {
    m_sensorInfo->SetTimeForNet(static_cast<std::uint32_t>(ProfileToInt(doc.GetString(u"DSNet", u"time", u"10"))));
    m_sensorInfo->SetDataPort(
        static_cast<std::uint16_t>(ProfileToInt(doc.GetString(u"DSNet", u"LocalPortForData", u"0"))));
    m_sensorInfo->SetCmdPort(
        static_cast<std::uint16_t>(ProfileToInt(doc.GetString(u"DSNet", u"LocalPortForCmd", u"0"))));
    const std::u16string proto = doc.GetString(u"DSNet", u"UDPorTCP", u"UDP");
    m_sensorInfo->SetUDPorTCP(proto == u"UDP" ? kProtoUdp : proto == u"TCP Server" ? kProtoTcpServer : kProtoTcpClient);

    char ip[20];
    FunCStringToSrcChar(ip, sizeof ip, doc.GetString(u"DSNet", u"LocalIP", u"127.0.0.1"));
    in_addr addr{};
    if (inet_pton(AF_INET, ip, &addr) == 1) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(&addr.s_addr);
        m_localIp = {b[0], b[1], b[2], b[3]};
    } else {
        m_localIp = {255, 255, 255, 255};
    }
}

void CGlobalMember::ReadShowModeInfo() { ReadShowModeInfo(LoadSettingsFile()); }

void CGlobalMember::ReadShowModeInfo(const ProfileFile& doc) {
    auto u16 = [&](const char16_t* key) {
        return static_cast<std::uint16_t>(ProfileToInt(doc.GetString(u"ShowMode", key, u"0")));
    };
    m_showMode = ProfileToInt(doc.GetString(u"ShowMode", u"mode", u"0"));
    m_histYear = u16(u"year");
    m_histMonth = u16(u"month");
    m_histDay = u16(u"day");
    m_histHour = u16(u"hour");
    m_histMinute = u16(u"minute");
    m_histSecond = u16(u"second");
    if (m_histYear == 0 || m_histMonth == 0 || m_histDay == 0) m_showMode = 0;
}

void CGlobalMember::LoadViewMode() { LoadViewMode(LoadSettingsFile()); }

void CGlobalMember::LoadViewMode(const ProfileFile& doc) {
    m_viewMode = doc.GetString(u"View", u"mode", u"map") == u"map" ? 0 : 1;
}

void CGlobalMember::LoadAlarmMail() { LoadAlarmMail(LoadSettingsFile()); }

void CGlobalMember::LoadAlarmMail(const ProfileFile& doc) {
    m_alarmMail.smtpServer = doc.GetString(u"AlarmMail", u"SmtpServer", u"");
    m_alarmMail.smtpPort =
        static_cast<std::uint16_t>(ProfileToInt(doc.GetString(u"AlarmMail", u"SmtpServerPort", u"")));
    m_alarmMail.mailTo = doc.GetString(u"AlarmMail", u"MailTo", u"");
    m_alarmMail.user = doc.GetString(u"AlarmMail", u"User", u"");
    m_alarmMail.password = doc.GetString(u"AlarmMail", u"Password", u"");
    m_alarmMail.time = ProfileToInt(doc.GetString(u"AlarmMail", u"Time", u"10"));
}

void CGlobalMember::SetShowModeInfo(int mode, std::uint16_t year, std::uint16_t month, std::uint16_t day,
                                    std::uint16_t hour, std::uint16_t minute, std::uint16_t second) {
    m_showMode = mode;
    m_histYear = year;
    m_histMonth = month;
    m_histDay = day;
    m_histHour = hour;
    m_histMinute = minute;
    m_histSecond = second;
}

void CGlobalMember::PutPortInfo(ProfileFile& f) const {
    const CSensorInfo& s = *m_sensorInfo;
    f.SetString(u"DSNet", u"time", Num(s.GetTimeForNet()));
    f.SetString(u"DSNet", u"LocalPortForData", Num(s.GetDataPort()));
    f.SetString(u"DSNet", u"LocalPortForCmd", Num(s.GetCmdPort()));
    f.SetString(u"DSNet", u"UDPorTCP", ProtocolText(s.GetUDPorTCP()));
    f.SetString(u"DSNet", u"LocalIP", IpText(m_localIp));
}

void CGlobalMember::PutPictureInfo(ProfileFile& f) const {
    f.SetString(u"Picture", u"ReadPMode", Num(m_readPictureMode));
    f.SetString(u"Picture", u"path", m_sensorInfo->GetPath());
    f.SetString(u"Picture", u"historypath", m_sensorInfo->GetPathHistory());
}

void CGlobalMember::PutShowModeInfo(ProfileFile& f) const {
    f.SetString(u"ShowMode", u"mode", Num(m_showMode));
    f.SetString(u"ShowMode", u"year", Num(m_histYear));
    f.SetString(u"ShowMode", u"month", Num(m_histMonth));
    f.SetString(u"ShowMode", u"day", Num(m_histDay));
    f.SetString(u"ShowMode", u"hour", Num(m_histHour));
    f.SetString(u"ShowMode", u"minute", Num(m_histMinute));
    f.SetString(u"ShowMode", u"second", Num(m_histSecond));
}

void CGlobalMember::PutAlarmMail(ProfileFile& f) const {
    f.SetString(u"AlarmMail", u"SmtpServer", m_alarmMail.smtpServer);
    f.SetString(u"AlarmMail", u"SmtpServerPort", Num(m_alarmMail.smtpPort));
    f.SetString(u"AlarmMail", u"MailTo", m_alarmMail.mailTo);
    f.SetString(u"AlarmMail", u"User", m_alarmMail.user);
    f.SetString(u"AlarmMail", u"Password", m_alarmMail.password);
    f.SetString(u"AlarmMail", u"Time", Num(m_alarmMail.time));
}

void CGlobalMember::PutHeldSettings(ProfileFile& f) const {
    f.SetString(u"Pos", u"left", Num(m_left));
    f.SetString(u"Pos", u"top", Num(m_top));
    f.SetString(u"Pos", u"width", Num(m_width));
    f.SetString(u"Pos", u"height", Num(m_height));
    f.SetString(u"Other", u"PWidth", Num(m_pictureWidth));
    PutPortInfo(f);
    PutPictureInfo(f);
    PutShowModeInfo(f);
    PutAlarmMail(f);
    f.SetString(u"View", u"mode", m_viewMode == 0 ? u"map" : u"table");
    f.SetString(u"Data", u"Path", PathText(m_dataPath));
}

void CGlobalMember::SaveOtherInfo() {
    EditSettingsFile([this](ProfileFile& f) {
        f.SetString(u"Other", u"PWidth", Num(m_pictureWidth));
        PutPortInfo(f);
        PutPictureInfo(f);
        PutShowModeInfo(f);
        PutAlarmMail(f);
    });
}

int CGlobalMember::SavePortInfo() {
    return EditSettingsFile([this](ProfileFile& f) { PutPortInfo(f); });
}

int CGlobalMember::SaveCmdInterval() {
    return EditSettingsFile(
        [this](ProfileFile& f) { f.SetString(u"DSNet", u"time", Num(m_sensorInfo->GetTimeForNet())); });
}

int CGlobalMember::SaveProtocol() {
    return EditSettingsFile(
        [this](ProfileFile& f) { f.SetString(u"DSNet", u"UDPorTCP", ProtocolText(m_sensorInfo->GetUDPorTCP())); });
}

int CGlobalMember::SaveLocalIP() {
    return EditSettingsFile([this](ProfileFile& f) { f.SetString(u"DSNet", u"LocalIP", IpText(m_localIp)); });
}

int CGlobalMember::SavePictureInfo() {
    return EditSettingsFile([this](ProfileFile& f) { PutPictureInfo(f); });
}

int CGlobalMember::SaveShowModeInfo() {
    return EditSettingsFile([this](ProfileFile& f) { PutShowModeInfo(f); });
}

int CGlobalMember::SaveAlarmMail() {
    return EditSettingsFile([this](ProfileFile& f) { PutAlarmMail(f); });
}

int CGlobalMember::SaveViewMode() {
    return EditSettingsFile(
        [this](ProfileFile& f) { f.SetString(u"View", u"mode", m_viewMode == 0 ? u"map" : u"table"); });
}

int CGlobalMember::SavePictureWidth() {
    return EditSettingsFile([this](ProfileFile& f) { f.SetString(u"Other", u"PWidth", Num(m_pictureWidth)); });
}

int CGlobalMember::SaveDataPath() {
    return EditSettingsFile([this](ProfileFile& f) { f.SetString(u"Data", u"Path", PathText(m_dataPath)); });
}

int CGlobalMember::SaveWmdPos(int left, int top, int width, int height) {
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    return EditSettingsFile([&](ProfileFile& f) {
        f.SetString(u"Pos", u"left", Num(left));
        f.SetString(u"Pos", u"top", Num(top));
        f.SetString(u"Pos", u"width", Num(width));
        f.SetString(u"Pos", u"height", Num(height));
    });
}

} // namespace hygro
