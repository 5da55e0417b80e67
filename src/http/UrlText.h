#pragma once

#include <QByteArray>

// URL pieces both clients share.
//
// Each client keeps its own splitter because their rules differ on purpose. The
// blocking client (the timeline GET) turns backslashes into slashes, ends the
// authority at the first "/", takes the user part up to the first "@", starts the query
// at "?" or, failing that, at "=", and keeps the path's folder and document apart. The
// event-driven client (the POSTs) ends the authority at "/" or "?", takes the user part
// up to the last "@", reads IPv6 literals in brackets and keeps the path whole.

// "user[:password]@rest" split at the first or the last "@".
struct TUserInfo {
    bool Present = false;       // there was an "@"
    QByteArray User;
    QByteArray Password;
    QByteArray Rest;            // what follows the "@" (all of it when there is none)
};
enum class TAtSign { First, Last };
TUserInfo SplitUserInfo(const QByteArray& authority, TAtSign at);

// Names under the reserved "invalid" domain never resolve: they are refused without
// asking the resolver, so no query leaves the machine. Any case, a final dot allowed.
bool IsReservedInvalidName(const QByteArray& host);
