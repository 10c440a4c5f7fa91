#include "ui/alarm_dialogs.h"

#include "ui/dialog_parts.h"
#include "app/app_core.h"
#include "db/wifi_sensor_db.h"
#include "ui/db_access.h"
#include "ui/sensor_views.h"
#include "ui/value_text.h"
#include "util/kx_log.h"
#include "util/message_box.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <cstdio>
#include <string>

namespace hygro::ui {
namespace {

enum AlarmColumn : int { kColName, kColTime, kColHumidity, kColTemperature, kAlarmColumns };
constexpr const char* kAlarmColumnTitle[kAlarmColumns] = {"Name", "Time", "Humidity", "Temperature"};

QString TimeText(const SystemTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return QString::fromLatin1(buf);
}

void NoHelpButton(QDialog* d) {
    d->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

} // namespace

// ---- list model ----

void AlarmRecordModel::SetRecords(QString name, std::vector<AlarmRecord> records) {
    beginResetModel();
    m_name = std::move(name);
    m_records = std::move(records);
    endResetModel();
}

void AlarmRecordModel::Clear() {
    SetRecords(m_name, {});
}

int AlarmRecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int AlarmRecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kAlarmColumns;
}

QVariant AlarmRecordModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= m_records.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == kColName ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    const AlarmRecord& r = m_records[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case kColName:
        return m_name;
    case kColTime:
        return TimeText(r.time);
    case kColHumidity:
        return PercentText(r.humidity);
    case kColTemperature:
        return CelsiusText(r.temperature);
    default:
        return {};
    }
}

QVariant AlarmRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kAlarmColumns) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kAlarmColumnTitle[section]);
    if (role == Qt::TextAlignmentRole)
        return section == kColName ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    return {};
}

// ---- limits dialog ----

