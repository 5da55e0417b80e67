#include "http/HttpReplyParser.h"

#include "text/HexDigit.h"

#include <algorithm>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray skipLeadingBlanks(const QByteArray& s)
{
    qsizetype i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    return s.mid(i);
}

} // namespace

THttpReplyParser::THttpReplyParser(THttpReplyLimits limits, TFace face)
    : m_limits(limits), m_face(face)
{
}

int THttpReplyParser::CodeAfterFirstBlank(const QByteArray& statusLine)
{
    const qsizetype blank = statusLine.indexOf(' ');
    if (blank < 0)
        return -1;
    QByteArray rest = statusLine.mid(blank + 1).trimmed();
    const qsizetype next = rest.indexOf(' ');
    if (next >= 0)
        rest.truncate(next);
    if (rest.isEmpty() || rest.size() > 9 || !std::all_of(rest.begin(), rest.end(), isDigit))
        return -1;
    return rest.toInt();
}

bool THttpReplyParser::IsChunked(const QByteArray& transferEncoding)
{
    const qsizetype comma = transferEncoding.lastIndexOf(',');
    return transferEncoding.mid(comma + 1).trimmed().compare("chunked", Qt::CaseInsensitive) == 0;
}

void THttpReplyParser::StartReply(bool requestIs10, bool followRelocation, bool isPut)
{
    resetReplyFields();
    m_headOnly = false;
    m_requestIs10 = requestIs10;
    m_follow = followRelocation;
    m_isPut = isPut;
    m_closeAfterReply = requestIs10;
    m_firstLine = true;
    m_headDone = false;
    m_headCut = false;
    m_truncated = false;
    m_closing = false;
    m_lineCount = 0;
    m_headerBytes = 0;
    m_bytesFed = 0;
    m_remaining = 0;
    m_error.clear();
    m_errorKind = NoError;
    m_phase = FirstLine;
}

void THttpReplyParser::StartHead()
{
    StartReply();
    m_headOnly = true;
}

void THttpReplyParser::ClearBuffer()
{
    m_buf.clear();
    m_pos = 0;
}

QByteArray THttpReplyParser::TakeBuffered()
{
    const QByteArray rest = m_buf.mid(m_pos);
    ClearBuffer();
    return rest;
}

void THttpReplyParser::resetReplyFields()
{
    m_statusLine.clear();
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_version.clear();
    m_contentLength = -1;
    m_lengthError.clear();
    m_contentType.clear();
    m_transferEncoding.clear();
    m_contentEncoding.clear();
    m_headerLines.clear();
    m_challenges.clear();
    m_relocate = false;
    m_location.clear();
    m_bodyReceived = 0;
}

bool THttpReplyParser::InBody() const
{
    return m_phase == BodyLength || m_phase == BodyUntilClose || m_phase == ChunkSize
        || m_phase == ChunkData || m_phase == ChunkEnd || m_phase == Trailer;
}

THttpReplyParser::TResult THttpReplyParser::result() const
{
    if (m_phase == Done)
        return Complete;
    if (m_phase == Fail)
        return Failed;
    return Incomplete;
}

THttpReplyParser::TResult THttpReplyParser::fail(TError kind, const QString& error)
{
    m_error = error;
    m_errorKind = kind;
    m_phase = Fail;
    return Failed;
}

THttpReplyParser::TResult THttpReplyParser::bodyTooLarge()
{
    return fail(Malformed, QStringLiteral("Reply body exceeds the limit of %1 bytes.").arg(m_limits.MaxBodySize));
}

