// The event-driven client against a scripted loopback server: request bytes, reply
// handling, relocations, the report of each request, the wait and its time-out.

#include "test_httpcli_support.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

QByteArray hostLine(const ScriptedServer& s)
{
    return "Host: 127.0.0.1:" + QByteArray::number(s.port()) + "\r\n";
}

const QByteArray kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// Runs the event loop until done() holds, at most boundMs; whether it held.
bool runUntil(const std::function<bool()>& done, int boundMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Every report of one client, in order.
struct Reports {
    explicit Reports(THttpCli& cli)
    {
        QObject::connect(&cli, &THttpCli::Finished, [this](const THttpCliResult& r) { results.push_back(r); });
    }
    std::vector<THttpCliResult> results;
};

// ---- The request on the wire ---------------------------------------------------------

// The one place that pins a post as the program configures it, byte for byte; the
// other tests look only at what they are about.
TEST(HttpCliRequest, ServicePostIsSentExactly)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/statuses/update.xml",
                                                   "status=a+b%26c&source=brimlark"));
    ASSERT_FALSE(o.Failed) << o.ErrorMessage.toStdString();
    EXPECT_EQ(o.StatusCode, 200);
    EXPECT_EQ(server.request(0),
              "POST /statuses/update.xml HTTP/1.1\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Connection: close\r\n"
              "Accept-Language: ja,en,fr\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Brimlark_Simple)\r\n"
              + hostLine(server)
              + "Content-Length: 30\r\n"
                "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"
                "\r\n"
                "status=a+b%26c&source=brimlark");
}

TEST(HttpCliRequest, ContentTypeIsTheRequests)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    ASSERT_FALSE(runPost(cli, servicePost(server.baseUrl() + "/favorites/create/123.xml", "id=123", "text/html")).Failed);
    EXPECT_TRUE(server.request(0).contains("\r\nContent-Type: text/html\r\n"));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\nid=123"));
}

TEST(HttpCliRequest, OptionalLinesKeepTheirPlaces)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    THttpCliRequest r;
    r.URL = server.baseUrl();  // no path: "/"
    r.Body = "xyz";
    r.Sender = "me@example.org";
    r.Reference = "http://ref/";
    r.NoCache = true;
    r.Cookie = "a=b";
    r.ModifiedSince = QDateTime(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    r.ServerAuth = httpAuthBasic;
    r.Username = "a";
    r.Password = "b";
    ASSERT_FALSE(runPost(cli, r).Failed);
    const QByteArray sent = server.request(0);
    const QList<QByteArray> lines = sent.left(sent.indexOf("\r\n\r\n")).split('\n');
    QList<QByteArray> names;
    for (const QByteArray& line : lines.mid(1))
        names.append(line.left(line.indexOf(':')));
    EXPECT_TRUE(sent.startsWith("POST / HTTP/1.0\r\n"));
    EXPECT_EQ(names, (QList<QByteArray>{"From", "Accept", "Referer", "Content-Type", "User-Agent", "Host", "Pragma",
                                        "Content-Length", "If-Modified-Since", "Authorization", "Cookie"}));
    for (const char* line : {"From: me@example.org\r\n", "Referer: http://ref/\r\n", "Pragma: no-cache\r\n",
                             "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "Cookie: a=b\r\n"})
        EXPECT_TRUE(sent.contains(line)) << line;
}

TEST(HttpCliRequest, CredentialsGoOutOnlyWhenBothAreSet)
{
    for (const auto& [user, password] : {std::pair<QString, QString>{"", "secret"}, {"alice", ""}}) {
        ScriptedServer server;
        server.addConnection(ScriptedServer::reply(kOk));
        THttpCli cli;
        ASSERT_FALSE(runPost(cli, servicePost(server.baseUrl() + "/x", "id=1", "text/html", user, password)).Failed);
        EXPECT_FALSE(server.request(0).contains("Authorization:")) << user.toStdString();
    }
}

// A name goes to the resolver; its IPv4 address is taken first, where the server listens.
TEST(HttpCliRequest, HostNameIsLookedUp)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost("http://localhost:" + QByteArray::number(server.port()) + "/x", "id=1"));
    EXPECT_EQ(o.StatusCode, 200) << o.ReasonPhrase.constData();
    EXPECT_TRUE(server.request(0).contains("\r\nHost: localhost:" + QByteArray::number(server.port()) + "\r\n"));
}

