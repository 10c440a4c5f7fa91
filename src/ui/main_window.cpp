#include "ui/main_window.h"

#include "acq/sensor_checks.h"
#include "acq/sensor_editing.h"
#include "app/app_core.h"
#include "charts/lumo_charts.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "map/map_files.h"
#include "map/map_layout.h"
#include "map/map_widget.h"
#include "ui/alarm_dialogs.h"
#include "ui/aux_windows.h"
#include "ui/chart_dialogs.h"
#include "ui/db_access.h"
#include "ui/discovery_dialogs.h"
#include "ui/mail_dialogs.h"
#include "ui/main_area.h"
#include "ui/map_dialogs.h"
#include "ui/sensor_dialogs.h"
#include "ui/sensor_views.h"
#include "util/kx_log.h"
#include "util/message_box.h"
#include "util/text.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <thread>

namespace hygro::ui {
namespace {

QPixmap Light(const QColor& fill) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    return pm;
}

int PollInterval(CAppForNimbo1App& app) {
    return static_cast<int>(app.Settings().GetBaseInfo()->GetTimeForNet());
}

// In-use sensors that the Dev and Lumo tables have rows for.
int InUseCount(CWiFiSensorDatabase& db) {
    return hygro::InUseCount(db, db.GetDevDB(), db.GetLumoDB());
}

// The sensor's data folder: data path / Dev "Folder" (database lock held).
std::filesystem::path SensorFolder(CAppForNimbo1App& app, int index) {
    return app.Settings().GetDataPath() / CellValue<std::string>(app.Database().GetDevDB(), index, "Folder");
}

// The show-mode period as stored.
SystemTime ShowModePeriod(const CGlobalMember& s) {
    SystemTime period;
    period.wYear = s.GetShowModeHistoryYear();
    period.wMonth = s.GetShowModeHistoryMonth();
    period.wDay = s.GetShowModeHistoryDay();
    period.wHour = s.GetShowModeHistoryHour();
    period.wMinute = s.GetShowModeHistoryMinute();
    period.wSecond = s.GetShowModeHistorySecond();
    return period;
}

} // namespace

CAppForNimbo1Dlg::CAppForNimbo1Dlg(CAppForNimbo1App& app, QWidget* parent)
    : QMainWindow(parent), m_app(app),
      m_acquisition(std::make_unique<CAcquisition>(app, static_cast<AcquisitionEvents*>(this))),
      m_pending(std::make_unique<PendingSensors>()) {
    setWindowTitle(QStringLiteral("Hygrolog"));
    resize(1024, 700);
    m_lightOn = Light(QColor(40, 200, 60));
    m_lightOff = Light(QColor(120, 120, 120));

    m_area = new MainArea(this);
    setCentralWidget(m_area);
    // The wheel does nothing anywhere in the window.
    qApp->installEventFilter(this);
    BuildMenus();
    InitStatusBarCtrl();

    m_pollTimer = new QTimer(this);
    connect(m_pollTimer, &QTimer::timeout, this, [this] {
        if (!m_closing) m_acquisition->OnTimerTick();
    });
    m_rxTimer = new QTimer(this);
    m_rxTimer->setSingleShot(true);
    connect(m_rxTimer, &QTimer::timeout, this, [this] {
        m_rxLight->setPixmap(m_lightOff);
        m_rxLit = false;
    });
    m_txTimer = new QTimer(this);
    m_txTimer->setSingleShot(true);
    connect(m_txTimer, &QTimer::timeout, this, [this] {
        m_txLight->setPixmap(m_lightOff);
        m_txLit = false;
    });
    m_firstShowTimer = new QTimer(this);
    m_firstShowTimer->setSingleShot(true);
    connect(m_firstShowTimer, &QTimer::timeout, this, [this] {
        if (!m_firstShowDone && !m_closing) {
            m_firstShowDone = true;
            FirstShowAll();
        }
    });
}

CAppForNimbo1Dlg::~CAppForNimbo1Dlg() = default;

