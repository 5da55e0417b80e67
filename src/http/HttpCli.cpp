#include "http/HttpCli.h"

#include "http/ConnectionPlan.h"
#include "http/SocketErrors.h"
#include "http/TlsTransport.h"
#include "http/HostAddresses.h"
#include "http/RequestHead.h"
#include "http/UrlText.h"
#include "text/Logging.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr qint64 kBodyBlock = 8192;
constexpr qint64 kReadChunk = 64 * 1024;
// Reads of one wake-up before other events get their turn.
constexpr int kReadsPerWake = 16;
// A connection not made by then fails as timed out, whatever the request's own limit.
constexpr int kConnectTimeoutMs = 30000;

// The URL's parts as a request works with them: the scheme's port where none is written.
struct TUrlParts {
    QByteArray scheme, user, password, host, port, path;
    bool hasUserInfo = false;
};

TUrlParts splitUrl(const QByteArray& url)
{
    const THttpUrl u = SplitUrl(url);
    const QByteArray port = u.Port.isEmpty() ? (u.Scheme == "https" ? QByteArray("443") : QByteArray("80")) : u.Port;
    return {u.Scheme, u.User, u.Password, u.Host, port, u.Target, u.HasUserInfo};
}


// Why the CA file cannot serve, or nothing when it can (or none is given).
QString caFileProblem(const QString& caFile)
{
    if (caFile.isEmpty())
        return QString();
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly))
        return QCoreApplication::translate("THttpCli", "CA 証明書ファイルを読めません: %1 (%2)").arg(caFile, file.errorString());
    QString unusable;
    const int certificates = PemCertificateCount(file.readAll(), &unusable);
    if (certificates < 0)
        return unusable;
    if (certificates == 0)
        return QCoreApplication::translate("THttpCli", "CA 証明書ファイルに証明書がありません: %1").arg(caFile);
    return QString();
}

} // namespace

// A name look-up runs on a thread of its own, so the loop keeps running while the resolver
// waits. The client may be gone by the time it ends: it clears owner under the lock.
struct THttpCli::TLookup {
    std::mutex mutex;
    THttpCli* owner = nullptr;
};

THttpCli::THttpCli(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("HttpCli1"));
    m_timeoutTimer.setSingleShot(true);
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcHttp) << objectName() << "request timed out";
        const QByteArray timedOut = SocketErrors::Describe(SocketErrors::ConnectionTimedOut);
        failRequest(404, inHandshake() ? tlsFailure(QString::fromLatin1(timedOut)) : timedOut,
                    inHandshake() ? THttpCliFailure::Tls
                    : m_state == httpWaitingHeader || m_state == httpWaitingBody ? THttpCliFailure::Transfer
                    : m_state == httpWaitingProxyConnect ? THttpCliFailure::Proxy : THttpCliFailure::Connection);
    });
    m_wakeTimer.setInterval(1000);
    connect(&m_wakeTimer, &QTimer::timeout, this, &THttpCli::onWake);
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == httpDnsLookupDone)
            connectNext(connectFailure(SocketErrors::ConnectionTimedOut));
    });
    m_parser.SetBodySink([this](QByteArrayView part) {
        // Only the reply the request ends with: a relocation that is followed is not it.
        if (m_work.reply && !(followsRelocation() && m_locationChangeCurCount < m_work.maxRelocations))
            m_work.reply->write(part.data(), part.size());
    });
}

THttpCli::~THttpCli()
{
    forgetLookup();
    dropSocket();
}

void THttpCli::forgetLookup()
{
    const std::shared_ptr<TLookup> lookup = std::move(m_lookup);
    if (!lookup)
        return;
    std::lock_guard lock(lookup->mutex);
    lookup->owner = nullptr;
}

