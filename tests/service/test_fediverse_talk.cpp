// Posts, replies, favourites and repeats on the fediverse's client API, against scripted
// loopback peers shaped after each server. This binary links no widgets.
#include "service/EventStream.h"
#include "service/FavoriteRoute.h"
#include "service/LiveStream.h"
#include "service/ServicePost.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineSource.h"

#include "PostWait.h"
#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

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

// One server: the shape of its ids, whether the account signs with a token, the refusal
// it is known for with the lines the user reads about it, and its answer to the event
// stream (empty: it streams).
struct TServer {
    const char* name;
    QByteArray id;
    QString token;
    QByteArray refusal;
    QStringList lines;
    QByteArray noStream;
};

// Hands the feed one page of one status when asked.
class TOnePage : public TTimelineSource {
public:
    void Read(const TPageRequest&) override
    {
        TTimelinePage page;
        page.Loaded = true;
        TTimelineStatus& row = page.Rows.emplace_back();
        row.Id = QStringLiteral("old");
        row.Name = QStringLiteral("n");
        row.Text = QStringLiteral("t");
        QMetaObject::invokeMethod(this, [this, page] { Q_EMIT PageRead(page); }, Qt::QueuedConnection);
    }
    void Abandon() override {}
};

const QString kFailed = QStringLiteral("Post Failed ! StatusCode   = %1");

const TServer kServers[] = {
    {"Mastodon", "109876543210987654", QStringLiteral("tok-m"),
     Json("422 Unprocessable Entity", R"({"error":"Validation failed: Text character limit of 500 exceeded"})"),
     {kFailed.arg(422), QStringLiteral("ReasonPhrase = Unprocessable Entity"),
      QStringLiteral("サーバーのメッセージ: Validation failed: Text character limit of 500 exceeded")}, {}},
    {"GoToSocial", "01HF5J9ZQK8M5V3X2Y7N4P6R8T", QStringLiteral("tok-g"),
     Json("400 Bad Request", R"({"error":"Bad Request: status too long, 501 characters provided, but limit is 500"})"),
     {kFailed.arg(400), QStringLiteral("ReasonPhrase = Bad Request"),
      QStringLiteral("サーバーのメッセージ: Bad Request: status too long, 501 characters provided, but limit is 500")},
     Json("404 Not Found", R"({"error":"Not Found"})")},
    {"Akkoma", "AbC9xYz0qRsTuVw1", QStringLiteral("tok-a"),
     Json("403 Forbidden", R"({"error":"Invalid credentials."})"),
     {kFailed.arg(403), QStringLiteral("ReasonPhrase = Forbidden"), QStringLiteral("サーバーのメッセージ: Invalid credentials.")},
     Json("404 Not Found", R"({"error":"Not Found"})")},
    // No token: the account and password, which Friendica takes; its refusal is a web page.
    {"Friendica", "4711", QString(),
     Json("401 Unauthorized", "<!DOCTYPE html><html><body><h1>Unauthorized</h1><p>{\"error\":\"x\"}</p></body></html>",
          "text/html"),
     {kFailed.arg(401), QStringLiteral("ReasonPhrase = Unauthorized")},
     Json("501 Not Implemented", R"({"error":"Not Implemented"})")},
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

// Where the server streams, a new status and a mention arrive in their lists between the
// reloads, new and counted once however often they come; the stream that goes quiet past
// two heartbeats is given up and tried again later. A server that refuses the stream (no
// such path, not implemented) leaves the reloads alone and is asked again later.
TEST_P(ClientApiTalk, PushesStatusesOrLeavesTheReloadsAlone)
{
    const TServer& s = GetParam();
    ScriptedServer streamer;
    const bool streams = s.noStream.isEmpty();
    const QByteArray mention = R"({"id":"n1","type":"mention","status":{"id":"m1","content":"<p>@me hi</p>","account":{"acct":"bob"}}})";
    const QByteArray follow = R"({"id":"n2","type":"follow","account":{"acct":"carol"}})";
    const QByteArray status = R"({"id":"01HF5J","content":"<p>new <a href=\"https://example.org/long/path\">example.org/lo…</a></p>","account":{"acct":"bob","display_name":"ボブ"}})";
    if (streams) {
        streamer.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\n:)\n"), Step::delay(50),
                                Step::send("event: update\ndata: " + status + "\n\n:thump\nevent: update\ndata: " + status + "\n\n"),
                                Step::send("event: notification\ndata: " + follow + "\n\nevent: notification\ndata: " + mention + "\n\n"),
                                Step::waitForClose(8000)});
    } else {
        streamer.addConnection(ScriptedServer::reply(s.noStream));
    }
    streamer.setDefaultScript(ScriptedServer::reply(Json("404 Not Found", "{}")));
    TSeenStatuses seen;
    TTimelineFeed friends(new TOnePage, &seen);
    TTimelineFeed mentions(new TOnePage, &seen);
    TServiceAccount account = Fediverse(streamer, s.token);
    TLiveStream live([&account] { return account; }, &friends, &mentions);
    live.HeartbeatMs = 150;
    live.RetryMs = 300;
    QSignalSpy liveChanged(&live, &TLiveStream::LiveChanged);
    QSignalSpy news(&friends, &TTimelineFeed::News);

    friends.Start(TFeedRead::StartUp);
    // Well before the server would close it: only the silence can end the stream this soon.
    ASSERT_TRUE(QTest::qWaitFor([&] { return streamer.connectionCount() >= 2; }, 4000)) << "tried again";

    EXPECT_TRUE(streamer.request(0).startsWith("GET /api/v1/streaming/user HTTP/1.1\r\n"));
    EXPECT_EQ(Header(streamer.request(0), "Accept"), "text/event-stream");
    EXPECT_EQ(Header(streamer.request(0), "Authorization").left(6), s.token.isEmpty() ? "Basic " : "Bearer");
    QStringList shown;
    for (const TTimelineStatus& row : friends.Model()->Rows())
        shown << row.Id + u'|' + row.Name + u'|' + row.Text + u'|' + (row.Seen ? u's' : u'n');
    const QStringList pushed{QStringLiteral("01HF5J|ボブ|new https://example.org/long/path|n")};
    EXPECT_EQ(shown, (streams ? pushed : QStringList()) + QStringList{QStringLiteral("old|n|t|s")});
    EXPECT_EQ(mentions.Model()->Count(), streams ? 1 : 0);
    EXPECT_EQ(news.count(), streams ? 1 : 0);
    QList<QVariant> changes;
    for (const QList<QVariant>& change : liveChanged)
        changes << change.at(0);
    EXPECT_EQ(changes, streams ? QList<QVariant>({true, false}) : QList<QVariant>());

    // An account on a server of the other family never opens one.
    account.Family = TServiceFamily::Classic;
    live.Start();
    const int asked = streamer.connectionCount();
    QTest::qWait(500);
    EXPECT_EQ(streamer.connectionCount(), asked);
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

