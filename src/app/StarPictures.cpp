#include "app/StarPictures.h"

#include "dialogs/DialogCommon.h"

#include <QPainter>

QPixmap StarPixmap(bool gold)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    const QPolygonF star = StarPolygon(QPointF(8, 8.4), 7.5, 3.2);
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
