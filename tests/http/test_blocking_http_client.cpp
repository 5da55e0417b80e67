// The blocking client against a scripted peer on loopback: the request on the wire, the
// reply and body rules, and the failures with their classes and texts.
#include "http/BlockingHttpClient.h"
#include "ExpectError.h"
#include "MemoryTransport.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using Step = ScriptedServer::Step;

namespace {

const QByteArray Ok200 = "HTTP/1.1 200 OK\r\n";

QString text(const char* s)
{
    return QString::fromUtf8(s);
}

} // namespace

// ---- the request on the wire --------------------------------------------------------

TEST(BlockingRequest, HeadIsExactlyTheDocumentedLinesInOrder)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 2\r\n\r\nok"));
    TBlockingHttpClient client;
    client.Request().Username = "abc";
    client.Request().Password = "";
    client.Request().BasicAuthentication = true;

    EXPECT_EQ(client.FetchText(server.baseUrl() + "/statuses/friends_timeline.xml"), "ok");
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.request(0),
              "GET /statuses/friends_timeline.xml HTTP/1.1\r\n"
              "Content-Type: text/html\r\n"
              "Host: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Brimlark_Simple)\r\n"
              "Authorization: Basic " + QByteArray("abc:").toBase64() + "\r\n"
              "\r\n");
}

TEST(BlockingRequest, HostWithoutPortWhenThePortIs80)
{
    QByteArray written;
    TBlockingHttpClient client;
    client.TransportFactory = MemoryTransport::Factory({{Ok200 + "Content-Length: 0\r\n\r\n"}}, &written);
    client.FetchText("http://example.com/a.xml");
    EXPECT_TRUE(written.contains("\r\nHost: example.com\r\n")) << written.constData();
    client.FetchText("example.com:8080/b.xml");
    EXPECT_TRUE(written.contains("\r\nHost: example.com:8080\r\n")) << written.constData();
}

struct CredentialCase {
    const char* name;
    QByteArray user, password;
    bool basic;
    QByteArray expectedAuthorization;  // empty: no header
};

class BlockingCredentials : public testing::TestWithParam<CredentialCase> {};

