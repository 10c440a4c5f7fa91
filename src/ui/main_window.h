// The station's one top-level window: map view (map, splitter, humidity and temperature
// charts) or table view (tree, splitter, table), the RX/TX status lights, the menus and
// the one-second poll tick. It hosts the acquisition and receives its events.
#pragma once

#include "acq/acquisition.h"
#include "charts/chart_data.h"

#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QTimer;

namespace hygro {
class CAppForNimbo1App;
class PendingSensors;
} // namespace hygro

namespace hygro::charts {
class ChartPane;
class LumoCharts;
struct SensorCurveInfo;
} // namespace hygro::charts

namespace hygro::map {
class CPicCtrl_WiFiSensor;
}

namespace hygro::ui {

class CDlgGetIpAndConnect;
class CDlgShowSdz;
class MainArea;
class SensorTree;
class SensorTable;

class CAppForNimbo1Dlg : public QMainWindow, private AcquisitionEvents {
    Q_OBJECT
  public:
    static constexpr int kStatusBarHeight = 20;
    static constexpr int kSplitterWidth = 4;
    static constexpr int kLightMs = 500;

    explicit CAppForNimbo1Dlg(CAppForNimbo1App& app, QWidget* parent = nullptr);
    ~CAppForNimbo1Dlg() override;

    // Everything that needs the started network and tables: views, timers, receive check.
    void InitDialog();

    // Safe from any thread: the change is made on the window's thread.
    void StartRxLed(int index);
    void StartTxLed(int index);
    void SetConnectLed(int index, int connected);
    void SetTimerFlags(int enabled);

    // View mode: both menu items toggle it.
    void OnSettingMap();
    void OnSettingTable();
    int ViewMode() const;
    bool RxLit() const { return m_rxLit; }
    bool TxLit() const { return m_txLit; }
    CAcquisition& Acquisition() { return *m_acquisition; }
    QAction* ViewDependentAction(int i) const { return m_viewActions[i]; }
    QAction* MapModeAction() const { return m_mapAction; }
    QAction* TableModeAction() const { return m_tableAction; }
    SensorTable* Table() const { return m_table; }
    SensorTree* Tree() const { return m_tree; }
    MainArea* Area() const { return m_area; }
    // Double click on a sensor's alarm cell: the alarm list, then its outcome applied.
    void OnNMDblclkList1(int row);
    // "Tool" > "Alarm Mail": the mail settings, accepted only after a test mail.
    void OnToolAlarmMail();
    // "Setting" > "Display Mode": the show-mode dialog, then the charts rebuilt.
    void On12();
    // A table row's "-" button: that sensor's last five minutes.
    void OnKXTableBtnCLick(int row);
    // After sensor n was edited: mode 1 recolours only; otherwise the curves are reloaded.
    void LumoGraphUpDate(int n, int mode);
    charts::LumoCharts* Charts() const { return m_charts; }
    map::CPicCtrl_WiFiSensor* Map() const { return m_map; }
    CDlgShowSdz* HistoryMap() const { return m_historyMap; }
    // "Map File" > "Open": a picture for the map, or a map file for the history window.
    void OnOpenamapfileOpenfile();
    // "Map File" > "Create": the settings and the map picture bundled into a ".sdz".
    void OnOpenamapfileCreatefile();
    // The context menu's "Move": sensor index follows the mouse until the next release.
    void StartMoveSensor(int index);
    // Applies a release on the map (hit-test result, position as fractions).
    void OnMapReleased(int result, double fx, double fy, const QPoint& globalPos);
    const RealTimeAxis* RealTime() const { return m_realTime.get(); }

    // "Get IP && Connection": the discovery dialog, then the poll interval applied.
    void OnSettingsensorGetipconnection();
    // "Add Sensor": found sensors chosen, then placed on the map one by one.
    void OnAppendOneSensor();
    // A free spot on the map was clicked while sensors wait to be placed.
    void PlaceOneSensor(double fx, double fy);
    // Every sensor still waiting to be placed goes back to the found sensors.
    void EndAddSensor();
    int PendingCount() const;
    // The context menu's "Edit" and "Delete" for the menu-select index.
    void OnRbtninpicEdit();
    void OnRbtninpicDelete();
    void SetMenuSelectIndex(int index) { m_menuSelectIndex = index; }
    // In-use sensor i becomes a found sensor again (lock held by the caller).
    void DeleteDevice(int i);
    // Found sensor i leaves the database (polling off and lock held by the caller).
    void DeleteDevice2(int i);
    // The edit dialog for every in-use sensor without a data folder (or for one).
    void CheckAllDevFolder();
    void CheckONeDevFolder(int i);
    // Discovery list: a known sensor's serial refreshed by a search reply (any thread).
    void RefreshDiscoverySerial(int index, int serial);
    CDlgGetIpAndConnect* Discovery() const;
    bool CursorConfined() const { return m_confineToMap; }

  protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    // AcquisitionEvents, called on the receive-check thread.
    void SetDevConnectValue(int index, int connected) override;
    void RefreshTableRow(int index) override;
    void ScrollRealTime(const SystemTime& poll) override;
    void AddLivePoint(int index, const SystemTime& poll, double h, double t) override;
    void AlarmRaised(int index) override;
    int SendAlarmMail(int index, const SystemTime& poll, double h, double t) override;

    // Closing flag, timers off, receive check stopped (logged once).
    void StopWork();
    void BuildMenus();
    void InitStatusBarCtrl();
    void FirstShowAll();
    void ChangeToViewModeMap();
    void ChangeToViewModeTable();
    void ApplyViewMode();
    void SaveViewModeSetting();
    void ShowSensorMenu(int index, const QPoint& globalPos);
    // Charts: the per-sensor curves, the x axes of the show mode, a sensor's points.
    charts::SensorCurveInfo CurveInfo(int index);
    void InitLumoLine();
    void InitLumoGraphShowMode();
    void ShowDevLineToLumo(int n);
    void ShowAllDevLines();
    // Map view entered: chart start = now, axes rebuilt, shown sensors loaded.
    void EnterMapViewCharts();
    // The live map picture at start: the built-in plan, or the packed copy of the chosen one.
    void CreateBMPMem();
    // The packed copy unpacked and shown as the live picture: 1, 0 when it could not be
    // read (the operator was told), -1 when its picture cannot be decoded.
    int UncompressFileToBmp(const std::filesystem::path& packed);
    // A chosen picture packed into the data folder and shown; results as above.
    int CreateBMPMemForOpenBMP(const std::filesystem::path& picture);
    // The live picture released and the stored picture path emptied.
    void ClearBmpInMem();
    // Boxes for every in-use sensor from the device tables.
    void UpdateMapBoxes();
    // Clicks outside the map are ignored while a sensor is moved or placed.
    void SetCursorMoveRect(bool confine);
    // SaveAllDev asking for missing folders (only where no lock is held).
    void SaveDeviceList();
    // Map width from the picture's proportions (after a new picture), saved as "PWidth".
    void FitMapWidth(double widthPerHeight);

    CAppForNimbo1App& m_app;
    std::unique_ptr<CAcquisition> m_acquisition;
    MainArea* m_area = nullptr;
    // The map pane (empty until its step lands) and the chart panes; owned by m_area.
    QWidget* m_mapPane = nullptr;
    map::CPicCtrl_WiFiSensor* m_map = nullptr; // the map pane
    CDlgShowSdz* m_historyMap = nullptr;       // hidden until a map file is opened
    std::vector<unsigned char> m_mapPicture;   // the chosen picture's bytes; empty: built-in
    charts::ChartPane* m_upperPane = nullptr;
    charts::ChartPane* m_lowerPane = nullptr;
    charts::LumoCharts* m_charts = nullptr;   // child QObject
    std::unique_ptr<RealTimeAxis> m_realTime; // GUI thread
    SensorTree* m_tree = nullptr;
    SensorTable* m_table = nullptr;
    QLabel* m_rxLight = nullptr;
    QLabel* m_txLight = nullptr;
    QPixmap m_lightOn, m_lightOff;
    bool m_rxLit = false, m_txLit = false;
    QTimer* m_pollTimer = nullptr;
    QTimer* m_rxTimer = nullptr;
    QTimer* m_txTimer = nullptr;
    QTimer* m_firstShowTimer = nullptr;
    bool m_firstShowDone = false;
    std::atomic<bool> m_closing{false};
    int m_menuSelectIndex = -1;
    QPointer<CDlgGetIpAndConnect> m_discovery; // set while the discovery dialog runs
    std::vector<int> m_chosen;
    std::unique_ptr<PendingSensors> m_pending;
    bool m_confineToMap = false;
    QAction* m_viewActions[3] = {};
    QAction* m_mapAction = nullptr;
    QAction* m_tableAction = nullptr;
};

} // namespace hygro::ui
