// The service calls without any window: timeline pages, status posts and favourites
// against scripted loopback peers and the local service. This binary links no widgets.
#include "service/FavoriteRoute.h"
#include "service/ReadOutcome.h"
#include "service/ServerConfig.h"
#include "service/ServicePost.h"
#include "service/TimelineRead.h"
#include "service/TimelineReader.h"

#include "LoopbackListener.h"
#include "PostWait.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "TlsServer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <poll.h>

#include <memory>
#include <tuple>
#include <utility>
#include <vector>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

QByteArray Reply(const QByteArray& statusLine, const QByteArray& body,
                 const QByteArray& type = "application/xml; charset=utf-8")
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: " + type + "\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

const QByteArray kTwoStatuses =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><statuses type=\"array\">"
    "<status><id>12</id><text>一つ目 &amp; more</text><favorited>false</favorited>"
    "<user><name>太郎</name></user></status>"
    "<status><id>11</id><text>二つ目</text><favorited>true</favorited>"
    "<user><name>花子</name></user></status></statuses>";

TServiceAccount Account(const ScriptedServer& server)
{
    return {QString::fromUtf8(server.baseUrl()) + QStringLiteral("/api"), QStringLiteral("alice"),
            QStringLiteral("secret"), {}};
}

TReadBounds Short()
{
    return {2000, 4000, 1024 * 1024};
}

} // namespace

