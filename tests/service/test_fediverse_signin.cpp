// Finding the family of an address, signing in to a fediverse server and reading its
// posting limit, against scripted loopback peers shaped after the servers' own replies.
#include "service/FediverseSignIn.h"
#include "service/ServerConfig.h"
#include "service/ServiceAccount.h"
#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

QByteArray Reply(const QByteArray& statusLine, const QByteArray& body, const QByteArray& type = "application/json")
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: " + type + "\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

const QByteArray kNotFound = Reply("404 Not Found", R"j({"error":"Record not found"})j");

// What differs between the servers on these calls.
struct Shape {
    const char* Name;
    QByteArray InstanceV1;
    QByteArray InstanceV2;      // the whole reply
    QByteArray BadToken;        // the reply to a token it does not know
    bool TakesPassword;
    int Limit;
    QString Words;              // the line's words for the bad token
};

void PrintTo(const Shape& shape, std::ostream* out)
{
    *out << shape.Name;
}

const Shape kShapes[] = {
    {"Mastodon", R"j({"uri":"m.example","version":"4.3.0","configuration":{"statuses":{"max_characters":500}}})j",
     Reply("200 OK", R"j({"domain":"m.example","version":"4.3.0","configuration":{"statuses":{"max_characters":1000}}})j"),
     Reply("401 Unauthorized", R"j({"error":"The access token is invalid"})j"), false, 1000,
     QStringLiteral("The access token is invalid")},
    {"GoToSocial", R"j({"uri":"g.example","version":"0.17.0","configuration":{"statuses":{"max_characters":5000}}})j",
     Reply("200 OK", R"j({"domain":"g.example","version":"0.17.0","configuration":{"statuses":{"max_characters":5000}}})j"),
     Reply("401 Unauthorized", R"j({"error":"Unauthorized: token not valid"})j"), false, 5000,
     QStringLiteral("Unauthorized: token not valid")},
    // Akkoma serves no v2 and publishes max_toot_chars alone; a bad token is a 403.
    {"Akkoma", R"j({"uri":"a.example","version":"2.7.2 (compatible; Akkoma 3.16.0)","max_toot_chars":6000})j", kNotFound,
     Reply("403 Forbidden", R"j({"error":"Invalid credentials."})j"), false, 6000, QStringLiteral("Invalid credentials.")},
    // Friendica answers a refusal with a web page: the status alone says it.
    {"Friendica",
     R"j({"uri":"f.example","version":"2.8.0 (compatible; Friendica 2024.09)","configuration":{"statuses":{"max_characters":200000}}})j",
     kNotFound, Reply("401 Unauthorized", "<html><body>Unauthorized</body></html>", "text/html"), true, 200000,
     QStringLiteral("401 Unauthorized")},
};

class FediverseServers : public ::testing::TestWithParam<Shape> {};

