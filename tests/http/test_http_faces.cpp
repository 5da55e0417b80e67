// What the connection road promises, through both faces: the blocking read (FetchText)
// and the event-driven post (Start, Finished). Certificates refused, handshakes that go
// wrong, an unreadable CA file, proxies that refuse or tunnel, and the credentials that
// reach the server, each asserted once for either face.
#include "http/BlockingHttpClient.h"
#include "http/HttpCli.h"
#include "HttpWait.h"
#include "LoopbackListener.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TlsServer.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

using Step = ScriptedServer::Step;
using namespace std::chrono_literals;

namespace {

const QByteArray Ok200 = "HTTP/1.1 200 OK\r\n";

const TestCertificates& certs()
{
    static const TestCertificates made;
    return made;
}

// How one request ended, whichever face made it.
struct Outcome {
    bool ok = false;
    QByteArray body;
    QString error;      // the face's own failure text
    int code = 0;       // a proxy's refusal: its status
    bool cut = false;   // the body ended with the connection, which may have cut it short
    std::chrono::milliseconds elapsed{};
};

class Face {
public:
    virtual ~Face() = default;
    virtual Outcome Request(const QByteArray& url) = 0;
    // Nothing is left half-done: no connection open, no request running.
    virtual bool Idle() const = 0;

    TNetworkOptions Network;
    QByteArray User = "alice";
    QByteArray Password = "secret";
    int TimeoutMs = 5000;
};

class ReadFace : public Face {
public:
    Outcome Request(const QByteArray& url) override
    {
        m_client.Network = Network;
        m_client.ReadTimeout = m_client.TotalTimeout = TimeoutMs;
        m_client.Request().Username = User;
        m_client.Request().Password = Password;
        m_client.Request().BasicAuthentication = true;
        Outcome o;
        const auto start = std::chrono::steady_clock::now();
        try {
            o.body = m_client.FetchText(url);
            o.ok = true;
        } catch (const EProxyError& e) {
            o.error = e.Message();
            o.code = e.ReplyCode();
        } catch (const EConnectionClosed& e) {
            o.error = e.Message();
            o.cut = true;
        } catch (const EHttpClientError& e) {
            o.error = e.Message();
        }
        o.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return o;
    }
    bool Idle() const override { return !m_client.Connected(); }

private:
    TBlockingHttpClient m_client;
};

class PostFace : public Face {
public:
    Outcome Request(const QByteArray& url) override
    {
        THttpCliRequest r;
        r.URL = url;
        r.Body = "id=1";
        r.RequestVer = "1.1";
        r.ServerAuth = httpAuthBasic;
        r.Username = User;
        r.Password = Password;
        r.Network = Network;
        QBuffer reply;
        reply.open(QIODevice::WriteOnly);
        r.ReplyStream = &reply;
        m_cli.Timeout = TimeoutMs;
        const auto start = std::chrono::steady_clock::now();
        const THttpCliResult result = PostAndWait(m_cli, r);
        Outcome o;
        o.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        o.ok = result.Accepted();
        o.body = reply.data();
        o.error = result.ErrorMessage;
        o.code = result.Why == THttpCliFailure::Proxy ? result.ErrorCode : 0;
        o.cut = result.Truncated;
        return o;
    }
    bool Idle() const override { return m_cli.State() == httpReady; }

private:
    THttpCli m_cli;
};

enum class TFace { Read, Post };

std::unique_ptr<Face> make(TFace face)
{
    if (face == TFace::Read)
        return std::make_unique<ReadFace>();
    return std::make_unique<PostFace>();
}

std::string faceName(TFace face)
{
    return face == TFace::Read ? "Read" : "Post";
}

QByteArray basic(const QByteArray& userPassword)
{
    return "Basic " + userPassword.toBase64();
}

class Faces : public testing::TestWithParam<TFace> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString();
        m_face = make(GetParam());
    }
    Face& face() { return *m_face; }
    Face& trusting()
    {
        m_face->Network.CaFile = certs().caFile();
        return *m_face;
    }

private:
    std::unique_ptr<Face> m_face;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Both, Faces, testing::Values(TFace::Read, TFace::Post),
                         [](const auto& info) { return faceName(info.param); });

