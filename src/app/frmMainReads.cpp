#include "app/frmMain.h"

#include "app/Application.h"
#include "app/FirstFrame.h"
#include "app/MentionsTab.h"
#include "app/NewsNotifier.h"
#include "app/SecondaryWindows.h"
#include "app/StatusLine.h"
#include "app/StatusLists.h"
#include "app/WindowFrame.h"
#include "app/WindowTimers.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/uLoginSettings.h"
#include "service/LiveStream.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"
#include "service/TimelineSource.h"

#include <QAction>
#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

namespace {

// After the first frame.
constexpr int kMentionsDelayMs = 300;
constexpr int kServerConfigDelayMs = 1000;

} // namespace

// The window's side of the timeline's reads (start-up, sign-in, reload, read more): the
// feed reads and says what happened; the window locks its commands while a page of the
// friends timeline is read, selects the first row, and shows read-more's error box.

void TForm1::BuildFeeds(TTimelineReader* reader)
{
    auto* seen = new TSeenStatuses(this);
    seen->SetOwn([this](const TTimelineStatus& status) { return IsOwnStatus(status); });
    const auto account = [this] { return Account(); };
    m_friends = new TTimelineFeed(MakeTimelineSource(TTimeline::Friends, account, m_options.Bounds, reader, nullptr),
                                  seen, this);
    m_friends->SetPageGate([this] { return PageGate(); });
    m_friends->SetReloadInterval(m_options.ReloadIntervalMs);
    m_friends->SetAutoReloadOn([this] { return m_state.AutoReload; });
    auto* mentions = m_mentionsFeed = new TTimelineFeed(
        MakeTimelineSource(TTimeline::Mentions, account, m_options.Bounds, nullptr, nullptr), seen, this);
    mentions->SetName(tr("@返信"));
    m_copy = new TFeedCopy(m_options.OfflineCopyPath(), m_friends, mentions, this);
    m_copy->SetOwner(TimelineCacheOwner(m_state.AccountName, m_state.ApiBase));
    m_copy->HoldSaves();  // until the first frame
    // Statuses pushed as they are posted, where the account's server streams them.
    new TLiveStream(account, m_friends, mentions, this);
    m_notifier = new TNewsNotifier(
        this, [this] { return m_state.Notify; }, [this](const QString& id) { return m_timeline->IndexOf(id) >= 0; });
    connect(m_notifier, &TNewsNotifier::StatusActivated, this, &TForm1::ShowStatusById);

    for (TTimelineFeed* feed : {m_friends, mentions}) {
        connect(feed, &TTimelineFeed::StatusLine, this, [this](const QString& line, const QString& panel) {
            ShowStatus(line);
            if (!panel.isEmpty())
                m_statusLine->SetPanel(panel);
        });
        connect(feed, &TTimelineFeed::UnseenChanged, this, &TForm1::UpdateUnseen);
        connect(feed, &TTimelineFeed::News, this, [this, feed](const QList<TTimelineStatus>& news) {
            m_notifier->Tell(news, feed != m_friends);
        });
    }
    connect(m_friends, &TTimelineFeed::PageStarted, this, [this] {
        // The window keeps painting (the loading line included) and can be moved and
        // closed meanwhile, with its commands locked. A reload has locked them for all its
        // pages: unlocking between two pages would only repaint the whole window twice per page.
        m_pageLocked = !m_commandsLocked;
        if (m_pageLocked)
            EnableCommands(false);
        QApplication::setOverrideCursor(Qt::BusyCursor);
    });
    connect(m_friends, &TTimelineFeed::PageFinished, this, [this] {
        QApplication::restoreOverrideCursor();
        if (std::exchange(m_pageLocked, false))
            EnableCommands(true);
    });
    connect(m_friends, &TTimelineFeed::ReloadWaitChanged, this, [this](qint64 ms) {
        m_timers->Reload()->setInterval(int(ms));
    });
    connect(m_friends, &TTimelineFeed::ReadEnded, this, &TForm1::FriendsRead);
    // One dialog for a token both lists are refused; queued, it runs after the read has ended.
    mentions->AskSignInWith(m_friends);
    connect(m_friends, &TTimelineFeed::SignInAgain, this, &TForm1::SignInAgain, Qt::QueuedConnection);
    connect(mentions, &TTimelineFeed::SignInAgain, this, &TForm1::SignInAgain, Qt::QueuedConnection);
    connect(mentions, &TTimelineFeed::ReadEnded, this, &TForm1::MentionsEnded);
}

