#include "service/FediverseRead.h"

#include "http/BlockingHttpClient.h"
#include "service/ServiceRead_p.h"
#include "text/Logging.h"
#include "xml/HtmlText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr int kPageLimit = 40;
// A timeline still being built is asked for again this often at most, each wait bounded,
// so a server that keeps answering 206 costs seconds, not the read's whole time.
constexpr int kRereads = 3;
constexpr int kLongestRereadWaitMs = 5000;
constexpr int kDefaultRereadWaitMs = 1000;

// Every notification type but the mention, for servers that ignore types[] or know only
// exclude_types[]. Only the common ones: a server may refuse a type it does not know,
// and the rows keep only mentions anyway.
const char* const kOtherNotificationTypes[] = {"follow", "follow_request", "favourite", "reblog",
                                               "poll", "status", "update"};

QString StringOf(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString();
}

QString NameOf(const QJsonObject& account)
{
    const QString display = StringOf(account, "display_name").trimmed();
    return display.isEmpty() ? StringOf(account, "username") : display;
}

// One status as a row; false with why when it has no id to stand for it.
bool StatusRow(const QJsonValue& value, TTimelineStatus& row, QString& error)
{
    if (!value.isObject()) {
        error = QStringLiteral("a status is not an object");
        return false;
    }
    QJsonObject status = value.toObject();
    const QJsonValue reblog = status.value(QLatin1String("reblog"));
    // A repeat: the row is the status repeated, marked with who repeated it.
    if (reblog.isObject()) {
        row.RepeatedBy = NameOf(status.value(QLatin1String("account")).toObject());
        status = reblog.toObject();
    }
    const QJsonValue id = status.value(QLatin1String("id"));
    if (!id.isString() || id.toString().isEmpty()) {
        error = QStringLiteral("a status has no id");
        return false;
    }
    row.Id = id.toString();
    const QJsonObject account = status.value(QLatin1String("account")).toObject();
    row.Name = NameOf(account);
    row.ScreenName = StringOf(account, "acct");
    row.Favorited = status.value(QLatin1String("favourited")).toBool() ? QStringLiteral("true") : QStringLiteral("false");
    row.InReplyToId = StringOf(status, "in_reply_to_id");
    row.ExternalUrl = StringOf(status, "url");
    if (row.ExternalUrl.isEmpty())
        row.ExternalUrl = StringOf(status, "uri");
    const QString text = StatusHtmlText(StringOf(status, "content"));
    const QString warning = StringOf(status, "spoiler_text").simplified();
    if (warning.isEmpty()) {
        row.Text = text;
    } else {
        row.Text = warning;
        row.Detail = text;
    }
    return true;
}

bool Cancelled(const TReadBounds& bounds)
{
    return bounds.Cancelled && bounds.Cancelled->load();
}

// Mastodon-Async-Refresh: id="...", retry=5, result_count=0 -> 5000.
int RereadWaitMs(const QByteArray& asyncRefresh)
{
    for (const QByteArray& part : asyncRefresh.split(',')) {
        const QByteArray item = part.trimmed();
        if (!item.startsWith("retry="))
            continue;
        bool ok = false;
        const int seconds = item.mid(6).toInt(&ok);
        if (ok && seconds >= 0)
            return std::min(seconds * 1000, kLongestRereadWaitMs);
    }
    return kDefaultRereadWaitMs;
}

// Sleeps in short steps so a read called off does not wait out the whole of it.
void WaitUnlessCancelled(int ms, const TReadBounds& bounds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Cancelled(bounds) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// The server's own words in a JSON error reply; empty for anything else (an HTML page).
QString ServerError(const QByteArray& body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    return ServiceRead::OneLine(object.value(QLatin1String("error")).toString()).left(300);
}

} // namespace

