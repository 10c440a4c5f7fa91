#include "ui/sensor_views.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QFontMetrics>
#include <QPainterPath>
#include <QRawFont>
#include <QResizeEvent>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#include <string>

#include "db/wifi_sensor_db.h"
#include "ui/value_text.h"

namespace hygro::ui {
namespace {

constexpr char16_t kFullWidthColon = u'\uFF1A';

// Families known to carry both symbols, tried before a scan of everything installed.
constexpr const char* kPreferredFamilies[] = {"DejaVu Sans", "Noto Sans", "Noto Sans CJK SC",
                                              "WenQuanYi Micro Hei"};

const CRow_DB_WiFiSensor* RowAt(CTable_WiFiSensorDB* table, int index) {
    if (table == nullptr || index < 0 || index >= table->GetRowCount()) return nullptr;
    return table->GetRow(index);
}


void SetTreeHandle(CWiFiSensorDatabase& db, int index, int handle) {
    CTable_WiFiSensorDB* tree = db.GetTreeDB();
    if (index < 0 || index >= tree->GetRowCount()) return;
    tree->GetRow(index)->SetValue(tree, "HTREEITEM", handle);
}


constexpr Qt::Alignment kColumnAlignment[SensorTable::kColumnCount] = {
    Qt::AlignCenter,
    Qt::AlignLeft | Qt::AlignVCenter,
    Qt::AlignLeft | Qt::AlignVCenter,
    Qt::AlignCenter,
    Qt::AlignCenter,
    Qt::AlignCenter,
    Qt::AlignCenter,
    Qt::AlignCenter,
};

constexpr const char* kColumnTitle[SensorTable::kColumnCount] = {
    "No.", "Model", "Name", "Time", "Humidity", "Temperature", "Graph", "Alarm"};

} // namespace

// ---- fonts ----

bool CoversSymbols(const QFont& font) {
    // The family's own "℃" must have an outline (some CJK fonts map it to an empty
    // glyph, which draws nothing); "：" may come from a fallback font.
    const QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid()) return false;
    const QList<quint32> glyphs = raw.glyphIndexesForString(QString(QChar(kDegreeCelsius)));
    if (glyphs.isEmpty() || glyphs.front() == 0 || raw.pathForGlyph(glyphs.front()).isEmpty()) return false;
    return QFontMetrics(font).inFont(QChar(kFullWidthColon));
}

QFont SymbolFont(const QFont& base) {
    if (CoversSymbols(base)) return base;
    const QStringList installed = QFontDatabase::families();
    const auto covers = [&](const QString& family, QFont& out) {
        QFont candidate(base);
        candidate.setFamilies({family});
        if (!CoversSymbols(candidate)) return false;
        out = candidate;
        return true;
    };
    QFont found;
    for (const char* family : kPreferredFamilies)
        if (installed.contains(QString::fromLatin1(family)) && covers(QString::fromLatin1(family), found))
            return found;
    for (const QString& family : installed)
        if (covers(family, found)) return found;
    return base;
}

// ---- SensorTree ----

SensorTree::SensorTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFont(SymbolFont(font()));
    InitTreeHead();
}

void SensorTree::ForgetHandles() {
    m_items.clear();
    m_lastAddedHandle = 0;
}

void SensorTree::InitTreeHead() {
    ForgetHandles();
    m_root = nullptr;
    clear();
    auto root = std::make_unique<QTreeWidgetItem>(QStringList{QStringLiteral("Computer")});
    root->setData(0, kDataRole, kRootData);
    m_root = root.get();
    addTopLevelItem(root.release());
    m_root->setExpanded(true);
}

int SensorTree::InsertChild(int position, const QString& name, int data) {
    auto item = std::make_unique<QTreeWidgetItem>(QStringList{name});
    item->setData(0, kDataRole, data);
    QTreeWidgetItem* raw = item.get();
    m_root->insertChild(std::clamp(position, 0, m_root->childCount()), item.release());
    if (m_nextHandle == INT_MAX) m_nextHandle = 1;
    while (m_items.contains(m_nextHandle)) ++m_nextHandle;
    const int handle = m_nextHandle++;
    m_items.emplace(handle, raw);
    return handle;
}