bool THttpCli::Start(const THttpCliRequest& request, THttpCliResult* refusal)
{
    THttpCliResult refused;
    refused.Failed = true;
    refused.NoReply = true;
    refused.Why = THttpCliFailure::Refused;
    if (m_running) {
        // The running request keeps its state; only this call is refused.
        refused.ErrorCode = 1;
        refused.ErrorMessage = QStringLiteral("HTTP component %1 is busy").arg(objectName());
        refused.StatusCode = m_statusCode;
        refused.ReasonPhrase = m_reasonPhrase;
    } else if (request.RequestVer != "1.0" && request.RequestVer != "1.1") {
        refused.ErrorCode = 5;
        refused.ErrorMessage = QStringLiteral("Insupported HTTP version");
    } else if (!QCoreApplication::instance() || QCoreApplication::closingDown()) {
        // No loop would ever carry the request or its report.
        refused.Why = THttpCliFailure::Connection;
        refused.ErrorCode = 404;
        refused.ErrorMessage = QStringLiteral("Connection aborted on request");
        refused.StatusCode = 404;
        refused.ReasonPhrase = "Connection aborted on request";
    } else {
        refused.Failed = false;
    }
    if (refused.Failed) {
        if (refusal)
            *refusal = refused;
        return false;
    }

    m_running = true;
    m_ended.reset();
    m_locationChangeCurCount = 0;
    m_ownFailure = false;
    m_failure = THttpCliFailure::None;
    m_proxyReason.clear();
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
    w.method = request.Method == httpGET || request.Method == httpPUT ? request.Method : httpPOST;
    const TUrlParts url = splitUrl(request.URL);
    w.scheme = url.scheme;
    w.host = url.host;
    w.port = url.port;
    w.path = url.path;
    const TCredentials credentials
        = ChooseCredentials(url.hasUserInfo, url.user, url.password, request.Username, request.Password);
    w.user = credentials.User;
    w.password = credentials.Password;
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
    w.headers = request.Headers;
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

    // Either may end the request at once (an address that cannot be reached, a scheme
    // not spoken): becomeReady then leaves the report to the loop.
    if (connectedTo(m_work) && idleConnectionUsable())
        sendRequest();
    else
        startConnection();
    return true;
}

// How the request ended, taken when it does: a next request may change every field
// before the report reaches Finished.
THttpCliResult THttpCli::endedResult()
{
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
    if (m_ownFailure && m_failure == THttpCliFailure::Proxy && m_statusCode >= 100)
        result.ReasonPhrase = m_proxyReason;  // the proxy's own words; the error text says more
    // Only a proxy answers 407: through a proxy that status is its own, not the service's.
    result.Why = m_ownFailure ? m_failure
               : m_work.proxy && m_statusCode == 407 ? THttpCliFailure::Proxy : THttpCliFailure::None;
    // A proxy's 407 to CONNECT is the client's own failure: the service never saw the post.
    if (m_ownFailure || (m_statusCode >= 400 && m_statusCode != 401 && m_statusCode != 407)) {
        result.Failed = true;
        result.ErrorCode = static_cast<quint16>(m_statusCode);
        result.ErrorMessage = QString::fromUtf8(m_reasonPhrase);
    }
    return result;
}

void THttpCli::report()
{
    if (!m_ended)
        return;
    const THttpCliResult result = *m_ended;
    m_ended.reset();
    ++m_reportId;
    m_running = false;
    Q_EMIT Finished(result);
}

bool THttpCli::connectedTo(const TWork& w) const
{
    return m_socket != SocketPlatform::InvalidHandle && m_connected && m_steps
        && m_steps->Step() == TConnectSteps::Ready
        && m_steps->Plan().SameRoute(PlanConnection(w.scheme, w.host, w.port, w.network));
}

// Whether a kept connection can carry the next request. The server may have closed it
// while no event loop ran to notice; under TLS, records that carry no data (a session
// ticket) are taken on the way.
bool THttpCli::idleConnectionUsable()
{
    if (!m_tls)
        return !SocketPlatform::IdleConnectionUnusable(m_socket);
    char byte;
    qint64 n = 0;
    const TTlsSession::TStatus status = m_tls->Read(&byte, 1, &n);
    return status == TTlsSession::WantRead || status == TTlsSession::WantWrite;
}

