#pragma once
// What the main window's source files share: its fixed texts and sizes and two small
// helpers. Not for use outside the window.

#include <QColor>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPalette>
#include <QString>
#include <QTreeWidgetItem>
#include <QVariant>
#include <QWidget>

#include <functional>

namespace form1 {

inline const QString kTitle = QStringLiteral("Brimlark_Simple");
// Translated where they are used (TForm1::tr).
inline constexpr char kTitleMenuHint[] = QT_TRANSLATE_NOOP("TForm1", "Brimlark_Simple(右クリックでメニュー)");
inline constexpr char kRotationStopped[] = QT_TRANSLATE_NOOP("TForm1", "(ローテーション停止中)");
constexpr int kStripHeight = 77;
constexpr int kCompactClientHeight = 75;  // the height of the rounded frame
constexpr int kListOuterHeight = 400;
// Smaller than this is no window someone left open (a window never shown, a frame not
// yet known): such a size is neither restored nor saved.
constexpr int kMinFrameWidth = 100;
constexpr int kMinFrameHeight = 40;
constexpr int kTraceLines = 1000;         // newest status lines kept in the trace box
constexpr int kNameColumnWidth = 80;
constexpr int kTraceHeight = 32;

inline void SetColours(QWidget* w, const QColor& background, const QColor& text)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Left button alone, no modifier key: the only state that drags the window.
inline bool LeftAlone(const QMouseEvent* e)
{
    return e->buttons() == Qt::LeftButton && e->modifiers() == Qt::NoModifier;
}

// The central widget places its two parts itself: a layout would impose minimum sizes
// that keep the compact modes from shrinking to the strip.
class TClientArea : public QWidget {
public:
    explicit TClientArea(std::function<void()> onResize) : m_onResize(std::move(onResize)) {}

protected:
    void resizeEvent(QResizeEvent*) override { m_onResize(); }

private:
    std::function<void()> m_onResize;
};

// A row of the status list. The list shows two columns, name and text; the favourite
// flag and the status id stay with the row as its texts 2 and 3 (text(2), setText(2, ..))
// but outside the list's columns, so nothing (a screen reader included) presents them.
class TStatusItem : public QTreeWidgetItem {
public:
    static constexpr int kShownColumns = 2;

    TStatusItem(const QString& name, const QString& text, const QString& favorited, const QString& id)
        : QTreeWidgetItem(QStringList{name, text}), m_kept{favorited, id}
    {
    }
    QVariant data(int column, int role) const override
    {
        if (column < kShownColumns)
            return QTreeWidgetItem::data(column, role);
        return Kept(column, role) ? QVariant(m_kept[column - kShownColumns]) : QVariant();
    }
    void setData(int column, int role, const QVariant& value) override
    {
        if (column < kShownColumns)
            QTreeWidgetItem::setData(column, role, value);
        else if (Kept(column, role))
            m_kept[column - kShownColumns] = value.toString();
    }

private:
    static bool Kept(int column, int role)
    {
        return column < kShownColumns + 2 && (role == Qt::DisplayRole || role == Qt::EditRole);
    }
    QString m_kept[2];
};

} // namespace form1
