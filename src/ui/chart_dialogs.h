// The show-mode dialog ("Show Mode", menu "Display Mode") and the five-minute history
// chart of one sensor ("Show Data - <name>", the table's "Graph" button).
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <filesystem>

#include "util/local_time.h"

class QComboBox;
class QDateEdit;
class QKeyEvent;
class QRadioButton;
class QTimeEdit;
class QCPGraph;

namespace hygro::charts {
class ChartPane;
}

namespace hygro::ui {

class CDlgShowMode : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgShowMode(QWidget* parent = nullptr);

    // The current mode (0 real time, 1..5 history) and history period, before showing.
    void SetInfo(int mode, const SystemTime& period);
    // What OK chose: mode and period (all zero for real time).
    void GetInfo(int& mode, SystemTime& period) const;

    void OnRealTime();
    void OnHistory();
    // Closes with OK when the choice is complete; otherwise says what is missing.
    void OnOK();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void EnableHistoryControls(bool on);

    int m_mode = 0;
    SystemTime m_period;
    QRadioButton* m_realTime = nullptr;
    QRadioButton* m_history = nullptr;
    QComboBox* m_scale = nullptr;
    QDateEdit* m_date = nullptr;
    QTimeEdit* m_time = nullptr;
};

class CDlgShowLumoGraphForTable : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgShowLumoGraphForTable(QWidget* parent = nullptr);

    // The sensor and the start of its five-minute window; loads the window's points from
    // the sensor's hour files and sets the title.
    void SetInfo(const QString& name, const std::filesystem::path& folder, const QColor& colour, int year,
                 int month, int day, int hour, int minute);

    charts::ChartPane* HumidityPane() const { return m_upper; }
    charts::ChartPane* TemperaturePane() const { return m_lower; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    charts::ChartPane* m_upper = nullptr; // control 1055
    charts::ChartPane* m_lower = nullptr; // control 1056
    QCPGraph* m_humidity = nullptr;       // owned by m_upper
    QCPGraph* m_temperature = nullptr;    // owned by m_lower
};

} // namespace hygro::ui
