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

TTimelineReader::TTimelineReader(QObject* parent)
    : QObject(parent)
{
}

TTimelineReader::~TTimelineReader()
{
    Abandon();
}

std::optional<TTimelinePage> TTimelineReader::Read(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    if (m_loop)
        return std::nullopt;
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
