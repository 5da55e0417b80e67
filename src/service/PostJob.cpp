#include "service/PostJob.h"

#include "service/ReadOutcome.h"
#include "text/Logging.h"
#include "xml/XMLDoc.h"
#include "xml/XMLEncoding.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

// Keeps the first bytes of a reply body and counts the rest away: a status document is a
// few kilobytes, and a peer that sends more must not fill the memory.
class TReplyKeeper : public QIODevice {
public:
    static constexpr qsizetype kKept = 256 * 1024;

    TReplyKeeper() { open(QIODevice::WriteOnly); }
    QByteArray Body() const { return m_body; }
    bool Complete() const { return !m_cut; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        const qint64 room = kKept - m_body.size();
        m_body.append(data, qsizetype(std::min(size, room)));
        m_cut = m_cut || size > room;
        return size;
    }

private:
    QByteArray m_body;
    bool m_cut = false;
};

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

// The element's text or the JSON value's, on one line and within reason.
QString ServerWords(const QString& text)
{
    constexpr qsizetype kMost = 300;
    QString line = text.simplified();
    if (line.size() > kMost)
        line = line.left(kMost - 1) + QChar(0x2026);
    return line;
}

QString JsonErrorText(const QByteArray& body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    if (object.value(QLatin1String("error")).isString())
        return object.value(QLatin1String("error")).toString();
    // {"errors": [{"message": ...}]}
    const QJsonValue first = object.value(QLatin1String("errors")).toArray().first();
    return first.toObject().value(QLatin1String("message")).toString();
}

// The client API's Status: its id and the account that wrote it (a repeat is a Status too).
bool IsJsonStatus(const QByteArray& body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    return object.value(QLatin1String("id")).isString() && object.value(QLatin1String("account")).isObject();
}

QString XmlErrorText(TXMLNode* root)
{
    // GNU social's <hash>, Twitter's <errors>, Friendica's <status> with an <error> in it.
    const QString name = root ? root->LocalName() : QString();
    if (name != QLatin1String("hash") && name != QLatin1String("errors") && name != QLatin1String("status"))
        return QString();
    TXMLNode* error = root->ChildList()->FindByName(QStringLiteral("error"));
    return error ? error->ElementText() : QString();
}

void LogPostNotAccepted(const THttpCliResult& result)
{
    if (!result.Accepted())
        qCInfo(lcService).noquote() << "post not accepted:" << result.StatusCode
                                    << (result.Failed ? result.ErrorMessage : QString::fromUtf8(result.ReasonPhrase));
}

} // namespace

TPostOutcome PostOutcomeOf(const THttpCliResult& result, const QByteArray& url, const TNetworkOptions& network)
{
    TPostOutcome outcome;
    // A proxy's 407 is the proxy's refusal, not the service's answer about the account.
    const bool answered = !result.NoReply && result.Why != THttpCliFailure::Proxy;
    if (result.Accepted())
        outcome.Kind = TPostOutcome::Accepted;
    else
        outcome.Kind = answered ? TPostOutcome::HttpFailure : TPostOutcome::ConnectionFailure;
    // A failure that raised reports its own code and text, as the status lines always have.
    outcome.StatusCode = result.Failed ? result.ErrorCode : result.StatusCode;
    outcome.ReasonPhrase = result.Failed ? result.ErrorMessage.toUtf8() : result.ReasonPhrase;
    if (outcome.Kind == TPostOutcome::ConnectionFailure) {
        const QString where = ConnectionPlace(url, network);
        // A proxy that refused is named with its status, as a read names it.
        const bool proxyStatus = result.Why == THttpCliFailure::Proxy && result.StatusCode >= 100 && result.StatusCode != 404;
        const QString reason = proxyStatus ? QString::number(result.StatusCode) + u' ' + QString::fromUtf8(result.ReasonPhrase)
                                           : QString::fromUtf8(outcome.ReasonPhrase);
        outcome.NoReplyLine = NoReplyLine(FailureOf(result.Why), where, reason.trimmed());
    }
    return outcome;
}

void ReadReplyBody(TPostOutcome& outcome, const QByteArray& body, const QByteArray& contentType, bool complete)
{
    const bool accepted = outcome.Kind == TPostOutcome::Accepted;
    if (!accepted && outcome.Kind != TPostOutcome::HttpFailure)
        return;
    if (accepted && !complete) {
        outcome.Kind = TPostOutcome::NotStatus;
        return;
    }
    QString serverText;
    if (body.trimmed().startsWith('{')) {
        if (accepted && IsJsonStatus(body))
            return;
        serverText = accepted ? QString() : JsonErrorText(body);
    } else if (complete && !body.trimmed().isEmpty()) {
        try {
            TXMLDocument document;
            document.LoadFromText(body, CharsetOfContentType(contentType));
            TXMLNode* root = document.RootElement();
            if (accepted && root && root->LocalName() == QLatin1String("status"))
                return;
            serverText = accepted ? QString() : XmlErrorText(root);
        } catch (const std::exception&) {
            // Not XML: a web page or other text, which carries no words meant for the user.
        }
    }
    if (accepted) {
        qCInfo(lcService).noquote() << "post answered" << outcome.StatusCode << "without a status:" << body.size()
                                    << "bytes of" << (contentType.isEmpty() ? QByteArray("no stated type") : contentType);
        outcome.Kind = TPostOutcome::NotStatus;
        return;
    }
    outcome.ServerText = ServerWords(serverText);
}

TPostJob::TPostJob(THttpCli& client, TNext next)
    : QObject(&client)
    , m_client(&client)
    , m_next(std::move(next))
{
}

TPostJob::~TPostJob() = default;

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
    m_network = step.Request.Network;
    m_reply = std::make_unique<TReplyKeeper>();
    THttpCliRequest request = step.Request;
    request.ReplyStream = m_reply.get();
    THttpCliResult refusal;
    if (!m_client->Start(request, &refusal)) {
        LogPostNotAccepted(refusal);
        m_refused = PostOutcomeOf(refusal, step.Url, step.Request.Network);
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
    LogPostNotAccepted(result);
    TPostOutcome outcome = PostOutcomeOf(result, m_url, m_network);
    ReadReplyBody(outcome, m_reply->Body(), m_client->ContentType(), m_reply->Complete());
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
