// The picture-path dialog and the history map window.
#include "ui/map_dialogs.h"

#include "map/map_files.h"
#include "map/map_widget.h"
#include "support/messages.h"
#include "support/temp_dir.h"
#include "support/widgets.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace hygro::ui {
namespace {

using test::MessageLog;
using test::TempDir;

void Touch(const std::filesystem::path& p) {
    std::ofstream(p) << "x";
}

void Key(QWidget& w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(&w, &press);
}

QLineEdit* PathEdit(CDlgSetPicturePath& d) {
    return d.findChild<QLineEdit*>(QStringLiteral("1006"));
}

TEST(PicturePathDialog, HasItsControls) {
    CDlgSetPicturePath d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Picture"));
    ASSERT_NE(PathEdit(d), nullptr);
    EXPECT_NE(d.findChild<QPushButton*>(QStringLiteral("1007")), nullptr);
    EXPECT_NE(d.findChild<QPushButton*>(QStringLiteral("1008")), nullptr);

    // A picture for a person to look at: ui-shots/map-picture-path.png.
    PathEdit(d)->setText(QStringLiteral("/home/station/plans/floor-2.png"));
    d.show();
    QDir().mkpath(QStringLiteral("ui-shots"));
    EXPECT_TRUE(d.grab().save(QStringLiteral("ui-shots/map-picture-path.png")));
}

TEST(PicturePathDialog, OkAcceptsExistingPicturesAndMapFilesAndAnEmptyPath) {
    TempDir dir;
    for (const char* name : {"plan.bmp", "plan.BMP", "plan.png", "plan.JPG", "plan.jpeg", "old.sdz", "old.SDZ",
                             "notes.txt", "planbmp"})
        Touch(dir / name);
    std::filesystem::create_directories(dir / "folder.bmp");
    struct Case {
        std::string path;  // empty: the empty path
        const char* message; // nullptr: closes with OK
    };
    const std::string d = dir.path().string() + "/";
    const std::vector<Case> cases{
        {d + "plan.bmp", nullptr},
        {d + "plan.BMP", nullptr},
        {d + "plan.png", nullptr},
        {d + "plan.JPG", nullptr},
        {d + "plan.jpeg", nullptr},
        {d + "old.sdz", nullptr},
        {d + "old.SDZ", nullptr},
        {d + "planbmp", nullptr}, // the end counts, not a dot
        {"", nullptr},            // back to the built-in picture
        {d + "missing.bmp", "File is not exists!"},
        {d + "missing.png", "File is not exists!"},
        {d + "missing.sdz", "File is not exists!"},
        {d + "folder.bmp", "File is not exists!"},
        {d + "notes.txt", "File is error!"},
        {d + "missing.gif", "File is error!"},
        {"   ", "File is error!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        MessageLog log;
        CDlgSetPicturePath dlg;
        PathEdit(dlg)->setText(QString::fromStdString(c.path));
        dlg.OnOK();
        if (c.message == nullptr) {
            EXPECT_TRUE(log.texts.empty());
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_EQ(dlg.GetPath(), QString::fromStdString(c.path));
        } else {
            ASSERT_EQ(log.texts.size(), 1u);
            EXPECT_EQ(log.texts[0], QString::fromLatin1(c.message));
            EXPECT_NE(dlg.result(), QDialog::Accepted);
            EXPECT_TRUE(dlg.GetPath().isEmpty());
        }
    }
}

TEST(PicturePathDialog, EscapeAndAltF4AreSwallowedEnterIsOk) {
    MessageLog log;
    CDlgSetPicturePath dlg;
    dlg.show();
    Key(dlg, Qt::Key_Escape);
    Key(dlg, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(dlg.isVisible());

    PathEdit(dlg)->setText(QStringLiteral("/nowhere/plan.txt"));
    Key(dlg, Qt::Key_Return);
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(log.texts[0], QStringLiteral("File is error!"));
    EXPECT_TRUE(dlg.isVisible());

    PathEdit(dlg)->clear();
    Key(dlg, Qt::Key_Enter);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST(PicturePathDialog, BrowsePutsTheChoiceIntoTheEditBox) {
    TempDir dir;
    Touch(dir / "plan.png");
    CDlgSetPicturePath dlg;
    PathEdit(dlg)->setText(QStringLiteral("old"));
    QStringList filters;
    QString title;
    test::OnNextModal([&](QWidget* w) {
        auto* fd = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(fd, nullptr);
        title = fd->windowTitle();
        filters = fd->nameFilters();
        fd->selectFile(QString::fromStdString((dir / "plan.png").string()));
        static_cast<QDialog*>(fd)->accept(); // QFileDialog hides its accept()
    });
    dlg.OnBrowse();
    EXPECT_EQ(title, QStringLiteral("Set map"));
    for (const char* f : {"Bmp Files(*.bmp)", "Sdz Files(*.sdz)", "All FIles(*.*)"})
        EXPECT_TRUE(filters.contains(QString::fromLatin1(f))) << f;
    EXPECT_EQ(PathEdit(dlg)->text(), QString::fromStdString((dir / "plan.png").string()));

    test::OnNextModal([](QWidget* w) {
        if (auto* fd = qobject_cast<QFileDialog*>(w)) fd->reject();
    });
    dlg.OnBrowse();
    EXPECT_TRUE(PathEdit(dlg)->text().isEmpty()) << "nothing chosen: an empty path";
}

// ---- history map window ----

struct FileSensor {
    const char* name;
    const char* x;
    const char* y;
    int r, g, b;
};

// A settings file as the station writes it: UTF-16LE with a byte-order mark.
void WriteSettings(const std::filesystem::path& p, int mapWidth, QRect pos, const std::vector<FileSensor>& sensors) {
    QString text = QStringLiteral("[LSensor]\r\nRcount=%1\r\n[Other]\r\nPWidth=%2\r\n").arg(sensors.size()).arg(mapWidth);
    text += QStringLiteral("[Pos]\r\nleft=%1\r\ntop=%2\r\nwidth=%3\r\nheight=%4\r\n")
                .arg(pos.left())
                .arg(pos.top())
                .arg(pos.width())
                .arg(pos.height());
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        const FileSensor& s = sensors[i];
        text += QStringLiteral("[%1]\r\nname=%2\r\nposx=%3\r\nposy=%4\r\ncolorR=%5\r\ncolorG=%6\r\ncolorB=%7\r\n")
                    .arg(i + 1)
                    .arg(QString::fromUtf8(s.name), QString::fromLatin1(s.x), QString::fromLatin1(s.y))
                    .arg(s.r)
                    .arg(s.g)
                    .arg(s.b);
    }
    std::u16string units = u"\xFEFF" + text.toStdU16String();
    std::ofstream out(p, std::ios::binary);
    for (char16_t u : units) {
        out.put(static_cast<char>(u & 0xFF));
        out.put(static_cast<char>(u >> 8));
    }
}

const std::vector<FileSensor> kFourSensors{
    {"Cold room 1", "0.45", "0.19", 120, 190, 255},
    {"Lab", "0.5", "0.36", 255, 220, 120},
    {"Greenhouse A", "0.45", "0.62", 140, 230, 140},
    {"Office", "0.5", "0.9", 255, 170, 200},
};

class HistoryWindow : public ::testing::Test {
  protected:
    std::filesystem::path MapFile(const char* name, int mapWidth, QRect pos, const std::vector<FileSensor>& sensors,
                                  const std::vector<unsigned char>& picture = {}) {
        const auto settings = dir / (std::string(name) + ".ini");
        WriteSettings(settings, mapWidth, pos, sensors);
        const auto target = dir / name;
        const std::string error = CreateMapFile(settings, picture, target);
        EXPECT_EQ(error, "");
        return target;
    }
    int Caption() const { return window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window); }

    TempDir dir;
    CDlgShowSdz window;
};

TEST_F(HistoryWindow, TakesTitleGeometryAndSensorsFromTheFile) {
    const QRect pos(40, 30, 760, 700);
    const auto file = MapFile("plan.sdz", 320, pos, kFourSensors);
    MessageLog log;
    ASSERT_TRUE(window.SetInfo(QString::fromStdString(file.string())));
    EXPECT_TRUE(log.texts.empty());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("History Map - plan.sdz"));
    const int c = Caption();
    EXPECT_EQ(window.geometry(), QRect(40, 30 + c, 320 + 6, 700 - c - 20));
    EXPECT_FALSE(window.isVisible()) << "the main window shows it";

    const auto& boxes = window.View()->Boxes();
    EXPECT_EQ(boxes.MapWidth(), 320);
    EXPECT_EQ(boxes.MapHeight(), 700 - c - 20);
    ASSERT_EQ(boxes.Boxes().size(), 4u);
    EXPECT_EQ(boxes.Boxes()[1].name, "Lab");
    EXPECT_DOUBLE_EQ(boxes.Boxes()[1].x, 0.5);
    EXPECT_EQ(window.View()->Picture().size(), QSize(227, 470)) << "no picture in the file: the built-in one";

    // Pictures for a person to look at: ui-shots/map-history.png.
    window.show();
    const QImage shot = window.grab().toImage();
    const auto& b = boxes.Boxes()[0];
    EXPECT_EQ(shot.pixelColor(b.area.left, b.area.top), QColor(255, 0, 0));
    QDir().mkpath(QStringLiteral("ui-shots"));
    EXPECT_TRUE(shot.save(QStringLiteral("ui-shots/map-history.png")));
}

TEST_F(HistoryWindow, ShowsTheFilesOwnPicture) {
    QImage picture(50, 80, QImage::Format_RGB32);
    picture.fill(QColor(0, 90, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    const auto file = MapFile("own.sdz", 200, QRect(0, 0, 600, 500), {kFourSensors[0]},
                              std::vector<unsigned char>(png.begin(), png.end()));
    ASSERT_TRUE(window.SetInfo(QString::fromStdString(file.string())));
    EXPECT_EQ(window.View()->Picture().size(), QSize(50, 80));
    window.show();
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() - 1, shot.height() - 1), QColor(0, 90, 0)) << "stretched over it all";
}

TEST_F(HistoryWindow, AnUnreadableFileIsReportedAndTheOldContentStays) {
    const auto good = MapFile("plan.sdz", 300, QRect(10, 10, 600, 600), kFourSensors);
    ASSERT_TRUE(window.SetInfo(QString::fromStdString(good.string())));
    const QRect before = window.geometry();

    const auto bad = dir / "bad.sdz";
    std::ofstream(bad, std::ios::binary) << std::string(6, '\xff');
    MessageLog log;
    EXPECT_FALSE(window.SetInfo(QString::fromStdString(bad.string())));
    EXPECT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("History Map - plan.sdz"));
    EXPECT_EQ(window.geometry(), before);
    EXPECT_EQ(window.View()->Boxes().Boxes().size(), 4u);

    MessageLog missing;
    EXPECT_FALSE(window.SetInfo(QString::fromStdString((dir / "gone.sdz").string())));
    EXPECT_EQ(missing.texts.size(), 1u);
}

TEST_F(HistoryWindow, AHostileRectangleStillGivesAUsableWindow) {
    const auto file = MapFile("odd.sdz", -5, QRect(-2000000, 2000000, -7, 3), kFourSensors);
    ASSERT_TRUE(window.SetInfo(QString::fromStdString(file.string())));
    EXPECT_GE(window.width(), 1);
    EXPECT_GE(window.height(), 1);
    window.show();
    EXPECT_FALSE(window.grab().isNull());
}

TEST_F(HistoryWindow, TheCloseBoxHidesItAndKeysAreSwallowed) {
    window.show();
    for (int key : {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Enter)}) Key(window, key);
    Key(window, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(window.isVisible());

    QPointer<CDlgShowSdz> alive(&window);
    EXPECT_FALSE(window.close()) << "the close is refused, the window only hides";
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(alive.isNull());
    window.show();
    EXPECT_TRUE(window.isVisible());
}

} // namespace
} // namespace hygro::ui
