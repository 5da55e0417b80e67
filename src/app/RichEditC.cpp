#include "app/RichEditC.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

TRichEditC::TRichEditC(QWidget* parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    // Each new status (and each format change) must be marked again.
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (m_marking)
            return;
        m_dirty = true;
        if (m_detect)
            MarkLinks();
    });
}

void TRichEditC::SetAutoUrlDetect(bool on)
{
    m_detect = on;
    // Called on every mouse movement: only a changed text needs marking again.
    if (on && m_dirty)
        MarkLinks();
}

void TRichEditC::MarkLinks()
{
    // Formatting the document fires textChanged again.
    if (m_marking)
        return;
    m_marking = true;
    const QList<TLinkRange> links = FindLinks(toPlainText());
    // Cursors of our own: the user's selection stays untouched. Plain text carries no
    // colour of its own, so it follows the box's palette in every display mode.
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.setCharFormat(QTextCharFormat());
    for (const TLinkRange& link : links) {
        QTextCursor c(document());
        c.setPosition(link.Start);
        c.setPosition(link.Start + link.Length, QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setAnchor(true);
        f.setAnchorHref(link.Text);
        f.setFontUnderline(true);
        f.setForeground(QColor(0x33, 0x66, 0xFF));
        c.mergeCharFormat(f);
    }
    m_links = links;
    m_dirty = false;
    m_marking = false;
}

// Measured from where each line puts the link's first and last character, the way the
// glyphs are painted: the box's own hit test can land a character or more beside what is
// drawn, on plain text next to a link or on the neighbouring link.
bool TRichEditC::Covers(const TLinkRange& link, const QPointF& point) const
{
    const QTextBlock block = document()->findBlock(link.Start);
    const QTextLayout* layout = block.layout();
    if (!layout)
        return false;
    const QPointF origin = document()->documentLayout()->blockBoundingRect(block).topLeft();
    const int from = link.Start - block.position();
    const int to = from + link.Length;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const int start = std::max(from, line.textStart());
        const int end = std::min(to, line.textStart() + line.textLength());
        if (start >= end)
            continue;
        const qreal x1 = line.cursorToX(start), x2 = line.cursorToX(end);
        const QRectF drawn(origin.x() + std::min(x1, x2), origin.y() + line.y(), std::abs(x2 - x1), line.height());
        if (drawn.contains(point))
            return true;
    }
    return false;
}

std::optional<TLinkRange> TRichEditC::LinkAt(const QPoint& pos) const
{
    if (!m_detect || m_dirty)
        return std::nullopt;
    const QPointF point(pos.x() + horizontalScrollBar()->value(), pos.y() + verticalScrollBar()->value());
    for (const TLinkRange& link : m_links) {
        if (Covers(link, point))
            return link;
    }
    return std::nullopt;
}

void TRichEditC::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        m_leftPress = e->globalPosition().toPoint();
    // A left press on a link would move the text cursor and drop the user's selection.
    if (e->button() == Qt::LeftButton && LinkAt(e->position().toPoint())) {
        e->accept();
        return;
    }
    QTextEdit::mousePressEvent(e);
}

void TRichEditC::mouseReleaseEvent(QMouseEvent* e)
{
    const std::optional<TLinkRange> link = e->button() == Qt::LeftButton ? LinkAt(e->position().toPoint()) : std::nullopt;
    QString href = link ? link->Text : QString();
    // The box is also a handle for moving the window: a drag that ends on a link is no click.
    if (!href.isEmpty() && m_leftPress
        && (e->globalPosition().toPoint() - *m_leftPress).manhattanLength() > QApplication::startDragDistance())
        href.clear();
    if (e->button() == Qt::LeftButton)
        m_leftPress.reset();
    if (href.isEmpty()) {
        QTextEdit::mouseReleaseEvent(e);
        return;
    }
    const QTextCursor selection = textCursor();
    QTextEdit::mouseReleaseEvent(e);
    setTextCursor(selection);
    const QUrl url = LinkTarget(href);
    if (!url.isValid())
        return;
    Q_EMIT LinkOpened(url);
    QDesktopServices::openUrl(url);
}

void TRichEditC::mouseMoveEvent(QMouseEvent* e)
{
    const bool overLink = LinkAt(e->position().toPoint()).has_value();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
    QTextEdit::mouseMoveEvent(e);
}