void CAppForNimbo1Dlg::BuildMenus() {
    QMenu* setting = menuBar()->addMenu(QStringLiteral("Setting"));
    m_viewActions[0] = setting->addAction(QStringLiteral("Display Mode"));
    connect(m_viewActions[0], &QAction::triggered, this, [this] { On12(); });
    QMenu* sensor = setting->addMenu(QStringLiteral("Setting Sensor"));
    QAction* getIp = sensor->addAction(QStringLiteral("Get IP && Connection"));
    QAction* add = sensor->addAction(QStringLiteral("Add Sensor"));
    connect(getIp, &QAction::triggered, this, [this] { OnSettingsensorGetipconnection(); });
    connect(add, &QAction::triggered, this, [this] { OnAppendOneSensor(); });
    QMenu* mapFile = setting->addMenu(QStringLiteral("Map File"));
    m_viewActions[1] = mapFile->addAction(QStringLiteral("Open"));
    m_viewActions[2] = mapFile->addAction(QStringLiteral("Create"));
    connect(m_viewActions[1], &QAction::triggered, this, [this] { OnOpenamapfileOpenfile(); });
    connect(m_viewActions[2], &QAction::triggered, this, [this] { OnOpenamapfileCreatefile(); });

    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    QMenu* mode = view->addMenu(QStringLiteral("Mode"));
    m_mapAction = mode->addAction(QStringLiteral("Map"));
    m_tableAction = mode->addAction(QStringLiteral("Table"));
    m_mapAction->setCheckable(true);
    m_tableAction->setCheckable(true);
    connect(m_mapAction, &QAction::triggered, this, [this] { OnSettingMap(); });
    connect(m_tableAction, &QAction::triggered, this, [this] { OnSettingTable(); });

    QMenu* tool = menuBar()->addMenu(QStringLiteral("Tool"));
    QAction* alarmMail = tool->addAction(QStringLiteral("Alarm Mail"));
    connect(alarmMail, &QAction::triggered, this, [this] { OnToolAlarmMail(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    QAction* clear = help->addAction(QStringLiteral("Clear History Data"));
    connect(clear, &QAction::triggered, this, [this] {
        ClearHistoryHooks hooks;
        // Nothing may write history while the folders are being deleted.
        hooks.stopWork = [this] { StopWork(); };
        hooks.endWindow = [this] { close(); };
        ClearHistoryData(m_app, this, hooks);
    });
    QAction* about = help->addAction(QStringLiteral("About Version"));
    connect(about, &QAction::triggered, this, [this] {
        AboutDialog dlg(this);
        dlg.exec();
    });
}

void CAppForNimbo1Dlg::InitStatusBarCtrl() {
    QStatusBar* bar = statusBar();
    bar->setFixedHeight(kStatusBarHeight);
    bar->setSizeGripEnabled(false);
    auto makeLight = [&](const QString& text, QLabel*& icon) {
        auto* box = new QWidget(bar);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(4, 0, 4, 0);
        row->setSpacing(4);
        icon = new QLabel(box);
        icon->setPixmap(m_lightOff);
        row->addWidget(icon);
        row->addWidget(new QLabel(text, box));
        box->setFixedWidth(50);
        bar->addWidget(box);
    };
    makeLight(QStringLiteral("RX"), m_rxLight);
    makeLight(QStringLiteral("TX"), m_txLight);
}

void CAppForNimbo1Dlg::InitDialog() {
    CGlobalMember& settings = m_app.Settings();
    m_map = new map::CPicCtrl_WiFiSensor(m_area);
    m_map->setObjectName(QStringLiteral("map"));
    m_map->setFont(SymbolFont(m_map->font()));
    QWidget* map = m_map;
    connect(m_map, &map::CPicCtrl_WiFiSensor::released, this,
            [this](int result, double fx, double fy, QPoint pos) { OnMapReleased(result, fx, fy, pos); });
    m_historyMap = new CDlgShowSdz(this);
    m_historyMap->hide();
    CreateBMPMem();
    auto* upper = new charts::ChartPane(HumidityAxis(), true, m_area);
    auto* lower = new charts::ChartPane(TemperatureAxis(), true, m_area);
    upper->setObjectName(QStringLiteral("humidityChart"));
    lower->setObjectName(QStringLiteral("temperatureChart"));
    // Titles carry "℃" and the full-width colon.
    upper->setFont(SymbolFont(upper->font()));
    lower->setFont(SymbolFont(lower->font()));
    // The charts only show; they take no input.
    upper->setEnabled(false);
    lower->setEnabled(false);
    m_charts = new charts::LumoCharts(upper, lower, this);
    m_realTime = std::make_unique<RealTimeAxis>(PollInterval(m_app), GetLocalTime());
    m_tree = new SensorTree(m_area);
    m_table = new SensorTable(m_area);
    m_tree->setObjectName(QStringLiteral("sensorTree"));
    m_table->setObjectName(QStringLiteral("sensorTable"));
    {
        CDatabaseLock::Guard guard(m_app.DatabaseLock());
        m_table->TableUpDate(m_app.Database());
        m_tree->TreeUpDate(m_app.Database());
    }
    connect(m_table, &SensorTable::alarmCellActivated, this, [this](int row) { OnNMDblclkList1(row); });
    connect(m_tree, &SensorTree::sensorContextMenuRequested, this,
            [this](int index, QPoint pos) { ShowSensorMenu(index, pos); });
    m_mapPane = map;
    m_upperPane = upper;
    m_lowerPane = lower;
    InitLumoGraphShowMode();
    InitLumoLine();
    m_area->SetSplitterLeft(settings.GetPictureWidth());
    m_area->onSplitterReleased = [this](int x) {
        m_app.Settings().SetPictureWidth(x);
        m_app.Settings().SavePictureWidth();
    };
    ApplyViewMode();
    if (ViewMode() == 0) ShowAllDevLines();

    m_acquisition->StartTimerWorkThread();
    connect(m_table, &SensorTable::historyButtonClicked, this, [this](int row) { OnKXTableBtnCLick(row); });
    m_pollTimer->start(1000);
    m_firstShowTimer->start(200);
    m_acquisition->StartCheckReceiveDataThread();
}

void CAppForNimbo1Dlg::FirstShowAll() {
    const CGlobalMember& s = m_app.Settings();
    if (s.GetLeft() != 0 || s.GetTop() != 0 || s.GetWidth() != 0 || s.GetHeight() != 0) {
        // The saved rectangle is the outer one (frame included).
        const QSize frameExtra = frameGeometry().size() - size();
        const QSize client(s.GetWidth() - frameExtra.width(), s.GetHeight() - frameExtra.height());
        if (client.width() > 200 && client.height() > 150) {
            move(s.GetLeft(), s.GetTop());
            resize(client);
        }
    }
    ApplyViewMode();
    UpdateMapBoxes();
    g_MailSender.SetSettings(m_app.Settings().GetAlarmMailInfo());
    g_MailSender.Start();
    CheckAllDevFolder();
}

void CAppForNimbo1Dlg::CreateBMPMem() {
    m_mapPicture.clear();
    if (m_app.Settings().GetPicturePath().empty()) {
        m_map->LoadBuiltIn();
        return;
    }
    const std::filesystem::path packed = m_app.Settings().GetDataPath() / kPackedPictureName;
    if (!std::filesystem::exists(packed) || UncompressFileToBmp(packed) != 1) m_map->SetPicture({});
}

int CAppForNimbo1Dlg::UncompressFileToBmp(const std::filesystem::path& packed) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    UnpackResult unpacked = UnpackFile(packed);
    QApplication::restoreOverrideCursor();
    if (!unpacked.error.empty()) ShowMessage(unpacked.error);
    if (unpacked.bytes.empty()) return 0;
    if (m_map->AttachBmpFile(unpacked.bytes) == 0) return -1;
    m_mapPicture = std::move(unpacked.bytes);
    return 1;
}

int CAppForNimbo1Dlg::CreateBMPMemForOpenBMP(const std::filesystem::path& picture) {
    // The chosen picture is kept packed beside the settings, so the map survives the
    // original being moved or deleted.
    const std::filesystem::path packed = m_app.Settings().GetDataPath() / kPackedPictureName;
    if (picture.empty() || !std::filesystem::exists(picture)) return 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string error = PmqFile(picture, packed);
    QApplication::restoreOverrideCursor();
    if (!error.empty()) {
        ShowMessage(error);
        return 0;
    }
    return UncompressFileToBmp(packed);
}

void CAppForNimbo1Dlg::ClearBmpInMem() {
    m_mapPicture.clear();
    m_map->SetPicture({});
    m_app.Settings().SetPicturePath({});
}

void CAppForNimbo1Dlg::UpdateMapBoxes() {
    if (!m_map) return;
    MapBoxes& boxes = m_map->Boxes();
    WithDatabaseLock(m_app.DatabaseLock(), "map boxes", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        CTable_WiFiSensorDB* pic = db.GetPicDB();
        const int count = std::min(InUseCount(db), pic->GetRowCount());
        for (int i = static_cast<int>(boxes.Boxes().size()); i < count; ++i) {
            const charts::SensorCurveInfo info = CurveInfo(i);
            const double x = CellValue<double>(pic, i, "PosX"), y = CellValue<double>(pic, i, "PosY");
            boxes.AddDev(i, info.name.toStdString(), x, y, info.colour.red(), info.colour.green(),
                         info.colour.blue());
        }
    });
    m_map->update();
}

void CAppForNimbo1Dlg::FitMapWidth(double widthPerHeight) {
    const int mapHeight = std::max(1, m_area->height());
    const int width = std::max(1, static_cast<int>(mapHeight * widthPerHeight));
    m_app.Settings().SetPictureWidth(width);
    m_app.Settings().SavePictureWidth();
    m_area->SetSplitterLeft(width);
    m_app.Settings().SetReadPictureMode(2);
    m_app.Settings().SavePictureInfo();
    m_area->DockPane();
}

void CAppForNimbo1Dlg::OnOpenamapfileOpenfile() {
    CDlgSetPicturePath dlg(this);
    if (dlg.exec() != QDialog::Accepted) {
        update();
        return;
    }
    const QString path = dlg.GetPath();
    CGlobalMember& s = m_app.Settings();
    if (path.isEmpty()) {
        ClearBmpInMem();
        CreateBMPMem();
        FitMapWidth(227.0 / 470.0);
    } else if (IsMapFilePath(path)) {
        if (m_historyMap->SetInfo(path)) {
            m_historyMap->show();
            m_historyMap->raise();
            m_historyMap->update();
        }
    } else {
        ClearBmpInMem();
        if (const int loaded = CreateBMPMemForOpenBMP(path.toStdString()); loaded != 1) {
            // Packing and unpacking say what failed; a picture nobody can decode does not.
            if (loaded < 0) ShowMessage(std::string("File is error!"));
            CreateBMPMem(); // back to the built-in plan rather than an empty map
            update();
            return;
        }
        s.SetPicturePath(path.toStdU16String());
        FitMapWidth(m_map->GetXDividedYValue());
    }
    update();
}

void CAppForNimbo1Dlg::OnOpenamapfileCreatefile() {
    CGlobalMember& s = m_app.Settings();
    // The map file bundles the settings as they are now.
    s.SetLocalIp(m_app.Net().GetLocalIP());
    s.SaveDataPath();
    const QRect r = frameGeometry();
    s.SaveWmdPos(r.left(), r.top(), r.width(), r.height());
    s.SaveOtherInfo();
    WithDatabaseLock(m_app.DatabaseLock(), "map file", [&] {
        m_app.SaveAllDev();
        m_app.SaveMd5();
    });
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Save map"), QString(),
                                                        QStringLiteral("sdz(*.sdz)"));
    if (chosen.isEmpty()) {
        update();
        return;
    }
    const std::filesystem::path target = MapFileTarget(chosen.toStdString());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string error = CreateMapFile(s.GetSettingsPath(), m_mapPicture, target);
    QApplication::restoreOverrideCursor();
    ShowMessage(error.empty() ? std::string("Success to create filie!") : error);
    update();
}

