// The event-driven client against a scripted loopback server: request bytes, reply
// handling, relocations, the wait and its time-out.

#include "test_httpcli_support.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

QByteArray hostLine(const ScriptedServer& s)
{
    return "Host: 127.0.0.1:" + QByteArray::number(s.port()) + "\r\n";
}

const QByteArray kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// ---- The request on the wire ---------------------------------------------------------

TEST(HttpCliRequest, FormPostIsSentExactly)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p(server.baseUrl() + "/statuses/update.xml", "status=a+b%26c&source=brimlark");
    const PostOutcome o = runPost(p.cli);
    ASSERT_FALSE(o.raised) << o.message.toStdString();
    EXPECT_EQ(o.status, 200);
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

TEST(HttpCliRequest, FavouriteRequestIsSentExactly)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p(server.baseUrl() + "/favorites/create/123.xml", "id=123", "text/html");
    ASSERT_FALSE(runPost(p.cli).raised);
    EXPECT_EQ(server.request(0),
              "POST /favorites/create/123.xml HTTP/1.1\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Connection: close\r\n"
              "Accept-Language: ja,en,fr\r\n"
              "Content-Type: text/html\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Brimlark_Simple)\r\n"
              + hostLine(server)
              + "Content-Length: 6\r\n"
                "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"
                "\r\n"
                "id=123");
}

TEST(HttpCliRequest, OptionalLinesKeepTheirPlaces)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    THttpCli cli;
    QBuffer body;
    body.setData("xyz");
    body.open(QIODevice::ReadOnly);
    cli.URL = server.baseUrl();  // no path: "/"
    cli.BodyStream = &body;
    cli.Sender = "me@example.org";
    cli.Reference = "http://ref/";
    cli.NoCache = true;
    cli.Cookie = "a=b";
    cli.ModifiedSince = QDateTime(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    cli.ServerAuth = httpAuthBasic;
    cli.Username = "a";
    cli.Password = "b";
    ASSERT_FALSE(runPost(cli).raised);
    EXPECT_EQ(server.request(0),
              "POST / HTTP/1.0\r\n"
              "From: me@example.org\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Referer: http://ref/\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Brimlark_Simple)\r\n"
              + hostLine(server)
              + "Pragma: no-cache\r\n"
                "Content-Length: 3\r\n"
                "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                "Authorization: Basic YTpi\r\n"
                "Cookie: a=b\r\n"
                "\r\n"
                "xyz");
}

TEST(HttpCliRequest, CredentialsGoOutOnlyWhenBothAreSet)
{
    for (const auto& [user, password] : {std::pair<QByteArray, QByteArray>{"", "secret"}, {"alice", ""}}) {
        ScriptedServer server;
        server.addConnection(ScriptedServer::reply(kOk));
        ConfiguredPost p(server.baseUrl() + "/x", "id=1", "text/html", user, password);
        ASSERT_FALSE(runPost(p.cli).raised);
        EXPECT_FALSE(server.request(0).contains("Authorization:")) << user.constData();
    }
}

TEST(HttpCliRequest, CredentialsInTheUrlReplaceTheProperties)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p("http://a:b@127.0.0.1:" + QByteArray::number(server.port()) + "/x", "id=1");
    ASSERT_FALSE(runPost(p.cli).raised);
    EXPECT_TRUE(server.request(0).contains("\r\nAuthorization: Basic YTpi\r\n"));
    EXPECT_TRUE(server.request(0).contains(hostLine(server)));
}

TEST(HttpCliRequest, BodyIsReadFromTheStreamsCurrentPosition)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p(server.baseUrl() + "/x", "skipid=9");
    p.body.seek(4);
    ASSERT_FALSE(runPost(p.cli).raised);
    EXPECT_TRUE(server.request(0).endsWith("Content-Length: 4\r\nAuthorization: Basic YWxpY2U6c2VjcmV0\r\n\r\nid=9"));
}

TEST(HttpCliRequest, LargeBodyArrivesWhole)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(kOk));
    QByteArray big(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    ConfiguredPost p(server.baseUrl() + "/big", big);
    const PostOutcome o = runPost(p.cli);
    ASSERT_FALSE(o.raised) << o.message.toStdString();
    EXPECT_TRUE(server.request(0).endsWith(big));
    EXPECT_TRUE(server.request(0).contains("Content-Length: " + QByteArray::number(big.size()) + "\r\n"));
}

