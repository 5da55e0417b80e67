#pragma once

#include "http/NetworkOptions.h"

#include <QString>
#include <QStringList>

struct TMainState;

// Where the service is and how every call reaches it: the base address and the network
// options (proxies, extra trusted certificates), resolved together and once.
struct TServiceEndpoint {
    QString ApiBase;
    TNetworkOptions Network;
    QString Error;              // the status line for an address that cannot be used; empty when it can

    bool operator==(const TServiceEndpoint&) const = default;
};

// The endpoint the command line, the environment and the settings name: the address
// (--api, BRIMLARK_API, API=, the default), the CA file (--ca-file, BRIMLARK_CA_FILE,
// CAFile=) and the proxies (Proxy=, then the environment).
TServiceEndpoint ResolveServiceEndpoint(const QStringList& arguments, const TMainState& state);

// Which interface the service speaks: the classic REST one with XML replies and Basic
// authentication, or the fediverse's common client API (JSON, OAuth bearer tokens).
enum class TServiceFamily { Classic, Fediverse };

// Where the service is and who signs the requests: the base address (no trailing
// slash; it may carry a path prefix such as "/api"), the Credentials and the network
// options. There is no way to make one without saying how the network is reached, so
// no call can leave the proxies or the CA file behind.
struct TServiceAccount {
    TServiceAccount() = default;
    TServiceAccount(const TServiceEndpoint& endpoint, QString accountName, QString password)
        : TServiceAccount(endpoint.ApiBase, std::move(accountName), std::move(password), endpoint.Network)
    {
    }
    TServiceAccount(QString apiBase, QString accountName, QString password, TNetworkOptions network)
        : ApiBase(std::move(apiBase)), AccountName(std::move(accountName)), Password(std::move(password)),
          Network(std::move(network))
    {
    }

    QString ApiBase;
    QString AccountName;
    QString Password;
    TNetworkOptions Network;    // proxies and extra trusted certificates for every call
    TServiceFamily Family = TServiceFamily::Classic;
    // Fediverse: the access token sent as "Authorization: Bearer"; when empty, the account
    // and password go as Basic (a server that accepts them on its client API). Never logged.
    QString Token;

    bool operator==(const TServiceAccount&) const = default;

    bool HasCredentials() const
    {
        return (Family == TServiceFamily::Fediverse && !Token.isEmpty())
            || (!AccountName.isEmpty() && !Password.isEmpty());
    }
};

// scheme://host[:port] of an address, lower-cased, the port only when not the scheme's
// own; empty for an address that is not http or https.
QString OriginOf(const QString& address);

// The account the settings name for the endpoint's address: the fediverse's, at the
// address's origin and with its token, when the settings found that origin to speak it;
// the classic one with the account name and password otherwise.
TServiceAccount AccountOf(const TMainState& state, const TNetworkOptions& network);

// The password would cross the network readable by anyone on the path: a plain http
// address whose host is not on this machine's loopback network.
bool SendsPasswordInTheClear(const QString& apiBase);
