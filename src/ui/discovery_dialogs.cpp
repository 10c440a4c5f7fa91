#include "ui/discovery_dialogs.h"

#include "ui/dialog_parts.h"
#include "app/app_core.h"
#include "app/discovery.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "ui/aux_windows.h"
#include "util/message_box.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QPainter>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace hygro::ui {
namespace {

enum DevColumn : int { kColIp, kColSerial, kColConnect, kColRx, kColTx, kDevColumns };
constexpr const char* kDevColumnTitle[kDevColumns] = {"Ip", "Serial", "Connect", "RX", "TX"};
constexpr int kFlashMs = 500;
const QColor kLitColour(0, 255, 0);
const QColor kDarkColour(255, 255, 255);

enum FoundColumn : int { kColNo, kColFoundIp, kColMsg, kFoundColumns };
constexpr const char* kFoundColumnTitle[kFoundColumns] = {"No.", "IP", "Msg"};

QString Text(const std::string& s) { return QString::fromStdString(s); }

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(align | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

// A report list: grid, whole rows selected, no editing, a header that only labels.
void SetUpList(QTableWidget* list, int columns, const char* const* titles, const Qt::Alignment* align) {
    list->setColumnCount(columns);
    for (int c = 0; c < columns; ++c) {
        auto* head = new QTableWidgetItem(QString::fromLatin1(titles[c]));
        head->setTextAlignment(align[c] | Qt::AlignVCenter);
        list->setHorizontalHeaderItem(c, head);
    }
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    QHeaderView* header = list->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    // The header takes no input at all: it cannot be clicked, dragged or resized.
    header->setAttribute(Qt::WA_TransparentForMouseEvents);
}

// Calls back when the watched widget changes size (the list's viewport, whose width the
// column widths follow, also when a scroll bar comes or goes).
class ResizeWatcher : public QObject {
  public:
    ResizeWatcher(QObject* parent, std::function<void()> resized) : QObject(parent), m_resized(std::move(resized)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) m_resized();
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> m_resized;
};

// A lit RX/TX cell stays green on a selected row too, so activity shows wherever it is.
class IndicatorDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QVariant background = index.data(Qt::BackgroundRole);
        if (background.canConvert<QBrush>() && background.value<QBrush>().color() == kLitColour) {
            painter->fillRect(option.rect, kLitColour);
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
    }
};

} // namespace

// ---- "Get IP & Connect" -------------------------------------------------------------------

struct CDlgGetIpAndConnect::Impl {
    // One row's RX and TX indicators; the timers put them out again.
    struct RxTxFlags {
        int rx = 0;
        int tx = 0;
        QTimer rxTimer;
        QTimer txTimer;
    };

    Impl(CDlgGetIpAndConnect& dlg, CAppForNimbo1App& app, DiscoveryHost host)
        : q(dlg), app(app), host(std::move(host)) {}

    CDlgGetIpAndConnect& q;
    CAppForNimbo1App& app;
    DiscoveryHost host;
    std::vector<std::unique_ptr<RxTxFlags>> flags; // one per list row, same order
    std::unique_ptr<CDiscoverySearch> search;
    std::atomic<int> closing{0};
    int searching = 0;
    std::chrono::milliseconds progressTick{1000};

    QTableWidget* list = nullptr;
    QLineEdit* minutes = nullptr;
    QLineEdit* seconds = nullptr;
    QComboBox* protocol = nullptr;
    QPushButton* searchButton = nullptr;
    QPushButton* deleteButton = nullptr;
    QPushButton* okButton = nullptr;
    ResizeWatcher* viewportWatcher = nullptr;

    void Build();
    void InitTableHead();
    void UpdateColumnWidths();
    void ShowAllDev();
    void InsertRow(int index, const QString& ip, const QString& serial, const QString& connect);
    void MakeSearch(std::chrono::milliseconds step);
    void OnSearch();
    void FindEndShowBtn();
    void CheckFindCount();
    void UpdateDeleteButton();
    void OnDelete();
    void OnOk();
    bool SaveProtocol();
    void Polling(int on) {
        if (host.setTimerFlags) host.setTimerFlags(on);
    }
    int SelectedRow() const {
        const QList<QTableWidgetSelectionRange> ranges = list->selectedRanges();
        return ranges.isEmpty() ? -1 : ranges.front().topRow();
    }
    // Only this thread changes the number of in-use sensors (adding and deleting them),
    // so it is read without waiting for the tables.
    int RealCount() const { return app.Database().m_realCount; }
    bool IsRow(int index) const { return index >= 0 && index < list->rowCount() && index < static_cast<int>(flags.size()); }
    int RowOf(const RxTxFlags* f) const {
        for (std::size_t i = 0; i < flags.size(); ++i)
            if (flags[i].get() == f) return static_cast<int>(i);
        return -1;
    }
    void PaintIndicator(int row, int column, bool lit) {
        if (QTableWidgetItem* item = list->item(row, column)) item->setBackground(lit ? kLitColour : kDarkColour);
    }
    void Flash(int index, bool rx);
};

