#include "app/frmMain.h"

#include "app/StatusLine.h"
#include "app/StatusLists.h"
#include "app/Strip.h"
#include "app/WindowFrame.h"
#include "dialogs/DialogCommon.h"

#include <QContextMenuEvent>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QWindow>

namespace {

constexpr int kCompactClientHeight = 75;  // the height of the rounded frame
constexpr int kListOuterHeight = 400;

} // namespace

// The three display modes and the window's frame across them.

void TForm1::SetDisplayMode(int mode)
{
    const bool frameless = windowFlags().testFlag(Qt::FramelessWindowHint);
    const auto showListParts = [this](bool visible) {
        for (QWidget* part : std::initializer_list<QWidget*>{m_lists->Pages(), m_lists->Friends(),
                                                             m_statusLine->Trace(), m_statusLine->Bar(), Splitter1})
            part->setVisible(visible);
    };
    switch (mode) {
    case 1: {
        // The list's own height comes with a switch from another mode; at start-up the
        // stored bounds win.
        if (m_state.DisplayMode != 1)
            m_listHeightDue = true;
        m_state.DisplayMode = 1;
        if (frameless) {
            // The framed window is top-most only by the user's tick.
            const Qt::WindowFlags topMost = m_state.TopMost ? Qt::WindowStaysOnTopHint : Qt::WindowFlags();
            m_frame->ApplyFlags((windowFlags() & ~(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)) | topMost);
        }
        m_strip->ApplyMode(1);
        menuBar()->show();
        showListParts(true);
        // A window not framed yet gets the height once its frame is known.
        if (m_listHeightDue && m_frame->Placed())
            resize(width(), ModeClientHeight(frameGeometry().height() - height()));
        break;
    }
    case 2:
        m_state.DisplayMode = 2;
        m_strip->ApplyMode(2);
        menuBar()->hide();
        showListParts(false);
        resize(width(), ModeClientHeight(0));
        break;
    case 3:
        m_state.DisplayMode = 3;
        // One change of flags: each re-creates the native window.
        m_frame->ApplyFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        menuBar()->hide();
        resize(width(), ModeClientHeight(0));
        m_strip->ApplyMode(3);
        showListParts(false);
        break;
    default:
        return;
    }
    // The title and the badge carry the unseen count in every mode.
    UpdateUnseen();
    LayoutClient();
}

int TForm1::ModeClientHeight(int frameHeight)
{
    switch (m_state.DisplayMode) {
    case 1:
        // Once: a later new native window (the top-most tick) keeps the user's height.
        return std::exchange(m_listHeightDue, false) ? kListOuterHeight - frameHeight : 0;
    case 2:
    case 3:
        return kCompactClientHeight;
    default:
        return 0;
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ContextMenu) {
        // The popup belongs to the lists too.
        ShowPopup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
