// Posts, replies, favourites and repeats on the fediverse's client API, against scripted
// loopback peers shaped after each server. This binary links no widgets.
#include "service/FavoriteRoute.h"
#include "service/ServicePost.h"

#include "PostWait.h"
#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

QByteArray Json(const QByteArray& statusLine, const QByteArray& body, const QByteArray& type = "application/json; charset=utf-8")
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: " + type + "\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray StatusJson(const QByteArray& id)
{
    return R"({"id":")" + id + R"(","content":"<p>hi</p>","account":{"id":"1","acct":"alice"},"favourited":true})";
}

TServiceAccount Fediverse(const ScriptedServer& server, const QString& token)
{
    TServiceAccount account(QString::fromUtf8(server.baseUrl()), QStringLiteral("alice"), QStringLiteral("secret"), {});
    account.Family = TServiceFamily::Fediverse;
    account.Token = token;
    return account;
}

QByteArray Header(const QByteArray& request, const QByteArray& name)
{
    const QRegularExpression line(QStringLiteral("\r\n%1: ([^\r]*)\r\n").arg(QString::fromLatin1(name)));
    return line.match(QString::fromLatin1(request)).captured(1).toLatin1();
}

// One server: the shape of its ids, whether the account signs with a token, and the
// refusal it is known for, with the lines the user reads about it.
struct TServer {
    const char* name;
    QByteArray id;
    QString token;
    QByteArray refusal;
    QStringList lines;
};

const QString kFailed = QStringLiteral("Post Failed ! StatusCode   = %1");

const TServer kServers[] = {
    {"Mastodon", "109876543210987654", QStringLiteral("tok-m"),
     Json("422 Unprocessable Entity", R"({"error":"Validation failed: Text character limit of 500 exceeded"})"),
     {kFailed.arg(422), QStringLiteral("ReasonPhrase = Unprocessable Entity"),
      QStringLiteral("サーバーのメッセージ: Validation failed: Text character limit of 500 exceeded")}},
    {"GoToSocial", "01HF5J9ZQK8M5V3X2Y7N4P6R8T", QStringLiteral("tok-g"),
     Json("400 Bad Request", R"({"error":"Bad Request: status too long, 501 characters provided, but limit is 500"})"),
     {kFailed.arg(400), QStringLiteral("ReasonPhrase = Bad Request"),
      QStringLiteral("サーバーのメッセージ: Bad Request: status too long, 501 characters provided, but limit is 500")}},
    {"Akkoma", "AbC9xYz0qRsTuVw1", QStringLiteral("tok-a"),
     Json("403 Forbidden", R"({"error":"Invalid credentials."})"),
     {kFailed.arg(403), QStringLiteral("ReasonPhrase = Forbidden"), QStringLiteral("サーバーのメッセージ: Invalid credentials.")}},
    // No token: the account and password, which Friendica takes; its refusal is a web page.
    {"Friendica", "4711", QString(),
     Json("401 Unauthorized", "<!DOCTYPE html><html><body><h1>Unauthorized</h1><p>{\"error\":\"x\"}</p></body></html>",
          "text/html"),
     {kFailed.arg(401), QStringLiteral("ReasonPhrase = Unauthorized")}},
};

class ClientApiTalk : public ::testing::TestWithParam<TServer> {};

} // namespace

