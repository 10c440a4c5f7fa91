#include "ui/main_window.h"

#include <QLabel>

namespace hygro::ui {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Hygrolog"));
    resize(1024, 700);
    auto* placeholder = new QLabel(this);
    placeholder->setAlignment(Qt::AlignCenter);
    setCentralWidget(placeholder);
}

} // namespace hygro::ui
