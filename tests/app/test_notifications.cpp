// Desktop notifications against a notification service of the test's own on a private
// session bus.
#include "FormHarness.h"
#include "LocalService.h"
#include "SessionBus.h"
#include "app/DesktopNotifier.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "PostWait.h"

#include <QDBusConnection>
#include <QMenu>
#include <QDBusError>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace {

const QString kName = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// Records each Notify and answers with ids 1, 2, 3...; the test emits its signals.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app;
        uint replaces;
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    std::vector<Call> calls;

public Q_SLOTS:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        calls.push_back({app, replaces, icon, summary, body, actions, hints, timeout});
        return uint(calls.size());
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};

// The brimlark.app warnings while it lives; other lines go on to the test's handler.
class AppWarnings {
public:
    AppWarnings() { s_current = this, s_previous = qInstallMessageHandler(&handle); }
    ~AppWarnings() { qInstallMessageHandler(s_previous), s_current = nullptr; }
    QStringList lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtWarningMsg && context.category && QByteArray(context.category) == "brimlark.app")
            s_current->lines << message;
        else if (s_previous)
            s_previous(type, context, message);
    }
    static inline AppWarnings* s_current = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

class NotificationsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const QString& name : m_connections)
            QDBusConnection::disconnectFromBus(name);
    }

    // Qt keeps connections by name: each gets one of its own.
    QDBusConnection connectTo(const QString& address)
    {
        m_connections << QStringLiteral("notifications-test-%1").arg(++s_count);
        return QDBusConnection::connectToBus(address, m_connections.last());
    }

    void startService(const SessionBus& on)
    {
        QDBusConnection service = connectTo(on.address());
        ASSERT_TRUE(service.registerObject(kPath, &fake, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(service.registerService(kName)) << service.lastError().message().toStdString();
    }

    bool waitForCalls(size_t n) { return QTest::qWaitFor([&] { return fake.calls.size() >= n; }, 5000); }

    FakeNotifications fake;

private:
    QStringList m_connections;
    static inline int s_count = 0;
};

TEST_F(NotificationsTest, NotificationsAreOneEscapedLineAndReplaceTheirPredecessor)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    startService(bus);
    TDesktopNotifier notifier(connectTo(bus.address()));
    EXPECT_TRUE(notifier.IsAvailable());

    notifier.NotifyNewStatuses(3, QStringLiteral("alice"), QStringLiteral("\n  Tom  &\tJerry <b>\nsecond line"), "100");
    ASSERT_TRUE(waitForCalls(1));
    const FakeNotifications::Call& first = fake.calls[0];
    EXPECT_EQ(first.app, QStringLiteral("Brimlark_Simple"));
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_EQ(first.icon, QStringLiteral("brimlark"));
    EXPECT_EQ(first.summary, QStringLiteral("新着 3 件: alice"));
    EXPECT_EQ(first.body, QStringLiteral("Tom &amp; Jerry &lt;b&gt;"));
    EXPECT_EQ(first.actions, (QStringList{"default", QStringLiteral("表示")}));
    EXPECT_EQ(first.hints, (QVariantMap{{"desktop-entry", "brimlark"}, {"category", "im.received"}}));
    EXPECT_EQ(first.timeout, -1);

    // Cut at 100 characters without splitting the emoji's surrogate pair.
    notifier.NotifyNewStatuses(1, QStringLiteral("bob"), QString(98, u'a') + QStringLiteral("😀") + QString(20, u'b'), "200");
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(fake.calls[1].replaces, 1u);
    EXPECT_EQ(fake.calls[1].summary, QStringLiteral("新着 1 件: bob"));
    EXPECT_EQ(fake.calls[1].body, QString(98, u'a') + QStringLiteral("…"));
}

TEST_F(NotificationsTest, ClickingOurNotificationReportsItsStatusUntilItIsClosed)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    startService(bus);
    TDesktopNotifier notifier(connectTo(bus.address()));
    QStringList activated;
    QObject::connect(&notifier, &TDesktopNotifier::StatusActivated, [&](const QString& id) { activated << id; });

    // The second waits for the first's id, to replace it.
    notifier.NotifyNewStatuses(1, "alice", "a", "100");
    notifier.NotifyNewStatuses(1, "bob", "b", "200");
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(fake.calls[1].replaces, 1u);
    const auto activatedWhen = [&](uint id, const QStringList& expected) {
        Q_EMIT fake.ActionInvoked(id, "default");
        EXPECT_TRUE(QTest::qWaitFor([&] { return activated.size() >= expected.size(); }, 5000));
        EXPECT_EQ(activated, expected);
    };
    activatedWhen(2, {"200"});

    // Another button, a notification not ours, the replaced one: nothing. The service's
    // signals come in order, so the next click shows them handled.
    Q_EMIT fake.ActionInvoked(2, "other");
    Q_EMIT fake.ActionInvoked(99, "default");
    Q_EMIT fake.ActionInvoked(1, "default");
    activatedWhen(2, {"200", "200"});

    // Closed, it is forgotten.
    Q_EMIT fake.NotificationClosed(2, 2);
    Q_EMIT fake.ActionInvoked(2, "default");
    notifier.NotifyNewStatuses(1, "carol", "c", "300");
    ASSERT_TRUE(waitForCalls(3));
    activatedWhen(3, {"200", "200", "300"});
}

