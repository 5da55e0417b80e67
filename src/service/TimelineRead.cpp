#include "service/TimelineRead.h"

#include "http/BlockingHttpClient.h"
#include "service/ServiceRead_p.h"
#include "service/TimelineData.h"
#include "text/Logging.h"
#include "xml/XMLDoc.h"
#include "xml/XMLEncoding.h"

#include <QLoggingCategory>

namespace ServiceRead {

void Bind(TBlockingHttpClient& client, const TServiceAccount& account, const TReadBounds& bounds)
{
    client.ReadTimeout = bounds.ReadTimeoutMs;
    client.TotalTimeout = bounds.TotalTimeoutMs;
    client.MaxBodySize = bounds.MaxBodySize;
    client.Cancelled = bounds.Cancelled;
    client.Network = account.Network;
}

QByteArray ReasonOf(const QByteArray& statusLine)
{
    const qsizetype first = statusLine.indexOf(' ');
    const qsizetype second = first < 0 ? -1 : statusLine.indexOf(' ', first + 1);
    return second < 0 ? QByteArray() : statusLine.mid(second + 1).trimmed();
}

void TakeTransportFailure(const TBlockingHttpClient& client, TTimelinePage& page)
{
    try {
        throw;
    } catch (const EProxyError& e) {
        page.Failure = TReadFailure::Proxy;
        page.StatusCode = e.ReplyCode();
        page.ReasonPhrase = e.Reason();
        page.Message = e.Message();
    } catch (const ETlsError& e) {
        page.Failure = TReadFailure::Tls;
        page.Message = e.Message();
    } catch (const EHttpClientError& e) {
        page.Failure = client.RequestSent() ? TReadFailure::Transfer : TReadFailure::Connection;
        if (const auto* socket = dynamic_cast<const ESocketError*>(&e))
            page.SocketError = socket->LastError();
        page.Message = e.Message();
    }
}

void LoadDocument(TBlockingHttpClient& client, const TServiceAccount& account, const TReadBounds& bounds,
                  const QString& address, TXMLDocument& document)
{
    Bind(client, account, bounds);
    // The client may come from a read of the other family: none of its lines stay.
    client.Request() = TBlockingHttpRequest();
    client.Request().Username = account.AccountName.toUtf8();
    client.Request().Password = account.Password.toUtf8();
    client.Request().BasicAuthentication = true;

    const QByteArray body = client.FetchText(address.toUtf8());
    const QByteArray coding = client.Response().HeaderLines.Value("Content-Encoding").trimmed().toLower();
    // Nothing asks for compression; a server that sends it anyway gets a clear refusal
    // instead of a parse error about bytes that were never XML.
    if (!coding.isEmpty() && coding != "identity")
        throw EHttpClientError(QStringLiteral("compressed reply (Content-Encoding: %1) is not supported")
                                   .arg(QString::fromLatin1(coding)));
    // Without a byte-order mark or a declaration, the charset the server named counts.
    document.LoadFromText(body, CharsetOfContentType(client.Response().HeaderLines.Value("Content-Type")));
}

// "Socket Error # 10061\r\nConnection refused." -> "Connection refused."; a longer
// text keeps its first line.
QString OneLine(const QString& message)
{
    // Split by hand: a pattern here would load the regular-expression engine for a
    // single failure line.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= message.size(); ++i) {
        if (i == message.size() || message[i] == u'\r' || message[i] == u'\n') {
            if (i > start)
                lines.append(message.mid(start, i - start));
            start = i + 1;
        }
    }
    if (lines.isEmpty())
        return message;
    if (lines.size() > 1 && lines.first().startsWith(QLatin1String("Socket Error #")))
        return lines[1].trimmed();
    return lines.first().trimmed();
}

QString MessageOf(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const EBrimlarkError*>(&e))
        return own->Message();
    return QString::fromUtf8(e.what());
}

} // namespace ServiceRead

QString TimelinePageAddress(const QString& apiBase, int page, TTimeline timeline)
{
    if (timeline == TTimeline::Mentions) {
        const QString address = apiBase + QStringLiteral("/statuses/mentions.xml");
        return page <= 1 ? address : address + QStringLiteral("?page=%1").arg(page);
    }
    const QString address = apiBase + QStringLiteral("/statuses/friends_timeline.xml");
    return page <= 1 ? address : address + QStringLiteral("?page=%1&twtr=true").arg(page);
}

TTimelinePage ReadTimelinePage(const TServiceAccount& account, int page, const TReadBounds& bounds, TTimeline timeline)
{
    TBlockingHttpClient client;
    return ReadTimelinePage(client, account, page, bounds, timeline);
}

TTimelinePage ReadTimelinePage(TBlockingHttpClient& client, const TServiceAccount& account, int page,
                               const TReadBounds& bounds, TTimeline timeline)
{
    TTimelinePage result;
    const QString address = TimelinePageAddress(account.ApiBase, page, timeline);

    TXMLDocument document;
    try {
        ServiceRead::LoadDocument(client, account, bounds, address, document);
        result.Loaded = true;
        qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("url:") + address;

        TXMLStatusesType* statuses = TimelineStatuses(document);
        const int count = statuses->Count();
        result.Rows.reserve(count);
        for (int i = 0; i < count; ++i) {
            TXMLStatusType* status = statuses->Get_status(i);
            TXMLUserType* user = status->Get_user();
            TTimelineStatus& typed = result.Rows.emplace_back();
            typed.Id = status->Get_id();
            typed.Name = user->Get_name();
            typed.ScreenName = user->Get_screen_name();
            typed.Text = status->Get_text();
            typed.Favorited = status->Get_favorited();
            typed.InReplyToId = status->Get_in_reply_to_status_id();
            typed.ExternalUrl = status->Get_external_url();
        }
    } catch (const EHttpProtocolError& e) {
        result.StatusCode = e.ReplyCode();
        result.ReasonPhrase = ServiceRead::ReasonOf(client.Response().StatusLine);
        result.Failure = e.ReplyCode() == 401 ? TReadFailure::Refused
                       : e.ReplyCode() == 407 ? TReadFailure::Proxy
                                              : TReadFailure::HttpStatus;
        result.Message = e.Message();
        result.RetryAfter = client.Response().HeaderLines.Value("Retry-After").trimmed();
        result.Location = client.Response().HeaderLines.Value("Location");
    } catch (const EHttpClientError&) {
        ServiceRead::TakeTransportFailure(client, result);
    } catch (const std::exception& e) {
        // The parser's and the binding's errors: the reply is not a timeline.
        result.Failure = TReadFailure::NotTimeline;
        result.Message = ServiceRead::MessageOf(e);
    }
    if (!result.Ok()) {
        result.Rows.clear();
        result.Reason = ServiceRead::OneLine(result.Message);
        // One line in the category of the layer where the read failed; the parser
        // already wrote its own for a reply that is not XML.
        if (result.Failure == TReadFailure::NotTimeline) {
            if (result.Loaded)
                qCInfo(lcService).noquote() << "page" << page << "is not a timeline:" << result.Reason;
        } else {
            qCInfo(lcHttp).noquote() << "timeline page" << page << "not read:" << address << result.Reason;
        }
    }
    return result;
}
