#include "ui/main_area.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace hygro::ui {

MainArea::MainArea(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void MainArea::SetViews(QWidget* left, QWidget* upper, QWidget* lower) {
    m_left = left;
    m_upper = upper;
    m_lower = lower;
    DockPane();
}

void MainArea::SetSplitterLeft(int x) {
    m_splitterLeft = std::max(0, x);
    DockPane();
    update();
}

void MainArea::DockPane() {
    const int w = width(), h = height();
    if (w <= 0 || h <= 0) return;
    const int right = m_splitterLeft + 4;
    if (m_left) m_left->setGeometry(0, 0, m_splitterLeft, h);
    if (m_mapView) {
        if (w > 10 && h > 10 && m_upper && m_lower) {
            const int half = h / 2;
            m_upper->setGeometry(right, 0, std::max(0, w - right), half);
            m_lower->setGeometry(right, half, std::max(0, w - right), h - half);
        }
    } else if (m_upper) {
        m_upper->setGeometry(right, 0, std::max(0, w - right), h);
    }
}

void MainArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(m_splitterLeft, 0, 4, height(), QColor(212, 208, 200));
}

void MainArea::resizeEvent(QResizeEvent*) { DockPane(); }

void MainArea::mouseMoveEvent(QMouseEvent* e) {
    const int x = static_cast<int>(e->position().x());
    if (m_drag) {
        m_hover = true;
        SetSplitterLeft(std::clamp(x, 0, std::max(0, width() - 4)));
        return;
    }
    m_hover = OverBar(x);
    // Only the map view lets the bar be dragged, so only it shows the sizing arrow.
    if (m_mapView && m_hover)
        setCursor(Qt::SizeHorCursor);
    else
        unsetCursor();
}

void MainArea::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && m_mapView && m_hover) {
        m_drag = true;
        QCursor::setPos(mapToGlobal(QPoint(m_splitterLeft, static_cast<int>(e->position().y()))));
    }
}

void MainArea::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && m_drag) {
        m_drag = false;
        if (onSplitterReleased) onSplitterReleased(m_splitterLeft);
    }
}

} // namespace hygro::ui
