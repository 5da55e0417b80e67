#include "app/frmMain.h"

#include "app/DesktopNotifier.h"
#include "app/WindowFrame.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "dialogs/ufrmSettings.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QTreeView>

using namespace form1;

// The commands: the menu bar and the pop-up menu, and one handler for each command.
// Where both menus show a command under the same caption they hold the same action;
// where their captions differ (or, for posting and replying, whether the commands are
// locked meanwhile), each menu has its own item and both go to the one handler.

namespace {

// The items' object names, which tests and accessibility tools know them by.
constexpr const char* kItemNames[] = {
    "mmLogin", "mmLoginSet", "mmView", "mmAnonymous", "mmAutoReload", "mmAutoRotation", "mmNotify",
    "mmNotifyMentions", "mmTopMost", "mmSimpleMode", "mmSuperSimpleMode", "mmWidget", "mmSetting",
    "mmReload", "mmMore", "mmTwitt", "mmReply", "mmRepeat", "mmBrowser", "mmVersion",
    "pmLogin", "pmSimpleMode", "pmTwitt", "pmReply", "pmMore", "pmAutoReload", "pmSetting",
    "pmReload", "pmVersion", "pmClose",
};

} // namespace

QAction* TForm1::AddItem(QMenu* menu, TItem item, const QString& caption, bool checkable)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(kItemNames[item]));
    action->setCheckable(checkable);
    m_items[item] = action;
    return action;
}

