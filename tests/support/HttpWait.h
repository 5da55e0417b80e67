#pragma once
// A request of the event-driven client that waits for its end, for tests and
// measurements: the program itself goes on in a slot of Finished.

#include "http/HttpCli.h"

#include <QEventLoop>

// Starts the request and runs a loop of its own until Finished; a refusal is returned as
// it is. Only the application leaving its loops ends the wait early (the request is then
// aborted).
inline THttpCliResult PostAndWait(THttpCli& client, const THttpCliRequest& request)
{
    THttpCliResult result;
    if (!client.Start(request, &result))
        return result;
    QEventLoop loop;
    bool ended = false;
    const QMetaObject::Connection connection
        = QObject::connect(&client, &THttpCli::Finished, &loop, [&](const THttpCliResult& finished) {
              result = finished;
              ended = true;
              loop.quit();
          });
    loop.exec();
    if (!ended)
        client.Abort();
    QObject::disconnect(connection);
    return result;
}
