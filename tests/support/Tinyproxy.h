#pragma once

#include "Daemon.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QProcess;
class QTemporaryDir;

// A real forward proxy (tinyproxy) for one test: a process in the foreground on a free
// loopback port, taking clients from 127.0.0.1 only, with its configuration, pid file and
// log in a folder of its own that goes away with it. CONNECT is allowed to every port.
//
//   Tinyproxy proxy;   // or with Options{"user", "password"}: Basic Proxy-Authorization
//   ASSERT_TRUE(proxy.isRunning()) << proxy.errorString().toStdString();
//   network.HttpsProxy = ParseProxy(proxy.proxyUrl());
//
// The destructor stops it by its process id: SIGTERM, then SIGKILL if it does not end.
class Tinyproxy {
public:
    struct Options {
        QByteArray user;          // both set: clients must send these with Basic
        QByteArray password;      // Proxy-Authorization, else they get 407 (letters,
                                  // digits, "-", "_" and "." only: its configuration's rule)
        int maxClients = 16;
        QByteArray extraConfig;   // more lines for the configuration file
    };

    Tinyproxy();
    explicit Tinyproxy(Options options);
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    bool isRunning() const;
    // Why it is not running: no tinyproxy installed, a configuration it refused (with its
    // log), no answer on the port.
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT", with "user:password@" (percent-encoded) when it wants them.
    QByteArray proxyUrl() const;
    // Its log at level Info: each client, request line and upstream connection.
    QByteArray log() const;

    // The tinyproxy to run: BRIMLARK_TINYPROXY, else tinyproxy on the PATH or in
    // /usr/bin or /usr/sbin; empty when there is none.
    static QString program();

private:
    bool start(const QString& program);
    void stop();

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    TestDaemon m_daemon;
    QString m_error;
    quint16 m_port = 0;
};
