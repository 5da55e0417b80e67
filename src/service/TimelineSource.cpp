#include "service/TimelineSource.h"

#include "service/ReadOutcome.h"
#include "service/TimelineReader.h"

namespace {

// The XML family: numbered pages, read on the reader's threads; a cursor is the page's
// number, and the newest page has none. Numbered pages cannot ask for what came after a
// status, so a read of newer statuses reads the newest page.
class TXmlTimelineSource : public TTimelineSource {
public:
    TXmlTimelineSource(TTimeline timeline, std::function<TServiceAccount()> account, const TReadBounds& bounds,
                       TTimelineReader* reader, QObject* parent)
        : TTimelineSource(parent), m_timeline(timeline), m_account(std::move(account)), m_bounds(bounds),
          m_reader(reader ? reader : new TTimelineReader)
    {
        m_reader->setParent(this);
        connect(m_reader, &TTimelineReader::PageRead, this, [this](const TTimelinePage& page) {
            TTimelinePage numbered = page;
            numbered.Next = QString::number(m_page + 1);
            if (!numbered.Ok())
                numbered.Where = ConnectionPlace(m_readAs);
            Q_EMIT PageRead(numbered);
        });
    }

    void Read(const TPageRequest& request) override
    {
        const int page = request.Newer ? 1 : request.Cursor.toInt();
        m_page = page > 1 ? page : 1;
        m_readAs = m_account();
        m_reader->Start(m_readAs, m_page, m_bounds, m_timeline);
    }

    void Abandon() override { m_reader->Abandon(); }

private:
    TTimeline m_timeline;
    std::function<TServiceAccount()> m_account;
    TServiceAccount m_readAs;   // of the running read
    TReadBounds m_bounds;
    TTimelineReader* m_reader;
    int m_page = 1;
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
    marks->Take(new TXmlTimelineSource(timeline, std::move(account), bounds, reader, marks));
    return marks;
}
