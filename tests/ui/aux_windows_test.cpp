#include "ui/aux_windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "app/app_core.h"
#include "support/temp_dir.h"
#include "util/message_box.h"

namespace hygro::ui {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(AboutDialog, ShowsNameVersionLicenceAndPurpose) {
    AboutDialog about;
    QString all;
    for (const QLabel* label : about.findChildren<QLabel*>()) all += label->text() + '\n';

    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Hygrolog"));
    EXPECT_TRUE(all.contains(QStringLiteral("Hygrolog\n")));
    EXPECT_THAT(HygrologVersion().toStdString(), ::testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+.*"));
    EXPECT_TRUE(all.contains(QStringLiteral("Version ") + HygrologVersion() + '\n')) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("GNU General Public License v3.0 or later")));
    EXPECT_TRUE(all.contains(QStringLiteral("temperature and humidity sensors")));
    EXPECT_EQ(about.findChildren<QPushButton*>().size(), 1);
}

// Counts a timer's ticks before the timer's own receivers see them.
class TickCounter : public QObject {
  public:
    int ticks = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Timer) ++ticks;
        return false;
    }
};

TEST(ProgressWindow, StepsOncePerTickAndClosesItselfOnTheSixth) {
    constexpr int kTickMs = 40;
    ProgressWindow window(nullptr, std::chrono::milliseconds(kTickMs));
    auto* bar = window.findChild<QProgressBar*>();
    auto* timer = window.findChild<QTimer*>();
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 6);
    EXPECT_EQ(window.Position(), 0);
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.findChildren<QPushButton*>().isEmpty());

    QElapsedTimer clock;
    std::vector<std::pair<int, qint64>> steps;
    TickCounter counter;
    timer->installEventFilter(&counter);
    std::optional<int> ticksAtClose;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { steps.emplace_back(v, clock.elapsed()); });
    QObject::connect(&window, &QDialog::finished, [&] { ticksAtClose = counter.ticks; });
    clock.start();
    const int result = window.exec();

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(ticksAtClose, 6);
    ASSERT_EQ(steps.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(steps[i].first, i + 1);
        // One step per tick, never ahead of the clock (small slack for timer rounding).
        EXPECT_GE(steps[i].second, (i + 1) * kTickMs - 5) << "step " << i + 1;
    }
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(timer->isActive());
}

TEST(ProgressWindow, EnterAndEscapeEndItEarly) {
    const struct {
        Qt::Key key;
        int result;
    } cases[] = {{Qt::Key_Return, QDialog::Accepted}, {Qt::Key_Enter, QDialog::Accepted}, {Qt::Key_Escape, QDialog::Rejected}};
    for (const auto& c : cases) {
        ProgressWindow window(nullptr, std::chrono::hours(1));
        window.show();
        QKeyEvent press(QEvent::KeyPress, c.key, c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &press);
        EXPECT_FALSE(window.isVisible()) << c.key;
        EXPECT_EQ(window.result(), c.result) << c.key;
        EXPECT_FALSE(window.findChild<QTimer*>()->isActive()) << c.key;
    }
}

// A station with its settings folder and a separate data folder holding history, a
// log, and links that point out of it.
class ClearHistory : public ::testing::Test {
  protected:
    ClearHistory() {
            m_previous = SetMessageHandler([this](const std::u16string& t, MsgButtons b) {
            m_asked.push_back(t);
            m_buttons = b;
            return m_answer;
        });
        m_app.emplace();
        EXPECT_EQ(m_app->InitGlobalValue(m_home.path()), 1);
        m_app->Settings().SetDataPath(DataFolder());
        m_app->Settings().GetBaseInfo()->SetTimeForNet(42);
        EXPECT_EQ(m_app->Settings().SaveDataPath(), 1);
        EXPECT_EQ(m_app->Settings().SaveCmdInterval(), 1);
        fs::create_directories(DataFolder() / "1" / "2024" / "5" / "17");
        WriteFile(DataFolder() / "1" / "2024" / "5" / "17" / "9.cvs", "01 +45.6,+23.4\r\n");
        fs::create_directories(Outside() / "sub");
        WriteFile(Outside() / "keep.txt", "not the station's");
        WriteFile(Outside() / "sub" / "deep.txt", "nor this");
        fs::create_directory_symlink(Outside(), DataFolder() / "linked-folder");
        fs::create_symlink(Outside() / "keep.txt", DataFolder() / "1" / "linked-file");
        m_window.show();
    }
    ~ClearHistory() override {
        if (m_app) m_app->ShutDown();
        SetMessageHandler(m_previous);
    }

