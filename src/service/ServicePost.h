#pragma once

#include "http/HttpCli.h"
#include "service/PostJob.h"
#include "service/ServiceAccount.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A POST to the service, the same way for a status and for a favourite: the body, a
// direct connection, "Connection: close", no reply stream (the job keeps the reply), the content type,
// HTTP/1.1, Basic authentication with the account, "Accept-Language: ja,en,fr".
THttpCliRequest ServicePostRequest(const TServiceAccount& account, const QByteArray& url,
                                   const QByteArray& body, const QByteArray& contentType);

// The text of a status as it is sent: breaks as CR LF, the first break's LF and the
// first CR removed, as UTF-8.
QByteArray StatusUpdateText(const QString& text);
// The body of a status update: "status=" + the form-encoded sent text + "&source=brimlark";
// a reply carries "&in_reply_to_status_id=<id>" after the status (an id that is not a
// status id is left out).
QByteArray StatusUpdateBody(const QByteArray& sentText, const QString& inReplyToId = {});

// The starters below send on client and return the job that reports the outcome
// (TPostJob::Finished, always from the event loop). A client busy with another request
// refuses: the job reports code 1 and the running request is left alone.

// Posts a status body to the account's service: "/statuses/update.xml", or on the
// fediverse "/api/v1/statuses" with its idempotency key.
TPostJob* StartStatusPost(THttpCli& client, const TServiceAccount& account, const QByteArray& formBody);

// The body of a status as the account's service takes it, from the text as typed: the
// classic StatusUpdateBody(StatusUpdateText(typed)), or the client API's form.
QByteArray StatusPostBody(const TServiceAccount& account, const QString& typed, const QString& inReplyToId = {});

// How long a status is as the account's service counts it: Shown for the live count,
// Counted against the limit. The classic family counts UTF-16 units, a break as two in
// the count and the sent text against the limit; the fediverse counts what a reader sees,
// each web address as the linkLength its server published (else as its own characters),
// both the same.
struct TStatusLength {
    int Shown = 0;
    int Counted = 0;
};
TStatusLength MeasureStatus(const TServiceAccount& account, const QString& typed, std::optional<int> linkLength);

// The limit the service holds a status to before it has published one: none known for
// the classic family (its historic 140 stands), 500 on the fediverse.
std::optional<int> UnpublishedTextLimit(const TServiceAccount& account);

// Only plain decimal digits: a status id goes into a request path.
bool IsStatusId(const QString& id);
// An id the account's service can be asked about: a status id for the classic family;
// any id the server gave on the fediverse, whose ids are opaque strings (encoded where
// they go into a path).
bool IsServiceStatusId(const TServiceAccount& account, const QString& id);

// The same favourite to "/favorites/create.xml", the id in the body alone: the route of
// servers that have no "/favorites/create/<id>.xml" (Friendica).
TPostJob* StartFavoriteById(THttpCli& client, const TServiceAccount& account, const QString& statusId);

// Marks a status as a favourite: "id=<id>" to "/favorites/create/<id>.xml", the address
// written as a diagnostic line first. An id that is not a status id is refused before
// anything is sent (ConnectionFailure, nothing on the wire).
TPostJob* StartFavorite(THttpCli& client, const TServiceAccount& account, const QString& statusId);

// Repeats a status: an empty form body to "/statuses/retweet/<id>.xml" (on the
// fediverse "/api/v1/statuses/<id>/reblog"). An id that is not a status id is refused
// before anything is sent. The address is written as a diagnostic line first.
TPostJob* StartRetweet(THttpCli& client, const TServiceAccount& account, const QString& statusId);

// The steps the starters send, for a caller that chains them (TFavoriteRoute). Each
// writes its address as a diagnostic line when made; nothing for an id that is not a
// status id.
std::optional<TPostJob::TStep> FavoriteStep(const TServiceAccount& account, const QString& statusId);
std::optional<TPostJob::TStep> FavoriteByIdStep(const TServiceAccount& account, const QString& statusId);

// The two status lines that report a post the service answered and did not accept.
QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase);
// Those two lines for a refusal the service sent, then its own words when it gave any; for
// a success that is not a status, one line that says so; for a post it never answered,
// the one line that says why.
QStringList PostFailureLines(const TPostOutcome& outcome);
