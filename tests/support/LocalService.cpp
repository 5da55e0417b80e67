#include "LocalService.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

LocalService::LocalService() : LocalService(Options{}) {}

LocalService::LocalService(Options options) : m_options(std::move(options))
{
    m_dbPath = m_options.dbPath;
    if (m_dbPath.isEmpty()) {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid()) {
            m_error = "no temporary folder: " + m_dir->errorString();
            return;
        }
        m_dbPath = m_dir->filePath("service.sqlite");
    }
    start();
}

LocalService::~LocalService()
{
    stop();
}

bool LocalService::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_port != 0;
}

qint64 LocalService::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QByteArray LocalService::baseUrl() const
{
    const QByteArray scheme = m_options.tlsCert.isEmpty() ? "http" : "https";
    return scheme + "://127.0.0.1:" + QByteArray::number(m_port) + m_options.prefix;
}

bool LocalService::start()
{
    const QString program = qEnvironmentVariable("BRIMLARK_LOCALSERVICE");
    if (program.isEmpty()) {
        m_error = "BRIMLARK_LOCALSERVICE is not set (ctest sets it to the built local service)";
        return false;
    }
    QStringList args{"--port", "0", "--db", m_dbPath};
    if (m_options.seed)
        args << "--seed";
    for (const auto& [name, password] : m_options.users)
        args << "--user" << QString::fromUtf8(name + ':' + password);
    if (!m_options.prefix.isEmpty())
        args << "--prefix" << QString::fromUtf8(m_options.prefix);
    if (m_options.delayMs > 0)
        args << "--delay-ms" << QString::number(m_options.delayMs);
    if (!m_options.rateLimit.isEmpty())
        args << "--rate-limit" << QString::fromUtf8(m_options.rateLimit);
    if (m_options.textLimit >= 0)
        args << "--textlimit" << QString::number(m_options.textLimit);
    if (m_options.verbose)
        args << "-v";
    if (!m_options.tlsCert.isEmpty() || !m_options.tlsKey.isEmpty())
        args << "--tls-cert" << m_options.tlsCert << "--tls-key" << m_options.tlsKey;
    args << m_options.extraArgs;

    m_port = 0;
    m_process = std::make_unique<QProcess>();
    // Its complaints belong in the test's output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(program, args);
    if (!m_process->waitForStarted(10000)) {
        m_error = "cannot start " + program + ": " + m_process->errorString();
        return false;
    }
    // The first line of its output is the port; a large seed takes a moment.
    QDeadlineTimer deadline(20000);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired()
            || !m_process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->canReadLine())
                break;
            m_error = "the local service did not report its port (exit code "
                      + QString::number(m_process->exitCode()) + ")";
            stop();
            return false;
        }
    }
    bool ok = false;
    const uint port = m_process->readLine().trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        m_error = "the local service reported no port";
        stop();
        return false;
    }
    m_port = static_cast<quint16>(port);
    m_error.clear();
    return true;
}

bool LocalService::stop()
{
    if (!m_process)
        return false;
    bool clean = false;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    clean = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    m_process.reset();
    m_port = 0;
    return clean;
}

bool LocalService::restart()
{
    stop();
    return start();
}