TEST_P(Faces, KeptTlsConnectionCarriesTheNextRequest)
{
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok", Ok200 + "Content-Length: 3\r\n\r\nyes"}});
    EXPECT_EQ(trusting().Request(server.baseUrl() + "/a.xml").body, "ok");
    EXPECT_EQ(face().Request(server.baseUrl() + "/b.xml").body, "yes");
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_TRUE(server.request(0).contains("\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n"));
    // Trusting less is another route: the connection made with more trust is not taken.
    face().Network.CaFile.clear();
    EXPECT_EQ(face().Request(server.baseUrl() + "/c.xml").error,
              TlsFailureText("127.0.0.1", TCertificateProblem::UntrustedIssuer, QString()));
}

struct Refusal {
    const char* name;
    QString (TestCertificates::*cert)() const;
    QString (TestCertificates::*key)() const;
    bool trustTestAuthority;
    TCertificateProblem problem;
};

class FacesRefusal : public testing::TestWithParam<std::tuple<TFace, Refusal>> {};

// Nothing is sent past a refused certificate, and both faces say why in the same words.
TEST_P(FacesRefusal, CertificateIsRefusedNamingTheReason)
{
    ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString();
    const auto& [kind, c] = GetParam();
    TlsServer server((certs().*c.cert)(), (certs().*c.key)());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}});
    auto face = make(kind);
    if (c.trustTestAuthority)
        face->Network.CaFile = certs().caFile();
    const Outcome o = face->Request(server.baseUrl() + "/x.xml");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, TlsFailureText("127.0.0.1", c.problem, QString()));
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.handshakes(), 0);
    EXPECT_TRUE(server.request(0).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacesRefusal,
    testing::Combine(
        testing::Values(TFace::Read, TFace::Post),
        testing::Values(
            Refusal{"SystemAuthoritiesOnly", &TestCertificates::serverCert, &TestCertificates::serverKey, false,
                    TCertificateProblem::UntrustedIssuer},
            Refusal{"AnotherHostName", &TestCertificates::wrongHostCert, &TestCertificates::wrongHostKey, true,
                    TCertificateProblem::HostMismatch},
            Refusal{"Expired", &TestCertificates::expiredCert, &TestCertificates::expiredKey, true,
                    TCertificateProblem::Expired},
            Refusal{"SelfSigned", &TestCertificates::selfSignedCert, &TestCertificates::selfSignedKey, true,
                    TCertificateProblem::UntrustedIssuer})),
    [](const auto& info) { return faceName(std::get<0>(info.param)) + std::get<1>(info.param).name; });

TEST_P(Faces, UnreadableCaFileIsNamed)
{
    TlsServer server(certs().serverCert(), certs().serverKey());
    for (const QString& file : {QStringLiteral("/no/such/ca.pem"), certs().path(QStringLiteral("local.ext"))}) {
        face().Network.CaFile = file;
        const Outcome o = face().Request(server.baseUrl() + "/x.xml");
        EXPECT_FALSE(o.ok);
        EXPECT_TRUE(o.error.contains(file)) << o.error.toStdString();
    }
    EXPECT_EQ(server.handshakes(), 0);
}

struct Handshake {
    const char* name;
    ScriptedServer::Script script;
    int timeoutMs;
    const char* readDetail;     // in each face's failure text
    const char* postDetail;
};

class FacesHandshake : public testing::TestWithParam<std::tuple<TFace, Handshake>> {};

// A record header announcing a ServerHello of 122 bytes, and only the start of it.
const QByteArray HalfServerHello = QByteArray("\x16\x03\x03\x00\x7a\x02\x00\x00\x76\x03\x03", 11) + QByteArray(20, '\x5a');

