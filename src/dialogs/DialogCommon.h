#pragma once

#include <QFont>
#include <QLabel>
#include <QList>
#include <QIcon>
#include <QPixmap>
#include <QPolygonF>
#include <QPointer>
#include <QWidget>

class QTimer;

// The Japanese font names the windows ask for.
extern const QString kPGothic;  // proportional
extern const QString kGothic;   // fixed width

// A font of family by character height in pixels.
QFont PixelFont(const QString& family, int pixels, bool bold = false);
// The proportional Japanese UI font of every window, by character height in pixels.
QFont UiFont(int pixelHeight, bool bold = false);

// Maps the Windows Japanese font names to fonts that exist here (IPA Gothic);
// the main window calls it once before creating any window. Safe to call again.
// Where IPA Gothic is installed, PixelFont and UiFont name it directly from then on.
void RegisterJapaneseFontSubstitutes();

// A five-pointed star, point up, around centre.
QPolygonF StarPolygon(const QPointF& centre, double outerRadius, double innerRadius);

// Switches a timer on or off; a running timer keeps its phase (switching it on again
// does not restart its countdown). A null timer is left alone.
void SetTimerEnabled(QTimer* timer, bool enabled);

// A label under the window's own name for it, at its fixed position, sized to its text.
QLabel* MakeLabel(const QString& name, const QString& caption, int left, int top, QWidget* parent);

// The program's icon, drawn at run time so the program carries no image files.
QPixmap ProgramIcon(int size);
// The same as an icon that draws each size only when it is asked for: a window
// system that never shows the icon costs nothing, at start-up or later.
QIcon ProgramIconSet();

// While alive, the application's visible top-level windows that stay on top are made
// ordinary, so a message box opened meanwhile cannot end up behind them; they stay
// on top again afterwards (those that still exist).
class TTopMostSuspender {
public:
    TTopMostSuspender();
    ~TTopMostSuspender();
    TTopMostSuspender(const TTopMostSuspender&) = delete;
    TTopMostSuspender& operator=(const TTopMostSuspender&) = delete;

private:
    QList<QPointer<QWidget>> m_suspended;
};

// A label that looks and acts like a web link: blue, underlined, hand cursor, and a
// Click signal for a left-button press and release on it.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& caption, QWidget* parent = nullptr);

Q_SIGNALS:
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};
