#include "app/FirstFrame.h"

#include "app/WindowFrame.h"

#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

TFirstFrame::TFirstFrame(QWidget* window, TWindowFrame* frame)
    : QObject(window), m_window(window)
{
    // The frame is painted as soon as this expose has been handled.
    connect(frame, &TWindowFrame::Exposed, this, [this] { QTimer::singleShot(0, this, &TFirstFrame::painted); });
}

void TFirstFrame::Then(std::function<void()> work)
{
    if (m_painted)
        work();
    else
        m_waiting.append(std::move(work));
}

void TFirstFrame::Shown()
{
    if (m_painted)
        return;
    QTimer::singleShot(kWaitMs, this, [this] {
        // An exposed window is being painted, and says so.
        const QWindow* native = m_window->windowHandle();
        if (!native || !native->isExposed())
            painted();
    });
}

void TFirstFrame::painted()
{
    if (std::exchange(m_painted, true))
        return;
    for (const std::function<void()>& work : std::exchange(m_waiting, {}))
        work();
}
