// "Append Sensor Info" and "Edit", offscreen, against a real data folder. The order of
// the checks is covered in acq's sensor_checks_test; here the controls and their wiring.
#include "support/messages.h"
#include "support/temp_dir.h"
#include "support/widgets.h"
#include "ui/sensor_dialogs.h"
#include "util/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace hygro::ui {
namespace {

namespace fs = std::filesystem;
using hygro::test::MessageLog;

template <typename W = QWidget> W* Control(QWidget* parent, const char* id) {
    W* w = parent->findChild<W*>(QString::fromLatin1(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}
QLineEdit* Edit(QWidget* parent, const char* id) {
    return Control<QLineEdit>(parent, id);
}
QComboBox* Combo(QWidget* parent, const char* id) {
    return Control<QComboBox>(parent, id);
}
QRadioButton* Radio(QWidget* parent, const char* id) {
    return Control<QRadioButton>(parent, id);
}
void Press(QWidget* parent, const char* id) {
    Control<QPushButton>(parent, id)->click();
}

QStringList Items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

void SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
}

// Records every message with its buttons and gives one answer.
class Answering {
  public:
    explicit Answering(MsgAnswer answer) {
        m_previous = SetMessageHandler([this, answer](const std::u16string& text, MsgButtons buttons) {
            texts.push_back(QString::fromStdU16String(text));
            this->buttons.push_back(buttons);
            return answer;
        });
    }
    ~Answering() { SetMessageHandler(m_previous); }
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;
    std::vector<QString> texts;
    std::vector<MsgButtons> buttons;

  private:
    MessageHandler m_previous;
};

// A data path with the log folder, an in-use sensor's folder and one old folder.
class SensorDialogAppend : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"Log", "cold", "old1"})
            fs::create_directories(m_dir / d);
    }
    void Open(CDlgSetSensorName& dlg, const fs::path& dataPath) {
        dlg.SetInfo({3, 4, 6}, dataPath, m_pending, m_inUse, 90.0, 30.0, 70.0, 15.0);
        dlg.show();
    }
    // Everything a valid OK needs: name, number, the second IP entry.
    static void FillValid(QWidget* dlg) {
        Edit(dlg, "1010")->setText("Office");
        Combo(dlg, "1130")->setCurrentIndex(1);
        Combo(dlg, "1104")->setCurrentIndex(1);
    }

    hygro::test::TempDir m_dir;
    std::vector<SensorRef> m_inUse{{"Cold room", "cold", 1}, {"Hall", "hall", 2}, {"Lab", "lab", 5}};
    std::vector<PendingRef> m_pending{{{198, 18, 0, 2}, 7, 0}, {{198, 18, 0, 13}, 123456, 1}};
};

TEST_F(SensorDialogAppend, OpensWithNewSensorTheGivenListsAndBlue) {
    MessageLog messages;
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    EXPECT_EQ(dlg.windowTitle(), "Append Sensor Info");
    EXPECT_TRUE(Radio(&dlg, "1035")->isChecked());
    EXPECT_FALSE(Radio(&dlg, "1036")->isChecked());
    EXPECT_TRUE(Edit(&dlg, "1037")->isEnabled());
    EXPECT_FALSE(Combo(&dlg, "1038")->isEnabled());
    EXPECT_EQ(dlg.GetKind(), 0);
    EXPECT_EQ(Items(Combo(&dlg, "1038")), QStringList{"old1"}) << "never Log or an in-use folder";
    EXPECT_EQ(Items(Combo(&dlg, "1130")), (QStringList{"3", "4", "6"}));
    EXPECT_EQ(Combo(&dlg, "1130")->currentText(), "3");
    const QComboBox* ip = Combo(&dlg, "1104");
    EXPECT_EQ(Items(ip), (QStringList{"198.18.0.2|000007", "198.18.0.13|123456"}));
    EXPECT_EQ(ip->itemData(1).toInt(), 1);
    EXPECT_EQ(ip->currentIndex(), -1);
    EXPECT_EQ(Edit(&dlg, "1051")->text(), "90.0");
    EXPECT_EQ(Edit(&dlg, "1052")->text(), "30.0");
    EXPECT_EQ(Edit(&dlg, "1045")->text(), "70.0");
    EXPECT_EQ(Edit(&dlg, "1046")->text(), "15.0");
    EXPECT_EQ(dlg.GetLineColor(), QColor(0, 0, 255));
    const QStringList groups = [&] {
        QStringList out;
        for (const QGroupBox* g : dlg.findChildren<QGroupBox*>())
            out << g->title();
        return out;
    }();
    EXPECT_EQ(groups,
              (QStringList{"Save Data Folder Info", "Humidity Alarm Limit", "Temperature Alarm Limit"}));
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(SensorDialogAppend, TypingTheNameCopiesItIntoTheNewFolder) {
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    QLineEdit* name = Edit(&dlg, "1010");
    QLineEdit* folder = Edit(&dlg, "1037");
    folder->setText("mine");
    QTest::keyClicks(name, QStringLiteral("B"));
    QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("ü"));
    QApplication::sendEvent(name, &umlaut);
    QTest::keyClicks(name, QStringLiteral("ro"));
    EXPECT_EQ(folder->text(), QStringLiteral("Büro"));
    QTest::keyClick(name, Qt::Key_Backspace);
    EXPECT_EQ(folder->text(), QStringLiteral("Bür")) << "every change copies the whole name";
}

