#include "http/BlockingHttpClient.h"

#include "http/RequestHead.h"
#include "http/UrlText.h"
#include "text/HexDigit.h"
#include "text/Logging.h"

#include <QLoggingCategory>

namespace {

constexpr int FailedReplyReadTimeout = 2000;

bool allDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Framing the client refuses to follow: a length or chunk size it will not allocate.
class EUnsafeFraming : public EHttpClientError { using EHttpClientError::EHttpClientError; };

[[noreturn]] void raiseBodyTooLarge(qint64 cap)
{
    throw EUnsafeFraming(QStringLiteral("Reply body exceeds the limit of %1 bytes.").arg(cap));
}

// The announced body length: -1 when absent or not a number (the body then runs to the
// close). A negative or overflowing number, or one above the cap, is refused before
// anything is allocated.
qint64 announcedLength(const THeaderLines& head, qint64 cap)
{
    if (!head.Has("Content-Length"))
        return -1;
    const QByteArray value = head.Value("Content-Length");
    const bool negative = value.startsWith('-');
    QByteArray digits = negative ? value.mid(1) : value;
    if (!allDigits(digits))
        return -1;
    while (digits.size() > 1 && digits.at(0) == '0')
        digits.remove(0, 1);
    if (digits == "0")
        return 0;
    if (negative || digits.size() > 18)
        throw EUnsafeFraming(QStringLiteral("Invalid Content-Length: %1").arg(QString::fromLatin1(value)));
    const qint64 length = digits.toLongLong();
    if (length > cap)
        raiseBodyTooLarge(cap);
    return length;
}

// A chunk size line: the hexadecimal number before the first space (or ";" extension);
// anything else reads as 0, the last chunk.
qint64 chunkSize(const QByteArray& line, qint64 cap)
{
    qsizetype end = line.size();
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == ' ' || line.at(i) == ';' || line.at(i) == '\t') {
            end = i;
            break;
        }
    }
    const QByteArray text = line.left(end);
    if (text.isEmpty())
        return 0;
    quint64 value = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return 0;
        if (value > (quint64(INT64_MAX) >> 4))
            throw EUnsafeFraming(QStringLiteral("Invalid chunk size: %1").arg(QString::fromLatin1(text.left(64))));
        value = (value << 4) | quint64(d);
    }
    if (value > quint64(cap))
        raiseBodyTooLarge(cap);
    return qint64(value);
}

// The reason phrase: what follows the code in a status line.
QByteArray reasonOf(const QByteArray& statusLine)
{
    const QByteArray rest = statusLine.mid(statusLine.indexOf(' ') + 1).trimmed();
    const qsizetype blank = rest.indexOf(' ');
    return blank < 0 ? QByteArray() : rest.mid(blank + 1).trimmed();
}

} // namespace

int TBlockingHttpReply::ResponseCode() const
{
    // The code follows the first blank of the status line.
    const qsizetype blank = StatusLine.indexOf(' ');
    if (blank < 0)
        return -1;
    QByteArray rest = StatusLine.mid(blank + 1).trimmed();
    const qsizetype next = rest.indexOf(' ');
    if (next >= 0)
        rest.truncate(next);
    if (!allDigits(rest) || rest.size() > 9)
        return -1;
    return rest.toInt();
}

struct TBlockingHttpClient::TTarget {
    QByteArray Scheme;
    QByteArray Host;
    quint16 Port = 80;
    QByteArray HostHeader;
    QByteArray RequestTarget;
    std::optional<TProxy> Proxy;
};

TBlockingHttpClient::TBlockingHttpClient() = default;

TBlockingHttpClient::~TBlockingHttpClient() = default;

TBlockingHttpRequest& TBlockingHttpClient::Request()
{
    return m_request;
}

QByteArray TBlockingHttpClient::FetchText(const QByteArray& url)
{
    m_connection.ReadTimeout = ReadTimeout;
    m_connection.MaxLineLength = MaxLineLength;
    m_connection.RecvBufferSize = RecvBufferSize > 0 ? RecvBufferSize : 32768;
    m_connection.Deadline.reset();
    if (TotalTimeout > 0)
        m_connection.Deadline = TBlockingConnection::Clock::now() + std::chrono::milliseconds(TotalTimeout);
    try {
        QByteArray body = fetch(url);
        m_connection.Deadline.reset();
        return body;
    } catch (...) {
        // A failed request leaves nothing half-read on the connection.
        m_connection.Close();
        m_connection.Deadline.reset();
        throw;
    }
}