TEST(HttpCliRequest, RequestVersionAcceptsOnlyTheTwoVersions)
{
    THttpCli cli;
    EXPECT_EQ(cli.RequestVer(), "1.0");
    cli.SetRequestVer("1.1");
    for (const QByteArray bad : {"2.0", "1.2", "", "1.1 "}) {
        try {
            cli.SetRequestVer(bad);
            ADD_FAILURE() << "accepted " << bad.constData();
        } catch (const EHttpException& e) {
            EXPECT_EQ(e.ErrorCode(), 5);
            EXPECT_EQ(e.Message(), "Insupported HTTP version");
        }
    }
    EXPECT_EQ(cli.RequestVer(), "1.1");
}

TEST(HttpCliRequest, NoReadableBodyStreamIsRefused)
{
    THttpCli cli;
    cli.URL = "http://127.0.0.1:1/";
    QBuffer closed;
    closed.setData("id=1");
    for (QIODevice* body : {static_cast<QIODevice*>(nullptr), static_cast<QIODevice*>(&closed)}) {
        cli.BodyStream = body;
        const PostOutcome o = runPost(cli);
        EXPECT_TRUE(o.raised);
        EXPECT_EQ(o.code, 2);
        EXPECT_EQ(o.message, "HTTP component has nothing to post or put");
        EXPECT_EQ(cli.State(), httpReady);
    }
}

// ---- Replies ---------------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    QByteArray reply;
    int status;
    QByteArray reason;
    bool raises;
    QByteArray body;        // what reaches the reply stream
};

class HttpCliReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(HttpCliReply, EndsAsTheRulesSay)
{
    const ReplyCase& c = GetParam();
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send(c.reply), Step::close()});
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    QBuffer reply;
    reply.open(QIODevice::WriteOnly);
    p.cli.ReplyStream = &reply;
    const PostOutcome o = runPost(p.cli);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.reason, c.reason);
    EXPECT_EQ(o.raised, c.raises);
    if (c.raises) {
        EXPECT_EQ(o.code, c.status);
        EXPECT_EQ(o.message, QString::fromLatin1(c.reason));
    }
    EXPECT_EQ(reply.data(), c.body);
    EXPECT_EQ(p.cli.State(), httpReady);
}

INSTANTIATE_TEST_SUITE_P(Rules, HttpCliReply, ::testing::Values(
    ReplyCase{"Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "OK", false, "hello"},
    ReplyCase{"ExtraBytesAfterLength", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", 200, "OK", false, "abc"},
    ReplyCase{"Chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
              200, "OK", false, "hello world"},
    ReplyCase{"UntilClose", "HTTP/1.0 200 OK\r\n\r\nto the end", 200, "OK", false, "to the end"},
    ReplyCase{"ContinueDropped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
              201, "Created", false, "ok"},
    ReplyCase{"NotFoundRaises", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", 404, "Not Found", true, "nope"},
    ReplyCase{"ServerErrorRaises", "HTTP/1.1 500 Internal Server Error\r\n\r\n", 500, "Internal Server Error", true, ""},
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
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    ASSERT_FALSE(runPost(p.cli).raised);
    EXPECT_EQ(p.cli.ReasonPhrase(), "Fine Thanks");
    EXPECT_EQ(p.cli.ReplyVersion(), "1.1");
    EXPECT_EQ(p.cli.ContentType(), "text/xml; charset=utf-8");
    EXPECT_EQ(p.cli.ContentEncoding(), "Identity");
    EXPECT_EQ(p.cli.ContentLength(), 2);
    EXPECT_EQ(p.cli.HeaderLines(), (QList<QByteArray>{"Content-Type: Text/XML; Charset=UTF-8", "X-Thing:   spaced",
                                                      "Content-Encoding: Identity", "Content-Length: 2"}));
    EXPECT_FALSE(p.cli.ReplyTruncated());
}

TEST(HttpCliReplyFields, KeptConnectionIsReusedForTheSameHost)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na"),
                          Step::readRequest(), Step::send("HTTP/1.1 202 Accepted\r\nContent-Length: 1\r\n\r\nb"),
                          Step::close()});
    ConfiguredPost p(server.baseUrl() + "/one", "id=1");
    p.cli.Connection = "Keep-Alive";
    ASSERT_FALSE(runPost(p.cli).raised);
    p.body.seek(0);
    p.cli.URL = server.baseUrl() + "/two";
    const PostOutcome o = runPost(p.cli);
    EXPECT_EQ(o.status, 202);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(server.request(0).contains("POST /two HTTP/1.1\r\n"));
}

TEST(HttpCliReplyFields, KeptConnectionThatTheServerClosedIsNotReused)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na"),
                          Step::close()});
    server.addConnection(ScriptedServer::reply("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n"));
    ConfiguredPost p(server.baseUrl() + "/one", "id=1");
    p.cli.Connection = "Keep-Alive";
    ASSERT_FALSE(runPost(p.cli).raised);
    // The close reaches the client while no event loop runs, so only a look at the
    // socket itself can tell.
    ASSERT_TRUE(server.waitForFinished(1));
    p.body.seek(0);
    p.cli.URL = server.baseUrl() + "/two";
    const PostOutcome o = runPost(p.cli);
    EXPECT_FALSE(o.raised);
    EXPECT_EQ(o.status, 202);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).startsWith("POST /two HTTP/1.1\r\n"));
}

