#pragma once

#include "Daemon.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <memory>

class QProcess;
class QTemporaryDir;

// A real nginx in front of loopback peers, run by the test itself: one process (no
// master, no daemon) on a free loopback port, with its configuration, pid, logs and
// temporary files in a folder of its own that goes away with it.
//
// The test writes what goes inside the server block; "@PORT@" becomes the listening port
// and "@DIR@" the folder, where the given files (an htpasswd file, a page) are written
// before nginx starts:
//
//   Nginx nginx("location /api/ { proxy_pass http://127.0.0.1:8080/; }");
//   ASSERT_TRUE(nginx.isRunning()) << nginx.errorString().toStdString();
//   client.get(nginx.baseUrl() + "/api/statuses/friends_timeline.xml");
//
// The destructor stops it by its process id: SIGTERM, then SIGKILL if it does not end.
class Nginx {
public:
    // tlsCert and tlsKey set: nginx terminates TLS on its port, and baseUrl is https.
    struct Tls {
        QString cert;
        QString key;
    };
    explicit Nginx(const QByteArray& server, const QMap<QString, QByteArray>& files = {}, const Tls& tls = {});
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool isRunning() const;
    // Why it is not running: no nginx installed, a configuration it refused (with its
    // error log), no answer on the port.
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    QByteArray baseUrl() const;  // "http://127.0.0.1:PORT", or https with TLS
    QByteArray accessLog() const;
    QByteArray errorLog() const;

    // The nginx to run: BRIMLARK_NGINX, else nginx on the PATH or in the sbin folders;
    // empty when there is none.
    static QString program();

private:
    bool start(const QString& program, const QByteArray& server);
    void stop();

    std::unique_ptr<QTemporaryDir> m_dir;
    TestDaemon m_daemon;
    QString m_error;
    quint16 m_port = 0;
    Tls m_tls;
};
