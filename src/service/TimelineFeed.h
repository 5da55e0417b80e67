#pragma once

#include "service/ReadOutcome.h"
#include "service/TimelineCache.h"
#include "service/TimelineStatus.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <optional>

class QTimer;
class TTimelineModel;
class TTimelineSource;

// Which statuses the user has seen, shared by the lists of one window: a status seen in
// one list is seen in every other.
class TSeenStatuses : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool Contains(const QString& id) const { return m_ids.contains(id); }
    // Some list has held it: whatever mark it has there stands.
    bool Held(const QString& id) const { return m_held.contains(id); }
    void Hold(const QSet<QString>& ids) { m_held.unite(ids); }
    // The account's own statuses are never news.
    void SetOwn(std::function<bool(const TTimelineStatus&)> own) { m_own = std::move(own); }
    bool IsOwn(const TTimelineStatus& status) const { return m_own && m_own(status); }
    // Seen now: every list marks its rows of it.
    void Mark(const QString& id);
    // Seen before (history, an earlier run): noted without telling the lists.
    void Note(const QString& id) { m_ids.insert(id); }
    void Reset(const QSet<QString>& ids) { m_ids = ids; }

Q_SIGNALS:
    void Marked(const QString& id);

private:
    QSet<QString> m_ids;
    QSet<QString> m_held;
    std::function<bool(const TTimelineStatus&)> m_own;
};

// The reads a feed makes.
enum class TFeedRead {
    StartUp,    // the newest page into the list as it is
    SignIn,     // the newest page, the list emptied first
    Reload,     // pages 1 to PageCount()+1, the list emptied first (rows of the offline
                // copy stay until a page replaces them); "リロード中" ... "リロード完了"
    Refresh,    // the same pages, the rows replaced once the first is in; nothing while a
                // failure worth backing off says to wait
    More,       // the next older page, appended; it counts even when its read fails
};

// What the owner says before each page: read it, count it as read with nothing in it
// (the owner has told the user why), or count it as failed with that line.
struct TPageGate {
    enum TVerdict { Open, NothingRead, Failed } Verdict = Open;
    QString Line;
};

// How a read ended.
struct TFeedEnd {
    TFeedRead Kind = TFeedRead::StartUp;
    bool Completed = true;      // no page failed other than by the service's refusal
    bool Abandoned = false;     // called off: nothing of it is shown
    bool Succeeded = false;     // a page brought rows
    bool News = false;          // among them some that no list held before
    bool Restored = false;      // it failed, and rows shown before it came back
    QString Error;              // the last failed page's own text
};

// One list of statuses and everything about reading it: the model, the paging, the back-off
// after failures, the seen and new marks, and what the offline copy keeps of it. Reports by
// signal; shows nothing itself. A foreground read (one the user acts on) says each step
// in status lines; a background read says only that it failed, in one line that names the
// list.
class TTimelineFeed : public QObject {
    Q_OBJECT
public:
    // Takes the source over; seen is shared with the other feeds of the window.
    TTimelineFeed(TTimelineSource* source, TSeenStatuses* seen, QObject* parent = nullptr);
    ~TTimelineFeed() override;

    TTimelineModel* Model() const { return m_model; }
    TSeenStatuses* Seen() const { return m_seen; }
    // The list's name, for the line of a failed background read.
    void SetName(const QString& name) { m_name = name; }
    void SetPageGate(std::function<TPageGate()> gate) { m_gate = std::move(gate); }
    // The automatic reload's normal wait: a feed that has one says after a failure when
    // the next comes. A back-off under way keeps its wait until the next success.
    void SetReloadInterval(qint64 ms);
    qint64 ReloadWaitMs() const { return m_backoff.CurrentMs(); }
    // Whether the automatic reload runs now; while it does not, nothing is promised of it.
    void SetAutoReloadOn(std::function<bool()> on) { m_autoReloadOn = std::move(on); }
    // Asks for a new sign-in together with other: a token that both lists are refused
    // leads to one SignInAgain, from the list refused first.
    void AskSignInWith(TTimelineFeed* other) { m_askedTogether = other->m_askedTogether; }

    // Starts a read; false when none was started (one runs, or a refresh must wait).
    bool Start(TFeedRead kind, bool foreground = true);
    bool Reading() const { return m_job.has_value(); }
    // Calls the running read off: ReadEnded says so, and no page of it is shown.
    void Abandon();
    // Older pages asked for with read-more since the start.
    int PageCount() const { return m_pageCount; }
    // Why the last read failed, while no read has succeeded since; empty otherwise.
    QString FailureLine() const { return m_failureMark; }

    // Statuses the server pushed as they were posted, newest last: each one the list does
    // not show yet goes on top, new, unseen and counted as a reload would bring it. While
    // a read runs they wait for its end.
    void TakePushed(const QList<TTimelineStatus>& statuses);

