#include "app/frmMain.h"

#include "app/RichEditC.h"
#include "app/Shape.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"

#include <QContextMenuEvent>
#include <QLabel>
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

// The three display modes, the pop-up menu, dragging the window by its strip and the
// hover hints over the strip.

void TForm1::ApplyWindowFlags(Qt::WindowFlags flags)
{
    if (flags == windowFlags())
        return;
    // Changing the flags re-creates the native window, which hides it. The new window's
    // frame is not known until the window manager has framed it, so the window is made
    // afresh and placed by its outer corner, which the window system keeps where it was.
    const bool visible = isVisible();
    const QPoint position = m_framePending ? m_frameCorner : pos();
    destroy();
    setWindowFlags(flags);
    move(position);
    m_frameCorner = position;
    m_framePending = true;
    if (visible)
        show();
}

void TForm1::StripColours(const QColor& background, const QColor& text)
{
    ShapeBack->SetBrushColor(background);
    SetColours(lblStar, background, text);
    SetColours(lblUserName, background, text);
}

void TForm1::SetDisplayMode(int mode)
{
    const bool frameless = windowFlags().testFlag(Qt::FramelessWindowHint);
    switch (mode) {
    case 1: {
        m_state.DisplayMode = 1;
        if (frameless) {
            // The re-created framed window is not top-most.
            ApplyWindowFlags(windowFlags() & ~(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        }
        lblStar->setText(tr("お気に入りスター"));
        shapeWindow->show();
        menuBar()->show();
        SetColours(RichEditC, Qt::white, Qt::black);
        PageControl1->show();
        ListView1->show();
        memoDisplay->show();
        StatusBar1->show();
        Splitter1->show();
        resize(width(), ModeClientHeight(frameGeometry().height() - height()));
        StripColours(Qt::white, Qt::black);
        break;
    }
    case 2:
        m_state.DisplayMode = 2;
        lblStar->setText(QString());
        shapeWindow->hide();
        SetColours(RichEditC, Qt::white, Qt::black);
        menuBar()->hide();
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        resize(width(), ModeClientHeight(0));
        StripColours(Qt::white, Qt::black);
        break;
    case 3:
        m_state.DisplayMode = 3;
        // One change of flags: each re-creates the native window.
        ApplyWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        menuBar()->hide();
        shapeWindow->hide();
        resize(width(), ModeClientHeight(0));
        SetColours(RichEditC, Qt::black, Qt::white);
        lblStar->setText(QString());
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        StripColours(Qt::black, Qt::white);
        break;
    default:
        return;
    }
    // The title and the badge carry the unseen count in every mode.
    UpdateUnseen();
    // Links stay marked across a re-created window.
    RichEditC->SetAutoUrlDetect(true);
    LayoutClient();
}

void TForm1::mmTopMostClick()
{
    const bool ticked = mmTopMost->isChecked();
    ApplyWindowFlags(ticked ? windowFlags() | Qt::WindowStaysOnTopHint
                            : windowFlags() & ~Qt::WindowStaysOnTopHint);
}

void TForm1::mmSimpleModeClick()
{
    // Only toggles the list; the window stays in its mode.
    ListView1->setVisible(!mmSimpleMode->isChecked());
}

void TForm1::ChooseDisplayMode(int mode)
{
    SetDisplayMode(mode);
    SettingsChanged();
}

void TForm1::mmSuperSimpleModeClick() { ChooseDisplayMode(2); }
void TForm1::mmWidgetClick() { ChooseDisplayMode(3); }
void TForm1::pmSimpleModeClick() { ChooseDisplayMode(1); }
void TForm1::pmCompactModeClick() { ChooseDisplayMode(2); }
void TForm1::pmWidgetModeClick() { ChooseDisplayMode(3); }

void TForm1::ShowPopup(const QPoint& globalPos)
{
    pmMenu1->popup(globalPos);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    ShowPopup(event->globalPos());
}

void TForm1::DragPress(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton
        && e->modifiers() == Qt::NoModifier)
        m_grabOffset = e->globalPosition().toPoint() - pos();
}

bool TForm1::DragMove(QMouseEvent* e)
{
    if (!LeftAlone(e))
        return false;
    const QPoint target = e->globalPosition().toPoint() - m_grabOffset;
    if (target.x() != x())
        move(target.x(), y());
    if (target.y() != y())
        move(x(), target.y());
    return true;
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
    const QEvent::Type type = event->type();
    if (watched == windowHandle()) {
        if (type == QEvent::Expose && windowHandle()->isExposed()) {
            windowHandle()->removeEventFilter(this);
            if (m_framePending)
                FrameKnown();
            // The first frame is painted as soon as this expose has been handled.
            if (!std::exchange(m_firstFrame, true))
                QTimer::singleShot(0, this, &TForm1::StartUpReadWhenReady);
        }
        return QMainWindow::eventFilter(watched, event);
    }
    if (type == QEvent::ContextMenu) {
        // The popup belongs to every part of the strip and to the list.
        ShowPopup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QString twoLines = QStringLiteral("\n") + tr(kRotationStopped);

    if (watched == lblUserName) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove && !DragMove(mouse)) {
            SetTimerEnabled(TimerAutoRotation, false);
            lblUserName->setToolTip(tr("ユーザ") + twoLines);
        }
    } else if (watched == RichEditC->viewport()) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove) {
            if (!DragMove(mouse)) {
                SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
                SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);
            }
            RichEditC->SetAutoUrlDetect(true);
        }
    } else if (watched == Image1 || watched == lblStar) {
        if (type == QEvent::MouseMove) {
            SetTimerEnabled(TimerAutoReload, false);
            SetTimerEnabled(TimerAutoRotation, false);
            static_cast<QWidget*>(watched)->setToolTip(tr("お気に入りに登録") + twoLines);
        } else if (watched == Image1 && type == QEvent::MouseButtonRelease
                   && mouse->button() == Qt::LeftButton
                   && Image1->rect().contains(mouse->position().toPoint())) {
            Image1Click();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