QTreeWidgetItem* SensorTree::ItemForHandle(int handle) const {
    const auto it = m_items.find(handle);
    return it == m_items.end() ? nullptr : it->second;
}

int SensorTree::ItemData(const QTreeWidgetItem* item) {
    return item == nullptr ? kRootData : item->data(0, kDataRole).toInt();
}

void SensorTree::TreeUpDate(CWiFiSensorDatabase& db) {
    for (QTreeWidgetItem* child : m_root->takeChildren()) std::unique_ptr<QTreeWidgetItem> gone(child);
    ForgetHandles();
    const int count = InUseCount(db, db.GetDevDB(), db.GetTreeDB());
    for (int r = 0; r < count; ++r) {
        const int handle = InsertChild(m_root->childCount(), Utf8(CellValue<std::string>(db.GetDevDB(), r, "Name")), r);
        SetTreeHandle(db, r, handle);
    }
    m_root->setExpanded(true);
}

void SensorTree::AddDevToTreeCtrl(CWiFiSensorDatabase& db, int n) {
    const int c = db.GetDevDB()->GetRowCount();
    int position = 0;
    int data = 0;
    if (n == 0) {
        position = 0;
        data = 0;
    } else if (n > c - 1 || n < 0) {
        position = m_root->childCount();
        data = c - 1;
    } else {
        QTreeWidgetItem* previous = ItemForHandle(CellValue<int>(db.GetTreeDB(), n - 1, "HTREEITEM"));
        position = previous != nullptr ? m_root->indexOfChild(previous) + 1 : n;
        data = n;
    }
    const int handle = InsertChild(position, Utf8(CellValue<std::string>(db.GetDevDB(), data, "Name")), data);
    SetTreeHandle(db, n, handle);
    m_lastAddedHandle = handle;
    m_root->setExpanded(true);
}

void SensorTree::CheckItemDataForAdd(int n) {
    if (n < 0) return; // not a sensor index
    const QTreeWidgetItem* added = ItemForHandle(m_lastAddedHandle);
    for (int i = 0; i < m_root->childCount(); ++i) {
        QTreeWidgetItem* child = m_root->child(i);
        const int data = ItemData(child);
        if (child != added && data >= n && data < INT_MAX) child->setData(0, kDataRole, data + 1);
    }
    m_lastAddedHandle = 0;
}

void SensorTree::CheckItemDataForDelete(int n) {
    if (n < 0) return;
    for (int i = 0; i < m_root->childCount(); ++i) {
        QTreeWidgetItem* child = m_root->child(i);
        const int data = ItemData(child);
        if (data > n) child->setData(0, kDataRole, data - 1);
    }
}

bool SensorTree::DeleteItemByHandle(int handle) {
    const auto it = m_items.find(handle);
    if (it == m_items.end()) return false;
    const int position = m_root->indexOfChild(it->second);
    m_items.erase(it);
    if (handle == m_lastAddedHandle) m_lastAddedHandle = 0;
    if (position < 0) return false;
    std::unique_ptr<QTreeWidgetItem> gone(m_root->takeChild(position));
    return true;
}

void SensorTree::DeleteDevFromTreeCtrl(CWiFiSensorDatabase& db, int n) {
    int handle = CellValue<int>(db.GetTreeDB(), n, "HTREEITEM");
    if (ItemForHandle(handle) == nullptr) {
        // No usable handle: the sensor's child is the one carrying its index.
        handle = 0;
        for (const auto& [h, item] : m_items)
            if (ItemData(item) == n) handle = h;
        if (handle == 0) return;
    }
    CheckItemDataForDelete(n);
    DeleteItemByHandle(handle);
    SetTreeHandle(db, n, 0);
}

