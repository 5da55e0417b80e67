#include "service/LiveStream.h"

#include "http/HttpCli.h"
#include "service/FediverseRead.h"
#include "service/EventStream.h"
#include "service/FediverseTalk.h"
#include "service/TimelineFeed.h"
#include "text/Logging.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <algorithm>

// The reply body of the stream, read as it arrives. Only a body that is an event stream
// is read: a refusal's page is counted away.
class TEventStreamDevice : public QIODevice {
public:
    TEventStreamDevice(const THttpCli& client, std::function<void()> arrived)
        : m_client(client), m_arrived(std::move(arrived))
    {
        open(QIODevice::WriteOnly);
    }

    TEventStreamParser Parser;
    bool IsEventStream() const { return m_eventStream; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (!std::exchange(m_decided, true))
            m_eventStream = m_client.ContentType().startsWith("text/event-stream");
        if (m_eventStream && !Parser.Failed())
            Parser.Feed(QByteArrayView(data, size));
        m_arrived();
        return size;
    }

private:
    const THttpCli& m_client;
    std::function<void()> m_arrived;
    bool m_decided = false;
    bool m_eventStream = false;
};

namespace {

bool SameAccount(const TServiceAccount& a, const TServiceAccount& b)
{
    return a.ApiBase == b.ApiBase && a.Token == b.Token && a.AccountName == b.AccountName && a.Password == b.Password;
}

} // namespace

TLiveStream::TLiveStream(std::function<TServiceAccount()> account, TTimelineFeed* friends, TTimelineFeed* mentions,
                         QObject* parent)
    : QObject(parent), m_account(std::move(account)), m_friends(friends), m_mentions(mentions),
      m_client(new THttpCli(this))
{
    m_client->setObjectName(QStringLiteral("HttpCliStream"));
    m_client->Timeout = 0;  // a stream has no end; the heartbeats say whether it lives
    // Nor has its body: each event is bounded where it is read, and nothing is kept.
    m_client->ReplyLimits.MaxBodySize = qint64(1) << 60;
    connect(m_client, &THttpCli::Finished, this, &TLiveStream::ended);
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        qCInfo(lcService) << "live stream quiet for" << m_quiet.interval() << "ms";
        m_client->Abort();
    });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &TLiveStream::connectNow);
    // Once the friends list has been read, the account is known to work.
    connect(friends, &TTimelineFeed::ReadEnded, this, [this](const TFeedEnd& end) {
        if (end.Succeeded)
            Start();
    });
}

TLiveStream::~TLiveStream()
{
    m_open = false;
    m_client->disconnect(this);
    m_client->Abort();
}

void TLiveStream::Start()
{
    const TServiceAccount account = m_account ? m_account() : TServiceAccount();
    if (account.Family != TServiceFamily::Fediverse || !account.HasCredentials()) {
        Stop();
        return;
    }
    if (m_open && SameAccount(account, m_streamed))
        return;
    Stop();
    m_streamed = account;
    m_open = true;
    m_refusedWait = 0;
    connectNow();
}

void TLiveStream::Stop()
{
    m_open = false;
    m_retry.stop();
    m_quiet.stop();
    m_client->Abort();  // ended() sees the stream closed and leaves it so
    if (std::exchange(m_live, false))
        Q_EMIT LiveChanged(false);
}

void TLiveStream::connectNow()
{
    if (!m_open || m_client->Running())
        return;
    const QByteArray url = m_streamed.ApiBase.toUtf8() + "/api/v1/streaming/user";
    m_device = std::make_unique<TEventStreamDevice>(*m_client, [this] { received(); });
    THttpCliRequest request = ClientApiRequest(m_streamed, url, QByteArray());
    request.Method = httpGET;
    request.Accept = "text/event-stream";
    request.ReplyStream = m_device.get();
    THttpCliResult refusal;
    if (!m_client->Start(request, &refusal)) {
        goDown(refusal.ErrorMessage, true);
        return;
    }
    m_quiet.start(2 * HeartbeatMs);
}

void TLiveStream::received()
{
    m_quiet.start(2 * HeartbeatMs);
    if (!m_device->IsEventStream())
        return;
    if (!std::exchange(m_live, true)) {
        qCInfo(lcService) << "live stream up";
        m_refusedWait = 0;
        Q_EMIT LiveChanged(true);
    }
    for (const TServerEvent& event : m_device->Parser.TakeEvents()) {
        // An event's entity read as a page of one, so a pushed status is the row a read makes
        // of it; a notification other than a mention gives none.
        const bool update = event.Type == "update";
        if (!update && event.Type != "notification")
            continue;
        const TFediverseRows rows
            = FediversePageRows('[' + event.Data + ']', update ? TTimeline::Friends : TTimeline::Mentions);
        if (rows.Ok() && !rows.Rows.isEmpty())
            (update ? m_friends : m_mentions)->TakePushed(rows.Rows);
    }
    if (m_device->Parser.Failed()) {
        qCInfo(lcService).noquote() << "live stream refused:" << m_device->Parser.Error();
        // Not from inside the client's own reading.
        QMetaObject::invokeMethod(this, [this] {
            if (m_client->Running())
                m_client->Abort();
        }, Qt::QueuedConnection);
    }
}

void TLiveStream::ended(const THttpCliResult& result)
{
    m_quiet.stop();
    if (!m_open)
        return;
    const bool wasLive = m_live;
    const QString why = result.Failed ? result.ErrorMessage
                                      : QString::number(result.StatusCode) + u' ' + QString::fromUtf8(result.ReasonPhrase);
    goDown(why, !wasLive);
}

void TLiveStream::goDown(const QString& why, bool refused)
{
    // A stream that was up is tried again soon; one that never came up ever less often.
    int wait = RetryMs;
    if (refused) {
        m_refusedWait = m_refusedWait > 0 ? std::min(RetryMaxMs, 2 * m_refusedWait) : RetryMs;
        wait = m_refusedWait;
    }
    qCInfo(lcService).noquote() << "live stream" << (refused ? "not open:" : "ended:") << why << "- reloads only, next try in"
                                << wait << "ms";
    m_retry.start(wait);
    if (std::exchange(m_live, false))
        Q_EMIT LiveChanged(false);
}
