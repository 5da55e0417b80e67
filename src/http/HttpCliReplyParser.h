#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

// Bounds on what a peer may make the client hold or accept; the same as the blocking client.
struct THttpCliReplyLimits {
    qint64 MaxBodySize = 64 * 1024 * 1024;  // stated length, chunk sizes and total body
    qsizetype MaxLineLength = 16 * 1024;    // one header or chunk-size line
    int MaxHeaderLines = 1000;              // over all heads of one reply, 100 replies included
    qint64 MaxHeaderSize = 256 * 1024;      // bytes of those heads together
};

// Reads one HTTP reply from bytes as they arrive. No socket: the client feeds it what the
// connection delivered and is told when the reply is complete, so it can also be driven
// straight from a byte string (tests, fuzzing).
class THttpCliReplyParser {
public:
    enum TResult { Incomplete, Complete, Failed };
    using TBodySink = std::function<void(QByteArrayView)>;

    explicit THttpCliReplyParser(THttpCliReplyLimits limits = {});

    // Prepares for the reply to a new request. Bytes left over from the previous reply on
    // the same connection stay in the buffer.
    void StartReply(bool requestIs10, bool followRelocation, bool isPut);
    // A new connection: nothing left over belongs to it.
    void ClearBuffer();
    void SetLimits(const THttpCliReplyLimits& limits) { m_limits = limits; }
    void SetBodySink(TBodySink sink) { m_sink = std::move(sink); }

    TResult Feed(QByteArrayView data);
    // The peer closed the connection: whatever was received ends the reply.
    TResult PeerClosed();

    bool InBody() const;
    bool IsComplete() const { return m_phase == Done; }
    bool Truncated() const { return m_truncated; }
    QString Error() const { return m_error; }

    int StatusCode() const { return m_statusCode; }
    QByteArray ReasonPhrase() const { return m_reasonPhrase; }
    QByteArray Version() const { return m_version; }
    qint64 ContentLength() const { return m_contentLength; }
    QByteArray ContentType() const { return m_contentType; }
    QByteArray TransferEncoding() const { return m_transferEncoding; }
    QByteArray ContentEncoding() const { return m_contentEncoding; }
    QList<QByteArray> HeaderLines() const { return m_headerLines; }
    QList<QByteArray> Challenges() const { return m_challenges; }
    bool CloseAfterReply() const { return m_closeAfterReply; }
    bool Relocate() const { return m_relocate; }
    QByteArray LocationValue() const { return m_location; }
    qint64 BodyReceived() const { return m_bodyReceived; }
    // Bytes fed since StartReply (leftovers of an earlier reply not counted).
    qint64 BytesFed() const { return m_bytesFed; }

private:
    enum TPhase { StatusLine, Header, BodyLength, BodyUntilClose, ChunkSize, ChunkData, ChunkEnd, ChunkLast, Done, Fail };

    TResult run();
    bool takeLine(QByteArray* line);
    void headerLine(const QByteArray& line);
    void statusLine(const QByteArray& line);
    void endOfHeader();
    void chunkSizeLine(const QByteArray& line);
    void body(QByteArrayView part);
    void resetReplyFields();
    TResult fail(const QString& error);
    TResult result() const;

    THttpCliReplyLimits m_limits;
    TBodySink m_sink;
    QByteArray m_buf;
    qsizetype m_pos = 0;
    TPhase m_phase = Done;
    bool m_requestIs10 = false;
    bool m_follow = true;
    bool m_isPut = false;
    bool m_firstLine = true;
    bool m_truncated = false;
    bool m_closing = false;
    int m_lineCount = 0;
    qint64 m_headerBytes = 0;
    qint64 m_bytesFed = 0;
    qint64 m_remaining = 0;
    QString m_error;

    int m_statusCode = 0;
    QByteArray m_reasonPhrase;
    QByteArray m_version;
    qint64 m_contentLength = -1;
    QByteArray m_contentType;
    QByteArray m_transferEncoding;
    QByteArray m_contentEncoding;
    QList<QByteArray> m_headerLines;
    QList<QByteArray> m_challenges;
    bool m_closeAfterReply = false;
    bool m_relocate = false;
    QByteArray m_location;
    qint64 m_bodyReceived = 0;
};
