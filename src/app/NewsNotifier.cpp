#include "app/NewsNotifier.h"

#include "app/DesktopNotifier.h"
#include "settings/Settings.h"

#include <QTimer>

TNewsNotifier::TNewsNotifier(QObject* parent, std::function<int()> choice,
                             std::function<bool(const QString& id)> inFriends)
    : QObject(parent), m_choice(std::move(choice)), m_inFriends(std::move(inFriends))
{
}

void TNewsNotifier::Tell(const QList<TTimelineStatus>& arrived, bool mentions)
{
    // "Mentions only" leaves the friends timeline's statuses out; "every new status" tells
    // of a mention only when the friends timeline did not bring it already.
    const int choice = m_choice();
    QList<TTimelineStatus> told;
    if (choice == TMainState::NotifyAll && !mentions) {
        told = arrived;
    } else if (mentions && choice != TMainState::NotifyOff) {
        for (const TTimelineStatus& status : arrived) {
            if (choice == TMainState::NotifyMentions || !m_inFriends(status.Id))
                told.append(status);
        }
    }
    if (told.isEmpty())
        return;
    const TTimelineStatus& newest = told.first();
    const QString name = newest.Name, text = newest.Text, id = newest.Id;
    const int count = int(told.size());
    // After the frame in hand: asking the bus is not the window's business.
    QTimer::singleShot(0, this, [this, count, name, text, id, mentions] {
        if (!IsAvailable())
            return;
        if (mentions)
            Desktop()->NotifyNewMentions(count, name, text, id);
        else
            Desktop()->NotifyNewStatuses(count, name, text, id);
    });
}

bool TNewsNotifier::IsAvailable()
{
    return Desktop()->IsAvailable();
}

TDesktopNotifier* TNewsNotifier::Desktop()
{
    if (!m_desktop) {
        m_desktop = new TDesktopNotifier(this);
        connect(m_desktop, &TDesktopNotifier::StatusActivated, this, &TNewsNotifier::StatusActivated);
    }
    return m_desktop;
}