void CDlgGetIpAndConnect::Impl::Build() {
    q.setWindowTitle(QStringLiteral("Get IP & Connect"));
    q.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    q.resize(520, 460);
    auto* layout = new QVBoxLayout(&q);

    auto* top = new QHBoxLayout;
    auto* timeBox = new QGroupBox(QStringLiteral("Command Time"), &q);
    auto* timeGrid = new QGridLayout(timeBox);
    minutes = Named(new QLineEdit(timeBox), "1119");
    seconds = Named(new QLineEdit(timeBox), "1120");
    for (QLineEdit* e : {minutes, seconds}) e->setMaximumWidth(60);
    timeGrid->addWidget(new QLabel(QStringLiteral("S Cmd interval:"), timeBox), 0, 0);
    timeGrid->addWidget(minutes, 0, 1);
    timeGrid->addWidget(new QLabel(QStringLiteral("m(0~60)"), timeBox), 0, 2);
    timeGrid->addWidget(seconds, 0, 3);
    timeGrid->addWidget(new QLabel(QStringLiteral("s(0~59)     (10s~60m)"), timeBox), 0, 4);
    timeGrid->setColumnStretch(5, 1);
    top->addWidget(timeBox, 1);

    auto* protocolBox = new QGroupBox(QStringLiteral("Protocol"), &q);
    auto* protocolRow = new QHBoxLayout(protocolBox);
    protocol = Named(new QComboBox(protocolBox), "1104");
    protocolRow->addWidget(new QLabel(QStringLiteral("Protocol:"), protocolBox));
    protocolRow->addWidget(protocol);
    top->addWidget(protocolBox);
    layout->addLayout(top);

    auto* devices = new QGroupBox(QStringLiteral("All Device"), &q);
    auto* deviceLayout = new QVBoxLayout(devices);
    list = Named(new QTableWidget(devices), "1117");
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    deviceLayout->addWidget(list, 1);
    auto* deviceButtons = new QHBoxLayout;
    searchButton = Button("Search", "1118", devices);
    deleteButton = Button("Delete", "1074", devices);
    deviceButtons->addWidget(searchButton);
    deviceButtons->addWidget(deleteButton);
    deviceButtons->addStretch(1);
    deviceLayout->addLayout(deviceButtons);
    layout->addWidget(devices, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    okButton = Button("OK", "1008", &q);
    bottom->addWidget(okButton);
    layout->addLayout(bottom);

    QObject::connect(searchButton, &QPushButton::clicked, &q, [this] { OnSearch(); });
    QObject::connect(deleteButton, &QPushButton::clicked, &q, [this] { OnDelete(); });
    QObject::connect(okButton, &QPushButton::clicked, &q, [this] { OnOk(); });
    QObject::connect(list, &QTableWidget::itemSelectionChanged, &q, [this] { UpdateDeleteButton(); });
    viewportWatcher = new ResizeWatcher(&q, [this] { UpdateColumnWidths(); });
    list->viewport()->installEventFilter(viewportWatcher);
}

void CDlgGetIpAndConnect::Impl::InitTableHead() {
    static constexpr Qt::Alignment kAlign[kDevColumns] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter,
                                                          Qt::AlignHCenter, Qt::AlignHCenter};
    SetUpList(list, kDevColumns, kDevColumnTitle, kAlign);
    auto* indicators = new IndicatorDelegate(list);
    list->setItemDelegateForColumn(kColRx, indicators);
    list->setItemDelegateForColumn(kColTx, indicators);
    UpdateColumnWidths();
}

void CDlgGetIpAndConnect::Impl::UpdateColumnWidths() {
    const int width = list->viewport()->width();
    const int w = width / 10;
    const int widths[kDevColumns] = {4 * w, 2 * w, 2 * w, w, width - 9 * w};
    for (int c = 0; c < kDevColumns; ++c) list->setColumnWidth(c, std::max(widths[c], 0));
}

