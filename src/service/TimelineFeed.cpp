#include "service/TimelineFeed.h"

#include "service/ServicePost.h"
#include "service/TimelineModel.h"
#include "service/TimelineSource.h"
#include "text/Logging.h"

#include <QLocale>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Marks change one by one as the rotation runs: one write for a burst of them.
constexpr int kCopySaveDelayMs = 1000;

} // namespace

void TSeenStatuses::Mark(const QString& id)
{
    m_ids.insert(id);
    Q_EMIT Marked(id);
}

TTimelineFeed::TTimelineFeed(TTimelineSource* source, TSeenStatuses* seen, QObject* parent)
    : QObject(parent), m_source(source), m_seen(seen), m_model(new TTimelineModel(this))
{
    m_source->setParent(this);
    connect(m_source, &TTimelineSource::PageRead, this, &TTimelineFeed::pageRead);
    connect(m_seen, &TSeenStatuses::Marked, this, [this](const QString& id) {
        if (!m_model->MarkSeen(id))
            return;
        Q_EMIT UnseenChanged();
        Q_EMIT CopyChanged();
    });
}

TTimelineFeed::~TTimelineFeed() = default;

void TTimelineFeed::SetReloadInterval(qint64 ms)
{
    m_backoff.SetNormal(ms);
    m_timed = true;
}

bool TTimelineFeed::Start(TFeedRead kind, bool foreground)
{
    if (m_job)
        return false;
    if (kind == TFeedRead::Refresh && m_waitUntil.isValid() && QDateTime::currentDateTimeUtc() < m_waitUntil)
        return false;
    // A reload or refresh that fails gives back what it found shown.
    if (kind == TFeedRead::Reload || kind == TFeedRead::Refresh) {
        m_before = m_model->Rows();
        m_beforeNext = 0;
        m_beforeReadAt = m_readAt;
    }
    int first = 1, last = 1;
    switch (kind) {
    case TFeedRead::StartUp:
        break;
    case TFeedRead::SignIn:
        // Signing in again never shows the first page twice.
        m_model->Clear();
        m_offline = false;
        break;
    case TFeedRead::Reload:
        if (!m_offline)
            m_model->Clear();
        last = m_pageCount + 1;
        break;
    case TFeedRead::Refresh:
        last = m_pageCount + 1;
        break;
    case TFeedRead::More:
        // The page counts even when its read fails: it decides the next read-more's page
        // and how many pages a reload reads.
        ++m_pageCount;
        first = last = m_pageCount + 1;
        break;
    }
    m_job = TJob{kind, first, last};
    m_foreground = foreground;
    m_readFailure.clear();
    if (kind == TFeedRead::Reload)
        say(tr("リロード中"));
    startPage();
    return true;
}

void TTimelineFeed::say(const QString& line)
{
    if (m_foreground)
        Q_EMIT StatusLine(line);
}

void TTimelineFeed::startPage()
{
    const TPageGate gate = m_gate ? m_gate() : TPageGate{};
    if (!m_job)
        return;  // called off while the owner was asked (a message box closed the window)
    if (gate.Verdict == TPageGate::Failed) {
        m_readFailure = gate.Line;
        TPageEnd failed;
        failed.Completed = false;
        failed.Error = gate.Line;
        pageEnded(failed);
        return;
    }
    if (gate.Verdict == TPageGate::NothingRead) {
        pageEnded({});
        return;
    }
    say(tr("ロード中..."));
    m_pageOut = true;
    Q_EMIT PageStarted();
    // A page whose start no earlier page told (they were never read) follows the
    // furthest one known.
    QString cursor;
    for (int page = m_job->Page; page > 1 && cursor.isEmpty(); --page)
        cursor = m_cursors.value(page);
    m_source->Read({cursor});
}

