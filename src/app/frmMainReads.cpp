#include "app/frmMain.h"

#include "app/Application.h"
#include "app/MentionsTab.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "service/ReadOutcome.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTime>
#include <QTimer>
#include <QTreeView>

using namespace form1;

namespace {

// After the start-up read: the first frame is painted by then.
constexpr int kMentionsDelayMs = 300;

} // namespace

// The timeline's reads: start-up, sign-in, reload (one page after the other) and read
// more. The window starts a page and goes on in PageRead when the reader reports it; no
// read waits inside the window. The commands stay locked while a read runs.

void TForm1::StartReads(TReadKind kind, int firstPage, int lastPage)
{
    m_job = TReadJob{kind, firstPage, lastPage};
    ReadJobPage();
}

void TForm1::ReadJobPage()
{
    if (const std::optional<TRead> ended = BeginPage(m_job->Page))
        PageEnded(*ended);
}

std::optional<TForm1::TRead> TForm1::BeginPage(int page)
{
    // One read at a time, and none once the window is closing.
    if (m_reader->Busy() || m_closing)
        return TRead::Skipped();
    if (!m_apiError.isEmpty()) {
        ShowStatus(m_apiError);
        return TRead::Failed(m_apiError);
    }
    if (!m_state.HasCredentials()) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brimlark"),
                        tr("ユーザ名とパスワードが入力されていませんので、\n"
                           "ログインボタンからご入力下さい"),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("MissingCredentialsBox"));
        box.exec();
        return TRead{};
    }

    ShowStatus(tr("ロード中..."));
    // The window keeps painting (the loading line included) and can be moved and closed
    // meanwhile, with its commands locked. A reload has locked them for all its pages:
    // unlocking between two pages would only repaint the whole window twice per page.
    m_pageLocked = !m_commandsLocked;
    if (m_pageLocked)
        EnableCommands(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_reader->Start(Account(), page, m_options.Bounds);
    return std::nullopt;
}

void TForm1::EndPageLock()
{
    QApplication::restoreOverrideCursor();
    if (std::exchange(m_pageLocked, false))
        EnableCommands(true);
}

void TForm1::PageRead(const TTimelinePage& result)
{
    EndPageLock();
    if (!m_job)
        return;
    TRead outcome;
    outcome.BackOff = WorthBackingOff(result);
    outcome.RetryAfterMs = RetryAfterMs(result.RetryAfter, QDateTime::currentDateTimeUtc());
    if (result.Failure == TReadFailure::Refused || result.Failure == TReadFailure::HttpStatus) {
        ShowStatus(TimelineFailureLine(result));
    } else {
        if (result.Loaded) {
            ShowStatus(tr("ロード完了"));
            ShowStatus(tr("Twitterで認証しました"));
        }
        if (!result.Ok()) {
            ShowStatus(TimelineFailureLine(result, ConnectionPlace(Account())));
            outcome.Completed = false;
            outcome.Error = result.Message;
        } else {
            // Fresh rows take the place of the offline copy.
            if (m_offline) {
                m_timeline->Clear();
                m_offline = false;
            }
            QList<TTimelineStatus> rows;
            rows.reserve(result.Rows.size());
            for (const TStatusRow& row : result.Rows) {
                rows.append(TTimelineStatus::From(row));
                rows.back().Seen = m_seen.contains(row.Id);
            }
            m_timeline->Append(rows);
            outcome.Succeeded = true;
        }
    }
    PageEnded(outcome);
}

void TForm1::PageEnded(const TRead& read)
{
    TReadJob& job = *m_job;
    job.BackOff = job.BackOff || read.BackOff;
    job.Succeeded = job.Succeeded || read.Succeeded;
    if (read.RetryAfterMs)
        job.RetryAfterMs = std::max(job.RetryAfterMs.value_or(0), *read.RetryAfterMs);
    job.Last = read;
    // A reload reads its pages one after the other; a failed page skips the rest.
    if (job.Kind == TReadKind::Reload && read.Completed && job.Page < job.LastPage) {
        ++job.Page;
        ReadJobPage();
        return;
    }
    const TReadJob done = *std::exchange(m_job, std::nullopt);
    switch (done.Kind) {
    case TReadKind::StartUp:
        StartUpRead(done.Last);
        break;
    case TReadKind::SignIn:
        if (done.Last.Succeeded)
            AfterRead(false);
        if (done.Last.Completed)
            SelectFirstAndShow();
        // Another account, perhaps: its own mentions.
        if (done.Last.Succeeded)
            RefreshMentions();
        break;
    case TReadKind::Reload:
        ReloadRead(done);
        break;
    case TReadKind::More:
        if (done.Last.Succeeded)
            AfterRead(true);
        if (!done.Last.Completed && !done.Last.Abandoned)
            ShowDefaultError(done.Last.Error);
        break;
    }
    Q_EMIT ReadsFinished();
}

