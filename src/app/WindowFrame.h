#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

#include <functional>

class QWidget;

// Where a top-level window's outer frame goes: the stored frame at its first showing, the
// outer corner kept when a change of flags makes a new native window, and the frame to
// save at close. A frame's margins are known only once the window manager has framed the
// window, so the placing happens at the first expose of each native window (or at the
// showing, where the platform knows the margins before the window is on screen).
class TWindowFrame : public QObject {
    Q_OBJECT
public:
    // modeClientHeight: the client height the display mode wants for a frame of the
    // given height above and below the client, 0 for none. destroyNative: the window's own
    // QWidget::destroy, which only the window may call.
    TWindowFrame(QWidget* window, std::function<int(int frameHeight)> modeClientHeight,
                 std::function<void()> destroyNative);

    // The outer frame the settings keep. Placed on a screen. A size smaller than a window someone left open
    // gives the default size at the same corner. Before the first showing.
    void Restore(const QRect& stored, const QSize& defaultSize);
    // Just before the window is shown with the flags it keeps: a platform that knows a
    // native window's frame before it is on screen has the window placed now, before
    // anything is laid out for its first frame.
    void PlaceBeforeShowing();
    // From the window's showEvent; watchFirstExpose: Exposed is wanted even when the
    // frame is already placed.
    void Shown(bool watchFirstExpose);
    // Changes the window's flags, keeping its outer corner where it was.
    void ApplyFlags(Qt::WindowFlags flags);
    // The outer frame to save: the window's own, or the stored one while the window was
    // never framed or is smaller than a usable window.
    QRect ToSave() const;
    // The current native window's frame is known and placed.
    bool Placed() const { return !m_pending; }

Q_SIGNALS:
    // A native window of this window was exposed for the first time.
    void Exposed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Known();

    QWidget* m_window;
    std::function<int(int)> m_modeClientHeight;
    std::function<void()> m_destroyNative;
    QRect m_stored;             // the outer frame from the settings, a usable size
    bool m_restored = false;    // from then on the window's own frame is saved
    bool m_pending = true;      // a native window whose frame is not known yet
    QPoint m_corner;            // where its outer corner goes then
};
