#include "service/PostJob.h"

#include "http/UrlText.h"
#include "service/ReadOutcome.h"
#include "text/Logging.h"

#include <QLoggingCategory>

namespace {

TReadFailure FailureOf(THttpCliFailure why)
{
    switch (why) {
    case THttpCliFailure::Connection: return TReadFailure::Connection;
    case THttpCliFailure::Tls: return TReadFailure::Tls;
    case THttpCliFailure::Proxy: return TReadFailure::Proxy;
    case THttpCliFailure::Transfer: return TReadFailure::Transfer;
    default: return TReadFailure::None;
    }
}

} // namespace

TPostOutcome PostOutcomeOf(const THttpCliResult& result, const QByteArray& url)
{
    TPostOutcome outcome;
    // A proxy's 407 is the proxy's refusal, not the service's answer about the account.
    const bool answered = !result.NoReply && result.Why != THttpCliFailure::Proxy;
    if (result.Accepted()) {
        outcome.Kind = TPostOutcome::Accepted;
    } else {
        outcome.Kind = answered ? TPostOutcome::HttpFailure : TPostOutcome::ConnectionFailure;
        qCInfo(lcService).noquote() << "post not accepted:" << result.StatusCode
                                    << (result.Failed ? result.ErrorMessage : QString::fromUtf8(result.ReasonPhrase));
    }
    // A failure that raised reports its own code and text, as the status lines always have.
    outcome.StatusCode = result.Failed ? result.ErrorCode : result.StatusCode;
    outcome.ReasonPhrase = result.Failed ? result.ErrorMessage.toUtf8() : result.ReasonPhrase;
    if (outcome.Kind == TPostOutcome::ConnectionFailure) {
        const THttpUrl target = SplitUrl(url);
        const QString where = QString::fromUtf8(Authority(target.Scheme, target.Host, target.Port));
        // A proxy that refused is named with its status, as a read names it.
        const bool proxyStatus = result.Why == THttpCliFailure::Proxy && result.StatusCode >= 100 && result.StatusCode != 404;
        const QString reason = proxyStatus ? QString::number(result.StatusCode) + u' ' + QString::fromUtf8(result.ReasonPhrase)
                                           : QString::fromUtf8(outcome.ReasonPhrase);
        outcome.NoReplyLine = NoReplyLine(FailureOf(result.Why), where, reason.trimmed());
    }
    return outcome;
}

TPostJob::TPostJob(THttpCli& client, TNext next)
    : QObject(&client)
    , m_client(&client)
    , m_next(std::move(next))
{
}

TPostJob* TPostJob::Begin(THttpCli& client, std::optional<TStep> first, TNext next)
{
    auto* job = new TPostJob(client, std::move(next));
    if (first)
        job->send(*first);
    else
        job->m_refused = TPostOutcome{};
    if (job->m_refused) {
        // Whoever started the job connects to it first.
        QMetaObject::invokeMethod(job, [job] {
            if (!job->m_done)
                job->finish(*job->m_refused);
        }, Qt::QueuedConnection);
    }
    return job;
}

void TPostJob::send(const TStep& step)
{
    m_url = step.Url;
    THttpCliResult refusal;
    if (!m_client->Start(step.Request, &refusal)) {
        m_refused = PostOutcomeOf(refusal, step.Url);
        return;
    }
    m_sending = true;
    connect(m_client, &THttpCli::Finished, this, &TPostJob::stepEnded);
}

void TPostJob::stepEnded(const THttpCliResult& result)
{
    // The client's next report after a Start it accepted is always that request's.
    disconnect(m_client, &THttpCli::Finished, this, &TPostJob::stepEnded);
    m_sending = false;
    const TPostOutcome outcome = PostOutcomeOf(result, m_url);
    if (!m_aborting && m_next) {
        if (const std::optional<TStep> step = m_next(outcome)) {
            send(*step);
            if (m_sending)
                return;
            finish(*m_refused);
            return;
        }
    }
    finish(outcome);
}

void TPostJob::Abort()
{
    if (m_done)
        return;
    m_aborting = true;
    if (m_sending)
        m_client->Abort();  // reports through stepEnded before it returns
    else if (m_refused)
        finish(*m_refused);
}

void TPostJob::finish(const TPostOutcome& outcome)
{
    m_done = true;
    deleteLater();
    Q_EMIT Finished(outcome);
}
