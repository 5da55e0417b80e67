#include "http/HttpCli.h"

#include "http/HttpCliDirectSend.h"
#include "http/HttpCliSocketErrors.h"
#include "http/UrlText.h"
#include "text/Logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace {

constexpr qint64 kBodyBlock = 8192;
constexpr qint64 kReadChunk = 64 * 1024;

// Bytes of the proxy's answer to CONNECT beyond which a line is too long whatever the
// limits say: the socket stops reading there, so waiting for more would wait for ever.
constexpr qint64 kMaxProxyLine = kReadChunk - 2;

struct TUrlParts {
    QByteArray scheme, user, password, host, port, path;
};

// scheme "://" [user [":" password] "@"] host [":" port] path; empty parts get their defaults.
TUrlParts splitUrl(const QByteArray& url)
{
    TUrlParts u;
    QByteArray rest = url;
    const qsizetype sep = url.indexOf("://");
    if (sep >= 0) {
        u.scheme = url.left(sep);
        rest = url.mid(sep + 3);
    }
    qsizetype end = rest.size();
    for (char c : {'/', '?'}) {
        const qsizetype i = rest.indexOf(c);
        if (i >= 0 && i < end)
            end = i;
    }
    QByteArray authority = rest.left(end);
    u.path = rest.mid(end);
    if (u.path.startsWith('?'))
        u.path.prepend('/');
    const TUserInfo info = SplitUserInfo(authority, TAtSign::Last);
    authority = info.Rest;
    u.user = info.User;
    u.password = info.Password;
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        u.host = authority.mid(1, close < 0 ? -1 : close - 1);
        if (close >= 0 && authority.mid(close + 1).startsWith(':'))
            u.port = authority.mid(close + 2);
    } else {
        const qsizetype colon = authority.lastIndexOf(':');
        u.host = colon >= 0 ? authority.left(colon) : authority;
        u.port = colon >= 0 ? authority.mid(colon + 1) : QByteArray();
    }
    u.scheme = u.scheme.isEmpty() ? QByteArray("http") : u.scheme.toLower();
    if (u.port.isEmpty())
        u.port = u.scheme == "https" ? "443" : "80";
    if (u.path.isEmpty())
        u.path = "/";
    return u;
}

QByteArray hostForUrl(const QByteArray& host)
{
    return host.contains(':') ? "[" + host + "]" : host;
}

// host[:port], the port left out where it is the scheme's own.
QByteArray authority(const QByteArray& scheme, const QByteArray& host, const QByteArray& port)
{
    const bool usual = port.isEmpty() || port == (scheme == "https" ? "443" : "80");
    return usual ? hostForUrl(host) : hostForUrl(host) + ':' + port;
}

QByteArray basicCredentials(const QByteArray& user, const QByteArray& password)
{
    return "Basic " + (user + ':' + password).toBase64();
}

TCertificateProblem problemOf(const QSslError& error)
{
    switch (error.error()) {
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::CertificateUntrusted:
        return TCertificateProblem::UntrustedIssuer;
    case QSslError::CertificateExpired:
        return TCertificateProblem::Expired;
    case QSslError::CertificateNotYetValid:
        return TCertificateProblem::NotYetValid;
    case QSslError::HostNameMismatch:
        return TCertificateProblem::HostMismatch;
    default:
        return TCertificateProblem::Other;
    }
}

// The authorities an https connection trusts: the system's, plus those of the request's
// CA file. False, with the reason, when that file cannot be read or holds none.
bool trustedAuthorities(const QString& caFile, QList<QSslCertificate>* extra, QString* reason)
{
    if (caFile.isEmpty())
        return true;
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QCoreApplication::translate("THttpCli", "CA 証明書ファイルを読めません: %1 (%2)").arg(caFile, file.errorString());
        return false;
    }
    *extra = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (extra->isEmpty()) {
        *reason = QCoreApplication::translate("THttpCli", "CA 証明書ファイルに証明書がありません: %1").arg(caFile);
        return false;
    }
    return true;
}

