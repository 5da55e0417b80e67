// Hostile and broken peers: every case ends within its bound with a clear status, and the
// same client can post again afterwards.

#include "test_httpcli_support.h"

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

const QByteArray kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

struct FaultCase {
    const char* name;
    ScriptedServer::Script script;  // empty: the URL below is used instead of the server
    QByteArray url;
    int timeoutMs;
    int status;
    QByteArray reason;              // exact, or a prefix when it ends with "*"
    bool fails;
    qint64 boundMs;
};

ScriptedServer::Script serve(const QByteArray& bytes, Step last = Step::close())
{
    return {Step::readRequest(), Step::send(bytes), last};
}

QByteArray manyHeaderLines(int n)
{
    QByteArray r = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < n; ++i)
        r += "X-Line-" + QByteArray::number(i) + ": v\r\n";
    return r + "Content-Length: 0\r\n\r\n";
}

class HttpCliFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HttpCliFault, EndsWithinItsBoundAndLeavesTheClientReady)
{
    const FaultCase& c = GetParam();
    ScriptedServer server;
    if (!c.script.empty())
        server.addConnection(c.script);
    const QByteArray url = c.url.isEmpty() ? server.baseUrl() + "/x" : c.url;
    THttpCli cli;
    cli.Timeout = c.timeoutMs;
    const PostOutcome o = runPost(cli, servicePost(url, "id=1"));

    EXPECT_EQ(o.StatusCode, c.status);
    if (c.reason.endsWith('*'))
        EXPECT_TRUE(o.ReasonPhrase.startsWith(c.reason.chopped(1))) << o.ReasonPhrase.constData();
    else
        EXPECT_EQ(o.ReasonPhrase, c.reason);
    EXPECT_EQ(o.Failed, c.fails);
    // Every failure here is the client's own: no usable reply came.
    EXPECT_EQ(o.NoReply, c.fails);
    if (c.fails) {
        EXPECT_EQ(o.ErrorCode, c.status);
        EXPECT_EQ(o.ErrorMessage, QString::fromLatin1(o.ReasonPhrase));
    }
    EXPECT_LT(o.elapsedMs, c.boundMs);
    EXPECT_EQ(cli.State(), httpReady);

    // Ready means ready: the next post on the same client goes through (to a server of
    // its own, as the faulty one may still be busy with its script).
    ScriptedServer good;
    good.addConnection(ScriptedServer::reply(kOk));
    const PostOutcome next = runPost(cli, servicePost(good.baseUrl() + "/after", "id=1"));
    EXPECT_FALSE(next.Failed) << next.ErrorMessage.toStdString();
    EXPECT_EQ(next.StatusCode, 200);
}

const QByteArray kTooLarge = "Reply body exceeds the limit of 67108864 bytes.";

