// Two rules that a planted fault once slipped past: a certificate is checked against a
// host given by name (not only against an address), and only a 2xx reply accepts a post.
#include "http/BlockingHttpClient.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "PostWait.h"
#include "ExpectError.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TlsServer.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

const QByteArray Ok200 = "HTTP/1.1 200 OK\r\n";

const TestCertificates& certs()
{
    static TestCertificates made;
    return made;
}

// A certificate from the test authority for the given subjectAltName, made once per name.
// Returns the base path: BASE.pem and BASE.key.
QString issuedFor(const QString& name, const QString& altName)
{
    const QString base = certs().path(name);
    if (QFile::exists(base + QStringLiteral(".pem")))
        return base;
    QFile ext(base + QStringLiteral(".ext"));
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=" + altName.toUtf8() + "\nextendedKeyUsage=serverAuth\n") < 0)
        return {};
    ext.close();
    const QString ca = certs().path(QStringLiteral("ca"));
    const auto openssl = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    if (!openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out", base + ".csr", "-subj",
                  "/CN=" + name})
        || !openssl({"x509", "-req", "-in", base + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial",
                     "-out", base + ".pem", "-days", "2", "-extfile", base + ".ext"}))
        return {};
    return base;
}

// The blocking client trusting the test authority, whose connections all go to the
// server's port on 127.0.0.1 whatever host the address names: the name alone is what the
// certificate is checked against.
std::unique_ptr<TBlockingHttpClient> clientReaching(const TlsServer& server)
{
    auto client = std::make_unique<TBlockingHttpClient>();
    client->Network.CaFile = certs().caFile();
    client->ReadTimeout = 5000;
    const quint16 port = server.port();
    client->TransportFactory = [port](const QByteArray&, quint16) {
        return TBlockingConnection::ConnectSocket("127.0.0.1", port, [] { return 5000; });
    };
    return client;
}

struct NameCase {
    const char* name;
    const char* host;     // in the address the client fetches
    const char* altName;  // of the server's certificate
    bool accepted;
};

class NamedHost : public testing::TestWithParam<NameCase> {
protected:
    void SetUp() override { ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString(); }
};

} // namespace

TEST_P(NamedHost, CertificateIsCheckedAgainstTheName)
{
    const NameCase& c = GetParam();
    const QString base = issuedFor(QString::fromLatin1(c.name), QString::fromLatin1(c.altName));
    ASSERT_FALSE(base.isEmpty()) << "openssl could not issue the certificate";
    TlsServer server(base + QStringLiteral(".pem"), base + QStringLiteral(".key"));
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}});
    auto client = clientReaching(server);
    const QByteArray url = QByteArray("https://") + c.host + "/x.xml";
    if (c.accepted) {
        EXPECT_EQ(client->FetchText(url), "ok");
        // The name goes in the handshake too, for a server with a certificate per name.
        EXPECT_EQ(server.serverName(0), QByteArray(c.host));
        // The scheme's own port is left out of the Host line.
        EXPECT_TRUE(server.request(0).contains("\r\nHost: " + QByteArray(c.host) + "\r\n"));
        return;
    }
    const auto e = expectError<ETlsError>([&] { client->FetchText(url); });
    EXPECT_EQ(e.Problem(), TCertificateProblem::HostMismatch) << e.Detail().toStdString();
    EXPECT_EQ(e.Host(), QByteArray(c.host));
    EXPECT_FALSE(client->RequestSent());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NamedHost,
    testing::Values(NameCase{"TheName", "api.example.org", "DNS:api.example.org", true},
                    NameCase{"AnotherName", "api.example.org", "DNS:www.example.org", false},
                    // An address in the certificate does not stand for a name.
                    NameCase{"AnAddressOnly", "localhost", "IP:127.0.0.1", false},
                    NameCase{"AWholeLabelWildcard", "api.example.org", "DNS:*.example.org", true},
                    // A wildcard inside a label ("a*") matches nothing.
                    NameCase{"APartialWildcard", "api.example.org", "DNS:a*.example.org", false}),
    [](const auto& info) { return std::string(info.param.name); });

// An address is checked against the certificate's addresses, and is no server name.
TEST(AddressHost, IsNotSentAsAServerName)
{
    ASSERT_TRUE(certs().isValid()) << certs().errorString().toStdString();
    TlsServer server(certs().serverCert(), certs().serverKey());
    server.addConnection({{Ok200 + "Content-Length: 2\r\n\r\nok"}});
    TBlockingHttpClient client;
    client.Network.CaFile = certs().caFile();
    client.ReadTimeout = 5000;
    EXPECT_EQ(client.FetchText(server.baseUrl() + "/x.xml"), "ok");
    EXPECT_EQ(server.serverName(0), QByteArray());
}

// ---- posts ------------------------------------------------------------------------------

struct ReplyCase {
    int code;
    bool accepted;
};

class PostReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(PostReply, OnlyA2xxAcceptsThePost)
{
    const ReplyCase& c = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 " + QByteArray::number(c.code)
                                               + " Whatever\r\nContent-Length: 9\r\nConnection: close\r\n\r\n<status/>"));
    THttpCli cli;
    cli.Timeout = 10000;
    const TServiceAccount account{QString::fromUtf8(server.baseUrl()), QStringLiteral("alice"), QStringLiteral("secret"), {}};
    const TPostOutcome outcome = PostStatusAndWait(cli, account, "status=x&source=brimlark");
    EXPECT_EQ(outcome.IsAccepted(), c.accepted) << c.code;
    EXPECT_EQ(outcome.StatusCode, c.code);
    if (!c.accepted) {
        EXPECT_EQ(outcome.Kind, TPostOutcome::HttpFailure);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, PostReply,
                         testing::Values(ReplyCase{199, false}, ReplyCase{200, true}, ReplyCase{201, true},
                                         ReplyCase{299, true}, ReplyCase{300, false}, ReplyCase{304, false},
                                         ReplyCase{401, false}),
                         [](const auto& info) { return std::to_string(info.param.code); });