TEST_P(FediverseServers, FoundAsTheFediverseWithTheLimitItPublishes)
{
    const Shape& shape = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kNotFound));  // no XML configuration here
    server.addConnection(ScriptedServer::reply(Reply("200 OK", shape.InstanceV1)));
    server.addConnection(ScriptedServer::reply(shape.InstanceV2));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", shape.InstanceV1)));

    TFamilyProbe probe;
    QSignalSpy found(&probe, &TFamilyProbe::Found);
    const QString origin = QString::fromUtf8(server.baseUrl());
    probe.Start(origin + QStringLiteral("/"), {});
    ASSERT_TRUE(found.wait(10000));
    const auto family = found.first().first().value<TFamilyFound>();
    EXPECT_EQ(family.Kind, TFamilyFound::Fediverse);
    EXPECT_EQ(family.ApiBase, origin);
    EXPECT_EQ(family.TakesPassword, shape.TakesPassword);
    EXPECT_TRUE(server.request(0).startsWith("GET /statusnet/config.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(1).startsWith("GET /api/v1/instance HTTP/1.1\r\n"));

    TServiceAccount account(origin, QStringLiteral("alice"), QString(), {});
    account.Family = TServiceFamily::Fediverse;
    account.Token = QStringLiteral("secret-token");
    const TServerConfig config = ReadServerConfig(account, {2000, 4000, 1024 * 1024});
    EXPECT_EQ(config.TextLimit, shape.Limit);
    EXPECT_TRUE(server.request(2).startsWith("GET /api/v2/instance HTTP/1.1\r\n"));
    for (const QByteArray& request : server.requests())
        EXPECT_FALSE(request.contains("secret-token")) << "the instance is public: no token goes there";
}

// The line and the log say a sign-in failed, never the token.
TEST_P(FediverseServers, ARefusedTokenEndsWithTheServersOwnWords)
{
    const Shape& shape = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(shape.BadToken));
    TFediverseSignIn signIn;
    signIn.SetServer(QString::fromUtf8(server.baseUrl()), {}, {});
    QSignalSpy finished(&signIn, &TFediverseSignIn::Finished);
    static QStringList s_log;
    s_log.clear();
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& line) { s_log << line; });
    signIn.UseToken(QStringLiteral(" stale-token "));
    const bool ended = finished.wait(10000);
    qInstallMessageHandler(previous);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(s_log.join('|').startsWith(QLatin1String("sign-in not completed at"))) << s_log.join('|').toStdString();
    EXPECT_FALSE(s_log.join('|').contains(QLatin1String("stale-token")));
    const auto result = finished.first().first().value<TSignedIn>();
    EXPECT_FALSE(result.Ok);
    EXPECT_TRUE(result.Line.contains(shape.Words)) << result.Line.toStdString();
    EXPECT_FALSE(result.Line.contains(QLatin1String("stale-token")));
    EXPECT_FALSE(result.Line.contains(QLatin1String("<html")));
    EXPECT_TRUE(server.request(0).startsWith("GET /api/v1/accounts/verify_credentials HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(0).contains("\r\nAuthorization: Bearer stale-token\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Shapes, FediverseServers, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.Name); });

