#include "http/TlsTransport.h"

#include "http/HttpErrors.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <vector>

namespace {

// The reason of the oldest error OpenSSL queued on this thread; the queue is emptied.
QString openSslReason()
{
    unsigned long first = 0;
    while (const unsigned long e = ERR_get_error()) {
        if (!first)
            first = e;
    }
    if (!first)
        return QStringLiteral("unknown error");
    if (const char* reason = ERR_reason_error_string(first))
        return QString::fromLatin1(reason);
    char text[256];
    ERR_error_string_n(first, text, sizeof text);
    return QString::fromLatin1(text);
}

// Loads the authorities once per CA file (and again when the file changes): reading the
// system's bundle costs more than a handshake on loopback.
SSL_CTX* contextFor(const QString& caFile)
{
    // OpenSSL first, so its exit handler runs after anything below is done with it.
    static const bool started = OPENSSL_init_ssl(0, nullptr) == 1;
    if (!started)
        throw EHttpClientError(QStringLiteral("TLS library could not be started: %1").arg(openSslReason()));
    static std::mutex mutex;
    static auto* contexts = new QMap<QString, SSL_CTX*>;  // kept for the process's life

    QString key;
    if (!caFile.isEmpty()) {
        const QFileInfo info(caFile);
        if (!info.isFile() || !info.isReadable())
            throw EHttpClientError(QStringLiteral("Cannot read the CA file %1").arg(caFile));
        key = caFile + QLatin1Char('|') + QString::number(info.lastModified().toMSecsSinceEpoch())
              + QLatin1Char('|') + QString::number(info.size());
    }
    std::lock_guard lock(mutex);
    if (SSL_CTX* known = contexts->value(key))
        return known;

    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        throw EHttpClientError(QStringLiteral("TLS context could not be made: %1").arg(openSslReason()));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(context);
    if (!caFile.isEmpty()
        && SSL_CTX_load_verify_locations(context, QFile::encodeName(caFile).constData(), nullptr) != 1) {
        const QString reason = openSslReason();
        SSL_CTX_free(context);
        throw EHttpClientError(QStringLiteral("Cannot read the CA file %1: %2").arg(caFile, reason));
    }
    ERR_clear_error();
    contexts->insert(key, context);
    return context;
}

TCertificateProblem problemOf(long verifyResult)
{
    switch (verifyResult) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TCertificateProblem::UntrustedIssuer;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TCertificateProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TCertificateProblem::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TCertificateProblem::HostMismatch;
    default:
        return TCertificateProblem::Other;
    }
}

// The TLS engine works on two memory buffers; this class moves bytes between them and
// the inner transport, so every wait is the inner transport's, bounded like a plain read.
class TOpenSslTransport : public TByteTransport {
public:
    TOpenSslTransport(std::unique_ptr<TByteTransport> inner, SSL_CTX* context, const QByteArray& host)
        : m_inner(std::move(inner)), m_host(host), m_buffer(64 * 1024)
    {
        ERR_clear_error();
        m_ssl = SSL_new(context);
        m_in = BIO_new(BIO_s_mem());
        m_out = BIO_new(BIO_s_mem());
        if (!m_ssl || !m_in || !m_out) {
            BIO_free(m_in);
            BIO_free(m_out);
            SSL_free(m_ssl);
            m_ssl = nullptr;
            throw EHttpClientError(QStringLiteral("TLS session could not be made: %1").arg(openSslReason()));
        }
        SSL_set_bio(m_ssl, m_in, m_out);
        SSL_set_connect_state(m_ssl);
        X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        // An address literal is checked against the certificate's addresses and never
        // sent as a server name.
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) != 1) {
            X509_VERIFY_PARAM_set1_host(param, host.constData(), static_cast<size_t>(host.size()));
            SSL_set_tlsext_host_name(m_ssl, host.constData());
        }
        ERR_clear_error();
    }

    ~TOpenSslTransport() override
    {
        if (!m_ssl)
            return;
        // A polite close for a connection that is still sound; nothing waits for the answer.
        if (m_established && !m_broken) {
            ERR_clear_error();
            SSL_shutdown(m_ssl);
            try {
                flush();
            } catch (...) {
            }
        }
        ERR_clear_error();
        SSL_free(m_ssl);
    }

    void Handshake(const QByteArray& early, const std::function<int()>& waitBudget)
    {
        if (!early.isEmpty())
            take(early.constData(), early.size());
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(m_ssl);
            const int error = r == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, r);
            if (r != 1 && error != SSL_ERROR_WANT_READ) {
                try {
                    flush();  // the alert that tells the server why we stop
                } catch (...) {
                }
                refused();
            }
            try {
                flush();
            } catch (const ESocketError& e) {
                failed(QStringLiteral("the connection broke off during the TLS handshake: %1").arg(oneLine(e)));
            }
            if (r == 1)
                break;
            const int budget = waitBudget();
            if (budget == 0)
                failed(QStringLiteral("the TLS handshake timed out"));
            qint64 n = 0;
            try {
                n = pull(budget);
            } catch (const ESocketError& e) {
                failed(QStringLiteral("the connection broke off during the TLS handshake: %1").arg(oneLine(e)));
            }
            if (n < 0)
                failed(QStringLiteral("the TLS handshake timed out"));
            if (n == 0)
                failed(QStringLiteral("the server closed the connection during the TLS handshake"));
        }
        // The handshake only ends well after a verified certificate; make sure of it anyway.
        const long verified = SSL_get_verify_result(m_ssl);
        if (verified != X509_V_OK || !SSL_get0_peer_certificate(m_ssl)) {
            m_broken = true;
            throw ETlsError(m_host, problemOf(verified), QString::fromLatin1(X509_verify_cert_error_string(verified)));
        }
        m_established = true;
    }

    void Write(const char* data, qint64 size) override
    {
        while (size > 0) {
            ERR_clear_error();
            const int n = SSL_write(m_ssl, data, static_cast<int>(std::min<qint64>(size, 1 << 20)));
            if (n <= 0)
                broke();
            flush();
            data += n;
            size -= n;
        }
    }

    qint64 Receive(char* buffer, qint64 size, int timeoutMs) override
    {
        using Clock = std::chrono::steady_clock;
        const auto until = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            ERR_clear_error();
            const int n = SSL_read(m_ssl, buffer, static_cast<int>(std::min<qint64>(size, INT_MAX)));
            if (n > 0)
                return n;
            const int error = SSL_get_error(m_ssl, n);
            flush();  // a post-handshake message may want an answer
            if (error == SSL_ERROR_ZERO_RETURN)
                return 0;
            if (error != SSL_ERROR_WANT_READ)
                broke();
            // One budget for the whole call: a peer that trickles a record must not
            // stretch it.
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
                if (left <= 0)
                    return -1;
                wait = static_cast<int>(left);
            }
            qint64 got = 0;
            try {
                got = pull(wait);
            } catch (const ESocketError& e) {
                // An aborted connection is no TLS close either: what came before it is not
                // known to be whole.
                m_broken = true;
                if (e.LastError() == 10053 || e.LastError() == 10058)
                    throw EConnectionClosed();
                throw;
            }
            if (got < 0)
                return -1;
            if (got == 0) {
                // No TLS close: whatever came last may be a cut, not the end.
                m_broken = true;
                throw EConnectionClosed();
            }
        }
    }

