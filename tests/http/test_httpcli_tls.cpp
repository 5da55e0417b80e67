// The event-driven client over https and through proxies: certificates checked, handshakes
// that go wrong, bodies cut short, relocations, and what a proxy gets to see.

#include "test_httpcli_support.h"
#include "TestCertificates.h"

#include <QBuffer>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <memory>

namespace {

using Step = ScriptedServer::Step;

const TestCertificates& certs()
{
    static const TestCertificates made;
    return made;
}

// A TLS server on the test's own thread (Post runs the event loop while it waits). It
// answers each whole request with the same reply, then ends as told: with TLS's close
// notice, by cutting the TCP connection without it, or not at all.
class LoopbackTlsServer : public QTcpServer {
public:
    enum End { CloseNotify, Cut, Keep };

    LoopbackTlsServer(const QString& cert, const QString& key, quint16 port = 0)
    {
        QFile c(cert), k(key);
        if (c.open(QIODevice::ReadOnly) && k.open(QIODevice::ReadOnly)) {
            m_cert = QSslCertificate(&c);
            m_key = QSslKey(&k, QSsl::Ec);
        }
        listen(QHostAddress::LocalHost, port);
    }
    void answer(const QByteArray& reply, End end)
    {
        m_reply = reply;
        m_end = end;
    }
    QByteArray url(const char* path) const
    {
        return "https://127.0.0.1:" + QByteArray::number(serverPort()) + path;
    }

    std::vector<QByteArray> requests;
    int connections = 0;

protected:
    void incomingConnection(qintptr fd) override
    {
        ++connections;
        auto* s = new QSslSocket(this);
        s->setSocketDescriptor(fd);
        s->setLocalCertificate(m_cert);
        s->setPrivateKey(m_key);
        auto buf = std::make_shared<QByteArray>();
        connect(s, &QSslSocket::readyRead, this, [this, s, buf] {
            *buf += s->readAll();
            for (qsizetype end; (end = buf->indexOf("\r\n\r\n")) >= 0;) {
                const qsizetype cl = buf->left(end).indexOf("Content-Length: ");
                const qsizetype size = end + 4 + (cl < 0 ? 0 : buf->mid(cl + 16, buf->indexOf('\r', cl) - cl - 16).toLongLong());
                if (buf->size() < size)
                    return;
                requests.push_back(buf->left(size));
                buf->remove(0, size);
                s->write(m_reply);
                s->flush();
                if (m_end == CloseNotify)
                    s->disconnectFromHost();
                else if (m_end == Cut)
                    ::shutdown(static_cast<int>(s->socketDescriptor()), SHUT_RDWR);
            }
        });
        s->startServerEncryption();
    }

private:
    QSslCertificate m_cert;
    QSslKey m_key;
    QByteArray m_reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    End m_end = CloseNotify;
};

// A proxy that opens one tunnel: it reads the CONNECT head, says 200 and passes bytes
// both ways to the TLS server, keeping everything the client sent it.
class TunnelProxy : public QTcpServer {
public:
    explicit TunnelProxy(quint16 target) : m_target(target) { listen(QHostAddress::LocalHost); }
    QByteArray seen;

protected:
    void incomingConnection(qintptr fd) override
    {
        auto* in = new QTcpSocket(this);
        in->setSocketDescriptor(fd);
        auto* out = new QTcpSocket(this);
        connect(in, &QTcpSocket::readyRead, this, [this, in, out] {
            const QByteArray bytes = in->readAll();
            seen += bytes;
            if (out->state() != QAbstractSocket::UnconnectedState)
                out->write(bytes);
            else if (seen.contains("\r\n\r\n"))
                out->connectToHost(QHostAddress::LocalHost, m_target);
        });
        connect(out, &QTcpSocket::connected, in, [in] { in->write("HTTP/1.1 200 Connection established\r\n\r\n"); });
        connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
        connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
    }

private:
    quint16 m_target;
};

THttpCliRequest trusting(THttpCliRequest r)
{
    r.Network.CaFile = certs().caFile();
    return r;
}

QByteArray refused(TCertificateProblem problem)
{
    return TlsFailureText("127.0.0.1", problem, QString()).toUtf8();
}

class HttpCliTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QSslSocket::supportsSsl());
        ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString();
    }
};