void CAppForNimbo1Dlg::StartMoveSensor(int index) {
    if (!m_map || index < 0 || ViewMode() != 0) return;
    m_menuSelectIndex = index;
    SetCursorMoveRect(true);
    m_map->Boxes().StartMoveDev(index);
}

void CAppForNimbo1Dlg::OnMapReleased(int result, double fx, double fy, const QPoint& globalPos) {
    if (ViewMode() != 0) return;
    if (result >= 0) {
        ShowSensorMenu(result, globalPos);
    } else if (result == kHitMoveEnded) {
        SetCursorMoveRect(false);
        const int index = m_menuSelectIndex;
        m_map->Boxes().UpDateDevPos(index, fx, fy);
        // Saved at once: a moved sensor keeps its place whatever happens next.
        WithDatabaseLock(m_app.DatabaseLock(), "sensor position", [&] {
            CTable_WiFiSensorDB* pic = m_app.Database().GetPicDB();
            if (index < 0 || index >= pic->GetRowCount()) return;
            pic->GetRow(index)->SetValue(pic, "PosX", fx);
            pic->GetRow(index)->SetValue(pic, "PosY", fy);
            m_app.SaveAllDev();
            m_app.SaveMd5();
        });
        m_map->update();
    } else if (result == kHitPlaceOnBox) {
        ShowMessage(std::string("Error Posion!"));
    } else if (result == kHitPlaceFree) {
        PlaceOneSensor(fx, fy);
    }
}

void CAppForNimbo1Dlg::OnToolAlarmMail() {
    CGlobalMember& s = m_app.Settings();
    const CAlarmMailInfo current = s.GetAlarmMailInfo(); // only this thread writes it
    CDlgAlarmMail dlg(this);
    dlg.SetInfo(current.smtpServer, current.smtpPort, current.mailTo, current.user, current.password,
                current.time);
    if (dlg.exec() != QDialog::Accepted) return;
    // No mail may start with half of the new settings.
    g_MailSender.SetPause(1);
    // The receive check reads the server setting under the database lock.
    const bool stored = WithDatabaseLock(m_app.DatabaseLock(), "alarm mail settings",
                                         [&] { s.GetAlarmMailInfo() = dlg.Info(); });
    if (!stored) {
        g_MailSender.SetPause(0);
        ShowMessage(
            std::string("The mail settings were not changed: the station is busy. Please try again."));
        return;
    }
    s.SaveAlarmMail();
    g_MailSender.SetSettings(s.GetAlarmMailInfo());
    g_MailSender.SetPause(0);
    m_app.SaveMd5();
}