TEST_P(BlockingCredentials, AuthorizationHeader)
{
    const CredentialCase& c = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 0\r\n\r\n"));
    TBlockingHttpClient client;
    client.Request().Username = c.user;
    client.Request().Password = c.password;
    client.Request().BasicAuthentication = c.basic;
    client.FetchText("http://127.0.0.1:" + QByteArray::number(server.port()) + "/x");
    ASSERT_TRUE(server.waitForFinished(1));
    const QByteArray head = server.request(0);
    if (c.expectedAuthorization.isEmpty())
        EXPECT_FALSE(head.contains("Authorization")) << head.constData();
    else
        EXPECT_TRUE(head.contains("\r\nAuthorization: Basic " + c.expectedAuthorization.toBase64() + "\r\n\r\n"))
            << head.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingCredentials,
    testing::Values(CredentialCase{"EmptyPasswordKeepsColon", "abc", "", true, "abc:"},
                    CredentialCase{"InnerSpacesKept", "a b", "p w", true, "a b:p w"},
                    CredentialCase{"Utf8Bytes", "\xe3\x81\x82", "x", true, "\xe3\x81\x82:x"},
                    CredentialCase{"NoneWithoutBasic", "abc", "def", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct TargetCase {
    const char* name;
    QByteArray urlTail;  // after "http://127.0.0.1:PORT"
    QByteArray target;
};

class BlockingTarget : public testing::TestWithParam<TargetCase> {};

TEST_P(BlockingTarget, RequestLine)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 0\r\n\r\n"));
    TBlockingHttpClient client;
    client.FetchText(server.baseUrl() + GetParam().urlTail);
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_TRUE(server.request(0).startsWith("GET " + GetParam().target + " HTTP/1.1\r\n"))
        << server.request(0).constData();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingTarget,
    testing::Values(TargetCase{"NoPath", "", "/"},
                    TargetCase{"Backslashes", "\\statuses\\friends_timeline.xml", "/statuses/friends_timeline.xml"},
                    TargetCase{"QueryAndFragment", "/statuses/f.xml?page=2&twtr=true#top", "/statuses/f.xml?page=2&twtr=true"},
                    TargetCase{"FragmentInDocument", "/a/doc.xml#part", "/a/doc.xml"},
                    TargetCase{"QueryKeepsSlashes", "/a/b?x=1/y", "/a/b?x=1/y"},
                    TargetCase{"QueryAtEquals", "/a/b=c/d", "/a/b=c/d"},
                    TargetCase{"NotPercentEncoded", "/a b/%41\xe3\x81\x82", "/a b/%41\xe3\x81\x82"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- replies and bodies -------------------------------------------------------------

struct BodyCase {
    const char* name;
    QByteArray reply;
    QByteArray body;
};

class BlockingBody : public testing::TestWithParam<BodyCase> {};

TEST_P(BlockingBody, ReturnsTheBody)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(GetParam().reply));
    TBlockingHttpClient client;
    EXPECT_EQ(client.FetchText(server.baseUrl() + "/x"), GetParam().body);
}

const QByteArray Utf8Text = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e <status/>\r\n\x00\xff";

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingBody,
    testing::Values(
        BodyCase{"ContentLength", Ok200 + "Content-Length: 5\r\n\r\nhello", "hello"},
        BodyCase{"ContentLengthStopsThere", Ok200 + "Content-Length: 3\r\n\r\nhello", "hel"},
        BodyCase{"ContentLengthZero", Ok200 + "Content-Length: 0\r\n\r\nignored", ""},
        BodyCase{"LfOnlyLines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok"},
        BodyCase{"Chunked", Ok200 + "Transfer-Encoding: chunked\r\n\r\na\r\n0123456789\r\n5\r\nabcde\r\n0\r\n\r\n", "0123456789abcde"},
        BodyCase{"ChunkSizeTextAfterSpace", Ok200 + "Transfer-Encoding: chunked\r\n\r\na  ext\r\n0123456789\r\n0\r\n\r\n", "0123456789"},
        BodyCase{"ManySmallChunks", Ok200 + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray("3\r\nabc\r\n").repeated(5000) + "0\r\n\r\n", QByteArray("abc").repeated(5000)},
        BodyCase{"ChunkExtension", Ok200 + "Transfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n0\r\n\r\n", "abc"},
        BodyCase{"ChunkedBeatsMissingLength", Ok200 + "Transfer-Encoding: gzip, chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", "ok"},
        BodyCase{"ChunkedInAnyCase", Ok200 + "Transfer-Encoding: Chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", "ok"},
        BodyCase{"UntilClose", Ok200 + "Content-Type: text/xml\r\n\r\n" + QByteArray(70000, 'x'), QByteArray(70000, 'x')},
        BodyCase{"LengthNotANumberRunsToClose", Ok200 + "Content-Length: 12abc\r\n\r\nall of it", "all of it"},
        BodyCase{"Utf8BytesUnchanged", Ok200 + "Content-Length: " + QByteArray::number(Utf8Text.size()) + "\r\n\r\n" + Utf8Text, Utf8Text},
        BodyCase{"ContinueThenOk", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n" + Ok200 + "Content-Length: 4\r\n\r\nbody", "body"},
        BodyCase{"NoContent", "HTTP/1.1 204 No Content\r\nContent-Length: 4\r\n\r\n", ""},
        BodyCase{"ContinuationLinesInHead", Ok200 + "X-Long: a\r\n  b\r\n\tc\r\nContent-Length: 1\r\n\r\nz", "z"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockingReply, HeadLinesKeptAsReceived)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + "x-long: a\r\n  b \r\nCR: in\rside\r\ncontent-length: 0\r\n\r\n"));
    TBlockingHttpClient client;
    client.FetchText(server.baseUrl());
    const TBlockingHttpReply& reply = client.Response();
    EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(reply.ResponseCode(), 200);
    EXPECT_EQ(reply.HeaderLines.Lines(), (QList<QByteArray>{"x-long: a", "  b ", "CR: in\rside", "content-length: 0"}));
    EXPECT_EQ(reply.HeaderLines.Value("X-LONG"), "a b");
    EXPECT_EQ(reply.HeaderLines.Value("cr"), "in\rside");
}

struct FailureCase {
    const char* name;
    QByteArray reply;
    int code;
    QByteArray statusLine;
    QByteArray body;
};

class BlockingFailedReply : public testing::TestWithParam<FailureCase> {};

TEST_P(BlockingFailedReply, RaisesProtocolErrorWithoutFollowing)
{
    const FailureCase& c = GetParam();
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(c.reply));
    // A second connection would mean a retry or a followed redirect.
    server.setDefaultScript(ScriptedServer::reply(Ok200 + "Content-Length: 5\r\n\r\nwrong"));
    TBlockingHttpClient client;
    client.Request().Username = "abc";
    client.Request().Password = "bad";
    client.Request().BasicAuthentication = true;
    const auto e = expectError<EHttpProtocolError>([&] { client.FetchText(server.baseUrl() + "/x"); });
    EXPECT_EQ(e.ReplyCode(), c.code);
    EXPECT_EQ(e.Message(), QString::fromUtf8(c.statusLine));
    EXPECT_EQ(e.ReplyBody(), c.body);
    EXPECT_FALSE(client.Connected());
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.connectionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingFailedReply,
    testing::Values(
        FailureCase{"Unauthorized", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 6\r\n\r\ndenied", 401, "HTTP/1.1 401 Unauthorized", "denied"},
        FailureCase{"Found", "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", 302, "HTTP/1.1 302 Found", ""},
        FailureCase{"OkWithLocation", "HTTP/1.1 200 OK\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nhi", 200, "HTTP/1.1 200 OK", "hi"},
        FailureCase{"NotModified", "HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n", 304, "HTTP/1.1 304 Not Modified", ""},
        FailureCase{"ServerErrorUntilClose", "HTTP/1.0 500 Internal Server Error\r\n\r\n<error>x</error>", 500, "HTTP/1.0 500 Internal Server Error", "<error>x</error>"},
        FailureCase{"ServerErrorChunked", "HTTP/1.1 503 Busy\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbusy\r\n0\r\n\r\n", 503, "HTTP/1.1 503 Busy", "busy"},
        FailureCase{"Informational", "HTTP/1.1 101 Switching\r\nContent-Length: 0\r\n\r\n", 101, "HTTP/1.1 101 Switching", ""},
        FailureCase{"NoNumber", "HTTP/1.1 OK\r\nContent-Length: 0\r\n\r\n", -1, "HTTP/1.1 OK", ""},
        FailureCase{"ShortBodyStillReportsStatus", "HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nshort", 404, "HTTP/1.1 404 Not Found", "short"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockingReply, RedirectLoopEndsAfterOneRequest)
{
    ScriptedServer server;
    const QByteArray loop = "HTTP/1.1 301 Moved\r\nLocation: " + server.baseUrl() + "/x\r\nContent-Length: 0\r\n\r\n";
    server.setDefaultScript(ScriptedServer::reply(loop));
    TBlockingHttpClient client;
    const auto e = expectError<EHttpProtocolError>([&] { client.FetchText(server.baseUrl() + "/x"); });
    EXPECT_EQ(e.ReplyCode(), 301);
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.connectionCount(), 1);
}

// Without a length a 401 body runs to the close, which a server holding the connection
// never sends: the wait for it is bounded and the status still reaches the caller.
TEST(BlockingReply, FailedReplyBodyWaitsTwoSecondsAtMost)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\npartial"),
                          Step::waitForClose(20000)});
    TBlockingHttpClient client;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(expectError<EHttpProtocolError>([&] { client.FetchText(server.baseUrl()); }).ReplyCode(), 401);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
    EXPECT_FALSE(client.Connected());
}

