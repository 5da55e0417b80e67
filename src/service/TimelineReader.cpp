#include "service/TimelineReader.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <mutex>
#include <thread>

std::atomic<int> TTimelineReader::s_running{0};

// What the reading thread and the waiting one share. The thread may outlive the wait
// (and the reader), so it holds its own reference.
struct TTimelineReader::TShared {
    std::mutex Mutex;
    bool Done = false;
    TTimelinePage Page;
    QEventLoop* Loop = nullptr;   // set while someone waits; the thread wakes it
};

// A read started ahead of its Read: what it was started for, and its state.
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

std::shared_ptr<TTimelineReader::TShared> TTimelineReader::Start(const TServiceAccount& account, int page,
                                                                 const TReadBounds& bounds)
{
    auto shared = std::make_shared<TShared>();
    ++s_running;
    std::thread([shared, account, page, bounds] {
        TTimelinePage result = ReadTimelinePage(account, page, bounds);
        std::lock_guard<std::mutex> lock(shared->Mutex);
        shared->Page = std::move(result);
        shared->Done = true;
        if (shared->Loop)
            QMetaObject::invokeMethod(shared->Loop, "quit", Qt::QueuedConnection);
        --s_running;
    }).detach();
    return shared;
}

void TTimelineReader::Prefetch(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    if (m_loop)
        return;
    m_prefetched = std::make_unique<TStarted>(TStarted{account, page, bounds, Start(account, page, bounds)});
}

std::optional<TTimelinePage> TTimelineReader::Read(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    if (m_loop)
        return std::nullopt;
    const std::unique_ptr<TStarted> prefetched = std::move(m_prefetched);
    const std::shared_ptr<TShared> shared
        = prefetched && prefetched->Matches(account, page, bounds) ? prefetched->Shared : Start(account, page, bounds);

    QEventLoop loop;
    m_abandoned = false;
    {
        std::lock_guard<std::mutex> lock(shared->Mutex);
        if (!shared->Done)
            shared->Loop = &loop;
    }
    if (shared->Loop && !QCoreApplication::closingDown()) {
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    std::lock_guard<std::mutex> lock(shared->Mutex);
    shared->Loop = nullptr;
    if (m_abandoned || !shared->Done)
        return std::nullopt;
    return std::move(shared->Page);
}

void TTimelineReader::Abandon()
{
    if (!m_loop)
        return;
    m_abandoned = true;
    m_loop->quit();
}

// The reader and its thread: the thread reports to Owner only while it is set.
struct TServerConfigReader::TShared {
    std::mutex Mutex;
    TServerConfigReader* Owner = nullptr;
};

TServerConfigReader::TServerConfigReader(QObject* parent)
    : QObject(parent), m_shared(std::make_shared<TShared>())
{
    m_shared->Owner = this;
}

TServerConfigReader::~TServerConfigReader()
{
    std::lock_guard<std::mutex> lock(m_shared->Mutex);
    m_shared->Owner = nullptr;
}

void TServerConfigReader::Start(const TServiceAccount& account, const TReadBounds& bounds)
{
    ++TTimelineReader::s_running;
    std::thread([shared = m_shared, account, bounds] {
        const TServerConfig config = ReadServerConfig(account, bounds);
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
