#include "ui/map_dialogs.h"

#include "ui/dialog_parts.h"
#include "map/map_files.h"
#include "map/map_widget.h"
#include "util/message_box.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

namespace hygro::ui {
namespace {

bool EndsWithAny(const QString& path, std::initializer_list<const char*> ends) {
    return std::any_of(ends.begin(), ends.end(), [&](const char* e) {
        return path.endsWith(QLatin1String(e), Qt::CaseInsensitive);
    });
}

// A window rectangle from a file stays within what a screen can hold.
int Extent(int v) {
    return std::clamp(v, 1, 8192);
}
int Coordinate(int v) {
    return std::clamp(v, -16384, 16384);
}

} // namespace

bool IsMapPicturePath(const QString& path) {
    return EndsWithAny(path, {"bmp", "png", "jpg", "jpeg"});
}

bool IsMapFilePath(const QString& path) {
    return EndsWithAny(path, {"sdz"});
}

// ---- picture path ----

CDlgSetPicturePath::CDlgSetPicturePath(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Picture"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Picture Path:"), this));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("1006"));
    m_edit->setMinimumWidth(280);
    row->addWidget(m_edit, 1);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName(QStringLiteral("1007"));
    browse->setAutoDefault(false);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    row->addWidget(browse);
    layout->addLayout(row);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1008"));
    ok->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    connect(browse, &QPushButton::clicked, this, &CDlgSetPicturePath::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CDlgSetPicturePath::OnOK);
}

void CDlgSetPicturePath::OnBrowse() {
    // The decodable pictures come first so that PNG and JPEG plans show without
    // switching filters; the BMP, map-file and all-files filters follow.
    const QStringList filters{QStringLiteral("Picture Files(*.bmp *.png *.jpg *.jpeg)"),
                              QStringLiteral("Bmp Files(*.bmp)"), QStringLiteral("Sdz Files(*.sdz)"),
                              QStringLiteral("All FIles(*.*)")};
    const QString chosen =
        QFileDialog::getOpenFileName(this, QStringLiteral("Set map"), QString(), filters.join(QStringLiteral(";;")));
    m_edit->setText(chosen);
}

void CDlgSetPicturePath::OnOK() {
    const QString path = m_edit->text();
    if (IsMapPicturePath(path) || IsMapFilePath(path)) {
        if (path.isEmpty()) {
            ShowMessage(std::string("Please set picture's path"));
            return;
        }
        if (!QFileInfo(path).isFile()) {
            ShowMessage(std::string("File is not exists!"));
            return;
        }
    } else if (!path.isEmpty()) {
        ShowMessage(std::string("File is error!"));
        return;
    }
    m_path = path;
    accept();
}

void CDlgSetPicturePath::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event)) {
        event->accept();
        OnOK();
        return;
    }
    if (event->key() == Qt::Key_Escape || IsAltF4(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- history map window ----

CDlgShowSdz::CDlgShowSdz(QWidget* parent) : QDialog(parent) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new map::CHistoryMapView(this);
    layout->addWidget(m_view);
}

bool CDlgShowSdz::SetInfo(const QString& path) {
    std::string error;
    const auto content = ReadMapFile(path.toStdU16String(), error);
    if (!content) {
        ShowMessage(error);
        return false;
    }
    m_path = path;
    // A file without a sensor list leaves the sensors and their layout as they were.
    if (content->hasSensorList) {
        m_mapWidth = content->mapWidth;
        m_fileRect = QRect(content->left, content->top, content->width, content->height);
    }
    m_view->SetContent(*content);
    setWindowTitle(QStringLiteral("History Map - ") + QFileInfo(path).fileName());

    const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int height = Extent(m_fileRect.height() - caption - 20);
    const int width = Extent(m_mapWidth + 6);
    m_view->LayOut(std::max(0, m_mapWidth), height);
    setGeometry(Coordinate(m_fileRect.left()), Coordinate(m_fileRect.top()) + caption, width, height);
    update();
    return true;
}

void CDlgShowSdz::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event) || event->key() == Qt::Key_Escape || IsAltF4(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgShowSdz::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void CDlgShowSdz::reject() {}

} // namespace hygro::ui
