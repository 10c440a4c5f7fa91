// The picture-path dialog ("Picture", behind "Map File" > "Open") and the history map
// window that shows a saved map file.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

class QCloseEvent;
class QKeyEvent;
class QLineEdit;

namespace hygro::map {
class CHistoryMapView;
}

namespace hygro::ui {

// Pictures the map decodes, and map files, by the end of the path (any case, no dot needed).
bool IsMapPicturePath(const QString& path);
bool IsMapFilePath(const QString& path);

class CDlgSetPicturePath : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgSetPicturePath(QWidget* parent = nullptr);

    // The confirmed path: a picture, a map file, or empty for the built-in picture.
    QString GetPath() const { return m_path; }

    // "...": a file-open dialog; its choice (empty when none) goes into the edit box.
    void OnBrowse();
    // Closes with OK when the path is acceptable; otherwise says why not.
    void OnOK();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLineEdit* m_edit = nullptr; // 1006
    QString m_path;
};

// Modeless; created hidden and kept until the main window goes.
class CDlgShowSdz : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgShowSdz(QWidget* parent = nullptr);

    // Loads a map file and places the window where the file says. False (after telling
    // the operator) when the file cannot be read; the window then keeps what it showed.
    bool SetInfo(const QString& path);

    QString Path() const { return m_path; }
    int MapWidth() const { return m_mapWidth; }
    // The main window's rectangle stored in the file.
    QRect FileRect() const { return m_fileRect; }
    map::CHistoryMapView* View() const { return m_view; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  public slots:
    void reject() override; // Cancel does nothing

  private:
    map::CHistoryMapView* m_view = nullptr;
    QString m_path;
    int m_mapWidth = 0;
    QRect m_fileRect;
};

} // namespace hygro::ui