TEST_P(FacesHandshake, EndsWithinItsBound)
{
    const auto& [kind, c] = GetParam();
    ScriptedServer server;
    server.addConnection(c.script);
    auto face = make(kind);
    face->Network.CaFile = certs().caFile();
    face->TimeoutMs = c.timeoutMs;
    const Outcome o = face->Request("https://127.0.0.1:" + QByteArray::number(server.port()) + "/");
    EXPECT_FALSE(o.ok);
    const QString failed = TlsFailureText("127.0.0.1", TCertificateProblem::None, QString());
    EXPECT_TRUE(o.error.startsWith(failed)) << o.error.toStdString();
    EXPECT_TRUE(o.error.contains(QString::fromLatin1(kind == TFace::Read ? c.readDetail : c.postDetail)))
        << o.error.toStdString();
    EXPECT_LT(o.elapsed, std::chrono::milliseconds(c.timeoutMs + 1500));
    EXPECT_TRUE(face->Idle());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacesHandshake,
    testing::Combine(
        testing::Values(TFace::Read, TFace::Post),
        testing::Values(
            Handshake{"PlainHttpServer",
                      {Step::readBytes(1), Step::send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"), Step::close()},
                      5000, "does not speak TLS", "wrong version number"},
            Handshake{"SilentServer", {Step::waitForClose(10000)}, 300, "timed out", "Connection timed out (Error #10060)"},
            Handshake{"HalfServerHello", {Step::readBytes(1), Step::send(HalfServerHello), Step::waitForClose(10000)}, 300, "timed out", "timed out"},
            Handshake{"TrickledServerHello", {Step::readBytes(1), Step::trickle(HalfServerHello, 100)}, 800, "timed out", "timed out"},
            Handshake{"ClosedHalfWay", {Step::readBytes(1), Step::send(HalfServerHello), Step::close()}, 5000, "closed the connection", "The remote host closed the connection"})),
    [](const auto& info) { return faceName(std::get<0>(info.param)) + std::get<1>(info.param).name; });

// A body read to the close is whole only when the close is TLS's own; a bare TCP close
// may be an attacker's cut. With a length the body's end is known either way.
TEST_P(Faces, BodyEndsWholeOnlyAtATlsClose)
{
    const QByteArray untilClose = Ok200 + "Content-Type: text/xml\r\n\r\n<whole/>";
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{untilClose}, true});
    server.addConnection({{untilClose}, false});
    server.addConnection({{Ok200 + "Content-Length: 3\r\n\r\nabc"}, false});
    const Outcome whole = trusting().Request(server.baseUrl() + "/1");
    EXPECT_EQ(whole.body, "<whole/>");
    EXPECT_FALSE(whole.cut);
    EXPECT_TRUE(face().Request(server.baseUrl() + "/2").cut);
    const Outcome stated = face().Request(server.baseUrl() + "/3");
    EXPECT_EQ(stated.body, "abc");
    EXPECT_FALSE(stated.cut);
}

TEST_P(Faces, ConnectNeverAcceptedTimesOutWithinItsBound)
{
    // A listener whose backlog is full drops further connection attempts unanswered. The
    // post's connect must not hold the event loop meanwhile, or the window freezes with it.
    quint16 port = 0;
    const int listener = ListenOnLoopback(&port, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ::usleep(50000);
    face().TimeoutMs = 500;
    const Outcome o = face().Request("http://127.0.0.1:" + QByteArray::number(port) + "/");
    EXPECT_EQ(o.error, GetParam() == TFace::Read ? QStringLiteral("Connect timed out.")
                                                 : QStringLiteral("Connection timed out (Error #10060)"));
    EXPECT_LT(o.elapsed, 3s);
    EXPECT_TRUE(face().Idle());
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

// ---- proxies ------------------------------------------------------------------------

TEST_P(Faces, PlainHttpGoesToTheProxyWithTheWholeAddress)
{
    ScriptedServer proxy, origin;
    proxy.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\np"), Step::waitForClose(5000)});
    origin.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 1\r\nConnection: close\r\n\r\no"));
    face().Network.HttpProxy = TProxy{"127.0.0.1", proxy.port(), "pu", "pp"};
    const QByteArray url = origin.baseUrl() + "/dir/a.xml?x=1";
    EXPECT_EQ(face().Request(url).body, "p");
    // Only the same route takes the kept connection.
    face().Network.NoProxy = {"127.0.0.1"};
    EXPECT_EQ(face().Request(url).body, "o");
    ASSERT_TRUE(origin.waitForFinished(1));
    ASSERT_TRUE(proxy.waitForFinished(1));

    const QByteArray viaProxy = proxy.request(0);
    EXPECT_TRUE(viaProxy.contains(" " + url + " HTTP/1.1\r\n")) << viaProxy.constData();
    EXPECT_TRUE(viaProxy.contains("\r\nHost: 127.0.0.1:" + QByteArray::number(origin.port()) + "\r\n"));
    EXPECT_TRUE(viaProxy.contains("\r\nAuthorization: " + basic("alice:secret") + "\r\n"));
    EXPECT_TRUE(viaProxy.contains("\r\nProxy-Authorization: " + basic("pu:pp") + "\r\n"));
    EXPECT_EQ(proxy.connectionCount(), 1);
    EXPECT_TRUE(origin.request(0).contains(" /dir/a.xml?x=1 HTTP/1.1\r\n"));
    EXPECT_FALSE(origin.request(0).contains("Proxy-Authorization"));
}

TEST_P(Faces, TunnelCarriesTheServiceCredentialsOutOfTheProxysSight)
{
    // One server plays the proxy (the CONNECT in the clear) and then the origin.
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}, true, true});
    trusting().Network.HttpsProxy = TProxy{"127.0.0.1", server.port(), "pu", "pp"};
    // What the server was sent is kept as it reads it, before it answers.
    EXPECT_EQ(face().Request("https://localhost:4443/t.xml").body, "ok");
    EXPECT_EQ(server.plainRequest(0), "CONNECT localhost:4443 HTTP/1.1\r\nHost: localhost:4443\r\n"
                                      "Proxy-Authorization: " + basic("pu:pp") + "\r\n\r\n");
    const QByteArray inside = server.request(0);
    EXPECT_TRUE(inside.contains(" /t.xml HTTP/1.1\r\n")) << inside.constData();
    EXPECT_TRUE(inside.contains("\r\nHost: localhost:4443\r\n"));
    EXPECT_TRUE(inside.contains("\r\nAuthorization: " + basic("alice:secret") + "\r\n"));
    EXPECT_FALSE(inside.contains("Proxy-Authorization"));
}