TFediverseRows FediversePageRows(const QByteArray& json, TTimeline timeline)
{
    TFediverseRows page;
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        page.Error = QStringLiteral("not JSON: %1 at %2").arg(parse.errorString()).arg(parse.offset);
        return page;
    }
    page.Parsed = true;
    if (!document.isArray()) {
        page.Error = QStringLiteral("not a list of statuses");
        return page;
    }
    const QJsonArray entries = document.array();
    page.Rows.reserve(entries.size());
    for (const QJsonValue entry : entries) {
        QJsonValue status = entry;
        QString pagingId;
        if (timeline == TTimeline::Mentions) {
            const QJsonObject notification = entry.toObject();
            pagingId = StringOf(notification, "id");
            if (pagingId.isEmpty()) {
                page.Error = QStringLiteral("a notification has no id");
                return page;
            }
            page.LastPagingId = pagingId;
            // Some servers send every type whatever was asked; a mention without its
            // status (deleted meanwhile) has nothing to show.
            status = notification.value(QLatin1String("status"));
            if (StringOf(notification, "type") != QLatin1String("mention") || !status.isObject())
                continue;
        } else {
            pagingId = StringOf(entry.toObject(), "id");
            page.LastPagingId = pagingId;
        }
        TTimelineStatus row;
        if (!StatusRow(status, row, page.Error))
            return page;
        page.Rows.append(std::move(row));
        page.PagingIds.append(pagingId);
    }
    return page;
}

QString FediverseTimelineAddress(const QString& origin, TTimeline timeline, const TFediverseQuery& query)
{
    QString address = origin
                    + (timeline == TTimeline::Mentions ? QStringLiteral("/api/v1/notifications")
                                                       : QStringLiteral("/api/v1/timelines/home"))
                    + QStringLiteral("?limit=%1").arg(kPageLimit);
    if (timeline == TTimeline::Mentions) {
        address += QStringLiteral("&types[]=mention");
        for (const char* type : kOtherNotificationTypes)
            address += QStringLiteral("&exclude_types[]=") + QLatin1String(type);
    }
    // Opaque ids go as they came, encoded so that none can change the request.
    if (!query.MaxId.isEmpty())
        address += QStringLiteral("&max_id=") + QString::fromLatin1(QUrl::toPercentEncoding(query.MaxId));
    else if (!query.SinceId.isEmpty())
        address += QStringLiteral("&since_id=") + QString::fromLatin1(QUrl::toPercentEncoding(query.SinceId));
    return address;
}

QString NextMaxIdOfLink(const QByteArray& link)
{
    // <address>; rel="next", <address>; rel="prev": an address may hold commas, so each
    // entry is taken from its angle brackets.
    qsizetype at = 0;
    while (true) {
        const qsizetype open = link.indexOf('<', at);
        const qsizetype close = open < 0 ? -1 : link.indexOf('>', open);
        if (close < 0)
            return QString();
        const qsizetype nextOpen = link.indexOf('<', close);
        const QByteArray params = link.mid(close + 1, nextOpen < 0 ? -1 : nextOpen - close - 1);
        bool next = false;
        for (const QByteArray& param : params.split(';')) {
            QByteArray p = param.trimmed();
            if (p.endsWith(','))
                p.chop(1);
            if (p.toLower().startsWith("rel=")) {
                const QList<QByteArray> rels = p.mid(4).replace('"', "").split(' ');
                next = next || rels.contains("next");
            }
        }
        if (next) {
            const QUrl url(QString::fromUtf8(link.mid(open + 1, close - open - 1)));
            return QUrlQuery(url).queryItemValue(QStringLiteral("max_id"), QUrl::FullyDecoded);
        }
        at = close + 1;
    }
}

QByteArray RateLimitRetryAfter(const QByteArray& retryAfter, const QByteArray& rateLimitReset, const QDateTime& now)
{
    if (!retryAfter.trimmed().isEmpty())
        return retryAfter.trimmed();
    const QDateTime reset = QDateTime::fromString(QString::fromLatin1(rateLimitReset.trimmed()), Qt::ISODateWithMs);
    if (!reset.isValid())
        return QByteArray();
    const qint64 ms = now.msecsTo(reset);
    return QByteArray::number(ms <= 0 ? 0 : (ms + 999) / 1000);
}

