// The reply parser on its own: the same reply gives the same result however the bytes
// are split, and its bounds hold.

#include "http/HttpCliReplyParser.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    THttpCliReplyParser::TResult result;
    int status;
    QByteArray body;
    qint64 length;
    bool closeAfter;
    bool relocate;
    bool truncated;
    QString error;
};

// Feeds the reply in pieces of `step` bytes (0: all at once), then reports a close when
// the reply did not end by itself and `close` is set.
Parsed parse(const QByteArray& reply, qsizetype step, bool close = true, bool requestIs10 = false,
             THttpCliReplyLimits limits = {})
{
    THttpCliReplyParser parser(limits);
    QByteArray body;
    parser.SetBodySink([&body](QByteArrayView part) { body.append(part.data(), part.size()); });
    parser.StartReply(requestIs10, true, false);
    auto result = THttpCliReplyParser::Incomplete;
    const qsizetype n = step == 0 ? std::max<qsizetype>(1, reply.size()) : step;
    for (qsizetype i = 0; i < reply.size() && result == THttpCliReplyParser::Incomplete; i += n)
        result = parser.Feed(QByteArrayView(reply).sliced(i, std::min(n, reply.size() - i)));
    if (result == THttpCliReplyParser::Incomplete && close)
        result = parser.PeerClosed();
    return {result, parser.StatusCode(), body, parser.ContentLength(), parser.CloseAfterReply(),
            parser.Relocate(), parser.Truncated(), parser.Error()};
}

const QByteArray kReplies[] = {
    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x\r\nhello\r\nA\r\n0123456789\r\n0\r\n\r\n",
    "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\nContent-Length: 2\n\nok",
    "HTTP/1.0 200 OK\r\n\r\nuntil the close",
    "<html>\r\n<body>headerless</body>\r\n",
    "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n",
    "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort",
};

TEST(HttpCliReplyParser, ResultDoesNotDependOnHowBytesArrive)
{
    for (const QByteArray& reply : kReplies) {
        const Parsed whole = parse(reply, 0);
        for (qsizetype step : {1, 2, 3, 7}) {
            const Parsed split = parse(reply, step);
            EXPECT_EQ(split.result, whole.result) << reply.constData() << " step " << step;
            EXPECT_EQ(split.status, whole.status) << reply.constData();
            EXPECT_EQ(split.body, whole.body) << reply.constData() << " step " << step;
            EXPECT_EQ(split.truncated, whole.truncated) << reply.constData();
        }
    }
}

TEST(HttpCliReplyParser, CompletesWithoutWaitingForTheClose)
{
    EXPECT_EQ(parse(kReplies[0], 0, false).result, THttpCliReplyParser::Complete);
    EXPECT_EQ(parse(kReplies[1], 0, false).body, "hello0123456789");
    EXPECT_EQ(parse(kReplies[2], 0, false).status, 200);
    EXPECT_EQ(parse(kReplies[3], 0, false).result, THttpCliReplyParser::Incomplete);
}

TEST(HttpCliReplyParser, CloseAfterReplyFollowsVersionsAndConnectionHeader)
{
    EXPECT_FALSE(parse("HTTP/1.1 204 No\r\n\r\n", 0).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.0 204 No\r\n\r\n", 0).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.1 204 No\r\n\r\n", 0, true, true).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.1 204 No\r\nConnection:  Close \r\n\r\n", 0).closeAfter);
    EXPECT_FALSE(parse("HTTP/1.0 204 No\r\nConnection: keep-alive\r\n\r\n", 0).closeAfter);
}

TEST(HttpCliReplyParser, LengthThatIsNoNumberMeansNone)
{
    const Parsed p = parse("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\nall of it", 0);
    EXPECT_EQ(p.length, -1);
    EXPECT_EQ(p.body, "all of it");
}

TEST(HttpCliReplyParser, BoundsHoldWithSmallLimits)
{
    THttpCliReplyLimits small;
    small.MaxBodySize = 10;
    small.MaxLineLength = 32;
    small.MaxHeaderLines = 3;
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", 1, true, false, small).result,
              THttpCliReplyParser::Failed);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", 1, true, false, small).result,
              THttpCliReplyParser::Complete);
    for (qsizetype step : {0, 1, 4}) {
        // Up to the cap the body arrives, however it was split; then the reply fails.
        const Parsed over = parse("HTTP/1.0 200 OK\r\n\r\n0123456789X", step, true, false, small);
        EXPECT_EQ(over.result, THttpCliReplyParser::Failed);
        EXPECT_EQ(over.body, "0123456789") << step;
    }
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\n01234567\r\n3\r\n", 1, true, false, small).error,
              "Reply body too large (more than 10 bytes)");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nX: " + QByteArray(40, 'a'), 0, false, false, small).error,
              "Reply header line too long (more than 32 bytes)");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", 0, true, false, small).error,
              "Too many reply header lines (more than 3)");
    small.MaxHeaderLines = 100;
    small.MaxHeaderSize = 30;
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nA: 12345678901234567890\r\n\r\n", 0, true, false, small).error,
              "Reply header too large (more than 30 bytes)");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", 0).error, "Invalid chunk size");
    // A line of exactly the limit is fine however its CR LF arrives.
    const QByteArray fullLine = "HTTP/1.1 200 OK\r\nX: " + QByteArray(29, 'a') + "\r\nContent-Length: 0\r\n\r\n";
    THttpCliReplyLimits lines;
    lines.MaxLineLength = 32;
    for (qsizetype step : {0, 1})
        EXPECT_EQ(parse(fullLine, step, true, false, lines).result, THttpCliReplyParser::Complete) << step;
    // Leading zeros are not significant digits.
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n00000000000000000002\r\nab\r\n0\r\n\r\n", 0).body,
              "ab");
}

} // namespace

#include "http/SocketErrors.h"

namespace {

// One table serves both clients: each number with the connection's sentence and the
// event-driven client's short text.
TEST(SocketErrors, TextsAndNumbers)
{
    const std::pair<int, const char*> rows[] = {
        {0, "No Error"}, {10053, "Connection aborted"}, {10054, "Connection reset by peer"},
        {10060, "Connection timed out"}, {10061, "Connection refused"}, {10064, "Host is down"},
        {10065, "No route to host"}, {11001, "Host not found"}, {11004, "No Data"},
        {10034, "Not a WinSock error"}, {10072, "Not a WinSock error"}, {-1, "Not a WinSock error"}};
    for (const auto& [number, text] : rows)
        EXPECT_EQ(SocketErrors::ShortText(number), text) << number;
    EXPECT_EQ(SocketErrors::ConnectNumber(10061), 10061);
    EXPECT_EQ(SocketErrors::ConnectNumber(10065), 10051);
    EXPECT_EQ(SocketErrors::BindNumber(10049), 10049);
    EXPECT_EQ(SocketErrors::Describe(10061), "Connection refused (Error #10061)");
    // Every number the table covers has a text of its own.
    int covered = 0;
    for (int n = 0; n < 12000; ++n)
        covered += SocketErrors::ShortText(n) != "Not a WinSock error";
    EXPECT_EQ(covered, 51);
    EXPECT_EQ(SocketErrors::Text(10053), QStringLiteral("Software caused connection abort."));
    EXPECT_EQ(SocketErrors::Text(10067), QString());
}

} // namespace
