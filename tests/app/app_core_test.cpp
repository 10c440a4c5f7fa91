#include "app/app_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "settings/profile_file.h"
#include "support/temp_dir.h"
#include "util/kx_log.h"
#include "util/message_box.h"
#include "util/text.h"

namespace hygro {
namespace {

using test::ReadFile;
using test::TempDir;

std::string LogText(const std::filesystem::path& folder) {
    std::string all;
    if (!std::filesystem::exists(folder)) return all;
    for (const auto& e : std::filesystem::directory_iterator(folder)) all += ReadFile(e.path());
    return all;
}

class AppLifecycle : public ::testing::Test {
  protected:
    AppLifecycle() {
        m_previous = SetMessageHandler([this](const std::u16string& t, MsgButtons) {
            m_messages.push_back(ToUtf8(t));
            return MsgAnswer::Ok;
        });
    }
    ~AppLifecycle() override { SetMessageHandler(m_previous); }
    std::filesystem::path Folder() const { return m_dir.path() / "Veltrix" / "Hygrolog"; }

    TempDir m_dir;
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
};

TEST_F(AppLifecycle, FirstStartAndStop) {
    {
        CAppForNimbo1App app;
        ASSERT_EQ(app.InitGlobalValue(m_dir.path()), 1);
        app.StartUp();
        EXPECT_EQ(app.Database().m_totalCount, 0);
        EXPECT_EQ(app.IsAcceptAll(), 1);
        app.ShutDown();
    }
    EXPECT_TRUE(m_messages.empty());
    const std::string log = LogText(Folder() / "Log");
    EXPECT_THAT(log, ::testing::ContainsRegex("^[0-9_-]{23} App start!\r\n"));
    EXPECT_THAT(log, ::testing::HasSubstr(" Tree Init Success!\r\n"));
    EXPECT_THAT(log, ::testing::EndsWith(" App end!\r\n"));

    // The device list and then the checksum were written: the next start passes.
    const auto doc = ProfileFile::Parse(ReadFile(Folder() / "Settings.ini"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->GetString(u"LSensor", u"Tcount", u""), u"0");
    EXPECT_EQ(doc->SectionNames().back(), u"md5");
    CAppForNimbo1App again;
    ASSERT_EQ(again.InitGlobalValue(m_dir.path()), 1);
    EXPECT_TRUE(m_messages.empty());
    again.ShutDown();
}

TEST_F(AppLifecycle, ExitAfterHistoryWasClearedWritesNothingBack) {
    CAppForNimbo1App app;
    ASSERT_EQ(app.InitGlobalValue(m_dir.path()), 1);
    app.StartUp();
    // What "Clear History Data" does before it ends the main window.
    std::filesystem::remove_all(Folder());
    app.SetSkipSave(1);
    app.ShutDown();
    EXPECT_FALSE(std::filesystem::exists(Folder() / "Settings.ini"));
    EXPECT_FALSE(std::filesystem::exists(Folder() / "Log")); // "App end!" is lost, not re-created
}

TEST_F(AppLifecycle, AcceptAllIsOnlySwitchedInTcpModes) {
    CAppForNimbo1App app;
    ASSERT_EQ(app.InitGlobalValue(m_dir.path()), 1);
    app.StartUp();
    app.NotAcceptAll();
    EXPECT_EQ(app.IsAcceptAll(), 1); // UDP: unchanged
    app.Settings().GetBaseInfo()->SetUDPorTCP(kProtoTcpServer);
    app.NotAcceptAll();
    EXPECT_EQ(app.IsAcceptAll(), 0);
    app.AcceptAll();
    EXPECT_EQ(app.IsAcceptAll(), 1);
    app.ShutDown();
}

TEST_F(AppLifecycle, FailedChecksumSaveIsLogged) {
    std::vector<std::string> lines;
    g_Log.SetTap([&](const std::string& t) { lines.push_back(t); });
    CAppForNimbo1App app;
    ASSERT_EQ(app.InitGlobalValue(m_dir.path()), 1);
    std::filesystem::remove(Folder() / "Settings.ini");
    EXPECT_EQ(app.SaveMd5(), 0);
    g_Log.SetTap({});
    EXPECT_THAT(lines, ::testing::Contains("Save md5 failed!\r\n"));
    app.ShutDown();
}

} // namespace
} // namespace hygro
