#include "http/TlsTransport.h"

#include "http/HttpErrors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <vector>

#include "http/OpenSslCalls.h"

namespace {

int verifyChain(X509_STORE_CTX* store, void*);

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
    QString notLoaded;
    if (!LoadOpenSsl(&notLoaded))
        throw EHttpClientError(notLoaded);
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
    SSL_CTX_set_cert_verify_callback(context, verifyChain, nullptr);
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

// ---- The event-driven client's sessions ----------------------------------------------

// What the verification of one session met: the most telling problem (who signed it,
// then its dates, then its name) and the first error of that kind.
struct TVerifyRecord {
    TCertificateProblem problem = TCertificateProblem::None;
    int error = X509_V_OK;
};

int verifyRecordIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

TVerifyRecord* verifyRecordOf(X509_STORE_CTX* store)
{
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return ssl ? static_cast<TVerifyRecord*>(SSL_get_ex_data(ssl, verifyRecordIndex())) : nullptr;
}

// Notes each problem and lets the check go on, so that all of them are seen.
int noteProblem(int ok, X509_STORE_CTX* store)
{
    if (ok)
        return 1;
    TVerifyRecord* record = verifyRecordOf(store);
    if (!record)
        return 0;
    const int error = X509_STORE_CTX_get_error(store);
    const TCertificateProblem problem = problemOf(error);
    if (record->problem == TCertificateProblem::None || problem < record->problem) {
        record->problem = problem;
        record->error = error;
    }
    return 1;
}

// The whole chain is checked; a session that noted any problem fails the handshake there,
// so nothing is sent past a refused certificate. The blocking client's sessions note
// nothing and end at their first problem, as OpenSSL does by itself.
int verifyChain(X509_STORE_CTX* store, void*)
{
    const int ok = X509_verify_cert(store);
    const TVerifyRecord* record = verifyRecordOf(store);
    if (record && record->problem != TCertificateProblem::None) {
        X509_STORE_CTX_set_error(store, record->error);
        return 0;
    }
    return ok;
}

// The words of Qt's certificate errors, for a problem outside the named kinds.
QString certificateErrorText(int error)
{
    const char* text = "Unknown error";
    switch (error) {
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE: text = "The certificate signature could not be decrypted"; break;
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: text = "The public key in the certificate could not be read"; break;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: text = "The signature of the certificate is invalid"; break;
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD: text = "The certificate's notBefore field contains an invalid time"; break;
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: text = "The certificate's notAfter field contains an invalid time"; break;
    case X509_V_ERR_INVALID_CA: text = "One of the CA certificates is invalid"; break;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: text = "The basicConstraints path length parameter has been exceeded"; break;
    case X509_V_ERR_INVALID_PURPOSE: text = "The supplied certificate is unsuitable for this purpose"; break;
    case X509_V_ERR_CERT_REJECTED: text = "The root CA certificate is marked to reject the specified purpose"; break;
    case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
        text = "The current candidate issuer certificate was rejected because its subject name did not match the issuer name of the current certificate";
        break;
    case X509_V_ERR_AKID_SKID_MISMATCH:
    case X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH:
        text = "The current candidate issuer certificate was rejected because its issuer name and serial number was present and did not match the authority key identifier of the current certificate";
        break;
    default: break;
    }
    // Through variables: these are Qt's texts, from Qt's catalogue, not the program's.
    static const char* const context = "QSslError";
    return QCoreApplication::translate(context, text);
}

QString remoteClosedText()
{
    static const char* const context = "QNativeSocketEngine";
    static const char* const text = "The remote host closed the connection";
    return QCoreApplication::translate(context, text);
}

// Every error OpenSSL queued on this thread, oldest first; the queue is emptied.
QString openSslErrors()
{
    QString all;
    char text[256];
    while (const unsigned long e = ERR_get_error()) {
        if (!all.isEmpty())
            all += QLatin1String(", ");
        ERR_error_string_n(e, text, sizeof text);
        all += QString::fromLatin1(text);
    }
    return all;
}

// The socket seen through OpenSSL's eyes: reads and writes that never wait and never
// raise SIGPIPE, and a note of how the connection ended.
struct TSocketIo {
    SocketPlatform::Handle socket = SocketPlatform::InvalidHandle;
    bool ended = false;     // closed by the peer, reset or broken
};

int socketWrite(BIO* bio, const char* data, int size)
{
    auto* io = static_cast<TSocketIo*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int error = 0;
    const qint64 n = SocketPlatform::SendNow(io->socket, data, size, false, &error);
    if (n == SocketPlatform::WouldBlock) {
        BIO_set_retry_write(bio);
        return -1;
    }
    if (n < 0) {
        io->ended = true;
        return -1;
    }
    return static_cast<int>(n);
}

int socketRead(BIO* bio, char* buffer, int size)
{
    auto* io = static_cast<TSocketIo*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int error = 0;
    const qint64 n = SocketPlatform::Receive(io->socket, buffer, size, &error);
    if (n == SocketPlatform::WouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    if (n <= 0) {
        io->ended = true;
        return n == 0 ? 0 : -1;
    }
    return static_cast<int>(n);
}

long socketControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "brimlark socket");
        BIO_meth_set_write(m, socketWrite);
        BIO_meth_set_read(m, socketRead);
        BIO_meth_set_ctrl(m, socketControl);
        return m;
    }();
    return method;
}

