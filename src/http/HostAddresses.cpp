#include "http/HostAddresses.h"

#include <QUrl>

bool IsReservedInvalidName(const QByteArray& host)
{
    QByteArray h = host.toLower();
    if (h.endsWith('.'))
        h.chop(1);
    return h == "invalid" || h.endsWith(".invalid");
}

QByteArray AsciiHostName(const QByteArray& host)
{
    return QUrl::toAce(QString::fromUtf8(host));
}

QList<SocketPlatform::Address> ResolveHost(const QByteArray& host)
{
    QList<SocketPlatform::Address> found;
    SocketPlatform::Address address;
    if (host.compare("localhost", Qt::CaseInsensitive) == 0) {
        for (const char* loopback : {"127.0.0.1", "::1"}) {
            if (SocketPlatform::ParseAddress(loopback, &address))
                found.append(address);
        }
        return found;
    }
    if (SocketPlatform::ParseAddress(host, &address))
        return {address};
    if (host.isEmpty() || IsReservedInvalidName(host))
        return found;
    const QByteArray name = AsciiHostName(host);
    if (!name.isEmpty())
        SocketPlatform::LookUp(name, &found);
    return found;
}
