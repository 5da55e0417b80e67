#include "http/RequestHead.h"

#include "http/UrlText.h"

QByteArray BasicCredentials(const QByteArray& user, const QByteArray& password)
{
    return "Basic " + (user + ':' + password).toBase64();
}

QByteArray RequestTarget(const std::optional<TProxy>& proxy, const QByteArray& scheme, const QByteArray& authority,
                         const QByteArray& target)
{
    return proxy && scheme == "http" ? "http://" + authority + target : target;
}

namespace {

QByteArray proxyCredentials(const TProxy& proxy)
{
    if (proxy.User.isEmpty() && proxy.Password.isEmpty())
        return {};
    return BasicCredentials(proxy.User, proxy.Password);
}

} // namespace

QByteArray ProxyCredentials(const std::optional<TProxy>& proxy, const QByteArray& scheme)
{
    return proxy && scheme == "http" ? proxyCredentials(*proxy) : QByteArray();
}

QByteArray ConnectRequest(const TProxy& proxy, const QByteArray& host, const QByteArray& port)
{
    const QByteArray authority = HostForUrl(host) + ':' + port;
    TRequestHead head("CONNECT " + authority + " HTTP/1.1");
    head.Add("Host", authority);
    head.Add("Proxy-Authorization", proxyCredentials(proxy));
    return head.Text();
}
