#include "Daemon.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace daemon_support {

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString FindProgram(const char* environment, const QString& name, const QStringList& dirs)
{
    const QString given = qEnvironmentVariable(environment);
    if (!given.isEmpty())
        return given;
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(name, dirs) : onPath;
}

std::pair<QByteArray, QByteArray> CurrentUserAndGroup()
{
    const passwd* user = ::getpwuid(::geteuid());
    const group* grp = ::getgrgid(::getegid());
    if (!user || !grp)
        return {};
    return {user->pw_name, grp->gr_name};
}

bool AcceptsOnLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace daemon_support

QString TestDaemon::Start(const QString& program, const QStringList& args, quint16 port,
                          QProcess::ProcessChannelMode channels, const std::function<QString(QProcess&)>& ended)
{
    Stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(channels);
    m_process->start(program, args);
    if (!m_process->waitForStarted(5000)) {
        const QString why = "cannot start " + program + ": " + m_process->errorString();
        m_process.reset();
        return why;
    }
    QDeadlineTimer deadline(10000);
    while (!daemon_support::AcceptsOnLoopback(port)) {
        // waitForFinished is the pause between tries, and tells a daemon that gave up.
        if (m_process->waitForFinished(20) || m_process->state() != QProcess::Running) {
            const QString why = program + " ended at start:\n" + ended(*m_process);
            Stop();
            return why;
        }
        if (deadline.hasExpired()) {
            Stop();
            return program + " did not accept connections on port " + QString::number(port);
        }
    }
    return QString();
}

void daemon_support::StopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void TestDaemon::Stop()
{
    if (m_process)
        daemon_support::StopProcess(*m_process);
    m_process.reset();
}