TEST(HttpCliRequest, EmptyBodyPostsZeroLength)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/x", ""));
    EXPECT_EQ(o.StatusCode, 200);
    EXPECT_TRUE(server.request(0).contains("\r\nContent-Length: 0\r\n"));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\n"));
}

TEST(HttpCliRequest, LargeBodyArrivesWhole)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    QByteArray big(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/big", big));
    ASSERT_FALSE(o.Failed) << o.ErrorMessage.toStdString();
    EXPECT_TRUE(server.request(0).endsWith(big));
    EXPECT_TRUE(server.request(0).contains("Content-Length: " + QByteArray::number(big.size()) + "\r\n"));
}

TEST(HttpCliRequest, OtherVersionsFailWithoutTraffic)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    for (const QByteArray bad : {"2.0", "1.2", "", "1.1 "}) {
        r.RequestVer = bad;
        const PostOutcome o = runPost(cli, r);
        EXPECT_TRUE(o.Failed && o.NoReply) << bad.constData();
        EXPECT_EQ(o.ErrorCode, 5);
        EXPECT_EQ(o.ErrorMessage, "Insupported HTTP version");
        EXPECT_EQ(cli.State(), httpReady);
    }
    EXPECT_EQ(server.connectionCount(), 0);
    r.RequestVer = "1.1";
    EXPECT_EQ(runPost(cli, r).StatusCode, 200);
}

// ---- Replies ---------------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    QByteArray reply;
    int status;
    QByteArray reason;
    bool fails;
    QByteArray body;        // what reaches the reply stream
};

class HttpCliReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(HttpCliReply, EndsAsTheRulesSay)
{
    const ReplyCase& c = GetParam();
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send(c.reply), Step::close()});
    THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    QBuffer reply;
    reply.open(QIODevice::WriteOnly);
    r.ReplyStream = &reply;
    THttpCli cli;
    const PostOutcome o = runPost(cli, r);
    EXPECT_EQ(o.StatusCode, c.status);
    EXPECT_EQ(o.ReasonPhrase, c.reason);
    EXPECT_EQ(o.Failed, c.fails);
    if (c.fails) {
        EXPECT_EQ(o.ErrorCode, c.status);
        EXPECT_EQ(o.ErrorMessage, QString::fromLatin1(c.reason));
    }
    // Only a reply that never came is the client's own status.
    EXPECT_EQ(o.NoReply, c.reason == "Connection closed before a reply was received");
    EXPECT_EQ(reply.data(), c.body);
    EXPECT_EQ(cli.State(), httpReady);
}