// A reply, a favourite and a repeat reach each server's addresses with its own ids, signed
// as the account signs, and count only when the answer is a Status; the refusal each
// server is known for reaches the user in the server's words, a web page as its status.
TEST_P(ClientApiTalk, TalksAndReportsTheServersOwnRefusal)
{
    const TServer& s = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson("1"))));
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson(s.id))));
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson("2"))));
    server.addConnection(ScriptedServer::reply(s.refusal));
    const TServiceAccount account = Fediverse(server, s.token);
    THttpCli client;
    TFavoriteRoute route;

    const QByteArray body = StatusPostBody(account, QStringLiteral("@bob a&b\nです"), QString::fromLatin1(s.id));
    EXPECT_TRUE(PostStatusAndWait(client, account, body).IsAccepted());
    EXPECT_TRUE(PostFavoriteAndWait(route, client, account, QString::fromLatin1(s.id)).IsAccepted());
    EXPECT_TRUE(PostRetweetAndWait(client, account, QString::fromLatin1(s.id)).IsAccepted());
    const TPostOutcome refused = PostStatusAndWait(client, account, body);

    EXPECT_EQ(body, "status=@bob+a%26b%0A%E3%81%A7%E3%81%99&in_reply_to_id=" + s.id);
    const QByteArray post = server.request(0);
    EXPECT_TRUE(post.startsWith("POST /api/v1/statuses HTTP/1.1\r\n")) << post.left(60).constData();
    EXPECT_TRUE(post.endsWith("\r\n\r\n" + body));
    EXPECT_EQ(Header(post, "Accept"), "application/json");
    EXPECT_EQ(Header(post, "Idempotency-Key").size(), 36);
    EXPECT_TRUE(server.request(1).startsWith("POST /api/v1/statuses/" + s.id + "/favourite HTTP/1.1\r\n")) << server.request(1).constData();
    EXPECT_TRUE(server.request(2).startsWith("POST /api/v1/statuses/" + s.id + "/reblog HTTP/1.1\r\n"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Header(server.request(i), "Authorization"),
                  s.token.isEmpty() ? "Basic " + QByteArray("alice:secret").toBase64() : "Bearer " + s.token.toLatin1());
    }
    EXPECT_EQ(refused.Kind, TPostOutcome::HttpFailure);
    EXPECT_EQ(PostFailureLines(refused), s.lines);
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientApiTalk, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

// A post whose answer was lost goes again with the same key, so the server keeps it once;
// once it is in, the same text is a new post with a new key. A 2xx that is no Status is
// not posted.
TEST(ClientApiPost, TheSamePostAfterALostAnswerKeepsItsKey)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::close()});
    server.addConnection(ScriptedServer::reply(Json("200 OK", R"({"error":"x"})")));
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson("7"))));
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson("8"))));
    server.addConnection(ScriptedServer::reply(Json("200 OK", StatusJson("9"))));
    const TServiceAccount account = Fediverse(server, QStringLiteral("t"));
    THttpCli client;
    const QByteArray hello = StatusPostBody(account, QStringLiteral("hello"));

    EXPECT_EQ(PostStatusAndWait(client, account, hello).Kind, TPostOutcome::ConnectionFailure);
    EXPECT_EQ(PostStatusAndWait(client, account, hello).Kind, TPostOutcome::NotStatus);
    EXPECT_TRUE(PostStatusAndWait(client, account, hello).IsAccepted());
    EXPECT_TRUE(PostStatusAndWait(client, account, StatusPostBody(account, QStringLiteral("other"))).IsAccepted());
    EXPECT_TRUE(PostStatusAndWait(client, account, hello).IsAccepted());

    const QByteArray key = Header(server.request(0), "Idempotency-Key");
    EXPECT_EQ(Header(server.request(1), "Idempotency-Key"), key);
    EXPECT_EQ(Header(server.request(2), "Idempotency-Key"), key);
    QSet<QByteArray> later{key, Header(server.request(3), "Idempotency-Key"), Header(server.request(4), "Idempotency-Key")};
    EXPECT_EQ(later.size(), 3);
}

// The count a server holds a status to: the classic family's UTF-16 units, a break as two
// in the count and the first break gone from what is checked; the client API's
// characters as a reader sees them, each web address as 23.
TEST(StatusLength, EachFamilyCountsAsItsServersDo)
{
    TServiceAccount classic;
    TServiceAccount fediverse;
    fediverse.Family = TServiceFamily::Fediverse;
    struct Case { QString text; int classicShown; int classicCounted; int fediverse; };
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");  // one reader-visible character
    const Case cases[] = {
        {QStringLiteral("abc\ndef"), 8, 6, 7},
        {family + QStringLiteral("e\u0301"), 10, 10, 2},
        {QStringLiteral("見て https://example.com/a/very/long/path?with=query."), 51, 51, 3 + 23 + 1},
        {QStringLiteral("http://a.b, HTTPS://c.d/e)"), 26, 26, 23 + 2 + 23 + 1},
        {QStringLiteral("http:// alone"), 13, 13, 13},
    };
    for (const Case& c : cases) {
        const TStatusLength old = MeasureStatus(classic, c.text);
        EXPECT_EQ(old.Shown, c.classicShown) << c.text.toStdString();
        EXPECT_EQ(old.Counted, c.classicCounted) << c.text.toStdString();
        EXPECT_EQ(MeasureStatus(fediverse, c.text).Counted, c.fediverse) << c.text.toStdString();
    }
    EXPECT_EQ(UnpublishedTextLimit(classic), std::nullopt);
    EXPECT_EQ(UnpublishedTextLimit(fediverse), 500);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