TPageGate TForm1::PageGate()
{
    if (!m_apiError.isEmpty()) {
        ShowStatus(m_apiError);
        return {TPageGate::Failed, m_apiError};
    }
    if (!m_state.HasCredentials()) {
        // The user is entering them now: the read after that dialog uses them.
        if (m_windows->LoginShown())
            return {TPageGate::NothingRead, {}};
        m_windows->MissingCredentialsBox(m_keyringFailed && !m_state.AccountName.isEmpty());
        return {TPageGate::NothingRead, {}};
    }
    return {};
}

bool TForm1::Reading() const
{
    return m_startUpHeld || m_friends->Reading() || m_mentionsFeed->Reading();
}

int TForm1::PageCounter() const
{
    return m_friends->PageCount();
}

void TForm1::FriendsRead(const TFeedEnd& end)
{
    if (end.Abandoned) {
        if (end.Kind == TFeedRead::Reload) {
            m_lists->Friends()->setUpdatesEnabled(true);
            EnableCommands(true);
        }
        Q_EMIT ReadsFinished();
        return;
    }
    switch (end.Kind) {
    case TFeedRead::StartUp:
        StartUpRead(end);
        break;
    case TFeedRead::SignIn:
        if (end.Completed)
            SelectFirstAndShow();
        // Another account, perhaps: its own mentions.
        if (end.Succeeded)
            RefreshMentions();
        break;
    case TFeedRead::Reload:
    case TFeedRead::Refresh:
        ReloadRead(end);
        break;
    case TFeedRead::More:
        if (!end.Completed)
            m_windows->DefaultErrorBox(end.Error);
        break;
    }
    if (end.Succeeded && !m_configAsked && m_options.ReadServerConfig) {
        m_configAsked = true;
        // Nothing in the first frame needs it.
        m_firstFrame->Then([this, account = Account()] {
            QTimer::singleShot(kServerConfigDelayMs, this,
                               [this, account] { m_configReader->Start(account, m_options.Bounds); });
        });
    }
    if (std::exchange(m_signInAfterRead, false) && !m_closing)
        QMetaObject::invokeMethod(this, &TForm1::SignIn, Qt::QueuedConnection);
    Q_EMIT ReadsFinished();
}

void TForm1::StartUpRead(const TFeedEnd& end)
{
    m_showEarly->stop();
    if (end.Completed)
        SelectFirstAndShow();
    // A read that failed leaves the last one's rows to look at, said last.
    if (!end.Succeeded && !m_closing && m_state.HasCredentials() && m_friends->ShowCopyAfterFailure())
        SelectFirstAndShow();
    m_timers->Follow(m_state);

    SetDisplayMode(m_state.DisplayMode);
    m_started = true;
    if (m_showWhenStarted && !m_closing)
        ShowFirstFrame();
    // The mentions follow the first frame: nothing there waits for them.
    if (end.Succeeded && !m_closing)
        m_firstFrame->Then([this] { QTimer::singleShot(kMentionsDelayMs, this, &TForm1::RefreshMentions); });
    if (!isVisible())
        m_firstFrame->NotShown();
}

void TForm1::ShowFirstFrame()
{
    m_frame->PlaceBeforeShowing();
    show();
    // Each child shown asks to be painted through a posted event. Shown from inside a slot,
    // those would come after the window's first expose and paint the whole window a
    // second time; taken now, the first frame paints everything once.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    m_firstFrame->Shown();
}

void TForm1::StartUpReadWhenReady()
{
    if (!m_startUpHeld || m_awaitingPassword || !m_firstFrame->Painted() || m_windows->LoginShown())
        return;
    // ログイン設定 was chosen during the wait: the dialog now, with the keyring's password,
    // and the start-up read with what it took.
    if (std::exchange(m_signInAsked, false)) {
        AskCredentials();
        if (!m_startUpHeld)
            return;  // closed meanwhile
    }
    m_startUpHeld = false;
    m_friends->Start(TFeedRead::StartUp);
}

void TForm1::ShowWhenStarted()
{
    if (m_started)
        ShowFirstFrame();
    else
        m_showWhenStarted = true;
}

