#include "service/TimelineCache.h"

#include "settings/OwnerOnlyFile.h"
#include "text/Logging.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>

namespace {

const QString kFormat = QStringLiteral("brimlark-timeline");
constexpr int kVersion = 1;
// A thousand rows of even long statuses stay far below this; anything larger is not ours.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

bool Fail(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
    return false;
}

bool ReadRow(const QJsonValue& value, qsizetype index, TTimelineCache& cache, QList<TTimelineStatus>& into,
             QString* reason)
{
    // Where the fault is, spelled out only when there is one.
    const auto fail = [&](const QString& what) {
        return Fail(reason, QStringLiteral("row %1: ").arg(index + 1) + what);
    };
    if (!value.isObject())
        return fail(QStringLiteral("not an object"));
    const QJsonObject row = value.toObject();
    QString fields[4];
    const char* const keys[4] = {"id", "name", "text", "favorited"};
    for (int k = 0; k < 4; ++k) {
        const QJsonValue field = row.value(QLatin1String(keys[k]));
        if (!field.isString())
            return fail(QStringLiteral("\"%1\" missing or not a string").arg(QLatin1String(keys[k])));
        fields[k] = field.toString();
    }
    const QJsonValue seen = row.value(QLatin1String("seen"));
    if (!seen.isBool())
        return fail(QStringLiteral("\"seen\" missing or not true/false"));
    TTimelineStatus status;
    status.Id = std::move(fields[0]);
    status.Name = std::move(fields[1]);
    status.Text = std::move(fields[2]);
    status.Favorited = std::move(fields[3]);
    if (!IsUsableStatusId(status.Id))
        return fail(QStringLiteral("id is not a status id"));
    // Kept since replies, web pages, repeats and warnings came; older files have none of them.
    QString* const optionalFields[] = {&status.ScreenName, &status.InReplyToId, &status.ExternalUrl,
                                       &status.RepeatedBy, &status.Detail};
    const char* const optionalKeys[] = {"screenName", "inReplyTo", "externalUrl", "repeatedBy", "detail"};
    for (int k = 0; k < int(std::size(optionalKeys)); ++k) {
        const QJsonValue field = row.value(QLatin1String(optionalKeys[k]));
        if (field.isUndefined())
            continue;
        if (!field.isString())
            return fail(QStringLiteral("\"%1\" not a string").arg(QLatin1String(optionalKeys[k])));
        *optionalFields[k] = field.toString();
    }
    if (seen.toBool())
        cache.SeenIds.insert(status.Id);
    into.append(std::move(status));
    return true;
}

// One list of rows under key; an absent optional one is empty.
bool ReadRows(const QJsonObject& top, const char* key, bool optional, TTimelineCache& cache,
              QList<TTimelineStatus>& into, QString* reason)
{
    const QJsonValue rows = top.value(QLatin1String(key));
    if (optional && rows.isUndefined())
        return true;
    if (!rows.isArray())
        return Fail(reason, QStringLiteral("no row list"));
    const QJsonArray list = rows.toArray();
    if (list.size() > kTimelineCacheRows)
        return Fail(reason, QStringLiteral("more than %1 rows").arg(kTimelineCacheRows));
    into.reserve(list.size());
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!ReadRow(list.at(i), i, cache, into, reason))
            return false;
    }
    return true;
}

