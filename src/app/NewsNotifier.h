#pragma once

#include "service/TimelineModel.h"

#include <QList>
#include <QObject>

#include <functional>

class TDesktopNotifier;

// The desktop notification of what a read brought, as the user chose: every new status,
// or new mentions only. The session bus is first asked when there is news to tell or a
// menu shows whether notifications can be had.
class TNewsNotifier : public QObject {
    Q_OBJECT
public:
    // choice: the settings' notification choice; inFriends: the friends timeline holds
    // the status.
    TNewsNotifier(QObject* parent, std::function<int()> choice, std::function<bool(const QString& id)> inFriends);

    // What a read of the friends timeline, or of the mentions, brought.
    void Tell(const QList<TTimelineStatus>& arrived, bool mentions);
    bool IsAvailable();

Q_SIGNALS:
    // A notification was clicked.
    void StatusActivated(const QString& statusId);

private:
    TDesktopNotifier* Desktop();

    std::function<int()> m_choice;
    std::function<bool(const QString&)> m_inFriends;
    TDesktopNotifier* m_desktop = nullptr;
};