void THttpCli::checkIdleConnection()
{
    if (!idleConnectionUsable())
        dropSocket();
}

void THttpCli::startConnection()
{
    dropSocket();
    m_parser.ClearBuffer();
    m_state = httpNotConnected;
    m_state = httpDnsLookup;
    const int generation = ++m_generation;
    m_steps.emplace(PlanConnection(m_work.scheme, m_work.host, m_work.port, m_work.network));
    const QByteArray host = m_steps->Plan().DialHost();
    SocketPlatform::Address address;
    if (SocketPlatform::ParseAddress(host, &address)) {
        lookupDone(generation, {address});
        return;
    }
    if (!host.isEmpty() && !IsReservedInvalidName(host)) {
        forgetLookup();
        auto lookup = std::make_shared<TLookup>();
        lookup->owner = this;
        try {
            std::thread([lookup, host, generation] {
                const QList<SocketPlatform::Address> found = ResolveHost(host);
                std::lock_guard lock(lookup->mutex);
                if (THttpCli* owner = lookup->owner) {
                    QMetaObject::invokeMethod(owner, [owner, generation, found] { owner->lookupDone(generation, found); },
                                              Qt::QueuedConnection);
                }
            }).detach();
            m_lookup = lookup;
            return;
        } catch (const std::system_error&) {
            // No thread to be had: the name counts as unresolved.
        }
    }
    QMetaObject::invokeMethod(this, [this, generation] { lookupDone(generation, {}); }, Qt::QueuedConnection);
}

void THttpCli::lookupDone(int generation, const QList<SocketPlatform::Address>& addresses)
{
    if (generation != m_generation || m_state != httpDnsLookup)
        return;
    forgetLookup();
    if (m_steps->Resolved(addresses) == TConnectSteps::Failed) {
        failRequest(404, "can't resolve hostname to IP address", THttpCliFailure::Connection);
        return;
    }
    m_state = httpDnsLookupDone;
    const bool https = m_work.scheme == "https";
    if (m_work.scheme != "http" && !https) {
        failRequest(501, "Protocol \"" + m_work.scheme + "\" not implemented", THttpCliFailure::Connection);
        return;
    }
    if (m_steps->Plan().PortNumber == 0) {
        failRequest(404, "can't connect: " + SocketErrors::Describe(10022), THttpCliFailure::Connection);
        return;
    }

    if (https) {
        const QString caProblem = caFileProblem(m_work.network.CaFile);
        if (!caProblem.isEmpty()) {
            failRequest(404, TlsFailureText(m_work.host, TCertificateProblem::None, caProblem).toUtf8(), THttpCliFailure::Tls);
            return;
        }
        m_tlsProblem = TCertificateProblem::None;
        m_tlsDetail.clear();
        m_tlsClosed = false;
    }

    // A local address decides the socket's family; an IPv4 peer is then reached through
    // its mapped address.
    m_local.reset();
    if (!m_work.localAddr.isEmpty() && m_work.localAddr != "0.0.0.0") {
        SocketPlatform::Address a;
        if (!SocketPlatform::ParseAddress(m_work.localAddr, &a)) {
            failRequest(404, "can't connect: " + SocketErrors::Describe(10049), THttpCliFailure::Connection);
            return;
        }
        m_local = a;
    }
    connectNext({});
}

