#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>

class QLabel;
class QMouseEvent;
class TRichEditC;
class TShape;

// The top strip: one status at a time (its author, its text with links, its favourite
// star), the repeated mark and the widget mode's unseen count, over the strip's
// background. It moves the window when dragged by the name or the text, and tells the
// window when the pointer rests on a part of it or the star is clicked; what that does
// to the timers and the favourite is the window's business.
class TStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 77;
    enum class TPart { Name, Star, Text };

    explicit TStrip(QWidget* parent);

    // The controls, under the names the rest of the program and the tests know them by.
    TShape* ShapeBack;
    TShape* shapeWindow;
    QLabel* ImageStar;
    QLabel* ImageStarOn;
    QLabel* Image1;
    QLabel* lblStar;
    QLabel* lblUserName;
    TRichEditC* RichEditC;

    void ShowStar(bool gold);
    // The "RT" mark beside the star for a status repeated in this run.
    void ShowRepeated(bool repeated);
    // The widget mode's badge: the count, hidden at 0.
    void ShowUnseen(int count);
    // The colours and the frame of a display mode: 1 list, 2 compact, 3 widget.
    void ApplyMode(int mode);
    void SetColours(const QColor& background, const QColor& text);

Q_SIGNALS:
    // The pointer moved over a part without dragging the window.
    void Hovered(TPart part);
    void StarClicked();
    void MenuRequested(const QPoint& globalPos);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DragPress(QMouseEvent* e);
    bool DragMove(QMouseEvent* e);

    QLabel* m_unseen;
    QLabel* m_repeated;
    QPoint m_grabOffset;
};