QByteArray TBlockingHttpClient::fetch(const QByteArray& url)
{
    m_requestSent = false;
    const TTarget target = prepare(url);
    connectTo(target);
    const QByteArray head = buildHead(target);
    m_requestSent = true;
    m_connection.Write(head);
    readReplyHead();

    const int code = m_reply.ResponseCode();
    const QByteArray location = m_reply.HeaderLines.Value("Location");
    // Redirects are not followed: the reply is a failure like any other.
    if ((code / 100 == 3 && code != 304) || !location.isEmpty())
        raiseProtocolError();
    if (code / 100 != 2) {
        if (code == 401)
            m_authorization.clear();
        raiseProtocolError();
    }
    if (!m_connection.Connected())
        throw EHttpClientError(QStringLiteral("Undefined situation"));

    QByteArray body;
    if (code != 204)
        readBody(body, true);
    if (!keepsAlive())
        m_connection.Close();
    return body;
}

TBlockingHttpClient::TTarget TBlockingHttpClient::prepare(const QByteArray& url)
{
    // Control bytes would end the request line early and smuggle in header lines.
    for (char c : url) {
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f')
            throw EHttpClientError(QStringLiteral("Invalid URL: control characters are not allowed"));
    }
    const THttpUrl u = SplitUrl(url);
    QByteArray protocol = u.Scheme;
    const QByteArray defaultPort = DefaultPort(protocol);
    QByteArray port = u.Port;
    if (port.isEmpty()) {
        if (defaultPort.isEmpty())
            throw EUnknownProtocol();
        port = defaultPort;
    }
    // A scheme the client does not know is fetched as plain http when it names a port.
    if (defaultPort.isEmpty())
        protocol = "http";
    const quint16 portNumber = PortNumber(port);
    if (portNumber == 0)
        throw EHttpClientError(QStringLiteral("Invalid port: %1").arg(QString::fromLatin1(port)));

    if (u.HasUserInfo) {
        m_request.Username = u.User;
        m_request.Password = u.Password;
    }
    TTarget target;
    target.Scheme = protocol;
    target.Host = u.Host;
    target.Port = portNumber;
    target.HostHeader = Authority(protocol, u.Host, port);
    target.RequestTarget = u.Target;
    target.Proxy = ProxyFor(Network, protocol, u.Host);
    return target;
}

void TBlockingHttpClient::connectTo(const TTarget& target)
{
    const TRoute route{target.Scheme, target.Host, target.Port, target.Proxy};
    if (m_connection.Connected() && m_route != route)
        m_connection.Close();
    if (m_connection.Connected())
        return;
    m_route = route;
    const QByteArray host = target.Proxy ? target.Proxy->Host : target.Host;
    const quint16 port = target.Proxy ? target.Proxy->Port : target.Port;
    if (TransportFactory)
        m_connection.Open(TransportFactory(host, port), host, port);
    else
        m_connection.Connect(host, port);
    if (target.Scheme != "https")
        return;
    if (target.Proxy)
        openTunnel(target);
    // The origin's name, not the proxy's: the certificate must be the origin's.
    m_connection.StartTls(target.Host, Network.CaFile);
}

void TBlockingHttpClient::openTunnel(const TTarget& target)
{
    m_connection.Write(ConnectRequest(*target.Proxy, target.Host, QByteArray::number(target.Port)));
    readReplyHead();
    const int code = m_reply.ResponseCode();
    if (code / 100 != 2) {
        // What follows a refusal is the proxy's page, of no use to the caller.
        m_connection.Close();
        throw EProxyError(code, reasonOf(m_reply.StatusLine));
    }
}

QByteArray TBlockingHttpClient::buildHead(const TTarget& target)
{
    if (m_request.BasicAuthentication && m_authorization.isEmpty()) {
        // The credentials go through a header list, which trims their ends.
        const QByteArray user = THeaderLines::Trim(m_request.Username);
        const QByteArray password = THeaderLines::Trim(m_request.Password);
        m_authorization = BasicCredentials(user, password);
    }
    TRequestHead head("GET " + RequestTarget(target.Proxy, target.Scheme, target.HostHeader, target.RequestTarget)
                      + " HTTP/1.1");
    head.Add("Content-Type", m_request.ContentType);
    head.Add("Host", target.HostHeader);
    head.Add("Accept", m_request.Accept);
    head.Add("User-Agent", m_request.UserAgent);
    head.Add("Authorization", m_authorization);
    head.Add("Proxy-Authorization", ProxyCredentials(target.Proxy, target.Scheme));
    return head.Text();
}

