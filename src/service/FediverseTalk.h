#pragma once

#include "service/PostJob.h"
#include "service/ServiceAccount.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Talking to a server of the fediverse's client API: posts, favourites and repeats. The
// starters in ServicePost.h and FavoriteRoute.h come here for a fediverse account.

// A request to the client API: the account's token as "Authorization: Bearer" (the
// account and password as Basic when it has none), JSON asked for, otherwise as every
// post of the program is sent.
THttpCliRequest ClientApiRequest(const TServiceAccount& account, const QByteArray& url, const QByteArray& body);

// The form body of a status: "status" as typed (breaks as "\n") and, for a reply,
// "in_reply_to_id" with the answered status's id as it came.
QByteArray ClientApiStatusBody(const QString& typed, const QString& inReplyToId);

// Posts formBody to "/api/v1/statuses" with an Idempotency-Key: a fresh one for a new
// post, the same one while the same body to the same account has not been accepted, so
// a post sent again after its answer was lost appears once.
TPostJob* StartClientApiStatus(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody);

// "/api/v1/statuses/<id>/favourite" and ".../reblog", the id percent-encoded as it came.
// An empty id is refused before anything is sent.
std::optional<TPostJob::TStep> ClientApiFavoriteStep(const TServiceAccount& account, const QString& statusId);
std::optional<TPostJob::TStep> ClientApiReblogStep(const TServiceAccount& account, const QString& statusId);

// The length of a status as the client API's servers count it: characters a reader sees
// (grapheme clusters), each web address as linkLength whatever its length where the
// server published that, else as its own characters.
int ClientApiStatusLength(const QString& typed, std::optional<int> linkLength);