// ---- Relocations ---------------------------------------------------------------------

TEST(HttpCliRelocation, FoundBecomesGetWithCredentialsAndNoBody)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 302 Found\r\nLocation: /moved/here#frag\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    ConfiguredPost p(server.baseUrl() + "/statuses/update.xml", "status=x");
    const PostOutcome o = runPost(p.cli);
    EXPECT_FALSE(o.raised);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(p.cli.LocationChangeCurCount(), 1);
    EXPECT_EQ(p.cli.Location(), server.baseUrl() + "/moved/here");
    EXPECT_EQ(server.request(1),
              "GET /moved/here HTTP/1.1\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
              "Connection: close\r\n"
              "Accept-Language: ja,en,fr\r\n"
              "User-Agent: Mozilla/4.0 (compatible; Brimlark_Simple)\r\n"
              + hostLine(server)
              + "Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n");
}

TEST(HttpCliRelocation, RelativeAndAbsoluteLocations)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 301 Moved\r\nLocation: next?q=1\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply("HTTP/1.1 303 See Other\r\nLocation: " + server.baseUrl()
                                               + "/abs\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p(server.baseUrl() + "/a/b?x=/y", "id=1");
    EXPECT_EQ(runPost(p.cli).status, 200);
    EXPECT_TRUE(server.request(1).startsWith("GET /a/next?q=1 HTTP/1.1\r\n")) << server.request(1).constData();
    EXPECT_TRUE(server.request(2).startsWith("GET /abs HTTP/1.1\r\n"));
}

TEST(HttpCliRelocation, SixthLocationEndsThePostWithItsStatus)
{
    ScriptedServer server;
    for (int i = 1; i <= 6; ++i)
        server.addConnection(ScriptedServer::reply("HTTP/1.1 302 Found\r\nLocation: /r" + QByteArray::number(i)
                                                   + "\r\nConnection: close\r\n\r\n"));
    server.addConnection(ScriptedServer::reply(kOk));  // must not be reached
    ConfiguredPost p(server.baseUrl() + "/start", "id=1");
    const PostOutcome o = runPost(p.cli);
    EXPECT_FALSE(o.raised);
    EXPECT_EQ(o.status, 302);
    EXPECT_EQ(p.cli.LocationChangeCurCount(), 6);
    ASSERT_TRUE(server.waitForFinished(6));
    EXPECT_EQ(server.connectionCount(), 6);
    EXPECT_TRUE(server.request(5).startsWith("GET /r5 HTTP/1.1\r\n"));
    EXPECT_EQ(p.cli.State(), httpReady);
}

