#include "http/HttpCli.h"

#include "http/HttpCliDirectSend.h"
#include "http/HttpCliSocketErrors.h"
#include "http/UrlText.h"
#include "text/Logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTcpSocket>

#include <algorithm>

namespace {

constexpr qint64 kBodyBlock = 8192;
constexpr qint64 kReadChunk = 64 * 1024;

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
    if (u.scheme.isEmpty())
        u.scheme = "http";
    if (u.port.isEmpty())
        u.port = "80";
    if (u.path.isEmpty())
        u.path = "/";
    return u;
}

QByteArray hostForUrl(const QByteArray& host)
{
    return host.contains(':') ? "[" + host + "]" : host;
}

} // namespace

THttpCli::THttpCli(QObject* parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("HttpCli1"));
    m_timeoutTimer.setSingleShot(true);
    connect(&m_timeoutTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcHttp) << objectName() << "request timed out";
        failRequest(404, HttpCliSocketErrors::Describe(HttpCliSocketErrors::ConnectionTimedOut));
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
    } else if (connectedTo(m_work) && !HttpCliIdleConnectionUnusable(m_socket->socketDescriptor())) {
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
    result.Truncated = m_parser.Truncated();
    result.NoReply = m_ownFailure;
    if (m_statusCode >= 400 && m_statusCode != 401 && m_statusCode != 407) {
        result.Failed = true;
        result.ErrorCode = static_cast<quint16>(m_statusCode);
        result.ErrorMessage = QString::fromUtf8(m_reasonPhrase);
    }
    return result;
}

bool THttpCli::connectedTo(const TWork& w) const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState
        && m_connScheme == w.scheme && m_connHost == w.host && m_connPort == w.port;
}

void THttpCli::startConnection()
{
    dropSocket();
    m_parser.ClearBuffer();
    m_state = httpNotConnected;
    m_state = httpDnsLookup;
    const int generation = ++m_generation;
    const QByteArray host = m_work.host;
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
    if (m_work.scheme != "http") {
        failRequest(501, "Protocol \"" + m_work.scheme + "\" not implemented");
        return;
    }
    bool portOk = false;
    const quint16 port = m_work.port.toUShort(&portOk);
    if (!portOk || port == 0) {
        failRequest(404, "can't connect: " + HttpCliSocketErrors::Describe(10022));
        return;
    }

    m_socket = new QTcpSocket(this);
    // Qt stops reading from the kernel when this is full, so a fast peer cannot make it grow.
    m_socket->setReadBufferSize(kReadChunk);
    // The body goes out in blocks smaller than a segment; without this each one would
    // wait for the acknowledgement of the one before.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::connected, this, &THttpCli::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &THttpCli::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &THttpCli::onBytesWritten);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &THttpCli::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &THttpCli::onDisconnected);
    if (!m_work.localAddr.isEmpty() && m_work.localAddr != "0.0.0.0") {
        const QHostAddress local(QString::fromLatin1(m_work.localAddr));
        if (local.isNull() || !m_socket->bind(local)) {
            const int n = local.isNull() ? 10049 : HttpCliSocketErrors::Number(m_socket->error());
            failRequest(404, "can't connect: " + HttpCliSocketErrors::Describe(n));
            return;
        }
    }
    m_connScheme = m_work.scheme;
    m_connHost = m_work.host;
    m_connPort = m_work.port;
    m_socket->connectToHost(QHostAddress(QString::fromLatin1(addresses.first())), port);
}

void THttpCli::onConnected()
{
    if (m_state != httpDnsLookupDone)
        return;
    m_state = httpConnected;
    sendRequest();
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
    lines.append(method + ' ' + m_work.path + " HTTP/" + m_work.requestVer);
    add("From: ", m_work.sender);
    add("Accept: ", m_work.accept);
    add("Referer: ", m_work.reference);
    add("Connection: ", m_work.connection);
    add("Accept-Language: ", m_work.acceptLanguage);
    if (withBody)
        add("Content-Type: ", m_work.contentType);
    add("User-Agent: ", m_work.agent);
    add("Host: ", m_work.port == "80" || m_work.port.isEmpty() ? hostForUrl(m_work.host)
                                                               : hostForUrl(m_work.host) + ':' + m_work.port);
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
    if (m_basic != basicNone && m_work.scheme.toLower() == m_origin.scheme.toLower() && m_work.host.toLower() == m_origin.host.toLower()
        && m_work.port == m_origin.port)
        add("Authorization: Basic ", (m_work.user + ':' + m_work.password).toBase64());
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
    m_parser.StartReply(m_work.requestVer == "1.0", m_work.followRelocation, m_work.method == httpPUT);
    const QByteArray header = composeHeader();
    m_bodyDone = !(m_work.method == httpPOST || m_work.method == httpPUT) || !m_work.withBody;
    QTcpSocket* socket = m_socket;
    writeOut(header.constData(), header.size(), !m_bodyDone);
    if (m_socket == socket && m_state == httpWaitingHeader)
        sendBody();
}

// While nothing is queued the kernel takes the bytes directly; the rest goes to the socket
// object, which queues it, reports errors and signals when it has gone out.
void THttpCli::writeOut(const char* data, qint64 size, bool more)
{
    qint64 done = 0;
    if (m_socket->bytesToWrite() == 0)
        done = HttpCliDirectSend(m_socket->socketDescriptor(), data, size, more);
    m_heldBack = more && done > 0;
    if (done < size) {
        m_socket->write(data + done, size - done);
        m_socket->flush();
    }
    m_bytesSent += size;
}

// One block of at most 8192 bytes at a time, the next once the socket has passed the
// previous one on, so a large body never sits in memory as a whole.
void THttpCli::sendBody()
{
    if (m_inSendBody)
        return;
    m_inSendBody = true;
    char block[kBodyBlock];
    while (!m_bodyDone && m_socket && m_socket->bytesToWrite() == 0) {
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
    if (m_state == httpDnsLookupDone) {
        failRequest(404, HttpCliSocketErrors::Describe(HttpCliSocketErrors::Number(error)));
        return;
    }
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
            endOfReply(true);
        }
    } else if (m_state == httpDnsLookupDone || m_state == httpConnected) {
        failRequest(404, HttpCliSocketErrors::Describe(HttpCliSocketErrors::Number(m_socket->error())));
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

void THttpCli::endOfReply(bool closed)
{
    if (followsRelocation()) {
        relocate();
        return;
    }
    if (closed || m_parser.CloseAfterReply() || !m_bodyDone)
        dropSocket();
    becomeReady();
}

void THttpCli::relocate()
{
    if (++m_locationChangeCurCount > m_work.maxRelocations) {
        // Not followed: the request ends with the reply that carried the Location.
        if (m_parser.CloseAfterReply() || !m_bodyDone)
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
    if (next.method == httpPOST) {
        // 307/308: the same POST with the same body goes to the new place.
        m_body.seek(0);
    } else {
        next.method = httpGET;
        next.withBody = false;
    }

    const bool reuse = connectedTo(next) && !m_parser.CloseAfterReply() && m_bodyDone;
    m_work = next;
    m_location = next.scheme + "://" + hostForUrl(next.host)
               + (next.port == "80" ? QByteArray() : ':' + next.port) + next.path;
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
    m_connScheme.clear();
    m_connHost.clear();
    m_connPort.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