TEST(TimelinePage, RowsComeInReplyOrderFromTheRightAddress)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("200 OK", kTwoStatuses)));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", kTwoStatuses)));

    const TTimelinePage first = ReadTimelinePage(Account(server), 1, Short());
    const TTimelinePage third = ReadTimelinePage(Account(server), 3, Short());

    ASSERT_TRUE(first.Ok()) << first.Message.toStdString();
    EXPECT_TRUE(first.Loaded);
    ASSERT_EQ(first.Rows.size(), 2);
    const TTimelineStatus& taro = first.Rows[0];
    EXPECT_EQ(QStringList({taro.Id, taro.Name, taro.Text, taro.Favorited}), QStringList({"12", "太郎", "一つ目 & more", "false"}));
    const TTimelineStatus& hanako = first.Rows[1];
    EXPECT_EQ(QStringList({hanako.Id, hanako.Name, hanako.Text, hanako.Favorited}), QStringList({"11", "花子", "二つ目", "true"}));
    EXPECT_TRUE(server.request(0).startsWith("GET /api/statuses/friends_timeline.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(0).contains("\r\nAuthorization: Basic " + QByteArray("alice:secret").toBase64() + "\r\n"));
    EXPECT_TRUE(third.Ok());
    EXPECT_TRUE(server.request(1).startsWith("GET /api/statuses/friends_timeline.xml?page=3&twtr=true HTTP/1.1\r\n"));
}

// The page a reader reports, or nothing when none came within 10 s.
std::optional<TTimelinePage> Reported(TTimelineReader& reader)
{
    QSignalSpy read(&reader, &TTimelineReader::PageRead);
    if (!read.wait(10000))
        return std::nullopt;
    return read.first().first().value<TTimelinePage>();
}

// A read started ahead is taken by the Start that asks for the same page, without a
// second request; a Start for anything else makes its own and never sees the early one.
// One read at a time; an abandoned read is never reported.
TEST(TimelineReader, APrefetchedPageIsTakenOnlyByItsOwnRead)
{
    ScriptedServer server;
    for (int i = 0; i < 4; ++i)
        server.addConnection(ScriptedServer::reply(Reply("200 OK", kTwoStatuses)));
    TTimelineReader reader;

    reader.Prefetch(Account(server), 1, Short());
    ASSERT_TRUE(reader.Start(Account(server), 1, Short()));
    EXPECT_FALSE(reader.Start(Account(server), 2, Short())) << "one read at a time";
    const std::optional<TTimelinePage> first = Reported(reader);
    ASSERT_TRUE(first && first->Ok());
    EXPECT_EQ(first->Rows.size(), 2);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_FALSE(reader.Busy());

    reader.Prefetch(Account(server), 1, Short());
    ASSERT_TRUE(reader.Start(Account(server), 2, Short()));
    const std::optional<TTimelinePage> second = Reported(reader);
    ASSERT_TRUE(second && second->Ok());
    for (int waited = 0; server.connectionCount() < 3 && waited < 5000; waited += 10)
        QThread::msleep(10);  // the early read ends unseen
    ASSERT_EQ(server.connectionCount(), 3);
    EXPECT_TRUE(server.request(0).startsWith("GET /api/statuses/friends_timeline.xml HTTP/1.1\r\n"));
    QList<QByteArray> laterTwo{server.request(1).left(60), server.request(2).left(60)};
    std::sort(laterTwo.begin(), laterTwo.end());
    EXPECT_TRUE(laterTwo[0].startsWith("GET /api/statuses/friends_timeline.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(laterTwo[1].startsWith("GET /api/statuses/friends_timeline.xml?page=2&twtr=true"));

    QSignalSpy late(&reader, &TTimelineReader::PageRead);
    ASSERT_TRUE(reader.Start(Account(server), 3, Short()));
    reader.Abandon();
    EXPECT_FALSE(reader.Busy());
    for (int waited = 0; TTimelineReader::Running() > 0 && waited < 5000; waited += 10)
        QThread::msleep(10);
    QCoreApplication::processEvents();
    // Called off at once, it may end before it even connects.
    EXPECT_LE(server.connectionCount(), 4);
    EXPECT_EQ(late.count(), 0) << "an abandoned read is never reported";
}

// The pages of a read go over one kept https connection: one handshake for five pages.
// A kept connection the server has closed meanwhile is replaced, and the page still read.
TEST(TimelineReader, PagesShareOneKeptConnection)
{
    const TestCertificates certs;
    ASSERT_TRUE(certs.isValid()) << certs.errorString().toStdString();
    TlsServer server(certs.serverCert(), certs.serverKey());
    QByteArray page = Reply("200 OK", kTwoStatuses);
    page.replace("Connection: close\r\n", "");
    server.addConnection({QList<QByteArray>(5, page)});
    server.addConnection({{page}});
    TServiceAccount account{QString::fromUtf8(server.baseUrl()), QStringLiteral("alice"), QStringLiteral("secret"), {}};
    account.Network.CaFile = certs.caFile();
    TTimelineReader reader;
    for (int n = 1; n <= 6; ++n) {
        if (n == 6) {
            ASSERT_TRUE(server.waitForFinished(1));  // the first connection's script is over: it is closed
        }
        ASSERT_TRUE(reader.Start(account, n, Short()));
        const std::optional<TTimelinePage> read = Reported(reader);
        ASSERT_TRUE(read && read->Ok()) << n << (read ? read->Message.toStdString() : "");
        if (n == 5) {
            EXPECT_EQ(server.connectionCount(), 1);
            EXPECT_EQ(server.handshakes(), 1);
        }
    }
    EXPECT_EQ(server.handshakes(), 2);
}

// A connect still waiting for its server is called off too: a listener whose queue is
// full drops the connect's SYN, and the abandoned read's thread ends within a slice.
TEST(TimelineReaderTest, AnAbandonedReadStopsWaitingForItsConnect)
{
    quint16 port = 0;
    const int listener = ListenOnLoopback(&port, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto connectWaits = [&peer] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        pollfd p{fd, POLLOUT, 0};
        const bool waits = ::poll(&p, 1, 300) == 0;
        return std::pair{fd, waits};
    };
    // Fill the queue until a connect waits.
    std::vector<int> fillers;
    bool waits = false;
    for (int i = 0; i < 4 && !waits; ++i) {
        const auto [fd, pending] = connectWaits();
        fillers.push_back(fd);
        waits = pending;
    }
    if (!waits) {
        for (int fd : fillers)
            ::close(fd);
        ::close(listener);
        GTEST_SKIP() << "this system answers every connect to a full queue";
    }

    const TServiceAccount account(QStringLiteral("http://127.0.0.1:%1").arg(port), QStringLiteral("alice"),
                                  QStringLiteral("secret"), {});
    {
        TTimelineReader reader;
        ASSERT_TRUE(reader.Start(account, 1, {20000, 20000, 1024 * 1024}));
        QThread::msleep(100);
        reader.Abandon();
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(TTimelineReader::WaitForAll(1000));
    EXPECT_LT(clock.elapsed(), 500);
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

// Every way a page read can fail ends in one typed failure, never in rows.
TEST(TimelinePage, EachFailureIsTyped)
{
    struct Case {
        const char* name;
        ScriptedServer::Script script;
        TReadFailure failure;
        bool loaded;
        int status;
        QByteArray reason;
    };
    const std::vector<Case> cases = {
        {"refused", ScriptedServer::reply(Reply("401 Unauthorized", "no")), TReadFailure::Refused, false, 401, "Unauthorized"},
        {"bad gateway", ScriptedServer::reply(Reply("502 Bad Gateway", "<html/>", "text/html")), TReadFailure::HttpStatus, false, 502, "Bad Gateway"},
        {"relocated", ScriptedServer::reply("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"),
         TReadFailure::HttpStatus, false, 302, "Found"},
        {"closed early", {Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n<statuses>"), Step::close()},
         TReadFailure::Transfer, false, 0, ""},
        {"silent", {Step::readRequest(), Step::delay(5000)}, TReadFailure::Transfer, false, 0, ""},
        {"not xml", ScriptedServer::reply(Reply("200 OK", "<<<garbage", "text/html")), TReadFailure::NotTimeline, false, 0, ""},
        {"another document", ScriptedServer::reply(Reply("200 OK", "<html><body/></html>")), TReadFailure::NotTimeline, true, 0, ""},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.addConnection(c.script);
        const TTimelinePage page = ReadTimelinePage(Account(server), 1, {300, 1000, 1024});
        EXPECT_EQ(page.Failure, c.failure) << c.name;
        EXPECT_EQ(page.Loaded, c.loaded) << c.name;
        EXPECT_EQ(page.StatusCode, c.status) << c.name;
        EXPECT_EQ(page.ReasonPhrase, c.reason) << c.name;
        EXPECT_TRUE(page.Rows.isEmpty()) << c.name;
        EXPECT_FALSE(page.Message.isEmpty()) << c.name;
    }
}

// A Japanese server's reply: no declaration, the charset only in Content-Type, CP932
// characters beyond Shift_JIS, and one byte that is no character at all.
TEST(TimelinePage, ServerCharsetAndBadBytesKeepThePage)
{
    QByteArray body = "<statuses><status><id>5</id><text>\x87\x40\x87\x41 \xfb\xfc</text>"
                      "<user><name>\x82\xa0\xff</name></user></status></statuses>";
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("200 OK", body, "text/xml; charset=Shift_JIS")));
    const TTimelinePage page = ReadTimelinePage(Account(server), 1, Short());
    ASSERT_TRUE(page.Ok()) << page.Message.toStdString();
    ASSERT_EQ(page.Rows.size(), 1);
    EXPECT_EQ(page.Rows[0].Text, QStringLiteral("①② 髙"));
    EXPECT_EQ(page.Rows[0].Name, QStringLiteral("あ\uFFFD"));
}

// The one table of failure lines, and which failures make the automatic reload wait.
TEST(ReadOutcome, LinesAndBackOff)
{
    struct Case {
        TReadFailure failure;
        int status;
        QByteArray reason;
        QString detail;
        QString line;
        bool backOff;
    };
    const std::vector<Case> cases = {
        {TReadFailure::Refused, 401, "Unauthorized", {}, QStringLiteral("認証できませんでした"), false},
        {TReadFailure::HttpStatus, 502, "Bad Gateway", {}, QStringLiteral("サーバーがエラーを返しました: 502 Bad Gateway"), true},
        {TReadFailure::HttpStatus, 404, "Not Found", {}, QStringLiteral("サーバーがエラーを返しました: 404 Not Found"), false},
        {TReadFailure::HttpStatus, 429, "Too Many Requests", {}, QStringLiteral("サーバーがエラーを返しました: 429 Too Many Requests"), true},
        {TReadFailure::HttpStatus, 400, "Bad Request", {}, QStringLiteral("サーバーがエラーを返しました: 400 Bad Request"), true},
        {TReadFailure::HttpStatus, 301, "Moved Permanently", {}, QStringLiteral("サーバーが別のアドレスへ転送しようとしました: 301 Moved Permanently"), false},
        {TReadFailure::Connection, 0, {}, QStringLiteral("Connection refused."), QStringLiteral("接続できませんでした (service.test:8080): Connection refused."), true},
        {TReadFailure::Transfer, 0, {}, QStringLiteral("Read Timeout"), QStringLiteral("応答を読み取れませんでした (service.test:8080): Read Timeout"), true},
        {TReadFailure::NotTimeline, 0, {}, QStringLiteral("x"), QStringLiteral("応答がタイムラインではありません: x"), false},
        {TReadFailure::Proxy, 407, "Proxy Authentication Required", {}, QStringLiteral("プロキシが接続を拒否しました: 407 Proxy Authentication Required"), false},
        {TReadFailure::Proxy, 502, "Bad Gateway", {}, QStringLiteral("プロキシが接続を拒否しました: 502 Bad Gateway"), true},
    };
    for (const Case& c : cases) {
        TTimelinePage page;
        page.Failure = c.failure;
        page.StatusCode = c.status;
        page.ReasonPhrase = c.reason;
        page.Reason = c.detail;
        EXPECT_EQ(TimelineFailureLine(page, QStringLiteral("service.test:8080")), c.line);
        EXPECT_EQ(WorthBackingOff(page), c.backOff) << c.line.toStdString();
    }
}

// How the wait grows and resets: the feed's own test.
TEST(ReadOutcome, RetryAfterIsASecondCountOrADate)
{
    const QDateTime now = QDateTime::fromString(QStringLiteral("2026-12-07T10:00:00Z"), Qt::ISODate);
    EXPECT_EQ(RetryAfterMs("120", now), 120000);
    EXPECT_EQ(RetryAfterMs("Mon, 07 Dec 2026 10:05:00 GMT", now), 300000);
    EXPECT_EQ(RetryAfterMs("Mon, 07 Dec 2026 09:00:00 GMT", now), 0);
    EXPECT_EQ(RetryAfterMs("soon", now), std::nullopt);
    EXPECT_EQ(RetryAfterMs("", now), std::nullopt);
}

// The one place where the bytes of the program's posts are pinned whole.
TEST(ServicePosts, StatusAndFavouriteAreSentExactly)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("200 OK", "<status/>")));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", "<status/>")));
    THttpCli client;
    const QByteArray body = StatusUpdateBody(StatusUpdateText(QStringLiteral("a b&c=d")));
    const TPostOutcome posted = PostStatusAndWait(client, Account(server), body);
    const TPostOutcome marked = PostFavoriteAndWait(client, Account(server), QStringLiteral("123"));

    EXPECT_TRUE(posted.IsAccepted());
    EXPECT_TRUE(marked.IsAccepted());
    const QByteArray common =
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
        "Connection: close\r\n"
        "Accept-Language: ja,en,fr\r\n";
    const QByteArray tail = "User-Agent: Mozilla/4.0 (compatible; Brimlark_Simple)\r\n"
                            "Host: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n";
    const QByteArray auth = "Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n";
    EXPECT_EQ(body, "status=a+b%26c%3Dd&source=brimlark");
    EXPECT_EQ(server.request(0), "POST /api/statuses/update.xml HTTP/1.1\r\n" + common
                                     + "Content-Type: application/x-www-form-urlencoded\r\n" + tail
                                     + "Content-Length: 34\r\n" + auth + body);
    EXPECT_EQ(server.request(1), "POST /api/favorites/create/123.xml HTTP/1.1\r\n" + common
                                     + "Content-Type: text/html\r\n" + tail + "Content-Length: 6\r\n" + auth + "id=123");
}

// What each reply makes of a post: only a status document is posted; a refusal keeps the
// service's own words; no reply is one line with the host and the reason.
TEST(ServicePosts, OutcomesTellAnswerFromNoAnswer)
{
    struct Case {
        const char* name;
        ScriptedServer::Script script;
        TPostOutcome::TKind kind;
        QStringList lines;
    };
    const QString failed = QStringLiteral("Post Failed ! StatusCode   = %1");
    const QString notStatus = QStringLiteral("サーバーの応答がつぶやきではありません: 200 OK");
    const std::vector<Case> cases = {
        {"status", ScriptedServer::reply(Reply("200 OK", "<?xml version=\"1.0\"?>\n<status xmlns=\"http://api.twitter.com\"><id>5</id></status>")),
         TPostOutcome::Accepted, {}},
        {"web page", ScriptedServer::reply(Reply("200 OK", "<html><body>Welcome</body></html>", "text/html")), TPostOutcome::NotStatus, {notStatus}},
        {"empty", ScriptedServer::reply(Reply("200 OK", "")), TPostOutcome::NotStatus, {notStatus}},
        {"another document", ScriptedServer::reply(Reply("200 OK", "<statuses/>")), TPostOutcome::NotStatus, {notStatus}},
        {"beyond the bound", ScriptedServer::reply(Reply("200 OK", "<status>" + QByteArray(300 * 1024, ' ') + "</status>")),
         TPostOutcome::NotStatus, {notStatus}},
        {"plain refusal", ScriptedServer::reply(Reply("500 Internal Server Error", "x")), TPostOutcome::HttpFailure,
         {failed.arg(500), QStringLiteral("ReasonPhrase = Internal Server Error")}},
        {"GNU social's words", ScriptedServer::reply(Reply("413 Request Entity Too Large",
             "<?xml version=\"1.0\"?>\n<hash>\n <error>That's too long.\n Maximum notice size is 1000 characters.</error>\n"
             " <request>/api/statuses/update.xml</request>\n</hash>\n")),
         TPostOutcome::HttpFailure, {failed.arg(413), QStringLiteral("ReasonPhrase = Request Entity Too Large"),
                                     QStringLiteral("サーバーのメッセージ: That's too long. Maximum notice size is 1000 characters.")}},
        {"JSON words", ScriptedServer::reply(Reply("403 Forbidden", "{\"error\": \"重複した投稿です\"}", "application/json")),
         TPostOutcome::HttpFailure, {failed.arg(403), QStringLiteral("ReasonPhrase = Forbidden"), QStringLiteral("サーバーのメッセージ: 重複した投稿です")}},
        {"wrong password", ScriptedServer::reply("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"), TPostOutcome::HttpFailure,
         {failed.arg(401), QStringLiteral("ReasonPhrase = Unauthorized")}},
        {"closed", {Step::readRequest(), Step::close()}, TPostOutcome::ConnectionFailure,
         {QStringLiteral("応答を読み取れませんでした (127.0.0.1:%1): Connection closed before a reply was received")}},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.addConnection(c.script);
        THttpCli client;
        client.Timeout = 3000;
        const TPostOutcome outcome = PostStatusAndWait(client, Account(server), "status=x");
        EXPECT_EQ(outcome.Kind, c.kind) << c.name;
        QStringList lines = c.lines;
        for (QString& line : lines)
            line = line.contains(u'%') ? line.arg(server.port()) : line;
        EXPECT_EQ(PostFailureLines(outcome), lines) << c.name;
    }

    // An id that could change the request path is refused before anything is sent.
    ScriptedServer server;
    THttpCli client;
    const TPostOutcome bad = PostFavoriteAndWait(client, Account(server), QStringLiteral("1/../../x"));
    EXPECT_EQ(bad.Kind, TPostOutcome::ConnectionFailure);
    EXPECT_EQ(server.connectionCount(), 0);
}

// The favourite's second route: only after the server's own 404, kept once it worked,
// and only for the base it worked at.
TEST(FavoriteRoute, A404TriesTheRouteByBodyOnceAndKeepsItWhenItWorks)
{
    const QByteArray notFound = Reply("404 Not Found", "<hash><error>no</error></hash>");
    const QByteArray ok = Reply("200 OK", "<status/>");
    ScriptedServer server;
    for (const QByteArray& reply : {notFound, notFound, notFound, ok, ok})
        server.addConnection(ScriptedServer::reply(reply));
    THttpCli client;
    TFavoriteRoute route;

    // Both routes missing: the last answer is reported and nothing is kept.
    TPostOutcome outcome = PostFavoriteAndWait(route, client, Account(server), QStringLiteral("5"));
    EXPECT_EQ(outcome.Kind, TPostOutcome::HttpFailure);
    EXPECT_EQ(outcome.StatusCode, 404);
    EXPECT_TRUE(route.ByIdBase().isEmpty());
    // "/favorites/create/<id>.xml" first again; then the second takes it and is kept.
    EXPECT_TRUE(PostFavoriteAndWait(route, client, Account(server), QStringLiteral("6")).IsAccepted());
    EXPECT_EQ(route.ByIdBase(), Account(server).ApiBase);
    EXPECT_TRUE(PostFavoriteAndWait(route, client, Account(server), QStringLiteral("7")).IsAccepted());

    ASSERT_EQ(server.connectionCount(), 5);
    const QByteArray expected[] = {"POST /api/favorites/create/5.xml ", "POST /api/favorites/create.xml ",
                                   "POST /api/favorites/create/6.xml ", "POST /api/favorites/create.xml ",
                                   "POST /api/favorites/create.xml "};
    const QByteArray bodies[] = {"id=5", "id=5", "id=6", "id=6", "id=7"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(server.request(i).startsWith(expected[i])) << i << server.request(i).constData();
        EXPECT_TRUE(server.request(i).endsWith("\r\n\r\n" + bodies[i])) << i;
    }

    // Another base starts from "/favorites/create/<id>.xml" again.
    ScriptedServer other;
    other.addConnection(ScriptedServer::reply(ok));
    EXPECT_TRUE(PostFavoriteAndWait(route, client, Account(other), QStringLiteral("8")).IsAccepted());
    EXPECT_TRUE(other.request(0).startsWith("POST /api/favorites/create/8.xml "));
}

TEST(FavoriteRoute, OtherFailuresAreNotAskedAgain)
{
    struct Case {
        const char* name;
        ScriptedServer::Script script;
        TPostOutcome::TKind kind;
    };
    const std::vector<Case> cases = {
        {"refused", ScriptedServer::reply(Reply("403 Forbidden", "<hash/>")), TPostOutcome::HttpFailure},
        {"wrong password", ScriptedServer::reply(Reply("401 Unauthorized", "<hash/>")), TPostOutcome::HttpFailure},
        {"closed without a reply", {Step::readRequest(), Step::close()}, TPostOutcome::ConnectionFailure},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.addConnection(c.script);
        server.addConnection(ScriptedServer::reply(Reply("200 OK", "<status/>")));
        THttpCli client;
        TFavoriteRoute route;
        EXPECT_EQ(PostFavoriteAndWait(route, client, Account(server), QStringLiteral("9")).Kind, c.kind) << c.name;
        EXPECT_EQ(server.connectionCount(), 1) << c.name;
        EXPECT_TRUE(route.ByIdBase().isEmpty()) << c.name;
    }
}

// Each post reports once through its job, from the loop and never inside the call that
// made it: a post, a repeat refused because the client is busy (the running post goes
// on), and a favourite whose id is refused before anything is sent. Then the jobs go.
TEST(PostJobs, EachReportsOnceFromTheLoop)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(300), Step::send(Reply("200 OK", "<status/>")), Step::close()});
    THttpCli client;
    std::vector<TPostOutcome> posted, repeated, marked;
    auto collect = [](TPostJob* job, std::vector<TPostOutcome>& into) {
        QObject::connect(job, &TPostJob::Finished, [&into](const TPostOutcome& o) { into.push_back(o); });
        return QPointer<TPostJob>(job);
    };
    const QPointer<TPostJob> post = collect(StartStatusPost(client, Account(server), "status=x"), posted);
    const QPointer<TPostJob> repeat = collect(StartRetweet(client, Account(server), QStringLiteral("5")), repeated);
    const QPointer<TPostJob> favourite = collect(StartFavorite(client, Account(server), QStringLiteral("1/../x")), marked);
    EXPECT_TRUE(posted.empty() && repeated.empty() && marked.empty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !posted.empty(); }, 5000));
    QTest::qWait(50);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_TRUE(posted[0].IsAccepted());
    ASSERT_EQ(repeated.size(), 1u);
    EXPECT_EQ(repeated[0].Kind, TPostOutcome::ConnectionFailure);
    EXPECT_EQ(PostFailureLines(repeated[0]), QStringList{QStringLiteral("HTTP component HttpCli1 is busy")});
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_EQ(marked[0].Kind, TPostOutcome::ConnectionFailure);
    EXPECT_TRUE(PostFailureLines(marked[0]).isEmpty());
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(post.isNull() && repeat.isNull() && favourite.isNull());
}

