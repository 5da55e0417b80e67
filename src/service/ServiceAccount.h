#pragma once

#include "http/NetworkOptions.h"

#include <QString>

// Where the service is and who signs the requests: the base address (no trailing
// slash; it may carry a path prefix such as "/api") and the Credentials.
struct TServiceAccount {
    TServiceAccount() = default;
    TServiceAccount(QString apiBase, QString accountName, QString password, TNetworkOptions network = {})
        : ApiBase(std::move(apiBase)), AccountName(std::move(accountName)), Password(std::move(password)),
          Network(std::move(network))
    {
    }

    QString ApiBase;
    QString AccountName;
    QString Password;
    TNetworkOptions Network;    // proxies and extra trusted certificates for every call

    bool operator==(const TServiceAccount&) const = default;

    bool HasCredentials() const { return !AccountName.isEmpty() && !Password.isEmpty(); }
};

// The password would cross the network readable by anyone on the path: a plain http
// address whose host is not on this machine's loopback network.
bool SendsPasswordInTheClear(const QString& apiBase);
