#include "service/TimelineSource.h"

#include "service/FediverseRead.h"
#include "service/ReadOutcome.h"
#include "service/TimelineReader.h"

#include <QHash>

#include <memory>

namespace {

// The pages of the account's server, in the family the account says at each read, so a
// sign-in to a server of the other family goes on with the same source.
//
// The XML family: numbered pages; a cursor is the page's number, and the newest page has
// none. Numbered pages cannot ask for what came after a status, so a read of newer
// statuses reads the newest page.
//
// The fediverse: a cursor is the max_id of the page's Link rel="next". A read of newer
// statuses takes a status id as its cursor and asks for what came since, by the id the
// server pages by (a repeat's own, a notification's) when a page showed it.
class TAccountTimelineSource : public TTimelineSource {
public:
    TAccountTimelineSource(TTimeline timeline, std::function<TServiceAccount()> account, const TReadBounds& bounds,
                           TTimelineReader* reader, QObject* parent)
        : TTimelineSource(parent), m_timeline(timeline), m_account(std::move(account)), m_bounds(bounds),
          m_reader(reader ? reader : new TTimelineReader)
    {
        // Both families read through one reader, so the pages of a read share its kept
        // connection, and one read at a time holds for both.
        m_reader->setParent(this);
        connect(m_reader, &TTimelineReader::PageRead, this, [this](const TTimelinePage& page) {
            TTimelinePage told = page;
            if (m_readAs.Family == TServiceFamily::Classic)
                told.Next = QString::number(m_page + 1);
            else
                notePagingIds(told);
            if (!told.Ok())
                told.Where = ConnectionPlace(m_readAs);
            Q_EMIT PageRead(told);
        });
    }

    void Read(const TPageRequest& request) override
    {
        m_readAs = m_account();
        if (m_readAs.Family == TServiceFamily::Classic) {
            const int page = request.Newer ? 1 : request.Cursor.toInt();
            m_page = page > 1 ? page : 1;
            m_reader->Start(m_readAs, m_page, m_bounds, m_timeline);
            return;
        }
        TFediverseQuery query;
        if (!request.Newer) {
            query.MaxId = request.Cursor;
        } else if (!request.Cursor.isEmpty()) {
            // The home timeline pages by status ids, the mentions by notification ids,
            // which only a page that showed the status can tell.
            query.SinceId = m_pagingIds.value(request.Cursor,
                                              m_timeline == TTimeline::Friends ? request.Cursor : QString());
        }
        // The start-up read of the home timeline may have been read ahead.
        if (m_timeline == TTimeline::Friends && query.MaxId.isEmpty() && query.SinceId.isEmpty()
            && m_reader->TakeReadAhead(m_readAs, 1, m_bounds))
            return;
        m_reader->Start(
            [account = m_readAs, timeline = m_timeline, query](TBlockingHttpClient& client, const TReadBounds& bounds) {
                return ReadFediversePage(client, account, timeline, query, bounds);
            },
            m_bounds);
    }

    void Abandon() override { m_reader->Abandon(); }

private:
    void notePagingIds(const TTimelinePage& page)
    {
        const QStringList& ids = page.PagingIds;
        if (ids.size() != page.Rows.size())
            return;
        // Enough for every row a list holds; an old one forgotten only means a read of
        // newer statuses after it starts from the newest page.
        if (m_pagingIds.size() > 4000)
            m_pagingIds.clear();
        for (qsizetype i = 0; i < ids.size(); ++i) {
            // The home timeline pages by the status's own id unless it came as a repeat:
            // only the others need keeping.
            if (m_timeline == TTimeline::Friends && ids.at(i) == page.Rows[i].Id)
                m_pagingIds.remove(page.Rows[i].Id);
            else
                m_pagingIds.insert(page.Rows[i].Id, ids.at(i));
        }
    }

    TTimeline m_timeline;
    std::function<TServiceAccount()> m_account;
    TServiceAccount m_readAs;   // of the running read
    TReadBounds m_bounds;
    TTimelineReader* m_reader;
    int m_page = 1;
    QHash<QString, QString> m_pagingIds;        // status id -> the id the server pages it by
};

// Whatever family reads: a fediverse account whose token is refused must sign in again,
// while the XML family's refusal stays a status line.
class TSignInMarks : public TTimelineSource {
public:
    TSignInMarks(std::function<TServiceAccount()> account, QObject* parent)
        : TTimelineSource(parent), m_account(std::move(account))
    {
    }

    void Take(TTimelineSource* inner)
    {
        m_inner = inner;
        connect(m_inner, &TTimelineSource::PageRead, this, [this](const TTimelinePage& page) {
            TTimelinePage marked = page;
            marked.SignInAgain = page.Failure == TReadFailure::Refused && m_fediverse;
            Q_EMIT PageRead(marked);
        });
    }

    void Read(const TPageRequest& request) override
    {
        m_fediverse = m_account().Family == TServiceFamily::Fediverse;
        m_inner->Read(request);
    }

    void Abandon() override { m_inner->Abandon(); }

private:
    std::function<TServiceAccount()> m_account;
    TTimelineSource* m_inner = nullptr;
    bool m_fediverse = false;   // of the running read
};

} // namespace

TTimelineSource* MakeTimelineSource(TTimeline timeline, std::function<TServiceAccount()> account,
                                    const TReadBounds& bounds, TTimelineReader* reader, QObject* parent)
{
    auto* marks = new TSignInMarks(account, parent);
    marks->Take(new TAccountTimelineSource(timeline, std::move(account), bounds, reader, marks));
    return marks;
}