// Abort ends a favourite at once, in the middle of its second address: the request is
// called off (its socket closes), the report comes before Abort returns, and the route
// learns nothing. A route that goes before its job ends leaves the job to end alone.
TEST(PostJobs, AbortEndsAFavouriteAtOnceAndARouteMayGoFirst)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Reply("404 Not Found", "<hash/>")));
    server.addConnection({Step::readRequest(), Step::waitForClose(10000)});
    server.addConnection(ScriptedServer::reply(Reply("404 Not Found", "<hash/>")));
    server.addConnection(ScriptedServer::reply(Reply("200 OK", "<status/>")));
    THttpCli client;
    TFavoriteRoute route;
    std::vector<TPostOutcome> outcomes;
    TPostJob* job = route.Start(client, Account(server), QStringLiteral("5"));
    QObject::connect(job, &TPostJob::Finished, [&](const TPostOutcome& o) { outcomes.push_back(o); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.request(1).endsWith("\r\n\r\nid=5"); }, 5000));
    EXPECT_TRUE(server.request(1).startsWith("POST /api/favorites/create.xml "));

    job->Abort();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Kind, TPostOutcome::ConnectionFailure);
    EXPECT_TRUE(outcomes[0].NoReplyLine.endsWith(QStringLiteral("Connection aborted on request")))
        << outcomes[0].NoReplyLine.toStdString();
    EXPECT_TRUE(server.waitForFinished(2, 2000));
    EXPECT_TRUE(route.ByIdBase().isEmpty());
    QTest::qWait(50);
    EXPECT_EQ(outcomes.size(), 1u);

    auto gone = std::make_unique<TFavoriteRoute>();
    job = gone->Start(client, Account(server), QStringLiteral("6"));
    gone.reset();
    EXPECT_TRUE(WaitForOutcome(job).IsAccepted());
    EXPECT_EQ(server.connectionCount(), 4);
}