int CAppForNimbo1Dlg::ViewMode() const {
    return m_app.Settings().GetViewMode();
}

void CAppForNimbo1Dlg::ApplyViewMode() {
    if (ViewMode() == 0)
        ChangeToViewModeMap();
    else
        ChangeToViewModeTable();
}

void CAppForNimbo1Dlg::ChangeToViewModeMap() {
    QWidget* map = m_mapPane;
    QWidget* upper = m_upperPane;
    QWidget* lower = m_lowerPane;
    for (QAction* a : m_viewActions)
        a->setEnabled(true);
    m_mapAction->setChecked(true);
    m_tableAction->setChecked(false);
    if (m_tree) m_tree->hide();
    if (m_table) m_table->hide();
    m_area->SetMapView(true);
    if (map && upper && lower) {
        map->show();
        upper->show();
        lower->show();
        m_area->SetViews(map, upper, lower);
    }
    m_area->update();
}

void CAppForNimbo1Dlg::ChangeToViewModeTable() {
    QWidget* map = m_mapPane;
    QWidget* upper = m_upperPane;
    QWidget* lower = m_lowerPane;
    for (QAction* a : m_viewActions)
        a->setEnabled(false);
    m_mapAction->setChecked(false);
    m_tableAction->setChecked(true);
    if (map) map->hide();
    if (upper) upper->hide();
    if (lower) lower->hide();
    m_area->SetMapView(false);
    if (m_tree && m_table) {
        m_tree->show();
        m_table->show();
        m_area->SetViews(m_tree, m_table, nullptr);
        m_table->UpdateColumnWidths();
    }
    m_area->update();
}

void CAppForNimbo1Dlg::SaveViewModeSetting() {
    m_app.Settings().SaveViewMode();
}

void CAppForNimbo1Dlg::OnSettingMap() {
    // Both items toggle: the check mark only shows the current mode. The receive check
    // reads the mode under the database lock.
    const int mode = ViewMode() == 0 ? 1 : 0;
    WithDatabaseLock(m_app.DatabaseLock(), "view mode", [&] { m_app.Settings().SetViewMode(mode); });
    ApplyViewMode();
    if (m_charts) {
        if (ViewMode() == 0) {
            EnterMapViewCharts();
        } else {
            m_charts->ClearAll();
            m_charts->LumoGraphInvalidate();
        }
    }
    SaveViewModeSetting();
}

void CAppForNimbo1Dlg::OnSettingTable() {
    OnSettingMap();
}

void CAppForNimbo1Dlg::ShowSensorMenu(int index, const QPoint& globalPos) {
    m_menuSelectIndex = index;
    QMenu menu(this);
    QAction* edit = menu.addAction(QStringLiteral("Edit"));
    QAction* del = menu.addAction(QStringLiteral("Delete"));
    connect(edit, &QAction::triggered, this, [this] { OnRbtninpicEdit(); });
    connect(del, &QAction::triggered, this, [this] { OnRbtninpicDelete(); });
    QAction* move = menu.addAction(QStringLiteral("Move"));
    move->setEnabled(ViewMode() == 0);
    connect(move, &QAction::triggered, this, [this] { StartMoveSensor(m_menuSelectIndex); });
    menu.exec(globalPos);
}

void CAppForNimbo1Dlg::StartRxLed(int index) {
    QMetaObject::invokeMethod(this, [this, index] {
        if (index >= 0 && m_discovery) m_discovery->StartRx(index);
        if (m_rxLit) return; // a lit light is not re-armed: off 500 ms after it went on
        m_rxLit = true;
        m_rxLight->setPixmap(m_lightOn);
        m_rxTimer->start(kLightMs);
    });
}

void CAppForNimbo1Dlg::StartTxLed(int index) {
    QMetaObject::invokeMethod(this, [this, index] {
        if (index >= 0 && m_discovery) m_discovery->StartTx(index);
        if (m_txLit) return;
        m_txLit = true;
        m_txLight->setPixmap(m_lightOn);
        m_txTimer->start(kLightMs);
    });
}

void CAppForNimbo1Dlg::SetConnectLed(int index, int connected) {
    // Shown only by the discovery dialog while it is open.
    if (index < 0) return;
    QMetaObject::invokeMethod(this, [this, index, connected] {
        if (m_discovery) m_discovery->SetDevConnectValue(index, connected);
    });
}

void CAppForNimbo1Dlg::RefreshDiscoverySerial(int index, int serial) {
    QMetaObject::invokeMethod(this, [this, index, serial] {
        if (m_discovery) m_discovery->SetSerial(index, serial);
    });
}

void CAppForNimbo1Dlg::SetTimerFlags(int enabled) {
    m_acquisition->SetTimerFlags(enabled);
}

void CAppForNimbo1Dlg::SetDevConnectValue(int index, int connected) {
    SetConnectLed(index, connected);
}

void CAppForNimbo1Dlg::RefreshTableRow(int index) {
    // Called with the database lock held on the receive-check thread: read the row's
    // cells there and hand only the texts to the window.
    QMetaObject::invokeMethod(this, [this, index] {
        if (!m_table) return;
        CDatabaseLock::Guard guard(m_app.DatabaseLock());
        if (guard.owns()) m_table->RefreshRow(m_app.Database(), index);
    });
}

void CAppForNimbo1Dlg::AlarmRaised(int index) {
    QMetaObject::invokeMethod(this, [this, index] {
        if (m_table && index < m_table->rowCount()) m_table->SetAlarmCell(index, 2);
    });
}