private:
    static QString oneLine(const EHttpClientError& e)
    {
        return e.Message().replace(QLatin1String("\r\n"), QLatin1String(" ")).trimmed();
    }

    void take(const char* data, qint64 size)
    {
        if (m_received.size() < 8)
            m_received.append(data, std::min<qint64>(size, 8));
        BIO_write(m_in, data, static_cast<int>(size));
    }

    // Receives from the peer into the engine: the count, 0 when the peer closed, -1 on time-out.
    qint64 pull(int timeoutMs)
    {
        const qint64 n = m_inner->Receive(m_buffer.data(), static_cast<qint64>(m_buffer.size()), timeoutMs);
        if (n > 0)
            take(m_buffer.data(), n);
        return n;
    }

    void flush()
    {
        try {
            for (;;) {
                const int n = BIO_read(m_out, m_buffer.data(), static_cast<int>(m_buffer.size()));
                if (n <= 0)
                    return;
                m_inner->Write(m_buffer.data(), n);
            }
        } catch (...) {
            m_broken = true;
            throw;
        }
    }

    // A TLS record begins with its type: handshake (22) or alert (21) from a server that
    // speaks TLS at all.
    bool peerSpeaksTls() const
    {
        return m_received.isEmpty() || m_received.at(0) == 22 || m_received.at(0) == 21;
    }

    [[noreturn]] void failed(const QString& detail)
    {
        m_broken = true;
        throw ETlsError(m_host, TCertificateProblem::None,
                        peerSpeaksTls() ? detail : QStringLiteral("the server does not speak TLS"));
    }

    [[noreturn]] void refused()
    {
        m_broken = true;
        const long verified = SSL_get_verify_result(m_ssl);
        if (verified != X509_V_OK) {
            ERR_clear_error();
            throw ETlsError(m_host, problemOf(verified), QString::fromLatin1(X509_verify_cert_error_string(verified)));
        }
        failed(QStringLiteral("the TLS handshake failed: %1").arg(openSslReason()));
    }

    [[noreturn]] void broke()
    {
        m_broken = true;
        throw EHttpClientError(QStringLiteral("TLS error on the connection to %1: %2")
                                   .arg(QString::fromUtf8(m_host), openSslReason()));
    }

    std::unique_ptr<TByteTransport> m_inner;
    QByteArray m_host;
    SSL* m_ssl = nullptr;
    BIO* m_in = nullptr;   // owned by m_ssl
    BIO* m_out = nullptr;  // owned by m_ssl
    std::vector<char> m_buffer;
    QByteArray m_received;  // the peer's first bytes, to tell a server that is not TLS at all
    bool m_established = false;
    bool m_broken = false;
};

} // namespace

std::unique_ptr<TByteTransport> StartTlsTransport(std::unique_ptr<TByteTransport> inner, const QByteArray& host,
                                                  const QString& caFile, const QByteArray& early,
                                                  const std::function<int()>& waitBudget)
{
    auto transport = std::make_unique<TOpenSslTransport>(std::move(inner), contextFor(caFile), host);
    transport->Handshake(early, waitBudget);
    return transport;
}
