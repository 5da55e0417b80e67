#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class TBlockingHttpClient;

// The statuses of one page of the fediverse's client API, as rows.
struct TFediverseRows {
    bool Parsed = false;            // the bytes were JSON
    QString Error;                  // why they are not a page; empty when they are
    QList<TTimelineStatus> Rows;    // in the reply's order
    // For each row, the id the server pages by: the timeline entry's (a repeat's own, not
    // the status's) or the notification's.
    QStringList PagingIds;
    QString LastPagingId;           // of the page's last entry, kept as a row or not

    bool Ok() const { return Parsed && Error.isEmpty(); }
};

// A home timeline page (an array of statuses) or a notifications page (only its
// mentions are kept) turned into rows.
TFediverseRows FediversePageRows(const QByteArray& json, TTimeline timeline);

// Which slice of a timeline: the newest (nothing set), the one older than MaxId, or the
// newest ones after SinceId. Ids are the server's paging ids, sent as they came.
struct TFediverseQuery {
    QString MaxId;
    QString SinceId;
};

// The page's address on the server at origin (scheme://host[:port]).
QString FediverseTimelineAddress(const QString& origin, TTimeline timeline, const TFediverseQuery& query);

// The max_id of the Link header's rel="next" address; empty when there is none.
QString NextMaxIdOfLink(const QByteArray& link);

// The wait a 429 asks for, as a Retry-After value (seconds): its own Retry-After, else
// the time in X-RateLimit-Reset (ISO 8601) counted from now; empty when neither is usable.
QByteArray RateLimitRetryAfter(const QByteArray& retryAfter, const QByteArray& rateLimitReset, const QDateTime& now);

// Reads one page with the blocking client: Bearer token, or the account's name and
// password as Basic when it has none. A 206 (the server is still building the home
// timeline) is read again after the wait it names, a few times at most, within bounds.
// The page carries its paging ids (see TFediverseRows).
TTimelinePage ReadFediversePage(TBlockingHttpClient& client, const TServiceAccount& account, TTimeline timeline,
                                const TFediverseQuery& query, const TReadBounds& bounds);