    fs::path SettingsFolder() const { return m_home.path() / "Veltrix" / "Hygrolog"; }
    fs::path DataFolder() const { return m_home.path() / "history"; }
    fs::path Outside() const { return m_home.path() / "elsewhere"; }
    void ExpectOutsideIntact() const {
        EXPECT_EQ(ReadFile(Outside() / "keep.txt"), "not the station's");
        EXPECT_EQ(ReadFile(Outside() / "sub" / "deep.txt"), "nor this");
    }

    TempDir m_home;
    std::optional<CAppForNimbo1App> m_app;
    QWidget m_window;
    MsgAnswer m_answer = MsgAnswer::No;
    std::vector<std::u16string> m_asked;
    MsgButtons m_buttons = MsgButtons::Ok;
    MessageHandler m_previous;
};

TEST_F(ClearHistory, AnsweredNoChangesNothing) {
    const std::string settingsBefore = ReadFile(SettingsFolder() / "Settings.ini");
    bool worked = false;
    m_answer = MsgAnswer::No;

    EXPECT_FALSE(ClearHistoryData(*m_app, &m_window, {[&] { worked = true; }, {}}));

    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0], u"All data are removed when I carry out processing.\nDo you carry it out?");
    EXPECT_EQ(m_buttons, MsgButtons::YesNo);
    EXPECT_FALSE(worked);
    EXPECT_EQ(ReadFile(SettingsFolder() / "Settings.ini"), settingsBefore);
    EXPECT_TRUE(fs::exists(DataFolder() / "1" / "2024" / "5" / "17" / "9.cvs"));
    EXPECT_EQ(m_app->GetSkipSave(), 0);
    EXPECT_TRUE(m_window.isVisible());
}

TEST_F(ClearHistory, AnsweredYesWipesBothFoldersAndTheNextStartIsAFirstStart) {
    m_answer = MsgAnswer::Yes;

    EXPECT_TRUE(ClearHistoryData(*m_app, &m_window));

    EXPECT_FALSE(fs::exists(fs::symlink_status(SettingsFolder())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(DataFolder())));
    ExpectOutsideIntact();
    EXPECT_EQ(m_app->GetSkipSave(), 1);
    EXPECT_FALSE(m_window.isVisible());

    m_app->ShutDown();
    m_app.reset();
    EXPECT_FALSE(fs::exists(SettingsFolder()));
    EXPECT_FALSE(fs::exists(DataFolder()));

    m_asked.clear();
    CAppForNimbo1App next;
    ASSERT_EQ(next.InitGlobalValue(m_home.path()), 1);
    EXPECT_TRUE(m_asked.empty()); // no checksum complaint: a fresh file
    EXPECT_EQ(next.Settings().GetDataPath(), SettingsFolder());
    EXPECT_EQ(next.Settings().GetBaseInfo()->GetTimeForNet(), 10u);
    EXPECT_FALSE(fs::exists(DataFolder()));
    next.ShutDown();
}

TEST_F(ClearHistory, WorkStopsBeforeDeletionAndTheWindowEndsAfterSkipSave) {
    m_answer = MsgAnswer::Yes;
    std::vector<std::string> order;
    ClearHistoryHooks hooks;
    hooks.stopWork = [&] {
        order.push_back("stop");
        EXPECT_TRUE(fs::exists(DataFolder()));
        EXPECT_EQ(m_app->GetSkipSave(), 0);
    };
    hooks.endWindow = [&] {
        order.push_back("end");
        EXPECT_FALSE(fs::exists(DataFolder()));
        EXPECT_FALSE(fs::exists(SettingsFolder()));
        // The window's close handler relies on this to skip saving its settings.
        EXPECT_EQ(m_app->GetSkipSave(), 1);
    };

    EXPECT_TRUE(ClearHistoryData(*m_app, &m_window, hooks));

    EXPECT_THAT(order, ::testing::ElementsAre("stop", "end"));
    EXPECT_TRUE(m_window.isVisible()); // ending it was the hook's job
}

TEST_F(ClearHistory, ADataPathAboveTheStationsOwnFoldersIsNotWiped) {
    m_answer = MsgAnswer::Yes;
    const struct {
        const char* name;
        fs::path dataPath;
    } cases[] = {
        {"base folder", m_home.path()},
        {"base folder, trailing slash", m_home.path() / ""},
        {"base folder, roundabout", m_home.path() / "Veltrix" / ".."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(SettingsFolder());
        m_app->Settings().SetDataPath(c.dataPath);
        m_app->SetSkipSave(0);

        EXPECT_TRUE(ClearHistoryData(*m_app, &m_window));

        EXPECT_FALSE(fs::exists(SettingsFolder()));
        EXPECT_EQ(m_app->GetSkipSave(), 1);
        EXPECT_TRUE(fs::exists(DataFolder() / "1" / "2024" / "5" / "17" / "9.cvs"));
        ExpectOutsideIntact();
    }
}

} // namespace
} // namespace hygro::ui
