#pragma once

#include "service/TimelineRead.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The status line that tells how a timeline page read failed. Every text is in the one
// table in ReadOutcome.cpp.
QString TimelineFailureLine(const TTimelinePage& page);
// The same, a connection or transfer failure naming where the read connected (as
// ConnectionPlace gives it) in the words a post's NoReplyLine uses.
QString TimelineFailureLine(const TTimelinePage& page, const QString& where);

// Where a request to address connects: the proxy that carries it ("プロキシ host:port"),
// or the address's own host[:port].
QString ConnectionPlace(const QByteArray& address, const TNetworkOptions& network);
QString ConnectionPlace(const TServiceAccount& account);

// The one line for a request the service never answered: what failed (Connection, Tls,
// Proxy or Transfer; anything else gives the reason alone), where (ConnectionPlace) and why.
QString NoReplyLine(TReadFailure failure, const QString& where, const QString& reason);

// Whether a failed read should make the automatic reload wait longer: no connection, a
// broken reply, a server error (5xx), too many requests (429) or a request limit (400).
bool WorthBackingOff(const TTimelinePage& page);

// A Retry-After value (delay in seconds, or an HTTP date) as milliseconds from now;
// nothing when absent or unreadable. A date in the past is zero.
std::optional<qint64> RetryAfterMs(const QByteArray& value, const QDateTime& now);

// The automatic reload's wait: the normal interval while reads succeed; after a read
// that failed, twice the last wait up to a ceiling, or the server's Retry-After when
// that is longer (bounded by kMaxRetryAfterMs); back to normal after a success.
class TReloadBackoff {
public:
    static constexpr qint64 kMaxWaitMs = 10 * 60 * 1000;
    static constexpr qint64 kMaxRetryAfterMs = 60 * 60 * 1000;

    explicit TReloadBackoff(qint64 normalMs) : m_normalMs(normalMs), m_currentMs(normalMs) {}

    void SetNormal(qint64 normalMs);
    // Notes how the last reload ended and returns the wait before the next one.
    qint64 Succeeded();
    qint64 Failed(std::optional<qint64> retryAfterMs);

    qint64 CurrentMs() const { return m_currentMs; }
    bool BackingOff() const { return m_currentMs != m_normalMs; }

private:
    qint64 m_normalMs;
    qint64 m_currentMs;
};