INSTANTIATE_TEST_SUITE_P(Rules, HttpCliReply, ::testing::Values(
    ReplyCase{"Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "OK", false, "hello"},
    ReplyCase{"ExtraBytesAfterLength", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", 200, "OK", false, "abc"},
    ReplyCase{"Chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
              200, "OK", false, "hello world"},
    ReplyCase{"UntilClose", "HTTP/1.0 200 OK\r\n\r\nto the end", 200, "OK", false, "to the end"},
    ReplyCase{"ContinueDropped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
              201, "Created", false, "ok"},
    ReplyCase{"NotFoundFails", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", 404, "Not Found", true, "nope"},
    ReplyCase{"ServerErrorFails", "HTTP/1.1 500 Internal Server Error\r\n\r\n", 500, "Internal Server Error", true, ""},
    ReplyCase{"UnauthorizedReturns", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n",
              401, "Unauthorized", false, ""},
    ReplyCase{"ProxyAuthReturns", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", 407,
              "Proxy Authentication Required", false, ""},
    ReplyCase{"NoContentHasNoBody", "HTTP/1.1 204 No Content\r\n\r\nignored", 204, "No Content", false, ""},
    ReplyCase{"NotModifiedHasNoBody", "HTTP/1.1 304 Not Modified\r\n\r\n", 304, "Not Modified", false, ""},
    ReplyCase{"HeaderlessHtml", "<HTML><body>hi</body></HTML>\r\nmore", 0, "", false,
              "<HTML><body>hi</body></HTML>\r\nmore"},
    ReplyCase{"HeaderlessDoctype", "<!doctype html>\n<p>x", 0, "", false, "<!doctype html>\n<p>x"},
    ReplyCase{"ClosedBeforeAnyReply", "", 404, "Connection closed before a reply was received", true, ""},
    ReplyCase{"StatusWithoutNumber", "HTTP/1.1 OK\r\n\r\n", 0, "", false, ""},
    ReplyCase{"NotAStatusLine", "FOO 200 OK\r\nContent-Length: 3\r\n\r\nabc", 0, "", false, "abc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpCliReplyFields, HeadersAreRecorded)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(
        "HTTP/1.1 200 Fine Thanks\r\nContent-Type: Text/XML; Charset=UTF-8\r\nX-Thing:   spaced\r\n"
        "Content-Encoding: Identity\r\nContent-Length: 2\r\n\r\nok"));
    THttpCli cli;
    ASSERT_FALSE(runPost(cli, servicePost(server.baseUrl() + "/x", "id=1")).Failed);
    EXPECT_EQ(cli.ReasonPhrase(), "Fine Thanks");
    EXPECT_EQ(cli.ReplyVersion(), "1.1");
    EXPECT_EQ(cli.ContentType(), "text/xml; charset=utf-8");
    EXPECT_EQ(cli.ContentEncoding(), "Identity");
    EXPECT_EQ(cli.ContentLength(), 2);
    EXPECT_EQ(cli.HeaderLines(), (QList<QByteArray>{"Content-Type: Text/XML; Charset=UTF-8", "X-Thing:   spaced",
                                                    "Content-Encoding: Identity", "Content-Length: 2"}));
    EXPECT_FALSE(cli.ReplyTruncated());
}

// A post as the program makes it, but asking to keep the connection.
THttpCliRequest keptPost(const QByteArray& url)
{
    THttpCliRequest r = servicePost(url, "id=1");
    r.Connection = "Keep-Alive";
    return r;
}

TEST(HttpCliReplyFields, UnauthorizedWithoutLengthOnAKeptConnectionEndsAtOnce)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(),
                          Step::send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n"),
                          Step::waitForClose(5000)});
    THttpCli cli;
    cli.Timeout = 5000;
    const PostOutcome o = runPost(cli, keptPost(server.baseUrl() + "/x"));
    EXPECT_EQ(o.StatusCode, 401);
    EXPECT_FALSE(o.Failed);
    EXPECT_LT(o.elapsedMs, 500);
}

TEST(HttpCliReplyFields, KeptConnectionIsReusedOnlyForTheSameHostAndPort)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na"),
                          Step::readRequest(), Step::send("HTTP/1.1 202 Accepted\r\nContent-Length: 1\r\n\r\nb"),
                          Step::waitForClose(5000)});
    ScriptedServer other;
    other.addConnection(ScriptedServer::reply("HTTP/1.1 203 Elsewhere\r\nContent-Length: 0\r\n\r\n"));
    THttpCli cli;
    ASSERT_FALSE(runPost(cli, keptPost(server.baseUrl() + "/one")).Failed);
    EXPECT_EQ(runPost(cli, keptPost(server.baseUrl() + "/two")).StatusCode, 202);
    EXPECT_EQ(runPost(cli, keptPost(other.baseUrl() + "/three")).StatusCode, 203);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(server.request(0).contains("POST /two HTTP/1.1\r\n"));
    EXPECT_FALSE(server.request(0).contains("/three"));
    EXPECT_EQ(other.connectionCount(), 1);
    EXPECT_TRUE(other.request(0).startsWith("POST /three HTTP/1.1\r\n"));
}

TEST(HttpCliReplyFields, KeptConnectionThatTheServerClosedIsNotReused)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na"),
                          Step::close()});
    server.addConnection(ScriptedServer::reply("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n"));
    THttpCli cli;
    ASSERT_FALSE(runPost(cli, keptPost(server.baseUrl() + "/one")).Failed);
    // The close reaches the client while no event loop runs, so only a look at the
    // socket itself can tell.
    ASSERT_TRUE(server.waitForFinished(1));
    const PostOutcome o = runPost(cli, keptPost(server.baseUrl() + "/two"));
    EXPECT_FALSE(o.Failed);
    EXPECT_EQ(o.StatusCode, 202);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).startsWith("POST /two HTTP/1.1\r\n"));
}

// ---- Relocations ---------------------------------------------------------------------