const QList<QSslCertificate>& systemAuthorities()
{
    // Read once: a configuration given its own list no longer looks the system's up by
    // itself, so the list is handed over with the extra ones.
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    return system;
}

} // namespace

THttpCli::THttpCli(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("HttpCli1"));
    m_timeoutTimer.setSingleShot(true);
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcHttp) << objectName() << "request timed out";
        const QByteArray timedOut = HttpCliSocketErrors::Describe(HttpCliSocketErrors::ConnectionTimedOut);
        failRequest(404, inHandshake() ? tlsFailure(QString::fromLatin1(timedOut)) : timedOut);
    });
    m_wakeTimer.setInterval(1000);
    connect(&m_wakeTimer, &QTimer::timeout, this, &THttpCli::onWake);
    m_parser.SetBodySink([this](QByteArrayView part) {
        if (m_work.reply)
            m_work.reply->write(part.data(), part.size());
    });
}

THttpCli::~THttpCli()
{
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(m_lookupId);
    dropSocket();
}

THttpCliResult THttpCli::Post(const THttpCliRequest& request)
{
    THttpCliResult refused;
    refused.Failed = true;
    if (m_state != httpReady) {
        // The running request keeps its state; only this call is refused.
        refused.ErrorCode = 1;
        refused.ErrorMessage = QStringLiteral("HTTP component %1 is busy").arg(objectName());
        refused.NoReply = true;
        refused.StatusCode = m_statusCode;
        refused.ReasonPhrase = m_reasonPhrase;
        return refused;
    }
    if (request.RequestVer != "1.0" && request.RequestVer != "1.1") {
        refused.ErrorCode = 5;
        refused.ErrorMessage = QStringLiteral("Insupported HTTP version");
        refused.NoReply = true;
        return refused;
    }

    m_locationChangeCurCount = 0;
    m_ownFailure = false;
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_location = request.URL;
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_tlsCut = false;
    m_body.close();
    m_body.setData(request.Body);
    m_body.open(QIODevice::ReadOnly);
    m_parser.SetLimits(ReplyLimits);
    m_parser.StartReply(request.RequestVer == "1.0", request.FollowRelocation, false);

    TWork w;
    w.method = httpPOST;
    const TUrlParts url = splitUrl(request.URL);
    w.scheme = url.scheme;
    w.host = url.host;
    w.port = url.port;
    w.path = url.path;
    w.user = url.user.isEmpty() ? request.Username : url.user;
    w.password = url.password.isEmpty() ? request.Password : url.password;
    w.connection = request.Connection;
    w.accept = request.Accept;
    w.acceptLanguage = request.AcceptLanguage;
    w.agent = request.Agent;
    w.contentType = request.ContentTypePost;
    w.sender = request.Sender;
    w.reference = request.Reference;
    w.cookie = request.Cookie;
    w.modifiedSince = request.ModifiedSince;
    w.localAddr = request.LocalAddr;
    w.requestVer = request.RequestVer;
    w.noCache = request.NoCache;
    w.followRelocation = request.FollowRelocation;
    w.maxRelocations = request.LocationChangeMaxCount;
    w.withBody = true;
    w.reply = request.ReplyStream;
    w.network = request.Network;
    w.proxy = ProxyFor(w.network, w.scheme, w.host);
    m_work = w;
    m_origin = w;
    const bool basic = request.ServerAuth == httpAuthBasic;
    m_basic = basic && !m_work.user.isEmpty() && !m_work.password.isEmpty() ? basicSent : basicNone;

    if (Timeout > 0)
        m_timeoutTimer.start(Timeout);
    m_wakeTimer.start();

    if (!QCoreApplication::instance() || QCoreApplication::closingDown()) {
        m_state = httpNotConnected;
        abortRequest();
    } else if (connectedTo(m_work) && !HttpCliIdleConnectionUnusable(m_socket->socketDescriptor())
               && !(m_tls && m_tls->bytesAvailable() > 0)) {
        // The server may have closed a kept connection while no event loop ran to notice.
        sendRequest();
    } else {
        startConnection();
    }

    if (m_state != httpReady) {
        QEventLoop loop;
        m_waitLoop = &loop;
        const auto flags = MultiThreaded ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents;
        loop.exec(flags);
        m_waitLoop = nullptr;
        // Only the application leaving its loops ends this wait early.
        if (m_state != httpReady)
            abortRequest();
    }
    m_body.close();
    m_body.setData(QByteArray());

    THttpCliResult result;
    result.StatusCode = m_statusCode;
    result.ReasonPhrase = m_reasonPhrase;
    result.Location = m_location;
    // The counter includes a last Location reply that was not followed.
    result.Relocations = std::min(m_locationChangeCurCount, std::max(0, m_work.maxRelocations));
    result.Truncated = m_parser.Truncated() || m_tlsCut;
    result.NoReply = m_ownFailure;
    // A proxy's 407 to CONNECT is the client's own failure: the service never saw the post.
    if (m_ownFailure || (m_statusCode >= 400 && m_statusCode != 401 && m_statusCode != 407)) {
        result.Failed = true;
        result.ErrorCode = static_cast<quint16>(m_statusCode);
        result.ErrorMessage = QString::fromUtf8(m_reasonPhrase);
    }
    return result;
}

