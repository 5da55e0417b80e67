#include "Nginx.h"

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

// As root nginx would hand its temporary folders to "nobody"; naming the current user
// keeps everything with the test, and no process ever changes user (no master).
QByteArray userLine()
{
    if (::geteuid() != 0)
        return {};
    const passwd* user = ::getpwuid(::geteuid());
    const group* grp = ::getgrgid(::getegid());
    if (!user || !grp)
        return {};
    return QByteArray("user ") + user->pw_name + ' ' + grp->gr_name + ";\n";
}

} // namespace

Nginx::Nginx(const QByteArray& server, const QMap<QString, QByteArray>& files)
{
    const QString nginx = program();
    if (nginx.isEmpty()) {
        m_error = "nginx is not installed (./dev installs the Debian package nginx; BRIMLARK_NGINX names another)";
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = "no temporary folder: " + m_dir->errorString();
        return;
    }
    for (auto it = files.begin(); it != files.end(); ++it) {
        QFile file(m_dir->filePath(it.key()));
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size()) {
            m_error = "cannot write " + file.fileName();
            return;
        }
    }
    // The free port is closed again before nginx binds it; someone may take it meanwhile.
    for (int attempt = 0; attempt < 3 && !start(nginx, server); ++attempt) {
        if (!m_error.contains("Address already in use"))
            break;
    }
}

Nginx::~Nginx()
{
    stop();
}

QString Nginx::program()
{
    const QString given = qEnvironmentVariable("BRIMLARK_NGINX");
    if (!given.isEmpty())
        return given;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

bool Nginx::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_port != 0;
}

QByteArray Nginx::baseUrl() const
{
    return "http://127.0.0.1:" + QByteArray::number(m_port);
}

QByteArray Nginx::accessLog() const
{
    return m_dir ? readFile(m_dir->filePath(QStringLiteral("access.log"))) : QByteArray();
}

QByteArray Nginx::errorLog() const
{
    return m_dir ? readFile(m_dir->filePath(QStringLiteral("error.log"))) : QByteArray();
}

bool Nginx::start(const QString& nginx, const QByteArray& server)
{
    stop();
    m_port = ClosedLoopbackPort();
    const QByteArray dir = m_dir->path().toUtf8();
    QByteArray config = userLine()
        + "daemon off;\nmaster_process off;\nworker_processes 1;\n"
          "pid @DIR@/nginx.pid;\nerror_log @DIR@/error.log info;\n"
          "events { worker_connections 64; }\n"
          "http {\n"
          "  access_log @DIR@/access.log;\n"
          "  client_body_temp_path @DIR@/body;\n  proxy_temp_path @DIR@/proxy;\n"
          "  fastcgi_temp_path @DIR@/fastcgi;\n  uwsgi_temp_path @DIR@/uwsgi;\n  scgi_temp_path @DIR@/scgi;\n"
          "  default_type application/octet-stream;\n"
          "  server {\n    listen 127.0.0.1:@PORT@;\n"
        + server + "\n  }\n}\n";
    config.replace("@DIR@", dir).replace("@PORT@", QByteArray::number(m_port));
    const QString configPath = m_dir->filePath(QStringLiteral("nginx.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) != config.size()) {
        m_error = "cannot write " + configPath;
        return false;
    }
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(nginx, {"-p", m_dir->path() + '/', "-c", configPath, "-e", m_dir->filePath(QStringLiteral("error.log"))});
    if (!m_process->waitForStarted(5000)) {
        m_error = "cannot start " + nginx + ": " + m_process->errorString() + " (./dev installs nginx)";
        m_process.reset();
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!accepts(m_port)) {
        // waitForFinished is the pause between tries, and tells an nginx that gave up.
        if (m_process->waitForFinished(20) || m_process->state() != QProcess::Running) {
            m_error = "nginx ended at start:\n" + QString::fromUtf8(errorLog());
            stop();
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = "nginx did not accept connections on port " + QString::number(m_port);
            stop();
            return false;
        }
    }
    m_error.clear();
    return true;
}

void Nginx::stop()
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
