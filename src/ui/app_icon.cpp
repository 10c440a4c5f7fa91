#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace hygro::ui {
namespace {

// Coordinates of the 64 × 64 drawing, scaled to `size`.
QPixmap Paint(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0x8b));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(17, 10, 12, 32), 6, 6);
    p.drawEllipse(QPointF(23, 46), 9, 9);
    p.setBrush(QColor(0xe4, 0x57, 0x2e));
    p.drawRoundedRect(QRectF(20.5, 20, 5, 24), 2.5, 2.5);
    p.drawEllipse(QPointF(23, 46), 6, 6);
    QPainterPath drop;
    drop.moveTo(45, 16);
    drop.cubicTo(45, 16, 35, 30, 35, 37);
    drop.arcTo(QRectF(35, 27, 20, 20), 180, 180);
    drop.cubicTo(55, 30, 45, 16, 45, 16);
    p.setBrush(QColor(0x8f, 0xd3, 0xff));
    p.drawPath(drop);
    return pm;
}

} // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(Paint(size));
    return icon;
}

} // namespace hygro::ui
