// The event-driven client over https against Qt's own TLS server, a second TLS
// implementation to talk to: the bytes of a post, a large body, the local address and a
// relocation. What both clients share (certificates, handshakes, proxies) is in
// test_http_faces.cpp.

#include "test_httpcli_support.h"
#include "TestCertificates.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

namespace {

const TestCertificates& certs()
{
    static const TestCertificates made;
    return made;
}

// A TLS server on the test's own thread (the wait for a post runs the event loop). It
// answers each whole request with the same reply, then ends with TLS's close notice.
class LoopbackTlsServer : public QTcpServer {
public:
    LoopbackTlsServer(const QString& cert, const QString& key, quint16 port = 0)
    {
        QFile c(cert), k(key);
        if (c.open(QIODevice::ReadOnly) && k.open(QIODevice::ReadOnly)) {
            m_cert = QSslCertificate(&c);
            m_key = QSslKey(&k, QSsl::Ec);
        }
        listen(QHostAddress::LocalHost, port);
    }
    QByteArray url(const char* path) const
    {
        return "https://127.0.0.1:" + QByteArray::number(serverPort()) + path;
    }

    std::vector<QByteArray> requests;

protected:
    void incomingConnection(qintptr fd) override
    {
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
                s->disconnectFromHost();
            }
        });
        s->startServerEncryption();
    }

private:
    QSslCertificate m_cert;
    QSslKey m_key;
    const QByteArray m_reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
};

THttpCliRequest trusting(THttpCliRequest r)
{
    r.Network.CaFile = certs().caFile();
    return r;
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

} // namespace
