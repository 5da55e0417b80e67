// The fediverse's timeline pages: the JSON page as rows over the real JSON reader, and
// the timeline source against scripted loopback peers shaped like each server.
#include "service/FediverseRead.h"
#include "service/ReadOutcome.h"
#include "service/TimelineReader.h"
#include "service/TimelineSource.h"

#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

QByteArray Status(const QByteArray& id, const QByteArray& fields = {})
{
    return "{\"id\":\"" + id + "\",\"content\":\"<p>text " + id
         + "</p>\",\"account\":{\"username\":\"bob\",\"acct\":\"bob@b.example\",\"display_name\":\"\"}" + fields + "}";
}

QByteArray Json(const QByteArray& status, const QByteArray& body, const QByteArray& headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/json; charset=utf-8\r\n" + headers
         + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST(FediversePageRows, StatusesBecomeRows)
{
    const QByteArray home = "[" + Status("9", ",\"favourited\":true,\"in_reply_to_id\":\"8\",\"url\":\"https://b.example/@bob/9\"")
                          + ",{\"id\":\"20\",\"account\":{\"username\":\"carol\",\"display_name\":\"キャロル\"},\"reblog\":"
                          + Status("7") + "}," + Status("6", ",\"spoiler_text\":\"spoilers\"") + "]";
    const TFediverseRows rows = FediversePageRows(home, TTimeline::Friends);
    ASSERT_TRUE(rows.Ok()) << rows.Error.toStdString();
    ASSERT_EQ(rows.Rows.size(), 3);
    const TTimelineStatus& own = rows.Rows[0];
    EXPECT_EQ(QStringList({own.Id, own.Name, own.ScreenName, own.Text, own.Favorited, own.InReplyToId, own.ExternalUrl}),
              QStringList({"9", "bob", "bob@b.example", "text 9", "true", "8", "https://b.example/@bob/9"}));
    EXPECT_EQ(QStringList({rows.Rows[1].Id, rows.Rows[1].RepeatedBy, rows.Rows[1].Favorited}), QStringList({"7", "キャロル", "false"}));
    EXPECT_EQ(QStringList({rows.Rows[2].Text, rows.Rows[2].Detail}), QStringList({"spoilers", "text 6"}));
    EXPECT_EQ(rows.PagingIds, QStringList({"9", "20", "6"}));

    // Only mentions with their status are rows; paging goes by the notifications' ids.
    const QByteArray notifications = "[{\"id\":\"n3\",\"type\":\"favourite\",\"status\":" + Status("5")
                                   + "},{\"id\":\"n2\",\"type\":\"mention\",\"status\":" + Status("4")
                                   + "},{\"id\":\"n1\",\"type\":\"mention\",\"status\":null}]";
    const TFediverseRows mentions = FediversePageRows(notifications, TTimeline::Mentions);
    ASSERT_TRUE(mentions.Ok());
    ASSERT_EQ(mentions.Rows.size(), 1);
    EXPECT_EQ(mentions.Rows[0].Id, "4");
    EXPECT_EQ(mentions.PagingIds, QStringList({"n2"}));
    EXPECT_EQ(mentions.LastPagingId, "n1");

    const struct {
        QByteArray json;
        bool parsed;
    } bad[] = {{"<html>", false}, {"{\"error\":\"x\"}", true}, {"[1]", true}, {"[{\"id\":7}]", true}, {"[{}]", true}};
    for (const auto& b : bad) {
        const TFediverseRows r = FediversePageRows(b.json, TTimeline::Friends);
        EXPECT_EQ(r.Parsed, b.parsed) << b.json.constData();
        EXPECT_FALSE(r.Error.isEmpty()) << b.json.constData();
    }
}

namespace {

// What each server does differently, from what its source says it sends.
struct TServerShape {
    const char* name;
    QByteArray ids[3];              // two statuses on the first page, one on the next
    bool token;                     // signs in with a token; Friendica also takes the password
    QByteArray refusal;             // the reply to a token it does not accept
    QString refusalMessage;
    QByteArray rateHeaders;         // beside a 429
    bool retryAfterGiven;
    bool rebuilds;                  // answers 206 while the home timeline is built
};

void PrintTo(const TServerShape& shape, std::ostream* out) { *out << shape.name; }

QByteArray ResetIn30s()
{
    return "X-RateLimit-Reset: " + QDateTime::currentDateTimeUtc().addSecs(30).toString(Qt::ISODateWithMs).toLatin1() + "\r\n";
}

std::vector<TServerShape> Shapes()
{
    return {
        {"Mastodon", {"1090", "1089", "1085"}, true,
         Json("401 Unauthorized", "{\"error\":\"The access token is invalid\"}", "WWW-Authenticate: Bearer\r\n"),
         "The access token is invalid", ResetIn30s(), true, true},
        {"GoToSocial", {"01HQZ8W3B4Y9V6G2K7M0N5P1QR", "01HQZ8W3B4Y9V6G2K7M0N5P1QQ", "01HQZ8VZZZZZZZZZZZZZZZZZZZ"}, true,
         Json("401 Unauthorized", "{\"error\":\"Unauthorized: token invalid\"}"), "Unauthorized: token invalid",
         "Retry-After: 30\r\n", true, false},
        {"Akkoma", {"AdkxTZb6J1k8mRwDQe", "AdkxTZ9yCpLrcH5Xbs", "Adkx0000000000000a"}, true,
         Json("403 Forbidden", "{\"error\":\"Invalid credentials.\"}"), "Invalid credentials.", {}, false, false},
        {"Friendica", {"5003", "5002", "4990"}, false,
         "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/html\r\nContent-Length: 20\r\n\r\n<html>Sorry.</html>\n",
         "HTTP/1.1 401 Unauthorized", {}, false, false},
    };
}

class FediverseSource : public ::testing::TestWithParam<TServerShape> {
protected:
    TServiceAccount Account() const
    {
        TServiceAccount account(QString::fromLatin1(m_server.baseUrl()), QStringLiteral("alice"),
                                GetParam().token ? QString() : QStringLiteral("pw"), {});
        account.Family = TServiceFamily::Fediverse;
        if (GetParam().token)
            account.Token = QStringLiteral("tok-1");
        return account;
    }
    TTimelineSource* Source(TTimeline timeline, TTimelineReader* reader = nullptr)
    {
        return MakeTimelineSource(timeline, [this] { return Account(); }, kBounds, reader, &m_owner);
    }
    static TTimelinePage Read(TTimelineSource* source, const TPageRequest& request)
    {
        QSignalSpy read(source, &TTimelineSource::PageRead);
        source->Read(request);
        EXPECT_TRUE(read.wait(15000));
        return read.isEmpty() ? TTimelinePage() : read.first().first().value<TTimelinePage>();
    }
    static QStringList Ids(const TTimelinePage& page)
    {
        QStringList ids;
        for (const TTimelineStatus& s : page.Rows)
            ids << s.Id;
        return ids;
    }

    static constexpr TReadBounds kBounds{2000, 8000, 1 << 20};
    ScriptedServer m_server;
    QObject m_owner;
};

} // namespace

TEST_P(FediverseSource, PagesRefusalsAndWaits)
{
    const TServerShape& shape = GetParam();
    const QByteArray* ids = shape.ids;
    const QByteArray home = m_server.baseUrl() + "/api/v1/timelines/home";
    // The first page read ahead at start-up, then read-more, over one kept connection;
    // read-more follows the Link's max_id.
    m_server.addConnection({Step::readRequest(),
                            Step::send(Json("200 OK", "[" + Status(ids[0]) + "," + Status(ids[1]) + "]",
                                            "Link: <" + home + "?limit=40&max_id=" + ids[1] + ">; rel=\"next\", <" + home
                                                + "?limit=40&min_id=" + ids[0] + ">; rel=\"prev\"\r\n")),
                            Step::readRequest(), Step::send(Json("200 OK", "[" + Status(ids[2]) + "]")), Step::close()});
    auto* reader = new TTimelineReader;
    reader->Prefetch(Account(), 1, kBounds);
    TTimelineSource* friends = Source(TTimeline::Friends, reader);
    const TTimelinePage first = Read(friends, {});
    ASSERT_TRUE(first.Ok()) << first.Message.toStdString();
    EXPECT_EQ(Ids(first), QStringList({ids[0], ids[1]}));
    EXPECT_EQ(first.Next, ids[1]);
    const TTimelinePage older = Read(friends, {first.Next});
    EXPECT_EQ(Ids(older), QStringList({ids[2]}));
    EXPECT_EQ(older.Next, ids[2]) << "without a Link, the last id";
    EXPECT_EQ(m_server.connectionCount(), 1);
    const QByteArray sent = m_server.request(0);
    EXPECT_TRUE(sent.startsWith("GET /api/v1/timelines/home?limit=40 HTTP/1.1\r\n"));
    EXPECT_TRUE(sent.contains("GET /api/v1/timelines/home?limit=40&max_id=" + ids[1] + " HTTP/1.1\r\n"));
    EXPECT_TRUE(sent.contains(shape.token ? QByteArray("\r\nAuthorization: Bearer tok-1\r\n")
                                          : "\r\nAuthorization: Basic " + QByteArray("alice:pw").toBase64() + "\r\n"));

    // Mentions, asked for both ways: some servers know only one of them.
    m_server.addConnection(ScriptedServer::reply(
        Json("200 OK", "[{\"id\":\"n8\",\"type\":\"mention\",\"status\":" + Status(ids[0]) + "}]")));
    const TTimelinePage mentions = Read(Source(TTimeline::Mentions), {});
    EXPECT_EQ(Ids(mentions), QStringList({ids[0]}));
    EXPECT_EQ(mentions.Next, "n8");
    EXPECT_TRUE(m_server.request(1).contains("&types[]=mention&exclude_types[]=follow&"));

    // A refused token, with the server's own words where it gave them.
    m_server.addConnection(ScriptedServer::reply(shape.refusal));
    const TTimelinePage refused = Read(friends, {});
    EXPECT_EQ(refused.Failure, TReadFailure::Refused);
    EXPECT_EQ(refused.Message, shape.refusalMessage);

    // Too many requests: the wait the server asks for, as the back-off reads it.
    m_server.addConnection(ScriptedServer::reply(Json("429 Too Many Requests", "{\"error\":\"Too many requests\"}",
                                                      shape.rateHeaders)));
    const TTimelinePage limited = Read(friends, {});
    EXPECT_EQ(limited.StatusCode, 429);
    const std::optional<qint64> wait = RetryAfterMs(limited.RetryAfter, QDateTime::currentDateTimeUtc());
    EXPECT_EQ(wait.has_value(), shape.retryAfterGiven);
    if (wait) {
        EXPECT_NEAR(double(*wait), 30000.0, 2000.0);
    }

    if (shape.rebuilds) {
        m_server.addConnection(ScriptedServer::reply(
            Json("206 Partial Content", "[]", "Mastodon-Async-Refresh: id=\"x\", retry=0, result_count=0\r\n")));
        m_server.addConnection(ScriptedServer::reply(Json("200 OK", "[" + Status(ids[0]) + "]")));
        const TTimelinePage rebuilt = Read(friends, {});
        EXPECT_EQ(Ids(rebuilt), QStringList({ids[0]}));
        EXPECT_EQ(m_server.connectionCount(), 6);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FediverseSource, ::testing::ValuesIn(Shapes()),
                         [](const auto& info) { return std::string(info.param.name); });

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