bool THttpCli::connectedTo(const TWork& w) const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState
        && m_connScheme == w.scheme && m_connHost == w.host && m_connPort == w.port && m_connProxy == w.proxy;
}

void THttpCli::startConnection()
{
    dropSocket();
    m_parser.ClearBuffer();
    m_state = httpNotConnected;
    m_state = httpDnsLookup;
    const int generation = ++m_generation;
    // Through a proxy only the proxy's name is looked up; it finds the server.
    const QByteArray host = m_work.proxy ? m_work.proxy->Host : m_work.host;
    if (QHostAddress().setAddress(QString::fromLatin1(host))) {
        lookupDone(generation, {host}, true);
    } else if (host.isEmpty() || IsReservedInvalidName(host)) {
        QMetaObject::invokeMethod(this, [this, generation] { lookupDone(generation, {}, false); },
                                  Qt::QueuedConnection);
    } else {
        m_lookupId = QHostInfo::lookupHost(QString::fromLatin1(host), this,
            [this, generation](const QHostInfo& info) {
                m_lookupId = -1;
                QList<QByteArray> addresses;
                // IPv4 first: services of this kind listen there for sure.
                for (int pass = 0; pass < 2; ++pass) {
                    for (const QHostAddress& a : info.addresses()) {
                        if ((a.protocol() == QAbstractSocket::IPv4Protocol) == (pass == 0))
                            addresses.append(a.toString().toLatin1());
                    }
                }
                lookupDone(generation, addresses, info.error() == QHostInfo::NoError && !addresses.isEmpty());
            });
    }
}

