#include "service/TimelineModel.h"

#include "service/ServicePost.h"

#include <algorithm>

namespace {

bool IsWebAddress(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

QUrl StatusPageAddress(const TTimelineStatus& status, const QString& apiBase)
{
    const QUrl own(status.ExternalUrl, QUrl::StrictMode);
    if (IsWebAddress(own))
        return own;
    if (!IsStatusId(status.Id))
        return {};
    QString site = apiBase;
    while (site.endsWith(u'/'))
        site.chop(1);
    if (site.endsWith(QLatin1String("/api")))
        site.chop(4);
    const QUrl page(site + QStringLiteral("/notice/") + status.Id, QUrl::StrictMode);
    return IsWebAddress(page) ? page : QUrl();
}

TTimelineModel::TTimelineModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_headers[NameColumn] = tr("名前");
    m_headers[TextColumn] = tr("つぶやき");
}

QString TTimelineModel::RowText(const TTimelineStatus& status)
{
    QString text;
    if (!status.RepeatedBy.isEmpty())
        text += tr("[%1 がリピート] ").arg(status.RepeatedBy);
    if (!status.Detail.isEmpty())
        text += tr("[注意] ");
    return text.isEmpty() ? status.Text : text + status.Text;
}

QString TTimelineModel::DetailText(const TTimelineStatus& status)
{
    const QString row = RowText(status);
    return status.Detail.isEmpty() ? row : row + QStringLiteral("\n\n") + status.Detail;
}

int TTimelineModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

int TTimelineModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TTimelineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const TTimelineStatus& status = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == NameColumn ? status.Name : RowText(status);
    case IdRole:
        return status.Id;
    case FavoritedRole:
        return status.Favorited;
    case FavoriteRole:
        return status.IsFavorite();
    case SeenRole:
        return status.Seen;
    case OfflineRole:
        return status.Offline;
    case ScreenNameRole:
        return status.ScreenName;
    case InReplyToRole:
        return status.InReplyToId;
    default:
        return {};
    }
}

QVariant TTimelineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return m_headers[section];
    return {};
}

int TTimelineModel::IndexOf(const QString& id) const
{
    for (int i = 0; i < Count(); ++i) {
        if (m_rows.at(i).Id == id)
            return i;
    }
    return -1;
}

QSet<QString> TTimelineModel::Ids() const
{
    QSet<QString> ids;
    ids.reserve(Count());
    for (const TTimelineStatus& status : m_rows)
        ids.insert(status.Id);
    return ids;
}

int TTimelineModel::UnseenCount() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const TTimelineStatus& s) { return !s.Seen; }));
}

void TTimelineModel::Clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void TTimelineModel::Append(const QList<TTimelineStatus>& rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows({}, Count(), Count() + int(rows.size()) - 1);
    m_rows.append(rows);
    endInsertRows();
}

void TTimelineModel::Prepend(const QList<TTimelineStatus>& rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows({}, 0, int(rows.size()) - 1);
    m_rows = rows + m_rows;
    endInsertRows();
}

void TTimelineModel::rowsChanged(int first, int last)
{
    Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void TTimelineModel::SetFavorite(const QString& id)
{
    for (int i = 0; i < Count(); ++i) {
        if (m_rows.at(i).Id == id && !m_rows.at(i).IsFavorite()) {
            m_rows[i].Favorited = QStringLiteral("true");
            rowsChanged(i, i);
        }
    }
}

bool TTimelineModel::MarkSeen(const QString& id)
{
    bool changed = false;
    for (int i = 0; i < Count(); ++i) {
        if (m_rows.at(i).Id == id && !m_rows.at(i).Seen) {
            m_rows[i].Seen = true;
            rowsChanged(i, i);
            changed = true;
        }
    }
    return changed;
}