THttpReplyParser::TResult THttpReplyParser::Feed(QByteArrayView data)
{
    if (m_phase == Done || m_phase == Fail)
        return result();
    m_bytesFed += data.size();
    // Body bytes that need no line cutting go straight to the sink, not through the buffer.
    while (!data.isEmpty() && m_pos == m_buf.size()
           && (m_phase == BodyLength || m_phase == ChunkData || m_phase == BodyUntilClose)) {
        qint64 n = data.size();
        if (m_phase != BodyUntilClose) {
            n = std::min<qint64>(n, m_remaining);
        } else if (m_bodyReceived + n > m_limits.MaxBodySize) {
            body(data.first(m_limits.MaxBodySize - m_bodyReceived));
            return bodyTooLarge();
        }
        body(data.first(n));
        data = data.sliced(n);
        if (m_phase != BodyUntilClose) {
            m_remaining -= n;
            if (m_remaining == 0)
                m_phase = m_phase == BodyLength ? Done : ChunkEnd;
        }
    }
    if (m_phase == Done)
        return Complete;  // extra bytes are not part of this reply
    if (m_pos == m_buf.size()) {
        // Nothing held over: the bytes are read where they lie, and only what is left of
        // them is copied. Nothing in run() may keep a reference into them.
        m_buf = QByteArray::fromRawData(data.data(), data.size());
        m_pos = 0;
        const TResult r = run();
        m_buf = QByteArray(m_buf.constData() + m_pos, m_buf.size() - m_pos);
        m_pos = 0;
        return r;
    }
    m_buf.append(data.data(), data.size());
    const TResult r = run();
    if (m_pos > 0) {
        m_buf.remove(0, m_pos);
        m_pos = 0;
    }
    return r;
}

THttpReplyParser::TResult THttpReplyParser::PeerClosed()
{
    if (m_phase == Done || m_phase == Fail)
        return result();
    // For the event-driven client a partial last line still counts: the head in progress
    // ends with it. The blocking one never took a line without its end.
    m_closing = m_face == EventDriven;
    run();
    m_closing = false;
    if (m_phase == Fail)
        return Failed;
    if (m_phase != Done) {
        if (m_face == Blocking && (m_phase == FirstLine || (m_phase == HeadLines && m_headerLines.isEmpty())))
            return fail(Closed, QStringLiteral("Connection Closed Gracefully."));
        if (m_face == Blocking && m_phase == HeadLines) {
            m_headDone = true;
            m_headCut = true;
        } else if (m_phase != Trailer) {
            m_truncated = m_phase != BodyUntilClose && (m_statusCode != 0 || !m_headerLines.isEmpty());
        }
        m_phase = Done;
    }
    ClearBuffer();
    return Complete;
}

qint64 THttpReplyParser::DirectBodyRoom() const
{
    if (m_pos != m_buf.size())
        return 0;
    if (m_phase == BodyLength || m_phase == ChunkData)
        return m_remaining;
    if (m_phase == BodyUntilClose)
        return m_limits.MaxBodySize - m_bodyReceived + 1;
    return 0;
}

THttpReplyParser::TResult THttpReplyParser::BodyTaken(qint64 n)
{
    m_bytesFed += n;
    if (m_phase == BodyUntilClose) {
        if (m_bodyReceived + n > m_limits.MaxBodySize) {
            m_bodyReceived = m_limits.MaxBodySize;
            return bodyTooLarge();
        }
        m_bodyReceived += n;
        return Incomplete;
    }
    m_bodyReceived += n;
    m_remaining -= n;
    if (m_remaining == 0)
        m_phase = m_phase == BodyLength ? Done : ChunkEnd;
    return result();
}

bool THttpReplyParser::takeLine(QByteArray* line)
{
    qsizetype nl = m_buf.indexOf('\n', m_pos);
    qsizetype next = nl + 1;
    const QString tooLong = QStringLiteral("Reply header line too long (more than %1 bytes)").arg(m_limits.MaxLineLength);
    if (nl < 0) {
        // One byte more than a line may hold: the CR before its LF.
        if (m_buf.size() - m_pos > m_limits.MaxLineLength + 1) {
            fail(LineTooLong, tooLong);
            return false;
        }
        if (!m_closing || m_pos == m_buf.size())
            return false;
        nl = next = m_buf.size();
    }
    qsizetype end = nl;
    if (end > m_pos && m_buf.at(end - 1) == '\r')
        --end;
    if (end - m_pos > m_limits.MaxLineLength) {
        fail(LineTooLong, tooLong);
        return false;
    }
    *line = QByteArray(m_buf.constData() + m_pos, end - m_pos);  // a copy: the buffer may be the caller's bytes
    m_pos = next;
    return true;
}

// Every line of a head, and of the trailer, counts against the head's limits.
bool THttpReplyParser::countHeadLine(const QByteArray& line)
{
    if (++m_lineCount > m_limits.MaxHeaderLines) {
        fail(Malformed, QStringLiteral("Reply header has more than %1 lines.").arg(m_limits.MaxHeaderLines));
        return false;
    }
    m_headerBytes += line.size();
    if (m_headerBytes > m_limits.MaxHeaderSize) {
        fail(Malformed, QStringLiteral("Reply header exceeds %1 bytes.").arg(m_limits.MaxHeaderSize));
        return false;
    }
    return true;
}

