#pragma once

#include "SessionBus.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

class QTemporaryDir;

// A desktop keyring of the test's own: gnome-keyring-daemon's Secret Service on a
// private session bus (SessionBus), its login keyring made and unlocked with a password
// the test gives on its standard input, its files in a temporary folder. Both daemons
// are stopped by their process ids when it goes.
//
//   SecretService keyring;
//   ASSERT_TRUE(keyring.isRunning()) << keyring.errorString().toStdString();
//   keyring.UseInThisProcess();
class SecretService {
public:
    SecretService();
    ~SecretService();
    SecretService(const SecretService&) = delete;
    SecretService& operator=(const SecretService&) = delete;

    bool isRunning() const;
    QString errorString() const { return m_error; }
    QString busAddress() const { return m_bus.address(); }

    // What a client needs to find it: the bus, and a desktop whose keyring is the
    // Secret Service.
    QProcessEnvironment ClientEnvironment(QProcessEnvironment base) const;
    // The same for the keyring calls of this process. The keyring library keeps its
    // connection for the life of the process: one keyring a process.
    void UseInThisProcess() const;

    // A keyring that hangs: the daemon stopped, its calls unanswered until it goes on.
    void Pause(bool paused) const;

    // BRIMLARK_GNOME_KEYRING, else gnome-keyring-daemon on the PATH or in /usr/bin.
    static QString program();

private:
    SessionBus m_bus;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_daemon;
    QString m_error;
};
