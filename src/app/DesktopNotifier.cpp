#include "app/DesktopNotifier.h"

#include "text/Logging.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kDefaultAction = QStringLiteral("default");

// The questions to the bus itself wait; a bus that does not answer in this time counts
// as none.
constexpr int kAskTimeoutMs = 1000;
// A service that has not answered by then will not; the next notification may go.
constexpr int kNotifyTimeoutMs = 5000;
constexpr qsizetype kBodyLength = 100;

void Warn(const char* what, const QDBusError& error)
{
    qCWarning(lcApp).noquote() << what << error.name() << error.message().simplified();
}

// The status's first line that has something on it, spaces collapsed, cut with "…".
// Escaped after the cut, so no entity is cut in two.
QString BodyLine(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]"));
    QString line;
    for (const QString& part : text.split(lineBreak)) {
        line = part.simplified();
        if (!line.isEmpty())
            break;
    }
    if (line.size() > kBodyLength) {
        qsizetype keep = kBodyLength - 1;
        if (line.at(keep - 1).isHighSurrogate())
            --keep;
        line = line.left(keep) + QChar(0x2026);
    }
    return line.replace(u'&', QLatin1String("&amp;")).replace(u'<', QLatin1String("&lt;")).replace(u'>', QLatin1String("&gt;"));
}

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent) : TDesktopNotifier(QDBusConnection::sessionBus(), parent) {}

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    // From any sender: naming the service would make Qt look up its owner, a call that
    // waits. The ids we act on are only our own.
    m_bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint,QString)));
    m_bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint,uint)));
}

bool TDesktopNotifier::IsAvailable()
{
    if (!m_available)
        m_available = askBus();
    return *m_available;
}

bool TDesktopNotifier::askBus()
{
    if (!m_bus.isConnected())
        return false;
    bool failed = false;
    const auto ask = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, method);
        call.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kAskTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            Warn("cannot ask the bus for the notification service:", QDBusError(reply));
            failed = true;
            return QVariant();
        }
        return reply.arguments().value(0);
    };
    if (ask(QStringLiteral("NameHasOwner"), {kService}).toBool())
        return true;
    return !failed && ask(QStringLiteral("ListActivatableNames"), {}).toStringList().contains(kService);
}

void TDesktopNotifier::NotifyNewStatuses(int count, const QString& name, const QString& text, const QString& statusId)
{
    queue({tr("新着 %n 件: %1", nullptr, count).arg(name), BodyLine(text), statusId});
}

void TDesktopNotifier::NotifyNewMentions(int count, const QString& name, const QString& text, const QString& statusId)
{
    queue({tr("@返信 %n 件: %1", nullptr, count).arg(name), BodyLine(text), statusId});
}

void TDesktopNotifier::queue(Notification notification)
{
    if (m_sending)
        m_waiting = std::move(notification);   // an older waiting one would only be replaced
    else
        send(notification);
}

void TDesktopNotifier::send(const Notification& notification)
{
    // Qt gives a call on no bus neither an error nor an end.
    if (!m_bus.isConnected()) {
        qCWarning(lcApp) << "desktop notification failed: no session bus";
        return;
    }
    const uint replaced = m_lastId;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("Brimlark_Simple") << replaced << QStringLiteral("brimlark") << notification.summary
         << notification.body << QStringList{kDefaultAction, tr("表示")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("brimlark")},
                        {QStringLiteral("category"), QStringLiteral("im.received")}}
         << qint32(-1);
    m_sending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kNotifyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, replaced, statusId = notification.statusId](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                m_sending = false;
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isError())
                    Warn("desktop notification failed:", reply.error());
                else
                    notified(replaced, reply.value(), statusId);
                if (m_waiting) {
                    const Notification next = std::move(*m_waiting);
                    m_waiting.reset();
                    send(next);
                }
            });
}

void TDesktopNotifier::notified(uint replaced, uint id, const QString& statusId)
{
    // A service that gave the replacement an id of its own has taken the old one away.
    if (replaced != 0 && replaced != id)
        m_statusIds.remove(replaced);
    m_lastId = id;
    m_statusIds.insert(id, statusId);
}

void TDesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    if (action != kDefaultAction || !m_statusIds.contains(id))
        return;
    const QString statusId = m_statusIds.value(id);   // a copy: receivers may notify again
    Q_EMIT StatusActivated(statusId);
}

void TDesktopNotifier::onNotificationClosed(uint id, uint /*reason*/)
{
    m_statusIds.remove(id);
    if (id == m_lastId)
        m_lastId = 0;
}
