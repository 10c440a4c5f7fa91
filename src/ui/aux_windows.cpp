#include "ui/aux_windows.h"

#include <QKeyEvent>
#include <QShowEvent>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/app_core.h"
#include "util/file_opt.h"
#include "util/message_box.h"

#ifndef HYGROLOG_VERSION
#define HYGROLOG_VERSION "0.1.0"
#endif

namespace hygro::ui {

QString HygrologVersion() { return QStringLiteral(HYGROLOG_VERSION); }

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent),
      m_name(QStringLiteral("Hygrolog")),
      m_version(QStringLiteral("Version %1").arg(HygrologVersion())),
      m_description(QStringLiteral("Monitoring station for Wi-Fi temperature and humidity sensors: "
                                   "discovery, polling, history, charts and alarm e-mails.")),
      m_licence(QStringLiteral("Licence: GNU General Public License v3.0 or later")),
      m_layout(this) {
    setWindowTitle(QStringLiteral("About Hygrolog"));
    QFont big = m_name.font();
    big.setBold(true);
    if (big.pointSizeF() > 0) big.setPointSizeF(big.pointSizeF() * 1.5);
    m_name.setFont(big);
    m_description.setWordWrap(true);
    for (QLabel* label : {&m_name, &m_version, &m_description, &m_licence}) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_layout.addWidget(label);
    }
    m_layout.addWidget(&m_buttons);
    connect(&m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    setMinimumWidth(360);
}

ProgressWindow::ProgressWindow(QWidget* parent, std::chrono::milliseconds tick)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_layout(this) {
    setModal(true);
    m_bar.setRange(0, kSteps);
    m_bar.setValue(0);
    m_layout.addWidget(&m_bar);
    setMinimumWidth(300);
    // A coarse timer may fire a little early; the window must stay the whole span.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(tick);
    connect(&m_timer, &QTimer::timeout, this, &ProgressWindow::OnTick);
}

void ProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Un-minimising is a spontaneous show and must not restart the count.
    if (event->spontaneous()) return;
    m_bar.setValue(0);
    m_timer.start();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void ProgressWindow::done(int result) {
    m_timer.stop();
    QDialog::done(result);
}

void ProgressWindow::OnTick() {
    if (m_bar.value() >= kSteps - 1) {
        m_bar.setValue(kSteps);
        accept();
        return;
    }
    m_bar.setValue(m_bar.value() + 1);
}

namespace {

namespace fs = std::filesystem;

fs::path Resolved(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(fs::absolute(p, ec), ec);
    if (ec) r = p;
    r = r.lexically_normal();
    // "/a/b/" ends in an empty name; drop it so component comparison works.
    if (!r.has_filename() && r.has_relative_path()) r = r.parent_path();
    return r;
}

bool IsAncestorOrSelf(const fs::path& ancestor, const fs::path& p) {
    auto a = ancestor.begin();
    auto b = p.begin();
    for (; a != ancestor.end(); ++a, ++b) {
        if (b == p.end() || *a != *b) return false;
    }
    return true;
}

// A wrongly set data path must not take the operator's home or other programs' data.
bool MayWipe(const fs::path& folder, const std::vector<fs::path>& keep) {
    if (folder.empty()) return false;
    const fs::path target = Resolved(folder);
    if (!target.has_relative_path()) return false;
    for (const fs::path& k : keep) {
        if (!k.empty() && IsAncestorOrSelf(target, Resolved(k))) return false;
    }
    return true;
}

} // namespace

bool ClearHistoryData(CAppForNimbo1App& app, QWidget* mainWindow) {
    return ClearHistoryData(app, mainWindow, ClearHistoryHooks{});
}

bool ClearHistoryData(CAppForNimbo1App& app, QWidget* mainWindow, const ClearHistoryHooks& hooks) {
    if (ShowMessage(std::u16string(kClearHistoryWarning), MsgButtons::YesNo) != MsgAnswer::Yes) return false;

    if (hooks.stopWork) hooks.stopWork();

    std::vector<fs::path> keep{app.Settings().GetSystemDrive()};
    if (const char* home = std::getenv("HOME"); home && *home) keep.emplace_back(home);
    const fs::path settingsFolder = app.Settings().GetSettingsFolder();
    const fs::path dataFolder = app.Settings().GetDataPath();
    if (MayWipe(settingsFolder, keep)) DeleteDirectory(settingsFolder);
    if (MayWipe(dataFolder, keep)) DeleteDirectory(dataFolder);

    app.SetSkipSave(1);

    if (hooks.endWindow) {
        hooks.endWindow();
    } else if (mainWindow != nullptr) {
        mainWindow->close();
    }
    return true;
}

} // namespace hygro::ui