void CDlgGetIpAndConnect::Impl::InsertRow(int index, const QString& ip, const QString& serial,
                                          const QString& connect) {
    index = std::clamp(index, 0, list->rowCount());
    list->insertRow(index);
    list->setItem(index, kColIp, Cell(ip, Qt::AlignLeft));
    list->setItem(index, kColSerial, Cell(serial, Qt::AlignHCenter));
    list->setItem(index, kColConnect, Cell(connect, Qt::AlignHCenter));
    for (int c : {kColRx, kColTx}) {
        QTableWidgetItem* item = Cell(QString(), Qt::AlignHCenter);
        item->setBackground(kDarkColour);
        list->setItem(index, c, item);
    }
    auto f = std::make_unique<RxTxFlags>();
    for (auto [timer, rx] : {std::pair{&f->rxTimer, true}, std::pair{&f->txTimer, false}}) {
        timer->setSingleShot(true);
        timer->setInterval(kFlashMs);
        RxTxFlags* raw = f.get();
        QObject::connect(timer, &QTimer::timeout, &q, [this, raw, rx = rx] {
            (rx ? raw->rx : raw->tx) = 0;
            const int row = RowOf(raw);
            if (row >= 0) PaintIndicator(row, rx ? kColRx : kColTx, false);
        });
    }
    flags.insert(flags.begin() + std::min<std::ptrdiff_t>(index, static_cast<std::ptrdiff_t>(flags.size())),
                 std::move(f));
}

void CDlgGetIpAndConnect::Impl::ShowAllDev() {
    struct Row {
        QString ip, serial, connect;
    };
    std::vector<Row> rows;
    {
        CDatabaseLock::Guard guard(app.DatabaseLock());
        if (guard.owns()) {
            CWiFiSensorDatabase& db = app.Database();
            CTable_WiFiSensorDB* dev = db.GetDevDB();
            CTable_WiFiSensorDB* net = db.GetNetDB();
            const int count = std::min(dev->GetRowCount(), net->GetRowCount());
            for (int i = 0; i < count; ++i) {
                rows.push_back({Text(AddressText(UnpackIPv4(CellValue<int>(net, i, "RemoteIP")))),
                                Text(SerialText(CellValue<int>(dev, i, "Serial"))),
                                CellValue<int>(net, i, "Connect") != 0 ? QStringLiteral("Connect")
                                                                       : QStringLiteral("Disconnect")});
            }
        }
    }
    for (const Row& r : rows) InsertRow(list->rowCount(), r.ip, r.serial, r.connect);
}

void CDlgGetIpAndConnect::Impl::MakeSearch(std::chrono::milliseconds step) {
    // The worker reports through queued calls: the window's own thread changes the list.
    auto post = [this](auto f) { QMetaObject::invokeMethod(&q, std::move(f), Qt::QueuedConnection); };
    CDiscoverySearch::Callbacks cb;
    cb.caption = [this, post](const std::string& text) {
        post([this, text = Text(text)] { searchButton->setText(text); });
    };
    cb.report.rowAdded = [this, post](int index, const std::string& ip, const std::string& serial,
                                      const std::string& connect) {
        post([this, index, ip = Text(ip), serial = Text(serial), connect = Text(connect)] {
            InsertRow(index, ip, serial, connect);
        });
    };
    cb.report.serialRefreshed = [this, post](int index, int serial) {
        post([this, index, serial] { q.SetSerial(index, serial); });
    };
    cb.ended = [this, post] {
        post([this] {
            FindEndShowBtn();
            CheckFindCount();
        });
    };
    search = std::make_unique<CDiscoverySearch>(app, std::move(cb), step);
}

void CDlgGetIpAndConnect::Impl::OnSearch() {
    if (searching || !search) return;
    searching = 1;
    searchButton->setEnabled(false);
    deleteButton->setEnabled(false);
    okButton->setEnabled(false);
    if (!search->Start()) FindEndShowBtn();
}

void CDlgGetIpAndConnect::Impl::FindEndShowBtn() {
    searchButton->setEnabled(true);
    okButton->setEnabled(true);
    searching = 0;
    UpdateDeleteButton();
}

void CDlgGetIpAndConnect::Impl::CheckFindCount() {
    const bool again = hygro::CheckFindCount(app, list->rowCount(), [] {
        return ShowMessage(std::u16string(u"No not search any device!Do you want to search with another network-card!"),
                           MsgButtons::YesNo) == MsgAnswer::Yes;
    });
    if (again) OnSearch();
}

