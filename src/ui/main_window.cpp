#include "ui/main_window.h"

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
#include "ui/mail_dialogs.h"
#include "ui/main_area.h"
#include "ui/map_dialogs.h"
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
      m_acquisition(std::make_unique<CAcquisition>(app, static_cast<AcquisitionEvents*>(this))) {
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
    sensor->addAction(QStringLiteral("Get IP && Connection"));
    sensor->addAction(QStringLiteral("Add Sensor"));
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
    m_map->Boxes().StartMoveDev(index);
}

void CAppForNimbo1Dlg::OnMapReleased(int result, double fx, double fy, const QPoint& globalPos) {
    if (ViewMode() != 0) return;
    if (result >= 0) {
        ShowSensorMenu(result, globalPos);
    } else if (result == kHitMoveEnded) {
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
    }
    // kHitPlaceFree belongs to adding sensors; kHitNothing does nothing.
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
    menu.addAction(QStringLiteral("Edit"));
    menu.addAction(QStringLiteral("Delete"));
    QAction* move = menu.addAction(QStringLiteral("Move"));
    move->setEnabled(ViewMode() == 0);
    connect(move, &QAction::triggered, this, [this] { StartMoveSensor(m_menuSelectIndex); });
    menu.exec(globalPos);
}

void CAppForNimbo1Dlg::StartRxLed(int /*index*/) {
    QMetaObject::invokeMethod(this, [this] {
        if (m_rxLit) return; // a lit light is not re-armed: off 500 ms after it went on
        m_rxLit = true;
        m_rxLight->setPixmap(m_lightOn);
        m_rxTimer->start(kLightMs);
    });
}

void CAppForNimbo1Dlg::StartTxLed(int /*index*/) {
    QMetaObject::invokeMethod(this, [this] {
        if (m_txLit) return;
        m_txLit = true;
        m_txLight->setPixmap(m_lightOn);
        m_txTimer->start(kLightMs);
    });
}

void CAppForNimbo1Dlg::SetConnectLed(int, int) {
    // Shown only by the discovery dialog while it is open.
}

void CAppForNimbo1Dlg::SetTimerFlags(int enabled) {
    m_acquisition->SetTimerFlags(enabled);
}

void CAppForNimbo1Dlg::SetDevConnectValue(int, int) {}

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

} // namespace hygro::ui