class TOpenSslSession : public TTlsSession {
public:
    TOpenSslSession(SocketPlatform::Handle socket, SSL* ssl, BIO* bio) : m_ssl(ssl)
    {
        m_io.socket = socket;
        BIO_set_data(bio, &m_io);
        BIO_set_init(bio, 1);
        SSL_set_bio(m_ssl, bio, bio);
        SSL_set_ex_data(m_ssl, verifyRecordIndex(), &m_record);
        SSL_set_verify(m_ssl, SSL_VERIFY_PEER, noteProblem);
        SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_connect_state(m_ssl);
    }

    // No close notice: the client only drops a connection it no longer trusts or needs.
    ~TOpenSslSession() override
    {
        ERR_clear_error();
        SSL_free(m_ssl);
    }

    TStatus Handshake() override
    {
        ERR_clear_error();
        const int r = SSL_do_handshake(m_ssl);
        if (r == 1) {
            if (SSL_get_verify_result(m_ssl) == X509_V_OK && SSL_get0_peer_certificate(m_ssl))
                return Ok;
            m_record.problem = problemOf(SSL_get_verify_result(m_ssl));
            return Failed;
        }
        const int error = SSL_get_error(m_ssl, r);
        if (error == SSL_ERROR_WANT_READ)
            return WantRead;
        if (error == SSL_ERROR_WANT_WRITE)
            return WantWrite;
        if (m_record.problem == TCertificateProblem::None) {
            const QString errors = openSslErrors();
            if (m_io.ended || error == SSL_ERROR_SYSCALL || errors.isEmpty()) {
                m_detail = remoteClosedText();
            } else {
                static const char* const context = "QSslSocket";
                static const char* const text = "Error during SSL handshake: %1";
                m_detail = QCoreApplication::translate(context, text).arg(errors);
            }
        }
        ERR_clear_error();
        return Failed;
    }

    TStatus Read(char* buffer, qint64 size, qint64* count) override
    {
        ERR_clear_error();
        const int n = SSL_read(m_ssl, buffer, static_cast<int>(std::min<qint64>(size, INT_MAX)));
        *count = std::max(n, 0);
        return n > 0 ? Ok : status(n);
    }

    TStatus Write(const char* data, qint64 size, qint64* count) override
    {
        ERR_clear_error();
        const int n = SSL_write(m_ssl, data, static_cast<int>(std::min<qint64>(size, 1 << 20)));
        *count = std::max(n, 0);
        return n > 0 ? Ok : status(n);
    }

    TCertificateProblem Problem() const override { return m_record.problem; }

    QString Detail() const override
    {
        if (m_record.problem != TCertificateProblem::None)
            return certificateErrorText(m_record.error);
        return m_detail;
    }

private:
    TStatus status(int result)
    {
        const int error = SSL_get_error(m_ssl, result);
        ERR_clear_error();
        switch (error) {
        case SSL_ERROR_WANT_READ: return WantRead;
        case SSL_ERROR_WANT_WRITE: return WantWrite;
        case SSL_ERROR_ZERO_RETURN: return Closed;
        default: return Ended;
        }
    }

    SSL* m_ssl;
    TSocketIo m_io;
    TVerifyRecord m_record;
    QString m_detail;
};

} // namespace

std::unique_ptr<TTlsSession> StartTlsSession(SocketPlatform::Handle socket, const QByteArray& host,
                                             const QString& caFile, QString* error)
{
    SSL_CTX* context = nullptr;
    try {
        context = contextFor(caFile);
    } catch (const EHttpClientError& e) {
        *error = e.Message();
        return nullptr;
    }
    ERR_clear_error();
    SSL* ssl = SSL_new(context);
    BIO* bio = BIO_new(socketMethod());
    if (!ssl || !bio) {
        *error = QStringLiteral("TLS session could not be made: %1").arg(openSslReason());
        BIO_free(bio);
        SSL_free(ssl);
        return nullptr;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // An address literal is checked against the certificate's addresses and never sent
    // as a server name; a name goes without a final dot.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) != 1) {
        const QByteArray name = host.endsWith('.') ? host.chopped(1) : host;
        X509_VERIFY_PARAM_set1_host(param, name.constData(), static_cast<size_t>(name.size()));
        SSL_set_tlsext_host_name(ssl, name.constData());
    }
    ERR_clear_error();
    return std::make_unique<TOpenSslSession>(socket, ssl, bio);
}

int PemCertificateCount(const QByteArray& pem, QString* error)
{
    if (!LoadOpenSsl(error))
        return -1;
    BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
    if (!bio)
        return 0;
    int count = 0;
    for (;;) {
        const size_t before = BIO_ctrl_pending(bio);
        X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        if (certificate) {
            ++count;
            X509_free(certificate);
            continue;
        }
        // A broken block is skipped; the end of the text ends the count.
        const unsigned long e = ERR_peek_last_error();
        ERR_clear_error();
        if (ERR_GET_REASON(e) == PEM_R_NO_START_LINE || BIO_ctrl_pending(bio) == 0 || BIO_ctrl_pending(bio) == before)
            break;
    }
    BIO_free(bio);
    return count;
}

std::unique_ptr<TByteTransport> StartTlsTransport(std::unique_ptr<TByteTransport> inner, const QByteArray& host,
                                                  const QString& caFile, const QByteArray& early,
                                                  const std::function<int()>& waitBudget)
{
    auto transport = std::make_unique<TOpenSslTransport>(std::move(inner), contextFor(caFile), host);
    transport->Handshake(early, waitBudget);
    return transport;
}
