#pragma once

// What the floor program and the reload probe both measure about themselves: the
// moment of the first frame, and resident memory.

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <ctime>
#include <functional>
#include <utility>

// CLOCK_MONOTONIC in nanoseconds: the benchmark compares it with its own clock, taken
// when it started the process.
inline long long MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// VmRSS and VmHWM of this process, in KiB.
inline std::pair<long, long> ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    long rss = 0, hwm = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').value(0).toLong();
            else if (line.startsWith("VmHWM:"))
                hwm = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return {rss, hwm};
}

// Calls the function once, when the event loop is next free after the first paint of any
// widget of the window: the whole frame is painted and flushed by then.
class FirstFrame : public QObject {
public:
    FirstFrame(QWidget* window, std::function<void()> then) : m_window(window), m_then(std::move(then))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->window() == m_window) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, this, m_then);
        }
        return false;
    }

private:
    QWidget* m_window;
    std::function<void()> m_then;
};
