#include "Tinyproxy.h"

#include "Daemon.h"
#include "LoopbackListener.h"

#include <QFile>
#include <QTemporaryDir>

using namespace daemon_support;

namespace {

// Started as root, tinyproxy drops to the configured user, and warns when there is none;
// naming the current one keeps its log and pid file with the test.
QByteArray userLines()
{
    const auto [user, group] = CurrentUserAndGroup();
    return user.isEmpty() ? QByteArray() : "User " + user + "\nGroup " + group + '\n';
}

} // namespace

Tinyproxy::Tinyproxy() : Tinyproxy(Options{}) {}

Tinyproxy::Tinyproxy(Options options) : m_options(std::move(options))
{
    const QString tinyproxy = program();
    if (tinyproxy.isEmpty()) {
        m_error = "tinyproxy is not installed (./dev installs the Debian package tinyproxy-bin; BRIMLARK_TINYPROXY names another)";
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = "no temporary folder: " + m_dir->errorString();
        return;
    }
    // The free port is closed again before tinyproxy binds it; someone may take it meanwhile.
    for (int attempt = 0; attempt < 3 && !start(tinyproxy); ++attempt) {
        if (!m_error.contains("Could not create listening sockets"))
            break;
    }
}

Tinyproxy::~Tinyproxy()
{
    stop();
}

QString Tinyproxy::program()
{
    return FindProgram("BRIMLARK_TINYPROXY", QStringLiteral("tinyproxy"), {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin")});
}

bool Tinyproxy::isRunning() const
{
    return m_daemon.IsRunning() && m_port != 0;
}

QByteArray Tinyproxy::proxyUrl() const
{
    QByteArray credentials;
    if (!m_options.user.isEmpty())
        credentials = m_options.user.toPercentEncoding() + ':' + m_options.password.toPercentEncoding() + '@';
    return "http://" + credentials + "127.0.0.1:" + QByteArray::number(m_port);
}

QByteArray Tinyproxy::log() const
{
    return m_dir ? ReadFile(m_dir->filePath(QStringLiteral("tinyproxy.log"))) : QByteArray();
}

bool Tinyproxy::start(const QString& tinyproxy)
{
    stop();
    QFile::remove(m_dir->filePath(QStringLiteral("tinyproxy.log")));
    m_port = ClosedLoopbackPort();
    const QByteArray dir = m_dir->path().toUtf8();
    // No ConnectPort line: CONNECT may reach every port.
    QByteArray config = userLines() + "Port " + QByteArray::number(m_port)
        + "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients " + QByteArray::number(m_options.maxClients)
        + "\nLogFile \"" + dir + "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" + dir + "/tinyproxy.pid\"\n";
    if (!m_options.user.isEmpty())
        config += "BasicAuth " + m_options.user + ' ' + m_options.password + '\n';
    config += m_options.extraConfig + '\n';
    const QString configPath = m_dir->filePath(QStringLiteral("tinyproxy.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) != config.size()) {
        m_error = "cannot write " + configPath;
        return false;
    }
    file.close();

    // Complaints before the log is open (a port it could not bind) come on stderr.
    m_error = m_daemon.Start(tinyproxy, {"-d", "-c", configPath}, m_port, QProcess::ForwardedOutputChannel,
                             [this](QProcess& process) {
                                 return QString::fromLocal8Bit(process.readAllStandardError()) + QString::fromUtf8(log());
                             });
    if (!m_error.isEmpty())
        m_port = 0;
    return m_error.isEmpty();
}

void Tinyproxy::stop()
{
    m_daemon.Stop();
    m_port = 0;
}
