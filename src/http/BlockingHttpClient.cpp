#include "http/BlockingHttpClient.h"

#include "http/ConnectionPlan.h"
#include "http/RequestHead.h"
#include "http/UrlText.h"
#include "text/Logging.h"

#include <QLoggingCategory>

#include <utility>

namespace {

constexpr int FailedReplyReadTimeout = 2000;

// Framing the client refuses to follow: a length or chunk size it will not allocate, or a
// reply beyond its bounds.
class EUnsafeFraming : public EHttpClientError { using EHttpClientError::EHttpClientError; };

} // namespace

int TBlockingHttpReply::ResponseCode() const
{
    return THttpReplyParser::CodeAfterFirstBlank(StatusLine);
}

struct TBlockingHttpClient::TTarget {
    TConnectionPlan Plan;
    QByteArray HostHeader;
    QByteArray RequestTarget;
    TCredentials Credentials;
};

TBlockingHttpClient::TBlockingHttpClient()
    : m_parser({}, THttpReplyParser::Blocking)
{
    m_parser.SetBodySink([this](QByteArrayView part) { m_body.append(part); });
}

TBlockingHttpClient::~TBlockingHttpClient() = default;

TBlockingHttpRequest& TBlockingHttpClient::Request()
{
    return m_request;
}

QByteArray TBlockingHttpClient::FetchText(const QByteArray& url)
{
    m_connection.ReadTimeout = ReadTimeout;
    m_connection.Cancelled = Cancelled;
    m_connection.RecvBufferSize = RecvBufferSize > 0 ? RecvBufferSize : 32768;
    m_connection.Deadline.reset();
    m_parser.SetLimits({MaxBodySize, MaxLineLength, MaxHeaderLines, MaxHeaderSize});
    if (TotalTimeout > 0)
        m_connection.Deadline = TBlockingConnection::Clock::now() + std::chrono::milliseconds(TotalTimeout);
    try {
        QByteArray body = fetch(url);
        m_connection.Deadline.reset();
        return body;
    } catch (...) {
        // A failed request leaves nothing half-read on the connection.
        m_connection.Close();
        m_parser.ClearBuffer();
        m_connection.Deadline.reset();
        throw;
    }
}

QByteArray TBlockingHttpClient::fetch(const QByteArray& url)
{
    m_requestSent = false;
    const TTarget target = prepare(url);
    const QByteArray head = buildHead(target);
    const bool reused = connectTo(target);
    try {
        send(head);
    } catch (const EHttpClientError& e) {
        // A kept connection the server has closed meanwhile, or that broke before a byte
        // of the reply came: the request is sent once more on a new one (a GET may be).
        const bool lost = dynamic_cast<const EConnectionClosed*>(&e) || dynamic_cast<const ESocketError*>(&e);
        if (!reused || !lost || m_parser.BytesFed() > 0)
            throw;
        qCDebug(lcHttp) << "kept connection lost before the reply; sending again on a new one";
        m_connection.Close();
        m_requestSent = false;
        connectTo(target);
        send(head);
    }

    const int code = m_reply.ResponseCode();
    const QByteArray location = m_reply.HeaderLines.Value("Location");
    // Redirects are not followed: the reply is a failure like any other.
    if (code / 100 != 2 || !location.isEmpty())
        raiseProtocolError();
    if (m_parser.HeadCutShort())
        throw EHttpClientError(QStringLiteral("Undefined situation"));

    readRest();
    // A body cut short is lost data, not a success.
    if (m_parser.Truncated())
        throw EConnectionClosed();
    QByteArray body = std::exchange(m_body, QByteArray());
    if (!keepsAlive()) {
        m_connection.Close();
        m_parser.ClearBuffer();
    }
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
    if (PortNumber(port) == 0)
        throw EHttpClientError(QStringLiteral("Invalid port: %1").arg(QString::fromLatin1(port)));

    TTarget target;
    target.Plan = PlanConnection(protocol, u.Host, port, Network);
    target.HostHeader = Authority(protocol, u.Host, port);
    target.RequestTarget = u.Target;
    target.Credentials = ChooseCredentials(u.HasUserInfo, u.User, u.Password, m_request.Username, m_request.Password);
    return target;
}

void TBlockingHttpClient::send(const QByteArray& head)
{
    m_requestSent = true;
    m_parser.StartReply();
    m_connection.Write(head);
    readHead();
}

// True when the kept connection serves the target.
bool TBlockingHttpClient::connectTo(const TTarget& target)
{
    if (m_connection.Connected() && m_plan && m_plan->SameRoute(target.Plan))
        return true;
    m_connection.Close();
    m_plan = target.Plan;
    TConnectSteps steps(target.Plan);
    const QByteArray host = target.Plan.DialHost();
    const quint16 port = target.Plan.DialPort();
    // The look-up and each address in turn are the connection's (ConnectSocket).
    if (TransportFactory)
        m_connection.Open(TransportFactory(host, port), host, port);
    else
        m_connection.Connect(host, port);
    m_parser.ClearBuffer();
    for (TConnectSteps::TStep step = steps.Connected(); step != TConnectSteps::Ready; step = steps.Step()) {
        if (step == TConnectSteps::Tunnel) {
            openTunnel(steps);
        } else {
            m_connection.StartTls(target.Plan.TlsName(), target.Plan.CaFile);
            steps.Encrypted();
        }
    }
    return false;
}