// ---- https ----------------------------------------------------------------------------

TEST_F(HttpCliTls, PostsTheSameBytesAsOverHttp)
{
    ScriptedServer plain;
    plain.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    THttpCli cli;
    ASSERT_TRUE(runPost(cli, servicePost(plain.baseUrl() + "/statuses/update.xml", "status=a+b")).Accepted());
    const PostOutcome o = runPost(cli, trusting(servicePost(tls.url("/statuses/update.xml"), "status=a+b")));
    ASSERT_TRUE(o.Accepted()) << o.ErrorMessage.toStdString();
    EXPECT_FALSE(o.Truncated);
    ASSERT_EQ(tls.requests.size(), 1u);
    QByteArray expected = plain.request(0);
    expected.replace(":" + QByteArray::number(plain.port()) + "\r\n", ":" + QByteArray::number(tls.serverPort()) + "\r\n");
    EXPECT_EQ(tls.requests[0], expected);

    // The scheme's own port is left out of the Host line, where the test may use it.
    LoopbackTlsServer on443(certs().serverCert(), certs().serverKey(), 443);
    if (on443.isListening()) {
        EXPECT_TRUE(runPost(cli, trusting(servicePost("https://127.0.0.1/x", "id=1"))).Accepted());
        ASSERT_EQ(on443.requests.size(), 1u);
        EXPECT_TRUE(on443.requests[0].contains("\r\nHost: 127.0.0.1\r\n"));
    }
}

TEST_F(HttpCliTls, KeptConnectionCarriesTheNextPost)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    tls.answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", LoopbackTlsServer::Keep);
    THttpCliRequest r = trusting(servicePost(tls.url("/x"), "id=1"));
    r.Connection.clear();
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, r).Accepted());
    EXPECT_TRUE(runPost(cli, r).Accepted());
    EXPECT_EQ(tls.requests.size(), 2u);
    EXPECT_EQ(tls.connections, 1);
}

// Blocks go out as the encrypted stream drains, not all at once.
TEST_F(HttpCliTls, LargeBodyArrivesWhole)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    const QByteArray body = "status=" + QByteArray(3 * 1024 * 1024 + 5, 'x');
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, trusting(servicePost(tls.url("/x"), body))).Accepted());
    ASSERT_EQ(tls.requests.size(), 1u);
    EXPECT_TRUE(tls.requests[0].endsWith("\r\n\r\n" + body));
}

TEST_F(HttpCliTls, LocalAddressIsBoundOrTheRequestFails)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    ScriptedServer plain;
    THttpCliRequest r = trusting(servicePost(tls.url("/x"), "id=1"));
    r.LocalAddr = "127.0.0.1";
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, r).Accepted());
    // Not an address of this machine: the bind fails and nothing is sent.
    r.LocalAddr = "192.0.2.1";
    for (const QByteArray& url : {tls.url("/x"), plain.baseUrl() + "/x"}) {
        r.URL = url;
        EXPECT_EQ(runPost(cli, r).ErrorMessage, "can't connect: Address not available (Error #10049)");
    }
    EXPECT_EQ(plain.connectionCount(), 0);
}

TEST_F(HttpCliTls, RefusedCertificatesFailNamingTheReason)
{
    struct Case { QString cert, key; bool trustCa; TCertificateProblem problem; };
    const Case cases[] = {
        {certs().serverCert(), certs().serverKey(), false, TCertificateProblem::UntrustedIssuer},
        {certs().selfSignedCert(), certs().selfSignedKey(), true, TCertificateProblem::UntrustedIssuer},
        {certs().wrongHostCert(), certs().wrongHostKey(), true, TCertificateProblem::HostMismatch},
        {certs().expiredCert(), certs().expiredKey(), true, TCertificateProblem::Expired},
    };
    for (const Case& c : cases) {
        LoopbackTlsServer tls(c.cert, c.key);
        THttpCliRequest r = servicePost(tls.url("/x"), "id=1");
        if (c.trustCa)
            r = trusting(r);
        THttpCli cli;
        const PostOutcome o = runPost(cli, r);
        EXPECT_TRUE(o.Failed && o.NoReply);
        EXPECT_EQ(o.StatusCode, 404);
        EXPECT_EQ(o.ReasonPhrase, refused(c.problem)) << o.ReasonPhrase.constData();
        EXPECT_TRUE(tls.requests.empty());
    }
    EXPECT_EQ(refused(TCertificateProblem::UntrustedIssuer), "証明書を拒否しました (127.0.0.1): 発行者を信頼できません");
}