THttpReplyParser::TResult THttpReplyParser::run()
{
    for (;;) {
        const qsizetype avail = m_buf.size() - m_pos;
        switch (m_phase) {
        case FirstLine:
        case HeadLines: {
            const qsizetype lineStart = m_pos;
            QByteArray line;
            if (!takeLine(&line))
                return result();
            // The blocking client takes any first line, an empty one too, as the status line.
            if (m_firstLine && (m_face == Blocking || !line.isEmpty())) {
                if (!line.isEmpty() && !countHeadLine(line))
                    return Failed;
                statusLine(line);
                if (m_phase == BodyUntilClose)
                    m_pos = lineStart;  // no head at all: that line starts the body
            } else if (line.isEmpty()) {
                endOfHeader();
            } else {
                if (!countHeadLine(line))
                    return Failed;
                headerLine(line);
            }
            break;
        }
        case BodyLength:
        case ChunkData: {
            if (avail == 0)
                return Incomplete;
            const qint64 n = std::min<qint64>(avail, m_remaining);
            body(QByteArrayView(m_buf).sliced(m_pos, n));
            m_pos += n;
            m_remaining -= n;
            if (m_remaining == 0)
                m_phase = m_phase == BodyLength ? Done : ChunkEnd;
            break;
        }
        case BodyUntilClose:
            if (avail == 0)
                return Incomplete;
            if (m_bodyReceived + avail > m_limits.MaxBodySize) {
                // Up to the cap the body is delivered as it would be in smaller pieces.
                body(QByteArrayView(m_buf).sliced(m_pos, m_limits.MaxBodySize - m_bodyReceived));
                return bodyTooLarge();
            }
            body(QByteArrayView(m_buf).sliced(m_pos, avail));
            m_pos += avail;
            break;
        case ChunkSize: {
            QByteArray line;
            if (!takeLine(&line))
                return result();
            chunkSizeLine(line);
            break;
        }
        case ChunkEnd: {
            QByteArray line;
            if (!takeLine(&line))
                return result();
            m_phase = ChunkSize;
            break;
        }
        case Trailer: {
            QByteArray line;
            if (!takeLine(&line))
                return result();
            if (line.isEmpty())
                m_phase = Done;
            else if (!countHeadLine(line))
                return Failed;
            break;
        }
        case Done:
            return Complete;
        case Fail:
            return Failed;
        }
    }
}

void THttpReplyParser::statusLine(const QByteArray& line)
{
    m_firstLine = false;
    m_phase = HeadLines;
    if (m_face == Blocking) {
        m_statusLine = line;
        if (line.startsWith("HTTP/"))
            m_version = line.mid(5, 3);
        m_closeAfterReply = m_requestIs10 || m_version == "1.0";
        m_statusCode = CodeAfterFirstBlank(line);
        const QByteArray rest = line.mid(line.indexOf(' ') + 1).trimmed();
        const qsizetype blank = rest.indexOf(' ');
        m_reasonPhrase = blank < 0 ? QByteArray() : rest.mid(blank + 1).trimmed();
        return;
    }
    if (line.startsWith("HTTP/1.0") || line.startsWith("HTTP/1.1")) {
        m_statusLine = line;
        m_version = line.mid(5, 3);
        m_closeAfterReply = m_requestIs10 || m_version == "1.0";
        qsizetype d = 9;
        while (d < line.size() && !isDigit(line[d]))
            ++d;
        if (d < line.size()) {
            const QByteArray code = line.mid(d, 3);
            // Without three digits there is no usable status; 0 then ends the reply without a body.
            if (code.size() == 3 && isDigit(code[1]) && isDigit(code[2]))
                m_statusCode = code.toInt();
            m_reasonPhrase = line.mid(d + 4);
        }
        return;
    }
    const QByteArray lower = line.left(9).toLower();
    if (!m_headOnly && (lower.startsWith("<html>") || lower.startsWith("<!doctype"))) {
        m_contentType = "text/html";
        m_headDone = true;
        m_phase = BodyUntilClose;
        return;
    }
    m_headerLines.append(line);
}

