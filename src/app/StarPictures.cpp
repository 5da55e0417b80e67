#include "app/StarPictures.h"

#include <QPainter>
#include <QPolygonF>
#include <QtMath>

QPixmap StarPixmap(bool gold)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double radius = (i % 2 == 0) ? 7.5 : 3.2;
        const double angle = -M_PI / 2 + i * M_PI / 5;
        star << QPointF(8 + radius * std::cos(angle), 8.4 + radius * std::sin(angle));
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (gold) {
        painter.setPen(QPen(QColor(0xC0, 0x8A, 0x00), 1));
        painter.setBrush(QColor(0xFF, 0xCC, 0x00));
    } else {
        painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawPolygon(star);
    return pixmap;
}
