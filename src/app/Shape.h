#pragma once

#include <QColor>
#include <QWidget>

// A filled rectangle with an outline, optionally with rounded corners: the frame and
// background of the top strip.
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);

    void SetBrushColor(const QColor& color);
    void SetPenColor(const QColor& color);
    void SetRounded(bool rounded);
    QColor BrushColor() const { return m_brush; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_brush = Qt::white;
    QColor m_pen = Qt::black;
    bool m_rounded = false;
};
