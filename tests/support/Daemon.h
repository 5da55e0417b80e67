#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

// What the launchers of real third-party servers (nginx, tinyproxy) share: finding the
// program, the current user for configs that would drop privileges, and one child
// process started on a loopback port, waited for until it accepts, stopped by PID.
namespace daemon_support {

QByteArray ReadFile(const QString& path);
// The program named by the environment variable, else on the PATH, else in dirs.
QString FindProgram(const char* environment, const QString& name, const QStringList& dirs);
// The current user's and group's names; empty when unknown.
std::pair<QByteArray, QByteArray> CurrentUserAndGroup();
bool AcceptsOnLoopback(quint16 port);
// SIGTERM, then SIGKILL after 5 s; a process that is not running is left alone.
void StopProcess(QProcess& process);

} // namespace daemon_support

class TestDaemon {
public:
    ~TestDaemon() { Stop(); }

    // Starts program and waits (10 s at most) until 127.0.0.1:port accepts. On failure
    // returns why (with ended(), the daemon's own last words) and nothing runs.
    QString Start(const QString& program, const QStringList& args, quint16 port, QProcess::ProcessChannelMode channels,
                  const std::function<QString(QProcess&)>& ended);
    // SIGTERM, then SIGKILL after 5 s.
    void Stop();
    bool IsRunning() const { return m_process && m_process->state() == QProcess::Running; }

private:
    std::unique_ptr<QProcess> m_process;
};