bool ParseCache(const QByteArray& data, TTimelineCache& cache, QString* reason)
{
    if (data.isEmpty())
        return Fail(reason, QStringLiteral("empty file"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Fail(reason, QStringLiteral("not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset));
    const QJsonObject top = document.object();
    if (!document.isObject() || top.value(QLatin1String("format")).toString() != kFormat)
        return Fail(reason, QStringLiteral("not a timeline cache"));
    const QJsonValue version = top.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != kVersion)
        return Fail(reason, QStringLiteral("unknown version"));
    // Without a zone the time would be taken as local, a different moment.
    const QDateTime readAt = QDateTime::fromString(top.value(QLatin1String("readAt")).toString(), Qt::ISODateWithMs);
    if (!readAt.isValid() || readAt.timeSpec() == Qt::LocalTime)
        return Fail(reason, QStringLiteral("no valid read time"));
    cache.ReadAt = readAt.toUTC();
    cache.MentionsRead = top.contains(QLatin1String("mentions"));
    // An extra key, so that a program that does not know it still reads the rest.
    const QJsonValue owner = top.value(QLatin1String("owner"));
    if (!owner.isUndefined() && !owner.isString())
        return Fail(reason, QStringLiteral("\"owner\" not a string"));
    cache.Owner = owner.toString();
    return ReadRows(top, "rows", false, cache, cache.Rows, reason)
        && ReadRows(top, "mentions", true, cache, cache.MentionRows, reason);
}

bool ReadCacheFile(const QString& fileName, TTimelineCache& cache, QString* reason)
{
    // A pipe or a device would block or never end; a folder cannot be read at all.
    if (!QFileInfo(fileName).isFile())
        return Fail(reason, QStringLiteral("not a regular file"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(reason, QStringLiteral("not readable: %1").arg(file.errorString()));
    const QByteArray data = file.read(kMaxFileSize + 1);
    if (data.size() > kMaxFileSize)
        return Fail(reason, QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    return ParseCache(data, cache, reason);
}

} // namespace

QString TimelineCacheOwner(const QString& account, const QString& apiBase)
{
    // Neither a settings line nor an address holds a line break: no two pairs join alike.
    const QByteArray pair = (account + u'\n' + apiBase).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(pair, QCryptographicHash::Sha256).toHex());
}

bool SaveTimelineCache(const QString& fileName, const TTimelineCache& cache, QString* error)
{
    if (!cache.ReadAt.isValid())
        return Fail(error, QStringLiteral("no valid read time"));
    QJsonObject top{{QStringLiteral("format"), kFormat},
                    {QStringLiteral("version"), kVersion},
                    {QStringLiteral("readAt"), cache.ReadAt.toUTC().toString(Qt::ISODateWithMs)},
                    {QStringLiteral("rows"), QJsonValue::Null}};
    if (cache.MentionsRead || !cache.MentionRows.isEmpty())
        top.insert(QStringLiteral("mentions"), QJsonValue::Null);
    if (!cache.Owner.isEmpty())
        top.insert(QStringLiteral("owner"), cache.Owner);
    // Written row by row into the file's bytes rather than made one tree first: a
    // thousand rows as JSON objects take several times the memory of their text. The
    // bytes are the tree's written compact: keys in order, no spaces.
    QByteArray data;
    data += '{';
    for (auto key = top.constBegin(); key != top.constEnd(); ++key) {
        if (key != top.constBegin())
            data += ',';
        // "key":value, as the compact writer puts it.
        const QByteArray pair = QJsonDocument(QJsonObject{{key.key(), *key}}).toJson(QJsonDocument::Compact);
        if (!key->isNull()) {
            data += QByteArrayView(pair).sliced(1, pair.size() - 2);
            continue;
        }
        data += QByteArrayView(pair).first(pair.indexOf(':') + 1).sliced(1);
        const QList<TTimelineStatus>& rows = key.key() == QLatin1String("rows") ? cache.Rows : cache.MentionRows;
        data += '[';
        const qsizetype kept = std::min<qsizetype>(rows.size(), kTimelineCacheRows);
        for (qsizetype i = 0; i < kept; ++i) {
            const TTimelineStatus& row = rows.at(i);
            // The loader refuses such a row, and with it the whole file.
            if (!IsUsableStatusId(row.Id))
                return Fail(error, QStringLiteral("row %1: id is not a status id").arg(i + 1));
            QJsonObject object{{QStringLiteral("id"), row.Id},
                               {QStringLiteral("name"), row.Name},
                               {QStringLiteral("text"), row.Text},
                               {QStringLiteral("favorited"), row.Favorited},
                               {QStringLiteral("seen"), cache.SeenIds.contains(row.Id)}};
            // Only what a row has: most statuses answer nothing and have no page of their own.
            if (!row.ScreenName.isEmpty())
                object.insert(QStringLiteral("screenName"), row.ScreenName);
            if (!row.InReplyToId.isEmpty())
                object.insert(QStringLiteral("inReplyTo"), row.InReplyToId);
            if (!row.ExternalUrl.isEmpty())
                object.insert(QStringLiteral("externalUrl"), row.ExternalUrl);
            if (!row.RepeatedBy.isEmpty())
                object.insert(QStringLiteral("repeatedBy"), row.RepeatedBy);
            if (!row.Detail.isEmpty())
                object.insert(QStringLiteral("detail"), row.Detail);
            if (i > 0)
                data += ',';
            data += QJsonDocument(object).toJson(QJsonDocument::Compact);
            if (data.size() > kMaxFileSize)
                return Fail(error, QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
        }
        data += ']';
    }
    data += '}';
    if (data.size() > kMaxFileSize)
        return Fail(error, QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    const QString folder = QFileInfo(fileName).absolutePath();
    if (!QFileInfo::exists(folder) && !MakeOwnerOnlyFolder(folder, error))
        return false;
    return WriteOwnerOnlyFileAtomically(fileName, data, error);
}

std::optional<TTimelineCache> LoadTimelineCache(const QString& fileName, QString* why)
{
    // A link to a missing file counts as missing too: nothing was ever saved there.
    if (!QFileInfo::exists(fileName)) {
        Fail(why, QStringLiteral("no cache file"));
        return std::nullopt;
    }
    TTimelineCache cache;
    QString reason;
    if (!ReadCacheFile(fileName, cache, &reason)) {
        qCInfo(lcService).noquote() << "timeline cache" << fileName << "ignored:" << reason;
        Fail(why, reason);
        return std::nullopt;
    }
    return cache;
}
