#include "app/frmMain.h"

#include "app/StatusLists.h"
#include "app/DesktopNotifier.h"
#include "app/MentionsTab.h"
#include "app/SecondaryWindows.h"
#include "app/ShownStatus.h"
#include "app/Strip.h"
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


namespace {

constexpr char kTitleMenuHint[] = QT_TRANSLATE_NOOP("TForm1", "Brimlark_Simple(右クリックでメニュー)");

} // namespace

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

int TForm1::UnseenCount() const
{
    int count = m_timeline->UnseenCount();
    // A mention the friends timeline holds too is counted there already.
    for (const TTimelineStatus& status : m_lists->Mentions()->Model()->Rows()) {
        if (!status.Seen && m_timeline->IndexOf(status.Id) < 0)
            ++count;
    }
    return count;
}

void TForm1::UpdateUnseen()
{
    // The list draws an unseen row's name bold from the model's own mark.
    const int count = UnseenCount();
    m_lists->Mentions()->ShowUnseen(m_lists->Mentions()->Model()->UnseenCount());
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
    TTimelineModel* model = m_lists->ActiveModel();
    if (model->IndexOf(statusId) < 0) {
        const bool inFriends = m_timeline->IndexOf(statusId) >= 0;
        if (!inFriends && m_lists->Mentions()->Model()->IndexOf(statusId) < 0)
            return;
        m_lists->Pages()->setCurrentWidget(inFriends ? m_lists->FriendsPage() : m_lists->Mentions()->Page());
        model = m_lists->ActiveModel();
    }
    const int row = model->IndexOf(statusId);
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    m_lists->SelectRow(row);
    m_lists->Active()->scrollTo(model->index(row, 0));
    ShowSelected();
}

void TForm1::ApplyServerConfig(const TServerConfig& config)
{
    if (!config.ScreenName.isEmpty()) {
        m_ownScreenName = config.ScreenName;
        m_shownStatus->Refresh();
    }
    if (!config.TextLimit)
        return;
    m_windows->SetTextLimit(*config.TextLimit);
}