void TBlockingHttpClient::readReplyHead()
{
    int lines = 0;
    qint64 bytes = 0;
    do {
        readHeadOnce(lines, bytes);
    } while (m_reply.ResponseCode() == 100);
}

void TBlockingHttpClient::readHeadOnce(int& lines, qint64& bytes)
{
    m_reply.StatusLine = m_connection.ReadLn();
    m_reply.HeaderLines.Clear();
    bytes += m_reply.StatusLine.size();
    for (;;) {
        QByteArray line;
        try {
            line = m_connection.ReadLn();
        } catch (const EConnectionClosed&) {
            // A close after some header lines ends the head; before the first it is an error.
            if (m_reply.HeaderLines.Count() == 0)
                throw;
            return;
        }
        if (line.isEmpty())
            return;
        bytes += line.size();
        if (++lines > MaxHeaderLines)
            throw EHttpClientError(QStringLiteral("Reply header has more than %1 lines.").arg(MaxHeaderLines));
        if (bytes > MaxHeaderSize)
            throw EHttpClientError(QStringLiteral("Reply header exceeds %1 bytes.").arg(MaxHeaderSize));
        m_reply.HeaderLines.AddLine(line);
    }
}

void TBlockingHttpClient::readBody(QByteArray& body, bool strict)
{
    const THeaderLines& head = m_reply.HeaderLines;
    const qint64 length = announcedLength(head, MaxBodySize);
    if (length > 0) {
        const qint64 got = m_connection.ReadBytes(body, length);
        // A body cut short is lost data, not a success.
        if (got < length && strict)
            throw EConnectionClosed();
    } else if (head.Value("Transfer-Encoding").contains("chunked")) {
        readChunked(body);
    } else if (length < 0) {
        if (!m_connection.ReadUntilClose(body, MaxBodySize))
            raiseBodyTooLarge(MaxBodySize);
    }
}

void TBlockingHttpClient::readChunked(QByteArray& body)
{
    for (;;) {
        const qint64 size = chunkSize(m_connection.ReadLn(), MaxBodySize);
        if (size <= 0)
            break;
        if (body.size() + size > MaxBodySize)
            raiseBodyTooLarge(MaxBodySize);
        if (m_connection.ReadBytes(body, size) < size)
            throw EConnectionClosed();
        m_connection.ReadLn();
    }
    // Trailer fields up to the empty line: a kept connection must be left at the next reply.
    for (int lines = 0; !m_connection.ReadLn().isEmpty();) {
        if (++lines > MaxHeaderLines)
            throw EHttpClientError(QStringLiteral("Reply header has more than %1 lines.").arg(MaxHeaderLines));
    }
}

void TBlockingHttpClient::raiseProtocolError()
{
    const int code = m_reply.ResponseCode();
    QByteArray body;
    // 1xx, 204 and 304 replies have no body, whatever their head says.
    if (code / 100 != 1 && code != 204 && code != 304) {
        const int saved = m_connection.ReadTimeout;
        m_connection.ReadTimeout = FailedReplyReadTimeout;
        try {
            readBody(body, false);
        } catch (const EUnsafeFraming&) {
            // The status is what the caller needs; the unreadable rest of the body is dropped.
            m_connection.Close();
        } catch (const EReadTimeout&) {
            // A body the server does not end (no length on a connection it holds open),
            // or one cut short, must not hide the status either; what a cut read left is
            // not trusted.
            body.clear();
            m_connection.Close();
        } catch (const EConnectionClosed&) {
            body.clear();
            m_connection.Close();
        } catch (...) {
            m_connection.ReadTimeout = saved;
            throw;
        }
        m_connection.ReadTimeout = saved;
    }
    throw EHttpProtocolError(m_reply.StatusLine, code, body);
}

bool TBlockingHttpClient::keepsAlive() const
{
    if (!m_connection.Connected())
        return false;
    const QByteArray connection = m_reply.HeaderLines.Value("Connection");
    const QByteArray proxyConnection = m_reply.HeaderLines.Value("Proxy-Connection");
    return connection.compare("close", Qt::CaseInsensitive) != 0
        && proxyConnection.compare("close", Qt::CaseInsensitive) != 0;
}
