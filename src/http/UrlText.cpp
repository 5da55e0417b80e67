#include "http/UrlText.h"

namespace {

// "user[:password]@rest": the user information runs to the last "@" (a password may
// hold one), the user name to the first ":" in it.
struct TUserInfo {
    bool Present = false;       // there was an "@"
    QByteArray User;
    QByteArray Password;
    QByteArray Rest;            // what follows the "@" (all of it when there is none)
};

TUserInfo SplitUserInfo(const QByteArray& authority)
{
    TUserInfo info;
    const qsizetype sign = authority.lastIndexOf('@');
    if (sign < 0) {
        info.Rest = authority;
        return info;
    }
    const QByteArray userInfo = authority.left(sign);
    const qsizetype colon = userInfo.indexOf(':');
    info.Present = true;
    info.User = colon >= 0 ? userInfo.left(colon) : userInfo;
    info.Password = colon >= 0 ? userInfo.mid(colon + 1) : QByteArray();
    info.Rest = authority.mid(sign + 1);
    return info;
}

} // namespace

THttpUrl SplitUrl(const QByteArray& address)
{
    THttpUrl u;
    QByteArray url = address;
    url.replace('\\', '/');
    QByteArray rest = url;
    const qsizetype sep = url.indexOf("://");
    if (sep >= 0) {
        u.Scheme = url.left(sep).toLower();
        rest = url.mid(sep + 3);
    }
    if (u.Scheme.isEmpty())
        u.Scheme = "http";

    qsizetype end = rest.size();
    for (char c : {'/', '?', '#'}) {
        const qsizetype i = rest.indexOf(c);
        if (i >= 0 && i < end)
            end = i;
    }
    const TUserInfo info = SplitUserInfo(rest.left(end));
    u.HasUserInfo = info.Present;
    u.User = info.User;
    u.Password = info.Password;
    const QByteArray& hostPort = info.Rest;
    if (hostPort.startsWith('[')) {
        const qsizetype close = hostPort.indexOf(']');
        u.Host = hostPort.mid(1, close < 0 ? -1 : close - 1);
        if (close >= 0 && hostPort.mid(close + 1).startsWith(':'))
            u.Port = hostPort.mid(close + 2);
    } else {
        const qsizetype colon = hostPort.lastIndexOf(':');
        u.Host = colon >= 0 ? hostPort.left(colon) : hostPort;
        u.Port = colon >= 0 ? hostPort.mid(colon + 1) : QByteArray();
    }

    u.Target = rest.mid(end);
    const qsizetype fragment = u.Target.indexOf('#');
    if (fragment >= 0)
        u.Target.truncate(fragment);
    if (!u.Target.startsWith('/'))
        u.Target.prepend('/');
    return u;
}

QByteArray DefaultPort(const QByteArray& scheme)
{
    if (scheme == "http")
        return "80";
    if (scheme == "https")
        return "443";
    return {};
}

quint16 PortNumber(const QByteArray& port)
{
    if (port.isEmpty() || port.size() > 5)
        return 0;
    int value = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value <= 65535 ? quint16(value) : 0;
}

QByteArray HostForUrl(const QByteArray& host)
{
    return host.contains(':') ? "[" + host + "]" : host;
}

QByteArray Authority(const QByteArray& scheme, const QByteArray& host, const QByteArray& port)
{
    const bool usual = port.isEmpty() || port == DefaultPort(scheme);
    return usual ? HostForUrl(host) : HostForUrl(host) + ':' + port;
}
