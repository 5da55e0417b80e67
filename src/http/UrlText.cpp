#include "http/UrlText.h"

TUserInfo SplitUserInfo(const QByteArray& authority, TAtSign at)
{
    TUserInfo info;
    const qsizetype sign = at == TAtSign::First ? authority.indexOf('@') : authority.lastIndexOf('@');
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

bool IsReservedInvalidName(const QByteArray& host)
{
    QByteArray h = host.toLower();
    if (h.endsWith('.'))
        h.chop(1);
    return h == "invalid" || h.endsWith(".invalid");
}