void THttpCli::lookupDone(int generation, const QList<QByteArray>& addresses, bool ok)
{
    if (generation != m_generation || m_state != httpDnsLookup)
        return;
    if (!ok) {
        failRequest(404, "can't resolve hostname to IP address");
        return;
    }
    m_state = httpDnsLookupDone;
    const bool https = m_work.scheme == "https";
    if ((m_work.scheme != "http" && !https) || (https && !QSslSocket::supportsSsl())) {
        failRequest(501, "Protocol \"" + m_work.scheme + "\" not implemented");
        return;
    }
    bool portOk = false;
    quint16 port = m_work.port.toUShort(&portOk);
    if (!portOk || port == 0) {
        failRequest(404, "can't connect: " + HttpCliSocketErrors::Describe(10022));
        return;
    }
    if (m_work.proxy)
        port = m_work.proxy->Port;

    QList<QSslCertificate> extra;
    QString caProblem;
    if (https && !trustedAuthorities(m_work.network.CaFile, &extra, &caProblem)) {
        failRequest(404, TlsFailureText(m_work.host, TCertificateProblem::None, caProblem).toUtf8());
        return;
    }
    if (https) {
        m_tls = new QSslSocket(this);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!extra.isEmpty())
            tls.setCaCertificates(systemAuthorities() + extra);
        m_tls->setSslConfiguration(tls);
        // The name sent for SNI and checked against the certificate, also when the
        // socket goes to an address or to a proxy.
        m_tls->setPeerVerifyName(QString::fromLatin1(m_work.host));
        m_tlsProblem = TCertificateProblem::None;
        m_tlsDetail.clear();
        m_tlsClosed = false;
        connect(m_tls, &QSslSocket::sslErrors, this, &THttpCli::onSslErrors);
        connect(m_tls, &QSslSocket::encrypted, this, &THttpCli::onEncrypted);
        connect(m_tls, &QSslSocket::encryptedBytesWritten, this, &THttpCli::onBytesWritten);
        m_socket = m_tls;
    } else {
        m_socket = new QTcpSocket(this);
    }
    // Qt stops reading from the kernel when this is full, so a fast peer cannot make it grow.
    m_socket->setReadBufferSize(kReadChunk);
    // Bound before the signals are connected: a refused bind reports its error at once,
    // and the request fails here with it.
    if (!m_work.localAddr.isEmpty() && m_work.localAddr != "0.0.0.0") {
        const QHostAddress local(QString::fromLatin1(m_work.localAddr));
        if (local.isNull() || !m_socket->bind(local)) {
            const int n = local.isNull() ? 10049 : HttpCliSocketErrors::Number(m_socket->error());
            failRequest(404, "can't connect: " + HttpCliSocketErrors::Describe(n));
            return;
        }
    }
    connect(m_socket, &QTcpSocket::connected, this, &THttpCli::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &THttpCli::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &THttpCli::onBytesWritten);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &THttpCli::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &THttpCli::onDisconnected);
    m_connScheme = m_work.scheme;
    m_connHost = m_work.host;
    m_connPort = m_work.port;
    m_connProxy = m_work.proxy;
    if (m_tls && !m_work.proxy)
        m_tls->connectToHostEncrypted(QString::fromLatin1(addresses.first()), port);
    else
        m_socket->connectToHost(QHostAddress(QString::fromLatin1(addresses.first())), port);
}

void THttpCli::onConnected()
{
    if (m_state != httpDnsLookupDone)
        return;
    m_state = httpConnected;
    // The body goes out in blocks smaller than a segment; without this each one would
    // wait for the acknowledgement of the one before. Only a connected socket takes it.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!m_tls) {
        sendRequest();
        return;
    }
    if (m_work.proxy)
        sendConnect();
    // Otherwise the handshake runs; encrypted() sends the request.
}

// https through a proxy: a tunnel to the server, in which TLS then runs end to end. The
// proxy's credentials go in this head; the server's only inside the tunnel.
void THttpCli::sendConnect()
{
    const QByteArray target = hostForUrl(m_work.host) + ':' + m_work.port;
    QByteArray head = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!m_work.proxy->User.isEmpty())
        head += "Proxy-Authorization: " + basicCredentials(m_work.proxy->User, m_work.proxy->Password) + "\r\n";
    head += "\r\n";
    m_state = httpWaitingProxyConnect;
    m_proxyStatus = 0;
    m_proxyReason.clear();
    m_proxyLines = 0;
    m_proxyBytes = 0;
    m_socket->write(head);
    m_socket->flush();
}

