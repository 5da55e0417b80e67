#include "SecretService.h"

#include "Daemon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace {
const QString kSecrets = QStringLiteral("org.freedesktop.secrets");
}

SecretService::SecretService()
{
    if (!m_bus.isRunning()) {
        m_error = m_bus.errorString();
        return;
    }
    const QString daemon = program();
    if (daemon.isEmpty()) {
        m_error = "gnome-keyring-daemon is not installed (Debian package gnome-keyring)";
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    for (const char* folder : {"home", "data", "config", "runtime"})
        QDir().mkpath(m_dir->filePath(folder));
    QFile::setPermissions(m_dir->filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_dir->filePath("home"));
    env.insert("XDG_DATA_HOME", m_dir->filePath("data"));
    env.insert("XDG_CONFIG_HOME", m_dir->filePath("config"));
    env.insert("XDG_RUNTIME_DIR", m_dir->filePath("runtime"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.address());
    env.remove("DISPLAY");

    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessEnvironment(env);
    m_daemon->setProcessChannelMode(QProcess::MergedChannels);
    m_daemon->start(daemon, {"--foreground", "--unlock", "--components=secrets"});
    if (!m_daemon->waitForStarted(5000)) {
        m_error = "cannot start " + daemon + ": " + m_daemon->errorString();
        m_daemon.reset();
        return;
    }
    // The login keyring is made with this password and unlocked.
    m_daemon->write("keyring-test-password");
    m_daemon->waitForBytesWritten(5000);  // written from the event loop otherwise, which does not run here
    m_daemon->closeWriteChannel();

    const QString name = "secret-service-watch-" + QString::number(quintptr(this));
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), name);
        QDeadlineTimer deadline(10000);
        while (!bus.interface()->isServiceRegistered(kSecrets).value()) {
            if (m_daemon->state() != QProcess::Running || deadline.hasExpired()) {
                m_error = daemon + " did not take " + kSecrets + ":\n" + QString::fromLocal8Bit(m_daemon->readAll());
                break;
            }
            QThread::msleep(20);
        }
    }
    QDBusConnection::disconnectFromBus(name);
    if (!m_error.isEmpty())
        daemon_support::StopProcess(*m_daemon);
}

SecretService::~SecretService()
{
    if (m_daemon)
        daemon_support::StopProcess(*m_daemon);
}

bool SecretService::isRunning() const
{
    return m_error.isEmpty() && m_daemon && m_daemon->state() == QProcess::Running;
}

QProcessEnvironment SecretService::ClientEnvironment(QProcessEnvironment base) const
{
    base.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.address());
    base.insert("XDG_CURRENT_DESKTOP", "GNOME");
    base.remove("KDE_FULL_SESSION");
    return base;
}

void SecretService::UseInThisProcess() const
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    qunsetenv("KDE_FULL_SESSION");
}

void SecretService::Pause(bool paused) const
{
    if (m_daemon && m_daemon->processId() > 0)
        ::kill(pid_t(m_daemon->processId()), paused ? SIGSTOP : SIGCONT);
}

QString SecretService::program()
{
    return daemon_support::FindProgram("BRIMLARK_GNOME_KEYRING", QStringLiteral("gnome-keyring-daemon"),
                                       {QStringLiteral("/usr/bin")});
}
