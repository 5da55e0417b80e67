// The main window's display modes, menus, timers, hover pause and dragging.
#include "FormHarness.h"
#include "ScriptedServer.h"
#include "app/LazyIconStyle.h"
#include "app/Shape.h"
#include "dialogs/ufrmSettings.h"

#include <QAccessible>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTextCursor>
#include <QTest>
#include <QToolButton>

using namespace harness;

namespace {

class WindowTest : public FormTest {
protected:
    std::unique_ptr<TForm1> startWithRows(std::vector<Row> rows, int mode = 1)
    {
        writeSettings([&](TMainState& s) {
            s.AccountName = QStringLiteral("alice");
            s.Password = QStringLiteral("secret");
            s.DisplayMode = mode;
        });
        server.addConnection(ScriptedServer::reply(Ok(TimelineXml(rows))));
        auto form = makeForm(server.baseUrl());
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }
    static bool topMost(TForm1& f) { return f.windowFlags().testFlag(Qt::WindowStaysOnTopHint); }
    static bool frameless(TForm1& f) { return f.windowFlags().testFlag(Qt::FramelessWindowHint); }
    static bool listPartsVisible(TForm1& f)
    {
        return child<QWidget>(f, "PageControl1")->isVisible() && child<QWidget>(f, "memoDisplay")->isVisible()
               && child<QWidget>(f, "StatusBar1")->isVisible() && child<QWidget>(f, "Splitter1")->isVisible();
    }
    static bool listPartsHidden(TForm1& f)
    {
        return child<QWidget>(f, "PageControl1")->isHidden() && child<QWidget>(f, "ListView1")->isHidden()
               && child<QWidget>(f, "memoDisplay")->isHidden() && child<QWidget>(f, "StatusBar1")->isHidden()
               && child<QWidget>(f, "Splitter1")->isHidden();
    }
    static void mouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QMouseEvent e(type, w->mapFromGlobal(QPointF(global)), QPointF(global), button, buttons, mods);
        QApplication::sendEvent(w, &e);
    }
    static void hover(QWidget* w, Qt::MouseButtons buttons = Qt::NoButton)
    {
        mouse(w, QEvent::MouseMove, w->mapToGlobal(QPoint(2, 2)), Qt::NoButton, buttons);
    }
    ScriptedServer server;
};

// --- display modes -----------------------------------------------------------------------

