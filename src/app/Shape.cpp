#include "app/Shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::SetBrushColor(const QColor& color)
{
    m_brush = color;
    update();
}

void TShape::SetPenColor(const QColor& color)
{
    m_pen = color;
    update();
}

void TShape::SetRounded(bool rounded)
{
    m_rounded = rounded;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(m_pen);
    painter.setBrush(m_brush);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    if (m_rounded) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(r, 8, 8);
    } else {
        painter.drawRect(r);
    }
}
