// The reply parser on its own: the same reply gives the same result however the bytes
// are split, and its bounds hold.

#include "http/HttpReplyParser.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    THttpReplyParser::TResult result;
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
             THttpReplyLimits limits = {}, THttpReplyParser::TFace face = THttpReplyParser::EventDriven)
{
    THttpReplyParser parser(limits, face);
    QByteArray body;
    parser.SetBodySink([&body](QByteArrayView part) { body.append(part.data(), part.size()); });
    parser.StartReply(requestIs10, true, false);
    auto result = THttpReplyParser::Incomplete;
    const qsizetype n = step == 0 ? std::max<qsizetype>(1, reply.size()) : step;
    for (qsizetype i = 0; i < reply.size() && result == THttpReplyParser::Incomplete; i += n)
        result = parser.Feed(QByteArrayView(reply).sliced(i, std::min(n, reply.size() - i)));
    if (result == THttpReplyParser::Incomplete && close)
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

TEST(HttpReplyParser, ResultDoesNotDependOnHowBytesArrive)
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

TEST(HttpReplyParser, CompletesWithoutWaitingForTheClose)
{
    EXPECT_EQ(parse(kReplies[0], 0, false).result, THttpReplyParser::Complete);
    EXPECT_EQ(parse(kReplies[1], 0, false).body, "hello0123456789");
    EXPECT_EQ(parse(kReplies[2], 0, false).status, 200);
    EXPECT_EQ(parse(kReplies[3], 0, false).result, THttpReplyParser::Incomplete);
}

TEST(HttpReplyParser, CloseAfterReplyFollowsVersionsAndConnectionHeader)
{
    EXPECT_FALSE(parse("HTTP/1.1 204 No\r\n\r\n", 0).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.0 204 No\r\n\r\n", 0).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.1 204 No\r\n\r\n", 0, true, true).closeAfter);
    EXPECT_TRUE(parse("HTTP/1.1 204 No\r\nConnection:  Close \r\n\r\n", 0).closeAfter);
    EXPECT_FALSE(parse("HTTP/1.0 204 No\r\nConnection: keep-alive\r\n\r\n", 0).closeAfter);
}

TEST(HttpReplyParser, LengthThatIsNoNumberMeansNone)
{
    const Parsed p = parse("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\nall of it", 0);
    EXPECT_EQ(p.length, -1);
    EXPECT_EQ(p.body, "all of it");
}

TEST(HttpReplyParser, BoundsHoldWithSmallLimits)
{
    THttpReplyLimits small;
    small.MaxBodySize = 10;
    small.MaxLineLength = 32;
    small.MaxHeaderLines = 3;
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", 1, true, false, small).result,
              THttpReplyParser::Failed);
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", 1, true, false, small).result,
              THttpReplyParser::Complete);
    for (qsizetype step : {0, 1, 4}) {
        // Up to the cap the body arrives, however it was split; then the reply fails.
        const Parsed over = parse("HTTP/1.0 200 OK\r\n\r\n0123456789X", step, true, false, small);
        EXPECT_EQ(over.result, THttpReplyParser::Failed);
        EXPECT_EQ(over.body, "0123456789") << step;
    }
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\n01234567\r\n3\r\n", 1, true, false, small).error,
              "Reply body exceeds the limit of 10 bytes.");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nX: " + QByteArray(40, 'a'), 0, false, false, small).error,
              "Reply header line too long (more than 32 bytes)");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", 0, true, false, small).error,
              "Reply header has more than 3 lines.");
    small.MaxHeaderLines = 100;
    small.MaxHeaderSize = 30;
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nA: 12345678901234567890\r\n\r\n", 0, true, false, small).error,
              "Reply header exceeds 30 bytes.");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", 0).error, "Invalid chunk size: -1");
    // A line of exactly the limit is fine however its CR LF arrives.
    const QByteArray fullLine = "HTTP/1.1 200 OK\r\nX: " + QByteArray(29, 'a') + "\r\nContent-Length: 0\r\n\r\n";
    THttpReplyLimits lines;
    lines.MaxLineLength = 32;
    for (qsizetype step : {0, 1})
        EXPECT_EQ(parse(fullLine, step, true, false, lines).result, THttpReplyParser::Complete) << step;
    // Leading zeros are not significant digits.
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n00000000000000000002\r\nab\r\n0\r\n\r\n", 0).body,
              "ab");
}

// The body's framing is one code under both clients: the same rules whichever face
// read the head.
TEST(HttpReplyParser, FramingIsTheSameForBothFaces)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    for (const auto face : {THttpReplyParser::EventDriven, THttpReplyParser::Blocking}) {
        const auto read = [face](const QByteArray& reply, qsizetype step = 0) {
            return parse(reply, step, true, false, {}, face);
        };
        // "chunked" counts as the final transfer coding, in any case, and beats a length.
        for (const QByteArray coding : {"chunked", "Chunked", "gzip, chunked", " CHUNKED "})
            EXPECT_EQ(read(ok + "Transfer-Encoding: " + coding + "\r\nContent-Length: 1\r\n\r\n2\r\nok\r\n0\r\n\r\n").body, "ok")
                << face << coding.constData();
        EXPECT_EQ(read(ok + "Transfer-Encoding: chunked, gzip\r\n\r\n2\r\nok\r\n").body, "2\r\nok\r\n") << face;
        // A size is hexadecimal digits, then blanks or an extension; anything else fails
        // the reply, however the bytes arrive.
        EXPECT_EQ(read(ok + "Transfer-Encoding: chunked\r\n\r\n 2 ;x=y\r\nok\r\n0\r\n\r\n").body, "ok") << face;
        for (const QByteArray size : {"zz", "1g", "", "+2", "0x2"}) {
            for (qsizetype step : {0, 1}) {
                const Parsed bad = read(ok + "Transfer-Encoding: chunked\r\n\r\n" + size + "\r\nok\r\n0\r\n\r\n", step);
                EXPECT_EQ(bad.result, THttpReplyParser::Failed) << face << size.constData();
                EXPECT_TRUE(bad.error.startsWith(QStringLiteral("Invalid chunk size: "))) << bad.error.toStdString();
            }
        }
        // Trailer lines are read up to the empty line; what follows is left for the next reply.
        THttpReplyParser parser({}, face);
        QByteArray body;
        parser.SetBodySink([&body](QByteArrayView part) { body.append(part.data(), part.size()); });
        parser.StartReply();
        const QByteArray next = "HTTP/1.1 204 No Content\r\n\r\n";
        EXPECT_EQ(parser.Feed(ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\n" + next),
                  THttpReplyParser::Complete);
        EXPECT_EQ(body, "abc");
        EXPECT_EQ(parser.Buffered(), next.size()) << face;
        parser.StartReply();
        EXPECT_EQ(parser.Feed(QByteArrayView()), THttpReplyParser::Complete);
        EXPECT_EQ(parser.StatusCode(), 204);
    }
}

// A proxy's answer to CONNECT is a head alone: what follows it is not taken.
TEST(HttpReplyParser, HeadAloneLeavesWhatFollows)
{
    for (const auto face : {THttpReplyParser::EventDriven, THttpReplyParser::Blocking}) {
        THttpReplyParser parser({}, face);
        parser.StartHead();
        EXPECT_EQ(parser.Feed("HTTP/1.1 200 Connection established\r\nVia: p\r\n\r\n\x16\x03\x01"), THttpReplyParser::Complete);
        EXPECT_EQ(parser.StatusCode(), 200);
        EXPECT_EQ(parser.TakeBuffered(), "\x16\x03\x01");
    }
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