TEST_F(WindowTest, EachModeHasItsLayoutAndSize)
{
    auto form = startWithRows(ThreeRows());
    form->resize(700, form->height());
    const int width = form->width();
    auto* back = child<TShape>(*form, "ShapeBack");
    auto* star = child<QLabel>(*form, "lblStar");

    EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple"));
    EXPECT_TRUE(form->menuBar()->isVisible());
    EXPECT_TRUE(listPartsVisible(*form));
    EXPECT_TRUE(child<QWidget>(*form, "shapeWindow")->isVisible());
    EXPECT_EQ(star->text(), QStringLiteral("お気に入りスター"));

    action(*form, "mmSuperSimpleMode")->trigger();
    EXPECT_EQ(form->DisplayMode(), 2);
    EXPECT_EQ(form->height(), 75);
    EXPECT_EQ(form->width(), width);
    EXPECT_FALSE(form->menuBar()->isVisible());
    EXPECT_TRUE(listPartsHidden(*form));
    EXPECT_FALSE(child<QWidget>(*form, "shapeWindow")->isVisible());
    EXPECT_TRUE(star->text().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple(右クリックでメニュー)"));
    EXPECT_FALSE(frameless(*form));  // compact keeps the frame it had
    EXPECT_EQ(back->BrushColor(), QColor(Qt::white));

    const QPoint before = form->pos();
    action(*form, "mmWidget")->trigger();
    EXPECT_EQ(form->DisplayMode(), 3);
    EXPECT_TRUE(frameless(*form));
    EXPECT_TRUE(topMost(*form));
    EXPECT_EQ(form->pos(), before);
    EXPECT_EQ(form->height(), 75);
    EXPECT_EQ(form->width(), width);
    EXPECT_EQ(back->BrushColor(), QColor(Qt::black));
    auto* detail = child<QTextEdit>(*form, "RichEditC");
    EXPECT_EQ(detail->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(detail->palette().color(QPalette::Text), QColor(Qt::white));
    // The status text takes its colour from the box, so it is not black on black.
    QTextCursor plain(detail->document());
    plain.setPosition(1);
    EXPECT_FALSE(plain.charFormat().hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(child<QWidget>(*form, "lblUserName")->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(child<QWidget>(*form, "lblUserName")->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(form->isVisible());

    action(*form, "pmSimpleMode")->trigger();
    EXPECT_EQ(form->DisplayMode(), 1);
    EXPECT_EQ(form->frameGeometry().height(), 400);
    EXPECT_EQ(form->width(), width);
    EXPECT_TRUE(listPartsVisible(*form));
    EXPECT_EQ(back->BrushColor(), QColor(Qt::white));
}

TEST_F(WindowTest, ListThenWidgetThenCompactThenList)
{
    auto form = startWithRows(ThreeRows());
    form->SetDisplayMode(3);
    form->SetDisplayMode(2);
    EXPECT_TRUE(frameless(*form));
    EXPECT_TRUE(topMost(*form));
    EXPECT_FALSE(form->menuBar()->isVisible());
    EXPECT_EQ(child<TShape>(*form, "ShapeBack")->BrushColor(), QColor(Qt::white));

    form->SetDisplayMode(1);
    EXPECT_FALSE(frameless(*form));
    EXPECT_FALSE(topMost(*form));  // the framed window is top-most only when ticked
    EXPECT_TRUE(form->menuBar()->isVisible());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(WindowTest, ModeOutsideOneToThreeChangesNothing)
{
    for (int mode : {0, 4}) {
        SCOPED_TRACE(mode);
        ScriptedServer local;
        writeSettings([&](TMainState& s) { s.DisplayMode = mode; });
        auto form = makeForm(local.baseUrl());
        EXPECT_EQ(form->DisplayMode(), mode);
        EXPECT_EQ(child<QLabel>(*form, "lblStar")->text(), QStringLiteral("お気に入り発言スター"));
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple"));
        form->SetDisplayMode(7);
        EXPECT_EQ(form->DisplayMode(), mode);
    }
}

TEST_F(WindowTest, StoredWidgetModeAppliesAtStart)
{
    auto form = startWithRows(ThreeRows(), 3);
    EXPECT_EQ(form->DisplayMode(), 3);
    EXPECT_TRUE(frameless(*form));
    EXPECT_TRUE(topMost(*form));
    EXPECT_EQ(form->height(), 75);
}

// The top-most and name-hiding ticks are kept and come back with what they do.
TEST_F(WindowTest, TopMostAndAnonymousTicksComeBackAtStart)
{
    auto form = startWithRows(ThreeRows());
    form->move(150, 160);
    const QRect before = form->geometry();
    action(*form, "mmTopMost")->trigger();
    EXPECT_TRUE(topMost(*form));
    EXPECT_EQ(form->geometry(), before);
    action(*form, "mmAnonymous")->trigger();
    form->close();
    form.reset();

    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    form = makeForm(server.baseUrl());
    form->show();
    EXPECT_TRUE(topMost(*form));
    EXPECT_TRUE(action(*form, "mmTopMost")->isChecked());
    EXPECT_TRUE(action(*form, "mmAnonymous")->isChecked());
    EXPECT_TRUE(userName(*form).isEmpty());
    // The first click on either undoes it.
    action(*form, "mmAnonymous")->trigger();
    EXPECT_FALSE(userName(*form).isEmpty());
    action(*form, "mmTopMost")->trigger();
    EXPECT_FALSE(topMost(*form));
}

TEST_F(WindowTest, MenuBarListItemOnlyTogglesTheList)
{
    auto form = startWithRows(ThreeRows());
    QAction* simple = action(*form, "mmSimpleMode");
    simple->trigger();
    EXPECT_TRUE(simple->isChecked());
    EXPECT_FALSE(list(*form)->isVisible());
    EXPECT_EQ(form->DisplayMode(), 1);
    simple->trigger();
    EXPECT_FALSE(simple->isChecked());
    EXPECT_TRUE(list(*form)->isVisible());
    // The other two radio items never carry a tick.
    action(*form, "mmSuperSimpleMode")->trigger();
    EXPECT_FALSE(action(*form, "mmSuperSimpleMode")->isChecked());
}

// --- accessibility ----------------------------------------------------------------------

// The star, the text and the list have names; a screen reader gets the name and text
// columns of the list, never the flag and id the program keeps behind each row (which
// the program still reads: the timeline tests).
TEST_F(WindowTest, ScreenReadersGetNamesAndOnlyTheVisibleColumns)
{
    auto form = startWithRows(ThreeRows());
    auto accessible = [&](QWidget* w) { return QAccessible::queryAccessibleInterface(w); };
    EXPECT_EQ(accessible(child<QWidget>(*form, "Image1"))->text(QAccessible::Name), QStringLiteral("お気に入り"));
    EXPECT_EQ(accessible(child<QWidget>(*form, "RichEditC"))->text(QAccessible::Name), QStringLiteral("つぶやき本文"));
    QAccessibleInterface* tree = accessible(list(*form));
    EXPECT_EQ(tree->text(QAccessible::Name), QStringLiteral("タイムライン"));
    ASSERT_NE(tree->tableInterface(), nullptr);
    EXPECT_EQ(tree->tableInterface()->columnCount(), 2);
    QStringList read;
    for (int i = 0; i < tree->childCount(); ++i)
        read << tree->child(i)->text(QAccessible::Name);
    EXPECT_TRUE(read.contains(QStringLiteral("花子")));
    EXPECT_TRUE(read.contains(QStringLiteral("最初のつぶやき")));
    for (const char* hidden : {"true", "false", "TRUE", "301", "302", "303", "ステータスID"})
        EXPECT_FALSE(read.contains(QString::fromUtf8(hidden))) << hidden;
}

// Grid lines under every row, and the selection in the active colours even while a read
// locks the list.
TEST_F(WindowTest, RowsHaveGridLinesAndTheSelectionKeepsItsColours)
{
    auto form = startWithRows(ThreeRows());
    QTreeView* rows = list(*form);
    ASSERT_TRUE(rows->selectionModel()->isRowSelected(0, {}));
    const QRect first = rowRect(*form, 0);
    const QRect second = rowRect(*form, 1);
    const QColor highlight = rows->palette().color(QPalette::Active, QPalette::Highlight);
    const auto pixel = [&](int x, int y) { return rows->viewport()->grab().toImage().pixelColor(x, y); };

    EXPECT_EQ(pixel(second.left() + 40, second.bottom()), QColor(0xd8, 0xd8, 0xd8));
    EXPECT_EQ(pixel(first.left() + 100, first.bottom()), QColor(0xd8, 0xd8, 0xd8));
    EXPECT_NE(pixel(second.left() + 40, second.bottom() - 1), QColor(0xd8, 0xd8, 0xd8));
    EXPECT_EQ(pixel(first.left() + 1, first.top() + 1), highlight);
    rows->setEnabled(false);
    EXPECT_EQ(pixel(first.left() + 1, first.top() + 1), highlight);
}

// --- menus ------------------------------------------------------------------------------

// At the default size the whole menu bar is on view: nothing behind its extension button.
TEST_F(WindowTest, TheMenuBarFitsTheDefaultWidth)
{
    auto form = startWithRows({});
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_FALSE(form->menuBar()->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button"))->isVisible());
}

// Each menu falls into the groups the user finds its items in: the first item after each
// separator shown.
TEST_F(WindowTest, EachMenuIsSplitIntoItsGroups)
{
    auto form = startWithRows({});
    const auto groupStarts = [](QMenu* menu) {
        QStringList starts;
        bool split = false;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator())
                split = split || item->isVisible();
            else if (std::exchange(split, false))
                starts << item->objectName();
        }
        return starts;
    };
    EXPECT_EQ(groupStarts(action(*form, "mmView")->menu()), (QStringList{"mmAutoReload", "mmTopMost", "mmSetting"}));
    EXPECT_EQ(groupStarts(child<QMenu>(*form, "pmMenu1")), (QStringList{"pmSimpleMode", "pmTwitt", "pmSetting", "pmClose"}));
}

TEST_F(WindowTest, RightClickOnTheStripAndListOpensThePopup)
{
    auto form = startWithRows(ThreeRows());
    auto* popup = child<QMenu>(*form, "pmMenu1");
    QWidget* targets[] = {child<QWidget>(*form, "lblUserName"), child<QWidget>(*form, "Image1"),
                          child<QWidget>(*form, "lblStar"), child<QWidget>(*form, "ShapeBack"),
                          child<QTextEdit>(*form, "RichEditC")->viewport(), list(*form)->viewport(), form.get()};
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->objectName().toStdString());
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(3, 3), target->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(target, &e);
        EXPECT_TRUE(popup->isVisible());
        popup->hide();
    }
}

// --- timers -----------------------------------------------------------------------------

TEST_F(WindowTest, RotationWalksTheRowsAndPassesOverTheLast)
{
    auto form = startWithRows(ThreeRows());
    setCurrentRow(*form, 1);
    form->ListView1Click();
    const QStringList texts = column(*form, 1);
    QList<int> selected;
    QStringList shown;
    for (int i = 0; i < 5; ++i) {
        form->TimerAutoRotationTimer();
        selected << selectedRow(*form);
        shown << detailText(*form);
    }
    EXPECT_EQ(selected, (QList<int>{2, 0, 1, 2, 0}));
    EXPECT_EQ(shown, (QStringList{texts[1], texts[0], texts[1], texts[1], texts[0]}));
}

TEST_F(WindowTest, RotationWithOneRowOrNoSelection)
{
    auto form = startWithRows({{"a", "only", "false", "1"}});
    form->TimerAutoRotationTimer();
    EXPECT_EQ(selectedRow(*form), 0);
    EXPECT_EQ(detailText(*form), QStringLiteral("only"));

    list(*form)->clearSelection();
    EXPECT_EQ(selectedRow(*form), -1);
    form->TimerAutoRotationTimer();
    EXPECT_EQ(selectedRow(*form), 0);

    qobject_cast<TTimelineModel*>(list(*form)->model())->Clear();
    form->TimerAutoRotationTimer();  // an empty list: nothing happens
    EXPECT_EQ(selectedRow(*form), -1);
}

// A read stops both timers; afterwards each is back as the user chose it, not running
// whatever the choice (the historic unlock started both).
TEST_F(WindowTest, TimersFollowTheFlagsAtStartAndAfterEveryRead)
{
    writeSettings([](TMainState& s) {
        s.AccountName = QStringLiteral("alice");
        s.Password = QStringLiteral("secret");
        s.AutoReload = false;
        s.AutoRotation = false;
    });
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    EXPECT_FALSE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_FALSE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_EQ(timer(*form, "TimerAutoReload")->interval(), 60000);
    EXPECT_EQ(timer(*form, "TimerAutoRotation")->interval(), 5000);

    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    form->TimerAutoReloadTimer();
    waitIdle(*form);
    EXPECT_FALSE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_FALSE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_FALSE(form->State().AutoReload);
    EXPECT_EQ(rowCount(*form), 3);

    // Switched on again, each runs after the next read too.
    action(*form, "mmAutoReload")->trigger();
    action(*form, "mmAutoRotation")->trigger();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    trigger(*form, "mmReload");
    EXPECT_TRUE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
}

// The intervals chosen in the settings dialog drive the timers at once and after a
// restart (a file where they were never chosen keeps 60 s and 5 s: above). A back-off
// under way keeps its wait; the next good read brings the chosen interval.
TEST_F(WindowTest, ChosenIntervalsDriveTheTimersAtOnceAndAfterARestart)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Reply(503, "Service Unavailable", "busy")));
    auto form = makeForm(server.baseUrl());
    QTimer* reload = timer(*form, "TimerAutoReload");
    QTimer* rotation = timer(*form, "TimerAutoRotation");
    EXPECT_EQ(reload->interval(), 120000);
    EXPECT_EQ(rotation->interval(), 5000);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->editReload->setText(QStringLiteral("90"));
        dialog->editRotation->setText(QStringLiteral("30"));
        dialog->chkAutoRotation->setChecked(false);
        dialog->btnOk->click();
    });
    action(*form, "mmSetting")->trigger();
    EXPECT_FALSE(form->State().AutoRotation);
    EXPECT_FALSE(rotation->isActive());
    EXPECT_TRUE(form->State().IntervalsChosen);
    EXPECT_EQ(rotation->interval(), 30000);
    EXPECT_EQ(reload->interval(), 120000);
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    form->TimerAutoReloadTimer();
    waitIdle(*form);
    EXPECT_EQ(reload->interval(), 90000);
    form->close();
    form.reset();

    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    form = makeForm(server.baseUrl());
    EXPECT_EQ(timer(*form, "TimerAutoReload")->interval(), 90000);
    EXPECT_EQ(timer(*form, "TimerAutoRotation")->interval(), 30000);
}