void TBlockingHttpClient::openTunnel(TConnectSteps& steps)
{
    m_connection.Write(steps.TunnelRequest());
    m_parser.StartHead();
    readHead();
    const TTunnelAnswer answer = steps.Answered(m_parser);
    if (answer.Kind != TTunnelAnswer::Open) {
        // What follows a refusal is the proxy's page, of no use to the caller.
        m_connection.Close();
        throw EProxyError(answer.Code, answer.Reason);
    }
    // Whatever came after the proxy's head is the server's, the start of TLS.
    m_connection.Unread(m_parser.TakeBuffered());
}

QByteArray TBlockingHttpClient::buildHead(const TTarget& target)
{
    const std::optional<TProxy>& proxy = target.Plan.Proxy;
    TRequestHead head("GET " + RequestTarget(proxy, target.Plan.Scheme, target.HostHeader, target.RequestTarget)
                      + " HTTP/1.1");
    head.Add("Content-Type", m_request.ContentType);
    head.Add("Host", target.HostHeader);
    head.Add("Accept", m_request.Accept);
    head.Add("User-Agent", m_request.UserAgent);
    if (m_request.BasicAuthentication)
        head.Add("Authorization", BasicCredentials(target.Credentials.User, target.Credentials.Password));
    head.Add("Proxy-Authorization", ProxyCredentials(proxy, target.Plan.Scheme));
    for (const auto& [name, value] : m_request.Headers)
        head.Add(name.constData(), value);
    return head.Text();
}

void TBlockingHttpClient::readHead()
{
    m_body.clear();
    m_parser.Feed(QByteArrayView());  // what the reply before left on a kept connection
    feed(true);
    m_reply.StatusLine = m_parser.StatusLine();
    m_reply.HeaderLines.Clear();
    for (const QByteArray& line : m_parser.HeaderLines())
        m_reply.HeaderLines.AddLine(line);
}

void TBlockingHttpClient::readRest()
{
    // A stated length (already within the cap) is the body's size: one allocation.
    if (m_parser.ContentLength() > 0 && !THttpReplyParser::IsChunked(m_parser.TransferEncoding()))
        m_body.reserve(m_parser.ContentLength());
    feed(false);
}

// Hands the parser what the connection brings until it has the head (headOnly) or the
// whole reply.
void TBlockingHttpClient::feed(bool headOnly)
{
    for (;;) {
        if ((headOnly && m_parser.HeadComplete()) || m_parser.IsComplete())
            return;
        switch (m_parser.ErrorKind()) {
        case THttpReplyParser::NoError:
            break;
        case THttpReplyParser::Closed:
            throw EConnectionClosed();
        case THttpReplyParser::LineTooLong:
            throw ELineTooLong();
        case THttpReplyParser::Malformed:
            throw EUnsafeFraming(m_parser.Error());
        }
        // Body bytes that need no framing go straight into the body, not through the parser.
        const qint64 room = m_parser.DirectBodyRoom();
        if (room > 0) {
            const qint64 n = m_connection.ReadSome(m_body, m_parser.BodyReceived(), room);
            if (n == 0)
                m_parser.PeerClosed();
            else if (m_parser.BodyTaken(n) == THttpReplyParser::Failed)
                m_body.truncate(m_parser.BodyReceived());
            continue;
        }
        m_received.resize(0);  // keeps its block for the next receive
        if (m_connection.ReadSome(m_received, m_parser.BodyReceived()) > 0)
            m_parser.Feed(m_received);
        else
            m_parser.PeerClosed();
    }
}

void TBlockingHttpClient::raiseProtocolError()
{
    const int code = m_reply.ResponseCode();
    const int saved = m_connection.ReadTimeout;
    m_connection.ReadTimeout = FailedReplyReadTimeout;
    try {
        // 1xx, 204 and 304 replies have no body, whatever their head says: the parser
        // has already ended those.
        readRest();
    } catch (const EUnsafeFraming&) {
        // The status is what the caller needs; the unreadable rest of the body is dropped.
        m_connection.Close();
    } catch (const EReadTimeout&) {
        // A body the server does not end (no length on a connection it holds open) must
        // not hide the status either; what a cut read left is not trusted.
        m_body.clear();
        m_connection.Close();
    } catch (const EConnectionClosed&) {
        m_body.clear();
        m_connection.Close();
    } catch (...) {
        m_connection.ReadTimeout = saved;
        throw;
    }
    m_connection.ReadTimeout = saved;
    throw EHttpProtocolError(m_reply.StatusLine, code, std::exchange(m_body, QByteArray()));
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