TEST_P(Faces, RefusedTunnelFailsWithTheProxysStatus)
{
    ScriptedServer proxy;
    proxy.addConnection(ScriptedServer::reply("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                              "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"));
    face().Network.HttpsProxy = TProxy{"127.0.0.1", proxy.port(), "pu", "pp"};
    const Outcome o = face().Request("https://origin.example/x.xml");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.code, 407);
    EXPECT_EQ(o.error, QStringLiteral("Proxy refused the tunnel: 407 Proxy Authentication Required"));
    ASSERT_TRUE(proxy.waitForFinished(1));
    EXPECT_EQ(proxy.request(0), "CONNECT origin.example:443 HTTP/1.1\r\nHost: origin.example:443\r\n"
                                "Proxy-Authorization: " + basic("pu:pp") + "\r\n\r\n");
}

// ---- credentials ----------------------------------------------------------------------

struct Credentials {
    const char* name;
    QByteArray userInfo;        // written in the service's address, before the host
    QByteArray user, password;  // the account's
    QByteArray proxy;           // the proxy's address with its credentials; empty: direct
    QByteArray authorization;   // user:password as the service receives it
    QByteArray proxyAuthorization;
};

class FacesCredentials : public testing::TestWithParam<std::tuple<TFace, Credentials>> {};

TEST_P(FacesCredentials, ReachTheServerWhole)
{
    const auto& [kind, c] = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 0\r\nConnection: close\r\n\r\n"));
    auto face = make(kind);
    face->User = c.user;
    face->Password = c.password;
    QByteArray proxy = c.proxy;
    if (!proxy.isEmpty())
        face->Network.HttpProxy = ParseProxy(proxy.replace("PORT", QByteArray::number(server.port())));
    face->Request("http://" + c.userInfo + "127.0.0.1:" + QByteArray::number(server.port()) + "/x");
    ASSERT_TRUE(server.waitForFinished(1));
    const QByteArray head = server.request(0);
    EXPECT_TRUE(head.contains("\r\nAuthorization: " + basic(c.authorization) + "\r\n")) << head.constData();
    EXPECT_FALSE(head.contains('@')) << "user information goes in no line but the credentials'";
    if (!c.proxyAuthorization.isEmpty()) {
        EXPECT_TRUE(head.contains("\r\nProxy-Authorization: " + basic(c.proxyAuthorization) + "\r\n"))
            << head.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacesCredentials,
    testing::Combine(
        testing::Values(TFace::Read, TFace::Post),
        testing::Values(
            Credentials{"AccountEndsTrimmed", "", " alice \t", "secret\r\n", "", "alice:secret", ""},
            Credentials{"AddressReplacesTheAccount", "u2:p2@", "alice", "secret", "", "u2:p2", ""},
            // The user information runs to the last "@", its user name to the first ":".
            Credentials{"AtAndColonInTheAddress", "a%3Ab@c:p@s:s@", "alice", "secret", "", "a:b@c:p@s:s", ""},
            Credentials{"AtAndColonInTheProxysAddress", "", "alice", "secret", "http://p%3Au@x:w@d:r@127.0.0.1:PORT",
                        "alice:secret", "p:u@x:w@d:r"})),
    [](const auto& info) { return faceName(std::get<0>(info.param)) + std::get<1>(info.param).name; });