void TTimelineFeed::pageRead(const TTimelinePage& page)
{
    if (!m_job || !std::exchange(m_pageOut, false))
        return;
    Q_EMIT PageFinished();
    if (!page.Next.isEmpty())
        m_cursors.insert(m_job->Page + 1, page.Next);
    TPageEnd end;
    end.BackOff = WorthBackingOff(page);
    end.RetryAfterMs = RetryAfterMs(page.RetryAfter, QDateTime::currentDateTimeUtc());
    const QString failure = TimelineFailureLine(page, page.Where);
    if (page.Failure == TReadFailure::Refused && page.SignInAgain)
        m_job->SignInAgain = page.Reason;
    if (page.Failure == TReadFailure::Refused || page.Failure == TReadFailure::HttpStatus) {
        say(failure);
    } else {
        if (page.Loaded) {
            say(tr("ロード完了"));
            say(tr("Twitterで認証しました"));
        }
        if (!page.Ok()) {
            say(failure);
            end.Completed = false;
            end.Error = page.Message;
        } else {
            // Fresh rows take the place of the offline copy, and of a refresh's old rows;
            // an older page goes below whatever is shown.
            const bool more = m_job->Kind == TFeedRead::More;
            if ((m_offline && !more) || (m_job->Kind == TFeedRead::Refresh && m_job->Page == 1))
                m_model->Clear();
            if (!more)
                m_offline = false;
            QList<TTimelineStatus> rows = page.Rows;
            for (TTimelineStatus& status : rows) {
                shareWithBefore(status);
                status.Seen = m_seen->Contains(status.Id);
            }
            m_model->Append(rows);
            end.Succeeded = true;
        }
    }
    if (!page.Ok()) {
        m_readFailure = failure;
        if (!m_foreground)
            Q_EMIT StatusLine(m_name + QStringLiteral(": ") + failure);
        markFailure(failure);
    } else {
        markFailure({});
    }
    pageEnded(end);
}

void TTimelineFeed::shareWithBefore(TTimelineStatus& status)
{
    // A reload brings mostly the statuses it replaces, in the same order, moved down by
    // those that came since: the rows share their texts, so they are not held twice
    // while the read runs, nor left scattered among the freed pages once it is over.
    constexpr qsizetype kLookAhead = 64;
    const qsizetype end = std::min(m_before.size(), m_beforeNext + kLookAhead);
    for (qsizetype i = m_beforeNext; i < end; ++i) {
        const TTimelineStatus& old = m_before.at(i);
        if (old.Id != status.Id)
            continue;
        m_beforeNext = i + 1;
        for (QString TTimelineStatus::*field :
             {&TTimelineStatus::Id, &TTimelineStatus::Name, &TTimelineStatus::ScreenName, &TTimelineStatus::Text,
              &TTimelineStatus::Favorited, &TTimelineStatus::InReplyToId, &TTimelineStatus::ExternalUrl,
              &TTimelineStatus::RepeatedBy, &TTimelineStatus::Detail}) {
            if (status.*field == old.*field)
                status.*field = old.*field;
        }
        return;
    }
}

void TTimelineFeed::markFailure(const QString& line)
{
    if (std::exchange(m_failureMark, line) != line)
        Q_EMIT FailureChanged(line);
}

void TTimelineFeed::pageEnded(const TPageEnd& end)
{
    TJob& job = *m_job;
    job.BackOff = job.BackOff || end.BackOff;
    job.Succeeded = job.Succeeded || end.Succeeded;
    if (end.RetryAfterMs)
        job.RetryAfterMs = std::max(job.RetryAfterMs.value_or(0), *end.RetryAfterMs);
    job.Last = end;
    // The pages one after the other; a failed page skips the rest.
    const bool paged = job.Kind == TFeedRead::Reload || job.Kind == TFeedRead::Refresh;
    if (paged && end.Completed && job.Page < job.LastPage) {
        ++job.Page;
        startPage();
        return;
    }
    finish(*std::exchange(m_job, std::nullopt));
}