void CAppForNimbo1Dlg::OnNMDblclkList1(int row) {
    if (m_closing || ViewMode() != 1 || !m_table || row < 0 || row >= m_table->rowCount()) return;
    int alarm = 0;
    WithDatabaseLock(m_app.DatabaseLock(), "alarm state",
                     [&] { alarm = CellValue<int>(m_app.Database().GetTableDB(), row, "Alarm"); });
    if (alarm <= 0) return;

    CDlgAllErrorData dlg(m_app, this);
    dlg.SetInfo(row);
    dlg.exec();
    const AlarmListOutcome outcome = dlg.Outcome();
    int state = alarm;
    // The outcome must not be lost: applied and saved under the lock, so an append of the
    // receive check never interleaves with the clearing of the same file.
    const bool applied = WithDatabaseLock(m_app.DatabaseLock(), "alarm outcome", [&] {
        state = ApplyAlarmListOutcome(m_app.Database(), m_app.Settings().GetDataPath(), row, outcome);
        m_app.SaveAllDev();
        m_app.SaveMd5();
    });
    if (!applied) {
        ShowMessage(std::string("The alarm could not be updated: the station is busy. Please try again."));
        return;
    }
    if (row < m_table->rowCount()) m_table->SetAlarmCell(row, state);
}

int CAppForNimbo1Dlg::SendAlarmMail(int index, const SystemTime& poll, double h, double t) {
    // Receive-check thread, database lock held: the name is read here.
    if (m_app.Settings().GetAlarmMailInfo().smtpServer.empty()) return 0;
    CTable_WiFiSensorDB* dev = m_app.Database().GetDevDB();
    if (index < 0 || index >= dev->GetRowCount()) return 0;
    return g_MailSender.AddMail(ToUtf16(CellValue<std::string>(dev, index, "Name")), poll, h, t);
}

charts::SensorCurveInfo CAppForNimbo1Dlg::CurveInfo(int index) {
    CWiFiSensorDatabase& db = m_app.Database();
    CTable_WiFiSensorDB* lumo = db.GetLumoDB();
    auto channel = [&](const char* column) {
        return std::clamp(CellValue<int>(lumo, index, column), 0, 255);
    };
    charts::SensorCurveInfo info;
    info.name = QString::fromStdString(CellValue<std::string>(db.GetDevDB(), index, "Name"));
    info.colour = QColor(channel("ColorR"), channel("ColorG"), channel("ColorB"));
    return info;
}

void CAppForNimbo1Dlg::InitLumoLine() {
    std::vector<charts::SensorCurveInfo> sensors;
    WithDatabaseLock(m_app.DatabaseLock(), "chart curves", [&] {
        for (int i = 0; i < InUseCount(m_app.Database()); ++i)
            sensors.push_back(CurveInfo(i));
    });
    m_charts->InitLumoLine(sensors);
}

void CAppForNimbo1Dlg::InitLumoGraphShowMode() {
    const CGlobalMember& s = m_app.Settings();
    const int mode = s.GetShowMode();
    m_charts->SetXAxis(mode == kShowModeRealTime
                           ? m_realTime->Axis()
                           : XAxisForShowMode(mode, PollInterval(m_app), m_realTime->Start()));
}

void CAppForNimbo1Dlg::ShowDevLineToLumo(int n) {
    int show = 0;
    std::filesystem::path folder;
    WithDatabaseLock(m_app.DatabaseLock(), "chart points", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        if (n < 0 || n >= InUseCount(db)) return;
        show = CellValue<int>(db.GetLumoDB(), n, "Show");
        folder = SensorFolder(m_app, n);
    });
    if (show != 1) return;
    const CGlobalMember& s = m_app.Settings();
    const int mode = s.GetShowMode();
    const SystemTime period = ShowModePeriod(s);
    m_charts->AddPoints(n, mode == kShowModeRealTime ? LoadRealTimePoints(folder, m_realTime->Start())
                                                     : LoadHistoryPoints(folder, mode, period));
}

void CAppForNimbo1Dlg::ShowAllDevLines() {
    QApplication::setOverrideCursor(Qt::WaitCursor); // history files can be many
    for (int n = 0; n < m_charts->Count(); ++n)
        ShowDevLineToLumo(n);
    QApplication::restoreOverrideCursor();
    m_charts->LumoGraphInvalidate();
}

void CAppForNimbo1Dlg::EnterMapViewCharts() {
    m_realTime = std::make_unique<RealTimeAxis>(PollInterval(m_app), GetLocalTime());
    InitLumoGraphShowMode();
    ShowAllDevLines();
}

void CAppForNimbo1Dlg::On12() {
    CGlobalMember& s = m_app.Settings();
    CDlgShowMode dlg(this);
    SystemTime period = ShowModePeriod(s);
    dlg.SetInfo(s.GetShowMode(), period);
    if (dlg.exec() != QDialog::Accepted) return;
    int mode = 0;
    dlg.GetInfo(mode, period);
    // The receive check reads the mode under the database lock.
    WithDatabaseLock(m_app.DatabaseLock(), "show mode", [&] {
        s.SetShowModeInfo(mode, period.wYear, period.wMonth, period.wDay, period.wHour, period.wMinute,
                          period.wSecond);
    });
    s.SaveShowModeInfo();
    m_charts->ClearAll();
    InitLumoGraphShowMode();
    ShowAllDevLines();
}

void CAppForNimbo1Dlg::OnKXTableBtnCLick(int row) {
    QString name;
    QColor colour;
    std::filesystem::path folder;
    bool known = false;
    WithDatabaseLock(m_app.DatabaseLock(), "history window", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        if (row < 0 || row >= InUseCount(db)) return;
        const charts::SensorCurveInfo info = CurveInfo(row);
        name = info.name;
        colour = info.colour;
        folder = SensorFolder(m_app, row);
        known = true;
    });
    if (!known) return;
    const SystemTime start = AddMinutes(GetLocalTime(), -4);
    CDlgShowLumoGraphForTable dlg(this);
    dlg.SetInfo(name, folder, colour, start.wYear, start.wMonth, start.wDay, start.wHour, start.wMinute);
    dlg.exec();
}

void CAppForNimbo1Dlg::LumoGraphUpDate(int n, int mode) {
    if (!m_charts || n < 0 || n >= m_charts->Count()) return;
    int show = 0;
    charts::SensorCurveInfo info;
    WithDatabaseLock(m_app.DatabaseLock(), "chart update", [&] {
        info = CurveInfo(n);
        show = CellValue<int>(m_app.Database().GetLumoDB(), n, "Show");
    });
    if (show != 0 && mode == 1) {
        m_charts->SetColour(n, info.colour);
    } else {
        m_charts->ClearDevLumoLine(n);
        m_charts->SetColour(n, info.colour);
        if (show == 1 && ViewMode() == 0) ShowDevLineToLumo(n);
    }
    m_charts->LumoGraphInvalidate();
}

