#include "app/frmMain.h"

#include "app/DesktopNotifier.h"
#include "app/MentionsTab.h"
#include "app/Strip.h"
#include "app/frmMain_p.h"
#include "dialogs/uTwitt.h"
#include "service/ServicePost.h"
#include "service/TimelineCache.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"
#include "text/Logging.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include <utility>

using namespace form1;

// What is new since the user last looked: the unseen marks, the count in the title and
// the widget's badge, the desktop notification, the offline copy that keeps the rows and
// their marks across starts, and the server's own text limit.

namespace {

constexpr int kOfflineSaveDelayMs = 1000;
constexpr int kServerConfigDelayMs = 1000;

} // namespace

QSet<QString> TForm1::ShownIds() const
{
    return m_timeline->Ids();
}

void TForm1::LoadOfflineCopy()
{
    m_offlineCopy = m_offlineLoad.valid() ? m_offlineLoad.get() : LoadTimelineCache(OfflineCopyFile(), nullptr);
    if (m_offlineCopy) {
        m_seen = m_offlineCopy->SeenIds;
        m_knownIds.clear();
        for (const TStatusRow& row : m_offlineCopy->Rows)
            m_knownIds.insert(row.Id);
        // The last mentions stay on their tab, grey, until they are read again.
        m_mentionsRead = m_offlineCopy->MentionsRead;
        for (const TStatusRow& row : m_offlineCopy->MentionRows)
            m_knownMentionIds.insert(row.Id);
        m_mentions->Model()->Append(OfflineRows(m_offlineCopy->MentionRows));
    }
}

QString TForm1::OfflineCopyFile() const
{
    return m_options.TimelineCacheFile.isEmpty() ? TimelineCacheFileBeside(m_options.SettingsFile)
                                                 : m_options.TimelineCacheFile;
}

QList<int> TForm1::MarkArrivals(TTimelineModel* model, QSet<QString>& known, bool history)
{
    QList<int> arrived;
    for (int i = 0; i < model->Count(); ++i) {
        const QString& id = model->At(i).Id;
        if (history)
            m_seen.insert(id);
        // Seen before, in either list or an earlier run, stays seen.
        if (m_seen.contains(id)) {
            if (!model->At(i).Seen)
                model->MarkSeen(id);
        } else if (!known.contains(id)) {
            arrived.append(i);
        }
    }
    known.unite(model->Ids());
    return arrived;
}

bool TForm1::AfterRead(bool olderPage)
{
    m_offline = false;
    m_readAt = QDateTime::currentDateTimeUtc();
    const bool firstEver = !m_offlineCopy && !m_hadRead;
    m_hadRead = true;
    // New: in this read and in no list before. Older pages asked for with "read more",
    // and the very first read of a program without an offline copy, are history rather
    // than news: they start seen.
    const QList<int> arrived = MarkArrivals(m_timeline, m_knownIds, olderPage || firstEver);
    UpdateUnseen();
    ScheduleOfflineSave();
    QList<TTimelineStatus> news;
    for (int row : arrived)
        news.append(m_timeline->At(row));
    Notify(news, false);
    if (!m_configAsked && m_options.ReadServerConfig) {
        m_configAsked = true;
        // Not before the first frame: nothing there needs it, and its thread and request
        // would only compete with painting the window.
        QTimer::singleShot(kServerConfigDelayMs, this, [this, account = Account()] {
            m_configReader->Start(account, m_options.Bounds);
        });
    }
    return !arrived.isEmpty();
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

QList<TTimelineStatus> TForm1::OfflineRows(const QList<TStatusRow>& kept) const
{
    QList<TTimelineStatus> rows;
    rows.reserve(kept.size());
    for (const TStatusRow& row : kept) {
        rows.append(TTimelineStatus::From(row));
        rows.back().Seen = m_seen.contains(row.Id);
        // Shown grey: not what the server says now, but what it said last time.
        rows.back().Offline = true;
    }
    return rows;
}

void TForm1::ShowOfflineRows(const QString& failureLine)
{
    if (!m_offlineCopy || m_offlineCopy->Rows.isEmpty() || !m_timeline->IsEmpty())
        return;
    m_timeline->Append(OfflineRows(m_offlineCopy->Rows));
    if (m_mentions->Model()->IsEmpty())
        m_mentions->Model()->Append(OfflineRows(m_offlineCopy->MentionRows));
    m_offline = true;
    m_readAt = m_offlineCopy->ReadAt;
    const QString when = QLocale::system().toString(m_offlineCopy->ReadAt.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm"));
    const QString note = tr("前回 %1 に読み込んだ内容を表示しています").arg(when);
    ShowStatus(note);
    // The status bar keeps why the read failed beside what it shows instead.
    if (!failureLine.isEmpty())
        m_statusPanel->setText(failureLine + QStringLiteral(" — ") + note);
    UpdateUnseen();
    SelectFirstAndShow();
}

void TForm1::StartSeenClock(const QString& id)
{
    if (m_seen.contains(id))
        return;
    m_seenCandidate = id;
    m_seenClock.start();
    m_seenTimer->start(TimerAutoRotation->interval());
}

void TForm1::CheckSeenClock()
{
    if (m_seenCandidate.isEmpty() || m_seenCandidate != m_shownId || !isVisible() || isMinimized())
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
    m_seen.insert(id);
    // Both lists: a mention from a friend is in each.
    const bool inFriends = m_timeline->MarkSeen(id);
    if (!m_mentions->Model()->MarkSeen(id) && !inFriends)
        return;
    UpdateUnseen();
    ScheduleOfflineSave();
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
    m_unseen = count;
    m_mentions->ShowUnseen(m_mentions->Model()->UnseenCount());
    UpdateTitle();
    m_strip->ShowUnseen(m_state.DisplayMode == 3 ? count : 0);
}

void TForm1::UpdateTitle()
{
    const QString base = m_state.DisplayMode == 2 || m_state.DisplayMode == 3 ? tr(kTitleMenuHint) : kTitle;
    setWindowTitle(m_unseen > 0 ? QStringLiteral("%1 (%2)").arg(base).arg(m_unseen) : base);
}

void TForm1::ScheduleOfflineSave()
{
    // Marks change one by one as the rotation runs: one write for a burst of them.
    if (!m_offlineSave->isActive())
        m_offlineSave->start(kOfflineSaveDelayMs);
}

void TForm1::SaveOfflineCopy()
{
    m_offlineSave->stop();
    if (!m_hadRead && !m_offline)
        return;  // nothing read yet: an older copy stays as it is
    TTimelineCache cache;
    cache.ReadAt = m_readAt.isValid() ? m_readAt : QDateTime::currentDateTimeUtc();
    const auto keep = [&cache](const TTimelineModel* model, QList<TStatusRow>& into) {
        for (const TTimelineStatus& status : model->Rows()) {
            if (into.size() >= kTimelineCacheRows)
                break;
            if (!IsStatusId(status.Id))
                continue;  // a row the service sent without a usable id cannot be kept
            into.append(status.Row());
            if (status.Seen)
                cache.SeenIds.insert(status.Id);
        }
    };
    keep(m_timeline, cache.Rows);
    keep(m_mentions->Model(), cache.MentionRows);
    cache.MentionsRead = m_mentionsRead;
    QString error;
    if (!SaveTimelineCache(OfflineCopyFile(), cache, &error))
        qCWarning(lcApp).noquote() << "offline copy not saved:" << OfflineCopyFile() << error;
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
