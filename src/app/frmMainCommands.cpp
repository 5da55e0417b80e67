#include "app/frmMain.h"

#include "app/CommandMenus.h"
#include "app/NewsNotifier.h"
#include "app/SecondaryWindows.h"
#include "app/ShownStatus.h"
#include "app/StatusLists.h"
#include "app/WindowFrame.h"
#include "app/WindowTimers.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "dialogs/ufrmSettings.h"
#include "service/ServicePost.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

using namespace commands;

// One handler for each command of the two menus. Where their captions differ (or, for
// posting and replying, whether the commands are locked meanwhile), each menu has its own
// item and both go to the one handler.

void TForm1::BuildMenus()
{
    m_menus = new TCommandMenus(this, m_state, [this] { RefreshTicks(); });

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
    on(mmRepeat, [this] { m_shownStatus->Repeat(); });
    on(mmBrowser, [this] { m_shownStatus->OpenInBrowser(); });
    for (TItem item : {mmVersion, pmVersion})
        on(item, [this] { ExecDialog(m_windows->Version()); });
    on(pmClose, &QWidget::close);
}

void TForm1::TimerAutoReloadTimer()
{
    Reload();
}

void TForm1::ShowPopup(const QPoint& globalPos)
{
    m_menus->Popup()->popup(globalPos);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    ShowPopup(event->globalPos());
}

void TForm1::RefreshTicks()
{
    // The bus is asked when a menu opens, not at start-up: it is nobody's business before.
    m_menus->ShowTicks(m_state, m_notifier->IsAvailable());
}

void TForm1::AutoReloadChosen(bool tick)
{
    m_state.AutoReload = tick;
    SetTimerEnabled(m_timers->Reload(), tick);
    SettingsChanged();
}

void TForm1::AutoRotationChosen(bool tick)
{
    m_state.AutoRotation = tick;
    SetTimerEnabled(m_timers->Rotation(), tick);
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
    m_state.TopMost = ticked;
    m_frame->ApplyFlags(ticked ? windowFlags() | Qt::WindowStaysOnTopHint
                            : windowFlags() & ~Qt::WindowStaysOnTopHint);
    SettingsChanged();
}

void TForm1::ListToggled(bool ticked)
{
    // Only toggles the list; the window stays in its mode.
    m_lists->Friends()->setVisible(!ticked);
}

void TForm1::ChooseDisplayMode(int mode)
{
    SetDisplayMode(mode);
    SettingsChanged();
}

bool TForm1::AskCredentials()
{
    TfrmLogin* login = m_windows->Login();
    if (!login)
        return false;
    login->SetCurrent(TLoginCredentials::Of(m_state), m_state.ApiBase, m_network);
    if (login->exec() != QDialog::Accepted) {
        // A registration made on the way is used next time: servers allow few of them.
        if (login->Registration() && login->Registration()->KeepRegistrationIn(m_state))
            SettingsChanged();
        return false;
    }
    login->Chosen().ApplyTo(m_state);
    m_keyringFailed = false;
    // Another account's rows and counts go with it.
    m_copy->SetOwner(TimelineCacheOwner(m_state.AccountName, m_state.ApiBase));
    SettingsChanged();
    return true;
}

void TForm1::OpenSettings()
{
    ExecLockedDialog(m_windows->Settings());
}

void TForm1::ApplyTimerChoices(const TTimerChoices& chosen)
{
    m_state.ReloadInterval = chosen.ReloadInterval;
    m_state.RotationInterval = chosen.RotationInterval;
    m_state.AutoReload = chosen.AutoReload;
    m_state.AutoRotation = chosen.AutoRotation;
    m_state.IntervalsChosen = true;
    m_timers->Follow(m_state);
    m_timers->ApplyIntervals(m_state, m_friends);
    SettingsChanged();
}

void TForm1::OpenPost(bool locked)
{
    TfrmTwitt* twitt = m_windows->Twitt();
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

// Talking back to the status the strip shows: a favourite through the star, a reply
// through the posting dialog, a repeat, and its page in the browser (TShownStatus).

bool TForm1::IsOwnStatus(const TTimelineStatus& status) const
{
    // The server says who the account is once asked; until then, the services sign in
    // with the account's screen name.
    const QString own = m_ownScreenName.isEmpty() ? m_state.AccountName : m_ownScreenName;
    return !status.ScreenName.isEmpty() && status.ScreenName.compare(own, Qt::CaseInsensitive) == 0;
}

void TForm1::OpenReply(bool locked)
{
    TfrmTwitt* twitt = m_windows->Twitt();
    const std::optional<TTimelineStatus>& shown = m_shownStatus->Status();
    if (!twitt || !shown)
        return;
    twitt->StartReply(shown->ScreenName, shown->Id);
    if (locked)
        ExecLockedDialog(twitt);
    else
        ExecDialog(twitt);
}

void TForm1::Image1Click()
{
    const int row = m_lists->SelectedIndex();
    const QString id = row >= 0 ? m_lists->ActiveModel()->At(row).Id : QString();
    ShowStatus(QStringLiteral("status_id:") + id);
    if (!IsServiceStatusId(Account(), id)) {
        ShowStatus(tr("status idが取得できません"));
        return;
    }
    m_shownStatus->Favorite(id);
}
