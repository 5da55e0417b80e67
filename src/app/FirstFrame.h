#pragma once

#include <QList>
#include <QObject>

#include <functional>

class QWidget;
class TWindowFrame;

// A window's first frame, and the work that waits for it: work the frame does not need
// would only compete with painting it. The frame counts as painted once the window's
// first expose has been handled, a second after the showing for a window that is not
// exposed by then (shown on another workspace), or at once for one that is not shown.
class TFirstFrame : public QObject {
    Q_OBJECT
public:
    TFirstFrame(QWidget* window, TWindowFrame* frame);

    bool Painted() const { return m_painted; }
    // Runs work once the frame is painted: now, if it is.
    void Then(std::function<void()> work);
    // The window was just shown.
    void Shown();
    // The window is not shown: there is no frame to wait for.
    void NotShown() { painted(); }

    static constexpr int kWaitMs = 1000;

private:
    void painted();

    QWidget* m_window;
    bool m_painted = false;
    QList<std::function<void()>> m_waiting;
};