TEST_F(SensorDialogAppend, OldSensorNeedsOldData) {
    {
        MessageLog messages;
        CDlgSetSensorName dlg;
        Open(dlg, m_dir.path());
        Radio(&dlg, "1036")->click();
        EXPECT_TRUE(Radio(&dlg, "1036")->isChecked());
        EXPECT_FALSE(Edit(&dlg, "1037")->isEnabled());
        EXPECT_TRUE(Combo(&dlg, "1038")->isEnabled());
        EXPECT_EQ(dlg.GetKind(), 1);
        Radio(&dlg, "1035")->click();
        EXPECT_TRUE(Edit(&dlg, "1037")->isEnabled());
        EXPECT_FALSE(Combo(&dlg, "1038")->isEnabled());
        EXPECT_EQ(dlg.GetKind(), 0);
        EXPECT_TRUE(messages.texts.empty());
    }
    fs::remove(m_dir / "old1");
    MessageLog messages;
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    Radio(&dlg, "1036")->click();
    EXPECT_EQ(messages.texts, std::vector<QString>{"No old data!"});
    EXPECT_TRUE(Radio(&dlg, "1035")->isChecked());
    EXPECT_FALSE(Radio(&dlg, "1036")->isChecked());
    EXPECT_TRUE(Edit(&dlg, "1037")->isEnabled());
    EXPECT_FALSE(Combo(&dlg, "1038")->isEnabled());
    EXPECT_EQ(dlg.GetKind(), 0);
}

TEST_F(SensorDialogAppend, OkGivesTheValues) {
    MessageLog messages;
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    FillValid(&dlg);
    Edit(&dlg, "1037")->setText("office-data");
    Edit(&dlg, "1051")->setText("85.5");
    Edit(&dlg, "1046")->setText("-10");
    dlg.SetColourForTest(QColor(10, 200, 30));
    Press(&dlg, "1008");
    ASSERT_TRUE(messages.texts.empty()) << messages.texts.front().toStdString();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.GetSensorName(), "Office");
    EXPECT_EQ(dlg.GetSaveDataFolderName(), "office-data");
    EXPECT_EQ(dlg.GetHMaxValue(), 85.5);
    EXPECT_EQ(dlg.GetHMinValue(), 30.0);
    EXPECT_EQ(dlg.GetTMaxValue(), 70.0);
    EXPECT_EQ(dlg.GetTMinValue(), -10.0);
    EXPECT_EQ(dlg.GetLineColor(), QColor(10, 200, 30));
    EXPECT_EQ(dlg.GetSensorNo(), 4);
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_EQ(dlg.GetKind(), 0);

    CDlgSetSensorName old;
    Open(old, m_dir.path());
    FillValid(&old);
    Combo(&old, "1130")->setEditText("17"); // a number of one's own
    Radio(&old, "1036")->click();
    Press(&old, "1008");
    ASSERT_TRUE(messages.texts.empty()) << messages.texts.front().toStdString();
    EXPECT_EQ(old.GetSaveDataFolderName(), "old1");
    EXPECT_EQ(old.GetKind(), 1);
    EXPECT_EQ(old.GetSensorNo(), 17);
}

