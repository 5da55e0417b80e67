#include "service/FediverseTalk.h"

#include "service/ServicePost.h"
#include "text/Logging.h"
#include "text/Utf8tosjis.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QUuid>

#include <vector>

namespace {

// The keys of posts not yet known to have arrived, newest last. A post the user sends
// again unchanged after a lost answer finds its key here; an accepted one leaves.
class TPendingPosts {
public:
    QByteArray KeyFor(const QByteArray& identity)
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& [known, key] : m_keys) {
            if (known == identity)
                return key;
        }
        if (m_keys.size() >= kKept)
            m_keys.erase(m_keys.begin());
        const QByteArray key = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        m_keys.emplace_back(identity, key);
        return key;
    }
    void Arrived(const QByteArray& identity)
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_keys, [&identity](const auto& entry) { return entry.first == identity; });
    }

private:
    static constexpr std::size_t kKept = 16;
    QMutex m_mutex;
    std::vector<std::pair<QByteArray, QByteArray>> m_keys;
};

TPendingPosts& PendingPosts()
{
    static TPendingPosts posts;
    return posts;
}

QByteArray PostIdentity(const TServiceAccount& account, const QByteArray& formBody)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(account.ApiBase.toUtf8());
    hash.addData(QByteArrayView("\n", 1));
    hash.addData(account.AccountName.toUtf8());
    hash.addData(QByteArrayView("\n", 1));
    hash.addData(formBody);
    return hash.result();
}

std::optional<TPostJob::TStep> StatusActionStep(const TServiceAccount& account, const QString& statusId,
                                                const char* action)
{
    if (statusId.isEmpty())
        return std::nullopt;
    // Ids are the server's own strings: encoded, none can reach another path.
    const QByteArray url = account.ApiBase.toUtf8() + "/api/v1/statuses/" + QUrl::toPercentEncoding(statusId) + '/'
                           + action;
    qCDebug(lcBrimlarkDebug).noquote() << url;
    return TPostJob::TStep{ClientApiRequest(account, url, QByteArray()), url};
}

} // namespace

THttpCliRequest ClientApiRequest(const TServiceAccount& account, const QByteArray& url, const QByteArray& body)
{
    THttpCliRequest request = ServicePostRequest(account, url, body, "application/x-www-form-urlencoded");
    request.Accept = "application/json";
    if (!account.Token.isEmpty()) {
        request.ServerAuth = httpAuthNone;
        request.Username.clear();
        request.Password.clear();
        request.Headers.append({"Authorization", "Bearer " + account.Token.toUtf8()});
    }
    return request;
}

QByteArray ClientApiStatusBody(const QString& typed, const QString& inReplyToId)
{
    QByteArray body = "status=" + FormEncode(typed.toUtf8());
    if (!inReplyToId.isEmpty())
        body += "&in_reply_to_id=" + FormEncode(inReplyToId.toUtf8());
    return body;
}

TPostJob* StartClientApiStatus(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody)
{
    const QByteArray url = account.ApiBase.toUtf8() + "/api/v1/statuses";
    const QByteArray identity = PostIdentity(account, formBody);
    THttpCliRequest request = ClientApiRequest(account, url, formBody);
    request.Headers.append({"Idempotency-Key", PendingPosts().KeyFor(identity)});
    return TPostJob::Begin(client, TPostJob::TStep{request, url},
                           [identity](const TPostOutcome& outcome) -> std::optional<TPostJob::TStep> {
        if (outcome.IsAccepted())
            PendingPosts().Arrived(identity);
        return std::nullopt;
    });
}

std::optional<TPostJob::TStep> ClientApiFavoriteStep(const TServiceAccount& account, const QString& statusId)
{
    return StatusActionStep(account, statusId, "favourite");
}

std::optional<TPostJob::TStep> ClientApiReblogStep(const TServiceAccount& account, const QString& statusId)
{
    return StatusActionStep(account, statusId, "reblog");
}

int ClientApiStatusLength(const QString& typed, std::optional<int> linkLength)
{
    // A web address with its scheme, without the punctuation that ends a sentence.
    static const QRegularExpression link(QStringLiteral("https?://[^\\s]*[^\\s.,:;!?'\")\\]]"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString text = typed;
    if (linkLength)
        text.replace(link, QString(*linkLength, u'x'));
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (graphemes.toNextBoundary() > 0)
        ++count;
    return count;
}
