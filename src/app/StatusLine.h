#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QMainWindow;
class QPlainTextEdit;
class QStatusBar;
class QWidget;

// The status line: the status bar's one panel and, below the list, the trace box that
// keeps every line since start-up (the newest thousand of them).
class TStatusLine : public QObject {
public:
    // The trace box goes into traceParent, the status bar under the window.
    TStatusLine(QMainWindow* window, QWidget* traceParent);

    // A new line: on the panel and as the trace's last line.
    void Show(const QString& text);
    // The panel alone.
    void SetPanel(const QString& text);
    QString Text() const;

    QPlainTextEdit* Trace() const { return m_trace; }
    QStatusBar* Bar() const { return m_bar; }

private:
    QPlainTextEdit* m_trace;
    QStatusBar* m_bar;
    QLabel* m_panel;
};
