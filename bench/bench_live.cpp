// From a post to its row in the friends list: pushed by the live stream, against the same
// post found by the reload timer's polling, in one run. The peer is a small stand-in for
// a fediverse server on loopback: it takes posts, serves the home timeline newest first,
// and writes each new status to the streams open at that moment.

#include "BenchRatio.h"
#include "LoopbackListener.h"
#include "http/HttpCli.h"
#include "service/FediverseRead.h"
#include "service/LiveStream.h"
#include "service/ServicePost.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineSource.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The reload timer's interval while polling; the program's own is a minute.
constexpr int kPollMs = 5000;

class Peer {
public:
    Peer()
    {
        m_fd = ListenOnLoopback(&m_port);
        m_accept = std::thread([this] { acceptLoop(); });
    }
    ~Peer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_accept.join();
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread& t : m_threads)
            t.join();
        for (int fd : m_open)
            ::close(fd);
        ::close(m_fd);
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString NextId() const
    {
        std::lock_guard lock(m_mutex);
        return QString::number(m_statuses.size() + 1);
    }

private:
    static bool sendAll(int fd, const QByteArray& bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }
    static QByteArray reply(const QByteArray& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    void acceptLoop()
    {
        while (!m_stop) {
            const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            std::lock_guard lock(m_mutex);
            m_open.push_back(fd);
            m_threads.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        QByteArray in;
        char buf[4096];
        qsizetype headEnd = -1;
        while ((headEnd = in.indexOf("\r\n\r\n")) < 0) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            in.append(buf, n);
        }
        const QByteArray head = in.left(headEnd);
        if (head.startsWith("GET /api/v1/streaming/user")) {
            std::unique_lock lock(m_mutex);
            if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\n:)\n"))
                return;
            m_streams.push_back(fd);
            lock.unlock();
            while (::recv(fd, buf, sizeof buf, 0) > 0) {
            }
            return;
        }
        if (head.startsWith("GET /api/v1/timelines/home")) {
            QJsonArray page;
            std::lock_guard lock(m_mutex);
            for (auto status = m_statuses.crbegin(); status != m_statuses.crend() && page.size() < 40; ++status)
                page.append(*status);
            sendAll(fd, reply(QJsonDocument(page).toJson(QJsonDocument::Compact)));
            return;
        }
        // A post: its form body is read and the status made from it.
        const qsizetype lengthAt = head.toLower().indexOf("content-length:");
        const qsizetype length = lengthAt < 0 ? 0 : head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15).trimmed().toLongLong();
        while (in.size() < headEnd + 4 + length) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            in.append(buf, n);
        }
        std::lock_guard lock(m_mutex);
        QJsonObject status{{"id", QString::number(m_statuses.size() + 1)},
                           {"content", QStringLiteral("<p>bench</p>")},
                           {"account", QJsonObject{{"id", "1"}, {"acct", "alice"}, {"display_name", "Alice"}}}};
        m_statuses.push_back(status);
        const QByteArray json = QJsonDocument(status).toJson(QJsonDocument::Compact);
        sendAll(fd, reply(json));
        for (int stream : m_streams)
            sendAll(stream, "event: update\ndata: " + json + "\n\n");
    }

    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::thread m_accept;
    std::vector<std::thread> m_threads;
    std::vector<int> m_open;
    std::vector<int> m_streams;
    std::vector<QJsonObject> m_statuses;
};

// The newest page of the home timeline, read on the event loop.
class HomeSource : public TTimelineSource {
public:
    explicit HomeSource(QString base) : m_base(std::move(base)) {}
    void Read(const TPageRequest&) override
    {
        m_body.setData(QByteArray());
        m_body.open(QIODevice::WriteOnly);
        THttpCliRequest request;
        request.Method = httpGET;
        request.URL = m_base.toUtf8() + "/api/v1/timelines/home?limit=40";
        request.RequestVer = "1.1";
        request.ReplyStream = &m_body;
        connect(&m_client, &THttpCli::Finished, this, [this] {
            m_client.disconnect(this);
            m_body.close();
            TTimelinePage page;
            page.Loaded = true;
            page.Rows = FediversePageRows(m_body.data(), TTimeline::Friends).Rows;
            Q_EMIT PageRead(page);
        });
        m_client.Start(request);
    }
    void Abandon() override {}

private:
    QString m_base;
    THttpCli m_client;
    QBuffer m_body;
};

// Runs the loop until done() holds, looked at whenever the list gains rows or the post ends.
bool WaitFor(const std::function<bool()>& done, TTimelineModel* model, TPostJob* job, int boundMs = 60000)
{
    QEventLoop loop;
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(model, &TTimelineModel::rowsInserted, &loop, check);
    QObject::connect(model, &TTimelineModel::modelReset, &loop, check);
    QObject::connect(job, &TPostJob::Finished, &loop, check, Qt::QueuedConnection);
    QTimer bound;
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(boundMs);
    if (!done())
        loop.exec();
    return done();
}

void PostToRow(benchmark::State& state, bool live)
{
    Peer peer;
    TSeenStatuses seen;
    TTimelineFeed friends(new HomeSource(peer.Base()), &seen);
    TTimelineFeed mentions(new HomeSource(peer.Base()), &seen);
    TServiceAccount account(peer.Base(), QStringLiteral("alice"), QString(), {});
    account.Family = TServiceFamily::Fediverse;
    account.Token = QStringLiteral("bench");
    std::unique_ptr<TLiveStream> stream;
    if (live) {
        stream = std::make_unique<TLiveStream>([account] { return account; }, &friends, &mentions);
    }
    QTimer reload;
    QObject::connect(&reload, &QTimer::timeout, &friends, [&friends] { friends.Start(TFeedRead::Reload, false); });
    reload.start(kPollMs);
    friends.Start(TFeedRead::StartUp, false);
    QEventLoop started;
    QTimer::singleShot(live ? 500 : 100, &started, &QEventLoop::quit);
    started.exec();
    if (live && !stream->Live()) {
        state.SkipWithError("the stream did not come up");
        return;
    }
    THttpCli client;
    int n = 0;
    // Posts come at any moment of the reload's interval, not just after a reload.
    QRandomGenerator phases(31);
    for (auto _ : state) {
        state.PauseTiming();
        QEventLoop idle;
        QTimer::singleShot(int(phases.bounded(kPollMs)), &idle, &QEventLoop::quit);
        idle.exec();
        state.ResumeTiming();
        const QString id = peer.NextId();
        bool posted = false;
        TPostJob* job = StartStatusPost(client, account, StatusPostBody(account, QStringLiteral("bench %1").arg(++n)));
        QObject::connect(job, &TPostJob::Finished, friends.Model(), [&posted] { posted = true; });
        // The post has ended and its status is in the list.
        if (!WaitFor([&] { return posted && friends.Model()->IndexOf(id) >= 0; }, friends.Model(), job)) {
            state.SkipWithError("the post never reached the list");
            return;
        }
    }
}

void BM_PostToRowLive(benchmark::State& state)
{
    PostToRow(state, true);
}

void BM_PostToRowLive_Baseline(benchmark::State& state)
{
    PostToRow(state, false);
}

BENCHMARK(BM_PostToRowLive)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PostToRowLive_Baseline)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return RunBenchmarksWithRatios(argc, argv);
}
