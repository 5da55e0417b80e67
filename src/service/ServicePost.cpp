#include "service/ServicePost.h"

#include "text/Logging.h"
#include "text/Utf8tosjis.h"

#include <QLoggingCategory>

namespace {

TPostOutcome Outcome(const THttpCliResult& result)
{
    TPostOutcome outcome;
    if (result.Accepted()) {
        outcome.Kind = TPostOutcome::Accepted;
    } else {
        outcome.Kind = result.NoReply ? TPostOutcome::ConnectionFailure : TPostOutcome::HttpFailure;
        qCInfo(lcService).noquote() << "post not accepted:" << result.StatusCode
                                    << (result.Failed ? result.ErrorMessage : QString::fromUtf8(result.ReasonPhrase));
    }
    // A failure that raised reports its own code and text, as the status lines always have.
    outcome.StatusCode = result.Failed ? result.ErrorCode : result.StatusCode;
    outcome.ReasonPhrase = result.Failed ? result.ErrorMessage.toUtf8() : result.ReasonPhrase;
    return outcome;
}

} // namespace

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

TPostOutcome PostStatus(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody)
{
    const QByteArray url = (account.ApiBase + QStringLiteral("/statuses/update.xml")).toUtf8();
    return Outcome(client.Post(ServicePostRequest(account, url, formBody, "application/x-www-form-urlencoded")));
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

namespace {

TPostOutcome PostFavoriteTo(THttpCli& client, const TServiceAccount& account, const QString& path,
                            const QString& statusId)
{
    if (!IsStatusId(statusId))
        return {};
    const QString url = account.ApiBase + path;
    qCDebug(lcBrimlarkDebug).noquote() << url;
    return Outcome(client.Post(ServicePostRequest(account, url.toUtf8(), "id=" + statusId.toLatin1(), "text/html")));
}

} // namespace

TPostOutcome PostFavoriteById(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    return PostFavoriteTo(client, account, QStringLiteral("/favorites/create.xml"), statusId);
}

TPostOutcome PostFavorite(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    return PostFavoriteTo(client, account, QStringLiteral("/favorites/create/") + statusId + QStringLiteral(".xml"),
                          statusId);
}

TPostOutcome PostRetweet(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    if (!IsStatusId(statusId))
        return {};
    const QString url = account.ApiBase + QStringLiteral("/statuses/retweet/") + statusId + QStringLiteral(".xml");
    qCDebug(lcBrimlarkDebug).noquote() << url;
    return Outcome(client.Post(ServicePostRequest(account, url.toUtf8(), QByteArray(), "application/x-www-form-urlencoded")));
}

QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase)
{
    return {QStringLiteral("Post Failed ! StatusCode   = %1").arg(statusCode),
            QStringLiteral("ReasonPhrase = ") + QString::fromUtf8(reasonPhrase)};
}

QStringList PostFailureLines(const TPostOutcome& outcome)
{
    return PostFailureLines(outcome.StatusCode, outcome.ReasonPhrase);
}
