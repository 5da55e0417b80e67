#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// A D-Bus session bus of the test's own (dbus-daemon on a unix socket in a temporary
// folder, everyone allowed to own every name and send everywhere), so tests neither need
// nor disturb the desktop's bus.
//
//   SessionBus bus;
//   ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
//   QDBusConnection c = QDBusConnection::connectToBus(bus.address(), "name");
//
// Qt keeps connections by name: give each its own and disconnectFromBus() it before the
// bus goes. The destructor stops the daemon by its process id.
class SessionBus {
public:
    // Each of activatableNames is offered as a service the bus can start; its command
    // fails at once, so starting it is an error the caller sees.
    explicit SessionBus(const QStringList& activatableNames = {});
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool isRunning() const;
    // Why it is not running: no dbus-daemon installed, a configuration it refused.
    QString errorString() const { return m_error; }
    // What clients connect to, e.g. "unix:path=/tmp/x/bus,guid=...".
    QString address() const { return m_address; }

    // BRIMLARK_DBUS_DAEMON, else dbus-daemon on the PATH or in /usr/bin; empty when none.
    static QString program();

private:
    bool writeConfig(const QStringList& activatableNames);
    void stop();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
    QString m_address;
};
