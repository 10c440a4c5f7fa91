#include "ui/sensor_dialogs.h"

#include "ui/dialog_parts.h"
#include "acq/sensor_checks.h"
#include "ui/sensor_views.h"
#include "ui/value_text.h"
#include "util/message_box.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

namespace hygro::ui {
namespace {

const QColor kStartColour(0, 0, 255);

QPushButton* OkButton(QWidget* parent) {
    auto* b = Named(new QPushButton(QStringLiteral("OK"), parent), "1008");
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* Caption(const char* text, QWidget* parent) {
    return new QLabel(QString::fromLatin1(text), parent);
}

std::string Utf8Of(const QString& s) {
    return s.toStdString();
}

std::uint32_t RgbOf(const QColor& c) {
    return RgbValue(c.red(), c.green(), c.blue());
}

std::vector<InUseSensor> ToInUse(const std::vector<SensorRef>& refs) {
    std::vector<InUseSensor> out;
    out.reserve(refs.size());
    for (const SensorRef& r : refs)
        out.push_back({r.name, r.folder, r.number});
    return out;
}

// Focus never selects the name: the caret goes to its start.
class NameEdit : public QLineEdit {
  public:
    using QLineEdit::QLineEdit;

  protected:
    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        deselect();
        setCursorPosition(0);
    }
};

// A push button that shows a colour and lets the operator choose another.
class ColourButton : public QPushButton {
  public:
    ColourButton(const char* id, QWidget* parent) : QPushButton(parent) {
        setObjectName(QString::fromLatin1(id));
        setAutoDefault(false);
        setDefault(false);
        setIconSize(QSize(64, 14));
        setMinimumWidth(96);
        setColour(kStartColour);
        connect(this, &QPushButton::clicked, this, [this] { Choose(); });
    }
    QColor colour() const { return m_colour; }
    void setColour(const QColor& c) {
        m_colour = c.toRgb();
        m_colour.setAlpha(255);
        QPixmap swatch(iconSize());
        swatch.fill(m_colour);
        QPainter p(&swatch);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
        p.end();
        setIcon(QIcon(swatch));
        setToolTip(m_colour.name());
    }