// As the program starts: the secondary windows come at first use, and the settings
// dialog still first shows the timer switches as they were at start-up.
TEST_F(WindowTest, OnDemandSettingsDialogShowsTheStartUpState)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    TForm1Options options;
    options.ReadMentions = false;  // a scripted server answers the timeline only
    options.ReadServerConfig = false;
    options.SettingsFile = iniPath();
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(server.baseUrl())};
    TForm1 form(options);
    form.CreateSecondaryWindowsOnDemand();
    waitIdle(form);
    EXPECT_EQ(form.findChild<TfrmSettings*>(), nullptr);
    ASSERT_TRUE(form.State().AutoReload);
    QAction* toggle = action(form, "mmAutoReload");
    toggle->setChecked(true);
    toggle->trigger();
    ASSERT_FALSE(form.State().AutoReload);

    bool shownOn = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownOn = dialog->chkAutoReload->isChecked();
        dialog->btnCancel->click();
    });
    action(form, "mmSetting")->trigger();
    EXPECT_TRUE(shownOn);
    EXPECT_FALSE(form.State().AutoReload);
}

TEST_F(WindowTest, SettingTheSameStateDoesNotRestartACountdown)
{
    auto form = startWithRows(ThreeRows());
    QTimer* rotation = timer(*form, "TimerAutoRotation");
    QTest::qWait(30);
    const int left = rotation->remainingTime();
    form->EnableCommands(true);
    EXPECT_LE(rotation->remainingTime(), left);
}

