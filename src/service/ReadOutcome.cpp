#include "service/ReadOutcome.h"

#include "http/UrlText.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>

namespace {

// What the user reads when a timeline page could not be read; translated at use.
struct TFailureText {
    TReadFailure Failure;
    const char* Text;   // %1: the reason (status code and phrase, or the error's text)
};
constexpr TFailureText kFailureTexts[] = {
    {TReadFailure::Refused, QT_TRANSLATE_NOOP("ReadOutcome", "認証できませんでした")},
    {TReadFailure::HttpStatus, QT_TRANSLATE_NOOP("ReadOutcome", "サーバーがエラーを返しました: %1")},
    {TReadFailure::Connection, QT_TRANSLATE_NOOP("ReadOutcome", "接続できませんでした: %1")},
    {TReadFailure::Tls, "%1"},   // the TLS text names the host and the reason itself
    {TReadFailure::Proxy, QT_TRANSLATE_NOOP("ReadOutcome", "プロキシが接続を拒否しました: %1")},
    {TReadFailure::Transfer, QT_TRANSLATE_NOOP("ReadOutcome", "応答を読み取れませんでした: %1")},
    {TReadFailure::NotTimeline, QT_TRANSLATE_NOOP("ReadOutcome", "応答がタイムラインではありません: %1")},
};
// A post or favourite that got no answer: the same words, with the host they were for.
constexpr TFailureText kNoReplyTexts[] = {
    {TReadFailure::Connection, QT_TRANSLATE_NOOP("ReadOutcome", "接続できませんでした (%1): %2")},
    {TReadFailure::Transfer, QT_TRANSLATE_NOOP("ReadOutcome", "応答を読み取れませんでした (%1): %2")},
};
constexpr const char* kViaProxyText = QT_TRANSLATE_NOOP("ReadOutcome", "プロキシ %1");
// A relocation is not an error of the server's, and the line says so.
constexpr const char* kRelocatedText = QT_TRANSLATE_NOOP("ReadOutcome", "サーバーが別のアドレスへ転送しようとしました: %1");

QString Translated(const char* text)
{
    return QCoreApplication::translate("ReadOutcome", text);
}

} // namespace

QString TimelineFailureLine(const TTimelinePage& page)
{
    if (page.Ok())
        return QString();
    // A wrong password is said in so many words: that line has nothing to fill in.
    static_assert(kFailureTexts[0].Failure == TReadFailure::Refused);
    if (page.Failure == TReadFailure::Refused)
        return Translated(kFailureTexts[0].Text);
    if (page.Failure == TReadFailure::HttpStatus || page.Failure == TReadFailure::Proxy) {
        const QString status = QString::number(page.StatusCode)
                               + (page.ReasonPhrase.isEmpty() ? QString() : u' ' + QString::fromUtf8(page.ReasonPhrase));
        // A 3xx, or any reply with a Location (a "200 OK" that points elsewhere): refused
        // because it would relocate the read.
        if (page.Failure == TReadFailure::HttpStatus && (page.StatusCode / 100 == 3 || !page.Location.isEmpty()))
            return Translated(kRelocatedText).arg(status);
        for (const TFailureText& t : kFailureTexts) {
            if (t.Failure == page.Failure)
                return Translated(t.Text).arg(status);
        }
    }
    for (const TFailureText& t : kFailureTexts) {
        if (t.Failure == page.Failure)
            return Translated(t.Text).arg(page.Reason);
    }
    return QString();
}

QString TimelineFailureLine(const TTimelinePage& page, const QString& where)
{
    if (!where.isEmpty() && (page.Failure == TReadFailure::Connection || page.Failure == TReadFailure::Transfer))
        return NoReplyLine(page.Failure, where, page.Reason);
    return TimelineFailureLine(page);
}

QString ConnectionPlace(const QByteArray& address, const TNetworkOptions& network)
{
    const THttpUrl target = SplitUrl(address);
    if (const std::optional<TProxy> proxy = ProxyFor(network, target.Scheme, target.Host)) {
        const QByteArray port = QByteArray::number(proxy->Port);
        return Translated(kViaProxyText).arg(QString::fromUtf8(Authority("http", proxy->Host, port)));
    }
    return QString::fromUtf8(Authority(target.Scheme, target.Host, target.Port));
}

QString ConnectionPlace(const TServiceAccount& account)
{
    return ConnectionPlace(account.ApiBase.toUtf8(), account.Network);
}

QString NoReplyLine(TReadFailure failure, const QString& where, const QString& reason)
{
    for (const TFailureText& t : kNoReplyTexts) {
        if (t.Failure == failure)
            return Translated(t.Text).arg(where, reason);
    }
    // The TLS text names the host itself; the proxy's has no host of the service to name.
    for (const TFailureText& t : kFailureTexts) {
        if (t.Failure == failure && (failure == TReadFailure::Tls || failure == TReadFailure::Proxy))
            return Translated(t.Text).arg(reason);
    }
    return reason;
}

bool WorthBackingOff(const TTimelinePage& page)
{
    switch (page.Failure) {
    case TReadFailure::Connection:
    case TReadFailure::Transfer:
        return true;
    case TReadFailure::HttpStatus:
        return page.StatusCode >= 500 || page.StatusCode == 429 || page.StatusCode == 400;
    case TReadFailure::Proxy:
        return page.StatusCode >= 500;
    default:
        return false;
    }
}

std::optional<qint64> RetryAfterMs(const QByteArray& value, const QDateTime& now)
{
    const QByteArray v = value.trimmed();
    if (v.isEmpty())
        return std::nullopt;
    if (std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const qint64 seconds = v.size() <= 12 ? v.toLongLong(&ok) : 0;
        if (!ok)
            return TReloadBackoff::kMaxRetryAfterMs;  // absurdly long: the bound applies
        return seconds * 1000;
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT" (the form servers send today).
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(v).replace(QLatin1String(" GMT"), QString()),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    if (!when.isValid())
        return std::nullopt;
    when.setTimeSpec(Qt::UTC);
    return std::max<qint64>(0, now.msecsTo(when));
}

void TReloadBackoff::SetNormal(qint64 normalMs)
{
    const bool backingOff = BackingOff();
    m_normalMs = normalMs;
    if (!backingOff)
        m_currentMs = normalMs;
}

qint64 TReloadBackoff::Succeeded()
{
    m_currentMs = m_normalMs;
    return m_currentMs;
}

qint64 TReloadBackoff::Failed(std::optional<qint64> retryAfterMs)
{
    qint64 next = std::min(m_currentMs * 2, std::max(kMaxWaitMs, m_normalMs));
    if (retryAfterMs && *retryAfterMs > next)
        next = std::min(*retryAfterMs, kMaxRetryAfterMs);
    m_currentMs = next;
    return m_currentMs;
}
