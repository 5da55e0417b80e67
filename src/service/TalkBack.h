#pragma once

#include "service/FavoriteRoute.h"
#include "service/PostJob.h"
#include "service/ServiceAccount.h"

#include <QObject>
#include <QPointer>
#include <QString>

class THttpCli;

// Talking back to a status on the account's service: marking it a favourite and
// repeating it, one request at a time on a client of its own ("HttpCli1"), each
// reported by signal from the event loop. Favourites remember their route for the run.
class TTalkBack : public QObject {
    Q_OBJECT
public:
    explicit TTalkBack(QObject* parent = nullptr);

    // A favourite or repeat is under way: a new one is not started.
    bool Busy() const { return !m_job.isNull(); }

    // Start the request; FavoriteEnded or RepeatEnded follows. Nothing while Busy().
    void Favorite(const TServiceAccount& account, const QString& statusId);
    void Repeat(const TServiceAccount& account, const QString& statusId);
    // Ends the running request at once; nothing is reported.
    void Abort();

Q_SIGNALS:
    void FavoriteEnded(const QString& statusId, const TPostOutcome& outcome);
    void RepeatEnded(const QString& statusId, const TPostOutcome& outcome);

private:
    THttpCli* m_client;
    TFavoriteRoute m_route;
    QPointer<TPostJob> m_job;
};
