#pragma once

#include <QString>

// One status as a timeline holds it: what the server sent about it, and the marks the
// program keeps beside (seen by the user, shown from the offline copy).
struct TTimelineStatus {
    QString Id;
    QString Name;               // user/name, the row's caption
    QString ScreenName;         // user/screen_name
    QString Text;
    QString Favorited;          // as the service sent it: a favourite only when "true"
    QString InReplyToId;        // in_reply_to_status_id; empty when it answers nothing
    QString ExternalUrl;        // the server's own web page of it, when it gives one
    bool Seen = false;          // the user has seen it (selected, or on view long enough)
    bool Offline = false;       // from the offline copy, not from the server in this run

    bool IsFavorite() const { return Favorited == QLatin1String("true"); }
    bool operator==(const TTimelineStatus&) const = default;
};