TEST(HttpCliRelocation, NotFollowedWhenSwitchedOff)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 302 Found\r\nLocation: /else\r\nConnection: close\r\n\r\n"));
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    p.cli.FollowRelocation = false;
    const PostOutcome o = runPost(p.cli);
    EXPECT_EQ(o.status, 302);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(HttpCliRelocation, OtherSchemeIsNotImplemented)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply("HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:"
                                               + QByteArray::number(server.port()) + "/s\r\nConnection: close\r\n\r\n"));
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    const PostOutcome o = runPost(p.cli);
    EXPECT_TRUE(o.raised);
    EXPECT_EQ(o.code, 501);
    EXPECT_EQ(o.message, "Protocol \"https\" not implemented");
    EXPECT_EQ(server.connectionCount(), 1);
}

// ---- The wait ------------------------------------------------------------------------

TEST(HttpCliWait, TimersTickAndTheReplyEndsTheWaitAtOnce)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(300), Step::send(kOk), Step::close()});
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const PostOutcome o = runPost(p.cli);
    EXPECT_EQ(o.status, 200);
    EXPECT_GE(ticks, 3);
    // Ends with the reply, not at the next one-second wake.
    EXPECT_LT(o.elapsedMs, 950);
}

TEST(HttpCliWait, SecondPostDuringASlowReplyIsRefusedAndChangesNothing)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(400),
                          Step::send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"), Step::close()});
    ConfiguredPost p(server.baseUrl() + "/favorites/create/1.xml", "id=1", "text/html");
    QBuffer reply;
    reply.open(QIODevice::WriteOnly);
    p.cli.ReplyStream = &reply;
    PostOutcome second;
    QTimer::singleShot(100, [&] {
        // The second caller sets up its own request first, as the dialog does, then posts.
        auto other = std::make_unique<QBuffer>();
        other->setData("id=2");
        other->open(QIODevice::ReadOnly);
        p.cli.BodyStream = other.get();
        p.cli.ReplyStream = nullptr;
        p.cli.URL = server.baseUrl() + "/favorites/create/2.xml";
        second = runPost(p.cli);
        // The second stream is gone before the first request ends.
    });
    const PostOutcome first = runPost(p.cli);
    EXPECT_TRUE(second.raised);
    EXPECT_EQ(second.code, 1);
    EXPECT_EQ(second.message, "HTTP component HttpCli1 is busy");
    EXPECT_FALSE(first.raised);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(reply.data(), "first");
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(server.request(0).startsWith("POST /favorites/create/1.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\nid=1"));
}

TEST(HttpCliWait, BusyMessageNamesTheComponent)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(200), Step::send(kOk), Step::close()});
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    p.cli.setObjectName("HttpCliDialog");
    QString message;
    QTimer::singleShot(50, [&] { message = runPost(p.cli).message; });
    runPost(p.cli);
    EXPECT_EQ(message, "HTTP component HttpCliDialog is busy");
}

TEST(HttpCliWait, TimeOutEndsTheRequestAndLeavesTheClientReady)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    server.addConnection(ScriptedServer::reply(kOk));
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    p.cli.Timeout = 300;
    const PostOutcome o = runPost(p.cli);
    EXPECT_TRUE(o.raised);
    EXPECT_EQ(o.code, 404);
    EXPECT_EQ(o.message, "Connection timed out (Error #10060)");
    EXPECT_EQ(p.cli.StatusCode(), 404);
    EXPECT_EQ(p.cli.State(), httpReady);
    EXPECT_LT(o.elapsedMs, 3000);
    p.body.seek(0);
    EXPECT_EQ(runPost(p.cli).status, 200);
}

TEST(HttpCliWait, ApplicationQuitAbortsTheRequest)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(5000)});
    ConfiguredPost p(server.baseUrl() + "/x", "id=1");
    PostOutcome o;
    // As in the program: the post runs from the main loop and the user quits meanwhile.
    QTimer::singleShot(0, [&] { o = runPost(p.cli); });
    QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCoreApplication::exec();
    EXPECT_TRUE(o.raised);
    EXPECT_EQ(o.code, 404);
    EXPECT_EQ(o.message, "Connection aborted on request");
    EXPECT_EQ(p.cli.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(p.cli.State(), httpReady);
    EXPECT_LT(o.elapsedMs, 3000);
}

} // namespace
