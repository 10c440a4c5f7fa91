#include "map/map_widget.h"

#include "map/map_files.h"

#include <QByteArrayView>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QString>
#include <algorithm>

// The resource lives in a static library: nothing would pull its initialiser in.
static void InitMapResources() {
    Q_INIT_RESOURCE(map);
}

namespace hygro::map {
namespace {

MapBoxes::Measure FontMeasure(const QWidget* widget) {
    return [widget](const std::string& name, int& w, int& h) {
        const QFontMetrics fm(widget->font());
        w = fm.horizontalAdvance(QString::fromStdString(name));
        h = fm.height();
    };
}

int Channel(int v) {
    return std::clamp(v, 0, 255);
}

} // namespace

void PaintMap(QPainter& painter, const QImage& picture, const QRect& pictureArea, const MapBoxes& boxes) {
    if (!picture.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(pictureArea, picture);
        painter.restore();
    }
    if (boxes.Boxes().empty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm(painter.font());
    for (const CDev_Info_PciCtrl& box : boxes.Boxes()) {
        const BoxRect& a = box.area;
        // The area's right and bottom are exclusive; a 1-pixel outline of QRect(x, y, w, h)
        // covers x .. x + w.
        const QRect outline(a.left, a.top, std::max(0, a.right - a.left - 1), std::max(0, a.bottom - a.top - 1));
        painter.setPen(QPen(QColor(255, 0, 0), 1));
        const QColor fill(Channel(box.r), Channel(box.g), Channel(box.b));
        painter.setBrush(fill);
        painter.drawRect(outline);
        // The name must stay readable on whatever colour the operator chose.
        const int luma = (fill.red() * 299 + fill.green() * 587 + fill.blue() * 114) / 1000;
        painter.setPen(luma < 110 ? Qt::white : Qt::black);
        painter.drawText(QPoint(a.left + 1, a.top + 1 + fm.ascent()), QString::fromStdString(box.name));
    }
    painter.restore();
}

// ---- live map ----

CPicCtrl_WiFiSensor::CPicCtrl_WiFiSensor(QWidget* parent) : QWidget(parent), m_boxes(FontMeasure(this)) {
    // Moving and placing follow the mouse without a button held.
    setMouseTracking(true);
}

QImage CPicCtrl_WiFiSensor::BuiltInFloorPlan() {
    InitMapResources();
    return QImage(QStringLiteral(":/map/floorplan.png"));
}

void CPicCtrl_WiFiSensor::SetPicture(QImage picture) {
    m_picture = std::move(picture);
    update();
}

void CPicCtrl_WiFiSensor::LoadBuiltIn() {
    SetPicture(BuiltInFloorPlan());
}

int CPicCtrl_WiFiSensor::AttachBmpFile(std::span<const unsigned char> bytes) {
    if (bytes.empty()) return 0;
    QImage image = QImage::fromData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (image.isNull()) return 0;
    SetPicture(std::move(image));
    return 1;
}

double CPicCtrl_WiFiSensor::GetXDividedYValue() const {
    if (m_picture.isNull() || m_picture.height() <= 0) return 0.0;
    return static_cast<double>(m_picture.width()) / m_picture.height();
}

void CPicCtrl_WiFiSensor::SyncMapSize() {
    if (m_boxes.MapWidth() != width() || m_boxes.MapHeight() != height()) m_boxes.SetMapSize(width(), height());
}

void CPicCtrl_WiFiSensor::paintEvent(QPaintEvent*) {
    SyncMapSize();
    QPainter painter(this);
    PaintMap(painter, m_picture, rect(), m_boxes);
}

void CPicCtrl_WiFiSensor::resizeEvent(QResizeEvent* event) {
    SyncMapSize();
    QWidget::resizeEvent(event);
}

void CPicCtrl_WiFiSensor::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_boxes.ReCreateAreaAllSensor();
        update();
    }
    QWidget::changeEvent(event);
}

QPoint CPicCtrl_WiFiSensor::ClampToMap(QPoint p) const {
    return {std::clamp(p.x(), 0, std::max(0, width() - 1)), std::clamp(p.y(), 0, std::max(0, height() - 1))};
}

void CPicCtrl_WiFiSensor::mouseMoveEvent(QMouseEvent* event) {
    SyncMapSize();
    const QPoint p = ClampToMap(event->position().toPoint());
    if (m_boxes.OnMouseMove(p.x(), p.y()) >= 0) update();
    QWidget::mouseMoveEvent(event);
}

void CPicCtrl_WiFiSensor::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    SyncMapSize();
    // A press on the map that ends outside it still counts, at the nearest map point.
    const QPoint p = ClampToMap(event->position().toPoint());
    const int result = m_boxes.OnLBtnUp(p.x(), p.y());
    const double fx = width() > 0 ? std::clamp(static_cast<double>(p.x()) / width(), 0.0, 1.0) : 0.0;
    const double fy = height() > 0 ? std::clamp(static_cast<double>(p.y()) / height(), 0.0, 1.0) : 0.0;
    update();
    emit released(result, fx, fy, event->globalPosition().toPoint());
}

// ---- history map ----

CHistoryMapView::CHistoryMapView(QWidget* parent) : QWidget(parent), m_boxes(FontMeasure(this)) {}

bool CHistoryMapView::SetContent(const MapFileContent& content) {
    if (content.hasSensorList) {
        m_boxes.Clear();
        for (const HistorySensor& s : content.sensors)
            m_boxes.AddDev(static_cast<int>(m_boxes.Boxes().size()), s.name, s.x, s.y, s.r, s.g, s.b);
    }
    bool decoded = true;
    if (content.picture.empty()) {
        m_picture = CPicCtrl_WiFiSensor::BuiltInFloorPlan();
    } else {
        m_picture = QImage::fromData(
            QByteArrayView(content.picture.data(), static_cast<qsizetype>(content.picture.size())));
        decoded = !m_picture.isNull();
    }
    update();
    return decoded;
}

void CHistoryMapView::LayOut(int width, int height) {
    m_boxes.SetMapSize(width, height);
    update();
}

void CHistoryMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintMap(painter, m_picture, rect(), m_boxes);
}

void CHistoryMapView::mouseReleaseEvent(QMouseEvent* event) {
    update();
    QWidget::mouseReleaseEvent(event);
}

void CHistoryMapView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_boxes.ReCreateAreaAllSensor();
        update();
    }
    QWidget::changeEvent(event);
}

} // namespace hygro::map
