// The table view's two controls: the sensor tree and the sensor table. Child i of the
// tree's root, row i of the table and sensor index i are the same in-use sensor.
// Every operation runs on the GUI thread; those taking the database expect the caller
// to hold the database lock.
#pragma once

#include <QFont>
#include <QPoint>
#include <QString>
#include <QTableWidget>
#include <QTreeWidget>

#include <array>
#include <unordered_map>

namespace hygro {
class CWiFiSensorDatabase;
}

namespace hygro::ui {

// `base` with its family swapped for an installed one that has "℃" (U+2103) and the
// full-width colon (U+FF1A), when `base` lacks them; otherwise `base` unchanged.
QFont SymbolFont(const QFont& base);
// True when the font's own glyphs (not a fallback's) cover U+2103 and U+FF1A.
bool CoversSymbols(const QFont& font);

class SensorTree : public QTreeWidget {
    Q_OBJECT
  public:
    static constexpr int kDataRole = Qt::UserRole;
    static constexpr int kRootData = -1;

    explicit SensorTree(QWidget* parent = nullptr);

    // Drops every item and inserts the expanded root "Computer" (data -1).
    void InitTreeHead();
    // Rebuilds the root's children from the in-use sensors and stores their handles.
    void TreeUpDate(CWiFiSensorDatabase& db);
    // Inserts the child of the sensor just added at index n (database rows already in).
    void AddDevToTreeCtrl(CWiFiSensorDatabase& db, int n);
    // Raises the data of every child with data >= n, except the child added last.
    void CheckItemDataForAdd(int n);
    // Lowers the data of every child with data > n.
    void CheckItemDataForDelete(int n);
    // Removes the item of a handle stored in "HTREEITEM"; false for an unknown handle.
    bool DeleteItemByHandle(int handle);
    // The whole deletion of sensor n: shift the data, then remove its item.
    void DeleteDevFromTreeCtrl(CWiFiSensorDatabase& db, int n);
    // New text for the item of a handle (sensor renamed); false for an unknown handle.
    bool SetItemTextByHandle(int handle, const QString& text);

    QTreeWidgetItem* RootItem() const { return m_root; }
    QTreeWidgetItem* ItemForHandle(int handle) const;
    // Item data of a child, kRootData for the root or null.
    static int ItemData(const QTreeWidgetItem* item);

  signals:
    // Right click on a sensor's item (never for the root or the background).
    void sensorContextMenuRequested(int index, QPoint globalPos);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Inserts a child at `position` of the root; returns its handle.
    int InsertChild(int position, const QString& name, int data);
    void ForgetHandles();

    QTreeWidgetItem* m_root = nullptr; // owned by the tree
    // Handles are small ids, never pointer values, so the database stays plain ints.
    std::unordered_map<int, QTreeWidgetItem*> m_items;
    int m_nextHandle = 1;
    int m_lastAddedHandle = 0;
};

class SensorTable : public QTableWidget {
    Q_OBJECT
  public:
    enum Column : int {
        kColNo = 0,
        kColModel,
        kColName,
        kColTime,
        kColHumidity,
        kColTemperature,
        kColGraph,
        kColAlarm,
        kColumnCount
    };
    // Alarm value mirrored in the alarm cell, so clicks need no database access.
    static constexpr int kAlarmRole = Qt::UserRole;

    explicit SensorTable(QWidget* parent = nullptr);

    // Column widths for a table of the given outer width.
    static std::array<int, kColumnCount> ColumnWidths(int tableWidth);
    // Texts of a fresh reading.
    static QString HumidityText(double humidity);
    static QString TemperatureText(double temperature);
    // Texts of a value loaded with the device list (empty when there was no reading).
    static QString StoredValueText(double value);
    static QString AlarmText(int alarm);

    // Drops all rows and sets up the eight columns.
    void InitTableHead();
    void UpdateColumnWidths();
    // Rebuilds one row per in-use sensor.
    void TableUpDate(CWiFiSensorDatabase& db);
    // Inserts row n for the sensor just added; the reading cells stay empty.
    void AddDevToTableCtrl(CWiFiSensorDatabase& db, int n);
    void deleteItemEx(int row);
    // After a reading: "Time", "Humidity", "Temperature" and the alarm cell from the
    // Table columns of sensor `index`.
    void RefreshRow(CWiFiSensorDatabase& db, int index);
    void SetAlarmCell(int row, int alarm);
    void SetNameCell(int row, const QString& name);

    // Row of the last single click on an alarm cell, -1 otherwise.
    int ClickedAlarmRow() const { return m_clickedAlarmRow; }

  signals:
    void historyButtonClicked(int row);
    // Double click on the alarm cell that got the preceding single click, alarm > 0.
    void alarmCellActivated(int row);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void SetText(int row, int column, const QString& text);
    void AddRowButton(int row);
    void FillRow(CWiFiSensorDatabase& db, int index, int row, bool withReadings);

    int m_clickedAlarmRow = -1;
};

} // namespace hygro::ui