// Tries the next address the name gave; failure: why the one before could not be
// reached. When none is left, the request fails with the last reason.
void THttpCli::connectNext(const QByteArray& failure)
{
    dropSocket();
    const std::optional<SocketPlatform::Address> next = m_steps->NextAddress();
    if (!next) {
        failRequest(404, failure, THttpCliFailure::Connection);
        return;
    }
    const SocketPlatform::Address& address = *next;
    const quint16 port = m_steps->Plan().DialPort();
    int error = 0;
    const SocketPlatform::Handle socket = SocketPlatform::OpenStream(m_local ? *m_local : address, false, &error);
    if (socket == SocketPlatform::InvalidHandle) {
        const QByteArray why = SocketErrors::Describe(SocketErrors::SocketNumber(error));
        connectNext(m_local ? "can't connect: " + why : why);
        return;
    }
    m_socket = socket;
    m_https = m_work.scheme == "https";
    ++m_connectionId;
    if (m_local && (error = SocketPlatform::Bind(socket, *m_local)) != 0) {
        connectNext("can't connect: " + SocketErrors::Describe(SocketErrors::BindNumber(error)));
        return;
    }
    m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &THttpCli::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &THttpCli::onWritable);
    watch(false, false);
    error = SocketPlatform::StartConnect(socket, address, port);
    if (error == SocketPlatform::InProgress) {
        m_connectTimer.start(kConnectTimeoutMs);
        watch(false, true);
    } else if (error != 0) {
        connectNext(connectFailure(SocketErrors::ConnectNumber(error)));
    } else {
        onConnected();
    }
}

void THttpCli::watch(bool read, bool write)
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(read);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(write);
}

void THttpCli::onReadable()
{
    switch (m_state) {
    case httpReady:
        checkIdleConnection();
        break;
    case httpWaitingProxyConnect:
        readProxyReply();
        break;
    case httpConnected:
        if (m_tls)
            runHandshake();
        break;
    case httpWaitingHeader:
    case httpWaitingBody: {
        const int id = m_connectionId;
        if (readReply(false) == ReadEnded) {
            connectionLost();
        } else if (id == m_connectionId && (m_state == httpWaitingHeader || m_state == httpWaitingBody)
                   && m_tls && pendingOut() > 0) {
            // A write that waited for the peer's answer may go on now.
            if (flushOut())
                sendBody();
        }
        break;
    }
    default:
        break;
    }
}

void THttpCli::onWritable()
{
    switch (m_state) {
    case httpDnsLookupDone: {
        m_connectTimer.stop();
        const int error = SocketPlatform::ConnectOutcome(m_socket);
        if (error != 0)
            connectNext(connectFailure(SocketErrors::ConnectNumber(error)));
        else
            onConnected();
        break;
    }
    case httpConnected:
        if (m_tls)
            runHandshake();
        break;
    case httpWaitingProxyConnect:
        flushOut();
        break;
    case httpWaitingHeader:
    case httpWaitingBody: {
        const int id = m_connectionId;
        if (m_readWantsWrite) {
            m_readWantsWrite = false;
            if (readReply(false) == ReadEnded) {
                connectionLost();
                break;
            }
        }
        if (id == m_connectionId && (m_state == httpWaitingHeader || m_state == httpWaitingBody) && flushOut())
            sendBody();
        break;
    }
    case httpReady:
        // The reply came before the whole body went out: the rest still goes, ahead of
        // any next request on this connection.
        flushOut();
        break;
    default:
        watch(true, false);
        break;
    }
}

void THttpCli::onConnected()
{
    if (m_state != httpDnsLookupDone)
        return;
    m_state = httpConnected;
    m_connected = true;
    // The body goes out in blocks smaller than a segment; without this each one would
    // wait for the acknowledgement of the one before.
    SocketPlatform::SetNoDelay(m_socket);
    watch(true, false);
    switch (m_steps->Connected()) {
    case TConnectSteps::Tunnel:
        sendConnect();
        break;
    case TConnectSteps::Tls:
        startTls();
        break;
    default:
        sendRequest();
        break;
    }
}

// https through a proxy: a tunnel to the server, in which TLS then runs end to end. The
// proxy's credentials go in this head; the server's only inside the tunnel.
void THttpCli::sendConnect()
{
    const QByteArray head = m_steps->TunnelRequest();
    m_state = httpWaitingProxyConnect;
    m_parser.ClearBuffer();
    m_parser.StartHead();
    m_out = head;
    m_outPos = 0;
    flushOut();
}