// Abort sends no further step, also when the step that ended before it would have
// asked for one: here a request that failed inside Start, its report still on the way.
TEST(PostJobs, AbortSendsNoFurtherStep)
{
    THttpCli client;
    int asked = 0;
    const TServiceAccount account{QStringLiteral("ftp://127.0.0.1"), QStringLiteral("alice"), QStringLiteral("secret"), {}};
    const TPostJob::TStep step{ServicePostRequest(account, "ftp://127.0.0.1/x", "id=1", "text/html"), "ftp://127.0.0.1/x"};
    TPostJob* job = TPostJob::Begin(client, step, [&](const TPostOutcome&) {
        ++asked;
        return std::optional<TPostJob::TStep>(step);
    });
    std::vector<TPostOutcome> outcomes;
    QObject::connect(job, &TPostJob::Finished, [&](const TPostOutcome& o) { outcomes.push_back(o); });
    job->Abort();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].StatusCode, 501);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(client.Running());
    QTest::qWait(50);
    EXPECT_EQ(outcomes.size(), 1u);
}

// Every failure is named for what it was: a relocation for a Location the read does not
// follow, whatever its status; the proxy's refusal as the proxy's, never as a wrong
// password; a post that got no answer in one line with the host and the reason; and a
// wrong password without a word on standard error.
TEST(ServiceFailures, EachIsNamedForWhatItWas)
{
    QStringList warnings;
    static QStringList* s_warnings = nullptr;
    s_warnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg)
            s_warnings->append(text);
    });

    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"));
    server.addConnection(ScriptedServer::reply(Reply("401 Unauthorized", "no")));
    const TTimelinePage relocated = ReadTimelinePage(Account(server), 2, Short());
    const TTimelinePage refused = ReadTimelinePage(Account(server), 1, Short());
    EXPECT_EQ(TimelineFailureLine(relocated), QStringLiteral("サーバーが別のアドレスへ転送しようとしました: 200 OK"));
    EXPECT_EQ(TimelineFailureLine(refused), QStringLiteral("認証できませんでした"));

    // A proxy that wants credentials: plain http gets its 407, https its answer to CONNECT.
    ScriptedServer proxy;
    proxy.setDefaultScript(ScriptedServer::reply("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                                 "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"));
    TNetworkOptions viaProxy;
    viaProxy.HttpProxy = viaProxy.HttpsProxy = TProxy{"127.0.0.1", proxy.port(), {}, {}};
    const QString proxyLine = QStringLiteral("プロキシが接続を拒否しました: 407 Proxy Authentication Required");
    THttpCli client;
    client.Timeout = 5000;
    for (const char* scheme : {"http", "https"}) {
        const TServiceAccount account{QStringLiteral("%1://service.test/api").arg(QLatin1String(scheme)), QStringLiteral("alice"),
                                      QStringLiteral("secret"), viaProxy};
        const TTimelinePage page = ReadTimelinePage(account, 1, Short());
        EXPECT_EQ(page.Failure, TReadFailure::Proxy) << scheme;
        EXPECT_EQ(TimelineFailureLine(page), proxyLine) << scheme;
        const TPostOutcome posted = PostStatusAndWait(client, account, "status=x");
        EXPECT_EQ(posted.Kind, TPostOutcome::ConnectionFailure) << scheme;
        EXPECT_EQ(PostFailureLines(posted), QStringList{proxyLine}) << scheme;
    }

    // No connection: a read and a post name where they connected, the service or its proxy.
    const quint16 closed = ClosedLoopbackPort();
    TNetworkOptions deadProxy;
    deadProxy.HttpProxy = TProxy{"127.0.0.1", closed, {}, {}};
    const QString direct = QStringLiteral("127.0.0.1:%1").arg(closed), proxied = QStringLiteral("プロキシ 127.0.0.1:%1").arg(closed);
    for (const auto& [base, network, where] : {std::tuple{QStringLiteral("http://127.0.0.1:%1").arg(closed), TNetworkOptions{}, direct},
                                               std::tuple{QStringLiteral("http://service.test"), deadProxy, proxied}}) {
        const TServiceAccount account{base, QStringLiteral("a"), QStringLiteral("b"), network};
        const TTimelinePage page = ReadTimelinePage(account, 1, Short());
        EXPECT_EQ(page.SocketError, 10061);
        EXPECT_EQ(TimelineFailureLine(page, ConnectionPlace(account)),
                  QStringLiteral("接続できませんでした (%1): Connection refused.").arg(where));
        EXPECT_EQ(PostFailureLines(PostFavoriteAndWait(client, account, QStringLiteral("5"))),
                  QStringList{QStringLiteral("接続できませんでした (%1): Connection refused (Error #10061)").arg(where)});
    }

    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u'|').toStdString();
}

