#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineStatus.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

class TBlockingHttpClient;

// Bounds of one timeline read; tests shorten them so a silent or trickling peer costs
// milliseconds, not minutes.
struct TReadBounds {
    int ReadTimeoutMs = 30000;              // connect and each wait for data
    int TotalTimeoutMs = 60000;             // the whole read
    qint64 MaxBodySize = 64 * 1024 * 1024;  // largest reply body accepted
    // Set to true from another thread to call the read off; the reader sets it per read.
    const std::atomic<bool>* Cancelled = nullptr;

    bool operator==(const TReadBounds&) const = default;
};

enum class TReadFailure {
    None,
    Refused,        // 401: the service refused the Credentials
    HttpStatus,     // any other status that is not a success
    Connection,     // no connection could be made (refused, no such host, time-out)
    Tls,            // the certificate was refused or the TLS handshake failed
    Proxy,          // the proxy refused (407, or a tunnel it would not open)
    Transfer,       // the reply broke off, took too long, was too large or compressed
    NotTimeline,    // the reply is not a timeline document
};

// What one page read gave: its rows, or why there are none.
struct TTimelinePage {
    TReadFailure Failure = TReadFailure::None;
    // The reply was read and parsed as XML. A document whose root is not a timeline
    // is Loaded and still fails (NotTimeline).
    bool Loaded = false;
    int StatusCode = 0;             // Refused and HttpStatus: the reply's status
    QByteArray ReasonPhrase;
    int SocketError = 0;            // Connection or Transfer raised by a socket call: its number
    QString Message;                // the error's own text
    QString Reason;                 // the same, one line, for a status line
    QByteArray RetryAfter;          // HttpStatus: the reply's Retry-After value, if any
    QByteArray Location;            // HttpStatus: the reply's Location, if any (the read does not follow it)
    QList<TTimelineStatus> Rows;    // in the reply's order, unmarked
    // Where the next older page starts, for the source that read this one; empty when
    // there is none. Set whether or not this page could be read, where it is known.
    QString Next;
    // A page that failed: where the source connected (host[:port], or the proxy), for its line.
    QString Where;
    // Refused: the account's token was refused, so signing in again is the way on (Reason
    // holds the server's own words, where it gave any).
    bool SignInAgain = false;
    // The fediverse's: for each row, the id the server pages it by (a repeat's own, a
    // notification's); empty for the XML family.
    QStringList PagingIds;

    bool Ok() const { return Failure == TReadFailure::None; }
};

// Which timeline: the friends timeline, or the statuses that mention the account.
enum class TTimeline { Friends, Mentions };

// A timeline's address for a page: page 1 is the plain address, a later page adds
// "?page=n&twtr=true" ("?page=n" for the mentions).
QString TimelinePageAddress(const QString& apiBase, int page, TTimeline timeline = TTimeline::Friends);

// Reads one page with the blocking client and Basic authentication. Blocks the calling
// thread within bounds and touches no Qt object, so any thread may call it. Writes the
// "url:" diagnostic line after a page that parsed.
TTimelinePage ReadTimelinePage(const TServiceAccount& account, int page, const TReadBounds& bounds,
                               TTimeline timeline = TTimeline::Friends);
// The same over a client that lives across the pages of a read: where the server keeps
// the connection open, the next page goes over it, with no new connect or handshake.
TTimelinePage ReadTimelinePage(TBlockingHttpClient& client, const TServiceAccount& account, int page,
                               const TReadBounds& bounds, TTimeline timeline = TTimeline::Friends);