TEST_F(SensorDialogAppend, RefusalsKeepTheDialogOpen) {
    struct Case {
        const char* what;
        std::function<void(CDlgSetSensorName&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"no name", [](CDlgSetSensorName& d) { Edit(&d, "1010")->setText(""); }, "Please set name"},
        {"name in use", [](CDlgSetSensorName& d) { Edit(&d, "1010")->setText("Hall"); }, "Name is used!"},
        {"'!'", [](CDlgSetSensorName& d) { Edit(&d, "1010")->setText("A!"); },
         "Name Error!Cannot contain '!'"},
        {"folder exists", [](CDlgSetSensorName& d) { Edit(&d, "1037")->setText("old1"); },
         "Can't use this folder!"},
        {"folder outside", [](CDlgSetSensorName& d) { Edit(&d, "1037")->setText("../x"); },
         "Can't use this folder!"},
        {"white", [](CDlgSetSensorName& d) { d.SetColourForTest(Qt::white); }, "Please set other color!"},
        {"number typed", [](CDlgSetSensorName& d) { Combo(&d, "1130")->setEditText("4x"); },
         "No. value error!"},
        {"no number", [](CDlgSetSensorName& d) { Combo(&d, "1130")->setCurrentIndex(-1); },
         "No. value error!"},
        {"number used", [](CDlgSetSensorName& d) { Combo(&d, "1130")->setEditText("5"); },
         "No. already used!"},
        {"no IP", [](CDlgSetSensorName& d) { Combo(&d, "1104")->setCurrentIndex(-1); }, "Please select IP!"},
        {"limits", [](CDlgSetSensorName& d) { Edit(&d, "1045")->setText("90"); },
         "Temperature's hight limit is error!"},
    };
    for (const Case& c : cases) {
        MessageLog messages;
        CDlgSetSensorName dlg;
        Open(dlg, m_dir.path());
        FillValid(&dlg);
        c.change(dlg);
        Press(&dlg, "1008");
        EXPECT_EQ(messages.texts, std::vector<QString>{c.message}) << c.what;
        EXPECT_TRUE(dlg.isVisible()) << c.what;
        EXPECT_NE(dlg.result(), QDialog::Accepted) << c.what;
    }
    EXPECT_FALSE(fs::exists(m_dir.path().parent_path() / "x"));
}

TEST_F(SensorDialogAppend, CloseBoxAsksAndClosesOnlyOnYes) {
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    FillValid(&dlg);
    {
        Answering no(MsgAnswer::No);
        EXPECT_FALSE(dlg.close());
        EXPECT_EQ(no.texts, std::vector<QString>{"Are you sure do not add sensor?"});
        EXPECT_EQ(no.buttons, std::vector<MsgButtons>{MsgButtons::YesNo});
        EXPECT_TRUE(dlg.isVisible());
    }
    Answering yes(MsgAnswer::Yes);
    EXPECT_TRUE(dlg.close());
    EXPECT_EQ(yes.texts.size(), 1u);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected) << "closed without OK although the fields were valid";
}

TEST_F(SensorDialogAppend, EnterEscapeAndAltF4AreSwallowed) {
    MessageLog messages;
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    FillValid(&dlg);
    for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(Edit(&dlg, "1010")),
                            static_cast<QWidget*>(Combo(&dlg, "1130")->lineEdit())}) {
        SendKey(target, Qt::Key_Return);
        SendKey(target, Qt::Key_Enter);
        SendKey(target, Qt::Key_Escape);
        SendKey(target, Qt::Key_F4, Qt::AltModifier);
    }
    QApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted) << "Enter does not run OK here";
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(SensorDialogAppend, ColourButtonOpensTheChooser) {
    MessageLog messages;
    CDlgSetSensorName dlg;
    Open(dlg, m_dir.path());
    FillValid(&dlg);
    bool seen = false;
    hygro::test::OnNextModal([&](QWidget* w) {
        auto* chooser = qobject_cast<QColorDialog*>(w);
        ASSERT_NE(chooser, nullptr);
        seen = true;
        EXPECT_EQ(chooser->currentColor(), QColor(0, 0, 255));
        chooser->setCurrentColor(Qt::white);
        chooser->accept();
    });
    Press(&dlg, "1059");
    EXPECT_TRUE(seen);
    EXPECT_EQ(dlg.GetLineColor(), QColor(Qt::white));
    Press(&dlg, "1008");
    EXPECT_EQ(messages.texts, std::vector<QString>{"Please set other color!"});
}

// ---- "Edit" ----

class SensorDialogEdit : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"Log", "abc", "hall", "EXIST"})
            fs::create_directories(m_dir / d);
        m_info.name = "Cold room";
        m_info.colour = QColor(0, 128, 64);
        m_info.show = 1;
        m_info.hMax = 95;
        m_info.hMin = 60;
        m_info.tMax = 8;
        m_info.tMin = -2.5;
        m_info.number = 4;
        m_info.ip = {198, 18, 0, 2};
        m_info.folder = "abc";
        m_info.serial = 7;
    }
    void Open(CDlgEditOneOfSensor& dlg) {
        dlg.SetInfo(m_info, m_dir.path(), m_inUse);
        dlg.show();
    }

    hygro::test::TempDir m_dir;
    EditSensorInfo m_info;
    std::vector<SensorRef> m_inUse{{"Cold room", "abc", 4}, {"Hall", "HALL", 2}};
};

