#pragma once
// Posts to the service that wait for their outcome, for tests and measurements: the
// program goes on in a slot instead. Link brimlark_service to use them.

#include "service/FavoriteRoute.h"
#include "service/PostJob.h"
#include "service/ServicePost.h"

#include <QEventLoop>
#include <QTimer>

// Waits for the job's one report; a job that has not reported within boundMs is aborted,
// which reports at once.
inline TPostOutcome WaitForOutcome(TPostJob* job, int boundMs = 120000)
{
    TPostOutcome outcome;
    QEventLoop loop;
    bool ended = false;
    QObject::connect(job, &TPostJob::Finished, &loop, [&](const TPostOutcome& reported) {
        outcome = reported;
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (!ended)
        job->Abort();
    return outcome;
}

inline TPostOutcome PostStatusAndWait(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody)
{
    return WaitForOutcome(StartStatusPost(client, account, formBody));
}

inline TPostOutcome PostFavoriteAndWait(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    return WaitForOutcome(StartFavorite(client, account, statusId));
}

inline TPostOutcome PostRetweetAndWait(THttpCli& client, const TServiceAccount& account, const QString& statusId)
{
    return WaitForOutcome(StartRetweet(client, account, statusId));
}

inline TPostOutcome PostFavoriteAndWait(TFavoriteRoute& route, THttpCli& client, const TServiceAccount& account,
                                        const QString& statusId)
{
    return WaitForOutcome(route.Start(client, account, statusId));
}
