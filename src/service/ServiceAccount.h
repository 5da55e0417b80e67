#pragma once

#include "http/NetworkOptions.h"

#include <QString>

// Where the service is and who signs the requests: the base address (no trailing
// slash; it may carry a path prefix such as "/api") and the Credentials.
struct TServiceAccount {
    QString ApiBase;
    QString AccountName;
    QString Password;
    TNetworkOptions Network;    // proxies and extra trusted certificates for every call

    bool HasCredentials() const { return !AccountName.isEmpty() && !Password.isEmpty(); }
};