// The proxy's answer, read by the reply parser as a head alone. Bytes are looked at before
// they are taken, so nothing after its head is taken from what will be the TLS stream.
void THttpCli::readProxyReply()
{
    const int id = m_connectionId;
    if (m_readBuf.size() != kReadChunk)
        m_readBuf.resize(kReadChunk);
    int error = 0;
    const qint64 n = SocketPlatform::Peek(m_socket, m_readBuf.data(), kReadChunk, &error);
    if (n == SocketPlatform::WouldBlock)
        return;
    if (n <= 0) {
        // Closed or reset before the head was complete.
        failRequest(404, connectFailure(10054), THttpCliFailure::Proxy);
        return;
    }
    const THttpReplyParser::TResult result = m_parser.Feed(QByteArrayView(m_readBuf.constData(), n));
    // Of what was looked at, all but what follows the head is now taken.
    const qint64 taken = result == THttpReplyParser::Complete ? n - m_parser.Buffered() : n;
    m_parser.ClearBuffer();
    int ignored = 0;
    SocketPlatform::Receive(m_socket, m_readBuf.data(), taken, &ignored);
    m_bytesReceived += taken;
    if (result == THttpReplyParser::Failed) {
        failRequest(404, "Proxy reply: " + m_parser.Error().toUtf8(), THttpCliFailure::Proxy);
        return;
    }
    if (result == THttpReplyParser::Incomplete)
        return;
    const TTunnelAnswer answer = m_steps->Answered(m_parser);
    if (answer.Kind == TTunnelAnswer::Invalid) {
        failRequest(404, "Proxy sent an invalid reply to CONNECT", THttpCliFailure::Proxy);
        return;
    }
    if (answer.Kind == TTunnelAnswer::Refused) {
        m_proxyReason = answer.Reason;
        failRequest(answer.Code, answer.RefusalText(), THttpCliFailure::Proxy);
        return;
    }
    if (id != m_connectionId)
        return;
    m_state = httpConnected;
    startTls();
}

void THttpCli::startTls()
{
    QString problem;
    m_tls = StartTlsSession(m_socket, m_steps->Plan().TlsName(), m_steps->Plan().CaFile, &problem);
    if (!m_tls) {
        failRequest(404, TlsFailureText(m_work.host, TCertificateProblem::None, problem).toUtf8(), THttpCliFailure::Tls);
        return;
    }
    runHandshake();
}

void THttpCli::runHandshake()
{
    switch (m_tls->Handshake()) {
    case TTlsSession::Ok:
        watch(true, false);
        m_steps->Encrypted();
        onEncrypted();
        break;
    case TTlsSession::WantRead:
        watch(true, false);
        break;
    case TTlsSession::WantWrite:
        watch(false, true);
        break;
    default:
        // No error is ever ignored: the request ends here, with the reason kept.
        m_tlsProblem = m_tls->Problem();
        m_tlsDetail = m_tls->Detail();
        failRequest(404, tlsFailure(m_tlsDetail), THttpCliFailure::Tls);
        break;
    }
}

void THttpCli::onEncrypted()
{
    if (m_state == httpConnected)
        sendRequest();
}

bool THttpCli::inHandshake() const
{
    return m_https && m_state == httpConnected;
}

QByteArray THttpCli::tlsFailure(const QString& detail) const
{
    const bool certificate = m_tlsProblem != TCertificateProblem::None;
    return TlsFailureText(m_work.host, m_tlsProblem, certificate ? m_tlsDetail : detail).toUtf8();
}

// Why the connection could not be made (or the tunnel set up over it).
QByteArray THttpCli::connectFailure(int number) const
{
    return SocketErrors::Describe(number);
}

