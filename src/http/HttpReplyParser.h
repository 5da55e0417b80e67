#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

// Bounds on what a peer may make either client hold or accept.
struct THttpReplyLimits {
    qint64 MaxBodySize = 64 * 1024 * 1024;  // stated length, chunk sizes and total body
    qsizetype MaxLineLength = 16 * 1024;    // one header, chunk-size or trailer line
    int MaxHeaderLines = 1000;              // over all heads of one reply, 100 replies and trailers included
    qint64 MaxHeaderSize = 256 * 1024;      // bytes of those heads together
};

// Reads one HTTP reply from bytes as they arrive, for both clients: the head (status
// line and header lines, cut at LF with a CR before it dropped, within the limits) and
// the body's framing. No socket: each client feeds it what its connection delivered
// (the blocking one after each receive, the event-driven one from the loop) and is told
// when the reply is complete, so it can also be driven straight from a byte string.
//
// Framing, the same for both: "chunked" as the final transfer coding (any case) reads
// chunks, trailer lines and the empty line after them; otherwise a stated length reads
// that many bytes; with neither the body runs until the peer closes. A chunk size is
// hexadecimal digits, optionally followed by blanks or a ";" extension: anything else
// fails the reply.
//
// The two faces differ only in how they read a head, as each client always has:
// - EventDriven: the status line is a first line that starts with "HTTP/1.0" or
//   "HTTP/1.1", the code the three digits from its tenth character on; a first line
//   "<html>" or "<!DOCTYPE" starts a body without a head; a 1.1 "100" is dropped; no
//   body without a length or chunks for 1xx, 204, 301, 302, 304, 401 and 407.
// - Blocking: the first line is the status line, the code the word after its first
//   blank (-1 when none); any "100" is dropped; 1xx, 204 and 304 never have a body; a
//   close before the first header line fails the reply (Closed), a close after it ends
//   the head.
class THttpReplyParser {
public:
    enum TFace { EventDriven, Blocking };
    enum TResult { Incomplete, Complete, Failed };
    enum TError {
        NoError,
        Closed,         // the peer closed where more was required (Blocking face only)
        LineTooLong,
        Malformed,      // limits passed or framing that cannot be followed
    };
    using TBodySink = std::function<void(QByteArrayView)>;

    explicit THttpReplyParser(THttpReplyLimits limits = {}, TFace face = EventDriven);

    // Prepares for the reply to a new request. Bytes left over from the previous reply on
    // the same connection stay in the buffer and are read by the next Feed.
    void StartReply(bool requestIs10 = false, bool followRelocation = false, bool isPut = false);
    // Prepares for a head alone (a proxy's answer to CONNECT): complete at its empty line,
    // and what follows stays in the buffer (Buffered, TakeBuffered).
    void StartHead();
    // A new connection: nothing left over belongs to it.
    void ClearBuffer();
    void SetLimits(const THttpReplyLimits& limits) { m_limits = limits; }
    void SetBodySink(TBodySink sink) { m_sink = std::move(sink); }

    TResult Feed(QByteArrayView data);
    // The peer closed the connection: whatever was received ends the reply.
    TResult PeerClosed();
    // How many body bytes the caller may receive straight into its own buffer instead
    // of feeding them (the rest of a stated length or of a chunk; up to the cap and one
    // byte beyond for a body that runs to the close); 0 when bytes must go through Feed.
    qint64 DirectBodyRoom() const;
    // Counts n bytes, at most DirectBodyRoom(), that the caller received that way; the
    // sink is not called. Past the cap the reply fails with BodyReceived() at the cap.
    TResult BodyTaken(qint64 n);

    bool InBody() const;
    bool HeadComplete() const { return m_headDone; }
    bool HeadCutShort() const { return m_headCut; }  // Blocking: the head ended with the connection
    bool IsComplete() const { return m_phase == Done; }
    bool Truncated() const { return m_truncated; }
    QString Error() const { return m_error; }
    TError ErrorKind() const { return m_errorKind; }

    QByteArray StatusLine() const { return m_statusLine; }
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
    // Bytes received and not part of the reply (or head) read so far.
    qsizetype Buffered() const { return m_buf.size() - m_pos; }
    QByteArray TakeBuffered();

    // The Blocking face's status code: the word after the first blank, -1 when none.
    static int CodeAfterFirstBlank(const QByteArray& statusLine);
    // "chunked" is the final transfer coding of the value.
    static bool IsChunked(const QByteArray& transferEncoding);

private:
    enum TPhase { FirstLine, HeadLines, BodyLength, BodyUntilClose, ChunkSize, ChunkData, ChunkEnd, Trailer, Done, Fail };

    TResult run();
    bool takeLine(QByteArray* line);
    bool countHeadLine(const QByteArray& line);
    void headerLine(const QByteArray& line);
    void statusLine(const QByteArray& line);
    void endOfHeader();
    void chunkSizeLine(const QByteArray& line);
    void body(QByteArrayView part);
    void resetReplyFields();
    TResult fail(TError kind, const QString& error);
    TResult bodyTooLarge();
    TResult result() const;

    THttpReplyLimits m_limits;
    TFace m_face;
    TBodySink m_sink;
    QByteArray m_buf;
    qsizetype m_pos = 0;
    TPhase m_phase = Done;
    bool m_headOnly = false;
    bool m_requestIs10 = false;
    bool m_follow = true;
    bool m_isPut = false;
    bool m_firstLine = true;
    bool m_headDone = false;
    bool m_headCut = false;
    bool m_truncated = false;
    bool m_closing = false;
    int m_lineCount = 0;
    qint64 m_headerBytes = 0;
    qint64 m_bytesFed = 0;
    qint64 m_remaining = 0;
    QString m_error;
    TError m_errorKind = NoError;
    QString m_lengthError;      // a stated length that cannot be followed: fails the reply if its body needs it

    QByteArray m_statusLine;
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