void TTimelineFeed::finish(const TJob& job)
{
    TFeedEnd end;
    end.Kind = job.Kind;
    end.Completed = job.Last.Completed;
    end.Succeeded = job.Succeeded;
    end.Error = job.Last.Error;
    // Older pages, and the very first read of a list never read before, are history
    // rather than news: they start seen.
    if (job.Succeeded) {
        // Grey rows keep the time they were read.
        if (job.Kind != TFeedRead::More || !m_offline)
            m_readAt = QDateTime::currentDateTimeUtc();
        end.News = arrivals(job.Kind == TFeedRead::More || !m_everRead);
    }
    if (job.Kind == TFeedRead::Reload && job.Last.Completed && !m_model->IsEmpty())
        say(tr("リロード完了"));
    if (job.Kind != TFeedRead::More && job.Kind != TFeedRead::SignIn) {
        if (job.BackOff) {
            const qint64 wait = m_backoff.Failed(job.RetryAfterMs);
            m_waitUntil = QDateTime::currentDateTimeUtc().addMSecs(wait);
            Q_EMIT ReloadWaitChanged(wait);
            if (m_timed && (!m_autoReloadOn || m_autoReloadOn()))
                say(tr("次の自動更新は %1 です (%2秒後)")
                        .arg(QTime::currentTime().addMSecs(int(wait)).toString(QStringLiteral("HH:mm:ss")))
                        .arg((wait + 999) / 1000));
        } else if (job.Succeeded) {
            m_waitUntil = {};
            if (m_backoff.BackingOff())
                Q_EMIT ReloadWaitChanged(m_backoff.Succeeded());
        }
    }
    if (!job.Last.Succeeded && (job.Kind == TFeedRead::Reload || job.Kind == TFeedRead::Refresh))
        end.Restored = restore();
    // Their storage too: it held a whole list.
    m_before = {};
    m_beforeNext = 0;
    if (job.Succeeded) {
        m_signInAsked = *m_askedTogether = false;
        // The copy stands in for a list until a read of it succeeds; then never again.
        m_copyRows = {};
    }
    Q_EMIT ReadEnded(end);
    // A list refused after another one asked is answered by that one's dialog.
    if (job.SignInAgain && !m_signInAsked && !*m_askedTogether) {
        m_signInAsked = *m_askedTogether = true;
        Q_EMIT SignInAgain(*job.SignInAgain);
    }
    if (!m_job && !m_pushed.isEmpty())
        TakePushed(std::exchange(m_pushed, {}));
}

void TTimelineFeed::TakePushed(const QList<TTimelineStatus>& statuses)
{
    if (m_job) {
        m_pushed += statuses;
        return;
    }
    QSet<QString> shown = m_model->Ids();
    QList<TTimelineStatus> fresh;
    for (auto status = statuses.crbegin(); status != statuses.crend(); ++status) {
        if (shown.contains(status->Id))
            continue;
        shown.insert(status->Id);
        TTimelineStatus& row = fresh.emplace_back(*status);
        row.Seen = m_seen->Contains(row.Id);
        row.Offline = false;
    }
    if (fresh.isEmpty())
        return;
    m_model->Prepend(fresh);
    arrivals(!m_everRead);
}

bool TTimelineFeed::restore()
{
    const QSet<QString> shown = m_model->Ids();
    QList<TTimelineStatus> back;
    for (const TTimelineStatus& status : std::as_const(m_before)) {
        if (shown.contains(status.Id))
            continue;
        TTimelineStatus& row = back.emplace_back(status);
        row.Seen = row.Seen || m_seen->Contains(row.Id);
        // Grey, as the offline copy: what the server said last time, not now.
        row.Offline = true;
    }
    if (back.isEmpty())
        return false;
    if (shown.isEmpty())
        m_readAt = m_beforeReadAt;
    m_model->Append(back);
    m_offline = true;
    if (m_foreground)
        sayShownInstead(m_beforeReadAt);
    Q_EMIT UnseenChanged();
    return true;
}

