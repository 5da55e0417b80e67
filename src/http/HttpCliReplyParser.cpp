#include "http/HttpCliReplyParser.h"

#include "text/HexDigit.h"

#include <algorithm>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

QByteArray skipLeadingBlanks(const QByteArray& s)
{
    qsizetype i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return s.mid(i);
}

} // namespace

THttpCliReplyParser::THttpCliReplyParser(THttpCliReplyLimits limits)
    : m_limits(limits)
{
}

void THttpCliReplyParser::StartReply(bool requestIs10, bool followRelocation, bool isPut)
{
    resetReplyFields();
    m_requestIs10 = requestIs10;
    m_follow = followRelocation;
    m_isPut = isPut;
    m_closeAfterReply = requestIs10;
    m_firstLine = true;
    m_truncated = false;
    m_closing = false;
    m_lineCount = 0;
    m_headerBytes = 0;
    m_bytesFed = 0;
    m_remaining = 0;
    m_error.clear();
    m_phase = StatusLine;
}

void THttpCliReplyParser::ClearBuffer()
{
    m_buf.clear();
    m_pos = 0;
}

void THttpCliReplyParser::resetReplyFields()
{
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_version.clear();
    m_contentLength = -1;
    m_contentType.clear();
    m_transferEncoding.clear();
    m_contentEncoding.clear();
    m_headerLines.clear();
    m_challenges.clear();
    m_relocate = false;
    m_location.clear();
    m_bodyReceived = 0;
}

bool THttpCliReplyParser::InBody() const
{
    return m_phase == BodyLength || m_phase == BodyUntilClose || m_phase == ChunkSize
        || m_phase == ChunkData || m_phase == ChunkEnd || m_phase == ChunkLast;
}

THttpCliReplyParser::TResult THttpCliReplyParser::result() const
{
    if (m_phase == Done)
        return Complete;
    if (m_phase == Fail)
        return Failed;
    return Incomplete;
}

THttpCliReplyParser::TResult THttpCliReplyParser::fail(const QString& error)
{
    m_error = error;
    m_phase = Fail;
    return Failed;
}