void CAppForNimbo1Dlg::ScrollRealTime(const SystemTime& poll) {
    QMetaObject::invokeMethod(this, [this, poll] {
        if (!m_charts || !m_realTime || ViewMode() != 0 ||
            m_app.Settings().GetShowMode() != kShowModeRealTime)
            return;
        const RealTimeAxis::Change change = m_realTime->OnReading(poll);
        if (change.clearAll) m_charts->ClearAll();
        if (change.clearAll || change.axisChanged) m_charts->SetXAxis(m_realTime->Axis());
        m_charts->LumoGraphInvalidate();
    });
}

void CAppForNimbo1Dlg::AddLivePoint(int index, const SystemTime& poll, double h, double t) {
    QMetaObject::invokeMethod(this, [this, index, poll, h, t] {
        if (!m_charts || m_app.Settings().GetShowMode() != kShowModeRealTime) return;
        m_charts->AddPoints(index, LivePoints(poll, h, t));
        m_charts->LumoGraphInvalidate();
    });
}

void CAppForNimbo1Dlg::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape never close the station.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

bool CAppForNimbo1Dlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Wheel) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this) return true;
    }
    if (m_confineToMap && (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonRelease ||
                           e->type() == QEvent::MouseButtonDblClick)) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this && m_map && w != m_map && !m_map->isAncestorOf(w)) return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void CAppForNimbo1Dlg::StopWork() {
    m_closing = true;
    m_pollTimer->stop();
    m_rxTimer->stop();
    m_txTimer->stop();
    m_firstShowTimer->stop();
    m_acquisition->Stop();
}

void CAppForNimbo1Dlg::closeEvent(QCloseEvent* e) {
    StopWork();
    if (!m_pending->Empty()) {
        // Sensors still waiting to be placed stay known as found sensors.
        CDatabaseLock::Guard guard(m_app.DatabaseLock(), std::chrono::seconds(5));
        if (guard.owns()) m_pending->ReturnAll(m_app);
    }
    if (ViewMode() == 1 && m_table) m_table->hide();
    CGlobalMember& s = m_app.Settings();
    if (m_app.GetSkipSave() == 0) {
        s.SetLocalIp(m_app.Net().GetLocalIP());
        s.SaveDataPath();
        const QRect r = frameGeometry();
        s.SaveWmdPos(r.left(), r.top(), r.width(), r.height());
        s.SaveOtherInfo();
    }
    e->accept();
}


// ---- Sensor editing ----

namespace {

constexpr int kEndAddAttempts = 30;

std::vector<SensorRef> InUseRefs(CWiFiSensorDatabase& db) {
    std::vector<SensorRef> refs;
    for (int i = 0; i < InUseCount(db); ++i)
        refs.push_back({CellValue<std::string>(db.GetDevDB(), i, "Name"),
                        CellValue<std::string>(db.GetDevDB(), i, "Folder"),
                        CellValue<int>(db.GetTableDB(), i, "No.")});
    return refs;
}

// Polling stays off while the tables change; a second wait on the lock is never worth
// stalling the window for.
class TableChange {
  public:
    explicit TableChange(CAppForNimbo1Dlg& window, CDatabaseLock& lock) : m_window(window) {
        m_window.SetTimerFlags(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_owns = lock.Take();
        if (m_owns) m_lock = &lock;
    }
    ~TableChange() {
        if (m_lock) m_lock->Release();
        m_window.SetTimerFlags(1);
    }
    TableChange(const TableChange&) = delete;
    TableChange& operator=(const TableChange&) = delete;
    bool owns() const { return m_owns; }
    // Releases the lock early (before a message the operator must answer).
    void Release() {
        if (m_lock) m_lock->Release();
        m_lock = nullptr;
    }

  private:
    CAppForNimbo1Dlg& m_window;
    CDatabaseLock* m_lock = nullptr;
    bool m_owns = false;
};

} // namespace

void CAppForNimbo1Dlg::SetCursorMoveRect(bool confine) {
    m_confineToMap = confine;
}

void CAppForNimbo1Dlg::SaveDeviceList() {
    m_app.SaveAllDev([this](int i) { CheckONeDevFolder(i); });
}

CDlgGetIpAndConnect* CAppForNimbo1Dlg::Discovery() const {
    return m_discovery;
}

int CAppForNimbo1Dlg::PendingCount() const {
    return m_pending->Count();
}

void CAppForNimbo1Dlg::OnSettingsensorGetipconnection() {
    CGlobalMember& s = m_app.Settings();
    const int before = PollInterval(m_app);
    s.SetLocalIp(m_app.Net().GetLocalIP());
    s.SavePortInfo();
    DiscoveryHost host;
    host.setTimerFlags = [this](int on) { SetTimerFlags(on); };
    host.deleteDevice2 = [this](int index) { DeleteDevice2(index); };
    int result = QDialog::Rejected;
    {
        CDlgGetIpAndConnect dlg(m_app, host, this);
        m_discovery = &dlg;
        result = dlg.exec();
        m_discovery = nullptr;
    }
    if (result == QDialog::Accepted) {
        if (PollInterval(m_app) != before && m_charts) {
            SystemTime now = GetLocalTime();
            now.wSecond = 0;
            m_realTime = std::make_unique<RealTimeAxis>(PollInterval(m_app), now);
            InitLumoGraphShowMode();
            m_charts->ClearAll();
            m_charts->LumoGraphInvalidate();
        }
        m_acquisition->PollSoon();
    }
    s.SetLocalIp(m_app.Net().GetLocalIP());
    s.SavePortInfo();
    m_app.SaveMd5();
}

void CAppForNimbo1Dlg::OnAppendOneSensor() {
    if (!m_pending->Empty()) return; // still placing the last choice
    std::vector<FoundSensor> found;
    int inUse = 0;
    const bool read = WithDatabaseLock(m_app.DatabaseLock(), "found sensors", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        inUse = InUseCount(db);
        const int total = std::min({db.m_totalCount, db.GetDevDB()->GetRowCount(), db.GetNetDB()->GetRowCount()});
        for (int i = inUse; i < total; ++i)
            found.push_back({i, UnpackIPv4(CellValue<int>(db.GetNetDB(), i, "RemoteIP")),
                             CellValue<int>(db.GetDevDB(), i, "Serial")});
    });
    if (!read) return;
    m_chosen.clear();
    CDlgFindWiFiSensor chooser(this);
    chooser.SetInfo(&m_chosen, std::move(found));
    if (chooser.exec() != QDialog::Accepted || m_chosen.empty()) return;
    // Readings carry a two-digit sensor number.
    const int room = CDeviceList::kMaxInUse - inUse;
    if (static_cast<int>(m_chosen.size()) > room) {
        ShowMessage(room <= 0 ? std::string("At most 99 sensors can be in use. Delete a sensor before adding another.")
                              : "At most 99 sensors can be in use: choose no more than " + std::to_string(room) +
                                    " sensor(s).");
        return;
    }
    int taken = 0;
    {
        TableChange change(*this, m_app.DatabaseLock());
        if (!change.owns()) {
            ShowMessage(std::string("Failed!"));
            return;
        }
        if (ViewMode() == 1) OnSettingMap();
        taken = m_pending->Take(m_app.Database(), m_chosen);
    }
    if (taken == 0) return;
    m_map->Boxes().StartAddDev(taken);
    ShowMessage(std::string("Please add sensor in the picture!"));
    SetCursorMoveRect(true);
}

