#include "service/FavoriteRoute.h"

#include "text/Logging.h"

#include <QLoggingCategory>

TPostOutcome TFavoriteRoute::Post(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    if (!IsStatusId(statusId))
        return {};
    if (m_byIdBase.isEmpty() || m_byIdBase != account.ApiBase) {
        const TPostOutcome first = PostFavorite(client, account, statusId);
        // Only the server's own 404 says the route is missing; the client reports a
        // failed connection as 404 too, and that is no reason to ask again.
        if (first.Kind != TPostOutcome::HttpFailure || first.StatusCode != 404)
            return first;
        qCInfo(lcService).noquote() << QStringLiteral("no /favorites/create/<id>.xml at %1, trying /favorites/create.xml")
                                           .arg(account.ApiBase);
    }
    const TPostOutcome outcome = PostFavoriteById(client, account, statusId);
    if (outcome.IsAccepted() && m_byIdBase != account.ApiBase) {
        m_byIdBase = account.ApiBase;
        qCInfo(lcService).noquote() << "favourites go to" << account.ApiBase + QStringLiteral("/favorites/create.xml")
                                    << "from now on";
    }
    return outcome;
}
