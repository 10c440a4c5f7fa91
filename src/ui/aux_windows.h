// Small modal windows of the main window: the About box, the progress window shown
// while the sensors switch protocol, and the "Clear History Data" command.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <functional>
#include <string_view>

class QKeyEvent;
class QShowEvent;

namespace hygro {
class CAppForNimbo1App;
}

namespace hygro::ui {

// The station's version as built (HYGROLOG_VERSION, else "0.1.0").
QString HygrologVersion();

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);

  private:
    // Children by value: declared before the layout, so the layout goes first.
    QLabel m_name;
    QLabel m_version;
    QLabel m_description;
    QLabel m_licence;
    QDialogButtonBox m_buttons{QDialogButtonBox::Ok};
    QVBoxLayout m_layout;
};

// Fills its bar one step per tick and closes itself with Accepted on the sixth tick.
// No caption and no buttons; Enter accepts and Escape rejects early, and callers go
// on the same way whatever the result.
class ProgressWindow : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kSteps = 6;

    explicit ProgressWindow(QWidget* parent = nullptr,
                            std::chrono::milliseconds tick = std::chrono::seconds(1));

    int Position() const { return m_bar.value(); }
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnTick();

    QProgressBar m_bar;
    QVBoxLayout m_layout;
    QTimer m_timer{this};
};

// The question asked before anything is deleted.
inline constexpr std::u16string_view kClearHistoryWarning =
    u"All data are removed when I carry out processing.\nDo you carry it out?";

struct ClearHistoryHooks {
    // Runs once the operator agreed and before anything is deleted: stops the main
    // window's timers and threads as on close, so nothing writes into the folders while
    // they go.
    std::function<void()> stopWork;
    // Ends the main window. Empty: mainWindow->close(); the window's close handler must
    // then skip saving its position and view settings when the skip-save flag is set.
    std::function<void()> endWindow;
};

// Asks kClearHistoryWarning (Yes/No). On Yes: stops the work, deletes the settings
// folder and the data folder (links are removed, never followed), sets the skip-save
// flag so nothing is written back at exit, and ends the main window; the next start is
// a first start. A folder that would take more with it than the station's own data (a
// filesystem root, the home folder, the base folder or one above them) is left alone.
// Deletion errors are not reported. false when the operator said No.
bool ClearHistoryData(CAppForNimbo1App& app, QWidget* mainWindow);
bool ClearHistoryData(CAppForNimbo1App& app, QWidget* mainWindow, const ClearHistoryHooks& hooks);

} // namespace hygro::ui
