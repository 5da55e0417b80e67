#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QObject>
#include <QString>

#include <functional>

class TTimelineReader;

// Which page to read: the one after (older than) the cursor, or the newest before it.
// An empty cursor is the newest page. Cursors are the source's own: they come from the
// Next of an earlier page and mean nothing elsewhere.
struct TPageRequest {
    QString Cursor;
    bool Newer = false;
};

// Where a timeline's pages come from. Read starts one page and returns; PageRead reports
// it later from the event loop, on the thread that asked: its statuses, the next older
// page's cursor and how the read went. One read at a time.
class TTimelineSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void Read(const TPageRequest& request) = 0;
    // Calls the running read off: it is never reported.
    virtual void Abandon() = 0;

Q_SIGNALS:
    void PageRead(const TTimelinePage& page);
};

// The source of one list of the account's server: account gives whom to read as (asked
// at each page), bounds limit every read. reader, when given, is taken over with what it
// may already be reading (a first page started before the window).
TTimelineSource* MakeTimelineSource(TTimeline timeline, std::function<TServiceAccount()> account,
                                    const TReadBounds& bounds, TTimelineReader* reader, QObject* parent);