// A service that listens on ::1 alone is reached by reads and by posts, by its literal
// and by "localhost", whose first address (127.0.0.1) refuses: every address is tried.
// (No name with only an IPv6 address is at hand without changing the system's hosts file.)
TEST(ServiceOverIPv6, LoopbackServiceOnV6AloneWorksForReadsAndPosts)
{
    // 127.0.0.1 on the server's port is held without listening: it refuses, and no other
    // test's server can take it meanwhile. A port in use on IPv4 gets another server.
    std::unique_ptr<ScriptedServer> server;
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    for (int attempt = 0; attempt < 20; ++attempt) {
        try {
            server = std::make_unique<ScriptedServer>(ScriptedServer::IPv6Only);
        } catch (const std::runtime_error&) {
            ::close(holder);
            GTEST_SKIP() << "no IPv6 loopback on this machine";
        }
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4.sin_port = htons(server->port());
        if (::bind(holder, reinterpret_cast<sockaddr*>(&v4), sizeof v4) == 0)
            break;
        server.reset();
    }
    ASSERT_TRUE(server);
    const QByteArray port = QByteArray::number(server->port());
    for (const QByteArray host : {"[::1]", "localhost"}) {
        server->addConnection(ScriptedServer::reply(Reply("200 OK", kTwoStatuses)));
        server->addConnection(ScriptedServer::reply(Reply("200 OK", "<status/>")));
        const TServiceAccount account{QString::fromLatin1("http://" + host + ':' + port + "/api"), QStringLiteral("alice"),
                                      QStringLiteral("secret"), {}};

        const TTimelinePage page = ReadTimelinePage(account, 1, Short());
        THttpCli client;
        client.Timeout = 5000;
        const TPostOutcome posted = PostStatusAndWait(client, account, "status=v6");

        EXPECT_TRUE(page.Ok()) << host.constData() << ": " << page.Message.toStdString();
        EXPECT_EQ(page.Rows.size(), 2);
        EXPECT_TRUE(posted.IsAccepted()) << host.constData() << ": " << PostFailureLines(posted).join(u' ').toStdString();
    }
    ::close(holder);
    ASSERT_TRUE(server->waitForFinished(4));
    EXPECT_TRUE(server->request(0).contains("\r\nHost: [::1]:" + port + "\r\n"));
    EXPECT_TRUE(server->request(1).contains("\r\nHost: [::1]:" + port + "\r\n"));
    EXPECT_TRUE(server->request(2).contains("\r\nHost: localhost:" + port + "\r\n"));
    EXPECT_TRUE(server->request(3).endsWith("\r\n\r\nstatus=v6"));
}

