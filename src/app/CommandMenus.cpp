#include "app/CommandMenus.h"

#include "settings/Settings.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

using namespace commands;

namespace {

// The items' object names, which tests and accessibility tools know them by.
constexpr const char* kItemNames[] = {
    "mmLogin", "mmLoginSet", "mmView", "mmAnonymous", "mmAutoReload", "mmAutoRotation", "mmNotify",
    "mmNotifyMentions", "mmTopMost", "mmSimpleMode", "mmSuperSimpleMode", "mmWidget", "mmSetting",
    "mmReload", "mmMore", "mmTwitt", "mmReply", "mmRepeat", "mmBrowser", "mmVersion",
    "pmLogin", "pmSimpleMode", "pmTwitt", "pmReply", "pmMore", "pmAutoReload", "pmSetting",
    "pmReload", "pmVersion", "pmClose",
};

void AddSeparator(QMenu* menu, const char* name)
{
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

} // namespace

TCommandMenus::TCommandMenus(QMainWindow* window, const TMainState& state, const std::function<void()>& opening)
    : QObject(window)
{
    BuildMenuBar(window, state, opening);
    BuildPopup(window, opening);
}

QAction* TCommandMenus::AddItem(QMenu* menu, TItem item, const QString& caption, bool checkable)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(kItemNames[item]));
    action->setCheckable(checkable);
    m_items[item] = action;
    return action;
}

void TCommandMenus::BuildMenuBar(QMainWindow* window, const TMainState& state, const std::function<void()>& opening)
{
    QMenuBar* bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    // A submenu under its own name and its item's.
    const auto addMenu = [&](TItem item, const QString& caption, const QString& name) {
        QMenu* menu = bar->addMenu(caption);
        menu->setObjectName(name);
        m_items[item] = menu->menuAction();
        menu->menuAction()->setObjectName(QString::fromLatin1(kItemNames[item]));
        return menu;
    };

    QMenu* login = addMenu(mmLogin, tr("ログイン(&L)"), QStringLiteral("mmLoginMenu"));
    AddItem(login, mmLoginSet, tr("ログイン設定...(&L)"));

    QMenu* view = addMenu(mmView, tr("表示モード(&V)"), QStringLiteral("mmViewMenu"));
    connect(view, &QMenu::aboutToShow, this, opening);
    AddItem(view, mmAnonymous, tr("名前を表示しない"), true)->setChecked(state.Anonymous);
    AddSeparator(view, "N1");
    AddItem(view, mmAutoReload, tr("自動更新タイマー"), true);
    AddItem(view, mmAutoRotation, tr("ローテーションタイマー"), true);
    AddItem(view, mmNotify, tr("新着をデスクトップに通知"), true);
    AddItem(view, mmNotifyMentions, tr("メンションのみ"), true);
    AddSeparator(view, "N8");
    AddItem(view, mmTopMost, tr("最前面に表示"), true)->setChecked(state.TopMost);
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
}

void TCommandMenus::BuildPopup(QMainWindow* window, const std::function<void()>& opening)
{
    m_popup = new QMenu(window);
    m_popup->setObjectName(QStringLiteral("pmMenu1"));
    connect(m_popup, &QMenu::aboutToShow, this, opening);
    AddItem(m_popup, pmLogin, tr("ログイン(&L)"));
    AddSeparator(m_popup, "N7");
    AddItem(m_popup, pmSimpleMode, tr("通常リストモード(&L)"));
    m_popup->addActions({Item(mmSuperSimpleMode), Item(mmWidget)});
    AddSeparator(m_popup, "N4");
    AddItem(m_popup, pmTwitt, tr("つぶやく(&T)"));
    AddItem(m_popup, pmReply, tr("返信(&E)..."));
    m_popup->addActions({Item(mmRepeat), Item(mmBrowser)});
    AddItem(m_popup, pmMore, tr("もっと読む(&M)"));
    AddItem(m_popup, pmAutoReload, tr("自動取得タイマー(&R)"), true)->setChecked(true);
    m_popup->addActions({Item(mmAutoRotation), Item(mmNotify), Item(mmNotifyMentions)});
    AddSeparator(m_popup, "N6");
    AddItem(m_popup, pmSetting, tr("設定...(&S)"));
    AddItem(m_popup, pmReload, tr("リロード"));
    AddItem(m_popup, pmVersion, tr("バージョン(&V)"));
    AddSeparator(m_popup, "N5");
    AddItem(m_popup, pmClose, tr("閉じる(&C)"));
}

void TCommandMenus::ShowTicks(const TMainState& state, bool notifyAvailable)
{
    // The ticks show the user's choice, which the timers follow except while a read
    // holds them.
    for (TItem item : {mmAutoReload, pmAutoReload})
        Item(item)->setChecked(state.AutoReload);
    Item(mmAutoRotation)->setChecked(state.AutoRotation);
    // Three states in two items: off, every new status, mentions only.
    const bool on = state.Notify != TMainState::NotifyOff;
    Item(mmNotify)->setEnabled(notifyAvailable);
    Item(mmNotify)->setChecked(on);
    Item(mmNotifyMentions)->setEnabled(notifyAvailable && on);
    Item(mmNotifyMentions)->setChecked(state.Notify == TMainState::NotifyMentions);
}

void TCommandMenus::SetEnabled(bool enable)
{
    // The pop-up's compact and widget items are the menu bar's, whose submenu is locked.
    for (TItem item : {mmLogin, mmView, mmReload, mmMore, mmTwitt, mmVersion, pmLogin, pmTwitt, pmMore,
                       pmSimpleMode, mmSuperSimpleMode, mmWidget, pmVersion, pmAutoReload, pmReload, pmClose})
        Item(item)->setEnabled(enable);
}
