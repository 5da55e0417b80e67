#include "app/StatusLine.h"

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStatusBar>

namespace {

constexpr int kTraceLines = 1000;

} // namespace

TStatusLine::TStatusLine(QMainWindow* window, QWidget* traceParent)
    : QObject(window), m_trace(new QPlainTextEdit(traceParent)), m_bar(new QStatusBar), m_panel(new QLabel)
{
    m_trace->setObjectName(QStringLiteral("memoDisplay"));
    m_trace->setReadOnly(true);
    m_trace->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The trace gains about five lines a minute for as long as the program runs; keeping
    // only the newest lines stops a window left open for weeks from growing without end.
    m_trace->setMaximumBlockCount(kTraceLines);
    // Without this a splitter keeps the box at the scroll bar's minimum, far above 32.
    m_trace->setMinimumHeight(1);

    m_bar->setObjectName(QStringLiteral("StatusBar1"));
    m_panel->setObjectName(QStringLiteral("StatusPanel"));
    m_panel->setMinimumWidth(200);
    m_bar->addWidget(m_panel);
    window->setStatusBar(m_bar);
}

void TStatusLine::Show(const QString& text)
{
    m_trace->appendPlainText(text);
    m_panel->setText(text);
}

void TStatusLine::SetPanel(const QString& text)
{
    m_panel->setText(text);
}

QString TStatusLine::Text() const
{
    return m_panel->text();
}
