#include "service/ServiceAccount.h"

#include "settings/Settings.h"

#include <QList>
#include <QUrl>

#include <array>
#include <cstring>

namespace {

// Four decimal parts of 0 to 255: QUrl has already put every other IPv4 form into this one.
bool parseIPv4(QStringView text, std::array<quint8, 4>* address)
{
    const QList<QStringView> parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint value = parts[i].toUInt(&ok, 10);
        if (!ok || parts[i].isEmpty() || parts[i].size() > 3 || value > 255 || !parts[i].front().isDigit())
            return false;
        (*address)[i] = static_cast<quint8>(value);
    }
    return true;
}

// Up to eight groups of hex digits, "::" once for a run of zero groups, the last 32 bits
// possibly written as an IPv4 address.
bool parseIPv6(QStringView text, std::array<quint8, 16>* address)
{
    std::array<quint16, 8> groups{};
    int count = 0;
    int gap = -1;  // where "::" stands
    qsizetype i = 0;
    if (text.startsWith(u"::")) {
        gap = 0;
        i = 2;
    }
    while (i < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char(':'), i);
        if (end < 0)
            end = text.size();
        const QStringView part = text.mid(i, end - i);
        std::array<quint8, 4> v4{};
        if (end == text.size() && count <= 6 && parseIPv4(part, &v4)) {
            groups[count++] = static_cast<quint16>(v4[0] << 8 | v4[1]);
            groups[count++] = static_cast<quint16>(v4[2] << 8 | v4[3]);
            break;
        }
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || part.isEmpty() || part.size() > 4 || count == 8 || part.startsWith(u"+"))
            return false;
        groups[count++] = static_cast<quint16>(value);
        if (end == text.size())
            break;
        if (text.mid(end).startsWith(u"::")) {
            if (gap >= 0)
                return false;
            gap = count;
            i = end + 2;
        } else {
            i = end + 1;
            if (i == text.size())
                return false;  // a single ":" at the end
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return false;
    std::array<quint16, 8> full{};
    const int tail = gap < 0 ? 0 : count - gap;
    for (int g = 0; g < count; ++g)
        full[gap >= 0 && g >= gap ? 8 - tail + (g - gap) : g] = groups[g];
    for (int g = 0; g < 8; ++g) {
        (*address)[2 * g] = static_cast<quint8>(full[g] >> 8);
        (*address)[2 * g + 1] = static_cast<quint8>(full[g]);
    }
    return true;
}

// 127.0.0.0/8, ::1, and IPv4 loopback addresses written as mapped IPv6 ones.
bool isLoopbackAddress(const QString& host)
{
    std::array<quint8, 4> v4{};
    if (parseIPv4(host, &v4))
        return v4[0] == 127;
    // An IPv6 address may name its interface ("fe80::1%eth0"); the address alone counts.
    const qsizetype scope = host.indexOf(QLatin1Char('%'));
    std::array<quint8, 16> v6{};
    if (!parseIPv6(QStringView(host).left(scope < 0 ? host.size() : scope), &v6))
        return false;
    static constexpr quint8 loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static constexpr quint8 mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(v6.data(), loopback, 16) == 0 || (std::memcmp(v6.data(), mapped, 12) == 0 && v6[12] == 127);
}

} // namespace

bool SendsPasswordInTheClear(const QString& apiBase)
{
    const QUrl url(apiBase);
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")))
        return false;
    return !isLoopbackAddress(host);
}

QString OriginOf(const QString& address)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return QString();
    const int port = url.port();
    const bool ownPort = port < 0 || (scheme == QLatin1String("http") ? port == 80 : port == 443);
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    return scheme + QStringLiteral("://") + (host.contains(u':') ? u'[' + host + u']' : host)
         + (ownPort ? QString() : u':' + QString::number(port));
}

TServiceAccount AccountOf(const TMainState& state, const TNetworkOptions& network)
{
    const QString origin = OriginOf(state.ApiBase);
    if (!state.Fediverse || origin.isEmpty() || *state.Fediverse != origin)
        return {state.ApiBase, state.AccountName, state.Password, network};
    TServiceAccount account(origin, state.AccountName, state.Password, network);
    account.Family = TServiceFamily::Fediverse;
    account.Token = state.Token;
    return account;
}

TServiceEndpoint ResolveServiceEndpoint(const QStringList& arguments, const TMainState& state)
{
    const TApiBase api = ResolveApiBase(arguments, state);
    return {api.Address, ResolveNetworkOptions(state.Proxy.value_or(QString()), ResolveCaFile(arguments, state)),
            api.Error.isEmpty() ? QString() : ApiBaseErrorLine(api)};
}
