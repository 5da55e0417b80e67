#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QString>

#include <optional>

// A published limit above this is taken for a misconfigured or hostile server and
// ignored: the dialog keeps its own limit rather than counting against nonsense.
inline constexpr int kMaxServerTextLimit = 100000;

// What the server publishes about itself (GNU social: <config><site><textlimit>).
struct TServerConfig {
    bool Read = false;                  // a <config> document was read and parsed
    std::optional<int> TextLimit;       // the published limit, 0 to kMaxServerTextLimit; 0: unlimited
};

// apiBase + "/statusnet/config.xml".
QString ServerConfigAddress(const QString& apiBase);

// Reads the server's configuration document the way a timeline page is read (the
// blocking client, Basic authentication, the account's proxies and certificates, within
// bounds). Any failure leaves TextLimit empty; writes one line to the service category
// either way. Never throws; any thread may call it.
TServerConfig ReadServerConfig(const TServiceAccount& account, const TReadBounds& bounds);
