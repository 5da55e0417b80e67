#pragma once

#include <QStyledItemDelegate>

// How the status list draws a row of the timeline model: each cell as the style draws
// it, above a light grid line along its bottom edge; the selection always in the active
// colours (also while a read disables the list or the window is inactive); the name of
// a status not seen yet in bold, and a row from the offline copy in grey.
class TStatusListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The line's pixel row comes on top of the row's own height.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The options a cell is drawn with, from the view's own (font, palette).
    QStyleOptionViewItem CellOption(const QStyleOptionViewItem& viewOption, const QModelIndex& index) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
