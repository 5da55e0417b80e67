#include "service/FavoriteRoute.h"

#include "service/FediverseTalk.h"
#include "text/Logging.h"

#include <QLoggingCategory>

TFavoriteRoute::TFavoriteRoute()
    : m_byIdBase(std::make_shared<QString>())
{
}

TPostJob* TFavoriteRoute::Start(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    // The client API has one address for a favourite.
    if (account.Family == TServiceFamily::Fediverse)
        return TPostJob::Begin(client, ClientApiFavoriteStep(account, statusId));
    if (!IsStatusId(statusId))
        return TPostJob::Begin(client, std::nullopt);
    const std::shared_ptr<QString> byIdBase = m_byIdBase;
    // After the by-id address: remember it when it took the favourite.
    auto learn = [byIdBase, base = account.ApiBase](const TPostOutcome& outcome) -> std::optional<TPostJob::TStep> {
        if (outcome.IsAccepted() && *byIdBase != base) {
            *byIdBase = base;
            qCInfo(lcService).noquote() << "favourites go to" << base + QStringLiteral("/favorites/create.xml")
                                        << "from now on";
        }
        return std::nullopt;
    };
    if (!byIdBase->isEmpty() && *byIdBase == account.ApiBase)
        return TPostJob::Begin(client, FavoriteByIdStep(account, statusId), learn);

    bool first = true;
    return TPostJob::Begin(client, FavoriteStep(account, statusId),
                           [first, learn, account, statusId](const TPostOutcome& outcome) mutable
                               -> std::optional<TPostJob::TStep> {
        if (!first)
            return learn(outcome);
        first = false;
        // Only the server's own 404 says the route is missing; the client reports a
        // failed connection as 404 too, and that is no reason to ask again.
        if (outcome.Kind != TPostOutcome::HttpFailure || outcome.StatusCode != 404)
            return std::nullopt;
        qCInfo(lcService).noquote() << QStringLiteral("no /favorites/create/<id>.xml at %1, trying /favorites/create.xml")
                                           .arg(account.ApiBase);
        return FavoriteByIdStep(account, statusId);
    });
}