  private:
    void Choose() {
        QColorDialog dlg(m_colour, this);
        dlg.setOption(QColorDialog::DontUseNativeDialog);
        if (dlg.exec() == QDialog::Accepted && dlg.selectedColor().isValid()) setColour(dlg.selectedColor());
    }
    QColor m_colour;
};

// "High Limit:" and "Low Limit:" with their unit, in a group box.
QGroupBox* LimitGroup(const char* title, const char* highId, const char* lowId, QLineEdit*& high,
                      QLineEdit*& low, const QString& unit, QWidget* parent) {
    auto* box = new QGroupBox(QString::fromLatin1(title), parent);
    auto* grid = new QGridLayout(box);
    high = Named(new QLineEdit(box), highId);
    low = Named(new QLineEdit(box), lowId);
    for (QLineEdit* e : {high, low})
        e->setMaximumWidth(90);
    grid->addWidget(Caption("High Limit:", box), 0, 0);
    grid->addWidget(high, 0, 1);
    grid->addWidget(new QLabel(unit, box), 0, 2);
    grid->addWidget(Caption("Low Limit:", box), 1, 0);
    grid->addWidget(low, 1, 1);
    grid->addWidget(new QLabel(unit, box), 1, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

QString Celsius() {
    return QString(QChar(kDegreeCelsius));
}

} // namespace

// ---- "Append Sensor Info" ----

struct CDlgSetSensorName::Impl {
    QLineEdit* name = nullptr;
    ColourButton* colour = nullptr;
    QComboBox* number = nullptr;
    QComboBox* ip = nullptr;
    QRadioButton* newSensor = nullptr;
    QRadioButton* oldSensor = nullptr;
    QLineEdit* newFolder = nullptr;
    QComboBox* oldFolder = nullptr;
    QLineEdit* hMax = nullptr;
    QLineEdit* hMin = nullptr;
    QLineEdit* tMax = nullptr;
    QLineEdit* tMin = nullptr;

    std::filesystem::path dataPath;
    std::vector<InUseSensor> inUse;
    std::vector<std::string> oldFolders;

    // Accepted with OK.
    std::string acceptedName;
    std::string acceptedFolder;
    SensorLimits limits{90.0, 30.0, 70.0, 15.0};
    int sensorNo = 0;
    int index = -1;
    int kind = 0;
};

CDlgSetSensorName::CDlgSetSensorName(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {
    setWindowTitle(QStringLiteral("Append Sensor Info"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(SymbolFont(font()));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QGridLayout;
    m->name = Named(new QLineEdit(this), "1010");
    m->colour = new ColourButton("1059", this);
    m->number = Named(new QComboBox(this), "1130");
    m->number->setEditable(true);
    m->number->setInsertPolicy(QComboBox::NoInsert);
    m->ip = Named(new QComboBox(this), "1104");
    m->ip->setMinimumContentsLength(22);
    top->addWidget(Caption("Name:", this), 0, 0);
    top->addWidget(m->name, 0, 1, 1, 3);
    top->addWidget(Caption("Color:", this), 1, 0);
    top->addWidget(m->colour, 1, 1, Qt::AlignLeft);
    top->addWidget(Caption("No.:", this), 1, 2, Qt::AlignRight);
    top->addWidget(m->number, 1, 3);
    top->addWidget(Caption("IP:", this), 2, 0);
    top->addWidget(m->ip, 2, 1, 1, 3);
    top->setColumnStretch(1, 1);
    top->setColumnStretch(3, 1);
    layout->addLayout(top);

    auto* folderBox = new QGroupBox(QStringLiteral("Save Data Folder Info"), this);
    auto* folderGrid = new QGridLayout(folderBox);
    m->newSensor = Named(new QRadioButton(QStringLiteral("new sensor"), folderBox), "1035");
    m->oldSensor = Named(new QRadioButton(QStringLiteral("old sensor"), folderBox), "1036");
    m->newFolder = Named(new QLineEdit(folderBox), "1037");
    m->oldFolder = Named(new QComboBox(folderBox), "1038");
    folderGrid->addWidget(m->newSensor, 0, 0);
    folderGrid->addWidget(Caption("Folder Name:", folderBox), 0, 1);
    folderGrid->addWidget(m->newFolder, 0, 2);
    folderGrid->addWidget(m->oldSensor, 1, 0);
    folderGrid->addWidget(Caption("Folder Name:", folderBox), 1, 1);
    folderGrid->addWidget(m->oldFolder, 1, 2);
    folderGrid->setColumnStretch(2, 1);
    layout->addWidget(folderBox);

    auto* limits = new QHBoxLayout;
    limits->addWidget(
        LimitGroup("Humidity Alarm Limit", "1051", "1052", m->hMax, m->hMin, QStringLiteral("%"), this));
    limits->addWidget(
        LimitGroup("Temperature Alarm Limit", "1045", "1046", m->tMax, m->tMin, Celsius(), this));
    layout->addLayout(limits);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* ok = OkButton(this);
    buttons->addWidget(ok);
    layout->addLayout(buttons);

    connect(m->name, &QLineEdit::textChanged, m->newFolder, &QLineEdit::setText);
    connect(m->newSensor, &QRadioButton::clicked, this, [this] { OnNewSensor(); });
    connect(m->oldSensor, &QRadioButton::clicked, this, [this] { OnOldSensor(); });
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });

    SetInfo({}, {}, {}, {}, 90.0, 30.0, 70.0, 15.0);
}

CDlgSetSensorName::~CDlgSetSensorName() = default;

void CDlgSetSensorName::SetInfo(std::vector<int> candidates, std::filesystem::path dataPath,
                                std::vector<PendingRef> pending, std::vector<SensorRef> inUse, double hMax,
                                double hMin, double tMax, double tMin) {
    m->dataPath = std::move(dataPath);
    m->inUse = ToInUse(inUse);
    m->limits = {hMax, hMin, tMax, tMin};
    m->hMax->setText(Fixed1(hMax));
    m->hMin->setText(Fixed1(hMin));
    m->tMax->setText(Fixed1(tMax));
    m->tMin->setText(Fixed1(tMin));
    m->colour->setColour(kStartColour);

    m->number->clear();
    for (const int n : candidates)
        m->number->addItem(QString::number(n));
    // The smallest free number is offered first and taken unless the operator picks another.
    m->number->setCurrentIndex(candidates.empty() ? -1 : 0);

    m->ip->clear();
    for (const PendingRef& p : pending) {
        char text[48];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d|%06d", p.ip[0], p.ip[1], p.ip[2], p.ip[3], p.serial);
        m->ip->addItem(QString::fromLatin1(text), p.position);
    }
    m->ip->setCurrentIndex(-1);

    m->oldFolders = m->dataPath.empty() ? std::vector<std::string>{} : OldDataFolders(m->dataPath, m->inUse);
    m->oldFolder->clear();
    for (const std::string& f : m->oldFolders)
        m->oldFolder->addItem(Utf8(f));

    m->newSensor->setChecked(true);
    OnNewSensor();
}

void CDlgSetSensorName::OnNewSensor() {
    m->newSensor->setChecked(true);
    m->newFolder->setEnabled(true);
    m->oldFolder->setEnabled(false);
    m->kind = 0;
}

void CDlgSetSensorName::OnOldSensor() {
    if (m->oldFolders.empty()) {
        ShowMessage(std::string("No old data!"));
        OnNewSensor();
        return;
    }
    m->oldSensor->setChecked(true);
    m->newFolder->setEnabled(false);
    m->oldFolder->setEnabled(true);
    m->kind = 1;
}

void CDlgSetSensorName::OnOK() {
    AddSensorInput in;
    in.name = Utf8Of(m->name->text());
    in.folderKind = m->kind;
    in.newFolder = Utf8Of(m->newFolder->text());
    const int old = m->oldFolder->currentIndex();
    if (old >= 0 && static_cast<std::size_t>(old) < m->oldFolders.size())
        in.oldFolder = m->oldFolders[static_cast<std::size_t>(old)];
    in.hMax = Utf8Of(m->hMax->text());
    in.hMin = Utf8Of(m->hMin->text());
    in.tMax = Utf8Of(m->tMax->text());
    in.tMin = Utf8Of(m->tMin->text());
    in.colour = RgbOf(m->colour->colour());
    in.numberText = Utf8Of(m->number->currentText());
    in.ipSelected = m->ip->currentIndex() >= 0;

    const AddSensorCheck r = CheckAddSensor(in, m->dataPath, m->inUse);
    if (r.error) {
        ShowMessage(std::string(r.error));
        return;
    }
    m->acceptedName = in.name;
    m->acceptedFolder = r.folder;
    m->limits = r.limits;
    m->sensorNo = r.number;
    m->index = m->ip->currentData().toInt();
    accept();
}

void CDlgSetSensorName::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event) || IsEscapeOrAltF4(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgSetSensorName::closeEvent(QCloseEvent* event) {
    if (ShowMessage(std::string("Are you sure do not add sensor?"), MsgButtons::YesNo) != MsgAnswer::Yes) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDlgSetSensorName::SetColourForTest(const QColor& colour) {
    m->colour->setColour(colour);
}
const std::vector<std::string>& CDlgSetSensorName::OldFolders() const {
    return m->oldFolders;
}

std::string CDlgSetSensorName::GetSensorName() const {
    return m->acceptedName;
}
std::string CDlgSetSensorName::GetSaveDataFolderName() const {
    return m->acceptedFolder;
}
double CDlgSetSensorName::GetHMaxValue() const {
    return m->limits.hMax;
}
double CDlgSetSensorName::GetHMinValue() const {
    return m->limits.hMin;
}
double CDlgSetSensorName::GetTMaxValue() const {
    return m->limits.tMax;
}
double CDlgSetSensorName::GetTMinValue() const {
    return m->limits.tMin;
}
QColor CDlgSetSensorName::GetLineColor() const {
    return m->colour->colour();
}
int CDlgSetSensorName::GetSensorNo() const {
    return m->sensorNo;
}
int CDlgSetSensorName::GetIndex() const {
    return m->index;
}
int CDlgSetSensorName::GetKind() const {
    return m->kind;
}

// ---- "Edit" ----

struct CDlgEditOneOfSensor::Impl {
    QLineEdit* name = nullptr;
    ColourButton* colour = nullptr;
    QLineEdit* number = nullptr;
    QLineEdit* ip = nullptr;
    QLineEdit* folder = nullptr;
    QLineEdit* serial = nullptr;
    QLineEdit* hMax = nullptr;
    QLineEdit* hMin = nullptr;
    QLineEdit* tMax = nullptr;
    QLineEdit* tMin = nullptr;
    QCheckBox* show = nullptr;

    EditSensorInfo info;
    std::filesystem::path dataPath;
    std::vector<InUseSensor> inUse;
};

CDlgEditOneOfSensor::CDlgEditOneOfSensor(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {
    setWindowTitle(QStringLiteral("Edit"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(SymbolFont(font()));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QGridLayout;
    m->name = Named(new NameEdit(this), "1010");
    m->colour = new ColourButton("1026", this);
    m->number = Named(new QLineEdit(this), "1110");
    m->ip = Named(new QLineEdit(this), "1128");
    m->folder = Named(new QLineEdit(this), "1127");
    m->serial = Named(new QLineEdit(this), "1061");
    for (QLineEdit* e : {m->number, m->ip, m->serial}) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::ClickFocus);
    }
    top->addWidget(Caption("Name:", this), 0, 0);
    top->addWidget(m->name, 0, 1);
    top->addWidget(Caption("Color:", this), 0, 2);
    top->addWidget(m->colour, 0, 3);
    top->addWidget(Caption("No.:", this), 1, 0);
    top->addWidget(m->number, 1, 1);
    top->addWidget(Caption("IP:", this), 1, 2);
    top->addWidget(m->ip, 1, 3);
    top->addWidget(Caption("Folder:", this), 2, 0);
    top->addWidget(m->folder, 2, 1);
    top->addWidget(Caption("Serial:", this), 2, 2);
    top->addWidget(m->serial, 2, 3);
    top->setColumnStretch(1, 3);
    top->setColumnStretch(3, 2);
    layout->addLayout(top);

    auto* limits = new QHBoxLayout;
    limits->addWidget(
        LimitGroup("Humidity  Alarm  Limit", "1051", "1052", m->hMax, m->hMin, QStringLiteral("%"), this));
    limits->addWidget(
        LimitGroup("Temperature  Alarm Limit", "1045", "1046", m->tMax, m->tMin, Celsius(), this));
    layout->addLayout(limits);

    auto* bottom = new QHBoxLayout;
    m->show = Named(new QCheckBox(QStringLiteral("Show"), this), "1016");
    bottom->addWidget(m->show);
    bottom->addStretch(1);
    QPushButton* ok = OkButton(this);
    bottom->addWidget(ok);
    layout->addLayout(bottom);

    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    SetInfo(EditSensorInfo{}, {}, {});
}

CDlgEditOneOfSensor::~CDlgEditOneOfSensor() = default;

void CDlgEditOneOfSensor::SetInfo(const EditSensorInfo& info, std::filesystem::path dataPath,
                                  std::vector<SensorRef> inUse) {
    m->info = info;
    m->dataPath = std::move(dataPath);
    m->inUse = ToInUse(inUse);
    m->name->setText(Utf8(info.name));
    m->name->setReadOnly(info.readMode == 1);
    m->colour->setColour(info.colour.isValid() ? info.colour : kStartColour);
    m->info.colour = m->colour->colour();
    m->number->setText(QString::number(info.number));
    m->ip->setText(QString::fromStdString(IPv4Text(info.ip)));
    m->folder->setText(Utf8(info.folder));
    m->serial->setText(QString::number(info.serial));
    m->hMax->setText(Fixed1(info.hMax));
    m->hMin->setText(Fixed1(info.hMin));
    m->tMax->setText(Fixed1(info.tMax));
    m->tMin->setText(Fixed1(info.tMin));
    m->show->setChecked(info.show != 0);
}

void CDlgEditOneOfSensor::OnOK() {
    EditSensorInput in;
    in.name = Utf8Of(m->name->text());
    in.colour = RgbOf(m->colour->colour());
    in.hMax = Utf8Of(m->hMax->text());
    in.hMin = Utf8Of(m->hMin->text());
    in.tMax = Utf8Of(m->tMax->text());
    in.tMin = Utf8Of(m->tMin->text());
    in.folder = Utf8Of(m->folder->text());
    in.currentFolder = m->info.folder;
    in.number = m->info.number;
    const UpperCase upper = [](const std::string& s) { return Utf8Of(Utf8(s).toUpper()); };

    const EditSensorCheck r = CheckEditSensor(in, m->dataPath, m->inUse, upper);
    if (r.error) {
        ShowMessage(std::string(r.error));
        return;
    }
    m->info.name = in.name;
    m->info.colour = m->colour->colour();
    m->info.show = m->show->isChecked() ? 1 : 0;
    m->info.hMax = r.limits.hMax;
    m->info.hMin = r.limits.hMin;
    m->info.tMax = r.limits.tMax;
    m->info.tMin = r.limits.tMin;
    m->info.folder = r.folder;
    accept();
}

void CDlgEditOneOfSensor::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event)) {
        event->accept();
        OnOK();
        return;
    }
    if (IsEscapeOrAltF4(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgEditOneOfSensor::SetColourForTest(const QColor& colour) {
    m->colour->setColour(colour);
}

std::string CDlgEditOneOfSensor::GetName() const {
    return m->info.name;
}
QColor CDlgEditOneOfSensor::GetESColor() const {
    return m->info.colour;
}
int CDlgEditOneOfSensor::GetIsShow() const {
    return m->info.show;
}
double CDlgEditOneOfSensor::GetHMax() const {
    return m->info.hMax;
}
double CDlgEditOneOfSensor::GetHMin() const {
    return m->info.hMin;
}
double CDlgEditOneOfSensor::GetTMax() const {
    return m->info.tMax;
}
double CDlgEditOneOfSensor::GetTMin() const {
    return m->info.tMin;
}
std::string CDlgEditOneOfSensor::GetFolder() const {
    return m->info.folder;
}

} // namespace hygro::ui