void TForm1::AddSeparator(QMenu* menu, const char* name)
{
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

void TForm1::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* login = bar->addMenu(tr("ログイン(&L)"));
    login->setObjectName(QStringLiteral("mmLoginMenu"));
    m_items[mmLogin] = login->menuAction();
    login->menuAction()->setObjectName(QStringLiteral("mmLogin"));
    AddItem(login, mmLoginSet, tr("ログイン設定...(&L)"));

    QMenu* view = bar->addMenu(tr("表示モード(&V)"));
    view->setObjectName(QStringLiteral("mmViewMenu"));
    m_items[mmView] = view->menuAction();
    view->menuAction()->setObjectName(QStringLiteral("mmView"));
    connect(view, &QMenu::aboutToShow, this, &TForm1::RefreshTicks);
    AddItem(view, mmAnonymous, tr("名前を表示しない"), true);
    AddSeparator(view, "N1");
    AddItem(view, mmAutoReload, tr("自動更新タイマー"), true);
    AddItem(view, mmAutoRotation, tr("ローテーションタイマー"), true);
    AddItem(view, mmNotify, tr("新着をデスクトップに通知"), true);
    AddItem(view, mmNotifyMentions, tr("メンションのみ"), true);
    AddSeparator(view, "N8");
    AddItem(view, mmTopMost, tr("最前面に表示"), true);
    AddSeparator(view, "N2");
    view->actions().constLast()->setVisible(false);
    AddItem(view, mmSimpleMode, tr("通常リストモード(&L)"), true);
    AddItem(view, mmSuperSimpleMode, tr("コンパクトモード(&C)"));
    AddItem(view, mmWidget, tr("ガジェット/ウィジェットモード(&W)"));
    // One radio group, but only the list item ever carries a tick.
    auto* modes = new QActionGroup(this);
    modes->setObjectName(QStringLiteral("mmModeGroup"));
    modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (TItem item : {mmSimpleMode, mmSuperSimpleMode, mmWidget})
        modes->addAction(Item(item));
    AddSeparator(view, "N3");
    AddItem(view, mmSetting, tr("設定...(S)"));

    m_items[mmReload] = bar->addAction(tr("リロード(&R)"));
    // F5 as in every desktop program; Alt+R stays.
    Item(mmReload)->setShortcut(QKeySequence(Qt::Key_F5));
    m_items[mmMore] = bar->addAction(tr("もっと前を読む(&G)"));
    m_items[mmTwitt] = bar->addAction(tr("つぶやく...(&T)"));
    // The shown status: answer it, repeat it, open its page.
    QMenu* talk = bar->addMenu(tr("発言(&S)"));
    talk->menuAction()->setObjectName(QStringLiteral("mmStatus"));
    AddItem(talk, mmReply, tr("返信(&E)..."));
    AddItem(talk, mmRepeat, tr("リピート(&P)"));
    AddItem(talk, mmBrowser, tr("ブラウザで開く(&B)"));
    m_items[mmVersion] = bar->addAction(tr("バージョン(&H)"));
    for (TItem item : {mmReload, mmMore, mmTwitt, mmVersion})
        Item(item)->setObjectName(QString::fromLatin1(kItemNames[item]));

    pmMenu1 = new QMenu(this);
    pmMenu1->setObjectName(QStringLiteral("pmMenu1"));
    connect(pmMenu1, &QMenu::aboutToShow, this, &TForm1::RefreshTicks);
    AddItem(pmMenu1, pmLogin, tr("ログイン(&L)"));
    AddSeparator(pmMenu1, "N7");
    AddItem(pmMenu1, pmSimpleMode, tr("通常リストモード(&L)"));
    pmMenu1->addActions({Item(mmSuperSimpleMode), Item(mmWidget)});
    AddSeparator(pmMenu1, "N4");
    AddItem(pmMenu1, pmTwitt, tr("つぶやく(&T)"));
    AddItem(pmMenu1, pmReply, tr("返信(&E)..."));
    pmMenu1->addActions({Item(mmRepeat), Item(mmBrowser)});
    AddItem(pmMenu1, pmMore, tr("もっと読む(&M)"));
    AddItem(pmMenu1, pmAutoReload, tr("自動取得タイマー(&R)"), true)->setChecked(true);
    pmMenu1->addActions({Item(mmAutoRotation), Item(mmNotify), Item(mmNotifyMentions)});
    AddSeparator(pmMenu1, "N6");
    AddItem(pmMenu1, pmSetting, tr("設定...(&S)"));
    AddItem(pmMenu1, pmReload, tr("リロード"));
    AddItem(pmMenu1, pmVersion, tr("バージョン(&V)"));
    AddSeparator(pmMenu1, "N5");
    AddItem(pmMenu1, pmClose, tr("閉じる(&C)"));

    // One handler per command.
    const auto on = [this](TItem item, auto handler) { connect(Item(item), &QAction::triggered, this, handler); };
    for (TItem item : {mmLoginSet, pmLogin})
        on(item, [this] { SignIn(); });
    on(mmAnonymous, &TForm1::mmAnonymousClick);
    for (TItem item : {mmAutoReload, pmAutoReload})
        on(item, &TForm1::AutoReloadChosen);
    on(mmAutoRotation, &TForm1::AutoRotationChosen);
    on(mmNotify, &TForm1::NotifyToggled);
    on(mmNotifyMentions, &TForm1::NotifyMentionsToggled);
    on(mmTopMost, &TForm1::TopMostChosen);
    on(mmSimpleMode, &TForm1::ListToggled);
    on(pmSimpleMode, [this] { ChooseDisplayMode(1); });
    on(mmSuperSimpleMode, [this] { ChooseDisplayMode(2); });
    on(mmWidget, [this] { ChooseDisplayMode(3); });
    for (TItem item : {mmSetting, pmSetting})
        on(item, &TForm1::OpenSettings);
    for (TItem item : {mmReload, pmReload})
        on(item, &TForm1::Reload);
    for (TItem item : {mmMore, pmMore})
        on(item, &TForm1::ReadMore);
    // From the menu bar the commands are locked while the dialog is open; from the
    // pop-up they are not.
    on(mmTwitt, [this] { OpenPost(true); });
    on(pmTwitt, [this] { OpenPost(false); });
    on(mmReply, [this] { OpenReply(true); });
    on(pmReply, [this] { OpenReply(false); });
    on(mmRepeat, &TForm1::RepeatClick);
    on(mmBrowser, &TForm1::OpenInBrowserClick);
    for (TItem item : {mmVersion, pmVersion})
        on(item, [this] { ExecDialog(VersionWindow()); });
    on(pmClose, &QWidget::close);
    UpdateTalkItems();  // nothing shown yet
}

void TForm1::TimerAutoReloadTimer()
{
    Reload();
}