// The program registers once, the page carries a fresh state and an S256 challenge, and
// the code goes back with the verifier and the client's credentials in the body (never
// as Basic, which GoToSocial does not read); the token then asks who signed in.
TEST(FediverseSignIn, TheOAuthRoadFromRegistrationToTheAccount)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(
        Reply("200 OK", R"j({"id":"3","name":"Brimlark_Simple","client_id":"cid","client_secret":"csecret"})j")));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", R"j({"access_token":"tok","token_type":"Bearer"})j")));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", R"j({"id":"9","username":"alice","acct":"alice"})j")));
    TFediverseSignIn signIn;
    signIn.SetServer(QString::fromUtf8(server.baseUrl()), {}, {});
    QSignalSpy ready(&signIn, &TFediverseSignIn::AuthorizationReady);
    QSignalSpy finished(&signIn, &TFediverseSignIn::Finished);
    QSignalSpy registered(&signIn, &TFediverseSignIn::ClientChanged);

    signIn.StartAuthorization();
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_TRUE(server.request(0).startsWith("POST /api/v1/apps HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\nclient_name=Brimlark_Simple&redirect_uris=urn%3Aietf%3Awg%3Aoauth%3A2.0%3Aoob"
                                           "&scopes=read+write&website=https%3A%2F%2Fbrimlark.example.org%2Fsimple%2F"))
        << server.request(0).toStdString();
    const QUrl page = ready.first().first().toUrl();
    const QUrlQuery asked(page);
    EXPECT_EQ(page.path(), QStringLiteral("/oauth/authorize"));
    EXPECT_EQ(asked.queryItemValue("client_id"), QStringLiteral("cid"));
    EXPECT_EQ(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded), QStringLiteral("urn:ietf:wg:oauth:2.0:oob"));
    EXPECT_EQ(asked.queryItemValue("scope", QUrl::FullyDecoded), QStringLiteral("read write"));
    EXPECT_EQ(asked.queryItemValue("code_challenge_method"), QStringLiteral("S256"));
    const QString state = asked.queryItemValue("state");

    // The address the page went to is taken as well as the bare code.
    signIn.ExchangeCode(QStringLiteral("urn:ietf:wg:oauth:2.0:oob?code=the-code&state=") + state);
    ASSERT_TRUE(finished.wait(10000));
    const QByteArray token = server.request(1);
    EXPECT_TRUE(token.startsWith("POST /oauth/token HTTP/1.1\r\n"));
    EXPECT_FALSE(token.contains("Authorization:"));
    const QUrlQuery sent(QString::fromUtf8(token.mid(token.indexOf("\r\n\r\n") + 4)));
    EXPECT_EQ(sent.queryItemValue("grant_type"), QStringLiteral("authorization_code"));
    EXPECT_EQ(sent.queryItemValue("code"), QStringLiteral("the-code"));
    EXPECT_EQ(sent.queryItemValue("client_id"), QStringLiteral("cid"));
    EXPECT_EQ(sent.queryItemValue("client_secret"), QStringLiteral("csecret"));
    const QByteArray verifier = sent.queryItemValue("code_verifier").toLatin1();
    EXPECT_EQ(verifier.size(), 43);
    EXPECT_EQ(PkceChallenge(verifier), asked.queryItemValue("code_challenge").toLatin1());
    EXPECT_TRUE(server.request(2).contains("\r\nAuthorization: Bearer tok\r\n"));
    const auto result = finished.first().first().value<TSignedIn>();
    ASSERT_TRUE(result.Ok) << result.Line.toStdString();
    EXPECT_EQ(result.AccountName, QStringLiteral("alice"));
    EXPECT_EQ(result.Token, QStringLiteral("tok"));
    EXPECT_EQ(result.Client, (TOAuthClient{QStringLiteral("cid"), QStringLiteral("csecret")}));

    // The next sign-in registers nothing and starts afresh; a code for another page is refused.
    signIn.StartAuthorization();
    ASSERT_TRUE(ready.wait(10000));
    const QUrlQuery again(ready.last().first().toUrl());
    EXPECT_NE(again.queryItemValue("state"), state);
    EXPECT_NE(again.queryItemValue("code_challenge"), asked.queryItemValue("code_challenge"));
    signIn.ExchangeCode(QStringLiteral("?code=the-code&state=") + state);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(finished.last().first().value<TSignedIn>().Ok);
    EXPECT_EQ(server.connectionCount(), 3);

    // A wrong code keeps the registration; a client the server no longer knows is dropped
    // and made anew at the next sign-in.
    server.addConnection(ScriptedServer::reply(Reply("400 Bad Request", R"j({"error":"invalid_grant"})j")));
    server.addConnection(ScriptedServer::reply(Reply("401 Unauthorized", R"j({"error":"invalid_client"})j")));
    server.addConnection(ScriptedServer::reply(
        Reply("200 OK", R"j({"id":"4","client_id":"cid2","client_secret":"csecret2"})j")));
    for (int i = 0; i < 2; ++i) {
        signIn.ExchangeCode(QStringLiteral("old-code"));
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_EQ(registered.count(), 1 + i);  // the first: registered above
    }
    EXPECT_EQ(registered.last().first().value<TOAuthClient>(), TOAuthClient{});
    signIn.StartAuthorization();
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_EQ(QUrlQuery(ready.last().first().toUrl()).queryItemValue("client_id"), QStringLiteral("cid2"));
}

