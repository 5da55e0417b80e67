#pragma once

#include "service/ServerConfig.h"
#include "service/TimelineRead.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class TBlockingHttpClient;

// Reads timeline pages on a thread of their own and reports each through PageRead on the
// thread that started it, so a window goes on painting, moving and closing during a slow
// read and continues in a slot. The read keeps its own bounds. The pages one reader reads
// share its client, and so its kept connection: the client goes to the thread of each
// read and comes back with its page (a read abandoned keeps it, and the next starts anew).
class TTimelineReader : public QObject {
    Q_OBJECT
public:
    explicit TTimelineReader(QObject* parent = nullptr);
    ~TTimelineReader() override;

    // Starts reading the page; PageRead reports it. One read at a time: false, and
    // nothing started, while one runs.
    bool Start(const TServiceAccount& account, int page, const TReadBounds& bounds,
               TTimeline timeline = TTimeline::Friends);
    // A read of the caller's own: read runs on the read's thread with the reader's client
    // and bounds that the reader can call off, and what it returns is reported.
    using TPageJob = std::function<TTimelinePage(TBlockingHttpClient& client, const TReadBounds& bounds)>;
    bool Start(TPageJob read, const TReadBounds& bounds);

    // Starts that read now, with nobody to report to yet: the Start that asks for the
    // same page of the same account with the same bounds takes it over, so a start-up
    // read overlaps with building the window. Any other Start leaves it to end unseen.
    // Ignored while a read runs. The fediverse has no page numbers: page 1 is its home
    // timeline's newest page, the only one read ahead, taken with TakeReadAhead.
    void Prefetch(const TServiceAccount& account, int page, const TReadBounds& bounds);
    // Follows the read started ahead for that page when there is one: true, and it is
    // reported as any Start's.
    bool TakeReadAhead(const TServiceAccount& account, int page, const TReadBounds& bounds);

    // Drops the running read: it finishes unseen on its thread and is never reported.
    void Abandon();
    bool Busy() const { return m_current != nullptr; }

    // Reads still running on their threads in this process, abandoned ones included.
    static int Running() { return s_running.load(); }
    // Waits up to boundMs for every read thread to end (abandoned reads end soon after
    // being called off); true when none is left.
    static bool WaitForAll(int boundMs);

Q_SIGNALS:
    void PageRead(const TTimelinePage& page);

private:
    struct TShared;
    struct TStarted;
    static std::shared_ptr<TShared> Launch(TPageJob read, const TReadBounds& bounds,
                                           std::unique_ptr<TBlockingHttpClient> client);
    static TPageJob NumberedPage(const TServiceAccount& account, int page, TTimeline timeline);
    void follow(std::shared_ptr<TShared> shared);
    void deliver(quint64 ticket);

    std::unique_ptr<TStarted> m_prefetched;
    std::shared_ptr<TShared> m_current;
    std::unique_ptr<TBlockingHttpClient> m_client;  // between reads; none while one runs
    quint64 m_ticket = 0;
    static std::atomic<int> s_running;
    friend class TServerConfigReader;
};

// Reads the server's configuration and the account's own screen name on a thread of its
// own and reports both through Finished on the thread that started it; nothing is
// reported once the reader is gone. Counts in TTimelineReader::Running() while it runs.
class TServerConfigReader : public QObject {
    Q_OBJECT
public:
    explicit TServerConfigReader(QObject* parent = nullptr);
    ~TServerConfigReader() override;

    void Start(const TServiceAccount& account, const TReadBounds& bounds);

Q_SIGNALS:
    void Finished(const TServerConfig& config);

private:
    struct TShared;
    std::shared_ptr<TShared> m_shared;
};
