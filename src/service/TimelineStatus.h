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
    QString RepeatedBy;         // the name of who repeated it into the timeline; empty when nobody did
    // Behind a content warning: Text is the warning alone, and this the status itself,
    // shown only when the user selects the row. Empty when there is no warning.
    QString Detail;
    bool Seen = false;          // the user has seen it (selected, or on view long enough)
    bool Offline = false;       // from the offline copy, not from the server in this run

    bool IsFavorite() const { return Favorited == QLatin1String("true"); }
    bool operator==(const TTimelineStatus&) const = default;
};

// Whether id can stand for a status: ids are opaque (decimal numbers, ULIDs, FlakeIds
// alike), so only what would break a request path or the offline copy is refused: an
// empty or overlong id, or a character outside the unreserved ones of an address.
inline bool IsUsableStatusId(const QString& id)
{
    if (id.isEmpty() || id.size() > 128)
        return false;
    for (const QChar c : id) {
        const bool unreserved = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                             || c == u'-' || c == u'.' || c == u'_' || c == u'~';
        if (!unreserved)
            return false;
    }
    return true;
}