TEST_F(NotificationsTest, AvailabilityIsRememberedUntilRechecked)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    TDesktopNotifier notifier(connectTo(bus.address()));
    EXPECT_FALSE(notifier.IsAvailable());
    startService(bus);
    EXPECT_FALSE(notifier.IsAvailable());
    notifier.Recheck();
    EXPECT_TRUE(notifier.IsAvailable());
}

TEST_F(NotificationsTest, AServiceTheBusCanStartIsAvailableAndItsFailureOneWarning)
{
    SessionBus bus({kName});
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    TDesktopNotifier notifier(connectTo(bus.address()));
    EXPECT_TRUE(notifier.IsAvailable());

    AppWarnings warnings;
    notifier.NotifyNewStatuses(1, "alice", "a", "100");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !warnings.lines.isEmpty(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(warnings.lines.size(), 1) << warnings.lines.join('\n').toStdString();
}

TEST_F(NotificationsTest, WithoutABusNothingIsAvailableAtOnceAndNotifyingIsOneWarning)
{
    QTemporaryDir empty;
    AppWarnings warnings;
    QElapsedTimer clock;
    clock.start();
    TDesktopNotifier notifier(connectTo("unix:path=" + empty.filePath("nobody")));
    EXPECT_FALSE(notifier.IsAvailable());
    notifier.NotifyNewStatuses(1, "alice", "a", "100");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !warnings.lines.isEmpty(); }, 5000));
    EXPECT_LT(clock.elapsed(), 1000);
    QTest::qWait(50);
    EXPECT_EQ(warnings.lines.size(), 1) << warnings.lines.join('\n').toStdString();
}

// The main window on the session bus: a reload that brings a status announces it, and a
// click on the notification shows that status. Only this test may use the process's
// session bus, which Qt connects once.
class WindowNotificationTest : public harness::FormTest {
protected:
    FakeNotifications fake;
};

TEST_F(WindowNotificationTest, ANewStatusIsAnnouncedAndAClickShowsIt)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), QStringLiteral("window-notifications"));
    ASSERT_TRUE(service.registerObject(kPath, &fake, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(service.registerService(kName));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());

    LocalService::Options seeded;
    seeded.seed = true;
    LocalService local(seeded);
    ASSERT_TRUE(local.isRunning()) << local.errorString().toStdString();
    writeSettings([](TMainState& s) {
        s.AccountName = QString::fromLatin1(LocalService::kDemoUser);
        s.Password = QString::fromLatin1(LocalService::kDemoPassword);
        s.Notify = true;
    });
    auto form = makeForm(local.baseUrl(), false, true);
    Q_EMIT child<QMenu>(*form, "pmMenu1")->aboutToShow();
    EXPECT_TRUE(action(*form, "mmNotify")->isEnabled());
    EXPECT_TRUE(action(*form, "mmNotify")->isChecked());
    EXPECT_FALSE(action(*form, "mmNotifyMentions")->isChecked());

    THttpCli client;
    const TServiceAccount sakura(QString::fromUtf8(local.baseUrl()), QStringLiteral("sakura"), QStringLiteral("sakura"), {});
    ASSERT_TRUE(PostStatusAndWait(client, sakura, StatusUpdateBody(StatusUpdateText(QStringLiteral("通知される新着")))).IsAccepted());
    trigger(*form, "pmReload");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.calls.empty(); }, 5000));
    EXPECT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(fake.calls[0].summary, QStringLiteral("新着 1 件: 桜井さくら"));
    EXPECT_EQ(fake.calls[0].body, QStringLiteral("通知される新着"));

    // The reload showed the newest first; move on, then click the notification.
    form->TimerAutoRotationTimer();
    ASSERT_NE(detailText(*form), QStringLiteral("通知される新着"));
    EXPECT_EQ(form->UnseenCount(), 1);
    Q_EMIT fake.ActionInvoked(1, QStringLiteral("default"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return detailText(*form) == QStringLiteral("通知される新着"); }, 5000));
    EXPECT_EQ(form->UnseenCount(), 0);

    // Mentions only: a friend's status goes unannounced, one naming the account is told.
    action(*form, "mmNotifyMentions")->trigger();
    TMainState saved;
    LoadSettings(iniPath(), saved);
    EXPECT_EQ(saved.Notify, TMainState::NotifyMentions);
    for (const QString& text : {QStringLiteral("ただの独り言"), QStringLiteral("@demo 聞いてください")})
        ASSERT_TRUE(PostStatusAndWait(client, sakura, StatusUpdateBody(StatusUpdateText(text))).IsAccepted());
    trigger(*form, "pmReload");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() > 1; }, 5000));
    QTest::qWait(100);
    ASSERT_EQ(fake.calls.size(), 2u);
    EXPECT_EQ(fake.calls[1].summary, QStringLiteral("@返信 1 件: 桜井さくら"));
    EXPECT_EQ(fake.calls[1].body, QStringLiteral("@demo 聞いてください"));
    QDBusConnection::disconnectFromBus(QStringLiteral("window-notifications"));
}

} // namespace

#include "test_notifications.moc"
