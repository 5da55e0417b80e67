#include "service/ServicePost.h"

#include "service/FediverseTalk.h"
#include "text/Logging.h"
#include "text/Utf8tosjis.h"

#include <QCoreApplication>
#include <QLoggingCategory>

THttpCliRequest ServicePostRequest(const TServiceAccount& account, const QByteArray& url,
                                   const QByteArray& body, const QByteArray& contentType)
{
    THttpCliRequest request;
    request.URL = url;
    request.Body = body;
    request.Connection = "close";
    request.ReplyStream = nullptr;
    request.ContentTypePost = contentType;
    request.RequestVer = "1.1";
    request.ServerAuth = httpAuthBasic;
    request.Username = account.AccountName.toUtf8();
    request.Password = account.Password.toUtf8();
    request.AcceptLanguage = "ja,en,fr";
    request.Network = account.Network;
    return request;
}

QByteArray StatusUpdateText(const QString& text)
{
    // The text box holds a break as "\n"; the service has always received CR LF, with
    // the first break of the text dropped.
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QByteArray bytes = crlf.toUtf8();
    ReplaceFirst(bytes, "\n", "");
    ReplaceFirst(bytes, "\r", "");
    return bytes;
}

QByteArray StatusUpdateBody(const QByteArray& sentText, const QString& inReplyToId)
{
    QByteArray body = "status=" + FormEncode(sentText);
    if (IsStatusId(inReplyToId))
        body += "&in_reply_to_status_id=" + inReplyToId.toLatin1();
    return body + "&source=brimlark";
}

TPostJob* StartStatusPost(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody)
{
    if (account.Family == TServiceFamily::Fediverse)
        return StartClientApiStatus(client, account, formBody);
    const QByteArray url = (account.ApiBase + QStringLiteral("/statuses/update.xml")).toUtf8();
    return TPostJob::Begin(client,
                           TPostJob::TStep{ServicePostRequest(account, url, formBody, "application/x-www-form-urlencoded"), url});
}

QByteArray StatusPostBody(const TServiceAccount& account, const QString& typed, const QString& inReplyToId)
{
    if (account.Family == TServiceFamily::Fediverse)
        return ClientApiStatusBody(typed, inReplyToId);
    return StatusUpdateBody(StatusUpdateText(typed), inReplyToId);
}

TStatusLength MeasureStatus(const TServiceAccount& account, const QString& typed, std::optional<int> linkLength)
{
    if (account.Family == TServiceFamily::Fediverse) {
        const int length = ClientApiStatusLength(typed, linkLength);
        return {length, length};
    }
    // The text box holds a break as one "\n"; the count sees it as CR LF.
    return {int(typed.size() + typed.count(QLatin1Char('\n'))), int(QString::fromUtf8(StatusUpdateText(typed)).size())};
}

std::optional<int> UnpublishedTextLimit(const TServiceAccount& account)
{
    if (account.Family == TServiceFamily::Fediverse)
        return 500;
    return std::nullopt;
}

bool IsStatusId(const QString& id)
{
    if (id.isEmpty())
        return false;
    for (QChar c : id) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

bool IsServiceStatusId(const TServiceAccount& account, const QString& id)
{
    return account.Family == TServiceFamily::Fediverse ? !id.isEmpty() : IsStatusId(id);
}

namespace {

std::optional<TPostJob::TStep> FavoriteStepTo(const TServiceAccount& account, const QString& path,
                                              const QString& statusId)
{
    if (!IsStatusId(statusId))
        return std::nullopt;
    const QString url = account.ApiBase + path;
    qCDebug(lcBrimlarkDebug).noquote() << url;
    return TPostJob::TStep{ServicePostRequest(account, url.toUtf8(), "id=" + statusId.toLatin1(), "text/html"),
                           url.toUtf8()};
}

} // namespace

std::optional<TPostJob::TStep> FavoriteByIdStep(const TServiceAccount& account, const QString& statusId)
{
    return FavoriteStepTo(account, QStringLiteral("/favorites/create.xml"), statusId);
}

std::optional<TPostJob::TStep> FavoriteStep(const TServiceAccount& account, const QString& statusId)
{
    return FavoriteStepTo(account, QStringLiteral("/favorites/create/") + statusId + QStringLiteral(".xml"), statusId);
}

TPostJob* StartFavoriteById(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    return TPostJob::Begin(client, FavoriteByIdStep(account, statusId));
}

TPostJob* StartFavorite(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    if (account.Family == TServiceFamily::Fediverse)
        return TPostJob::Begin(client, ClientApiFavoriteStep(account, statusId));
    return TPostJob::Begin(client, FavoriteStep(account, statusId));
}

TPostJob* StartRetweet(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    if (account.Family == TServiceFamily::Fediverse)
        return TPostJob::Begin(client, ClientApiReblogStep(account, statusId));
    if (!IsStatusId(statusId))
        return TPostJob::Begin(client, std::nullopt);
    const QString url = account.ApiBase + QStringLiteral("/statuses/retweet/") + statusId + QStringLiteral(".xml");
    qCDebug(lcBrimlarkDebug).noquote() << url;
    return TPostJob::Begin(client, TPostJob::TStep{ServicePostRequest(account, url.toUtf8(), QByteArray(),
                                                                      "application/x-www-form-urlencoded"),
                                                   url.toUtf8()});
}

QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase)
{
    return {QStringLiteral("Post Failed ! StatusCode   = %1").arg(statusCode),
            QStringLiteral("ReasonPhrase = ") + QString::fromUtf8(reasonPhrase)};
}

QStringList PostFailureLines(const TPostOutcome& outcome)
{
    if (outcome.IsAccepted())
        return {};
    if (outcome.Kind == TPostOutcome::ConnectionFailure)
        return outcome.NoReplyLine.isEmpty() ? QStringList() : QStringList{outcome.NoReplyLine};
    if (outcome.Kind == TPostOutcome::NotStatus) {
        const QString status = QString::number(outcome.StatusCode)
                               + (outcome.ReasonPhrase.isEmpty() ? QString() : u' ' + QString::fromUtf8(outcome.ReasonPhrase));
        return {QCoreApplication::translate("PostOutcome", "サーバーの応答がつぶやきではありません: %1").arg(status)};
    }
    QStringList lines = PostFailureLines(outcome.StatusCode, outcome.ReasonPhrase);
    // The service's own words say what to change; they come last, so the status bar shows them.
    if (!outcome.ServerText.isEmpty())
        lines << QCoreApplication::translate("PostOutcome", "サーバーのメッセージ: %1").arg(outcome.ServerText);
    return lines;
}
