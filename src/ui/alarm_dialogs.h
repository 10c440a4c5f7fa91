// The alarm list of one sensor ("Alarm Data", opened from the table's alarm cell) and
// the limits dialog ("Limit") it opens.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

#include "acq/alarm_file.h"
#include "acq/sensor_alarms.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace hygro {
class CAppForNimbo1App;
}

namespace hygro::ui {

// Rows of the alarm list: name, time, humidity, temperature.
class AlarmRecordModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetRecords(QString name, std::vector<AlarmRecord> records);
    void Clear();
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    QString m_name;
    std::vector<AlarmRecord> m_records;
};

class CDlgSetSensorLimit : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgSetSensorLimit(QWidget* parent = nullptr);

    // Texts shown at start.
    void SetInfo(const QString& hMax, const QString& hMin, const QString& tMax, const QString& tMin);
    // The limits accepted with OK.
    void GetLimit(double& hMax, double& hMin, double& tMax, double& tMin) const;
    SensorLimits Limits() const { return m_limits; }

    // Reads and checks the four fields; closes with OK only when they pass, otherwise
    // shows the first field's message and stays open.
    void OnOK();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLineEdit* m_hMax = nullptr;
    QLineEdit* m_hMin = nullptr;
    QLineEdit* m_tMax = nullptr;
    QLineEdit* m_tMin = nullptr;
    SensorLimits m_limits;
};

class CDlgAllErrorData : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgAllErrorData(CAppForNimbo1App& app, QWidget* parent = nullptr);

    // Loads sensor nIndex's limits and alarm records.
    void SetInfo(int nIndex);
    // Time of the newest record listed (all 0 when none was).
    void GetAlarmTime(std::uint16_t& wYear, std::uint16_t& wMonth, std::uint16_t& wDay, std::uint16_t& wHour,
                      std::uint16_t& wMinute, std::uint16_t& wSecond) const;
    int GetIsClear() const { return m_isClear ? 1 : 0; }
    AlarmListOutcome Outcome() const { return {m_alarmTime, m_isClear}; }

    // "Clear Alarm": empties the list; the file changes only after the dialog closed.
    void OnClearAlarm();
    // "Set Limit": the limits dialog; on OK the sensor's limits change (and are saved) at once.
    void OnSetLimit();

    QTableView* List() const { return m_list; }
    static std::array<int, 4> ColumnWidths(int listWidth);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ShowLimits();
    void UpdateColumnWidths();

    CAppForNimbo1App& m_app;
    int m_index = -1;
    SensorLimits m_limits;
    SystemTime m_alarmTime;
    bool m_isClear = false;
    AlarmRecordModel m_model;
    QTableView* m_list = nullptr;
    QLabel* m_hMax = nullptr;
    QLabel* m_hMin = nullptr;
    QLabel* m_tMax = nullptr;
    QLabel* m_tMin = nullptr;
};

} // namespace hygro::ui