TEST_F(HttpCliTls, UnreadableCaFileFailsNamingIt)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    THttpCliRequest r = servicePost(tls.url("/x"), "id=1");
    r.Network.CaFile = certs().path(QStringLiteral("missing.pem"));
    THttpCli cli;
    const PostOutcome o = runPost(cli, r);
    EXPECT_TRUE(o.Failed);
    EXPECT_TRUE(o.ErrorMessage.contains(r.Network.CaFile)) << o.ErrorMessage.toStdString();
    EXPECT_EQ(tls.connections, 0);
}

TEST_F(HttpCliTls, BrokenHandshakesEndWithinTheTimeout)
{
    const QByteArray tlsFailed = TlsFailureText("127.0.0.1", TCertificateProblem::None, QString()).toUtf8();
    {   // A plain http server on the port.
        ScriptedServer server;
        server.addConnection({Step::readBytes(5), Step::send("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n")});
        THttpCli cli;
        cli.Timeout = 5000;
        const PostOutcome o = runPost(cli, trusting(servicePost("https://127.0.0.1:" + QByteArray::number(server.port()) + "/x", "id=1")));
        EXPECT_TRUE(o.Failed && o.NoReply);
        EXPECT_TRUE(o.ReasonPhrase.startsWith(tlsFailed)) << o.ReasonPhrase.constData();
        EXPECT_LT(o.elapsedMs, 2500);
    }
    {   // A server that stops half way through the handshake.
        ScriptedServer server;
        server.addConnection({Step::readBytes(5), Step::send(QByteArray::fromHex("160303")), Step::delay(5000)});
        THttpCli cli;
        cli.Timeout = 700;
        const PostOutcome o = runPost(cli, trusting(servicePost("https://127.0.0.1:" + QByteArray::number(server.port()) + "/x", "id=1")));
        EXPECT_EQ(o.ReasonPhrase, tlsFailed + "Connection timed out (Error #10060)");
        EXPECT_GE(o.elapsedMs, 650);
        EXPECT_LT(o.elapsedMs, 3000);
        EXPECT_EQ(cli.State(), httpReady);
    }
}

// A body that only the end of the connection delimits is whole only when TLS was closed.
TEST_F(HttpCliTls, BodyEndedWithoutCloseNoticeIsTruncated)
{
    for (const LoopbackTlsServer::End end : {LoopbackTlsServer::CloseNotify, LoopbackTlsServer::Cut}) {
        LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
        tls.answer("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end", end);
        QBuffer reply;
        reply.open(QIODevice::WriteOnly);
        THttpCliRequest r = trusting(servicePost(tls.url("/x"), "id=1"));
        r.ReplyStream = &reply;
        THttpCli cli;
        const PostOutcome o = runPost(cli, r);
        EXPECT_EQ(o.StatusCode, 200);
        EXPECT_EQ(o.Truncated, end == LoopbackTlsServer::Cut);
        EXPECT_EQ(cli.ReplyTruncated(), end == LoopbackTlsServer::Cut);
        EXPECT_EQ(reply.data(), "until the end");
        EXPECT_EQ(tls.requests.size(), 1u);  // posted once, whatever the ending
    }
}

TEST_F(HttpCliTls, RelocationToHttpsKeepsThePostButNotTheCredentials)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    ScriptedServer plain;
    plain.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + tls.url("/s")
                                              + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    THttpCli cli;
    const PostOutcome o = runPost(cli, trusting(servicePost(plain.baseUrl() + "/x", "id=1")));
    ASSERT_TRUE(o.Accepted()) << o.ErrorMessage.toStdString();
    EXPECT_EQ(o.Location, tls.url("/s"));
    ASSERT_EQ(tls.requests.size(), 1u);
    EXPECT_TRUE(tls.requests[0].startsWith("POST /s HTTP/1.1\r\n"));
    EXPECT_TRUE(tls.requests[0].endsWith("\r\n\r\nid=1"));
    EXPECT_FALSE(tls.requests[0].contains("Authorization:"));
}