void TForm1::ShowPopup(const QPoint& globalPos)
{
    pmMenu1->popup(globalPos);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    ShowPopup(event->globalPos());
}

void TForm1::RefreshTicks()
{
    // The ticks show the user's choice, which the timers follow except while a read
    // holds them, in every menu, whenever it opens.
    for (TItem item : {mmAutoReload, pmAutoReload})
        Item(item)->setChecked(m_state.AutoReload);
    Item(mmAutoRotation)->setChecked(m_state.AutoRotation);
    // Asked when a menu opens, not at start-up: the bus is nobody's business before.
    // Three states in two items: off, every new status, mentions only.
    const bool available = Notifier()->IsAvailable();
    const bool on = m_state.Notify != TMainState::NotifyOff;
    Item(mmNotify)->setEnabled(available);
    Item(mmNotify)->setChecked(on);
    Item(mmNotifyMentions)->setEnabled(available && on);
    Item(mmNotifyMentions)->setChecked(m_state.Notify == TMainState::NotifyMentions);
}

void TForm1::AutoReloadChosen(bool tick)
{
    m_state.AutoReload = tick;
    SetTimerEnabled(TimerAutoReload, tick);
    SettingsChanged();
}

void TForm1::AutoRotationChosen(bool tick)
{
    m_state.AutoRotation = tick;
    SetTimerEnabled(TimerAutoRotation, tick);
    SettingsChanged();
}

void TForm1::NotifyToggled(bool on)
{
    m_state.Notify = on ? TMainState::NotifyAll : TMainState::NotifyOff;
    RefreshTicks();
    SettingsChanged();
}

void TForm1::NotifyMentionsToggled(bool on)
{
    m_state.Notify = on ? TMainState::NotifyMentions : TMainState::NotifyAll;
    RefreshTicks();
    SettingsChanged();
}

void TForm1::TopMostChosen(bool ticked)
{
    m_frame->ApplyFlags(ticked ? windowFlags() | Qt::WindowStaysOnTopHint
                            : windowFlags() & ~Qt::WindowStaysOnTopHint);
}

void TForm1::ListToggled(bool ticked)
{
    // Only toggles the list; the window stays in its mode.
    ListView1->setVisible(!ticked);
}

void TForm1::ChooseDisplayMode(int mode)
{
    SetDisplayMode(mode);
    SettingsChanged();
}

bool TForm1::AskCredentials()
{
    auto* login = qobject_cast<TfrmLogin*>(LoginWindow());
    if (!login)
        return false;
    login->SetCurrent(TLoginCredentials::Of(m_state), m_state.ApiBase, m_network);
    if (login->exec() != QDialog::Accepted)
        return false;
    login->Chosen().ApplyTo(m_state);
    SettingsChanged();
    return true;
}

void TForm1::OpenSettings()
{
    ExecLockedDialog(SettingsWindow());
}

void TForm1::ApplyTimerChoices(const TTimerChoices& chosen)
{
    m_state.ReloadInterval = chosen.ReloadInterval;
    m_state.RotationInterval = chosen.RotationInterval;
    m_state.AutoReload = chosen.AutoReload;
    m_state.AutoRotation = chosen.AutoRotation;
    m_state.IntervalsChosen = true;
    SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
    SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);
    ApplyIntervals();
    SettingsChanged();
}

void TForm1::OpenPost(bool locked)
{
    auto* twitt = qobject_cast<TfrmTwitt*>(TwittWindow());
    if (!twitt)
        return;
    twitt->StartPost();
    if (locked)
        ExecLockedDialog(twitt);
    else
        ExecDialog(twitt);
}

void TForm1::ExecDialog(QDialog* dialog)
{
    if (dialog)
        dialog->exec();
}

void TForm1::ExecLockedDialog(QDialog* dialog)
{
    EnableCommands(false);
    try {
        ExecDialog(dialog);
    } catch (const std::exception&) {
        // Unlocked below whatever happened.
    }
    // A dialog opened during a read leaves the commands locked until the read ends; the
    // mentions read in the background and lock nothing.
    EnableCommands(!m_startUpHeld && !m_friends->Reading());
}