THttpCliReplyParser::TResult THttpCliReplyParser::Feed(QByteArrayView data)
{
    if (m_phase == Done || m_phase == Fail)
        return result();
    m_bytesFed += data.size();
    // Body bytes that need no line cutting go straight to the sink, not through the buffer.
    while (!data.isEmpty() && m_pos == m_buf.size()
           && (m_phase == BodyLength || m_phase == ChunkData || m_phase == BodyUntilClose)) {
        qint64 n = data.size();
        if (m_phase != BodyUntilClose)
            n = std::min<qint64>(n, m_remaining);
        else if (m_bodyReceived + n > m_limits.MaxBodySize) {
            body(data.first(m_limits.MaxBodySize - m_bodyReceived));
            return fail(QStringLiteral("Reply body too large (more than %1 bytes)").arg(m_limits.MaxBodySize));
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
    m_buf.append(data.data(), data.size());
    const TResult r = run();
    if (m_pos > 0) {
        m_buf.remove(0, m_pos);
        m_pos = 0;
    }
    return r;
}

THttpCliReplyParser::TResult THttpCliReplyParser::PeerClosed()
{
    if (m_phase == Done || m_phase == Fail)
        return result();
    // A partial last line still counts: the head in progress ends with it.
    m_closing = true;
    run();
    m_closing = false;
    if (m_phase == Fail)
        return Failed;
    if (m_phase != Done) {
        m_truncated = m_phase != BodyUntilClose && (m_statusCode != 0 || !m_headerLines.isEmpty());
        m_phase = Done;
    }
    ClearBuffer();
    return Complete;
}

bool THttpCliReplyParser::takeLine(QByteArray* line)
{
    qsizetype nl = m_buf.indexOf('\n', m_pos);
    qsizetype next = nl + 1;
    if (nl < 0) {
        // One byte more than a line may hold: the CR before its LF.
        if (m_buf.size() - m_pos > m_limits.MaxLineLength + 1) {
            fail(QStringLiteral("Reply header line too long (more than %1 bytes)").arg(m_limits.MaxLineLength));
            return false;
        }
        if (!m_closing || m_pos == m_buf.size())
            return false;
        nl = next = m_buf.size();
    }
    qsizetype end = nl;
    if (end > m_pos && m_buf[end - 1] == '\r')
        --end;
    if (end - m_pos > m_limits.MaxLineLength) {
        fail(QStringLiteral("Reply header line too long (more than %1 bytes)").arg(m_limits.MaxLineLength));
        return false;
    }
    *line = m_buf.mid(m_pos, end - m_pos);
    m_pos = next;
    return true;
}

THttpCliReplyParser::TResult THttpCliReplyParser::run()
{
    for (;;) {
        const qsizetype avail = m_buf.size() - m_pos;
        switch (m_phase) {
        case StatusLine:
        case Header: {
            const qsizetype lineStart = m_pos;
            QByteArray line;
            if (!takeLine(&line))
                return result();
            if (line.isEmpty()) {
                endOfHeader();
            } else {
                if (++m_lineCount > m_limits.MaxHeaderLines)
                    return fail(QStringLiteral("Too many reply header lines (more than %1)").arg(m_limits.MaxHeaderLines));
                m_headerBytes += line.size();
                if (m_headerBytes > m_limits.MaxHeaderSize)
                    return fail(QStringLiteral("Reply header too large (more than %1 bytes)").arg(m_limits.MaxHeaderSize));
                if (m_firstLine) {
                    statusLine(line);
                    if (m_phase == BodyUntilClose)
                        m_pos = lineStart;  // no head at all: that line starts the body
                } else {
                    headerLine(line);
                }
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
                return fail(QStringLiteral("Reply body too large (more than %1 bytes)").arg(m_limits.MaxBodySize));
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
        case ChunkEnd:
        case ChunkLast: {
            QByteArray line;
            if (!takeLine(&line))
                return result();
            m_phase = m_phase == ChunkEnd ? ChunkSize : Done;
            break;
        }
        case Done:
            return Complete;
        case Fail:
            return Failed;
        }
    }
}

void THttpCliReplyParser::statusLine(const QByteArray& line)
{
    m_firstLine = false;
    m_phase = Header;
    if (line.startsWith("HTTP/1.0") || line.startsWith("HTTP/1.1")) {
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
    if (lower.startsWith("<html>") || lower.startsWith("<!doctype")) {
        m_contentType = "text/html";
        m_phase = BodyUntilClose;
        return;
    }
    m_headerLines.append(line);
}

void THttpCliReplyParser::headerLine(const QByteArray& line)
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
        const QByteArray v = value.trimmed();
        qsizetype i = (v.startsWith('-') || v.startsWith('+')) ? 1 : 0;
        const bool numeric = i < v.size() && std::all_of(v.begin() + i, v.end(), isDigit);
        if (!numeric) {
            m_contentLength = -1;
            return;
        }
        bool ok = false;
        const qint64 n = v.toLongLong(&ok);
        if (!ok || n < 0)
            fail(QStringLiteral("Invalid content length"));
        else if (n > m_limits.MaxBodySize)
            fail(QStringLiteral("Reply body too large (more than %1 bytes)").arg(m_limits.MaxBodySize));
        else
            m_contentLength = n;
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

void THttpCliReplyParser::endOfHeader()
{
    if (m_version == "1.1" && m_statusCode == 100) {
        resetReplyFields();
        m_firstLine = true;
        m_phase = StatusLine;
        return;
    }
    const bool chunked = m_transferEncoding.trimmed() == "chunked";
    const int s = m_statusCode;
    const bool noBodyStatus = s < 200 || s == 204 || s == 301 || s == 302 || s == 304 || s == 401 || s == 407;
    if ((m_contentLength == -1 && !chunked && noBodyStatus) || m_contentLength == 0) {
        m_phase = Done;
    } else if (chunked) {
        m_phase = ChunkSize;
    } else if (m_contentLength > 0) {
        m_remaining = m_contentLength;
        m_phase = BodyLength;
    } else {
        m_phase = BodyUntilClose;
    }
}

void THttpCliReplyParser::chunkSizeLine(const QByteArray& line)
{
    qsizetype i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < line.size() && line[i] == '-') {
        fail(QStringLiteral("Invalid chunk size"));
        return;
    }
    qint64 size = 0;
    int significant = 0;
    for (; i < line.size() && HexDigitValue(line[i]) >= 0; ++i) {
        const int d = HexDigitValue(line[i]);
        if (size == 0 && d == 0)
            continue;
        // 15 hex digits stay far below the 64-bit limit; more cannot be a sane size.
        if (++significant > 15) {
            fail(QStringLiteral("Invalid chunk size"));
            return;
        }
        size = size * 16 + d;
    }
    if (m_bodyReceived + size > m_limits.MaxBodySize) {
        fail(QStringLiteral("Reply body too large (more than %1 bytes)").arg(m_limits.MaxBodySize));
        return;
    }
    m_remaining = size;
    m_phase = size == 0 ? ChunkLast : ChunkData;
}

void THttpCliReplyParser::body(QByteArrayView part)
{
    m_bodyReceived += part.size();
    if (m_sink && !part.isEmpty())
        m_sink(part);
}
