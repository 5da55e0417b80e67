// The blocking client over TLS and through proxies, against loopback peers: certificates
// accepted and refused, handshakes that never finish, bodies cut short, and what a proxy
// gets to see.
#include "http/BlockingHttpClient.h"
#include "ExpectError.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TlsServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using Step = ScriptedServer::Step;
using namespace std::chrono_literals;

namespace {

const QByteArray Ok200 = "HTTP/1.1 200 OK\r\n";

// Made once for the whole run: each openssl call takes a while.
const TestCertificates& certs()
{
    static TestCertificates made;
    return made;
}

std::unique_ptr<TBlockingHttpClient> trustingClient()
{
    auto client = std::make_unique<TBlockingHttpClient>();
    client->Network.CaFile = certs().caFile();
    client->ReadTimeout = 5000;
    return client;
}

QByteArray basic(const QByteArray& userPassword)
{
    return "Basic " + userPassword.toBase64();
}

class BlockingTls : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString(); }
};

} // namespace

TEST_F(BlockingTls, TrustedCertificateGivesTheBodyOnAKeptConnection)
{
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok", Ok200 + "Content-Length: 3\r\n\r\nyes"}});
    auto client = trustingClient();
    EXPECT_EQ(client->FetchText(server.baseUrl() + "/a.xml"), "ok");
    EXPECT_EQ(client->FetchText(server.baseUrl() + "/b.xml"), "yes");
    client->Disconnect();
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_TRUE(server.request(0).startsWith("GET /a.xml HTTP/1.1\r\n")) << server.request(0).constData();
    EXPECT_TRUE(server.request(0).contains("\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n"));
}

// Port 443 cannot be bound here: the transport goes to the test server instead, while the
// client believes it reaches localhost:443 (a name, so the server name is sent and checked).
TEST_F(BlockingTls, DefaultPortIsNotWrittenInTheHostLine)
{
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}});
    auto client = trustingClient();
    QByteArray asked;
    client->TransportFactory = [&](const QByteArray& host, quint16 port) {
        asked = host + ':' + QByteArray::number(port);
        return TBlockingConnection::ConnectSocket("127.0.0.1", server.port(), [] { return 5000; });
    };
    EXPECT_EQ(client->FetchText("https://localhost/x.xml"), "ok");
    EXPECT_EQ(asked, "localhost:443");
    client->Disconnect();
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_TRUE(server.request(0).contains("\r\nHost: localhost\r\n")) << server.request(0).constData();
}

struct RefusalCase {
    const char* name;
    QString (TestCertificates::*cert)() const;
    QString (TestCertificates::*key)() const;
    bool trustTestAuthority;
    TCertificateProblem problem;
};

class BlockingTlsRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(BlockingTlsRefusal, NothingIsSentPastARefusedCertificate)
{
    ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString();
    const RefusalCase& c = GetParam();
    TlsServer server((certs().*c.cert)(), (certs().*c.key)());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}});
    auto client = trustingClient();
    if (!c.trustTestAuthority)
        client->Network.CaFile.clear();
    client->Request().Username = "user";
    client->Request().Password = "secret";
    client->Request().BasicAuthentication = true;
    const auto e = expectError<ETlsError>([&] { client->FetchText(server.baseUrl() + "/x.xml"); });
    EXPECT_EQ(e.Problem(), c.problem) << e.Detail().toStdString();
    EXPECT_EQ(e.Host(), "127.0.0.1");
    EXPECT_TRUE(e.Message().contains(QStringLiteral("127.0.0.1"))) << e.Message().toStdString();
    EXPECT_FALSE(client->RequestSent());
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.handshakes(), 0);
    EXPECT_TRUE(server.request(0).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingTlsRefusal,
    testing::Values(
        RefusalCase{"SystemAuthoritiesOnly", &TestCertificates::serverCert, &TestCertificates::serverKey, false,
                    TCertificateProblem::UntrustedIssuer},
        RefusalCase{"WrongHost", &TestCertificates::wrongHostCert, &TestCertificates::wrongHostKey, true,
                    TCertificateProblem::HostMismatch},
        RefusalCase{"Expired", &TestCertificates::expiredCert, &TestCertificates::expiredKey, true,
                    TCertificateProblem::Expired},
        RefusalCase{"SelfSigned", &TestCertificates::selfSignedCert, &TestCertificates::selfSignedKey, true,
                    TCertificateProblem::UntrustedIssuer}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BlockingTls, UnreadableCaFileIsNamed)
{
    ScriptedServer server;
    server.setDefaultScript({Step::waitForClose(5000)});
    const QByteArray url = "https://127.0.0.1:" + QByteArray::number(server.port()) + "/";
    for (const QString& file : {QStringLiteral("/no/such/ca.pem"), certs().path(QStringLiteral("local.ext"))}) {
        TBlockingHttpClient client;
        client.Network.CaFile = file;
        const auto e = expectError<EHttpClientError>([&] { client.FetchText(url); });
        EXPECT_TRUE(e.Message().contains(file)) << e.Message().toStdString();
    }
}

struct HandshakeCase {
    const char* name;
    ScriptedServer::Script script;
    int readTimeout, totalTimeout;
    const char* detail;
};

class BlockingTlsHandshake : public testing::TestWithParam<HandshakeCase> {};

// A record header announcing a ServerHello of 122 bytes, and only the start of it.
const QByteArray HalfServerHello = QByteArray("\x16\x03\x03\x00\x7a\x02\x00\x00\x76\x03\x03", 11) + QByteArray(20, '\x5a');

TEST_P(BlockingTlsHandshake, EndsWithinItsBounds)
{
    const HandshakeCase& c = GetParam();
    ScriptedServer server;
    server.addConnection(c.script);
    TBlockingHttpClient client;
    client.ReadTimeout = c.readTimeout;
    client.TotalTimeout = c.totalTimeout;
    const auto start = std::chrono::steady_clock::now();
    const auto e = expectError<ETlsError>(
        [&] { client.FetchText("https://127.0.0.1:" + QByteArray::number(server.port()) + "/"); });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.Problem(), TCertificateProblem::None);
    EXPECT_TRUE(e.Detail().contains(QString::fromLatin1(c.detail))) << e.Detail().toStdString();
    EXPECT_LT(elapsed, std::chrono::milliseconds(std::min(c.readTimeout, c.totalTimeout) + 1500));
    EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingTlsHandshake,
    testing::Values(
        HandshakeCase{"PlainHttpServer",
                      {Step::readBytes(1), Step::send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"), Step::close()},
                      5000, 10000, "does not speak TLS"},
        HandshakeCase{"SilentServer", {Step::waitForClose(10000)}, 300, 10000, "timed out"},
        HandshakeCase{"HalfServerHello", {Step::readBytes(1), Step::send(HalfServerHello), Step::waitForClose(10000)}, 300, 10000, "timed out"},
        HandshakeCase{"TrickledServerHello", {Step::readBytes(1), Step::trickle(HalfServerHello, 100)}, 1000, 800, "timed out"},
        HandshakeCase{"ClosedHalfWay", {Step::readBytes(1), Step::send(HalfServerHello), Step::close()}, 5000, 10000, "closed the connection"}),
    [](const auto& info) { return std::string(info.param.name); });

// A body read to the close is whole only when the close is TLS's own; a bare TCP close may
// be an attacker's cut. With a length the body's end is known either way.
TEST_F(BlockingTls, BodyEndsOnlyAtATlsClose)
{
    const QByteArray untilClose = Ok200 + "Content-Type: text/xml\r\n\r\n<whole/>";
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{untilClose}, true});
    server.addConnection({{untilClose}, false});
    server.addConnection({{Ok200 + "Content-Length: 3\r\n\r\nabc"}, false});
    auto client = trustingClient();
    EXPECT_EQ(client->FetchText(server.baseUrl() + "/1"), "<whole/>");
    expectError<EConnectionClosed>([&] { client->FetchText(server.baseUrl() + "/2"); });
    EXPECT_EQ(client->FetchText(server.baseUrl() + "/3"), "abc");
}

// ---- proxies ------------------------------------------------------------------------

