#pragma once

#include "app/LinkDetect.h"

#include <QList>
#include <QPoint>
#include <QTextEdit>
#include <QUrl>

#include <optional>

// Read-only status text that shows the web addresses in it as links. Releasing the left
// button over a link opens it (http and https only) and leaves the user's selection as it
// was; every other mouse action behaves like a plain read-only text box.
class TRichEditC : public QTextEdit {
    Q_OBJECT
public:
    explicit TRichEditC(QWidget* parent = nullptr);

    // Switches link marking on (re-marking the current text) or off.
    void SetAutoUrlDetect(bool on);
    bool AutoUrlDetect() const { return m_detect; }

    // The links currently marked, in text order.
    QList<TLinkRange> Links() const { return m_links; }
    // The link drawn under pos (viewport coordinates): its glyphs' boxes on their lines,
    // as painted. Nothing over plain text, between lines or beyond a line's end.
    std::optional<TLinkRange> LinkAt(const QPoint& pos) const;

Q_SIGNALS:
    // Emitted just before the address is handed to the desktop.
    void LinkOpened(const QUrl& url);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void MarkLinks();
    bool Covers(const TLinkRange& link, const QPointF& point) const;

    bool m_detect = true;
    bool m_marking = false;
    bool m_dirty = true;
    std::optional<QPoint> m_leftPress;  // screen position of the current left press
    QList<TLinkRange> m_links;
};
