#include "app/SeenClock.h"

#include "service/TimelineFeed.h"

#include <QWidget>

TSeenClock::TSeenClock(QWidget* window, TSeenStatuses* seen, const QTimer* rotation,
                       std::function<QString()> shownId)
    : QObject(window), m_window(window), m_seen(seen), m_rotation(rotation), m_shownId(std::move(shownId))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TSeenClock::Check);
}

void TSeenClock::Shown(const QString& id, bool byProgram)
{
    if (byProgram)
        Start(id);
    else
        Mark(id);
}

void TSeenClock::Start(const QString& id)
{
    if (m_seen->Contains(id))
        return;
    m_candidate = id;
    m_clock.start();
    m_timer.start(m_rotation->interval());
}

void TSeenClock::Check()
{
    if (m_candidate.isEmpty() || m_candidate != m_shownId() || !m_window->isVisible() || m_window->isMinimized())
        return;
    // The rotation and this clock run on the same interval; either may fire a little
    // before the other.
    const qint64 interval = m_rotation->interval();
    if (m_clock.elapsed() < interval - interval / 10)
        return;
    Mark(m_candidate);
}

void TSeenClock::Mark(QString id)
{
    if (id == m_candidate) {
        m_candidate.clear();
        m_timer.stop();
    }
    // Both lists: a mention from a friend is in each.
    m_seen->Mark(id);
}

void TSeenClock::WindowStateChanged()
{
    if (!m_window->isMinimized() && !m_candidate.isEmpty())
        Start(m_candidate);
}
