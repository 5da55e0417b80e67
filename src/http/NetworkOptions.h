#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A proxy from "http://[user[:password]@]host[:port]"; its credentials go to it alone.
struct TProxy {
    QByteArray Host;
    quint16 Port = 8080;
    QByteArray User;
    QByteArray Password;

    bool operator==(const TProxy&) const = default;
};

// How both clients reach a service: which proxy for which scheme, which hosts go
// direct, and which authorities to trust besides the system's.
struct TNetworkOptions {
    QString CaFile;                     // PEM file of extra trusted certificates; empty: none
    std::optional<TProxy> HttpProxy;    // for http:// addresses
    std::optional<TProxy> HttpsProxy;   // for https:// addresses (through CONNECT)
    QList<QByteArray> NoProxy;          // hosts and domain suffixes that go direct; "*": all

    bool operator==(const TNetworkOptions&) const = default;
};

// A proxy address as users write it ("host:port", "http://user:pw@host:port/"); nothing
// when it cannot be read. Its credentials follow ChooseCredentials (ConnectionPlan.h).
std::optional<TProxy> ParseProxy(const QByteArray& text);

// The proxies from the environment (https_proxy, http_proxy and no_proxy, the lower-
// case name first, then the upper-case one), unless proxySetting (the settings key
// "Proxy") says otherwise: "none" turns proxies off, an address is used for both
// schemes. caFile goes into the result as it is.
TNetworkOptions ResolveNetworkOptions(const QString& proxySetting, const QString& caFile);

// The proxy for a request, or nothing when it goes direct.
std::optional<TProxy> ProxyFor(const TNetworkOptions& options, const QByteArray& scheme, const QByteArray& host);
