#pragma once

#include "service/TimelineStatus.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// The last timeline read, kept on disk so that a start-up without the service still
// has something to show, and which of its statuses the user has already seen.
struct TTimelineCache {
    QDateTime ReadAt;           // UTC time of the read the rows came from
    QList<TTimelineStatus> Rows;    // list order, newest first; their marks are not kept
    QList<TTimelineStatus> MentionRows;  // the mentions tab's, the same way (absent in older files)
    bool MentionsRead = false;      // the mentions were read once: their list is kept, even empty
    QSet<QString> SeenIds;
    // Whose lists they are (TimelineCacheOwner); empty in files written before it was kept.
    QString Owner;
};

// The mark of one account on one server, kept beside the rows: a digest, so the file
// names neither.
QString TimelineCacheOwner(const QString& account, const QString& apiBase);

// The newest rows kept; older ones are dropped on saving.
constexpr int kTimelineCacheRows = 1000;

// Writes the first kTimelineCacheRows rows of each list (with the screen name, the id a
// status answers and its web page where it has them), the seen marks of those rows, the
// read time and the owner's mark, and nothing else: no credentials, no address. Replaces
// the file in one step, owner-only, whatever it held before; its folder is made
// owner-only when missing.
// Refuses (false with a reason, the old file untouched) what could not be read back:
// no valid read time, a kept row whose id is not decimal digits, or a file too large.
// Texts come back exactly, control characters included; a lone surrogate may come
// back as U+FFFD.
bool SaveTimelineCache(const QString& fileName, const TTimelineCache& cache, QString* error);

// The cache as saved, or nothing with a one-line reason (why, when given): a missing
// file, or one that is truncated, corrupt, too large or not a cache of this version.
// Never part of a list. A file that exists and is refused is logged once, with the
// reason; a missing one is not.
std::optional<TTimelineCache> LoadTimelineCache(const QString& fileName, QString* why);
