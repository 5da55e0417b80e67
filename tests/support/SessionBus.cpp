#include "SessionBus.h"

#include "Daemon.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

SessionBus::SessionBus(const QStringList& activatableNames)
{
    const QString daemon = program();
    if (daemon.isEmpty()) {
        m_error = "dbus-daemon is not installed (Debian package dbus-daemon; BRIMLARK_DBUS_DAEMON names another)";
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = "no temporary folder: " + m_dir->errorString();
        return;
    }
    if (!writeConfig(activatableNames))
        return;

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(daemon, {"--config-file=" + m_dir->filePath("session.conf"), "--nofork", "--print-address=1"});
    if (!m_process->waitForStarted(5000)) {
        m_error = "cannot start " + daemon + ": " + m_process->errorString();
        m_process.reset();
        return;
    }
    // It prints the address once it listens.
    QDeadlineTimer deadline(10000);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired()) {
            m_error = daemon + " gave no address:\n" + QString::fromLocal8Bit(m_process->readAllStandardError());
            stop();
            return;
        }
        m_process->waitForReadyRead(50);
    }
    m_address = QString::fromUtf8(m_process->readLine()).trimmed();
}

SessionBus::~SessionBus()
{
    stop();
}

QString SessionBus::program()
{
    return daemon_support::FindProgram("BRIMLARK_DBUS_DAEMON", QStringLiteral("dbus-daemon"), {QStringLiteral("/usr/bin")});
}

bool SessionBus::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && !m_address.isEmpty();
}

bool SessionBus::writeConfig(const QStringList& activatableNames)
{
    const QString services = m_dir->filePath("services");
    QDir().mkpath(services);
    for (const QString& name : activatableNames) {
        QFile file(services + '/' + name + ".service");
        if (!file.open(QIODevice::WriteOnly)
            || file.write("[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=/bin/false\n") < 0) {
            m_error = "cannot write " + file.fileName();
            return false;
        }
    }
    const QByteArray dir = m_dir->path().toUtf8();
    QFile config(m_dir->filePath("session.conf"));
    const QByteArray text =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:path=" + dir + "/bus</listen>\n"
        "  <servicedir>" + services.toUtf8() + "</servicedir>\n"
        "  <auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n";
    if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size()) {
        m_error = "cannot write " + config.fileName();
        return false;
    }
    return true;
}

void SessionBus::stop()
{
    if (m_process)
        daemon_support::StopProcess(*m_process);
    m_process.reset();
}
