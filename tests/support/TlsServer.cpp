#include "TlsServer.h"

#include "LoopbackListener.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>

namespace {

qint64 contentLength(const QByteArray& head)
{
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            return line.mid(colon + 1).trimmed().toLongLong();
    }
    return 0;
}

// Bytes up to the end of the first request in data (head and Content-Length bytes); 0
// while it is not all there.
qint64 requestEnd(const QByteArray& data)
{
    const qsizetype headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return 0;
    const qint64 total = headEnd + 4 + contentLength(data.left(headEnd));
    return data.size() >= total ? total : 0;
}

} // namespace

TlsServer::TlsServer(const QString& certFile, const QString& keyFile)
{
    // A client that goes away mid-reply must not end the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    m_default = {{}, true, false};
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        return;
    if (SSL_CTX_use_certificate_chain_file(context, QFile::encodeName(certFile).constData()) != 1
        || SSL_CTX_use_PrivateKey_file(context, QFile::encodeName(keyFile).constData(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context);
        ERR_clear_error();
        return;
    }
    m_listenFd = ListenOnLoopback(&m_port);
    if (m_listenFd < 0) {
        SSL_CTX_free(context);
        return;
    }
    m_context = context;
    m_thread = std::thread([this] { acceptLoop(); });
}

TlsServer::~TlsServer()
{
    m_stopping = true;
    if (m_listenFd >= 0)
        ::shutdown(m_listenFd, SHUT_RDWR);
    {
        std::lock_guard lock(m_mutex);
        if (m_openFd >= 0)
            ::shutdown(m_openFd, SHUT_RDWR);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    SSL_CTX_free(m_context);
}

QByteArray TlsServer::baseUrl() const
{
    return "https://127.0.0.1:" + QByteArray::number(m_port);
}

void TlsServer::addConnection(Script script)
{
    std::lock_guard lock(m_mutex);
    m_scripts.push_back(std::move(script));
}

void TlsServer::setDefaultScript(Script script)
{
    std::lock_guard lock(m_mutex);
    m_default = std::move(script);
}

int TlsServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_received.size());
}

QByteArray TlsServer::request(int i) const
{
    std::lock_guard lock(m_mutex);
    return i >= 0 && i < static_cast<int>(m_received.size()) ? m_received[size_t(i)] : QByteArray();
}

QByteArray TlsServer::plainRequest(int i) const
{
    std::lock_guard lock(m_mutex);
    return i >= 0 && i < static_cast<int>(m_plain.size()) ? m_plain[size_t(i)] : QByteArray();
}

QByteArray TlsServer::serverName(int i) const
{
    std::lock_guard lock(m_mutex);
    return i >= 0 && i < static_cast<int>(m_serverNames.size()) ? m_serverNames[size_t(i)] : QByteArray();
}

int TlsServer::handshakes() const
{
    std::lock_guard lock(m_mutex);
    return m_handshakes;
}

bool TlsServer::waitForFinished(int n, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_finished >= n; });
}

void TlsServer::acceptLoop()
{
    while (!m_stopping) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        Script script;
        int index;
        {
            std::lock_guard lock(m_mutex);
            if (!m_scripts.empty()) {
                script = std::move(m_scripts.front());
                m_scripts.pop_front();
            } else {
                script = m_default;
            }
            index = static_cast<int>(m_received.size());
            m_received.emplace_back();
            m_plain.emplace_back();
            m_serverNames.emplace_back();
            m_openFd = fd;
        }
        serve(fd, index, script);
        {
            std::lock_guard lock(m_mutex);
            m_openFd = -1;
            ++m_finished;
        }
        m_cv.notify_all();
    }
}

void TlsServer::serve(int fd, int index, const Script& script)
{
    // A client that stalls cannot hold the server past these.
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    // As servers do on kept connections: the end of a reply is not held back waiting for
    // the client's acknowledgement of the part before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    if (script.tunnel) {
        QByteArray head;
        char buf[4096];
        while (!head.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            head.append(buf, n);
        }
        {
            std::lock_guard lock(m_mutex);
            m_plain[size_t(index)] = head;
        }
        const QByteArray established = "HTTP/1.1 200 Connection established\r\n\r\n";
        ::send(fd, established.constData(), size_t(established.size()), MSG_NOSIGNAL);
    }

    SSL* ssl = SSL_new(m_context);
    SSL_set_fd(ssl, fd);
    bool ok = SSL_accept(ssl) == 1;
    if (ok) {
        std::lock_guard lock(m_mutex);
        ++m_handshakes;
        if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name))
            m_serverNames[size_t(index)] = name;
    }
    QByteArray pending;
    for (qsizetype r = 0; ok && r < script.replies.size() && !m_stopping; ++r) {
        qint64 end = 0;
        while (ok && !(end = requestEnd(pending))) {
            char buf[16384];
            const int n = SSL_read(ssl, buf, sizeof buf);
            ok = n > 0;
            if (ok) {
                pending.append(buf, n);
                std::lock_guard lock(m_mutex);
                m_received[size_t(index)].append(buf, n);
            }
        }
        pending.remove(0, end);
        const QByteArray& reply = script.replies[r];
        ok = ok && (reply.isEmpty() || SSL_write(ssl, reply.constData(), int(reply.size())) == int(reply.size()));
    }
    if (ok && script.closeNotify)
        SSL_shutdown(ssl);
    ::shutdown(fd, SHUT_WR);
    // Wait (bounded) for the client to close too, so nothing it still sends is answered
    // with a reset.
    for (int i = 0; i < 50 && !m_stopping; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) == 0)
            continue;
        char buf[4096];
        if (::recv(fd, buf, sizeof buf, 0) <= 0)
            break;
    }
    SSL_free(ssl);
    ERR_clear_error();
    ::close(fd);
}
