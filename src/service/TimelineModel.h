#pragma once

#include "service/TimelineStatus.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

// The status's page on the web: the server's own address for it (Friendica's
// external_url) when that is an http or https address, otherwise "<site>/notice/<id>"
// (GNU social), where the site is the API base without its trailing "/api". Invalid
// when neither gives an http or https address.
QUrl StatusPageAddress(const TTimelineStatus& status, const QString& apiBase);

// The statuses of a timeline in list order, newest first: the list shows its two columns
// (name, text); the strip, the star, the unseen marks, the offline copy and the
// notifications read the typed rows through At() and the roles.
class TTimelineModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { NameColumn, TextColumn, ColumnCount };
    enum TRole {
        IdRole = Qt::UserRole + 1,
        FavoritedRole,          // the flag as sent
        FavoriteRole,           // bool
        SeenRole,               // bool
        OfflineRole,            // bool
        ScreenNameRole,
        InReplyToRole,
    };

    explicit TTimelineModel(QObject* parent = nullptr);

    // The status as the list and the strip show it: who repeated it, and a warning's mark
    // with the warning alone. DetailText adds what the warning hides, for the selected row.
    static QString RowText(const TTimelineStatus& status);
    static QString DetailText(const TTimelineStatus& status);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int Count() const { return int(m_rows.size()); }
    bool IsEmpty() const { return m_rows.isEmpty(); }
    // The row; row must be in range.
    const TTimelineStatus& At(int row) const { return m_rows.at(row); }
    const QList<TTimelineStatus>& Rows() const { return m_rows; }
    // The first row of that status, or -1.
    int IndexOf(const QString& id) const;
    QSet<QString> Ids() const;
    int UnseenCount() const;

    void Clear();
    void Append(const QList<TTimelineStatus>& rows);
    // Newer statuses above every row.
    void Prepend(const QList<TTimelineStatus>& rows);
    // Every row of that status (a reload may have put it twice) is a favourite now.
    void SetFavorite(const QString& id);
    // Every row of that status is seen; false when none changed.
    bool MarkSeen(const QString& id);

private:
    void rowsChanged(int first, int last);

    QList<TTimelineStatus> m_rows;
    QString m_headers[ColumnCount];
};
