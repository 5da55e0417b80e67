#pragma once
// What the main window's source files share: its fixed texts and sizes and two small
// helpers. Not for use outside the window.

#include <QColor>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPalette>
#include <QString>
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
constexpr int kFirstFrameWaitMs = 1000;   // a start-up read held for the keyring waits this long for a frame

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

} // namespace form1