bool SensorTree::SetItemTextByHandle(int handle, const QString& text) {
    QTreeWidgetItem* item = ItemForHandle(handle);
    if (item == nullptr) return false;
    item->setText(0, text);
    return true;
}

void SensorTree::contextMenuEvent(QContextMenuEvent* event) {
    const QTreeWidgetItem* item = itemAt(event->pos());
    if (item == nullptr || item == m_root) return;
    const int index = ItemData(item);
    if (index < 0) return;
    event->accept();
    emit sensorContextMenuRequested(index, event->globalPos());
}

// ---- SensorTable ----

SensorTable::SensorTable(QWidget* parent) : QTableWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    verticalHeader()->hide();
    // Columns can be neither resized nor clicked; their widths follow the table's width.
    QHeaderView* header = horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    setFont(SymbolFont(font()));
    InitTableHead();
}

std::array<int, SensorTable::kColumnCount> SensorTable::ColumnWidths(int tableWidth) {
    const int inner = std::max(tableWidth, 6) - 6;
    const int w = inner / 49;
    return {3 * w, 6 * w, 9 * w, 12 * w, 6 * w, 6 * w, 4 * w, inner - 46 * w};
}

QString SensorTable::HumidityText(double humidity) {
    if (std::isnan(humidity) || humidity >= 99.9) return QStringLiteral("Error!");
    return PercentText(humidity);
}

QString SensorTable::TemperatureText(double temperature) {
    if (std::isnan(temperature) || temperature >= 80.0) return QStringLiteral("Error!");
    return CelsiusText(temperature);
}

QString SensorTable::StoredValueText(double value) {
    // The device list stores 101.0 for "no reading yet".
    if (std::isnan(value) || value > 100.0) return {};
    return Fixed1(value);
}

QString SensorTable::AlarmText(int alarm) { return alarm > 0 ? QStringLiteral("Alarm") : QStringLiteral("-"); }

void SensorTable::InitTableHead() {
    setRowCount(0);
    setColumnCount(kColumnCount);
    for (int c = 0; c < kColumnCount; ++c) {
        auto title = std::make_unique<QTableWidgetItem>(QString::fromLatin1(kColumnTitle[c]));
        title->setTextAlignment(kColumnAlignment[c]);
        setHorizontalHeaderItem(c, title.release());
    }
    m_clickedAlarmRow = -1;
    UpdateColumnWidths();
}

void SensorTable::UpdateColumnWidths() {
    const auto widths = ColumnWidths(width());
    for (int c = 0; c < kColumnCount; ++c) setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
}

void SensorTable::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    UpdateColumnWidths();
}

void SensorTable::SetText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount) return;
    QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr) {
        auto fresh = std::make_unique<QTableWidgetItem>();
        fresh->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        fresh->setTextAlignment(kColumnAlignment[column]);
        cell = fresh.get();
        setItem(row, column, fresh.release());
    }
    cell->setText(text);
}

void SensorTable::AddRowButton(int row) {
    if (row < 0 || row >= rowCount() || cellWidget(row, kColGraph) != nullptr) return;
    auto button = std::make_unique<QPushButton>(QStringLiteral("-"));
    button->setFocusPolicy(Qt::NoFocus);
    QPushButton* raw = button.get();
    // The button moves with its row, so its row is looked up when it is clicked.
    connect(raw, &QPushButton::clicked, this, [this, raw] {
        for (int r = 0; r < rowCount(); ++r)
            if (cellWidget(r, kColGraph) == raw) {
                emit historyButtonClicked(r);
                return;
            }
    });
    setCellWidget(row, kColGraph, button.release());
}

