#pragma once
// Shared helpers of the event-driven client's tests.

#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "HttpWait.h"
#include "LoopbackListener.h"
#include "ScriptedServer.h"

#include <QElapsedTimer>

// How one request ended, and how long it took.
struct PostOutcome : THttpCliResult {
    qint64 elapsedMs = 0;
};

inline PostOutcome runPost(THttpCli& cli, const THttpCliRequest& request)
{
    QElapsedTimer t;
    t.start();
    PostOutcome o;
    static_cast<THttpCliResult&>(o) = PostAndWait(cli, request);
    o.elapsedMs = t.elapsed();
    return o;
}

// A request set up the way the program sets up its posts, for the account alice/secret.
inline THttpCliRequest servicePost(const QByteArray& url, const QByteArray& body,
                                   const QByteArray& contentType = "application/x-www-form-urlencoded",
                                   const QString& user = QStringLiteral("alice"),
                                   const QString& password = QStringLiteral("secret"))
{
    return ServicePostRequest(TServiceAccount{QString(), user, password, {}}, url, body, contentType);
}
