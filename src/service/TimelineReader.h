#pragma once

#include "service/ServerConfig.h"
#include "service/TimelineRead.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <optional>

class QEventLoop;

// Reads timeline pages on a thread of their own and waits for each while the calling
// thread's event loop keeps running, so a window goes on painting, moving and closing
// during a slow read. The read keeps its own bounds; the wait has none of its own.
class TTimelineReader : public QObject {
    Q_OBJECT
public:
    explicit TTimelineReader(QObject* parent = nullptr);
    ~TTimelineReader() override;

    // The page, or nothing when the wait was abandoned (Abandon, or the application
    // leaving its event loops). One read at a time: a call during a read returns
    // nothing at once and leaves that read alone.
    std::optional<TTimelinePage> Read(const TServiceAccount& account, int page, const TReadBounds& bounds);

    // Starts that read now, without waiting: the Read that asks for the same page of the
    // same account with the same bounds takes its result (waiting for it, if need be), so
    // a start-up read overlaps with building the window. Any other Read leaves it to end
    // unseen. Ignored while a read is waited for.
    void Prefetch(const TServiceAccount& account, int page, const TReadBounds& bounds);

    // Ends the running wait at once; the read finishes unseen and its page is dropped.
    void Abandon();
    bool Busy() const { return m_loop != nullptr; }

    // Reads still running on their threads in this process, abandoned ones included.
    static int Running() { return s_running.load(); }

private:
    struct TShared;
    struct TStarted;
    static std::shared_ptr<TShared> Start(const TServiceAccount& account, int page, const TReadBounds& bounds);
    std::unique_ptr<TStarted> m_prefetched;
    QEventLoop* m_loop = nullptr;
    bool m_abandoned = false;
    static std::atomic<int> s_running;
    friend class TServerConfigReader;
};

// Reads the server's configuration on a thread of its own and reports it through
// Finished on the thread that started it; nothing is reported once the reader is gone.
// Counts in TTimelineReader::Running() while it runs.
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
