#include "ProgramProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <csignal>

bool WriteSettingsFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

ProgramProcess::ProgramProcess(const QStringList& arguments, Options options)
{
    QProcessEnvironment env = options.environment;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), options.platform);
    if (!options.cacheHome.isEmpty())
        env.insert(QStringLiteral("XDG_CACHE_HOME"), options.cacheHome);
    env.remove(QStringLiteral("BRIMLARK_API"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(options.executable.isEmpty() ? BuiltExecutable() : options.executable, arguments);
}

ProgramProcess::~ProgramProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ProgramProcess::WaitForOutput(const QByteArray& text, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!Output().contains(text) && m_process.state() != QProcess::NotRunning && waited.elapsed() < timeoutMs)
        m_process.waitForReadyRead(200);
    return Output().contains(text);
}

bool ProgramProcess::EndBy(int signal, int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    ::kill(static_cast<pid_t>(m_process.processId()), signal);
    return m_process.waitForFinished(timeoutMs);
}

int ProgramProcess::Finish(int timeoutMs)
{
    if (!m_process.waitForFinished(timeoutMs) && m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
}

bool ProgramProcess::ExitedCleanly() const
{
    return m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit
           && m_process.exitCode() == 0;
}

const QByteArray& ProgramProcess::Output()
{
    m_output += m_process.readAll();
    return m_output;
}
