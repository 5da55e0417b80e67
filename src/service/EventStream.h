#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <utility>

// One event of a server-sent event stream: its type ("message" when the stream names
// none) and its data, the data lines joined with "\n".
struct TServerEvent {
    QByteArray Type;
    QByteArray Data;

    bool operator==(const TServerEvent&) const = default;
};

// Reads a server-sent event stream as it arrives, in pieces cut anywhere: lines end at
// CR LF, LF or CR; an empty line ends an event; a line that starts with ":" is a comment
// (the server's heartbeat). Bounded: a line or an event beyond its limit stops the
// reading with an error instead of holding bytes without end.
struct TEventStreamLimits {
    qsizetype MaxLine = 1024 * 1024;
    qsizetype MaxEvent = 1024 * 1024;
};

class TEventStreamParser {
public:
    using TLimits = TEventStreamLimits;
    TEventStreamParser() = default;
    explicit TEventStreamParser(TLimits limits) : m_limits(limits) {}

    // False once the stream broke a limit; nothing after that is read.
    bool Feed(QByteArrayView bytes);
    bool Failed() const { return !m_error.isEmpty(); }
    QString Error() const { return m_error; }

    // The events completed so far, handed over once.
    QList<TServerEvent> TakeEvents() { return std::exchange(m_events, {}); }
    // Comments read so far.
    int Comments() const { return m_comments; }

private:
    void line(QByteArrayView text);

    TLimits m_limits;
    QByteArray m_line;          // the line read so far
    bool m_afterCR = false;     // a CR ended the last line: an LF right after it belongs to it
    QByteArray m_type;
    QByteArray m_data;
    bool m_hasData = false;
    QList<TServerEvent> m_events;
    int m_comments = 0;
    QString m_error;
};