void SensorTable::FillRow(CWiFiSensorDatabase& db, int index, int row, bool withReadings) {
    CTable_WiFiSensorDB* table = db.GetTableDB();
    SetText(row, kColNo, QString::number(CellValue<int>(table, index, "No.")));
    SetText(row, kColModel, Utf8(CellValue<std::string>(table, index, "Model")));
    SetText(row, kColName, Utf8(CellValue<std::string>(db.GetDevDB(), index, "Name")));
    if (withReadings) {
        SetText(row, kColTime, Utf8(CellValue<std::string>(table, index, "Time")));
        SetText(row, kColHumidity, StoredValueText(CellValue<double>(table, index, "Humidity", 101.0)));
        SetText(row, kColTemperature, StoredValueText(CellValue<double>(table, index, "Temperature", 101.0)));
    } else {
        for (int c : {kColTime, kColHumidity, kColTemperature}) SetText(row, c, QString());
    }
    SetAlarmCell(row, CellValue<int>(table, index, "Alarm"));
}

void SensorTable::TableUpDate(CWiFiSensorDatabase& db) {
    setRowCount(0);
    m_clickedAlarmRow = -1;
    const int count = InUseCount(db, db.GetTableDB(), db.GetDevDB());
    for (int r = 0; r < count; ++r) {
        insertRow(r);
        FillRow(db, r, r, true);
        AddRowButton(r);
    }
}

void SensorTable::AddDevToTableCtrl(CWiFiSensorDatabase& db, int n) {
    if (RowAt(db.GetTableDB(), n) == nullptr) return;
    const int row = std::min(n, rowCount());
    insertRow(row);
    FillRow(db, n, row, false);
    for (int r = 0; r < rowCount(); ++r) AddRowButton(r);
    m_clickedAlarmRow = -1;
}

void SensorTable::deleteItemEx(int row) {
    if (row < 0 || row >= rowCount()) return;
    removeRow(row);
    m_clickedAlarmRow = -1;
}

void SensorTable::RefreshRow(CWiFiSensorDatabase& db, int index) {
    CTable_WiFiSensorDB* table = db.GetTableDB();
    if (index < 0 || index >= rowCount() || RowAt(table, index) == nullptr) return;
    SetText(index, kColTime, Utf8(CellValue<std::string>(table, index, "Time")));
    SetText(index, kColHumidity, HumidityText(CellValue<double>(table, index, "Humidity", NAN)));
    SetText(index, kColTemperature, TemperatureText(CellValue<double>(table, index, "Temperature", NAN)));
    SetAlarmCell(index, CellValue<int>(table, index, "Alarm"));
}

void SensorTable::SetAlarmCell(int row, int alarm) {
    SetText(row, kColAlarm, AlarmText(alarm));
    QTableWidgetItem* cell = item(row, kColAlarm);
    if (cell == nullptr) return;
    cell->setData(kAlarmRole, alarm);
    // Red only for an alarm newer than the one the operator last looked at.
    cell->setForeground(alarm == 2 ? QBrush(QColor(255, 0, 0)) : QBrush());
}

void SensorTable::SetNameCell(int row, const QString& name) { SetText(row, kColName, name); }

void SensorTable::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        m_clickedAlarmRow = index.isValid() && index.column() == kColAlarm ? index.row() : -1;
    }
    QTableWidget::mousePressEvent(event);
}

void SensorTable::mouseDoubleClickEvent(QMouseEvent* event) {
    // Decided before the base class runs: it turns a double click on another cell into
    // a press, which would move the remembered row.
    bool activate = false;
    int row = -1;
    if (event->button() == Qt::LeftButton && rowCount() > 0) {
        const QModelIndex index = indexAt(event->position().toPoint());
        row = index.row();
        const QTableWidgetItem* cell = index.isValid() ? item(row, kColAlarm) : nullptr;
        activate = index.column() == kColAlarm && row == m_clickedAlarmRow && cell != nullptr &&
                   cell->data(kAlarmRole).toInt() > 0;
    }
    QTableWidget::mouseDoubleClickEvent(event);
    if (activate) emit alarmCellActivated(row);
}

} // namespace hygro::ui
