// From a post on the local service to its row in the friends list: pushed by the live
// stream, against the same post found by the reload timer's polling, in one run. The
// service is the local one's Mastodon face, read through the program's own source.

#include "BenchRatio.h"
#include "http/HttpCli.h"
#include "service/LiveStream.h"
#include "service/ServicePost.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>


#include <functional>
#include <memory>

namespace {

// The reload timer's interval while polling; the program's own is a minute.
constexpr int kPollMs = 5000;

constexpr char kToken[] = "bench-token-0123456789abcdef";

// The local service with its fediverse face, on a port of its own, for one benchmark.
class Service {
public:
    Service()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(BRIMLARK_LOCALSERVICE),
                        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                         m_dir.filePath(QStringLiteral("bench.sqlite")), QStringLiteral("--seed"),
                         QStringLiteral("--flavour"), QStringLiteral("mastodon"), QStringLiteral("--token"),
                         QStringLiteral("demo:") + kToken, QStringLiteral("--heartbeat-ms"), QStringLiteral("1000")});
        if (m_process.waitForStarted(10000) && m_process.waitForReadyRead(20000))
            m_port = m_process.readLine().trimmed().toInt();
    }
    ~Service()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    bool Running() const { return m_port > 0; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
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

bool InList(const TTimelineModel* model, const QString& text)
{
    for (int i = 0; i < model->rowCount(); ++i) {
        if (model->At(i).Text == text)
            return true;
    }
    return false;
}

void PostToRow(benchmark::State& state, bool live)
{
    Service service;
    if (!service.Running()) {
        state.SkipWithError("the local service did not start");
        return;
    }
    TServiceAccount account(service.Base(), QStringLiteral("demo"), QString(), {});
    account.Family = TServiceFamily::Fediverse;
    account.Token = QString::fromLatin1(kToken);
    const auto accountOf = [account] { return account; };
    TSeenStatuses seen;
    TTimelineFeed friends(MakeTimelineSource(TTimeline::Friends, accountOf, {}, nullptr, nullptr), &seen);
    TTimelineFeed mentions(MakeTimelineSource(TTimeline::Mentions, accountOf, {}, nullptr, nullptr), &seen);
    std::unique_ptr<TLiveStream> stream;
    if (live)
        stream = std::make_unique<TLiveStream>(accountOf, &friends, &mentions);
    QTimer reload;
    QObject::connect(&reload, &QTimer::timeout, &friends, [&friends] { friends.Start(TFeedRead::Reload, false); });
    reload.start(kPollMs);
    friends.Start(TFeedRead::StartUp, false);
    // The start-up read, and the stream coming up after it.
    QElapsedTimer waited;
    waited.start();
    while ((friends.Reading() || (live && !stream->Live())) && waited.elapsed() < 10000) {
        QEventLoop pause;
        QTimer::singleShot(50, &pause, &QEventLoop::quit);
        pause.exec();
    }
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
        const QString text = QStringLiteral("bench %1 %2").arg(live ? QStringLiteral("live") : QStringLiteral("poll")).arg(++n);
        bool posted = false;
        TPostJob* job = StartStatusPost(client, account, StatusPostBody(account, text));
        QObject::connect(job, &TPostJob::Finished, friends.Model(), [&posted] { posted = true; });
        // The post has ended and its status is in the list.
        if (!WaitFor([&] { return posted && InList(friends.Model(), text); }, friends.Model(), job)) {
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
