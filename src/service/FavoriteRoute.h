#pragma once

#include "service/ServicePost.h"

#include <QString>

#include <memory>

// Where this run's favourites go. Each is posted to "/favorites/create/<id>.xml" first;
// a 404 there (Friendica has no such route) sends the same body once more to
// "/favorites/create.xml". Once that second address has taken a favourite, later ones
// go straight to it while the service base stays the same. One per window, for the run.
class TFavoriteRoute {
public:
    TFavoriteRoute();
    // One memory per window: a copy would share it.
    TFavoriteRoute(const TFavoriteRoute&) = delete;
    TFavoriteRoute& operator=(const TFavoriteRoute&) = delete;

    // As StartFavorite, the second address chained when the first answers 404; the job
    // reports the outcome of the last request sent. The route may go before its jobs end:
    // what they learn then is kept by nobody.
    TPostJob* Start(THttpCli& client, const TServiceAccount& account, const QString& statusId);

    // The base whose "/favorites/create.xml" took a favourite; empty until one did.
    QString ByIdBase() const { return *m_byIdBase; }

private:
    std::shared_ptr<QString> m_byIdBase;    // shared with the running jobs
};