// The proxy's answer, line by line, so nothing after its head is taken from what will be
// the TLS stream. Bounded by the same limits as a reply's head.
void THttpCli::readProxyReply()
{
    QTcpSocket* socket = m_socket;
    const qint64 maxLine = std::min<qint64>(ReplyLimits.MaxLineLength, kMaxProxyLine);
    while (m_socket == socket && m_state == httpWaitingProxyConnect) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maxLine + 1)
                failRequest(404, "Proxy reply header line too long");
            return;
        }
        QByteArray line = socket->readLine();
        m_bytesReceived += line.size();
        m_proxyBytes += line.size();
        if (++m_proxyLines > ReplyLimits.MaxHeaderLines || m_proxyBytes > ReplyLimits.MaxHeaderSize
            || line.size() > maxLine + 2) {
            failRequest(404, "Proxy reply header too large");
            return;
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (m_proxyLines == 1) {
            // "HTTP/1.x 200 reason"
            const QList<QByteArray> parts = line.split(' ');
            bool ok = false;
            m_proxyStatus = parts.size() >= 2 && line.startsWith("HTTP/") && parts[1].size() == 3 ? parts[1].toInt(&ok) : 0;
            if (!ok || m_proxyStatus < 100) {
                failRequest(404, "Proxy sent an invalid reply to CONNECT");
                return;
            }
            m_proxyReason = line.mid(parts[0].size() + parts[1].size() + 2);
            continue;
        }
        if (!line.isEmpty())
            continue;
        if (m_proxyStatus < 200 || m_proxyStatus > 299) {
            failRequest(m_proxyStatus, ("Proxy refused the tunnel: " + QByteArray::number(m_proxyStatus) + ' ' + m_proxyReason).trimmed());
            return;
        }
        m_state = httpConnected;
        m_tls->startClientEncryption();
    }
}

void THttpCli::onEncrypted()
{
    if (m_state == httpConnected)
        sendRequest();
}

// Only noted here: the socket reports the failed handshake right after, and the request
// fails there with the reason kept. No error is ever ignored.
void THttpCli::onSslErrors(const QList<QSslError>& errors)
{
    // The most telling reason when there are several: who signed it, then its dates, then its name.
    for (const QSslError& error : errors) {
        const TCertificateProblem problem = problemOf(error);
        if (m_tlsProblem == TCertificateProblem::None || problem < m_tlsProblem) {
            m_tlsProblem = problem;
            m_tlsDetail = error.errorString();
        }
    }
}

bool THttpCli::inHandshake() const
{
    return m_tls && m_state == httpConnected;
}

QByteArray THttpCli::tlsFailure(const QString& detail) const
{
    const bool certificate = m_tlsProblem != TCertificateProblem::None;
    return TlsFailureText(m_work.host, m_tlsProblem, certificate ? m_tlsDetail : detail).toUtf8();
}

// Why the connection could not be made (or the tunnel and TLS set up over it).
QByteArray THttpCli::connectFailure() const
{
    if (inHandshake())
        return tlsFailure(m_socket->errorString());
    return HttpCliSocketErrors::Describe(HttpCliSocketErrors::Number(m_socket->error()));
}