TEST_F(SensorDialogEdit, OpensWithTheSensorsValues) {
    CDlgEditOneOfSensor dlg;
    Open(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Edit");
    EXPECT_EQ(Edit(&dlg, "1010")->text(), "Cold room");
    EXPECT_FALSE(Edit(&dlg, "1010")->isReadOnly());
    EXPECT_EQ(Edit(&dlg, "1110")->text(), "4");
    EXPECT_EQ(Edit(&dlg, "1128")->text(), "198.18.0.2");
    EXPECT_EQ(Edit(&dlg, "1127")->text(), "abc");
    EXPECT_EQ(Edit(&dlg, "1061")->text(), "7");
    for (const char* id : {"1110", "1128", "1061"})
        EXPECT_TRUE(Edit(&dlg, id)->isReadOnly()) << id;
    EXPECT_FALSE(Edit(&dlg, "1127")->isReadOnly());
    EXPECT_EQ(Edit(&dlg, "1051")->text(), "95.0");
    EXPECT_EQ(Edit(&dlg, "1052")->text(), "60.0");
    EXPECT_EQ(Edit(&dlg, "1045")->text(), "8.0");
    EXPECT_EQ(Edit(&dlg, "1046")->text(), "-2.5");
    EXPECT_TRUE(Control<QCheckBox>(&dlg, "1016")->isChecked());
    QStringList groups;
    for (const QGroupBox* g : dlg.findChildren<QGroupBox*>())
        groups << g->title();
    EXPECT_EQ(groups, (QStringList{"Humidity  Alarm  Limit", "Temperature  Alarm Limit"}));

    m_info.show = 0;
    m_info.readMode = 1;
    CDlgEditOneOfSensor hidden;
    Open(hidden);
    EXPECT_FALSE(Control<QCheckBox>(&hidden, "1016")->isChecked());
    EXPECT_TRUE(Edit(&hidden, "1010")->isReadOnly());
}

TEST_F(SensorDialogEdit, FocusPutsTheCaretAtTheStartOfTheName) {
    CDlgEditOneOfSensor dlg;
    Open(dlg);
    QLineEdit* name = Edit(&dlg, "1010");
    name->setCursorPosition(5);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason); // a tab into a line edit would select it all
    QApplication::sendEvent(name, &in);
    EXPECT_FALSE(name->hasSelectedText());
    EXPECT_EQ(name->cursorPosition(), 0);
}

TEST_F(SensorDialogEdit, OkGivesTheValuesAndUpperCasesAChangedFolder) {
    struct Case {
        QString typed;
        std::string folder;
    };
    const Case cases[] = {
        {"abc", "abc"},                              // unchanged stays as it is
        {"new", "NEW"},                              // changed: upper case
        {QStringLiteral("zürich"), "Z\xC3\x9CRICH"}, // with Unicode rules
        {QStringLiteral("straße"), "STRASSE"},
    };
    for (const Case& c : cases) {
        MessageLog messages;
        CDlgEditOneOfSensor dlg;
        Open(dlg);
        Edit(&dlg, "1010")->setText(QStringLiteral("Kühlraum"));
        dlg.SetColourForTest(QColor(200, 10, 10));
        Control<QCheckBox>(&dlg, "1016")->setChecked(false);
        Edit(&dlg, "1051")->setText("90");
        Edit(&dlg, "1052")->setText("20.5");
        Edit(&dlg, "1045")->setText("30");
        Edit(&dlg, "1046")->setText("-40");
        Edit(&dlg, "1127")->setText(c.typed);
        Press(&dlg, "1008");
        ASSERT_TRUE(messages.texts.empty()) << messages.texts.front().toStdString();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.GetFolder(), c.folder);
        EXPECT_EQ(dlg.GetName(), "K\xC3\xBChlraum");
        EXPECT_EQ(dlg.GetESColor(), QColor(200, 10, 10));
        EXPECT_EQ(dlg.GetIsShow(), 0);
        EXPECT_EQ(dlg.GetHMax(), 90.0);
        EXPECT_EQ(dlg.GetHMin(), 20.5);
        EXPECT_EQ(dlg.GetTMax(), 30.0);
        EXPECT_EQ(dlg.GetTMin(), -40.0);
    }
    EXPECT_FALSE(fs::exists(m_dir / "NEW")) << "the dialog only decides; the main window moves";
}

