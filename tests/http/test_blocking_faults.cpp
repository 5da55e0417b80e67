// Hostile and broken peers on loopback: every case must end within its bound with a
// clear error, never a hang or an allocation the peer chose.
#include "http/BlockingHttpClient.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>

using Step = ScriptedServer::Step;
using namespace std::chrono_literals;

namespace {

const QByteArray Ok200 = "HTTP/1.1 200 OK\r\n";

struct Outcome {
    QString message;
    std::chrono::milliseconds elapsed;
    bool isReadTimeout = false;
};

// Fetches and returns the error's message (empty when the fetch succeeded) and time.
Outcome fetchFailure(TBlockingHttpClient& client, const QByteArray& url)
{
    const auto start = std::chrono::steady_clock::now();
    Outcome o;
    try {
        client.FetchText(url);
    } catch (const EReadTimeout& e) {
        o.message = e.Message();
        o.isReadTimeout = true;
    } catch (const EHttpClientError& e) {
        o.message = e.Message();
    }
    o.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return o;
}

} // namespace

TEST(BlockingTimeouts, PeerThatNeverAnswers)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::waitForClose(20000)});
    TBlockingHttpClient client;
    client.ReadTimeout = 300;
    const Outcome o = fetchFailure(client, server.baseUrl());
    EXPECT_TRUE(o.isReadTimeout);
    EXPECT_EQ(o.message, QStringLiteral("Read Timeout"));
    EXPECT_GE(o.elapsed, 250ms);
    EXPECT_LT(o.elapsed, 3s);
}

TEST(BlockingTimeouts, TrickleIsCutOffByTheWholeFetchTimeout)
{
    // One byte every 2 s never trips the 30 s wait for data, only the bound on the fetch.
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::trickle(Ok200 + "Content-Length: 100\r\n\r\n", 2000)});
    TBlockingHttpClient client;
    client.TotalTimeout = 2500;
    const Outcome o = fetchFailure(client, server.baseUrl());
    EXPECT_TRUE(o.isReadTimeout) << o.message.toStdString();
    EXPECT_GE(o.elapsed, 2400ms);
    EXPECT_LT(o.elapsed, 5s);
}

TEST(BlockingTimeouts, SlowButSteadyPeerSucceeds)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::delay(200), Step::send(Ok200 + "Content-Length: 4\r\n\r\n"),
                          Step::trickle("slow", 50), Step::close()});
    TBlockingHttpClient client;
    client.ReadTimeout = 1000;
    EXPECT_EQ(client.FetchText(server.baseUrl()), "slow");
}

struct HostileCase {
    const char* name;
    ScriptedServer::Script script;
    QString message;
};

class BlockingHostilePeer : public testing::TestWithParam<HostileCase> {};

TEST_P(BlockingHostilePeer, EndsQuicklyWithAClearError)
{
    ScriptedServer server;
    server.addConnection(GetParam().script);
    TBlockingHttpClient client;
    client.ReadTimeout = 5000;
    const Outcome o = fetchFailure(client, server.baseUrl());
    EXPECT_EQ(o.message, GetParam().message);
    EXPECT_LT(o.elapsed, 4s);
    EXPECT_FALSE(client.Connected());
}

QByteArray manyHeaderLines(int n)
{
    QByteArray lines;
    for (int i = 0; i < n; ++i)
        lines += "X-Line-" + QByteArray::number(i) + ": v\r\n";
    return lines;
}

