#include "app/WindowTimers.h"

#include "dialogs/DialogCommon.h"
#include "dialogs/ufrmSettings.h"
#include "service/TimelineFeed.h"
#include "settings/Settings.h"

#include <QTimer>

TWindowTimers::TWindowTimers(QObject* parent, int reloadMs)
    : QObject(parent), m_reload(new QTimer(parent)), m_rotation(new QTimer(parent))
{
    m_reload->setObjectName(QStringLiteral("TimerAutoReload"));
    m_reload->setInterval(reloadMs);
    m_rotation->setObjectName(QStringLiteral("TimerAutoRotation"));
    m_rotation->setInterval(5000);
}

void TWindowTimers::Follow(const TMainState& state, bool held)
{
    SetTimerEnabled(m_reload, !held && state.AutoReload);
    SetTimerEnabled(m_rotation, !held && state.AutoRotation);
}

void TWindowTimers::Hovered(TStrip::TPart part, const TMainState& state)
{
    // Resting on the name stops the rotation, on the star both timers; a movement over
    // the text gives both back to the user's choice.
    switch (part) {
    case TStrip::TPart::Name:
        SetTimerEnabled(m_rotation, false);
        break;
    case TStrip::TPart::Star:
        Follow(state, true);
        break;
    case TStrip::TPart::Text:
        Follow(state);
        break;
    }
}

void TWindowTimers::ApplyIntervals(const TMainState& state, TTimelineFeed* friends)
{
    // A file in which the user never chose intervals keeps the program's own pace.
    if (!state.IntervalsChosen)
        return;
    const int reloadMs = kReloadRange.Clamp(state.ReloadInterval) * 1000;
    const int rotationMs = kRotationRange.Clamp(state.RotationInterval) * 1000;
    // A back-off under way keeps its longer wait; the next success brings the new interval.
    friends->SetReloadInterval(reloadMs);
    // Setting an interval restarts the countdown: only a changed one is set.
    if (m_reload->interval() != friends->ReloadWaitMs())
        m_reload->setInterval(int(friends->ReloadWaitMs()));
    if (m_rotation->interval() != rotationMs)
        m_rotation->setInterval(rotationMs);
}