// The stream as it may arrive: whole, cut at every byte, and byte by byte, each way read
// to the same events; lines end at CR LF, LF or CR; heartbeats are comments; a line or an
// event beyond its bound stops the reading.
TEST(EventStream, ReadsTheSameEventsHoweverTheBytesAreCut)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QList<TServerEvent> events;
        int comments;
        bool fails;
    };
    const Case cases[] = {
        {"update", ":)\nevent: update\ndata: {\"id\":\"1\"}\n\n", {{"update", "{\"id\":\"1\"}"}}, 1, false},
        {"line ends", "data: a\r\ndata:b\r\rdata: c\n\nevent: notification\r\ndata: d\r\n\r\n",
         {{"message", "a\nb"}, {"message", "c"}, {"notification", "d"}}, 0, false},
        {"heartbeats", ":thump\n:thump\n\n", {}, 2, false},
        {"no data, no event", "event: update\n\nid: 5\nretry: 10\ndata\n\n", {{"message", ""}}, 0, false},
        {"unfinished event", "event: update\ndata: {}\n", {}, 0, false},
        {"line too long", "data: " + QByteArray(70, 'x') + "\n\n", {}, 0, true},
        {"event too long", QByteArray("data: ").append(QByteArray(40, 'x')).append("\n").repeated(3) + "\n", {}, 0, true},
    };
    const TEventStreamParser::TLimits limits{64, 100};
    for (const Case& c : cases) {
        std::vector<std::vector<QByteArray>> cuts{{c.bytes}};
        for (qsizetype at = 1; at < c.bytes.size(); ++at)
            cuts.push_back({c.bytes.left(at), c.bytes.mid(at)});
        std::vector<QByteArray>& bytewise = cuts.emplace_back();
        for (char byte : c.bytes)
            bytewise.push_back(QByteArray(1, byte));
        for (const std::vector<QByteArray>& pieces : cuts) {
            TEventStreamParser parser(limits);
            for (const QByteArray& piece : pieces)
                parser.Feed(piece);
            EXPECT_EQ(parser.Failed(), c.fails) << c.name << " in " << pieces.size() << " pieces";
            EXPECT_EQ(parser.TakeEvents(), c.events) << c.name << " in " << pieces.size() << " pieces";
            EXPECT_EQ(parser.Comments(), c.comments) << c.name;
        }
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
