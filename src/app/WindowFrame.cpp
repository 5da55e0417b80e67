#include "app/WindowFrame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

// Smaller than this is no window someone left open (a window never shown, a frame not
// yet known): such a size is neither restored nor saved.
constexpr int kMinFrameWidth = 100;
constexpr int kMinFrameHeight = 40;

// The desktop's screens, where windows may go.
QList<QRect> ScreenAreas()
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

qint64 Area(const QRect& r)
{
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

// How far a point lies outside a rectangle.
int Distance(const QPoint& p, const QRect& r)
{
    const int dx = qMax(0, qMax(r.left() - p.x(), p.x() - r.right()));
    const int dy = qMax(0, qMax(r.top() - p.y(), p.y() - r.bottom()));
    return dx + dy;
}

// A frame mostly off every screen moved fully onto the nearest, its size kept where it
// fits; any other frame as it is.
QRect OnScreen(const QRect& frame, const QList<QRect>& screens)
{
    qint64 visible = 0;
    for (const QRect& screen : screens)
        visible += Area(frame.intersected(screen));
    if (screens.isEmpty() || visible * 2 >= Area(frame))
        return frame;
    const QRect* nearest = &screens.first();
    for (const QRect& screen : screens) {
        if (Distance(frame.center(), screen) < Distance(frame.center(), *nearest))
            nearest = &screen;
    }
    QRect placed(frame.topLeft(), frame.size().boundedTo(nearest->size()));
    placed.moveLeft(qBound(nearest->left(), placed.left(), nearest->right() + 1 - placed.width()));
    placed.moveTop(qBound(nearest->top(), placed.top(), nearest->bottom() + 1 - placed.height()));
    return placed;
}

} // namespace

TWindowFrame::TWindowFrame(QWidget* window, std::function<int(int frameHeight)> modeClientHeight,
                           std::function<void()> destroyNative)
    : QObject(window)
    , m_window(window)
    , m_modeClientHeight(std::move(modeClientHeight))
    , m_destroyNative(std::move(destroyNative))
{
}

void TWindowFrame::Restore(const QRect& stored, const QSize& defaultSize)
{
    m_stored = stored;
    if (m_stored.width() < kMinFrameWidth || m_stored.height() < kMinFrameHeight)
        m_stored.setSize(defaultSize);
    // Saved on a monitor since removed, it would open out of reach.
    m_stored = OnScreen(m_stored, ScreenAreas());
    // Not created yet, so the window system puts the outer frame at this point. The
    // outer size needs the frame's margins, known only once the window is framed.
    m_corner = m_stored.topLeft();
    m_window->move(m_corner);
    m_window->resize(m_stored.size());
}

void TWindowFrame::PlaceBeforeShowing()
{
    if (!m_pending || m_window->isVisible())
        return;
    m_window->winId();  // the native window, as showing would make it
    if (!m_window->windowHandle()->frameMargins().isNull())
        Known();
}

void TWindowFrame::Shown(bool watchFirstExpose)
{
    QWindow* native = m_window->windowHandle();
    if (!native)
        return;
    // A platform that knows the frame before the window is on screen has it placed now,
    // so the first frame is painted once, at its size; otherwise at the first expose.
    if (m_pending && !native->frameMargins().isNull())
        Known();
    if (m_pending || watchFirstExpose)
        native->installEventFilter(this);
}

void TWindowFrame::ApplyFlags(Qt::WindowFlags flags)
{
    if (flags == m_window->windowFlags())
        return;
    // Changing the flags re-creates the native window, which hides it. The new window's
    // frame is not known until the window manager has framed it, so the window is made
    // afresh and placed by its outer corner, which the window system keeps where it was.
    const bool visible = m_window->isVisible();
    const QPoint position = m_pending ? m_corner : m_window->pos();
    m_destroyNative();
    m_window->setWindowFlags(flags);
    m_window->move(position);
    m_corner = position;
    m_pending = true;
    if (visible)
        m_window->show();
}

bool TWindowFrame::eventFilter(QObject* watched, QEvent* event)
{
    QWindow* native = m_window->windowHandle();
    if (watched == native && event->type() == QEvent::Expose && native->isExposed()) {
        native->removeEventFilter(this);
        if (m_pending)
            Known();
        Q_EMIT Exposed();
    }
    return QObject::eventFilter(watched, event);
}

void TWindowFrame::Known()
{
    m_pending = false;
    // The platform's word: before the window is on screen the widget's own frame
    // geometry does not include the frame yet.
    const QMargins margins = m_window->windowHandle()->frameMargins();
    const QRect client = m_window->geometry();
    // The client's own place may still be the one asked for before the window was framed.
    QRect target(m_corner + QPoint(margins.left(), margins.top()), client.size());
    if (!m_restored) {
        target.setSize(m_stored.marginsRemoved(margins).size());
        m_restored = true;
    }
    if (const int height = m_modeClientHeight(margins.top() + margins.bottom()))
        target.setHeight(height);
    if (target != client)
        m_window->setGeometry(target);
}

QRect TWindowFrame::ToSave() const
{
    // Before the stored frame was placed the window's size says nothing (never shown, or
    // not framed yet): the stored frame stays.
    const QRect frame = m_window->frameGeometry();
    if (!m_restored || frame.width() < kMinFrameWidth || frame.height() < kMinFrameHeight)
        return m_stored;
    return frame;
}
