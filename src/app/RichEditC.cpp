#include "app/RichEditC.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextDocument>

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

void TRichEditC::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        m_leftPress = e->globalPosition().toPoint();
    // A left press on a link would move the text cursor and drop the user's selection.
    if (e->button() == Qt::LeftButton && !anchorAt(e->position().toPoint()).isEmpty()) {
        e->accept();
        return;
    }
    QTextEdit::mousePressEvent(e);
}

void TRichEditC::mouseReleaseEvent(QMouseEvent* e)
{
    QString href = e->button() == Qt::LeftButton ? anchorAt(e->position().toPoint()) : QString();
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
    const bool overLink = !anchorAt(e->position().toPoint()).isEmpty();
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
    QTextEdit::mouseMoveEvent(e);
}