bool TTimelineFeed::arrivals(bool history)
{
    m_everRead = m_hadRead = true;
    // New: in this read and in no list before.
    QList<TTimelineStatus> news;
    for (int i = 0; i < m_model->Count(); ++i) {
        // A copy: marking a row seen may move the model's rows.
        const TTimelineStatus status = m_model->At(i);
        // Looking back, or a first read: what no list held before starts seen; a row
        // another list shows unseen stays unseen, so that every count agrees.
        if (history && !m_seen->Held(status.Id))
            m_seen->Note(status.Id);
        // The account's own statuses, in every list.
        if (!m_seen->Contains(status.Id) && m_seen->IsOwn(status))
            m_seen->Mark(status.Id);
        // Seen before, in either list or an earlier run, stays seen.
        if (m_seen->Contains(status.Id)) {
            if (!status.Seen)
                m_model->MarkSeen(status.Id);
        } else if (!history && !m_known.contains(status.Id)) {
            news.append(status);
        }
    }
    const QSet<QString> ids = m_model->Ids();
    m_known.unite(ids);
    m_seen->Hold(ids);
    Q_EMIT UnseenChanged();
    Q_EMIT CopyChanged();
    if (!news.isEmpty())
        Q_EMIT News(news);
    return !news.isEmpty();
}

void TTimelineFeed::Abandon()
{
    m_source->Abandon();
    if (!m_job)
        return;
    TFeedEnd end;
    end.Kind = m_job->Kind;
    end.Completed = false;
    end.Abandoned = true;
    m_job.reset();
    if (std::exchange(m_pageOut, false))
        Q_EMIT PageFinished();
    Q_EMIT ReadEnded(end);
}

void TTimelineFeed::Forget()
{
    Abandon();
    m_model->Clear();
    m_copyRows.clear();
    m_copyReadAt = {};
    m_before.clear();
    m_beforeNext = 0;
    m_known.clear();
    m_cursors.clear();
    m_everRead = m_hadRead = m_offline = false;
    m_readAt = {};
    m_readFailure.clear();
    markFailure({});
    Q_EMIT UnseenChanged();
}

void TTimelineFeed::TakeCopy(const QList<TTimelineStatus>& rows, bool everRead, const QDateTime& readAt)
{
    m_copyRows = rows;
    m_copyReadAt = readAt;
    m_everRead = m_everRead || everRead;
    for (const TTimelineStatus& status : rows)
        m_known.insert(status.Id);
    m_seen->Hold(m_known);
}

bool TTimelineFeed::ShowCopy()
{
    if (m_copyRows.isEmpty() || !m_model->IsEmpty())
        return false;
    QList<TTimelineStatus> rows = m_copyRows;
    for (TTimelineStatus& status : rows) {
        status.Seen = m_seen->Contains(status.Id);
        // Shown grey: not what the server says now, but what it said last time.
        status.Offline = true;
    }
    m_model->Append(rows);
    m_offline = true;
    m_readAt = m_copyReadAt;
    return true;
}

bool TTimelineFeed::ShowCopyAfterFailure()
{
    if (!ShowCopy())
        return false;
    sayShownInstead(m_copyReadAt);
    Q_EMIT UnseenChanged();
    return true;
}

