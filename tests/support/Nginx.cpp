#include "Nginx.h"

#include "Daemon.h"
#include "LoopbackListener.h"

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

using namespace daemon_support;

namespace {

// As root nginx would hand its temporary folders to "nobody"; naming the current user
// keeps everything with the test, and no process ever changes user (no master).
QByteArray userLine()
{
    if (::geteuid() != 0)
        return {};
    const auto [user, group] = CurrentUserAndGroup();
    return user.isEmpty() ? QByteArray() : "user " + user + ' ' + group + ";\n";
}

} // namespace

Nginx::Nginx(const QByteArray& server, const QMap<QString, QByteArray>& files, const Tls& tls)
    : m_tls(tls)
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
    return FindProgram("BRIMLARK_NGINX", QStringLiteral("nginx"),
                       {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

bool Nginx::isRunning() const
{
    return m_daemon.IsRunning() && m_port != 0;
}

QByteArray Nginx::baseUrl() const
{
    return (m_tls.cert.isEmpty() ? "http" : "https") + QByteArray("://127.0.0.1:") + QByteArray::number(m_port);
}

QByteArray Nginx::accessLog() const
{
    return m_dir ? ReadFile(m_dir->filePath(QStringLiteral("access.log"))) : QByteArray();
}

QByteArray Nginx::errorLog() const
{
    return m_dir ? ReadFile(m_dir->filePath(QStringLiteral("error.log"))) : QByteArray();
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
          "  server {\n"
        + (m_tls.cert.isEmpty() ? QByteArray("    listen 127.0.0.1:@PORT@;\n")
                                : "    listen 127.0.0.1:@PORT@ ssl;\n    ssl_certificate " + m_tls.cert.toUtf8()
                                      + ";\n    ssl_certificate_key " + m_tls.key.toUtf8() + ";\n")
        + server + "\n  }\n}\n";
    config.replace("@DIR@", dir).replace("@PORT@", QByteArray::number(m_port));
    const QString configPath = m_dir->filePath(QStringLiteral("nginx.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) != config.size()) {
        m_error = "cannot write " + configPath;
        return false;
    }
    file.close();

    m_error = m_daemon.Start(nginx, {"-p", m_dir->path() + '/', "-c", configPath, "-e", m_dir->filePath(QStringLiteral("error.log"))},
                             m_port, QProcess::ForwardedChannels,
                             [this](QProcess&) { return QString::fromUtf8(errorLog()); });
    if (!m_error.isEmpty())
        m_port = 0;
    return m_error.isEmpty();
}

void Nginx::stop()
{
    m_daemon.Stop();
    m_port = 0;
}