CDlgSetSensorLimit::CDlgSetSensorLimit(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Limit"));
    NoHelpButton(this);
    setFont(SymbolFont(font()));
    auto* layout = new QVBoxLayout(this);
    auto group = [&](const char* title, const char* highId, const char* lowId, QLineEdit*& high,
                     QLineEdit*& low, const QString& unit) {
        auto* box = new QGroupBox(QString::fromLatin1(title), this);
        auto* grid = new QGridLayout(box);
        high = Named(new QLineEdit(box), highId);
        low = Named(new QLineEdit(box), lowId);
        grid->addWidget(new QLabel(QStringLiteral("High Limit:"), box), 0, 0);
        grid->addWidget(high, 0, 1);
        grid->addWidget(new QLabel(unit, box), 0, 2);
        grid->addWidget(new QLabel(QStringLiteral("Low Limit:"), box), 1, 0);
        grid->addWidget(low, 1, 1);
        grid->addWidget(new QLabel(unit, box), 1, 2);
        layout->addWidget(box);
    };
    group("Humidity Alarm Limit", "1051", "1052", m_hMax, m_hMin, QStringLiteral("%"));
    group("Temperature Alarm Limit", "1045", "1046", m_tMax, m_tMin, QString(QChar(kDegreeCelsius)));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* ok = Button("OK", "1008", this);
    QPushButton* cancel = Button("Cancel", "1117", this);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &CDlgSetSensorLimit::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgSetSensorLimit::SetInfo(const QString& hMax, const QString& hMin, const QString& tMax,
                                 const QString& tMin) {
    m_hMax->setText(hMax);
    m_hMin->setText(hMin);
    m_tMax->setText(tMax);
    m_tMin->setText(tMin);
}

void CDlgSetSensorLimit::GetLimit(double& hMax, double& hMin, double& tMax, double& tMin) const {
    hMax = m_limits.hMax;
    hMin = m_limits.hMin;
    tMax = m_limits.tMax;
    tMin = m_limits.tMin;
}

void CDlgSetSensorLimit::OnOK() {
    auto value = [](const QLineEdit* e) { return ReadLimitText(e->text().toStdString()); };
    const SensorLimits limits{value(m_hMax), value(m_hMin), value(m_tMax), value(m_tMin)};
    if (const char* error = LimitError(limits)) {
        ShowMessage(std::string(error));
        return;
    }
    m_limits = limits;
    accept();
}

void CDlgSetSensorLimit::keyPressEvent(QKeyEvent* event) {
    if (SwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- alarm list ----

CDlgAllErrorData::CDlgAllErrorData(CAppForNimbo1App& app, QWidget* parent) : QDialog(parent), m_app(app) {
    setWindowTitle(QStringLiteral("Alarm Data"));
    NoHelpButton(this);
    setFont(SymbolFont(font()));
    resize(640, 440);
    auto* layout = new QVBoxLayout(this);

    m_list = Named(new QTableView(this), "1042");
    m_list->setModel(&m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->verticalHeader()->hide();
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    layout->addWidget(m_list, 1);

    auto* bottom = new QHBoxLayout;
    auto group = [&](const char* title, const char* highId, const char* lowId, QLabel*& high, QLabel*& low) {
        auto* box = new QGroupBox(QString::fromLatin1(title), this);
        auto* grid = new QGridLayout(box);
        high = Named(new QLabel(box), highId);
        low = Named(new QLabel(box), lowId);
        grid->addWidget(new QLabel(QStringLiteral("High Limit:"), box), 0, 0);
        grid->addWidget(high, 0, 1);
        grid->addWidget(new QLabel(QStringLiteral("Low  Limit:"), box), 1, 0);
        grid->addWidget(low, 1, 1);
        grid->setColumnStretch(1, 1);
        bottom->addWidget(box, 1);
    };
    group("Humidity", "1066", "1067", m_hMax, m_hMin);
    group("Temperature", "1068", "1069", m_tMax, m_tMin);
    auto* buttons = new QVBoxLayout;
    QPushButton* clear = Button("Clear Alarm", "1064", this);
    QPushButton* setLimit = Button("Set Limit", "1065", this);
    buttons->addWidget(clear);
    buttons->addWidget(setLimit);
    buttons->addStretch(1);
    bottom->addLayout(buttons);
    layout->addLayout(bottom);
    connect(clear, &QPushButton::clicked, this, &CDlgAllErrorData::OnClearAlarm);
    connect(setLimit, &QPushButton::clicked, this, &CDlgAllErrorData::OnSetLimit);
    ShowLimits();
    UpdateColumnWidths();
}

std::array<int, 4> CDlgAllErrorData::ColumnWidths(int listWidth) {
    const int w = (listWidth - 20) / 6;
    return {2 * w, 2 * w, w, listWidth - 5 * (w + 4)};
}

void CDlgAllErrorData::UpdateColumnWidths() {
    const auto widths = ColumnWidths(m_list->width());
    for (int c = 0; c < kAlarmColumns; ++c)
        m_list->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
}

void CDlgAllErrorData::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    UpdateColumnWidths();
}

void CDlgAllErrorData::SetInfo(int nIndex) {
    m_index = nIndex;
    m_alarmTime = {};
    m_isClear = false;
    QString name;
    std::vector<AlarmRecord> records;
    // Under the lock an append (or the shift of a full file) is never half-seen.
    WithDatabaseLock(m_app.DatabaseLock(), "alarm list", [&] {
        CWiFiSensorDatabase& db = m_app.Database();
        CTable_WiFiSensorDB* dev = db.GetDevDB();
        if (nIndex < 0 || nIndex >= dev->GetRowCount()) return;
        std::string text;
        dev->GetRow(nIndex)->GetValue("Name", text);
        name = Utf8(text);
        m_limits = GetSensorLimits(db, nIndex);
        records = ReadAlarmRecords(AlarmFilePath(db, m_app.Settings().GetDataPath(), nIndex));
    });
    if (!records.empty()) m_alarmTime = records.back().time;
    m_model.SetRecords(name, std::move(records));
    ShowLimits();
    UpdateColumnWidths();
}

void CDlgAllErrorData::GetAlarmTime(std::uint16_t& wYear, std::uint16_t& wMonth, std::uint16_t& wDay,
                                    std::uint16_t& wHour, std::uint16_t& wMinute,
                                    std::uint16_t& wSecond) const {
    wYear = m_alarmTime.wYear;
    wMonth = m_alarmTime.wMonth;
    wDay = m_alarmTime.wDay;
    wHour = m_alarmTime.wHour;
    wMinute = m_alarmTime.wMinute;
    wSecond = m_alarmTime.wSecond;
}

void CDlgAllErrorData::OnClearAlarm() {
    m_model.Clear();
    m_isClear = true;
}

void CDlgAllErrorData::OnSetLimit() {
    if (m_index < 0) return;
    CDlgSetSensorLimit dlg(this);
    dlg.SetInfo(Fixed1(m_limits.hMax), Fixed1(m_limits.hMin), Fixed1(m_limits.tMax), Fixed1(m_limits.tMin));
    if (dlg.exec() != QDialog::Accepted) return;
    const SensorLimits limits = dlg.Limits();
    // Stored and saved at once: a limit must survive a crash as much as any setting.
    const bool stored = WithDatabaseLock(m_app.DatabaseLock(), "set limit", [&] {
        SetSensorLimits(m_app.Database(), m_index, limits);
        m_app.SaveAllDev();
        m_app.SaveMd5();
    });
    if (!stored) {
        ShowMessage(std::string("The limits were not changed: the station is busy. Please try again."));
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "Set Limit [%d|%.1lf,%.1lf,%.1lf,%.1lf]", m_index, limits.hMax,
                  limits.hMin, limits.tMax, limits.tMin);
    AddLogInfo(line);
    m_limits = limits;
    ShowLimits();
}

void CDlgAllErrorData::ShowLimits() {
    m_hMax->setText(PercentText(m_limits.hMax));
    m_hMin->setText(PercentText(m_limits.hMin));
    m_tMax->setText(CelsiusText(m_limits.tMax));
    m_tMin->setText(CelsiusText(m_limits.tMin));
}

void CDlgAllErrorData::keyPressEvent(QKeyEvent* event) {
    if (SwallowedKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace hygro::ui