// ---- Proxies --------------------------------------------------------------------------

TProxy proxyAt(const ScriptedServer& s)
{
    return TProxy{"127.0.0.1", s.port(), "pu", "pp"};
}

const QByteArray kProxyAuth = "Proxy-Authorization: Basic cHU6cHA=\r\n";
const QByteArray kServiceAuth = "Authorization: Basic YWxpY2U6c2VjcmV0\r\n";

TEST(HttpCliProxy, HttpGoesToTheProxyWithTheWholeAddress)
{
    ScriptedServer proxy;
    proxy.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    THttpCliRequest r = servicePost("http://service.test:8080/statuses/update.xml", "status=a");
    r.Network.HttpProxy = proxyAt(proxy);
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, r).Accepted());
    const QByteArray sent = proxy.request(0);
    EXPECT_TRUE(sent.startsWith("POST http://service.test:8080/statuses/update.xml HTTP/1.1\r\n")) << sent.constData();
    for (const QByteArray& line : {QByteArray("\r\nHost: service.test:8080\r\n"), "\r\n" + kServiceAuth, "\r\n" + kProxyAuth})
        EXPECT_TRUE(sent.contains(line)) << line.constData();
}

TEST(HttpCliProxy, KeptConnectionIsNotTakenForAnotherRoute)
{
    ScriptedServer origin, proxy;
    origin.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), Step::waitForClose(5000)});
    proxy.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    THttpCliRequest r = servicePost(origin.baseUrl() + "/x", "id=1");
    r.Connection.clear();
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, r).Accepted());
    r.Network.HttpProxy = proxyAt(proxy);
    EXPECT_TRUE(runPost(cli, r).Accepted());
    EXPECT_EQ(proxy.connectionCount(), 1);
    EXPECT_TRUE(proxy.request(0).startsWith("POST " + origin.baseUrl() + "/x HTTP/1.1\r\n"));
}

TEST(HttpCliProxy, RefusedTunnelFailsWithTheProxysStatus)
{
    ScriptedServer proxy;
    proxy.addConnection(ScriptedServer::reply("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                              "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"));
    THttpCliRequest r = servicePost("https://service.test/statuses/update.xml", "status=a");
    r.Network.HttpsProxy = proxyAt(proxy);
    THttpCli cli;
    const PostOutcome o = runPost(cli, r);
    EXPECT_TRUE(o.Failed && o.NoReply);
    EXPECT_EQ(o.ErrorCode, 407);
    EXPECT_EQ(o.ErrorMessage, "Proxy refused the tunnel: 407 Proxy Authentication Required");
    EXPECT_EQ(proxy.request(0), "CONNECT service.test:443 HTTP/1.1\r\nHost: service.test:443\r\n" + kProxyAuth + "\r\n");
}

TEST_F(HttpCliTls, TunnelCarriesTheServiceCredentialsOutOfTheProxysSight)
{
    LoopbackTlsServer tls(certs().serverCert(), certs().serverKey());
    TunnelProxy proxy(tls.serverPort());
    THttpCliRequest r = trusting(servicePost(tls.url("/x"), "id=1"));
    r.Network.HttpsProxy = TProxy{"127.0.0.1", proxy.serverPort(), "pu", "pp"};
    THttpCli cli;
    const PostOutcome o = runPost(cli, r);
    ASSERT_TRUE(o.Accepted()) << o.ErrorMessage.toStdString();
    ASSERT_EQ(tls.requests.size(), 1u);
    EXPECT_TRUE(tls.requests[0].contains("\r\n" + kServiceAuth));
    EXPECT_FALSE(tls.requests[0].contains("Proxy-Authorization"));
    const QByteArray target = "127.0.0.1:" + QByteArray::number(tls.serverPort());
    EXPECT_TRUE(proxy.seen.startsWith("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n" + kProxyAuth + "\r\n"));
    EXPECT_FALSE(proxy.seen.contains("YWxpY2U6c2VjcmV0"));
    EXPECT_FALSE(proxy.seen.contains("id=1"));
}

} // namespace
