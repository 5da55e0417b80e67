#include "http/NetworkOptions.h"

#include "http/ConnectionPlan.h"
#include "http/UrlText.h"

namespace {

QByteArray Environment(const char* lower, const char* upper)
{
    const QByteArray value = qgetenv(lower);
    return value.isEmpty() ? qgetenv(upper) : value;
}

} // namespace

std::optional<TProxy> ParseProxy(const QByteArray& text)
{
    const QByteArray address = text.trimmed();
    if (address.isEmpty())
        return std::nullopt;
    // Split as any address is; only plain http proxies are spoken to, not https or socks.
    const THttpUrl u = SplitUrl(address);
    if (u.Scheme != "http" || u.Host.isEmpty())
        return std::nullopt;
    TProxy proxy;
    proxy.Host = u.Host;
    const TCredentials credentials = ChooseCredentials(u.HasUserInfo, u.User, u.Password, {}, {});
    proxy.User = credentials.User;
    proxy.Password = credentials.Password;
    if (!u.Port.isEmpty()) {
        proxy.Port = PortNumber(u.Port);
        if (proxy.Port == 0)
            return std::nullopt;
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
