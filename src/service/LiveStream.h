#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineStatus.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class THttpCli;
class TEventStreamDevice;
class TTimelineFeed;
struct THttpCliResult;

// The account's live stream, where its server offers one: new statuses go into the
// friends feed and mentions into the mentions feed as they are posted, between the
// reloads, which go on as always. It starts once the friends feed has read; when the
// server refuses it, it breaks, or it goes quiet past two heartbeats, the reloads alone
// keep the lists fresh and the stream is tried again later. Accounts whose server has no
// such stream never open one.
class TLiveStream : public QObject {
    Q_OBJECT
public:
    TLiveStream(std::function<TServiceAccount()> account, TTimelineFeed* friends, TTimelineFeed* mentions,
                QObject* parent = nullptr);
    ~TLiveStream() override;

    // The server's heartbeat; the stream is taken for dead after two of them without a byte.
    int HeartbeatMs = 15000;
    // The wait before trying again after a stream that was up broke; after a refusal the
    // wait doubles up to RetryMaxMs.
    int RetryMs = 60000;
    int RetryMaxMs = 30 * 60000;

    // Opens the stream for the account as it is now, unless it is open (or waiting to be
    // tried again) for that same account.
    void Start();
    void Stop();
    bool Live() const { return m_live; }

Q_SIGNALS:
    // The stream came up, or went down and the reloads alone carry on.
    void LiveChanged(bool live);

private:
    void connectNow();
    void received();
    void ended(const THttpCliResult& result);
    void goDown(const QString& why, bool refused);

    std::function<TServiceAccount()> m_account;
    TTimelineFeed* m_friends;
    TTimelineFeed* m_mentions;
    THttpCli* m_client;
    std::unique_ptr<TEventStreamDevice> m_device;
    TServiceAccount m_streamed;     // whom the open (or waiting) stream is for
    bool m_open = false;            // a request runs, or a retry is due
    bool m_live = false;
    int m_refusedWait = 0;
    QTimer m_quiet;
    QTimer m_retry;
};
