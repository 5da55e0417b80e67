#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

// A loopback HTTPS peer that a test or benchmark owns: it listens on 127.0.0.1 on a free
// port, completes the TLS handshake with the given certificate and key, and plays one
// script per connection (in the order added; the default script once they run out),
// recording what each connection sent in the clear and inside TLS.
//
//   TlsServer server(certs.serverCert(), certs.serverKey());
//   server.addConnection({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
//   client.FetchText(server.baseUrl() + "/x");
//
// The destructor stops the server and joins its thread.
class TlsServer {
public:
    struct Script {
        QList<QByteArray> replies;  // one sent after each request read (head and Content-Length bytes)
        bool closeNotify = true;    // end with a TLS close; false: a bare TCP close, as if cut
        bool tunnel = false;        // first a proxy's part: read the CONNECT head, answer 200
    };

    TlsServer(const QString& certFile, const QString& keyFile);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    bool isValid() const { return m_context != nullptr; }
    quint16 port() const { return m_port; }
    QByteArray baseUrl() const;  // "https://127.0.0.1:PORT"

    void addConnection(Script script);
    void setDefaultScript(Script script);  // default: answer nothing, close

    int connectionCount() const;
    // What connection i sent inside TLS; empty when its handshake failed.
    QByteArray request(int i) const;
    // What connection i sent in the clear before TLS (the CONNECT head of a tunnel).
    QByteArray plainRequest(int i) const;
    // The server name connection i asked for in its handshake (SNI); empty when none.
    QByteArray serverName(int i) const;
    int handshakes() const;  // handshakes that succeeded
    bool waitForFinished(int n, int timeoutMs = 10000) const;

private:
    void acceptLoop();
    void serve(int fd, int index, const Script& script);

    SSL_CTX* m_context = nullptr;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::deque<Script> m_scripts;
    Script m_default;
    std::vector<QByteArray> m_received;
    std::vector<QByteArray> m_plain;
    std::vector<QByteArray> m_serverNames;
    int m_handshakes = 0;
    int m_finished = 0;
    int m_openFd = -1;
};