QByteArray THttpCli::composeHeader() const
{
    const bool withBody = m_work.method == httpPOST || m_work.method == httpPUT;
    QList<QByteArray> lines;
    auto add = [&lines](const char* name, const QByteArray& value) {
        if (!value.isEmpty())
            lines.append(name + value);
    };
    const QByteArray method = m_work.method == httpPOST ? "POST" : m_work.method == httpPUT ? "PUT"
                            : m_work.method == httpHEAD ? "HEAD" : "GET";
    // A proxy is given the whole address; through a tunnel the server itself reads the line.
    const QByteArray target = m_work.proxy && m_work.scheme == "http"
                            ? "http://" + authority(m_work.scheme, m_work.host, m_work.port) + m_work.path
                            : m_work.path;
    lines.append(method + ' ' + target + " HTTP/" + m_work.requestVer);
    add("From: ", m_work.sender);
    add("Accept: ", m_work.accept);
    add("Referer: ", m_work.reference);
    add("Connection: ", m_work.connection);
    add("Accept-Language: ", m_work.acceptLanguage);
    if (withBody)
        add("Content-Type: ", m_work.contentType);
    add("User-Agent: ", m_work.agent);
    add("Host: ", authority(m_work.scheme, m_work.host, m_work.port));
    if (m_work.noCache)
        lines.append("Pragma: no-cache");
    if (withBody) {
        qint64 length = 0;
        if (m_work.withBody)
            length = m_body.size() - m_body.pos();
        lines.append("Content-Length: " + QByteArray::number(std::max<qint64>(0, length)));
    }
    if (m_work.modifiedSince.isValid()) {
        add("If-Modified-Since: ",
            QLocale::c().toString(m_work.modifiedSince.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT");
    }
    // Credentials never follow a relocation to another scheme, host or port.
    if (m_basic != basicNone && m_work.scheme == m_origin.scheme && m_work.host.toLower() == m_origin.host.toLower()
        && m_work.port == m_origin.port)
        add("Authorization: ", basicCredentials(m_work.user, m_work.password));
    if (m_work.proxy && m_work.scheme == "http" && !m_work.proxy->User.isEmpty())
        add("Proxy-Authorization: ", basicCredentials(m_work.proxy->User, m_work.proxy->Password));
    add("Cookie: ", m_work.cookie);

    QByteArray header;
    for (const QByteArray& line : lines)
        header += line + "\r\n";
    header += "\r\n";
    return header;
}

void THttpCli::sendRequest()
{
    m_state = httpConnected;
    m_state = httpWaitingHeader;
    m_tlsCut = false;
    m_parser.StartReply(m_work.requestVer == "1.0", m_work.followRelocation, m_work.method == httpPUT);
    const QByteArray header = composeHeader();
    m_bodyDone = !(m_work.method == httpPOST || m_work.method == httpPUT) || !m_work.withBody;
    QTcpSocket* socket = m_socket;
    writeOut(header.constData(), header.size(), !m_bodyDone);
    if (m_socket == socket && m_state == httpWaitingHeader)
        sendBody();
}

// While nothing is queued the kernel takes the bytes directly; the rest goes to the socket
// object, which queues it, reports errors and signals when it has gone out. Under TLS
// everything goes through the socket, which encrypts it; bytes are gathered there up to
// a block, so a head and a small body leave together.
void THttpCli::writeOut(const char* data, qint64 size, bool more)
{
    qint64 done = 0;
    if (!m_tls && m_socket->bytesToWrite() == 0)
        done = HttpCliDirectSend(m_socket->socketDescriptor(), data, size, more);
    m_heldBack = more && done > 0;
    if (done < size) {
        m_socket->write(data + done, size - done);
        if (!m_tls || !more || pendingOut() >= kBodyBlock)
            m_socket->flush();
    }
    m_bytesSent += size;
}

qint64 THttpCli::pendingOut() const
{
    return m_socket->bytesToWrite() + (m_tls ? m_tls->encryptedBytesToWrite() : 0);
}

bool THttpCli::mayQueueMore() const
{
    return m_tls ? pendingOut() < kBodyBlock : m_socket->bytesToWrite() == 0;
}

// One block of at most 8192 bytes at a time, the next once the socket has passed the
// previous one on, so a large body never sits in memory as a whole.
void THttpCli::sendBody()
{
    if (m_inSendBody)
        return;
    m_inSendBody = true;
    char block[kBodyBlock];
    while (!m_bodyDone && m_socket && mayQueueMore()) {
        const qint64 n = m_work.withBody ? m_body.read(block, sizeof block) : 0;
        if (n <= 0) {
            m_bodyDone = true;
            if (m_heldBack)
                HttpCliPush(m_socket->socketDescriptor());
            break;
        }
        writeOut(block, n, !m_body.atEnd());
    }
    m_inSendBody = false;
}

void THttpCli::onBytesWritten()
{
    if (m_state == httpWaitingHeader || m_state == httpWaitingBody)
        sendBody();
}

void THttpCli::onReadyRead()
{
    QTcpSocket* socket = m_socket;
    if (!socket)
        return;
    if (m_state == httpWaitingProxyConnect) {
        readProxyReply();
        return;
    }
    if (m_readBuf.size() != kReadChunk)
        m_readBuf.resize(kReadChunk);
    while (m_socket == socket && (m_state == httpWaitingHeader || m_state == httpWaitingBody)) {
        const qint64 n = socket->read(m_readBuf.data(), kReadChunk);
        if (n <= 0)
            break;
        m_bytesReceived += n;
        parsed(m_parser.Feed(QByteArrayView(m_readBuf.constData(), n)));
    }
}

void THttpCli::parsed(THttpCliReplyParser::TResult result)
{
    m_statusCode = m_parser.StatusCode();
    m_reasonPhrase = m_parser.ReasonPhrase();
    switch (result) {
    case THttpCliReplyParser::Failed:
        qCDebug(lcHttp) << objectName() << "reply refused:" << m_parser.Error();
        failRequest(404, m_parser.Error().toUtf8());
        break;
    case THttpCliReplyParser::Complete:
        if (m_state == httpWaitingBody)
            m_state = httpBodyReceived;
        endOfReply(false);
        break;
    case THttpCliReplyParser::Incomplete:
        if (m_parser.InBody())
            m_state = httpWaitingBody;
        break;
    }
}

void THttpCli::onSocketError()
{
    if (!m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_state == httpWaitingProxyConnect)
        readProxyReply();  // a refusal may have come with the close
    if (!m_socket)
        return;
    if (m_state == httpDnsLookupDone || m_state == httpWaitingProxyConnect || inHandshake()) {
        failRequest(404, connectFailure());
        return;
    }
    // A server that ends TLS properly sends a close notice before closing; Qt reports it as
    // a closed connection with this text of its own, and an end without the notice as
    // the plain socket's closed connection. Nothing else tells the two apart. Should the
    // text ever differ, every such end counts as cut off: a body that only the end of the
    // connection delimits is then reported truncated, never whole by mistake.
    // Through a variable, so that the program's own catalogue does not take in Qt's text.
    static const char* const tlsClosedText = "The TLS/SSL connection has been closed";
    if (m_tls && error == QAbstractSocket::RemoteHostClosedError
        && m_socket->errorString() == QSslSocket::tr(tlsClosedText))
        m_tlsClosed = true;
    // After the connection was made any error ends the reply with what arrived.
    connectionLost();
}

void THttpCli::onDisconnected()
{
    connectionLost();
}

void THttpCli::connectionLost()
{
    if (!m_socket)
        return;
    if (m_state == httpWaitingHeader || m_state == httpWaitingBody) {
        onReadyRead();  // what the socket still holds belongs to the reply
        if (m_state != httpWaitingHeader && m_state != httpWaitingBody)
            return;
        // Over TLS a connection cut without the close notice may have been cut by anyone
        // on the way, so it does not delimit a body.
        const bool cut = m_tls && !m_tlsClosed;
        dropSocket();
        const THttpCliReplyParser::TResult result = m_parser.PeerClosed();
        m_statusCode = m_parser.StatusCode();
        m_reasonPhrase = m_parser.ReasonPhrase();
        if (result == THttpCliReplyParser::Failed) {
            failRequest(404, m_parser.Error().toUtf8());
        } else if (m_parser.BytesFed() == 0) {
            // Not a byte of a reply: the request may never have been handled, so this is
            // a failure, and a caller keeps what it meant to post.
            failRequest(404, "Connection closed before a reply was received");
        } else {
            m_tlsCut = cut && !m_parser.Truncated();
            endOfReply(true);
        }
    } else if (m_state == httpWaitingProxyConnect) {
        readProxyReply();
        if (m_state == httpWaitingProxyConnect)
            failRequest(404, connectFailure());
    } else if (m_state == httpDnsLookupDone || m_state == httpConnected) {
        failRequest(404, connectFailure());
    } else {
        dropSocket();  // a kept connection that the server closed
    }
}

// Which replies are followed. Only 307 and 308 keep the method and body; a 301, 302 or
// 303 would turn a POST into a GET, and a GET answered with a page would pass for a
// stored post, so a POST ends with that status instead. Other statuses (a 201 with
// the new resource's Location among them) are never followed.
bool THttpCli::followsRelocation() const
{
    if (!m_parser.Relocate())
        return false;
    const int status = m_parser.StatusCode();
    if (status == 307 || status == 308)
        return true;
    return (status == 301 || status == 302 || status == 303) && m_work.method != httpPOST;
}

// The connection ends with this reply when the server says so, or when the request
// itself said "Connection: close": the server may close it at any moment after.
bool THttpCli::connectionEnds() const
{
    if (m_parser.CloseAfterReply())
        return true;
    for (const QByteArray& token : m_work.connection.split(',')) {
        if (token.trimmed().toLower() == "close")
            return true;
    }
    return false;
}

void THttpCli::endOfReply(bool closed)
{
    if (followsRelocation()) {
        relocate();
        return;
    }
    if (closed || connectionEnds() || !m_bodyDone)
        dropSocket();
    becomeReady();
}

void THttpCli::relocate()
{
    if (++m_locationChangeCurCount > m_work.maxRelocations) {
        // Not followed: the request ends with the reply that carried the Location.
        if (connectionEnds() || !m_bodyDone)
            dropSocket();
        becomeReady();
        return;
    }
    QByteArray value = m_parser.LocationValue();
    TWork next = m_work;
    const QByteArray lower = value.left(8).toLower();
    if (value.startsWith('/')) {
        next.path = value;
    } else if (lower.startsWith("http://") || lower.startsWith("https://")) {
        const TUrlParts u = splitUrl(value);
        next.scheme = u.scheme;
        next.host = u.host;
        next.port = u.port;
        next.path = u.path;
    } else {
        QByteArray base = next.path;
        const qsizetype query = base.indexOf('?');
        if (query >= 0)
            base.truncate(query);
        const qsizetype cut = std::max(base.lastIndexOf('/'), base.lastIndexOf(':'));
        next.path = base.left(cut + 1) + value;
    }
    const qsizetype fragment = next.path.indexOf('#');
    if (fragment >= 0)
        next.path.truncate(fragment);
    if (next.path.isEmpty())
        next.path = "/";
    // Each place goes its own route: a proxy may serve one scheme or host and not another.
    next.proxy = ProxyFor(next.network, next.scheme, next.host);
    if (next.method == httpPOST) {
        // 307/308: the same POST with the same body goes to the new place.
        m_body.seek(0);
    } else {
        next.method = httpGET;
        next.withBody = false;
    }

    const bool reuse = connectedTo(next) && !connectionEnds() && m_bodyDone;
    m_work = next;
    m_location = next.scheme + "://" + authority(next.scheme, next.host, next.port) + next.path;
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_parser.StartReply(m_work.requestVer == "1.0", m_work.followRelocation, false);
    qCDebug(lcHttp) << objectName() << "relocated to" << m_location;
    if (reuse)
        sendRequest();
    else
        startConnection();
}

void THttpCli::failRequest(int code, const QByteArray& reason)
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    dropSocket();
    m_ownFailure = true;
    m_statusCode = code;
    m_reasonPhrase = reason;
    becomeReady();
}

void THttpCli::abortRequest()
{
    m_state = httpAborting;
    failRequest(404, "Connection aborted on request");
}

void THttpCli::onWake()
{
    // The wait wakes at least once a second; a closing application ends the request.
    if (m_state != httpReady && QCoreApplication::closingDown())
        abortRequest();
}

void THttpCli::becomeReady()
{
    m_state = httpReady;
    if (m_basic == basicSent && m_statusCode != 401 && m_statusCode != 407)
        m_basic = basicDone;
    m_timeoutTimer.stop();
    m_wakeTimer.stop();
    if (m_waitLoop)
        m_waitLoop->quit();
}

void THttpCli::dropSocket()
{
    m_bodyDone = true;
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_tls = nullptr;
    m_connProxy.reset();
    m_connScheme.clear();
    m_connHost.clear();
    m_connPort.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