// Every menu that shows the timer ticks shows the timers' state whenever it opens, not
// only after the pop-up has been opened once.
TEST_F(WindowTest, TimerTicksMatchTheTimersInEveryMenuWheneverShown)
{
    auto form = startWithRows(ThreeRows());
    QAction* mmAutoReload = action(*form, "mmAutoReload");
    QAction* mmAutoRotation = action(*form, "mmAutoRotation");
    QMenu* view = action(*form, "mmView")->menu();
    QMenu* popup = child<QMenu>(*form, "pmMenu1");
    auto ticksMatch = [&] {
        for (QMenu* menu : {view, popup}) {
            Q_EMIT menu->aboutToShow();
            EXPECT_EQ(mmAutoReload->isChecked(), timer(*form, "TimerAutoReload")->isActive());
            EXPECT_EQ(action(*form, "pmAutoReload")->isChecked(), timer(*form, "TimerAutoReload")->isActive());
            EXPECT_EQ(mmAutoRotation->isChecked(), timer(*form, "TimerAutoRotation")->isActive());
            EXPECT_EQ(action(*form, "mmAutoRotation")->isChecked(), timer(*form, "TimerAutoRotation")->isActive());
        }
    };
    // At start the view menu alone already shows the rotation running.
    Q_EMIT view->aboutToShow();
    EXPECT_TRUE(mmAutoRotation->isChecked());
    ticksMatch();

    mmAutoReload->trigger();  // unticks it: flag and timer off
    EXPECT_FALSE(form->State().AutoReload);
    ticksMatch();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    trigger(*form, "mmReload");
    EXPECT_FALSE(timer(*form, "TimerAutoReload")->isActive()) << "a read leaves it as the user chose";
    ticksMatch();
}

