#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// The built local service (path in BRIMLARK_LOCALSERVICE) running for one test, on a
// free loopback port and, unless told otherwise, on a fresh database in a temporary
// folder that goes away with it.
//
//   LocalService service({.seed = true});
//   ASSERT_TRUE(service.isRunning()) << service.errorString();
//   client.get(service.baseUrl() + "/statuses/friends_timeline.xml");  // demo / demo
//
// The destructor stops the service (SIGTERM, then a kill if it does not end).
class LocalService {
public:
    struct Options {
        bool seed = false;                              // demo accounts and statuses; demo / demo
        QList<QPair<QByteArray, QByteArray>> users;     // name, password
        QByteArray prefix;                              // such as "/api"
        int delayMs = 0;
        QByteArray rateLimit;                           // such as "70/60"; empty: none
        int textLimit = -1;                             // >= 0: publish it in /statusnet/config.xml
        QString dbPath;                                 // empty: a fresh temporary database
        bool verbose = false;                           // log each request to stderr
        QString tlsCert;                                // both set: https with this certificate
        QString tlsKey;                                 // and key (TestCertificates makes them)
        QStringList extraArgs;
    };

    static constexpr const char* kDemoUser = "demo";
    static constexpr const char* kDemoPassword = "demo";

    LocalService();
    explicit LocalService(Options options);
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    bool isRunning() const;
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    qint64 processId() const;
    // "http://127.0.0.1:PORT" ("https://" with a certificate) followed by the prefix: the
    // service's paths go after it.
    QByteArray baseUrl() const;
    QString dbPath() const { return m_dbPath; }

    // Stops the service; true when it ended on its own with exit code 0.
    bool stop();
    // Starts it again on the same database (a new port); true when it runs.
    bool restart();

private:
    bool start();

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_dbPath;
    QString m_error;
    quint16 m_port = 0;
};
