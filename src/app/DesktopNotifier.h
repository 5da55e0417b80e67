#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

// The desktop's notification service (org.freedesktop.Notifications on the session bus):
// one notification per timeline read that brought new statuses, each replacing this
// program's previous one so they do not pile up. Clicking one reports its status through
// StatusActivated. Calls never wait for the service; its failures are one warning line
// each in brimlark.app and otherwise ignored. One Notify is on its way at a time: the
// next must know the id of the one it replaces.
class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // The session bus.
    explicit TDesktopNotifier(QObject* parent = nullptr);
    // Another bus, e.g. a private one: Qt keeps one session bus per process.
    explicit TDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // The bus is connected and the service runs or can be started. Asked of the bus once
    // (a second at most per question) and remembered until Recheck(); without a bus,
    // false at once.
    bool IsAvailable();
    void Recheck() { m_available.reset(); }

    // "新着 count 件: name" over text cut to one line; statusId comes back through
    // StatusActivated when the user clicks it. While the previous one is still on its way,
    // this one waits, in place of any other waiting one.
    void NotifyNewStatuses(int count, const QString& name, const QString& text, const QString& statusId);
    // The same for statuses that mention the account: "@返信 count 件: name".
    void NotifyNewMentions(int count, const QString& name, const QString& text, const QString& statusId);

Q_SIGNALS:
    void StatusActivated(const QString& statusId);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notification {
        QString summary, body, statusId;
    };

    bool askBus();
    void queue(Notification notification);
    void send(const Notification& notification);
    void notified(uint replaced, uint id, const QString& statusId);

    QDBusConnection m_bus;
    std::optional<bool> m_available;
    bool m_sending = false;
    std::optional<Notification> m_waiting;
    uint m_lastId = 0;                  // this program's notification on screen, 0 for none
    QHash<uint, QString> m_statusIds;   // notification id -> its newest status
};
