#include "service/ServicePost.h"

#include "http/UrlText.h"
#include "service/ReadOutcome.h"
#include "text/Logging.h"
#include "text/Utf8tosjis.h"

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

TPostOutcome Outcome(const THttpCliResult& result, const QByteArray& url)
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
    return Outcome(client.Post(ServicePostRequest(account, url, formBody, "application/x-www-form-urlencoded")), url);
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
    return Outcome(client.Post(ServicePostRequest(account, url.toUtf8(), "id=" + statusId.toLatin1(), "text/html")), url.toUtf8());
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
    return Outcome(client.Post(ServicePostRequest(account, url.toUtf8(), QByteArray(), "application/x-www-form-urlencoded")),
                   url.toUtf8());
}

QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase)
{
    return {QStringLiteral("Post Failed ! StatusCode   = %1").arg(statusCode),
            QStringLiteral("ReasonPhrase = ") + QString::fromUtf8(reasonPhrase)};
}

QStringList PostFailureLines(const TPostOutcome& outcome)
{
    if (outcome.Kind == TPostOutcome::ConnectionFailure)
        return outcome.NoReplyLine.isEmpty() ? QStringList() : QStringList{outcome.NoReplyLine};
    return PostFailureLines(outcome.StatusCode, outcome.ReasonPhrase);
}