// The whole road against the real local service: a post shows up on the first page and
// a favourite shows on its next read.
// The text limit GNU social publishes: what the local service serves, read as the
// timeline is, and only when it is sound.
TEST(ServerConfig, OnlyASoundLimitIsTaken)
{
    const auto config = [](const QByteArray& limit) {
        return "<?xml version=\"1.0\"?><config><site><name>x</name><textlimit>" + limit + "</textlimit></site></config>";
    };
    struct Case {
        const char* name;
        QByteArray reply;
        bool read;
        std::optional<int> limit;
    };
    const std::vector<Case> cases = {
        {"blanks around", Reply("200 OK", config(" 1000\n")), true, 1000},
        {"Friendica's import size", Reply("200 OK", config("200000")), true, 200000},
        {"at the bound", Reply("200 OK", config("999999999")), true, kMaxServerTextLimit},
        {"beyond the bound: none", Reply("200 OK", config("1000000000")), true, 0},
        {"overflowing: none", Reply("200 OK", config("99999999999999999999999")), true, 0},
        {"false is 0: none", Reply("200 OK", config("false")), true, 0},
        {"true is 1", Reply("200 OK", config("true")), true, 1},
        {"not a number", Reply("200 OK", config("lots")), true, {}},
        {"negative", Reply("200 OK", config("-5")), true, {}},
        {"empty", Reply("200 OK", config("")), true, {}},
        {"no site", Reply("200 OK", "<config><textlimit>500</textlimit></config>"), true, {}},
        {"wrong root", Reply("200 OK", "<statuses><site><textlimit>500</textlimit></site></statuses>"), false, {}},
        {"not xml", Reply("200 OK", "<<<", "text/html"), false, {}},
        {"relocated", "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", false, {}},
        {"missing", Reply("404 Not Found", config("500")), false, {}},
    };
    // GNU social's contentlimit: a number replaces textlimit, anything else leaves it.
    const auto notice = [](const QByteArray& text, const QByteArray& content) {
        return "<config><site><textlimit>" + text + "</textlimit></site><notice><contentlimit>" + content
               + "</contentlimit></notice></config>";
    };
    const std::vector<Case> more = {
        {"contentlimit wins", Reply("200 OK", notice("false", "500")), true, 500},
        {"contentlimit 0 wins", Reply("200 OK", notice("1000", "0")), true, 0},
        {"contentlimit false", Reply("200 OK", notice("1000", "false")), true, 1000},
        {"contentlimit true", Reply("200 OK", notice("1000", "true")), true, 1000},
        {"contentlimit empty", Reply("200 OK", notice("1000", "")), true, 1000},
        {"contentlimit alone", Reply("200 OK", "<config><notice><contentlimit>300</contentlimit></notice></config>"),
         true, 300},
    };
    for (const Case& c : more) {
        ScriptedServer server;
        server.addConnection(ScriptedServer::reply(c.reply));
        EXPECT_EQ(ReadServerConfig(Account(server), Short()).TextLimit, c.limit) << c.name;
    }
    for (const Case& c : cases) {
        ScriptedServer server;
        server.addConnection(ScriptedServer::reply(c.reply));
        const TServerConfig read = ReadServerConfig(Account(server), Short());
        EXPECT_EQ(read.Read, c.read) << c.name;
        EXPECT_EQ(read.TextLimit, c.limit) << c.name;
        EXPECT_TRUE(server.request(0).startsWith("GET /api/statusnet/config.xml HTTP/1.1\r\n")) << c.name;
        EXPECT_TRUE(server.request(0).contains("\r\nAuthorization: Basic ")) << c.name;
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
