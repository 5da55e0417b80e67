#include "service/ServiceAccount.h"

#include <QHostAddress>
#include <QUrl>

bool SendsPasswordInTheClear(const QString& apiBase)
{
    const QUrl url(apiBase);
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")))
        return false;
    const QHostAddress address(host);
    return address.isNull() || !address.isLoopback();
}