INSTANTIATE_TEST_SUITE_P(Peers, HttpCliFault, ::testing::Values(
    FaultCase{"Refused", {}, "http://127.0.0.1:" + QByteArray::number(ClosedLoopbackPort()) + "/x", 5000,
              404, "Connection refused (Error #10061)", true, 3000},
    FaultCase{"UnknownHost", {}, "http://no-such-host.invalid/x", 5000,
              404, "can't resolve hostname to IP address", true, 3000},
    FaultCase{"NeverAnswers", {Step::readRequest(), Step::waitForClose(10000)}, {}, 500,
              404, "Connection timed out (Error #10060)", true, 3000},
    FaultCase{"ClosesBeforeStatusLine", {Step::readRequest(), Step::close()}, {}, 5000,
              404, "Connection closed before a reply was received", true, 3000},
    FaultCase{"ClosesAfterPartOfStatusLine", serve("HTTP/1.1 2"), {}, 5000, 0, "", false, 3000},
    FaultCase{"ClosesMidHead", serve("HTTP/1.1 200 OK\r\nContent-Ty"), {}, 5000, 200, "OK", false, 3000},
    FaultCase{"ClosesMidBody", serve("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this"), {}, 5000,
              200, "OK", false, 3000},
    FaultCase{"ResetBeforeReply", {Step::readRequest(), Step::reset()}, {}, 5000,
              404, "Connection closed before a reply was received", true, 3000},
    FaultCase{"ResetMidBody", serve("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", Step::reset()), {}, 5000,
              200, "OK", false, 3000},
    FaultCase{"Trickle", {Step::readRequest(), Step::trickle("HTTP/1.1 200 OK\r\n\r\n", 2000)}, {}, 2500,
              404, "Connection timed out (Error #10060)", true, 4500},
    FaultCase{"HugeStatedLength",
              {Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n"),
               Step::sendRepeated(QByteArray(1024 * 1024, 'x'), 100), Step::close()},
              {}, 10000, 404, kTooLarge, true, 5000},
    FaultCase{"HugeBodyUntilClose",
              {Step::readRequest(), Step::send("HTTP/1.0 200 OK\r\n\r\n"),
               Step::sendRepeated(QByteArray(1024 * 1024, 'x'), 100), Step::close()},
              {}, 20000, 404, kTooLarge, true, 15000},
    FaultCase{"HugeHeaderLine", serve("HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(1024 * 1024, 'a') + "\r\n\r\n"),
              {}, 5000, 404, "Reply header line too long (more than 16384 bytes)", true, 3000},
    FaultCase{"HugeChunkSize", serve("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nab"),
              {}, 5000, 404, "Invalid chunk size: ffffffffffffffff", true, 3000},
    FaultCase{"ChunksAddingUpPastTheCap",
              serve("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n4000000\r\n"),
              {}, 5000, 404, kTooLarge, true, 3000},
    FaultCase{"NegativeLength", serve("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), {}, 5000,
              404, "Invalid Content-Length: -5", true, 3000},
    FaultCase{"OverflowingLength", serve("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n"), {}, 5000,
              404, "Invalid Content-Length: 99999999999999999999", true, 3000},
    FaultCase{"TenThousandHeaderLines", serve(manyHeaderLines(10000)), {}, 5000,
              404, "Reply header has more than 1000 lines.", true, 3000},
    FaultCase{"LongHead", serve(manyHeaderLines(900).replace(": v", ": " + QByteArray(300, 'v'))), {}, 5000,
              404, "Reply header exceeds 262144 bytes.", true, 3000},
    FaultCase{"EndlessContinues",
              {Step::readRequest(), Step::sendRepeated("HTTP/1.1 100 Continue\r\n\r\n", 100000), Step::close()},
              {}, 5000, 404, "Reply header has more than 1000 lines.", true, 3000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpCliFaults, RedirectLoopStopsAfterFiveRelocations)
{
    ScriptedServer server;
    server.setDefaultScript(ScriptedServer::reply("HTTP/1.1 308 Permanent Redirect\r\nLocation: /loop\r\nConnection: close\r\n\r\n"));
    THttpCli cli;
    cli.Timeout = 10000;
    const PostOutcome o = runPost(cli, servicePost(server.baseUrl() + "/loop", "id=1"));
    EXPECT_FALSE(o.Failed);
    EXPECT_EQ(o.StatusCode, 308);
    EXPECT_EQ(o.Relocations, 5);
    // The post and its five relocations; the sixth 308 ends the request.
    EXPECT_TRUE(server.waitForFinished(6));
    EXPECT_EQ(server.connectionCount(), 1 + 5);
    EXPECT_LT(o.elapsedMs, 5000);
    EXPECT_EQ(cli.State(), httpReady);
}

TEST(HttpCliFaults, TruncatedRepliesSaySo)
{
    ScriptedServer server;
    server.addConnection(serve("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"));
    server.addConnection(serve("HTTP/1.0 200 OK\r\n\r\nuntil close is whole"));
    const THttpCliRequest r = servicePost(server.baseUrl() + "/x", "id=1");
    THttpCli cli;
    EXPECT_TRUE(runPost(cli, r).Truncated);
    EXPECT_FALSE(runPost(cli, r).Truncated);
}

} // namespace