TEST(BlockingReply, FailureWithoutBodyEndsOnItsHead)
{
    for (const QByteArray reply : {"HTTP/1.1 304 Not Modified\r\n\r\n", "HTTP/1.1 101 Switching\r\nUpgrade: x\r\n\r\n",
                                   "HTTP/1.1 204 No Content\r\nLocation: /y\r\n\r\n"}) {
        ScriptedServer server;
        server.addConnection({Step::readRequest(), Step::send(reply), Step::waitForClose(20000)});
        TBlockingHttpClient client;
        const auto start = std::chrono::steady_clock::now();
        const auto e = expectError<EHttpProtocolError>([&] { client.FetchText(server.baseUrl()); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << reply.constData();
        EXPECT_EQ(e.ReplyBody(), "");
    }
}

TEST(BlockingReply, ClosedAfterHeaderLinesOfSuccessIsUndefined)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send(Ok200 + "Server: x\r\n"), Step::close()});
    TBlockingHttpClient client;
    const auto e = expectError<EHttpClientError>([&] { client.FetchText(server.baseUrl()); });
    EXPECT_EQ(e.Message(), text("Undefined situation"));
}

TEST(BlockingConnectionReuse, KeepAliveUsesOneConnection)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\na"),
                          Step::readRequest(), Step::send(Ok200 + "Connection: close\r\nContent-Length: 1\r\n\r\nb"),
                          Step::waitForClose(5000)});
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 1\r\n\r\nc"));
    TBlockingHttpClient client;
    EXPECT_EQ(client.FetchText(server.baseUrl() + "/1"), "a");
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.FetchText(server.baseUrl() + "/2"), "b");
    EXPECT_FALSE(client.Connected());  // "Connection: close"
    EXPECT_EQ(client.FetchText(server.baseUrl() + "/3"), "c");
    ASSERT_TRUE(server.waitForFinished(2));
    EXPECT_EQ(server.connectionCount(), 2);
}