void THttpReplyParser::headerLine(const QByteArray& line)
{
    m_headerLines.append(line);
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return;
    const QByteArray name = line.left(colon).toLower();
    const QByteArray value = skipLeadingBlanks(line.mid(colon + 1));
    if (name == "location") {
        m_location = value;
        if (!m_isPut && m_follow)
            m_relocate = true;
    } else if (name == "content-length") {
        // Digits, or none at all (the body then runs to the close); a negative or
        // oversized number is refused before anything is allocated, if the body needs it.
        const QByteArray v = value.trimmed();
        const bool negative = v.startsWith('-');
        QByteArray digits = negative ? v.mid(1) : v;
        m_contentLength = -1;
        m_lengthError.clear();
        if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDigit))
            return;
        while (digits.size() > 1 && digits.at(0) == '0')
            digits.remove(0, 1);
        if (digits == "0")
            m_contentLength = 0;
        else if (negative || digits.size() > 18)
            m_lengthError = QStringLiteral("Invalid Content-Length: %1").arg(QString::fromLatin1(v.left(64)));
        else if (digits.toLongLong() > m_limits.MaxBodySize)
            m_lengthError = QStringLiteral("Reply body exceeds the limit of %1 bytes.").arg(m_limits.MaxBodySize);
        else
            m_contentLength = digits.toLongLong();
    } else if (name == "transfer-encoding") {
        m_transferEncoding = value.toLower();
    } else if (name == "content-type") {
        m_contentType = value.toLower();
    } else if (name == "content-encoding") {
        m_contentEncoding = value;
    } else if (name == "connection" || name == "proxy-connection") {
        const QByteArray v = value.trimmed().toLower();
        if (v == "close")
            m_closeAfterReply = true;
        else if (v == "keep-alive")
            m_closeAfterReply = false;
    } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        m_challenges.append(value);
    }
}

void THttpReplyParser::endOfHeader()
{
    const int s = m_statusCode;
    if (!m_headOnly && s == 100 && (m_face == Blocking || m_version == "1.1")) {
        resetReplyFields();
        m_firstLine = true;
        m_phase = FirstLine;
        return;
    }
    m_headDone = true;
    if (m_headOnly) {
        m_phase = Done;
        return;
    }
    const bool chunked = IsChunked(m_transferEncoding);
    const bool stated = m_contentLength >= 0 || !m_lengthError.isEmpty();
    const bool noBody = m_face == Blocking
                      ? s / 100 == 1 || s == 204 || s == 304
                      : !chunked && !stated && (s < 200 || s == 204 || s == 301 || s == 302 || s == 304 || s == 401 || s == 407);
    if (noBody) {
        m_phase = Done;
    } else if (chunked) {
        m_phase = ChunkSize;
    } else if (!m_lengthError.isEmpty()) {
        fail(Malformed, m_lengthError);
    } else if (m_contentLength == 0) {
        m_phase = Done;
    } else if (m_contentLength > 0) {
        m_remaining = m_contentLength;
        m_phase = BodyLength;
    } else {
        m_phase = BodyUntilClose;
    }
}

void THttpReplyParser::chunkSizeLine(const QByteArray& line)
{
    qsizetype i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    const qsizetype first = i;
    qint64 size = 0;
    int significant = 0;
    for (; i < line.size() && HexDigitValue(line[i]) >= 0; ++i) {
        const int d = HexDigitValue(line[i]);
        if (size == 0 && d == 0)
            continue;
        // 15 hex digits stay far below the 64-bit limit; more cannot be a sane size.
        if (++significant > 15)
            break;
        size = size * 16 + d;
    }
    // Digits, then the end of the line, blanks or an extension; nothing else.
    const bool digits = i > first && significant <= 15;
    if (!digits || (i < line.size() && !isBlank(line[i]) && line[i] != ';')) {
        qsizetype end = first;
        while (end < line.size() && !isBlank(line[end]) && line[end] != ';')
            ++end;
        fail(Malformed, QStringLiteral("Invalid chunk size: %1").arg(QString::fromLatin1(line.mid(first, std::min<qsizetype>(end - first, 64)))));
        return;
    }
    if (m_bodyReceived + size > m_limits.MaxBodySize) {
        bodyTooLarge();
        return;
    }
    m_remaining = size;
    m_phase = size == 0 ? Trailer : ChunkData;
}

void THttpReplyParser::body(QByteArrayView part)
{
    m_bodyReceived += part.size();
    if (m_sink && !part.isEmpty())
        m_sink(part);
}