    // The offline copy's part of this list: its rows (shown later) and whether the list
    // was ever read before.
    void TakeCopy(const QList<TTimelineStatus>& rows, bool everRead, const QDateTime& readAt);
    // Puts the copy's rows, grey, into an empty list; false when there is nothing to show.
    bool ShowCopy();
    // The same after a failed read, saying so on the status line.
    bool ShowCopyAfterFailure();
    // The list holds what a read gave in this run, or the copy: worth keeping.
    bool HoldsRead() const { return m_hadRead || m_offline; }
    // Another account reads this list now: what it shows, its copy and what it knew go,
    // and its next read is a first one. A read under way is called off first.
    void Forget();
    bool EverRead() const { return m_everRead; }
    QDateTime ReadAt() const { return m_readAt; }

Q_SIGNALS:
    // A status line; panel, when given, is what the status bar keeps instead of the line.
    void StatusLine(const QString& line, const QString& panel = QString());
    // A page went to the source / came back from it.
    void PageStarted();
    void PageFinished();
    void ReadEnded(const TFeedEnd& end);
    // The automatic reload should come after this wait from now on.
    void ReloadWaitChanged(qint64 ms);
    // Statuses new to every list, in list order.
    void News(const QList<TTimelineStatus>& statuses);
    void UnseenChanged();
    // Something the offline copy keeps changed.
    void CopyChanged();
    // FailureLine changed.
    void FailureChanged(const QString& line);
    // A read, in front or in the background, ended with the account's token refused: the
    // user must sign in again; words are the server's. Once, until a read of this list
    // succeeds, and not when a list asking together with it has asked since any of them
    // last read.
    void SignInAgain(const QString& words);

private:
    struct TPageEnd {
        bool Completed = true;
        bool Succeeded = false;
        bool BackOff = false;
        std::optional<qint64> RetryAfterMs;
        QString Error;
    };
    struct TJob {
        TFeedRead Kind;
        int Page;
        int LastPage;
        bool BackOff = false;       // over all its pages
        bool Succeeded = false;
        std::optional<qint64> RetryAfterMs = {};
        TPageEnd Last = {};
        std::optional<QString> SignInAgain = {};  // the server's words when it refused the token
    };
    void startPage();
    void pageRead(const TTimelinePage& page);
    void pageEnded(const TPageEnd& end);
    void finish(const TJob& job);
    void say(const QString& line);
    void markFailure(const QString& line);
    bool arrivals(bool history);
    bool restore();
    void shareWithBefore(TTimelineStatus& status);
    void sayShownInstead(const QDateTime& readAt);

    TTimelineSource* m_source;
    TSeenStatuses* m_seen;
    TTimelineModel* m_model;
    QString m_name;
    std::function<TPageGate()> m_gate;
    TReloadBackoff m_backoff{60000};
    bool m_timed = false;
    std::function<bool()> m_autoReloadOn;
    QDateTime m_waitUntil;          // a refresh waits till then after a failure
    std::optional<TJob> m_job;
    bool m_foreground = true;
    bool m_pageOut = false;         // a page is with the source
    int m_pageCount = 0;
    QHash<int, QString> m_cursors;  // page number -> where it starts, learnt from the page before
    QSet<QString> m_known;          // ids the list or its copy held so far
    bool m_everRead = false;        // read in this run or an earlier one
    bool m_hadRead = false;         // read in this run
    bool m_offline = false;         // the list shows the copy
    QDateTime m_readAt;             // of the rows the list shows
    QList<TTimelineStatus> m_copyRows;
    QDateTime m_copyReadAt;
    QList<TTimelineStatus> m_pushed;    // pushed while a read ran
    QList<TTimelineStatus> m_before;    // what a reload or refresh found shown
    qsizetype m_beforeNext = 0;         // where the next row read is looked for in m_before
    QDateTime m_beforeReadAt;
    QString m_readFailure;          // the line of the running or last read's failure
    QString m_failureMark;
    bool m_signInAsked = false;     // SignInAgain said since the last read that got through
    // Said by any of the lists asking together since one of them last read.
    std::shared_ptr<bool> m_askedTogether = std::make_shared<bool>(false);
};

// The offline copy of a window's two lists (the friends timeline and the mentions): one
// file, read beside the window's building, written a moment after the last change, or
// when the reads under way at that moment have ended.
class TFeedCopy : public QObject {
    Q_OBJECT
public:
    TFeedCopy(const QString& fileName, TTimelineFeed* friends, TTimelineFeed* mentions, QObject* parent);
    ~TFeedCopy() override;

    // The account and server the lists are read for (TimelineCacheOwner). Set before Load:
    // a copy another pair wrote is never shown. Changed later, the last pair's copy is
    // written and both lists forget it.
    void SetOwner(const QString& owner);
    // Hands what the file held to the feeds and the seen marks; the mentions show theirs
    // at once. Waits for the read started at construction.
    void Load();
    void SaveNow();
    bool SavePending() const;
    // Changes are written a second after they happen only from now on; until then they
    // wait (the window's first frame comes first), and SavePending says so.
    void SaveWhenChanged();
    void HoldSaves();

private:
    void changed();

    QString m_fileName;
    QString m_owner;
    bool m_loaded = false;
    bool m_held = false;
    bool m_heldChange = false;
    TTimelineFeed* m_friends;
    TTimelineFeed* m_mentions;
    std::future<std::optional<TTimelineCache>> m_load;
    QTimer* m_save;
    bool m_afterRead = false;   // the save came due during a read: it follows the read's end
};