// The whole end of a chunked body (last chunk, trailer fields, empty line) is read, so
// the next reply on the kept connection starts at its status line.
TEST(BlockingConnectionReuse, ChunkedReplyLeavesTheConnectionAtTheNextReply)
{
    for (const QByteArray trailer : {"", "X-Sum: 1\r\n"}) {
        ScriptedServer server;
        server.addConnection({Step::readRequest(), Step::send(Ok200 + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n" + trailer + "\r\n"),
                              Step::readRequest(), Step::send(Ok200 + "Content-Length: 2\r\n\r\nde"), Step::waitForClose(5000)});
        TBlockingHttpClient client;
        client.ReadTimeout = 2000;
        EXPECT_EQ(client.FetchText(server.baseUrl() + "/1"), "abc");
        EXPECT_EQ(client.FetchText(server.baseUrl() + "/2"), "de") << trailer.constData();
        client.Disconnect();
        ASSERT_TRUE(server.waitForFinished(1));
        EXPECT_EQ(server.connectionCount(), 1);
    }
}

TEST(BlockingConnectionReuse, OtherPortGetsItsOwnConnection)
{
    ScriptedServer first, second;
    first.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\na"), Step::waitForClose(5000)});
    second.addConnection({Step::readRequest(), Step::send(Ok200 + "Content-Length: 1\r\n\r\nb"), Step::waitForClose(5000)});
    TBlockingHttpClient client;
    client.ReadTimeout = 2000;
    EXPECT_EQ(client.FetchText(first.baseUrl() + "/1"), "a");
    EXPECT_EQ(client.FetchText(second.baseUrl() + "/2"), "b");
    ASSERT_TRUE(first.waitForFinished(1));  // let go before the second fetch, not reused
    EXPECT_EQ(first.request(0).count("GET "), 1);
    client.Disconnect();
    ASSERT_TRUE(second.waitForFinished(1));
    EXPECT_TRUE(second.request(0).startsWith("GET /2 "));
}

TEST(BlockingConnectionReuse, LocalhostInAnyCaseIsLoopback)
{
    ScriptedServer server;
    server.setDefaultScript(ScriptedServer::reply(Ok200 + "Content-Length: 2\r\n\r\nok"));
    for (const QByteArray host : {"localhost", "LOCALHOST", "LocalHost"}) {
        TBlockingHttpClient client;
        EXPECT_EQ(client.FetchText("http://" + host + ":" + QByteArray::number(server.port()) + "/"), "ok") << host.constData();
    }
}

// ---- lines --------------------------------------------------------------------------

TEST(BlockingLines, LongestLineIsAcceptedOneMoreFails)
{
    const QByteArray prefix = "X-Pad: ";
    const QByteArray longest = prefix + QByteArray(16384 - prefix.size(), 'p');
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(Ok200 + longest + "\r\nContent-Length: 1\r\n\r\n1"));
    server.addConnection(ScriptedServer::reply(Ok200 + longest + "q\r\nContent-Length: 1\r\n\r\n1"));
    TBlockingHttpClient client;
    EXPECT_EQ(client.FetchText(server.baseUrl()), "1");
    EXPECT_EQ(client.Response().HeaderLines.Value("X-Pad").size(), 16384 - prefix.size());
    TBlockingHttpClient second;
    const auto e = expectError<ELineTooLong>([&] { second.FetchText(server.baseUrl()); });
    EXPECT_EQ(e.Message(), text("Max line length exceeded."));
}

// ---- failures of the connection -----------------------------------------------------