TEST(BlockingProxy, PlainHttpNamesTheWholeAddressAndOnlyThatRouteReusesTheConnection)
{
    ScriptedServer proxy, origin;
    proxy.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\np"), Step::waitForClose(5000)});
    origin.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\no"), Step::waitForClose(5000)});
    TBlockingHttpClient client;
    client.ReadTimeout = 5000;
    client.Network.HttpProxy = TProxy{"127.0.0.1", proxy.port(), "pu", "pp"};
    client.Request().Username = "user";
    client.Request().Password = "secret";
    client.Request().BasicAuthentication = true;
    const QByteArray url = origin.baseUrl() + "/dir/a.xml?x=1";
    EXPECT_EQ(client.FetchText(url), "p");
    client.Network.NoProxy = {"127.0.0.1"};
    EXPECT_EQ(client.FetchText(url), "o");
    client.Disconnect();
    ASSERT_TRUE(proxy.waitForFinished(1));
    ASSERT_TRUE(origin.waitForFinished(1));

    const QByteArray viaProxy = proxy.request(0);
    EXPECT_TRUE(viaProxy.startsWith("GET " + url + " HTTP/1.1\r\n")) << viaProxy.constData();
    EXPECT_TRUE(viaProxy.contains("\r\nHost: 127.0.0.1:" + QByteArray::number(origin.port()) + "\r\n"));
    EXPECT_TRUE(viaProxy.contains("\r\nAuthorization: " + basic("user:secret") + "\r\n"));
    EXPECT_TRUE(viaProxy.contains("\r\nProxy-Authorization: " + basic("pu:pp") + "\r\n"));
    EXPECT_EQ(viaProxy.count("GET "), 1);
    EXPECT_TRUE(origin.request(0).startsWith("GET /dir/a.xml?x=1 HTTP/1.1\r\n"));
    EXPECT_FALSE(origin.request(0).contains("Proxy-Authorization"));
}

TEST_F(BlockingTls, TunnelThroughProxyReachesTheOriginWithItsOwnCredentialsInside)
{
    // One server plays the proxy (the CONNECT in the clear) and then the origin.
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}, true, true});
    auto client = trustingClient();
    client->Network.HttpsProxy = TProxy{"127.0.0.1", server.port(), "pu", "pp"};
    client->Request().Username = "user";
    client->Request().Password = "secret";
    client->Request().BasicAuthentication = true;
    EXPECT_EQ(client->FetchText("https://localhost:4443/t.xml"), "ok");
    client->Disconnect();
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.plainRequest(0), "CONNECT localhost:4443 HTTP/1.1\r\nHost: localhost:4443\r\n"
                                      "Proxy-Authorization: " + basic("pu:pp") + "\r\n\r\n");
    const QByteArray inside = server.request(0);
    EXPECT_TRUE(inside.startsWith("GET /t.xml HTTP/1.1\r\n")) << inside.constData();
    EXPECT_TRUE(inside.contains("\r\nHost: localhost:4443\r\n"));
    EXPECT_TRUE(inside.contains("\r\nAuthorization: " + basic("user:secret") + "\r\n"));
    EXPECT_FALSE(inside.contains("Proxy-Authorization"));
}

TEST(BlockingProxy, RefusedTunnelRaisesTheProxysStatus)
{
    ScriptedServer proxy;
    proxy.addConnection(ScriptedServer::reply("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                              "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"));
    TBlockingHttpClient client;
    client.Network.HttpsProxy = TProxy{"127.0.0.1", proxy.port(), {}, {}};
    client.Request().Username = "user";
    client.Request().BasicAuthentication = true;
    const auto e = expectError<EProxyError>([&] { client.FetchText("https://origin.example/x.xml"); });
    EXPECT_EQ(e.ReplyCode(), 407);
    EXPECT_EQ(e.Message(), QStringLiteral("Proxy refused the tunnel: 407 Proxy Authentication Required"));
    EXPECT_FALSE(client.RequestSent());
    ASSERT_TRUE(proxy.waitForFinished(1));
    EXPECT_EQ(proxy.request(0), "CONNECT origin.example:443 HTTP/1.1\r\nHost: origin.example:443\r\n\r\n");
}
