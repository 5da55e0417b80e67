#include "Tinyproxy.h"

#include "LoopbackListener.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool accepts(quint16 port)
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

// Started as root, tinyproxy drops to the configured user, and warns when there is none;
// naming the current one keeps its log and pid file with the test.
QByteArray userLines()
{
    const passwd* user = ::getpwuid(::geteuid());
    const group* grp = ::getgrgid(::getegid());
    if (!user || !grp)
        return {};
    return QByteArray("User ") + user->pw_name + "\nGroup " + grp->gr_name + '\n';
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
    const QString given = qEnvironmentVariable("BRIMLARK_TINYPROXY");
    if (!given.isEmpty())
        return given;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(QStringLiteral("tinyproxy"), {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin")});
}

bool Tinyproxy::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_port != 0;
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
    return m_dir ? readFile(m_dir->filePath(QStringLiteral("tinyproxy.log"))) : QByteArray();
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

    m_process = std::make_unique<QProcess>();
    // Complaints before the log is open (a port it could not bind) come on stderr.
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_process->start(tinyproxy, {"-d", "-c", configPath});
    if (!m_process->waitForStarted(5000)) {
        m_error = "cannot start " + tinyproxy + ": " + m_process->errorString() + " (./dev installs tinyproxy)";
        m_process.reset();
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!accepts(m_port)) {
        // waitForFinished is the pause between tries, and tells a tinyproxy that gave up.
        if (m_process->waitForFinished(20) || m_process->state() != QProcess::Running) {
            m_error = "tinyproxy ended at start:\n" + QString::fromLocal8Bit(m_process->readAllStandardError())
                      + QString::fromUtf8(log());
            stop();
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = "tinyproxy did not accept connections on port " + QString::number(m_port);
            stop();
            return false;
        }
    }
    m_error.clear();
    return true;
}

void Tinyproxy::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_port = 0;
}