void CAppForNimbo1Dlg::PlaceOneSensor(double fx, double fy) {
    if (m_pending->Empty()) return;
    SetCursorMoveRect(false);
    std::vector<int> candidates;
    std::vector<PendingRef> pending;
    std::vector<SensorRef> inUse;
    WithDatabaseLock(m_app.DatabaseLock(), "sensor numbers", [&] {
        candidates = GetANotUsingNo(m_app.Database(), m_pending->Count());
        inUse = InUseRefs(m_app.Database());
    });
    for (int p = 0; p < m_pending->Count(); ++p)
        pending.push_back({m_pending->Address(p), m_pending->Serial(p), p});
    CDlgSetSensorName dlg(this);
    dlg.SetInfo(candidates, m_app.Settings().GetDataPath(), pending, inUse, 90.0, 30.0, 70.0, 15.0);
    if (dlg.exec() != QDialog::Accepted) {
        EndAddSensor();
        return;
    }
    bool lastOne = false;
    {
        TableChange change(*this, m_app.DatabaseLock());
        if (!change.owns()) {
            ShowMessage(std::string("Add Failed!"));
            AddLogInfo("Add Sensor Wait Timeout\r\n");
            SetCursorMoveRect(true); // the sensor still waits for its place
            update();
            return;
        }
        m_map->Boxes().PlacedOne();
        const QColor colour = dlg.GetLineColor();
        PlacedSensorValues v;
        v.name = TruncateUtf8(dlg.GetSensorName(), kSensorNameBytes);
        v.folder = TruncateUtf8(dlg.GetSaveDataFolderName(), kSensorNameBytes);
        v.hMax = dlg.GetHMaxValue();
        v.hMin = dlg.GetHMinValue();
        v.tMax = dlg.GetTMaxValue();
        v.tMin = dlg.GetTMinValue();
        v.r = colour.red();
        v.g = colour.green();
        v.b = colour.blue();
        v.number = dlg.GetSensorNo();
        v.x = fx;
        v.y = fy;
        const int p = dlg.GetIndex();
        const std::string temporaryName = m_pending->Name(p);
        CWiFiSensorDatabase& db = m_app.Database();
        const int n = m_pending->Place(db, p, v);
        if (n >= 0) {
            m_app.Net().SocketNameChange(temporaryName, "TcpClient" + v.name);
            m_map->Boxes().AddDev(n, v.name, v.x, v.y, v.r, v.g, v.b);
            m_charts->AddLineForNewWiFiSensor(n, CurveInfo(n));
            m_tree->AddDevToTreeCtrl(db, n);
            m_table->AddDevToTableCtrl(db, n);
            m_tree->CheckItemDataForAdd(n);
            m_charts->LumoGraphInvalidate();
        }
        lastOne = m_map->Boxes().StillToPlace() <= 0 || m_pending->Empty();
        if (lastOne) {
            m_map->Boxes().StartAddDev(0);
            m_pending->ReturnAll(m_app); // nothing left, unless the counts disagreed
            m_app.SaveAllDev();
            m_app.SaveMd5();
        } else {
            SetCursorMoveRect(true);
        }
    }
    m_map->update();
    // Shown after the lock is released: readings must not wait for the operator.
    if (lastOne) ShowMessage(std::string("Add Over!"));
    m_acquisition->PollSoon();
}