Step sendReply(const QByteArray& bytes)
{
    return Step::send(bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockingHostilePeer,
    testing::Values(
        HostileCase{"HundredMegabyteLength", {Step::readRequest(), sendReply(Ok200 + "Content-Length: 104857600\r\n\r\nxx"), Step::waitForClose(5000)},
                    QStringLiteral("Reply body exceeds the limit of 67108864 bytes.")},
        HostileCase{"NegativeLength", {Step::readRequest(), sendReply(Ok200 + "Content-Length: -5\r\n\r\nxx"), Step::waitForClose(5000)},
                    QStringLiteral("Invalid Content-Length: -5")},
        HostileCase{"OverflowingLength", {Step::readRequest(), sendReply(Ok200 + "Content-Length: 99999999999999999999\r\n\r\nxx"), Step::waitForClose(5000)},
                    QStringLiteral("Invalid Content-Length: 99999999999999999999")},
        HostileCase{"ChunkSizeAllOnes", {Step::readRequest(), sendReply(Ok200 + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc"), Step::waitForClose(5000)},
                    QStringLiteral("Invalid chunk size: ffffffffffffffff")},
        HostileCase{"ChunkAboveCap", {Step::readRequest(), sendReply(Ok200 + "Transfer-Encoding: chunked\r\n\r\n4000001\r\nabc"), Step::waitForClose(5000)},
                    QStringLiteral("Reply body exceeds the limit of 67108864 bytes.")},
        HostileCase{"MegabyteHeaderLine", {Step::readRequest(), sendReply(Ok200 + "X-Big: " + QByteArray(1 << 20, 'h') + "\r\n\r\n"), Step::waitForClose(5000)},
                    QStringLiteral("Max line length exceeded.")},
        HostileCase{"MegabyteStatusLine", {Step::readRequest(), sendReply("HTTP/1.1 200 " + QByteArray(1 << 20, 's')), Step::waitForClose(5000)},
                    QStringLiteral("Max line length exceeded.")},
        HostileCase{"TenThousandHeaderLines", {Step::readRequest(), sendReply(Ok200 + manyHeaderLines(10000) + "\r\n"), Step::waitForClose(5000)},
                    QStringLiteral("Reply header has more than 1000 lines.")},
        HostileCase{"EndlessTrailerLines", {Step::readRequest(), sendReply(Ok200 + "Transfer-Encoding: chunked\r\n\r\n0\r\n" + manyHeaderLines(2000)), Step::waitForClose(5000)},
                    QStringLiteral("Reply header has more than 1000 lines.")},
        HostileCase{"EndlessContinueReplies", {Step::readRequest(), sendReply(QByteArray("HTTP/1.1 100 Continue\r\nX: y\r\n\r\n").repeated(2000)), Step::waitForClose(5000)},
                    QStringLiteral("Reply header has more than 1000 lines.")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockingBodyCap, FailedReplyWithUnsafeLengthStillReportsItsStatus)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 401 Unauthorized\r\nContent-Length: 104857600\r\n\r\nxx"),
                          Step::waitForClose(5000)});
    server.addConnection({Step::readRequest(),
                          Step::send("HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nffffffffffffffff\r\n"),
                          Step::waitForClose(5000)});
    TBlockingHttpClient client;
    try {
        client.FetchText(server.baseUrl());
        ADD_FAILURE() << "no error";
    } catch (const EHttpProtocolError& e) {
        EXPECT_EQ(e.ReplyCode(), 401);
        EXPECT_EQ(e.ReplyBody(), "");
    }
    try {
        client.FetchText(server.baseUrl());
        ADD_FAILURE() << "no error";
    } catch (const EHttpProtocolError& e) {
        EXPECT_EQ(e.ReplyCode(), 500);
        EXPECT_EQ(e.ReplyBody(), "ab");
    }
}

TEST(BlockingBodyCap, BodyWithoutLengthStopsAtTheCap)
{
    ScriptedServer server;
    server.addConnection({Step::readRequest(), Step::send(Ok200 + "\r\n" + QByteArray(3 << 20, 'b')), Step::close()});
    server.addConnection({Step::readRequest(),
                          Step::send(Ok200 + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray("100000\r\n" + QByteArray(1 << 20, 'c') + "\r\n").repeated(3)),
                          Step::close()});
    server.addConnection(ScriptedServer::reply(Ok200 + "Content-Length: 1048576\r\n\r\n" + QByteArray(1 << 20, 'd')));
    TBlockingHttpClient client;
    client.MaxBodySize = 2 << 20;
    EXPECT_EQ(fetchFailure(client, server.baseUrl()).message, QStringLiteral("Reply body exceeds the limit of 2097152 bytes."));
    EXPECT_EQ(fetchFailure(client, server.baseUrl()).message, QStringLiteral("Reply body exceeds the limit of 2097152 bytes."));
    EXPECT_EQ(client.FetchText(server.baseUrl()), QByteArray(1 << 20, 'd'));
}
