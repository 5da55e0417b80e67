#include "app/StatusListDelegate.h"

#include "service/TimelineModel.h"

#include <QPainter>

void TStatusListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == TTimelineModel::NameColumn && !index.data(TTimelineModel::SeenRole).toBool())
        option->font.setBold(true);
    // A reply that does not begin with its mention still says it is one.
    if (index.column() == TTimelineModel::TextColumn && !index.data(TTimelineModel::InReplyToRole).toString().isEmpty()
        && !option->text.startsWith(u'@'))
        option->text.prepend(QStringLiteral("\u2192 "));
    // Not what the server says now, but what it said last time.
    if (index.data(TTimelineModel::OfflineRole).toBool())
        option->palette.setColor(QPalette::Text, Qt::gray);
}

QStyleOptionViewItem TStatusListDelegate::CellOption(const QStyleOptionViewItem& viewOption, const QModelIndex& index) const
{
    QStyleOptionViewItem cell(viewOption);
    initStyleOption(&cell, index);
    return cell;
}

void TStatusListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem cell(option);
    cell.rect.setBottom(cell.rect.bottom() - 1);
    if (cell.state & QStyle::State_Selected) {
        for (const QPalette::ColorGroup group : {QPalette::Inactive, QPalette::Disabled}) {
            cell.palette.setBrush(group, QPalette::Highlight, option.palette.brush(QPalette::Active, QPalette::Highlight));
            cell.palette.setBrush(group, QPalette::HighlightedText,
                                  option.palette.brush(QPalette::Active, QPalette::HighlightedText));
        }
    }
    QStyledItemDelegate::paint(painter, cell, index);
    // The grid line under the cell: the same pixels as a line, without a pen's rasterising.
    painter->fillRect(QRect(option.rect.left(), option.rect.bottom(), option.rect.width(), 1), QColor(0xd8, 0xd8, 0xd8));
}

QSize TStatusListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 1);
}