void CDlgGetIpAndConnect::Impl::UpdateDeleteButton() {
    const int row = SelectedRow();
    deleteButton->setEnabled(!searching && row >= 0 && row >= RealCount());
}

void CDlgGetIpAndConnect::Impl::OnDelete() {
    const int i = SelectedRow();
    if (i < 0 || searching || i < RealCount()) return;
    if (ShowMessage(std::u16string(u"Are you sure you want to delete this Device!"), MsgButtons::YesNo) !=
        MsgAnswer::Yes)
        return;
    Polling(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        CDatabaseLock::Guard guard(app.DatabaseLock());
        if (!guard.owns()) {
            ShowMessage(std::string("Delete Failed!"));
            Polling(1);
            return;
        }
        if (i < list->rowCount()) list->removeRow(i);
        if (host.deleteDevice2) host.deleteDevice2(i);
        if (i < static_cast<int>(flags.size())) {
            flags[static_cast<std::size_t>(i)]->rxTimer.stop();
            flags[static_cast<std::size_t>(i)]->txTimer.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            flags.erase(flags.begin() + i);
        }
    }
    Polling(1);
    UpdateDeleteButton();
}

void CDlgGetIpAndConnect::Impl::OnOk() {
    const std::string_view error =
        SaveCmdTime(app.Settings(), minutes->text().toStdString(), seconds->text().toStdString());
    if (!error.empty()) {
        ShowMessage(std::string(error));
        return;
    }
    if (!SaveProtocol()) return;
    q.accept();
}

bool CDlgGetIpAndConnect::Impl::SaveProtocol() {
    const int mode = protocol->currentIndex();
    if (mode < 0) {
        ShowMessage(std::string("Please select protocol!"));
        return false;
    }
    ProtocolChangeHooks hooks;
    hooks.setTimerFlags = [this](int on) { Polling(on); };
    hooks.showProgress = [this] {
        ProgressWindow progress(&q, progressTick);
        progress.exec();
    };
    if (ChangeProtocol(app, mode, hooks) == ProtocolChange::LockFailed) {
        ShowMessage(std::string(kChangeProtocolFailed));
        return false;
    }
    return true;
}

void CDlgGetIpAndConnect::Impl::Flash(int index, bool rx) {
    if (!IsRow(index)) return;
    RxTxFlags& f = *flags[static_cast<std::size_t>(index)];
    int& on = rx ? f.rx : f.tx;
    // A lit cell is not re-armed: it goes dark 500 ms after the first event.
    if (on) return;
    on = 1;
    (rx ? f.rxTimer : f.txTimer).start();
    PaintIndicator(index, rx ? kColRx : kColTx, true);
}

CDlgGetIpAndConnect::CDlgGetIpAndConnect(CAppForNimbo1App& app, DiscoveryHost host, QWidget* parent)
    : QDialog(parent), m(std::make_unique<Impl>(*this, app, std::move(host))) {
    m->Build();
    m->InitTableHead();
    m->ShowAllDev();
    m->deleteButton->setEnabled(false);
    const std::uint32_t interval = app.Settings().GetBaseInfo()->GetTimeForNet();
    m->minutes->setText(QString::number(interval / 60));
    m->seconds->setText(QString::number(interval % 60));
    m->protocol->addItem(QStringLiteral("UDP"));
    m->protocol->addItem(QStringLiteral("TCP"));
    m->protocol->setCurrentIndex(app.Settings().GetBaseInfo()->GetUDPorTCP() == kProtoUdp ? 0 : 1);
    m->MakeSearch(CDiscoverySearch::kStep);
}

CDlgGetIpAndConnect::~CDlgGetIpAndConnect() {
    // The worker posts to this window: it ends before the window does.
    m->closing = 1;
    if (m->search) m->search->Stop();
    // The children outlive m: nothing they signal while going may reach it.
    m->list->viewport()->removeEventFilter(m->viewportWatcher);
    m->list->blockSignals(true);
}

void CDlgGetIpAndConnect::SetDevConnectValue(int index, int connected) {
    if (index < 0 || index >= m->list->rowCount()) return;
    if (QTableWidgetItem* item = m->list->item(index, kColConnect))
        item->setText(connected ? QStringLiteral("Connect") : QStringLiteral("Disconnect"));
}

void CDlgGetIpAndConnect::StartRx(int index) { m->Flash(index, true); }
void CDlgGetIpAndConnect::StartTx(int index) { m->Flash(index, false); }