TEST_F(SensorDialogEdit, RefusalsKeepTheDialogOpen) {
    struct Case {
        const char* what;
        std::function<void(CDlgEditOneOfSensor&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"no name", [](CDlgEditOneOfSensor& d) { Edit(&d, "1010")->setText(""); },
         "Please set sensor's name!"},
        {"white", [](CDlgEditOneOfSensor& d) { d.SetColourForTest(QColor(255, 255, 255)); },
         "Please set other color!"},
        {"humidity high", [](CDlgEditOneOfSensor& d) { Edit(&d, "1051")->setText(""); },
         "Please set sensor's max value!"},
        {"humidity low", [](CDlgEditOneOfSensor& d) { Edit(&d, "1052")->setText(""); },
         "Please set sensor's min value!"},
        {"temperature high", [](CDlgEditOneOfSensor& d) { Edit(&d, "1045")->setText(""); },
         "Please set sensor's max value!"},
        {"temperature low", [](CDlgEditOneOfSensor& d) { Edit(&d, "1046")->setText(""); },
         "Please set sensor's min value!"},
        {"no folder", [](CDlgEditOneOfSensor& d) { Edit(&d, "1127")->setText(""); }, "Please set folder!"},
        {"log", [](CDlgEditOneOfSensor& d) { Edit(&d, "1127")->setText("log"); }, "Can't use this folder!"},
        {"another sensor's", [](CDlgEditOneOfSensor& d) { Edit(&d, "1127")->setText("Hall"); },
         "Can't use this folder!"},
        {"existing", [](CDlgEditOneOfSensor& d) { Edit(&d, "1127")->setText("exist"); },
         "Can't use this folder!"},
        {"outside", [](CDlgEditOneOfSensor& d) { Edit(&d, "1127")->setText("../x"); },
         "Can't use this folder!"},
        {"limits", [](CDlgEditOneOfSensor& d) { Edit(&d, "1052")->setText("96"); },
         "Humidity's low limit is error!"},
    };
    for (const Case& c : cases) {
        MessageLog messages;
        CDlgEditOneOfSensor dlg;
        Open(dlg);
        c.change(dlg);
        Press(&dlg, "1008");
        EXPECT_EQ(messages.texts, std::vector<QString>{c.message}) << c.what;
        EXPECT_TRUE(dlg.isVisible()) << c.what;
        EXPECT_NE(dlg.result(), QDialog::Accepted) << c.what;
        EXPECT_EQ(dlg.GetFolder(), "abc") << c.what;
    }
}

TEST_F(SensorDialogEdit, EnterRunsOkEscapeAndAltF4DoNothingCloseBoxCancels) {
    {
        MessageLog messages;
        CDlgEditOneOfSensor dlg;
        Open(dlg);
        Edit(&dlg, "1010")->setText("");
        SendKey(Edit(&dlg, "1010"), Qt::Key_Return);
        EXPECT_EQ(messages.texts, std::vector<QString>{"Please set sensor's name!"});
        EXPECT_TRUE(dlg.isVisible());
        for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(Edit(&dlg, "1127"))}) {
            SendKey(target, Qt::Key_Escape);
            SendKey(target, Qt::Key_F4, Qt::AltModifier);
        }
        QApplication::processEvents();
        EXPECT_TRUE(dlg.isVisible());
        Edit(&dlg, "1010")->setText("Freezer");
        SendKey(Edit(&dlg, "1127"), Qt::Key_Enter);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.GetName(), "Freezer");
    }
    Answering no(MsgAnswer::No);
    CDlgEditOneOfSensor dlg;
    Open(dlg);
    Edit(&dlg, "1010")->setText("Freezer");
    EXPECT_TRUE(dlg.close());
    EXPECT_TRUE(no.texts.empty()) << "no question";
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.GetName(), "Cold room") << "nothing taken without OK";
}

// Pictures for a person to look at: ui-shots/sensor-append.png, sensor-edit.png.
TEST_F(SensorDialogEdit, RenderForAPerson) {
    const fs::path out = fs::current_path() / "ui-shots";
    fs::create_directories(out);
    CDlgSetSensorName add;
    add.SetInfo({3, 4, 6}, m_dir.path(), {{{198, 18, 0, 2}, 7, 0}}, m_inUse, 90.0, 30.0, 70.0, 15.0);
    add.show();
    Edit(&add, "1010")->setText("Office");
    QApplication::processEvents();
    ASSERT_TRUE(add.grab().save(QString::fromStdString((out / "sensor-append.png").string())));
    CDlgEditOneOfSensor edit;
    Open(edit);
    QApplication::processEvents();
    ASSERT_TRUE(edit.grab().save(QString::fromStdString((out / "sensor-edit.png").string())));
}

} // namespace
} // namespace hygro::ui
