#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QString>

#include <optional>

// The largest limit taken as a count (nine digits, which the posting dialog has room
// for). A larger one limits nothing a person types: it is taken as no limit.
inline constexpr int kMaxServerTextLimit = 999999999;

// A fediverse server that publishes no limit holds a status to this many characters.
inline constexpr int kFediverseTextLimit = 500;

// What the server publishes about itself: <config><site><textlimit> and
// <config><notice><contentlimit>. GNU social prints a setting of 0 as "false" and 1 as
// "true"; a numeric contentlimit replaces textlimit; Friendica publishes its import
// size (200000 by default) as textlimit.
struct TServerConfig {
    bool Read = false;                  // a <config> document was read and parsed
    std::optional<int> TextLimit;       // the published limit, 0 to kMaxServerTextLimit; 0: unlimited
    std::optional<int> LinkLength;      // what a link counts as, where published; else its own characters
    QString ScreenName;                 // the account's own screen name; empty: not known
};

// apiBase + "/statusnet/config.xml".
QString ServerConfigAddress(const QString& apiBase);

// A fediverse account's server: its /api/v2/instance configuration.statuses.max_characters,
// else /api/v1/instance (max_toot_chars, or the same configuration), else
// kFediverseTextLimit, and the characters_reserved_per_url beside the limit it took;
// read without the account's token.
// Otherwise reads the server's configuration document the way a timeline page is read (the
// blocking client, Basic authentication, the account's proxies and certificates, within
// bounds). Any failure leaves TextLimit empty; writes one line to the service category
// either way. Never throws; any thread may call it.
TServerConfig ReadServerConfig(const TServiceAccount& account, const TReadBounds& bounds);

// apiBase + "/account/verify_credentials.xml".
QString VerifyCredentialsAddress(const QString& apiBase);

// The account's own screen name, <user><screen_name> of verify_credentials, read the same
// way; empty when the read fails or the reply holds none. Never throws; any thread may call it.
QString ReadOwnScreenName(const TServiceAccount& account, const TReadBounds& bounds);