void CDlgGetIpAndConnect::SetSerial(int index, int serial) {
    if (index < 0 || index >= m->list->rowCount()) return;
    if (QTableWidgetItem* item = m->list->item(index, kColSerial)) item->setText(Text(SerialText(serial)));
}

int CDlgGetIpAndConnect::GetIsClosing() const { return m->closing.load(); }

void CDlgGetIpAndConnect::SetTimings(std::chrono::milliseconds searchStep, std::chrono::milliseconds progressTick) {
    if (m->searching) return;
    m->progressTick = progressTick;
    m->MakeSearch(searchStep);
}

bool CDlgGetIpAndConnect::IsSearching() const { return m->searching != 0; }

bool CDlgGetIpAndConnect::RxOn(int index) const {
    return m->IsRow(index) && m->flags[static_cast<std::size_t>(index)]->rx != 0;
}

bool CDlgGetIpAndConnect::TxOn(int index) const {
    return m->IsRow(index) && m->flags[static_cast<std::size_t>(index)]->tx != 0;
}

void CDlgGetIpAndConnect::closeEvent(QCloseEvent* event) {
    if (m->searching) {
        ShowMessage(std::string("Please wait!"));
        event->ignore();
        return;
    }
    m->closing = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QDialog::closeEvent(event);
}

void CDlgGetIpAndConnect::keyPressEvent(QKeyEvent* event) {
    if (SwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgGetIpAndConnect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m->UpdateColumnWidths();
}

// ---- "Add": the found-sensor chooser ------------------------------------------------------

struct CDlgFindWiFiSensor::Impl {
    std::vector<int>* result = nullptr;
    QTableWidget* list = nullptr;
    ResizeWatcher* watcher = nullptr;

    void UpdateColumnWidths() {
        const int width = list->width() - 4;
        const int u = width / 7;
        const int widths[kFoundColumns] = {u, 4 * u, width - 5 * u};
        for (int c = 0; c < kFoundColumns; ++c) list->setColumnWidth(c, std::max(widths[c], 0));
    }
};

CDlgFindWiFiSensor::CDlgFindWiFiSensor(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {
    setWindowTitle(QStringLiteral("Add"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(360, 300);
    auto* layout = new QVBoxLayout(this);
    m->list = Named(new QTableWidget(this), "1106");
    static constexpr Qt::Alignment kAlign[kFoundColumns] = {Qt::AlignHCenter, Qt::AlignLeft, Qt::AlignLeft};
    SetUpList(m->list, kFoundColumns, kFoundColumnTitle, kAlign);
    m->list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(m->list, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* ok = Button("OK", "1008", this);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    m->watcher = new ResizeWatcher(this, [this] { m->UpdateColumnWidths(); });
    m->list->installEventFilter(m->watcher);

    connect(ok, &QPushButton::clicked, this, [this] {
        if (m->result) m->result->clear();
        std::vector<int> rows;
        for (const QTableWidgetSelectionRange& r : m->list->selectedRanges())
            for (int row = r.topRow(); row <= r.bottomRow(); ++row) rows.push_back(row);
        if (rows.empty()) {
            ShowMessage(std::string("Please select a device!"));
            return;
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        if (m->result) {
            for (int row : rows)
                if (const QTableWidgetItem* item = m->list->item(row, kColNo))
                    m->result->push_back(item->data(Qt::UserRole).toInt());
        }
        accept();
    });
}

CDlgFindWiFiSensor::~CDlgFindWiFiSensor() { m->list->removeEventFilter(m->watcher); }

void CDlgFindWiFiSensor::SetInfo(std::vector<int>* result, std::vector<FoundSensor> found) {
    m->result = result;
    m->list->setRowCount(0);
    m->list->setRowCount(static_cast<int>(found.size()));
    for (int row = 0; row < static_cast<int>(found.size()); ++row) {
        const FoundSensor& s = found[static_cast<std::size_t>(row)];
        QTableWidgetItem* no = Cell(QString::number(row + 1), Qt::AlignHCenter);
        no->setData(Qt::UserRole, s.index);
        m->list->setItem(row, kColNo, no);
        m->list->setItem(row, kColFoundIp, Cell(Text(AddressText(s.ip)), Qt::AlignLeft));
        m->list->setItem(row, kColMsg, Cell(Text(SerialText(s.serial)), Qt::AlignLeft));
    }
}

void CDlgFindWiFiSensor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m->UpdateColumnWidths();
}

} // namespace hygro::ui