QByteArray THttpCli::composeHeader() const
{
    const bool withBody = m_work.method == httpPOST || m_work.method == httpPUT;
    const QByteArray method = m_work.method == httpPOST ? "POST" : m_work.method == httpPUT ? "PUT"
                            : m_work.method == httpHEAD ? "HEAD" : "GET";
    const QByteArray authority = Authority(m_work.scheme, m_work.host, m_work.port);
    TRequestHead head(method + ' ' + RequestTarget(m_work.proxy, m_work.scheme, authority, m_work.path) + " HTTP/"
                      + m_work.requestVer);
    head.Add("From", m_work.sender);
    head.Add("Accept", m_work.accept);
    head.Add("Referer", m_work.reference);
    head.Add("Connection", m_work.connection);
    head.Add("Accept-Language", m_work.acceptLanguage);
    if (withBody)
        head.Add("Content-Type", m_work.contentType);
    head.Add("User-Agent", m_work.agent);
    head.Add("Host", authority);
    if (m_work.noCache)
        head.Add("Pragma", "no-cache");
    if (withBody) {
        const qint64 length = m_work.withBody ? m_body.size() - m_body.pos() : 0;
        head.Add("Content-Length", QByteArray::number(std::max<qint64>(0, length)));
    }
    if (m_work.modifiedSince.isValid()) {
        head.Add("If-Modified-Since",
                 QLocale::c().toString(m_work.modifiedSince.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss").toLatin1() + " GMT");
    }
    // Credentials never follow a relocation to another scheme, host or port.
    const bool sameOrigin = m_work.scheme == m_origin.scheme && m_work.host.toLower() == m_origin.host.toLower()
                         && m_work.port == m_origin.port;
    if (m_basic != basicNone && sameOrigin)
        head.Add("Authorization", BasicCredentials(m_work.user, m_work.password));
    head.Add("Proxy-Authorization", ProxyCredentials(m_work.proxy, m_work.scheme));
    head.Add("Cookie", m_work.cookie);
    for (const auto& [name, value] : m_work.headers) {
        if (sameOrigin || qstricmp(name.constData(), "Authorization") != 0)
            head.Add(name.constData(), value);
    }
    return head.Text();
}

void THttpCli::sendRequest()
{
    m_state = httpConnected;
    m_state = httpWaitingHeader;
    m_tlsCut = false;
    m_parser.StartReply(m_work.requestVer == "1.0", m_work.followRelocation, m_work.method == httpPUT);
    const QByteArray header = composeHeader();
    m_bodyDone = !(m_work.method == httpPOST || m_work.method == httpPUT) || !m_work.withBody;
    const int id = m_connectionId;
    writeOut(header.constData(), header.size(), !m_bodyDone);
    if (id == m_connectionId && m_state == httpWaitingHeader)
        sendBody();
}

// While nothing is queued the kernel takes the bytes directly; the rest waits in m_out
// until the socket can take it. Under TLS bytes are gathered up to a block before they
// are encrypted, so a head and a small body leave together.
void THttpCli::writeOut(const char* data, qint64 size, bool more)
{
    m_bytesSent += size;
    if (m_sendBroken)
        return;
    qint64 done = 0;
    if (!m_tls && pendingOut() == 0) {
        int error = 0;
        done = SocketPlatform::SendNow(m_socket, data, size, more, &error);
        if (done == SocketPlatform::Failed) {
            m_heldBack = false;
            sendFailed();
            return;
        }
        done = std::max<qint64>(done, 0);
    }
    m_heldBack = more && done > 0;
    if (done < size) {
        m_out.append(data + done, size - done);
        if (!m_tls || !more || pendingOut() >= kBodyBlock)
            flushOut();
    }
}

// Hands queued bytes to the socket (through TLS where it is spoken): true once all are out.
bool THttpCli::flushOut()
{
    while (m_outPos < m_out.size() && !m_sendBroken) {
        const char* data = m_out.constData() + m_outPos;
        const qint64 size = m_out.size() - m_outPos;
        qint64 n = 0;
        if (m_tls) {
            switch (m_tls->Write(data, size, &n)) {
            case TTlsSession::Ok:
                break;
            case TTlsSession::WantWrite:
                watch(true, true);
                return false;
            case TTlsSession::WantRead:
                watch(true, false);
                return false;
            default:
                sendFailed();
                return false;
            }
        } else {
            int error = 0;
            n = SocketPlatform::SendNow(m_socket, data, size, false, &error);
            if (n == SocketPlatform::WouldBlock) {
                watch(true, true);
                return false;
            }
            if (n < 0) {
                sendFailed();
                return false;
            }
        }
        m_outPos += n;
    }
    if (m_sendBroken)
        return false;
    m_out.truncate(0);
    m_outPos = 0;
    watch(true, m_readWantsWrite);
    return true;
}

// The connection broke while sending: what the server answered before may still be
// there to read, so the loss is handled from the loop, as a closed connection.
void THttpCli::sendFailed()
{
    m_sendBroken = true;
    watch(true, false);
    const int id = m_connectionId;
    QMetaObject::invokeMethod(this, [this, id] {
        if (id == m_connectionId)
            connectionLost();
    }, Qt::QueuedConnection);
}

bool THttpCli::mayQueueMore() const
{
    if (m_sendBroken)
        return false;
    return m_tls ? pendingOut() < kBodyBlock : pendingOut() == 0;
}

// One block of at most 8192 bytes at a time, the next once the socket has passed the
// previous one on, so a large body never sits in memory as a whole.
void THttpCli::sendBody()
{
    if (m_inSendBody)
        return;
    m_inSendBody = true;
    char block[kBodyBlock];
    while (!m_bodyDone && m_socket != SocketPlatform::InvalidHandle && mayQueueMore()) {
        const qint64 n = m_work.withBody ? m_body.read(block, sizeof block) : 0;
        if (n <= 0) {
            m_bodyDone = true;
            if (m_heldBack)
                SocketPlatform::SetNoDelay(m_socket);
            if (pendingOut() > 0)
                flushOut();
            break;
        }
        writeOut(block, n, !m_body.atEnd());
    }
    m_inSendBody = false;
}

// Feeds the parser what has arrived, a few blocks per wake-up (all of it when draining).
THttpCli::TRead THttpCli::readReply(bool drain)
{
    const int id = m_connectionId;
    if (m_readBuf.size() != kReadChunk)
        m_readBuf.resize(kReadChunk);
    for (int round = 0; drain || round < kReadsPerWake; ++round) {
        if (id != m_connectionId || (m_state != httpWaitingHeader && m_state != httpWaitingBody))
            return ReadGone;
        qint64 n = 0;
        if (m_tls) {
            switch (m_tls->Read(m_readBuf.data(), kReadChunk, &n)) {
            case TTlsSession::Ok:
                break;
            case TTlsSession::WantRead:
                return ReadWaiting;
            case TTlsSession::WantWrite:
                m_readWantsWrite = true;
                watch(true, true);
                return ReadWaiting;
            case TTlsSession::Closed:
                m_tlsClosed = true;
                return ReadEnded;
            default:
                return ReadEnded;
            }
        } else {
            int error = 0;
            n = SocketPlatform::Receive(m_socket, m_readBuf.data(), kReadChunk, &error);
            if (n == SocketPlatform::WouldBlock)
                return ReadWaiting;
            if (n <= 0)
                return ReadEnded;
        }
        m_bytesReceived += n;
        parsed(m_parser.Feed(QByteArrayView(m_readBuf.constData(), n)));
    }
    // More may be there, under TLS already decrypted where no notifier sees it: the rest
    // once other events have had their turn.
    QMetaObject::invokeMethod(this, [this, id] {
        if (id == m_connectionId)
            onReadable();
    }, Qt::QueuedConnection);
    return ReadWaiting;
}

void THttpCli::parsed(THttpReplyParser::TResult result)
{
    m_statusCode = m_parser.StatusCode();
    m_reasonPhrase = m_parser.ReasonPhrase();
    switch (result) {
    case THttpReplyParser::Failed:
        qCDebug(lcHttp) << objectName() << "reply refused:" << m_parser.Error();
        failRequest(404, m_parser.Error().toUtf8(), THttpCliFailure::Transfer);
        break;
    case THttpReplyParser::Complete:
        if (m_state == httpWaitingBody)
            m_state = httpBodyReceived;
        endOfReply(false);
        break;
    case THttpReplyParser::Incomplete:
        if (m_parser.InBody())
            m_state = httpWaitingBody;
        break;
    }
}

void THttpCli::connectionLost()
{
    if (m_socket == SocketPlatform::InvalidHandle)
        return;
    if (m_state == httpWaitingHeader || m_state == httpWaitingBody) {
        readReply(true);  // what the socket still holds belongs to the reply
        if (m_state != httpWaitingHeader && m_state != httpWaitingBody)
            return;
        // Over TLS a connection cut without the close notice may have been cut by anyone
        // on the way, so it does not delimit a body.
        const bool cut = m_https && !m_tlsClosed;
        dropSocket();
        const THttpReplyParser::TResult result = m_parser.PeerClosed();
        m_statusCode = m_parser.StatusCode();
        m_reasonPhrase = m_parser.ReasonPhrase();
        if (result == THttpReplyParser::Failed) {
            failRequest(404, m_parser.Error().toUtf8(), THttpCliFailure::Transfer);
        } else if (m_parser.BytesFed() == 0) {
            // Not a byte of a reply: the request may never have been handled, so this is
            // a failure, and a caller keeps what it meant to post.
            failRequest(404, "Connection closed before a reply was received", THttpCliFailure::Transfer);
        } else {
            m_tlsCut = cut && !m_parser.Truncated();
            endOfReply(true);
        }
    } else if (m_state == httpWaitingProxyConnect || m_state == httpDnsLookupDone || m_state == httpConnected) {
        failRequest(404, connectFailure(10054), m_state == httpWaitingProxyConnect ? THttpCliFailure::Proxy
                                              : inHandshake() ? THttpCliFailure::Tls : THttpCliFailure::Connection);
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
    m_location = next.scheme + "://" + Authority(next.scheme, next.host, next.port) + next.path;
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_parser.StartReply(m_work.requestVer == "1.0", m_work.followRelocation, false);
    qCDebug(lcHttp) << objectName() << "relocated to" << m_location;
    if (reuse)
        sendRequest();
    else
        startConnection();
}

void THttpCli::failRequest(int code, const QByteArray& reason, THttpCliFailure why)
{
    m_failure = why;
    ++m_generation;
    forgetLookup();
    dropSocket();
    m_ownFailure = true;
    m_statusCode = code;
    m_reasonPhrase = reason;
    becomeReady();
}

void THttpCli::Abort()
{
    if (!m_running)
        return;
    if (m_state != httpReady)
        abortRequest();
    report();
}

void THttpCli::abortRequest()
{
    m_state = httpAborting;
    failRequest(404, "Connection aborted on request", THttpCliFailure::Connection);
}

void THttpCli::onWake()
{
    // Once a second while a request runs: a closing application ends it.
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
    if (!m_running || m_ended)
        return;
    m_ended = endedResult();
    // Always from the loop, also when the request ended inside Start.
    const int id = ++m_reportId;
    QMetaObject::invokeMethod(this, [this, id] {
        if (id == m_reportId)
            report();
    }, Qt::QueuedConnection);
}

void THttpCli::dropSocket()
{
    m_bodyDone = true;
    if (m_socket == SocketPlatform::InvalidHandle)
        return;
    ++m_connectionId;
    for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->disconnect(this);
            notifier->deleteLater();  // this may run from its own signal
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_tls.reset();  // no close notice: the connection is dropped, not ended politely
    SocketPlatform::Close(m_socket);
    m_socket = SocketPlatform::InvalidHandle;
    m_connected = false;
    m_https = false;
    m_out.clear();
    m_outPos = 0;
    m_sendBroken = false;
    m_readWantsWrite = false;
    m_connectTimer.stop();
}
