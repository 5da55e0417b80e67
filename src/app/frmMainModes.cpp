#include "app/frmMain.h"

#include "app/Strip.h"
#include "app/WindowFrame.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

using namespace form1;

// The three display modes, the window's frame across them, and what resting on the strip
// does to the timers.

void TForm1::SetDisplayMode(int mode)
{
    const bool frameless = windowFlags().testFlag(Qt::FramelessWindowHint);
    switch (mode) {
    case 1: {
        m_state.DisplayMode = 1;
        if (frameless) {
            // The re-created framed window is not top-most.
            m_frame->ApplyFlags(windowFlags() & ~(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        }
        m_strip->ApplyMode(1);
        menuBar()->show();
        PageControl1->show();
        ListView1->show();
        memoDisplay->show();
        StatusBar1->show();
        Splitter1->show();
        resize(width(), ModeClientHeight(frameGeometry().height() - height()));
        break;
    }
    case 2:
        m_state.DisplayMode = 2;
        m_strip->ApplyMode(2);
        menuBar()->hide();
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        resize(width(), ModeClientHeight(0));
        break;
    case 3:
        m_state.DisplayMode = 3;
        // One change of flags: each re-creates the native window.
        m_frame->ApplyFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        menuBar()->hide();
        resize(width(), ModeClientHeight(0));
        m_strip->ApplyMode(3);
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        break;
    default:
        return;
    }
    // The title and the badge carry the unseen count in every mode.
    UpdateUnseen();
    LayoutClient();
}

int TForm1::ModeClientHeight(int frameHeight) const
{
    switch (m_state.DisplayMode) {
    case 1:
        return kListOuterHeight - frameHeight;
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

void TForm1::StripHovered(TStrip::TPart part)
{
    // Resting on the name stops the rotation, on the star both timers; a movement over
    // the text gives both back to the user's choice.
    switch (part) {
    case TStrip::TPart::Name:
        SetTimerEnabled(TimerAutoRotation, false);
        break;
    case TStrip::TPart::Star:
        SetTimerEnabled(TimerAutoReload, false);
        SetTimerEnabled(TimerAutoRotation, false);
        break;
    case TStrip::TPart::Text:
        SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
        SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);
        break;
    }
}