TTimelinePage ReadFediversePage(TBlockingHttpClient& client, const TServiceAccount& account, TTimeline timeline,
                                const TFediverseQuery& query, const TReadBounds& bounds)
{
    TTimelinePage result;
    const QString address = FediverseTimelineAddress(account.ApiBase, timeline, query);
    ServiceRead::Bind(client, account, bounds);
    TBlockingHttpRequest& request = client.Request();
    request = TBlockingHttpRequest();
    request.ContentType.clear();
    request.Accept = "application/json";
    if (!account.Token.isEmpty()) {
        request.Headers.append({"Authorization", "Bearer " + account.Token.toUtf8()});
    } else {
        request.Username = account.AccountName.toUtf8();
        request.Password = account.Password.toUtf8();
        request.BasicAuthentication = true;
    }

    try {
        QByteArray body = client.FetchText(address.toUtf8());
        for (int reread = 0; reread < kRereads && client.Response().ResponseCode() == 206; ++reread) {
            WaitUnlessCancelled(RereadWaitMs(client.Response().HeaderLines.Value("Mastodon-Async-Refresh")), bounds);
            body = client.FetchText(address.toUtf8());
        }
        const QByteArray coding = client.Response().HeaderLines.Value("Content-Encoding").trimmed().toLower();
        if (!coding.isEmpty() && coding != "identity")
            throw EHttpClientError(QStringLiteral("compressed reply (Content-Encoding: %1) is not supported")
                                       .arg(QString::fromLatin1(coding)));
        TFediverseRows rows = FediversePageRows(body, timeline);
        result.Loaded = rows.Parsed;
        if (!rows.Ok()) {
            result.Failure = TReadFailure::NotTimeline;
            result.Message = rows.Error;
        } else {
            qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("url:") + address;
            result.Rows = std::move(rows.Rows);
            result.Next = NextMaxIdOfLink(client.Response().HeaderLines.Value("Link"));
            // A server without Link headers pages by the ids it sent.
            if (result.Next.isEmpty() && !result.Rows.isEmpty())
                result.Next = rows.LastPagingId;
            result.PagingIds = std::move(rows.PagingIds);
        }
    } catch (const EHttpProtocolError& e) {
        result.StatusCode = e.ReplyCode();
        result.ReasonPhrase = ServiceRead::ReasonOf(client.Response().StatusLine);
        // A refused token: Mastodon says 401, Akkoma 403.
        result.Failure = e.ReplyCode() == 401 || e.ReplyCode() == 403 ? TReadFailure::Refused
                       : e.ReplyCode() == 407                         ? TReadFailure::Proxy
                                                                      : TReadFailure::HttpStatus;
        // The server's own words when it gave them in JSON; an HTML page says nothing
        // meant for the user, and the status line stands alone.
        const QString words = ServerError(e.ReplyBody());
        result.Message = words.isEmpty() ? e.Message() : words;
        if (e.ReplyCode() == 429) {
            const THeaderLines& head = client.Response().HeaderLines;
            result.RetryAfter = RateLimitRetryAfter(head.Value("Retry-After"), head.Value("X-RateLimit-Reset"),
                                                    QDateTime::currentDateTimeUtc());
        } else {
            result.RetryAfter = client.Response().HeaderLines.Value("Retry-After").trimmed();
        }
        result.Location = client.Response().HeaderLines.Value("Location");
    } catch (const EHttpClientError&) {
        ServiceRead::TakeTransportFailure(client, result);
    }
    if (!result.Ok()) {
        result.Rows.clear();
        result.Reason = ServiceRead::OneLine(result.Message);
        if (result.Failure == TReadFailure::NotTimeline)
            qCInfo(lcService).noquote() << "fediverse page is not a timeline:" << result.Reason;
        else
            qCInfo(lcHttp).noquote() << "fediverse page not read:" << address << result.Reason;
    }
    return result;
}
