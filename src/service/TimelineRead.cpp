#include "service/TimelineRead.h"

#include "http/BlockingHttpClient.h"
#include "service/TimelineData.h"
#include "text/Logging.h"
#include "xml/XMLDoc.h"

#include <QLoggingCategory>

namespace {

// "HTTP/1.1 502 Bad Gateway" -> "Bad Gateway".
QByteArray ReasonOf(const QByteArray& statusLine)
{
    const qsizetype first = statusLine.indexOf(' ');
    const qsizetype second = first < 0 ? -1 : statusLine.indexOf(' ', first + 1);
    return second < 0 ? QByteArray() : statusLine.mid(second + 1).trimmed();
}

QString MessageOf(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const EBrimlarkError*>(&e))
        return own->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

QString TimelinePageAddress(const QString& apiBase, int page)
{
    const QString address = apiBase + QStringLiteral("/statuses/friends_timeline.xml");
    return page <= 1 ? address : address + QStringLiteral("?page=%1&twtr=true").arg(page);
}

TTimelinePage ReadTimelinePage(const TServiceAccount& account, int page, const TReadBounds& bounds)
{
    TTimelinePage result;
    const QString address = TimelinePageAddress(account.ApiBase, page);

    TBlockingHttpClient client;
    client.ReadTimeout = bounds.ReadTimeoutMs;
    client.TotalTimeout = bounds.TotalTimeoutMs;
    client.MaxBodySize = bounds.MaxBodySize;
    client.Request().Username = account.AccountName.toUtf8();
    client.Request().Password = account.Password.toUtf8();
    client.Request().BasicAuthentication = true;

    TXMLDocument document;
    try {
        const QByteArray body = client.FetchText(address.toUtf8());
        document.LoadFromText(body);
        result.Loaded = true;
        qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("url:") + address;

        TXMLStatusesType* statuses = TimelineStatuses(document);
        const int count = statuses->Count();
        result.Rows.reserve(count);
        for (int i = 0; i < count; ++i) {
            TXMLStatusType* status = statuses->Get_status(i);
            result.Rows.append({status->Get_user()->Get_name(), status->Get_text(), status->Get_favorited(),
                                status->Get_id()});
        }
    } catch (const EHttpProtocolError& e) {
        result.StatusCode = e.ReplyCode();
        result.ReasonPhrase = ReasonOf(client.Response().StatusLine);
        result.Failure = e.ReplyCode() == 401 ? TReadFailure::Refused : TReadFailure::HttpStatus;
        result.Message = e.Message();
    } catch (const EHttpClientError& e) {
        result.Failure = TReadFailure::Transfer;
        if (const auto* socket = dynamic_cast<const ESocketError*>(&e))
            result.SocketError = socket->LastError();
        result.Message = e.Message();
    } catch (const std::exception& e) {
        // The parser's and the binding's errors: the reply is not a timeline.
        result.Failure = TReadFailure::NotTimeline;
        result.Message = MessageOf(e);
    }
    if (!result.Ok()) {
        result.Rows.clear();
        qCInfo(lcService).noquote() << "timeline page" << page << "not read:" << result.Message;
    }
    return result;
}