// A GET after a POST would pass a page for a stored post: 301, 302 and 303 end the post
// with their own status; a Location beside any other status is never followed either.
TEST(HttpCliRelocation, PostIsNeverTurnedIntoAGet)
{
    for (const QByteArray status : {"301 Moved Permanently", "302 Found", "303 See Other", "201 Created"}) {
        ScriptedServer server;
        server.addConnection(ScriptedServer::reply("HTTP/1.1 " + status + "\r\nLocation: /moved\r\nContent-Length: 0\r\n\r\n"));
        server.addConnection(ScriptedServer::reply(kOk));  // must not be reached
        THttpCli cli;
        const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/statuses/update.xml", "status=x"));
        EXPECT_FALSE(o.Failed) << status.constData();
        EXPECT_EQ(QByteArray::number(o.StatusCode) + ' ' + o.ReasonPhrase, status);
        EXPECT_EQ(o.Relocations, 0);
        EXPECT_EQ(server.connectionCount(), 1) << status.constData();
    }
}

// 307 and 308 keep the method: the same POST, body and all, goes to the new place.
TEST(HttpCliRelocation, TemporaryAndPermanentRedirectsRepeatThePost)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: next?q=1#frag\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply("HTTP/1.1 308 Permanent Redirect\r\nLocation: " + server.baseUrl()
                                               + "/abs\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/a/b?x=/y", "status=x"));
    EXPECT_EQ(o.StatusCode, 200);
    EXPECT_EQ(o.Relocations, 2);
    EXPECT_EQ(o.Location, server.baseUrl() + "/abs");
    const QByteArray post = server.request(0);
    EXPECT_EQ(server.request(1), QByteArray(post).replace("POST /a/b?x=/y ", "POST /a/next?q=1 "));
    EXPECT_EQ(server.request(2), QByteArray(post).replace("POST /a/b?x=/y ", "POST /abs "));
}

// The Authorization line goes only to the scheme, host and port the request was made for.
TEST(HttpCliRelocation, CredentialsStayWithTheirOrigin)
{
    ScriptedServer elsewhere;
    elsewhere.addConnection(ScriptedServer::reply(kOk));
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: /same\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.baseUrl()
                                               + "/other\r\nConnection: close\r\n\r\n"));
    THttpCli cli;
    EXPECT_EQ(runPost(cli, servicePost(server.baseUrl() + "/x", "id=1")).StatusCode, 200);
    EXPECT_TRUE(server.request(1).contains("\r\nAuthorization: Basic "));
    ASSERT_TRUE(elsewhere.waitForFinished(1));
    EXPECT_TRUE(elsewhere.request(0).startsWith("POST /other HTTP/1.1\r\n"));
    EXPECT_FALSE(elsewhere.request(0).contains("Authorization"));
    EXPECT_TRUE(elsewhere.request(0).endsWith("\r\n\r\nid=1"));
}

TEST(HttpCliRelocation, SixthLocationEndsThePostWithItsStatus)
{
    ScriptedServer server;
    for (int i = 1; i <= 6; ++i)
        server.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: /r" + QByteArray::number(i)
                                                   + "\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply(kOk));  // must not be reached
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/start", "id=1"));
    EXPECT_FALSE(o.Failed);
    EXPECT_EQ(o.StatusCode, 307);
    EXPECT_EQ(o.Relocations, 5);
    EXPECT_EQ(o.Location, server.baseUrl() + "/r5");
    EXPECT_EQ(cli.LocationChangeCurCount(), 6);  // the Location replies met, the last one included
    ASSERT_TRUE(server.waitForFinished(6));
    EXPECT_EQ(server.connectionCount(), 6);
    EXPECT_TRUE(server.request(5).startsWith("POST /r5 HTTP/1.1\r\n"));
    EXPECT_EQ(cli.State(), httpReady);
}

TEST(HttpCliRelocation, NotFollowedWhenSwitchedOff)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 307 Temporary Redirect\r\nLocation: /else\r\nConnection: close\r\n\r\n"));
    THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    r.FollowRelocation = false;
    THttpCli cli;
    EXPECT_EQ(runPost(cli, r).StatusCode, 307);
    EXPECT_EQ(server.connectionCount(), 1);
}

// https is spoken (and its relocations followed: test_httpcli_tls); nothing else is.
TEST(HttpCliRelocation, OtherSchemeIsNotImplemented)
{
    ScriptedServer server;
    THttpCli cli;
    const PostOutcome o = runPost(cli, servicePost("ftp://127.0.0.1:" + QByteArray::number(server.port()) + "/x", "id=1"));
    EXPECT_TRUE(o.Failed);
    EXPECT_EQ(o.ErrorCode, 501);
    EXPECT_EQ(o.ErrorMessage, "Protocol \"ftp\" not implemented");
    EXPECT_EQ(server.connectionCount(), 0);
}

