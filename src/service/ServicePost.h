#pragma once

#include "settings/Settings.h"

#include <QByteArray>
#include <QStringList>

class QIODevice;
class THttpCli;

// Configures a client for one POST to the service, the same way for a status and for a
// favourite: the body, a direct connection, "Connection: close", the reply dropped, the
// content type, HTTP/1.1, Basic authentication with the account, "Accept-Language:
// ja,en,fr".
void PrepareServicePost(THttpCli& client, const QByteArray& url, QIODevice* body,
                        const QByteArray& contentType, const TMainState& state);

// The two status lines that report a post the service did not accept.
QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase);