void TTimelineFeed::sayShownInstead(const QDateTime& readAt)
{
    const QString when = QLocale::system().toString(readAt.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm"));
    const QString note = tr("前回 %1 に読み込んだ内容を表示しています").arg(when);
    // The status bar keeps why the read failed beside what it shows instead.
    Q_EMIT StatusLine(note, m_readFailure.isEmpty() ? QString() : m_readFailure + QStringLiteral(" — ") + note);
}

TFeedCopy::TFeedCopy(const QString& fileName, TTimelineFeed* friends, TTimelineFeed* mentions, QObject* parent)
    : QObject(parent), m_fileName(fileName), m_friends(friends), m_mentions(mentions), m_save(new QTimer(this))
{
    // A thousand rows take a few milliseconds to read: beside whatever comes next.
    m_load = std::async(std::launch::async, [fileName] { return LoadTimelineCache(fileName, nullptr); });
    m_save->setSingleShot(true);
    connect(m_save, &QTimer::timeout, this, [this] {
        // A list in the middle of a read is half filled, and its rows are held twice
        // until the read ends (what it found shown comes back if it fails): the copy
        // waits for that end.
        if (m_friends->Reading() || m_mentions->Reading())
            m_afterRead = true;
        else
            SaveNow();
    });
    for (TTimelineFeed* feed : {friends, mentions}) {
        connect(feed, &TTimelineFeed::CopyChanged, this, &TFeedCopy::changed);
        connect(feed, &TTimelineFeed::ReadEnded, this, [this] {
            if (m_afterRead && !m_friends->Reading() && !m_mentions->Reading())
                SaveNow();
        });
    }
}

void TFeedCopy::changed()
{
    if (m_held)
        m_heldChange = true;
    else if (!m_save->isActive() && !m_afterRead)
        m_save->start(kCopySaveDelayMs);
}

void TFeedCopy::HoldSaves()
{
    m_held = true;
}

void TFeedCopy::SaveWhenChanged()
{
    m_held = false;
    if (std::exchange(m_heldChange, false))
        changed();
}

TFeedCopy::~TFeedCopy()
{
    if (m_load.valid())
        m_load.wait();
}

void TFeedCopy::SetOwner(const QString& owner)
{
    if (owner == m_owner)
        return;
    if (!m_loaded) {
        m_owner = owner;
        return;
    }
    // What the last account read stays its own copy.
    SaveNow();
    m_owner = owner;
    m_friends->Forget();
    m_mentions->Forget();
}

void TFeedCopy::Load()
{
    m_loaded = true;
    if (!m_load.valid())
        return;
    const std::optional<TTimelineCache> copy = m_load.get();
    if (!copy)
        return;
    // A file from before owners were kept is taken as the account's own.
    if (!copy->Owner.isEmpty() && copy->Owner != m_owner) {
        qCInfo(lcService).noquote() << "offline copy" << m_fileName << "is another account's: not shown";
        return;
    }
    m_friends->Seen()->Reset(copy->SeenIds);
    m_friends->TakeCopy(copy->Rows, true, copy->ReadAt);
    // The last mentions stay on their tab, grey, until they are read again.
    m_mentions->TakeCopy(copy->MentionRows, copy->MentionsRead, copy->ReadAt);
    m_mentions->ShowCopy();
}

bool TFeedCopy::SavePending() const
{
    return m_save->isActive() || m_heldChange || m_afterRead;
}

void TFeedCopy::SaveNow()
{
    m_save->stop();
    m_heldChange = false;
    m_afterRead = false;
    if (!m_friends->HoldsRead())
        return;  // nothing read yet: an older copy stays as it is
    TTimelineCache cache;
    cache.Owner = m_owner;
    cache.ReadAt = m_friends->ReadAt().isValid() ? m_friends->ReadAt() : QDateTime::currentDateTimeUtc();
    const auto keep = [&cache](const TTimelineModel* model, QList<TTimelineStatus>& into) {
        const QList<TTimelineStatus>& rows = model->Rows();
        const auto first = rows.begin(), last = first + std::min<qsizetype>(rows.size(), kTimelineCacheRows);
        if (std::all_of(first, last, [](const TTimelineStatus& s) { return IsUsableStatusId(s.Id); })) {
            // The list itself, shared rather than copied: only its first rows are written.
            into = rows;
            for (auto status = first; status != last; ++status) {
                if (status->Seen)
                    cache.SeenIds.insert(status->Id);
            }
            return;
        }
        for (const TTimelineStatus& status : rows) {
            if (into.size() >= kTimelineCacheRows)
                break;
            if (!IsUsableStatusId(status.Id))
                continue;  // a row the service sent without a usable id cannot be kept
            into.append(status);
            if (status.Seen)
                cache.SeenIds.insert(status.Id);
        }
    };
    keep(m_friends->Model(), cache.Rows);
    keep(m_mentions->Model(), cache.MentionRows);
    cache.MentionsRead = m_mentions->EverRead();
    QString error;
    if (!SaveTimelineCache(m_fileName, cache, &error))
        qCWarning(lcService).noquote() << "offline copy not saved:" << m_fileName << error;
}