void TForm1::SelectFirstAndShow()
{
    if (m_timeline->IsEmpty())
        return;
    // Shown because a read ended, not because the user or the rotation came to it; the
    // strip shows it when the friends timeline is in front.
    m_autoShow = true;
    m_lists->Friends()->selectionModel()->select(m_timeline->index(0, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (m_lists->FriendsInFront())
        ListView1Click();
    m_autoShow = false;
}

void TForm1::Reload()
{
    if (m_startUpHeld || m_friends->Reading() || m_closing)
        return;
    EnableCommands(false);
    // The list keeps its last picture until every page is in, instead of being painted
    // again for each of them; the status line still moves.
    m_lists->Friends()->setUpdatesEnabled(false);
    m_friends->Start(TFeedRead::Reload);
}

void TForm1::ReloadRead(const TFeedEnd& end)
{
    m_lists->Friends()->setUpdatesEnabled(true);
    if ((end.Completed || end.Restored) && !m_timeline->IsEmpty())
        SelectFirstAndShow();
    EnableCommands(true);
    ReturnFreeMemory();
    // Someone may have answered among what is new; a reload asked for on the mentions
    // tab reads them in any case.
    if (end.News || (end.Succeeded && !m_lists->FriendsInFront()))
        RefreshMentions();
}

void TForm1::SignIn()
{
    if (m_startUpHeld && !m_closing) {
        // The dialog would show the password before the keyring has given it.
        m_signInAsked = true;
        return;
    }
    if (m_startUpHeld || m_friends->Reading() || m_closing)
        return;
    m_signInAfterRead = false;
    if (AskCredentials()) {
        // Perhaps another account: who it is and its mentions are asked again.
        m_ownScreenName.clear();
        m_configAsked = false;
        m_mentionsFeed->Abandon();
    }
    if (m_friends->Reading() || m_closing)
        return;  // a read started while the dialog was open
    m_friends->Start(TFeedRead::SignIn);
}

void TForm1::SignInAgain(const QString& words)
{
    TfrmLogin* login = m_windows->Login();
    if (!login || login->isVisible() || m_closing)
        return;
    login->SetRefusal(words);
    // The mentions, read beside the friends timeline, may be refused while it is read:
    // the dialog follows that read.
    if (m_friends->Reading()) {
        m_signInAfterRead = true;
        return;
    }
    SignIn();
}

void TForm1::ReadMore()
{
    if (m_startUpHeld || m_friends->Reading() || m_closing)
        return;
    // On the mentions tab its own older page; a missing account or address is said by
    // the friends timeline's read as ever.
    if (!m_lists->FriendsInFront() && m_apiError.isEmpty() && m_state.HasCredentials()) {
        m_mentionsFeed->Start(TFeedRead::More);
        return;
    }
    m_friends->Start(TFeedRead::More);
}

void TForm1::AbandonReads()
{
    const bool held = std::exchange(m_startUpHeld, false);
    m_mentionsFeed->Abandon();
    m_friends->Abandon();
    if (held)
        Q_EMIT ReadsFinished();
}

// The "@返信" tab beside the friends timeline: read after the first frame and after each
// read that brought news, with its own unseen count in its caption. The strip, the star,
// the rotation and read-more follow whichever list is in front.

void TForm1::RefreshMentions()
{
    if (!m_options.ReadMentions || m_closing || !m_apiError.isEmpty() || !m_state.HasCredentials())
        return;
    // Said line by line only when the user is looking at them.
    m_mentionsFeed->Start(TFeedRead::Refresh, m_lists->Pages()->currentWidget() == m_lists->Mentions()->Page());
}

void TForm1::MentionsEnded(const TFeedEnd& end)
{
    if (end.Abandoned)
        return;
    // A refresh put new rows in place of the old: the tab in front shows its first again.
    if (end.Succeeded && m_lists->Mentions()->HasView()) {
        QTreeView* list = m_lists->Mentions()->View();
        if (!list->selectionModel()->hasSelection() && !m_lists->Mentions()->Model()->IsEmpty()) {
            const bool shown = m_lists->Active() == list;
            m_autoShow = true;
            list->selectionModel()->select(m_lists->Mentions()->Model()->index(0, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            if (shown)
                ShowSelected();
            m_autoShow = false;
        }
    }
    Q_EMIT ReadsFinished();
}

void TForm1::ActiveTabChanged()
{
    // The strip shows the list in front: its chosen row, or its first. Coming to a tab
    // is not choosing a row: it becomes seen as the rotation's rows do.
    if (m_lists->SelectedIndex() < 0 && m_lists->ActiveModel()->IsEmpty())
        return;
    m_autoShow = true;
    if (m_lists->SelectedIndex() < 0)
        m_lists->SelectRow(0);
    ShowSelected();
    m_autoShow = false;
}
