// The station's main window.
#pragma once

#include <QMainWindow>

namespace hygro::ui {

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace hygro::ui