TEST_F(WindowTest, RotationItemsKeepEachOtherInStep)
{
    auto form = startWithRows(ThreeRows());
    Q_EMIT child<QMenu>(*form, "pmMenu1")->aboutToShow();
    action(*form, "mmAutoRotation")->trigger();
    EXPECT_FALSE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_FALSE(action(*form, "mmAutoRotation")->isChecked());
    EXPECT_FALSE(form->State().AutoRotation);
    action(*form, "mmAutoRotation")->trigger();
    EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_TRUE(action(*form, "mmAutoRotation")->isChecked());
    EXPECT_TRUE(form->State().AutoRotation);
    // The reload items do not update each other: the popup's refresh ticked both.
    action(*form, "pmAutoReload")->trigger();
    EXPECT_FALSE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_TRUE(action(*form, "mmAutoReload")->isChecked());
}

TEST_F(WindowTest, HoverPausesAndTheDetailTextRestoresTheFlags)
{
    auto form = startWithRows(ThreeRows());
    QTimer* reload = timer(*form, "TimerAutoReload");
    QTimer* rotation = timer(*form, "TimerAutoRotation");
    const QString hint = QStringLiteral("\n(ローテーション停止中)");

    auto* name = child<QLabel>(*form, "lblUserName");
    hover(name);
    EXPECT_TRUE(reload->isActive());
    EXPECT_FALSE(rotation->isActive());
    EXPECT_EQ(name->toolTip(), QStringLiteral("ユーザ") + hint);

    QWidget* detail = child<QTextEdit>(*form, "RichEditC")->viewport();
    hover(detail);
    EXPECT_TRUE(reload->isActive());
    EXPECT_TRUE(rotation->isActive());

    for (const char* starPart : {"Image1", "lblStar"}) {
        auto* part = child<QLabel>(*form, starPart);
        hover(part, Qt::RightButton);
        EXPECT_FALSE(reload->isActive()) << starPart;
        EXPECT_FALSE(rotation->isActive()) << starPart;
        EXPECT_EQ(part->toolTip(), QStringLiteral("お気に入りに登録") + hint);
        // Moving on over the list changes nothing.
        hover(list(*form)->viewport());
        EXPECT_FALSE(rotation->isActive());
        hover(detail);
        EXPECT_TRUE(rotation->isActive());
    }

    form->State().AutoReload = false;
    hover(detail);
    EXPECT_FALSE(reload->isActive());
    EXPECT_TRUE(rotation->isActive());
}