void CAppForNimbo1Dlg::EndAddSensor() {
    SetTimerFlags(0);
    CDatabaseLock& lock = m_app.DatabaseLock();
    bool owns = lock.Take();
    // The pending sensors must go back, and never without the lock: try again a while.
    for (int attempt = 1; !owns && attempt < kEndAddAttempts; ++attempt) {
        if (attempt == 1) {
            AddLogInfo("An error has occurred!\r\n");
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        owns = lock.Take();
    }
    if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    if (!owns) {
        SetTimerFlags(1);
        ShowMessage(std::string("The station is busy: the sensors not placed yet stay waiting. Please try again."));
        SetCursorMoveRect(true);
        return;
    }
    m_pending->ReturnAll(m_app);
    m_app.SaveAllDev();
    m_app.SaveMd5();
    m_map->Boxes().StartAddDev(0);
    SetCursorMoveRect(false);
    lock.Release();
    SetTimerFlags(1);
    m_map->update();
    ShowMessage(std::string("Add Over!"));
    update();
}

void CAppForNimbo1Dlg::OnRbtninpicEdit() {
    const int i = m_menuSelectIndex;
    EditSensorInfo info;
    std::vector<SensorRef> inUse;
    bool known = false;
    WithDatabaseLock(m_app.DatabaseLock(), "sensor values", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        if (i < 0 || i >= InUseCount(db, db.GetDevDB(), db.GetLumoDB(), db.GetNetDB(), db.GetTableDB())) return;
        CTable_WiFiSensorDB* dev = db.GetDevDB();
        const charts::SensorCurveInfo curve = CurveInfo(i);
        info.name = CellValue<std::string>(dev, i, "Name");
        info.colour = curve.colour;
        info.show = CellValue<int>(db.GetLumoDB(), i, "Show");
        info.hMax = CellValue<double>(dev, i, "HMax");
        info.hMin = CellValue<double>(dev, i, "HMin");
        info.tMax = CellValue<double>(dev, i, "TMax");
        info.tMin = CellValue<double>(dev, i, "TMin");
        info.number = CellValue<int>(db.GetTableDB(), i, "No.");
        info.ip = UnpackIPv4(CellValue<int>(db.GetNetDB(), i, "RemoteIP"));
        info.folder = CellValue<std::string>(dev, i, "Folder");
        info.serial = CellValue<int>(dev, i, "Serial");
        inUse = InUseRefs(db);
        known = true;
    });
    if (!known) return;
    CDlgEditOneOfSensor dlg(this);
    dlg.SetInfo(info, m_app.Settings().GetDataPath(), inUse);
    if (dlg.exec() != QDialog::Accepted) {
        update();
        return;
    }
    const std::string name = TruncateUtf8(dlg.GetName(), kSensorNameBytes);
    const std::string folder = TruncateUtf8(dlg.GetFolder(), kEditFolderBytes);
    const QColor colour = dlg.GetESColor();
    const int show = dlg.GetIsShow();
    bool folderKept = true;
    {
        TableChange change(*this, m_app.DatabaseLock());
        if (!change.owns()) {
            ShowMessage(std::string("Edit Failed!"));
            update();
            return;
        }
        CWiFiSensorDatabase& db = m_app.Database();
        if (i >= InUseCount(db)) return;
        CTable_WiFiSensorDB* dev = db.GetDevDB();
        CTable_WiFiSensorDB* lumo = db.GetLumoDB();
        CRow_DB_WiFiSensor* devRow = dev->GetRow(i);
        CRow_DB_WiFiSensor* lumoRow = lumo->GetRow(i);
        devRow->SetValue(dev, "Name", name);
        lumoRow->SetValue(lumo, "ColorR", colour.red());
        lumoRow->SetValue(lumo, "ColorG", colour.green());
        lumoRow->SetValue(lumo, "ColorB", colour.blue());
        lumoRow->SetValue(lumo, "Show", show);
        devRow->SetValue(dev, "HMax", dlg.GetHMax());
        devRow->SetValue(dev, "HMin", dlg.GetHMin());
        devRow->SetValue(dev, "TMax", dlg.GetTMax());
        devRow->SetValue(dev, "TMin", dlg.GetTMin());

        CTable_WiFiSensorDB* pic = db.GetPicDB();
        m_map->Boxes().UpDate(i, name, CellValue<double>(pic, i, "PosX"), CellValue<double>(pic, i, "PosY"),
                              colour.red(), colour.green(), colour.blue());
        if (m_charts) {
            m_charts->SetName(i, QString::fromStdString(name));
            if (show != info.show)
                LumoGraphUpDate(i, 0);
            else if (colour != info.colour)
                LumoGraphUpDate(i, 1);
        }
        if (name != info.name) {
            if (m_app.Settings().GetBaseInfo()->GetUDPorTCP() != 0)
                m_app.Net().SocketNameChange("TcpClient" + info.name, "TcpClient" + name);
            m_table->SetNameCell(i, QString::fromStdString(name));
            m_tree->SetItemTextByHandle(CellValue<int>(db.GetTreeDB(), i, "HTREEITEM"), QString::fromStdString(name));
        }
        if (folder != info.folder) {
            // Readings are stored under the lock, so none lands in the old folder meanwhile.
            QApplication::setOverrideCursor(Qt::WaitCursor);
            folderKept = MoveSensorFolder(m_app.Settings().GetDataPath(), info.folder, folder);
            QApplication::restoreOverrideCursor();
            if (folderKept) devRow->SetValue(dev, "Folder", folder);
        }
    }
    if (!folderKept)
        ShowMessage("The history of \"" + name + "\" could not be moved to the folder \"" + folder +
                    "\"; the sensor keeps its folder \"" + info.folder + "\".");
    SaveDeviceList();
    m_app.SaveMd5();
    m_map->update();
    update();
}

void CAppForNimbo1Dlg::OnRbtninpicDelete() {
    if (ShowMessage(std::string("Are you sure you want to delete this Sensor!"), MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    {
        TableChange change(*this, m_app.DatabaseLock());
        if (!change.owns()) {
            ShowMessage(std::string("Delete Failed!"));
            update();
            return;
        }
        DeleteDevice(m_menuSelectIndex);
    }
    SaveDeviceList();
    m_app.SaveMd5();
    m_map->update();
    update();
}

void CAppForNimbo1Dlg::DeleteDevice(int i) {
    CWiFiSensorDatabase& db = m_app.Database();
    if (i < 0 || i >= InUseCount(db)) return;
    // The views read row i, so they go before the rows move.
    m_tree->DeleteDevFromTreeCtrl(db, i);
    if (i < m_table->rowCount()) m_table->deleteItemEx(i);
    if (m_charts) {
        m_charts->DeleteDevForLumo(i);
        m_charts->LumoGraphInvalidate();
    }
    m_map->Boxes().DeleteItem(i);
    hygro::DeleteDevice(m_app, i);
}

void CAppForNimbo1Dlg::DeleteDevice2(int i) {
    DeleteFoundSensor(m_app, i);
}

void CAppForNimbo1Dlg::CheckAllDevFolder() {
    int count = 0;
    WithDatabaseLock(m_app.DatabaseLock(), "folder check", [&] { count = InUseCount(m_app.Database()); });
    for (int i = 0; i < count && !m_closing; ++i)
        CheckONeDevFolder(i);
}

void CAppForNimbo1Dlg::CheckONeDevFolder(int i) {
    bool missing = false;
    WithDatabaseLock(m_app.DatabaseLock(), "folder check", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        missing = i >= 0 && i < InUseCount(db) && CellValue<std::string>(db.GetDevDB(), i, "Folder").empty();
    });
    if (!missing) return;
    m_menuSelectIndex = i;
    OnRbtninpicEdit();
}

} // namespace hygro::ui
