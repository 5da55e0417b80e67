#include "app/frmMain.h"

#include "app/DesktopNotifier.h"
#include "app/MentionsTab.h"
#include "app/Strip.h"
#include "app/frmMain_p.h"
#include "dialogs/uTwitt.h"
#include "service/ServicePost.h"
#include "service/TimelineCache.h"
#include "service/TimelineFeed.h"
#include "service/ServerConfig.h"
#include "service/TimelineModel.h"

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

using namespace form1;

// What is new since the user last looked, as the window shows it: the seen clock of the
// strip, the count in the title, the tab and the widget's badge, the desktop
// notification, and the server's own text limit.

QString TForm1::OfflineCopyFile() const
{
    return m_options.TimelineCacheFile.isEmpty() ? TimelineCacheFileBeside(m_options.SettingsFile)
                                                 : m_options.TimelineCacheFile;
}

void TForm1::Notify(const QList<TTimelineStatus>& arrived, bool mentions)
{
    // "Mentions only" leaves the friends timeline's statuses out; "every new status" tells
    // of a mention only when the friends timeline did not bring it already.
    QList<TTimelineStatus> told;
    if (m_state.Notify == TMainState::NotifyAll && !mentions) {
        told = arrived;
    } else if (mentions && m_state.Notify != TMainState::NotifyOff) {
        for (const TTimelineStatus& status : arrived) {
            if (m_state.Notify == TMainState::NotifyMentions || m_timeline->IndexOf(status.Id) < 0)
                told.append(status);
        }
    }
    if (told.isEmpty())
        return;
    const TTimelineStatus& newest = told.first();
    const QString name = newest.Name, text = newest.Text, id = newest.Id;
    const int count = int(told.size());
    // After the frame in hand: asking the bus is not the window's business.
    QTimer::singleShot(0, this, [this, count, name, text, id, mentions] {
        TDesktopNotifier* notifier = Notifier();
        if (!notifier || !notifier->IsAvailable())
            return;
        if (mentions)
            notifier->NotifyNewMentions(count, name, text, id);
        else
            notifier->NotifyNewStatuses(count, name, text, id);
    });
}

void TForm1::StartSeenClock(const QString& id)
{
    if (m_friends->Seen()->Contains(id))
        return;
    m_seenCandidate = id;
    m_seenClock.start();
    m_seenTimer->start(TimerAutoRotation->interval());
}

void TForm1::CheckSeenClock()
{
    if (m_seenCandidate.isEmpty() || !m_shown || m_seenCandidate != m_shown->Id || !isVisible() || isMinimized())
        return;
    // Both timers run on the same interval; either may fire a little before the other.
    const qint64 interval = TimerAutoRotation->interval();
    if (m_seenClock.elapsed() < interval - interval / 10)
        return;
    m_seenTimer->stop();
    MarkSeenId(std::exchange(m_seenCandidate, QString()));
}

void TForm1::MarkSeenId(const QString& id)
{
    if (id == m_seenCandidate) {
        m_seenCandidate.clear();
        m_seenTimer->stop();
    }
    // Both lists: a mention from a friend is in each.
    m_friends->Seen()->Mark(id);
}

int TForm1::UnseenCount() const
{
    int count = m_timeline->UnseenCount();
    // A mention the friends timeline holds too is counted there already.
    for (const TTimelineStatus& status : m_mentions->Model()->Rows()) {
        if (!status.Seen && m_timeline->IndexOf(status.Id) < 0)
            ++count;
    }
    return count;
}

void TForm1::UpdateUnseen()
{
    // The list draws an unseen row's name bold from the model's own mark.
    const int count = UnseenCount();
    m_mentions->ShowUnseen(m_mentions->Model()->UnseenCount());
    UpdateTitle(count);
    m_strip->ShowUnseen(m_state.DisplayMode == 3 ? count : 0);
}

void TForm1::UpdateTitle(int unseen)
{
    const QString base = m_state.DisplayMode == 2 || m_state.DisplayMode == 3 ? tr(kTitleMenuHint) : kTitle;
    setWindowTitle(unseen > 0 ? QStringLiteral("%1 (%2)").arg(base).arg(unseen) : base);
}

TDesktopNotifier* TForm1::Notifier()
{
    if (!m_notifier) {
        m_notifier = new TDesktopNotifier(this);
        connect(m_notifier, &TDesktopNotifier::StatusActivated, this, &TForm1::ShowStatusById);
    }
    return m_notifier;
}

void TForm1::ShowStatusById(const QString& statusId)
{
    // In the list in front when it has it: a mention's notification opens the mentions.
    TTimelineModel* model = ActiveModel();
    if (model->IndexOf(statusId) < 0) {
        const bool inFriends = m_timeline->IndexOf(statusId) >= 0;
        if (!inFriends && m_mentions->Model()->IndexOf(statusId) < 0)
            return;
        PageControl1->setCurrentWidget(inFriends ? tabFriend : m_mentions->Page());
        model = ActiveModel();
    }
    const int row = model->IndexOf(statusId);
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    SelectRow(row);
    ActiveView()->scrollTo(model->index(row, 0));
    ShowSelected();
}

void TForm1::ApplyServerConfig(const TServerConfig& config)
{
    if (!config.ScreenName.isEmpty()) {
        m_ownScreenName = config.ScreenName;
        UpdateTalkItems();
    }
    if (!config.TextLimit)
        return;
    m_textLimit = config.TextLimit;
    if (auto* dialog = qobject_cast<TfrmTwitt*>(m_frmTwitt))
        dialog->SetTextLimit(*m_textLimit);
}