TEST(BlockingFailure, RefusedConnection)
{
    quint16 port;
    {
        ScriptedServer closed;  // a port that was just free; nothing listens there now
        port = closed.port();
    }
    TBlockingHttpClient client;
    const auto e = expectError<ESocketError>([&] { client.FetchText("http://127.0.0.1:" + QByteArray::number(port) + "/"); });
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), text("Socket Error # 10061\r\nConnection refused."));
}

TEST(BlockingFailure, UnknownHost)
{
    TBlockingHttpClient client;
    const auto e = expectError<ESocketError>([&] { client.FetchText("http://no-such-host.invalid/x.xml"); });
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), text("Socket Error # 11001\r\nHost not found."));
}

TEST(BlockingFailure, SchemesWithoutTransport)
{
    TBlockingHttpClient client;
    EXPECT_EQ(expectError<EUnknownProtocol>([&] { client.FetchText("ftp://127.0.0.1/"); }).Message(), QString());
    expectError<EHttpClientError>([&] { client.FetchText("http://127.0.0.1:99999/"); });
    // CR LF in a URL must not reach the wire as extra header lines.
    expectError<EHttpClientError>([&] { client.FetchText("http://127.0.0.1:1/x\r\nX-Injected: 1"); });
}

struct DropCase {
    const char* name;
    ScriptedServer::Script script;
    QString message;
};

class BlockingDroppedPeer : public testing::TestWithParam<DropCase> {};

TEST_P(BlockingDroppedPeer, EndsWithTheDocumentedError)
{
    ScriptedServer server;
    server.addConnection(GetParam().script);
    TBlockingHttpClient client;
    client.ReadTimeout = 5000;
    const auto e = expectError<EHttpClientError>([&] { client.FetchText(server.baseUrl() + "/x"); });
    EXPECT_EQ(e.Message(), GetParam().message);
    EXPECT_FALSE(client.Connected());
}

const QString Closed = QStringLiteral("Connection Closed Gracefully.");

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingDroppedPeer,
    testing::Values(
        DropCase{"BeforeStatusLine", {Step::readRequest(), Step::close()}, Closed},
        DropCase{"InsideStatusLine", {Step::readRequest(), Step::send("HTTP/1.1 20"), Step::close()}, Closed},
        DropCase{"BeforeFirstHeaderLine", {Step::readRequest(), Step::send(Ok200), Step::close()}, Closed},
        DropCase{"InsideLengthBody", {Step::readRequest(), Step::send(Ok200 + "Content-Length: 10\r\n\r\nabc"), Step::close()}, Closed},
        DropCase{"InsideChunkedBody", {Step::readRequest(), Step::send(Ok200 + "Transfer-Encoding: chunked\r\n\r\n5\r\nab"), Step::close()}, Closed},
        DropCase{"BeforeLastChunk", {Step::readRequest(), Step::send(Ok200 + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n"), Step::close()}, Closed},
        DropCase{"ResetBeforeReply", {Step::readRequest(), Step::reset()}, QStringLiteral("Socket Error # 10054\r\nConnection reset by peer.")},
        DropCase{"ResetInsideBody", {Step::readRequest(), Step::send(Ok200 + "Content-Length: 10\r\n\r\nabc"), Step::delay(100), Step::reset()},
                 QStringLiteral("Socket Error # 10054\r\nConnection reset by peer.")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockingFailure, AbortedConnectionYieldsWhatArrived)
{
    const QByteArray head = Ok200 + "Content-Type: text/xml\r\n\r\n";
    TBlockingHttpClient client;
    client.TransportFactory = MemoryTransport::Factory({{head + "kept"}, {{}, 10053}});
    EXPECT_EQ(client.FetchText("http://peer/"), "kept");
    EXPECT_FALSE(client.Connected());  // an aborted connection is not kept for the next read
    client.TransportFactory = MemoryTransport::Factory({{head}, {{}, 10053}});
    EXPECT_EQ(expectError<ESocketError>([&] { client.FetchText("http://peer/"); }).LastError(), 10053);
    client.TransportFactory = MemoryTransport::Factory({{head + "lost"}, {{}, 10054}});
    EXPECT_EQ(expectError<ESocketError>([&] { client.FetchText("http://peer/"); }).LastError(), 10054);
}

TEST(BlockingFailure, SocketErrorMessages)
{
    EXPECT_EQ(ESocketError(10035).Message(), text("Socket Error # 10035\r\nOperation would block. "));
    EXPECT_EQ(ESocketError(12345).Message(), text("Socket Error # 12345\r\n"));
}