void TForm1::StartUpRead(const TRead& read)
{
    m_showEarly->stop();
    const QString readLine = StatusText();
    if (read.Succeeded)
        AfterRead(false);
    if (read.Completed)
        SelectFirstAndShow();
    if (!read.Abandoned)
        ScheduleNextReload(read.BackOff, read.RetryAfterMs, read.Succeeded);
    // A read that failed leaves the last one's rows to look at, said last.
    if (!read.Succeeded && !read.Abandoned && !m_closing && m_state.HasCredentials())
        ShowOfflineRows(readLine);
    // The mentions follow the first frame: nothing there waits for them.
    if (read.Succeeded && !m_closing)
        QTimer::singleShot(kMentionsDelayMs, this, &TForm1::RefreshMentions);

    SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
    SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);

    SetDisplayMode(m_state.DisplayMode);
    m_started = true;
    if (m_showWhenStarted && !m_closing)
        ShowFirstFrame();
}

void TForm1::ShowFirstFrame()
{
    show();
    // Each child shown asks to be painted through a posted event. Shown from inside a slot,
    // those would come after the window's first expose and paint the whole window a
    // second time; taken now, the first frame paints everything once.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
}

void TForm1::StartUpReadWhenReady()
{
    if (!m_startUpHeld || m_awaitingPassword || !m_firstFrame)
        return;
    m_startUpHeld = false;
    // Closing called the read off meanwhile.
    if (m_job && m_job->Kind == TReadKind::StartUp && !m_closing)
        ReadJobPage();
}

void TForm1::ShowWhenStarted()
{
    if (m_started)
        ShowFirstFrame();
    else
        m_showWhenStarted = true;
}

void TForm1::ScheduleNextReload(bool backOff, std::optional<qint64> retryAfterMs, bool succeeded)
{
    if (backOff) {
        const qint64 wait = m_backoff.Failed(retryAfterMs);
        TimerAutoReload->setInterval(int(wait));
        ShowStatus(tr("次の自動更新は %1 です (%2秒後)")
                       .arg(QTime::currentTime().addMSecs(int(wait)).toString(QStringLiteral("HH:mm:ss")))
                       .arg((wait + 999) / 1000));
    } else if (succeeded && m_backoff.BackingOff()) {
        TimerAutoReload->setInterval(int(m_backoff.Succeeded()));
    }
}

void TForm1::SelectFirstAndShow()
{
    if (m_timeline->IsEmpty())
        return;
    // Shown because a read ended, not because the user or the rotation came to it; the
    // strip shows it when the friends timeline is in front.
    m_autoShow = true;
    ListView1->selectionModel()->select(m_timeline->index(0, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (ActiveView() == ListView1)
        ListView1Click();
    m_autoShow = false;
}

void TForm1::Reload()
{
    if (m_job || m_closing)
        return;
    // The offline copy stays until a page comes in to replace it.
    if (!m_offline)
        m_timeline->Clear();
    ShowStatus(tr("リロード中"));
    EnableCommands(false);
    // The list keeps its last picture until every page is in, instead of being painted
    // again for each of them; the status line still moves.
    ListView1->setUpdatesEnabled(false);
    StartReads(TReadKind::Reload, 1, m_pageCounter + 1);
}

void TForm1::ReloadRead(const TReadJob& job)
{
    ListView1->setUpdatesEnabled(true);
    if (job.Last.Abandoned)
        return;
    const bool news = job.Succeeded && AfterRead(false);
    if (job.Last.Completed && !m_timeline->IsEmpty()) {
        SelectFirstAndShow();
        ShowStatus(tr("リロード完了"));
    }
    ScheduleNextReload(job.BackOff, job.RetryAfterMs, job.Succeeded);
    EnableCommands(true);
    ReturnFreeMemory();
    // Someone may have answered among what is new; a reload asked for on the mentions
    // tab reads them in any case.
    if (news || (job.Succeeded && ActiveView() != ListView1))
        RefreshMentions();
}

void TForm1::SignIn()
{
    if (m_job || m_closing)
        return;
    if (AskCredentials()) {
        // Perhaps another account: who it is and its mentions are asked again.
        m_ownScreenName.clear();
        m_configAsked = false;
        m_mentions->Abandon();
    }
    if (m_job || m_closing)
        return;  // a read started while the dialog was open
    // Emptied first, so signing in again never shows the first page twice.
    m_timeline->Clear();
    m_offline = false;
    StartReads(TReadKind::SignIn, 1, 1);
}

void TForm1::ReadMore()
{
    if (m_job || m_closing)
        return;
    // On the mentions tab its own older page; a missing account or address is said by
    // the friends timeline's read as ever.
    if (ActiveView() != ListView1 && m_apiError.isEmpty() && m_state.HasCredentials()) {
        m_mentions->ReadMore(Account(), m_options.Bounds);
        return;
    }
    // The page counts even when its read fails: it decides the next read-more's page and
    // how many pages a reload reads.
    ++m_pageCounter;
    StartReads(TReadKind::More, m_pageCounter + 1, m_pageCounter + 1);
}

void TForm1::AbandonReads()
{
    const bool pageRunning = m_reader->Busy();
    m_reader->Abandon();
    m_mentions->Abandon();
    if (!m_job)
        return;
    const bool reload = m_job->Kind == TReadKind::Reload;
    m_job.reset();
    if (pageRunning)
        EndPageLock();
    if (reload) {
        ListView1->setUpdatesEnabled(true);
        EnableCommands(true);
    }
    Q_EMIT ReadsFinished();
}

void TForm1::ShowDefaultError(const QString& message)
{
    QString text = message;
    if (!text.endsWith(u'.') && !text.endsWith(u'。'))
        text += u'.';
    QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("DefaultErrorBox"));
    box.exec();
}