// --- dragging ---------------------------------------------------------------------------

TEST_F(WindowTest, DragMovesTheWindowByTheGrabOffset)
{
    auto form = startWithRows(ThreeRows());
    form->move(100, 100);
    for (const char* surface : {"lblUserName", "RichEditC"}) {
        SCOPED_TRACE(surface);
        form->move(100, 100);
        QWidget* w = QByteArray(surface) == "RichEditC" ? child<QTextEdit>(*form, surface)->viewport()
                                                         : child<QWidget>(*form, surface);
        const QPoint grab = form->pos() + QPoint(30, 12);
        mouse(w, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        mouse(w, QEvent::MouseMove, grab + QPoint(50, 40), Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(form->pos(), QPoint(150, 140));
        mouse(w, QEvent::MouseButtonRelease, grab + QPoint(50, 40), Qt::LeftButton, Qt::NoButton);
    }
}

TEST_F(WindowTest, ModifiedPressStoresNothingAndModifiedMoveMovesNothing)
{
    auto form = startWithRows(ThreeRows());
    auto* name = child<QLabel>(*form, "lblUserName");
    form->move(100, 100);
    mouse(name, QEvent::MouseButtonPress, QPoint(110, 105), Qt::LeftButton, Qt::LeftButton);  // offset 10,5
    mouse(name, QEvent::MouseButtonRelease, QPoint(110, 105), Qt::LeftButton, Qt::NoButton);

    mouse(name, QEvent::MouseButtonPress, QPoint(160, 130), Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    mouse(name, QEvent::MouseMove, QPoint(200, 200), Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(form->pos(), QPoint(100, 100));
    // Shift let go while the button stays down: the previous offset applies.
    mouse(name, QEvent::MouseMove, QPoint(210, 205), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form->pos(), QPoint(200, 200));

    // A right-button press stores nothing either.
    mouse(name, QEvent::MouseButtonPress, QPoint(260, 260), Qt::RightButton, Qt::RightButton);
    mouse(name, QEvent::MouseMove, QPoint(310, 305), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form->pos(), QPoint(300, 300));
}

// --- dialog commands --------------------------------------------------------------------

TEST_F(WindowTest, SettingsAndMainMenuPostingLockTheCommandsWhileOpen)
{
    auto form = startWithRows(ThreeRows());
    for (const char* command : {"mmSetting", "pmSetting", "mmTwitt"}) {
        SCOPED_TRACE(command);
        bool lockedWhileOpen = false;
        QTimer::singleShot(0, [&] {
            lockedWhileOpen = !action(*form, "mmReload")->isEnabled();
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                d->reject();
        });
        action(*form, command)->trigger();
        EXPECT_TRUE(lockedWhileOpen);
        EXPECT_TRUE(action(*form, "mmReload")->isEnabled());
        EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
    }
    for (const char* command : {"pmTwitt", "mmVersion", "pmVersion"}) {
        SCOPED_TRACE(command);
        bool lockedWhileOpen = true;
        bool opened = false;
        QTimer::singleShot(0, [&] {
            lockedWhileOpen = !action(*form, "mmReload")->isEnabled();
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                opened = true;
                d->reject();
            }
        });
        action(*form, command)->trigger();
        EXPECT_TRUE(opened);
        EXPECT_FALSE(lockedWhileOpen);
    }
}

// The menu bar's extension icon is loaded when first drawn, and is then the base
// style's own picture.
TEST(LazyIconStyleTest, ExtensionIconsAreTheBaseStylesWhenDrawn)
{
    TLazyIconStyle style;
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    style.setBaseStyle(fusion.release());
    for (QStyle::StandardPixmap which : {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton}) {
        const QIcon lazy = style.standardIcon(which);
        const QIcon real = style.baseStyle()->standardIcon(which);
        ASSERT_FALSE(real.pixmap(16).isNull());
        EXPECT_EQ(lazy.pixmap(16).toImage(), real.pixmap(16).toImage());
        EXPECT_EQ(lazy.availableSizes(), real.availableSizes());
    }
    EXPECT_EQ(style.standardIcon(QStyle::SP_DialogOkButton).pixmap(16).toImage(),
              style.baseStyle()->standardIcon(QStyle::SP_DialogOkButton).pixmap(16).toImage());
}

} // namespace