// ---- The wait ------------------------------------------------------------------------

TEST(HttpCliWait, TimersTickAndTheReplyEndsTheWaitAtOnce)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(300), Step::send(kOk), Step::close()});
    THttpCli cli;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/x", "id=1"));
    EXPECT_EQ(o.StatusCode, 200);
    EXPECT_GE(ticks, 3);
    // Ends with the reply, not at the next one-second wake.
    EXPECT_LT(o.elapsedMs, 950);
}

TEST(HttpCliWait, SecondPostDuringASlowReplyIsRefusedAndChangesNothing)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(400),
                          Step::send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"), Step::close()});
    THttpCli cli;
    THttpCliRequest first = servicePost(server.baseUrl() + "/favorites/create/1.xml", "id=1", "text/html");
    QBuffer reply;
    reply.open(QIODevice::WriteOnly);
    first.ReplyStream = &reply;
    PostOutcome second;
    QTimer::singleShot(100, [&] {
        // The second caller's request is gone before the first request ends.
        second = runPost(cli, servicePost(server.baseUrl() + "/favorites/create/2.xml", "id=2", "text/html"));
    });
    const PostOutcome o = runPost(cli, first);
    EXPECT_TRUE(second.Failed && second.NoReply);
    EXPECT_EQ(second.ErrorCode, 1);
    EXPECT_EQ(second.ErrorMessage, "HTTP component HttpCli1 is busy");
    EXPECT_FALSE(o.Failed);
    EXPECT_EQ(o.StatusCode, 200);
    EXPECT_EQ(reply.data(), "first");
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(server.request(0).startsWith("POST /favorites/create/1.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\nid=1"));
}

// ---- Start and Finished ---------------------------------------------------------------

// Each request Start accepts is reported once, from the loop and never inside Start:
// after a reply, after a failure that comes at once, and after Abort, which reports
// before it returns. A refusal is Start's false and reports nothing; the running request
// goes on untouched and a slot of Finished may start the next request.
TEST(HttpCliStart, FinishedOncePerStartedRequest)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    server.addConnection(ScriptedServer::reply(kOk));
    server.addConnection(ScriptedServer::reply(kOk));
    const THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    THttpCli cli;
    Reports reports(cli);

    // A reply.
    ASSERT_TRUE(cli.Start(r));
    EXPECT_TRUE(cli.Running());
    EXPECT_TRUE(reports.results.empty());
    ASSERT_TRUE(runUntil([&] { return !reports.results.empty(); }));
    EXPECT_EQ(reports.results[0].StatusCode, 200);
    EXPECT_FALSE(cli.Running());

    // A failure known inside Start still waits for the loop.
    THttpCliRequest ftp = r;
    ftp.URL = "ftp://127.0.0.1/x";
    ASSERT_TRUE(cli.Start(ftp));
    EXPECT_EQ(reports.results.size(), 1u);
    ASSERT_TRUE(runUntil([&] { return reports.results.size() == 2; }));
    EXPECT_EQ(reports.results[1].ErrorCode, 501);

    // Refusals while one runs, and for a bad version: false, code, nothing reported.
    ASSERT_TRUE(cli.Start(r));
    ASSERT_TRUE(runUntil([&] { return server.request(1).endsWith("id=1"); }));
    THttpCliResult refusal;
    EXPECT_FALSE(cli.Start(r, &refusal));
    EXPECT_TRUE(refusal.Failed);
    EXPECT_EQ(refusal.ErrorCode, 1);
    EXPECT_EQ(refusal.Why, THttpCliFailure::Refused);
    EXPECT_EQ(cli.State(), httpWaitingHeader);  // the running request goes on
    cli.Abort();
    EXPECT_EQ(reports.results.size(), 3u);  // reported before Abort returned
    EXPECT_EQ(reports.results[2].ErrorMessage, "Connection aborted on request");
    EXPECT_EQ(reports.results[2].StatusCode, 404);
    EXPECT_FALSE(cli.Running());
    EXPECT_TRUE(server.waitForFinished(2, 2000)) << "the aborted request's socket is still open";
    THttpCliRequest badVersion = r;
    badVersion.RequestVer = "2.0";
    EXPECT_FALSE(cli.Start(badVersion, &refusal));
    EXPECT_EQ(refusal.ErrorCode, 5);
    cli.Abort();  // nothing runs: nothing to report

    // A slot of Finished starts the next request.
    bool chained = false;
    QObject::connect(&cli, &THttpCli::Finished, &cli, [&] {
        if (!chained)
            chained = cli.Start(r);
    });
    ASSERT_TRUE(cli.Start(r));
    ASSERT_TRUE(runUntil([&] { return reports.results.size() == 5; }));
    EXPECT_TRUE(chained);
    EXPECT_EQ(reports.results[3].StatusCode, 200);
    EXPECT_EQ(reports.results[4].StatusCode, 200);
    runUntil([] { return false; }, 100);
    EXPECT_EQ(reports.results.size(), 5u);
    EXPECT_EQ(server.connectionCount(), 4);
}