// Friendica takes the account and password on its client API; the password is kept.
TEST(FediverseSignIn, AnAccountAndPasswordGoAsBasic)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("200 OK", R"j({"id":"2","username":"bob","acct":"bob"})j")));
    TFediverseSignIn signIn;
    signIn.SetServer(QString::fromUtf8(server.baseUrl()), {}, {});
    QSignalSpy finished(&signIn, &TFediverseSignIn::Finished);
    signIn.UsePassword(QStringLiteral("bob"), QStringLiteral("pw"));
    ASSERT_TRUE(finished.wait(10000));
    const auto result = finished.first().first().value<TSignedIn>();
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.Password, QStringLiteral("pw"));
    EXPECT_TRUE(result.Token.isEmpty());
    EXPECT_TRUE(server.request(0).contains("\r\nAuthorization: Basic " + QByteArray("bob:pw").toBase64() + "\r\n"));
}

// Plain http beyond this machine is refused before a byte is sent; a relocation to
// another host is followed without the token.
TEST(FediverseSignIn, NoTokenOverPlainHttpOrToAnotherHost)
{
    TFediverseSignIn remote;
    remote.SetServer(QStringLiteral("http://192.0.2.1"), {}, {});
    QSignalSpy refused(&remote, &TFediverseSignIn::Finished);
    remote.UseToken(QStringLiteral("tok"));
    ASSERT_TRUE(refused.wait(5000));
    EXPECT_TRUE(refused.first().first().value<TSignedIn>().Line.contains(QLatin1String("https://")));

    ScriptedServer elsewhere;
    elsewhere.addConnection(ScriptedServer::reply(Reply("200 OK", R"j({"id":"2","username":"bob"})j")));
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(
        "HTTP/1.1 307 Temporary Redirect\r\nLocation: http://localhost:" + QByteArray::number(elsewhere.port())
        + "/api/v1/accounts/verify_credentials\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    TFediverseSignIn signIn;
    signIn.SetServer(QString::fromUtf8(server.baseUrl()), {}, {});
    QSignalSpy finished(&signIn, &TFediverseSignIn::Finished);
    signIn.UseToken(QStringLiteral("tok"));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(server.request(0).contains("Authorization: Bearer tok"));
    ASSERT_TRUE(elsewhere.waitForFinished(1));
    EXPECT_FALSE(elsewhere.request(0).contains("tok")) << elsewhere.request(0).toStdString();
}

// An XML server is found by its configuration document (a private one by its refusal);
// an address with neither face is said plainly.
TEST(FamilyProbe, TheXmlFamilyAndNeither)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("200 OK", "<config><site><textlimit>140</textlimit></site></config>",
                                                     "application/xml")));
    server.addConnection(ScriptedServer::reply(kNotFound));
    server.addConnection(ScriptedServer::reply(Reply("404 Not Found", "<html>nothing</html>", "text/html")));
    TFamilyProbe probe;
    QSignalSpy found(&probe, &TFamilyProbe::Found);
    const QString base = QString::fromUtf8(server.baseUrl()) + QStringLiteral("/api");
    probe.Start(base, {});
    ASSERT_TRUE(found.wait(10000));
    EXPECT_EQ(found.first().first().value<TFamilyFound>().Kind, TFamilyFound::Classic);
    EXPECT_EQ(found.first().first().value<TFamilyFound>().ApiBase, base);
    probe.Start(base, {});
    ASSERT_TRUE(found.wait(10000));
    const auto neither = found.last().first().value<TFamilyFound>();
    EXPECT_EQ(neither.Kind, TFamilyFound::Neither);
    EXPECT_TRUE(neither.Line.contains(base)) << neither.Line.toStdString();
    // A private XML site answers its configuration only to its accounts.
    server.addConnection(ScriptedServer::reply(Reply("401 Unauthorized", "<hash><error>no</error></hash>", "application/xml")));
    server.addConnection(ScriptedServer::reply(kNotFound));
    probe.Start(base, {});
    ASSERT_TRUE(found.wait(10000));
    EXPECT_EQ(found.last().first().value<TFamilyFound>().Kind, TFamilyFound::Classic);
    EXPECT_EQ(server.connectionCount(), 5);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
