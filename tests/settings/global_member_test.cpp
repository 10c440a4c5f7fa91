#include "settings/global_member.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "settings_fixture.h"

namespace hygro {
namespace {

using test::ReadFile;
using test::SettingsFixture;

using Settings = SettingsFixture;

TEST_F(Settings, FirstStartCreatesAnEmptyFileAndUsesDefaults) {
    auto s = Start();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(ReadFile(SettingsPath()), "\xFF\xFE");
    struct stat st {};
    ASSERT_EQ(::stat(SettingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(s->GetDataPath(), Folder());
    EXPECT_TRUE(std::filesystem::exists(Folder() / "demoFile.kvp"));
    EXPECT_EQ(std::filesystem::file_size(Folder() / "demoFile.kvp"), 0u);

    const CSensorInfo& b = *s->GetBaseInfo();
    EXPECT_EQ(b.GetTimeForNet(), 10u);
    EXPECT_EQ(b.GetDataPort(), 0);
    EXPECT_EQ(b.GetCmdPort(), 0);
    EXPECT_EQ(b.GetUDPorTCP(), kProtoUdp);
    EXPECT_EQ(b.GetTotalCount(), 0);
    EXPECT_EQ(s->GetViewMode(), 0);
    EXPECT_EQ(s->GetPictureWidth(), 300);
    EXPECT_EQ(s->GetAlarmMailInfo().time, 10);
    EXPECT_EQ(s->GetLocalIp(), (IPv4Bytes{127, 0, 0, 1}));
    EXPECT_EQ(s->GetShowMode(), 0);
}

TEST_F(Settings, ReadRulesForStoredTexts) {
    struct Case {
        const char* name;
        std::vector<std::array<const char16_t*, 3>> keys;
        std::function<void(CGlobalMember&)> expect;
    };
    const Case cases[] = {
        {"protocol names are case-sensitive",
         {{u"DSNet", u"UDPorTCP", u"tcp server"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetBaseInfo()->GetUDPorTCP(), 2); }},
        {"TCP Server", {{u"DSNet", u"UDPorTCP", u"TCP Server"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetBaseInfo()->GetUDPorTCP(), 1); }},
        {"view mode table", {{u"View", u"mode", u"table"}}, [](CGlobalMember& s) { EXPECT_EQ(s.GetViewMode(), 1); }},
        {"view mode Map is not map", {{u"view", u"MODE", u"Map"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetViewMode(), 1); }},
        {"view mode map", {{u"View", u"mode", u"map"}}, [](CGlobalMember& s) { EXPECT_EQ(s.GetViewMode(), 0); }},
        {"history start without a day means real time",
         {{u"ShowMode", u"mode", u"1"}, {u"ShowMode", u"year", u"2019"}, {u"ShowMode", u"month", u"3"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetShowMode(), 0); }},
        {"history start kept",
         {{u"ShowMode", u"mode", u"3"},
          {u"ShowMode", u"year", u"2019"},
          {u"ShowMode", u"month", u"3"},
          {u"ShowMode", u"day", u"15"}},
         [](CGlobalMember& s) {
             EXPECT_EQ(s.GetShowMode(), 3);
             EXPECT_EQ(s.GetShowModeHistoryDay(), 15);
         }},
        {"picture width 0 is a third of the window",
         {{u"Other", u"PWidth", u"0"}, {u"Pos", u"width", u"1200"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetPictureWidth(), 400); }},
        {"station address", {{u"DSNet", u"LocalIP", u" 198.18.0.1 "}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetLocalIp(), (IPv4Bytes{198, 18, 0, 1})); }},
        {"unparsable station address", {{u"DSNet", u"LocalIP", u"not an address at all"}},
         [](CGlobalMember& s) { EXPECT_EQ(s.GetLocalIp(), (IPv4Bytes{255, 255, 255, 255})); }},
        {"ports wrap to 16 bits and numbers stop at the first other character",
         {{u"DSNet", u"LocalPortForData", u"70000"}, {u"DSNet", u"LocalPortForCmd", u"5000abc"},
          {u"DSNet", u"time", u"  +30s"}},
         [](CGlobalMember& s) {
             EXPECT_EQ(s.GetBaseInfo()->GetDataPort(), 4464);
             EXPECT_EQ(s.GetBaseInfo()->GetCmdPort(), 5000);
             EXPECT_EQ(s.GetBaseInfo()->GetTimeForNet(), 30u);
         }},
        {"empty mail port is 0", {{u"AlarmMail", u"SmtpServerPort", u""}, {u"AlarmMail", u"Time", u"5"}},
         [](CGlobalMember& s) {
             EXPECT_EQ(s.GetAlarmMailInfo().smtpPort, 0);
             EXPECT_EQ(s.GetAlarmMailInfo().time, 5);
         }},
        {"data path from the file", {{u"Data", u"Path", u"DATA_PLACEHOLDER"}},
         [this](CGlobalMember& s) {
             EXPECT_EQ(s.GetDataPath(), m_dir.path() / "elsewhere");
             EXPECT_TRUE(std::filesystem::is_directory(m_dir.path() / "elsewhere"));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileFile doc;
        for (const auto& k : c.keys) {
            std::u16string value = k[2];
            if (value == u"DATA_PLACEHOLDER") value = ToUtf16((m_dir.path() / "elsewhere").string());
            doc.SetString(k[0], k[1], value);
        }
        WriteSealed(doc);
        auto s = Start();
        EXPECT_TRUE(m_messages.empty());
        c.expect(*s);
    }
}

TEST_F(Settings, ChecksumCheckAtStart) {
    ProfileFile content;
    content.SetString(u"LSensor", u"Tcount", u"1");
    ProfileFile wrongSum = content;
    wrongSum.SetString(u"md5", u"v", u"00000000000000000000000000000000");
    std::string truncated = [&] {
        ProfileFile sealed = content;
        sealed.SetString(u"md5", u"v", ToUtf16(MD5::HexDigest(content.Serialize())));
        std::string b = sealed.Serialize();
        return b.substr(0, b.size() - 3);
    }();

    struct Case {
        const char* name;
        std::string bytes;
        const char* message; // nullptr: passes
    } cases[] = {
        {"byte-order mark only", "\xFF\xFE", nullptr},
        {"zero bytes", "", nullptr},
        {"content without checksum", content.Serialize(), "File:settings.ini check with MD5 failed1!"},
        {"wrong checksum", wrongSum.Serialize(), "File:settings.ini check with MD5 failed2!"},
        {"truncated", truncated, "File:settings.ini check with MD5 failed1!"},
        {"not UTF-16", "[md5]\r\nv=0123\r\n", "File:settings.ini check with MD5 failed1!"},
        {"garbage", std::string("\xFF\xFE\x00\xD8\x41\x00\x5B\x00\x0A", 9), "File:settings.ini check with MD5 failed1!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_messages.clear();
        std::filesystem::remove(SettingsPath().string() + ".rejected");
        WriteRaw(c.bytes);
        auto s = Start();
        if (c.message == nullptr) {
            EXPECT_TRUE(m_messages.empty());
            EXPECT_EQ(ReadFile(SettingsPath()), c.bytes);
        } else {
            EXPECT_EQ(m_messages, std::vector<std::string>{c.message});
            EXPECT_EQ(ReadFile(SettingsPath()), "\xFF\xFE");
            EXPECT_EQ(ReadFile(SettingsPath().string() + ".rejected"), c.bytes);
            EXPECT_EQ(s->GetBaseInfo()->GetTotalCount(), 0);
        }
    }
}

TEST_F(Settings, AValidFileIsLeftIntactByTheCheck) {
    ProfileFile doc;
    doc.SetString(u"LSensor", u"Tcount", u"3");
    WriteSealed(doc);
    const std::string before = ReadFile(SettingsPath());
    auto s = Start();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(s->GetBaseInfo()->GetTotalCount(), 3);
    // A station killed right now must pass the next check too.
    EXPECT_EQ(ReadFile(SettingsPath()), before);
    Start();
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(Settings, EveryWriteLeavesAFileThatPassesTheNextCheck) {
    auto s = Start();
    const std::function<int(CGlobalMember&)> writes[] = {
        [](CGlobalMember& g) { g.SetViewMode(1); return g.SaveViewMode(); },
        [](CGlobalMember& g) { g.GetBaseInfo()->SetTimeForNet(60); return g.SaveCmdInterval(); },
        [](CGlobalMember& g) { return g.SaveWmdPos(10, 20, 1200, 800); },
        [](CGlobalMember& g) { g.SetPictureWidth(350); return g.SavePictureWidth(); },
        [](CGlobalMember& g) { g.GetAlarmMailInfo().password = u"p^w=rd"; return g.SaveAlarmMail(); },
    };
    for (const auto& write : writes) {
        ASSERT_EQ(write(*s), 1);
        // No explicit checksum save: the process "dies" here.
        Start();
        EXPECT_TRUE(m_messages.empty());
    }
}

TEST_F(Settings, SavedGroupsReadBackUnchanged) {
    {
        auto s = Start();
        CSensorInfo& b = *s->GetBaseInfo();
        b.SetTimeForNet(15);
        b.SetDataPort(5000);
        b.SetCmdPort(5001);
        b.SetUDPorTCP(kProtoTcpClient);
        s->SetLocalIp({198, 18, 0, 1});
        s->SetPicturePath(u"/maps/floor ℃.png");
        s->SetPicturePathHistory(u"/maps/old.bmp");
        s->SetReadPictureMode(1);
        s->SetPictureWidth(420);
        s->SetShowModeInfo(2, 2024, 2, 29, 23, 59, 58);
        CAlarmMailInfo& m = s->GetAlarmMailInfo();
        m.smtpServer = u"mail.example.org";
        m.smtpPort = 587;
        m.mailTo = u"a@example.org;b@example.org";
        m.user = u"station";
        m.password = u"secret";
        m.time = 30;
        s->SaveOtherInfo();
        s->SaveWmdPos(-5, 7, 1300, 900);
        s->SetViewMode(1);
        s->SaveViewMode();
        s->SetDataPath(m_dir.path() / "data");
        s->SaveDataPath();
    }
    auto s = Start();
    EXPECT_TRUE(m_messages.empty());
    const CSensorInfo& b = *s->GetBaseInfo();
    EXPECT_EQ(b.GetTimeForNet(), 15u);
    EXPECT_EQ(b.GetDataPort(), 5000);
    EXPECT_EQ(b.GetCmdPort(), 5001);
    EXPECT_EQ(b.GetUDPorTCP(), kProtoTcpClient);
    EXPECT_EQ(s->GetLocalIp(), (IPv4Bytes{198, 18, 0, 1}));
    EXPECT_EQ(s->GetPicturePath(), u"/maps/floor ℃.png");
    EXPECT_EQ(s->GetPicturePathHistory(), u"/maps/old.bmp");
    EXPECT_EQ(s->GetReadPictureMode(), 1);
    EXPECT_EQ(s->GetPictureWidth(), 420);
    EXPECT_EQ(s->GetShowMode(), 2);
    EXPECT_EQ(s->GetShowModeHistoryYear(), 2024);
    EXPECT_EQ(s->GetShowModeHistorySecond(), 58);
    EXPECT_EQ(s->GetAlarmMailInfo().smtpServer, u"mail.example.org");
    EXPECT_EQ(s->GetAlarmMailInfo().smtpPort, 587);
    EXPECT_EQ(s->GetAlarmMailInfo().mailTo, u"a@example.org;b@example.org");
    EXPECT_EQ(s->GetAlarmMailInfo().password, u"secret");
    EXPECT_EQ(s->GetAlarmMailInfo().time, 30);
    EXPECT_EQ(s->GetLeft(), -5);
    EXPECT_EQ(s->GetHeight(), 900);
    EXPECT_EQ(s->GetViewMode(), 1);
    EXPECT_EQ(s->GetDataPath(), m_dir.path() / "data");
    EXPECT_TRUE(std::filesystem::exists(m_dir.path() / "data" / "demoFile.kvp"));

    const std::string text = ToUtf8(ProfileFile::Parse(ReadFile(SettingsPath()))->GetString(u"DSNet", u"UDPorTCP", u""));
    EXPECT_EQ(text, "TCP Client");
}

TEST_F(Settings, WritesFailQuietlyWhenTheFolderIsGone) {
    auto s = Start();
    std::filesystem::remove_all(Folder());
    EXPECT_EQ(s->SaveViewMode(), 0);
    EXPECT_EQ(s->SaveMd5(), 0);
    EXPECT_FALSE(std::filesystem::exists(SettingsPath()));
}

TEST_F(Settings, NoBaseFolderMeansNoSettings) {
    CGlobalMember s;
    // An explicit empty base falls back to the environment, so clear it for this check.
    const char* keep[] = {"HYGROLOG_HOME", "XDG_DATA_HOME", "HOME"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* k : keep) {
        if (const char* v = std::getenv(k)) saved.emplace_back(k, v);
        ::unsetenv(k);
    }
    EXPECT_EQ(s.InitSettingsFile(), 0);
    EXPECT_TRUE(s.GetSettingsPath().empty());
    for (const auto& [k, v] : saved) ::setenv(k.c_str(), v.c_str(), 1);
}

} // namespace
} // namespace hygro
