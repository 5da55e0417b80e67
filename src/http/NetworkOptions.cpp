#include "http/NetworkOptions.h"

#include "http/UrlText.h"

#include <QUrl>

namespace {

QByteArray Environment(const char* lower, const char* upper)
{
    const QByteArray value = qgetenv(lower);
    return value.isEmpty() ? qgetenv(upper) : value;
}

} // namespace

std::optional<TProxy> ParseProxy(const QByteArray& text)
{
    QByteArray rest = text.trimmed();
    if (rest.isEmpty())
        return std::nullopt;
    const qsizetype scheme = rest.indexOf("://");
    if (scheme >= 0) {
        // Only plain http proxies are spoken to; an https or socks proxy is not.
        if (rest.left(scheme).toLower() != "http")
            return std::nullopt;
        rest = rest.mid(scheme + 3);
    }
    const qsizetype slash = rest.indexOf('/');
    if (slash >= 0)
        rest.truncate(slash);
    const TUserInfo info = SplitUserInfo(rest);
    TProxy proxy;
    proxy.User = QByteArray::fromPercentEncoding(info.User);
    proxy.Password = QByteArray::fromPercentEncoding(info.Password);
    QByteArray hostPort = info.Rest;
    QByteArray port;
    if (hostPort.startsWith('[')) {
        const qsizetype close = hostPort.indexOf(']');
        if (close < 0)
            return std::nullopt;
        proxy.Host = hostPort.mid(1, close - 1);
        if (hostPort.mid(close + 1).startsWith(':'))
            port = hostPort.mid(close + 2);
    } else {
        const qsizetype colon = hostPort.lastIndexOf(':');
        proxy.Host = colon >= 0 ? hostPort.left(colon) : hostPort;
        port = colon >= 0 ? hostPort.mid(colon + 1) : QByteArray();
    }
    if (proxy.Host.isEmpty())
        return std::nullopt;
    if (!port.isEmpty()) {
        bool ok = false;
        const uint n = port.toUInt(&ok);
        if (!ok || n == 0 || n > 65535)
            return std::nullopt;
        proxy.Port = quint16(n);
    }
    return proxy;
}

TNetworkOptions ResolveNetworkOptions(const QString& proxySetting, const QString& caFile)
{
    TNetworkOptions options;
    options.CaFile = caFile;
    const QString setting = proxySetting.trimmed();
    if (setting.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return options;
    if (!setting.isEmpty()) {
        options.HttpProxy = options.HttpsProxy = ParseProxy(setting.toUtf8());
        return options;
    }
    options.HttpProxy = ParseProxy(Environment("http_proxy", "HTTP_PROXY"));
    options.HttpsProxy = ParseProxy(Environment("https_proxy", "HTTPS_PROXY"));
    for (const QByteArray& entry : Environment("no_proxy", "NO_PROXY").split(',')) {
        const QByteArray host = entry.trimmed().toLower();
        if (!host.isEmpty())
            options.NoProxy.append(host);
    }
    return options;
}

std::optional<TProxy> ProxyFor(const TNetworkOptions& options, const QByteArray& scheme, const QByteArray& host)
{
    const std::optional<TProxy>& proxy = scheme.toLower() == "https" ? options.HttpsProxy : options.HttpProxy;
    if (!proxy)
        return std::nullopt;
    QByteArray h = host.toLower();
    if (h.endsWith('.'))
        h.chop(1);
    for (QByteArray entry : options.NoProxy) {
        if (entry == "*")
            return std::nullopt;
        // ".example.org" and "example.org" both cover the domain and its hosts; a port
        // written after the name is not compared.
        if (!entry.startsWith('[')) {
            const qsizetype colon = entry.indexOf(':');
            if (colon >= 0 && entry.indexOf(':', colon + 1) < 0)
                entry.truncate(colon);
        }
        if (entry.startsWith('.'))
            entry.remove(0, 1);
        if (h == entry || h.endsWith('.' + entry))
            return std::nullopt;
    }
    return proxy;
}