// A request that has ended, its report still on the way, reports its own ending when
// Abort comes first: once, at once.
TEST(HttpCliStart, AbortOfAnEndedRequestReportsItsOwnEnding)
{
    THttpCli cli;
    Reports reports(cli);
    ASSERT_TRUE(cli.Start(servicePost("ftp://127.0.0.1/x", "id=1")));  // ended inside Start
    EXPECT_EQ(cli.State(), httpReady);
    EXPECT_TRUE(reports.results.empty());
    cli.Abort();
    ASSERT_EQ(reports.results.size(), 1u);
    EXPECT_EQ(reports.results[0].ErrorCode, 501);
    runUntil([] { return false; }, 100);
    EXPECT_EQ(reports.results.size(), 1u);
}

// A client destroyed while its request runs reports nothing and leaves nothing behind.
TEST(HttpCliStart, DestroyedWhileRunningReportsNothing)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    int reported = 0;
    {
        THttpCli cli;
        QObject::connect(&cli, &THttpCli::Finished, [&] { ++reported; });
        ASSERT_TRUE(cli.Start(servicePost(server.baseUrl() + "/x", "id=1")));
        ASSERT_TRUE(runUntil([&] { return server.request(0).endsWith("id=1"); }));
    }
    EXPECT_TRUE(server.waitForFinished(1, 2000));
    runUntil([] { return false; }, 100);
    EXPECT_EQ(reported, 0);
}

TEST(HttpCliWait, BusyMessageNamesTheComponent)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(200), Step::send(kOk), Step::close()});
    const THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    THttpCli cli;
    cli.setObjectName("HttpCliDialog");
    QString message;
    QTimer::singleShot(50, [&] { message = runPost(cli, r).ErrorMessage; });
    runPost(cli, r);
    EXPECT_EQ(message, "HTTP component HttpCliDialog is busy");
}

TEST(HttpCliWait, TimeOutEndsTheRequestAndLeavesTheClientReady)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    server.addConnection(ScriptedServer::reply(kOk));
    const THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    THttpCli cli;
    cli.Timeout = 300;
    const PostOutcome o = runPost(cli, r);
    EXPECT_TRUE(o.Failed && o.NoReply);
    EXPECT_EQ(o.ErrorCode, 404);
    EXPECT_EQ(o.ErrorMessage, "Connection timed out (Error #10060)");
    EXPECT_EQ(o.StatusCode, 404);
    EXPECT_EQ(cli.State(), httpReady);
    EXPECT_LT(o.elapsedMs, 3000);
    EXPECT_EQ(runPost(cli, r).StatusCode, 200);
}

TEST(HttpCliWait, ApplicationQuitAbortsTheRequest)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    THttpCli cli;
    PostOutcome o;
    // As in the program: the post runs from the main loop and the user quits meanwhile.
    QTimer::singleShot(0, [&] { o = runPost(cli, servicePost(server.baseUrl() + "/x", "id=1")); });
    QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCoreApplication::exec();
    EXPECT_TRUE(o.Failed);
    EXPECT_EQ(o.ErrorCode, 404);
    EXPECT_EQ(o.ErrorMessage, "Connection aborted on request");
    EXPECT_EQ(o.ReasonPhrase, "Connection aborted on request");
    EXPECT_EQ(cli.State(), httpReady);
    EXPECT_LT(o.elapsedMs, 3000);
}

} // namespace
