#include "service/TimelineReader.h"

#include "http/BlockingHttpClient.h"
#include "service/FediverseRead.h"

#include <QCoreApplication>

#include <mutex>
#include <thread>

std::atomic<int> TTimelineReader::s_running{0};

// What the reading thread and the reader share. The thread may outlive the reader, so it
// holds its own reference; it reports to Owner only while that is set.
struct TTimelineReader::TShared {
    std::mutex Mutex;
    bool Done = false;
    TTimelinePage Page;
    TTimelineReader* Owner = nullptr;
    quint64 Ticket = 0;
    std::atomic<bool> Cancelled{false};   // set when nobody wants the page any more
    // The thread's alone until Done; then the owner takes it back.
    std::unique_ptr<TBlockingHttpClient> Client;
};

// A read started ahead of its Start: what it was started for, and its state.
struct TTimelineReader::TStarted {
    TServiceAccount Account;
    int Page = 0;
    TReadBounds Bounds;
    std::shared_ptr<TShared> Shared;

    bool Matches(const TServiceAccount& account, int page, const TReadBounds& bounds) const
    {
        return page == Page && account == Account && bounds == Bounds;
    }
};

TTimelineReader::TTimelineReader(QObject* parent)
    : QObject(parent)
{
}

TTimelineReader::~TTimelineReader()
{
    Abandon();
}

TTimelineReader::TPageJob TTimelineReader::NumberedPage(const TServiceAccount& account, int page, TTimeline timeline)
{
    return [account, page, timeline](TBlockingHttpClient& client, const TReadBounds& bounds) {
        return ReadTimelinePage(client, account, page, bounds, timeline);
    };
}

std::shared_ptr<TTimelineReader::TShared> TTimelineReader::Launch(TPageJob read, const TReadBounds& bounds,
                                                                  std::unique_ptr<TBlockingHttpClient> client)
{
    auto shared = std::make_shared<TShared>();
    shared->Client = client ? std::move(client) : std::make_unique<TBlockingHttpClient>();
    ++s_running;
    TReadBounds cancellable = bounds;
    cancellable.Cancelled = &shared->Cancelled;
    std::thread([shared, read = std::move(read), cancellable] {
        TTimelinePage result = read(*shared->Client, cancellable);
        std::lock_guard<std::mutex> lock(shared->Mutex);
        shared->Page = std::move(result);
        shared->Done = true;
        // Queued to the owner's thread; dropped with the owner if it goes first.
        if (TTimelineReader* owner = shared->Owner)
            QMetaObject::invokeMethod(owner, [owner, ticket = shared->Ticket] { owner->deliver(ticket); },
                                      Qt::QueuedConnection);
        --s_running;
    }).detach();
    return shared;
}

void TTimelineReader::Prefetch(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    if (m_current)
        return;
    TPageJob read = NumberedPage(account, page, TTimeline::Friends);
    if (account.Family == TServiceFamily::Fediverse) {
        if (page != 1)
            return;
        read = [account](TBlockingHttpClient& client, const TReadBounds& bounds) {
            return ReadFediversePage(client, account, TTimeline::Friends, {}, bounds);
        };
    }
    m_prefetched = std::make_unique<TStarted>(
        TStarted{account, page, bounds, Launch(std::move(read), bounds, std::move(m_client))});
}

bool TTimelineReader::TakeReadAhead(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    if (m_current || !m_prefetched || !m_prefetched->Matches(account, page, bounds))
        return false;
    const std::unique_ptr<TStarted> prefetched = std::move(m_prefetched);
    follow(prefetched->Shared);
    return true;
}

bool TTimelineReader::Start(const TServiceAccount& account, int page, const TReadBounds& bounds, TTimeline timeline)
{
    if (m_current)
        return false;
    const std::unique_ptr<TStarted> prefetched = std::move(m_prefetched);
    // Only the friends timeline's first page is ever read ahead.
    const bool taken = timeline == TTimeline::Friends && prefetched && prefetched->Matches(account, page, bounds);
    follow(taken ? prefetched->Shared
                 : Launch(NumberedPage(account, page, timeline), bounds, std::move(m_client)));
    return true;
}

bool TTimelineReader::Start(TPageJob read, const TReadBounds& bounds)
{
    if (m_current)
        return false;
    // Whatever was read ahead is for another read.
    if (m_prefetched)
        m_prefetched->Shared->Cancelled = true;
    m_prefetched.reset();
    follow(Launch(std::move(read), bounds, std::move(m_client)));
    return true;
}

void TTimelineReader::follow(std::shared_ptr<TShared> shared)
{
    m_current = std::move(shared);
    const quint64 ticket = ++m_ticket;
    std::lock_guard<std::mutex> lock(m_current->Mutex);
    m_current->Owner = this;
    m_current->Ticket = ticket;
    // A prefetched page already in is reported from the loop too, like any other.
    if (m_current->Done)
        QMetaObject::invokeMethod(this, [this, ticket] { deliver(ticket); }, Qt::QueuedConnection);
}

void TTimelineReader::deliver(quint64 ticket)
{
    if (ticket != m_ticket || !m_current)
        return;  // abandoned meanwhile
    TTimelinePage page;
    {
        std::lock_guard<std::mutex> lock(m_current->Mutex);
        m_current->Owner = nullptr;
        page = std::move(m_current->Page);
        m_client = std::move(m_current->Client);
    }
    m_current.reset();
    Q_EMIT PageRead(page);
}

void TTimelineReader::Abandon()
{
    ++m_ticket;
    // A read started ahead that nobody will take is called off too.
    if (m_prefetched)
        m_prefetched->Shared->Cancelled = true;
    m_prefetched.reset();
    if (!m_current)
        return;
    {
        std::lock_guard<std::mutex> lock(m_current->Mutex);
        m_current->Owner = nullptr;
    }
    m_current->Cancelled = true;
    m_current.reset();
}

bool TTimelineReader::WaitForAll(int boundMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (s_running.load() > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return s_running.load() == 0;
}

// The reader and its thread: the thread reports to Owner only while it is set.
struct TServerConfigReader::TShared {
    std::mutex Mutex;
    TServerConfigReader* Owner = nullptr;
    std::atomic<bool> Cancelled{false};   // the reader is gone: nobody wants the answer
};

TServerConfigReader::TServerConfigReader(QObject* parent)
    : QObject(parent), m_shared(std::make_shared<TShared>())
{
    m_shared->Owner = this;
}

TServerConfigReader::~TServerConfigReader()
{
    m_shared->Cancelled = true;
    std::lock_guard<std::mutex> lock(m_shared->Mutex);
    m_shared->Owner = nullptr;
}

void TServerConfigReader::Start(const TServiceAccount& account, const TReadBounds& bounds)
{
    ++TTimelineReader::s_running;
    TReadBounds cancellable = bounds;
    cancellable.Cancelled = &m_shared->Cancelled;
    std::thread([shared = m_shared, account, cancellable] {
        TServerConfig config = ReadServerConfig(account, cancellable);
        // Who the account is, for the statuses of its own: one more small read, asked once.
        if (!cancellable.Cancelled->load())
            config.ScreenName = ReadOwnScreenName(account, cancellable);
        {
            std::lock_guard<std::mutex> lock(shared->Mutex);
            // Queued to the owner's thread; dropped with the owner if it goes first.
            if (TServerConfigReader* owner = shared->Owner)
                QMetaObject::invokeMethod(owner, [owner, config] { Q_EMIT owner->Finished(config); },
                                          Qt::QueuedConnection);
        }
        --TTimelineReader::s_running;
    }).detach();
}
