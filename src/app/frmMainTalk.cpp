#include "app/frmMain.h"

#include "app/MentionsTab.h"
#include "app/Strip.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/uTwitt.h"
#include "service/PostJob.h"
#include "service/ServicePost.h"
#include "service/TalkBack.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>

using namespace form1;

// Talking back to the status the strip shows: a favourite through the star, a reply
// through the posting dialog, a repeat, and its page in the browser.

bool TForm1::IsOwnStatus(const TTimelineStatus& status) const
{
    // The server says who the account is once asked; until then, the services sign in
    // with the account's screen name.
    const QString own = m_ownScreenName.isEmpty() ? m_state.AccountName : m_ownScreenName;
    return !status.ScreenName.isEmpty() && status.ScreenName.compare(own, Qt::CaseInsensitive) == 0;
}

void TForm1::UpdateTalkItems()
{
    const bool shown = m_shown.has_value();
    for (TItem item : {mmReply, pmReply, mmBrowser})
        Item(item)->setEnabled(shown);
    // A status of one's own can't be repeated.
    Item(mmRepeat)->setEnabled(shown && !IsOwnStatus(*m_shown));
    m_strip->ShowRepeated(shown && m_repeated.contains(m_shown->Id));
}

void TForm1::OpenReply(bool locked)
{
    auto* twitt = qobject_cast<TfrmTwitt*>(TwittWindow());
    if (!twitt || !m_shown)
        return;
    twitt->StartReply(m_shown->ScreenName, m_shown->Id);
    if (locked)
        ExecLockedDialog(twitt);
    else
        ExecDialog(twitt);
}

void TForm1::RepeatClick()
{
    if (!m_shown || IsOwnStatus(*m_shown))
        return;
    const QString id = m_shown->Id;
    {
        const TTopMostSuspender suspend;
        QMessageBox box(QMessageBox::Question, kTitle, tr("このつぶやきをリピートしますか？"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("RepeatQuestionBox"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return;
    }
    // The favourite's client: a request of either still running must not be touched,
    // and it says how it ended.
    if (m_talkBack->Busy())
        return;
    m_talkBack->Repeat(Account(), id);
}

void TForm1::RepeatEnded(const QString& statusId, const TPostOutcome& outcome)
{
    if (!outcome.IsAccepted()) {
        for (const QString& line : PostFailureLines(outcome))
            ShowStatus(line);
        return;
    }
    m_repeated.insert(statusId);
    ShowStatus(tr("リピートしました"));
    UpdateTalkItems();
}

void TForm1::OpenInBrowserClick()
{
    if (!m_shown)
        return;
    // Only web addresses, as for the links in the text.
    const QUrl page = StatusPageAddress(*m_shown, m_state.ApiBase);
    if (!page.isValid()) {
        ShowStatus(tr("このつぶやきのページがわかりません"));
        return;
    }
    QDesktopServices::openUrl(page);
}

void TForm1::Image1Click()
{
    const int row = SelectedIndex();
    const QString id = row >= 0 ? ActiveModel()->At(row).Id : QString();
    ShowStatus(QStringLiteral("status_id:") + id);
    if (!IsServiceStatusId(Account(), id)) {
        ShowStatus(tr("status idが取得できません"));
        return;
    }
    Favorite(id);
}

void TForm1::Favorite(const QString& statusId)
{
    if (statusId.isEmpty()) {
        ShowStatus(tr("Favorite()strStatusIdがありません。"));
        return;
    }
    if (!IsServiceStatusId(Account(), statusId)) {
        ShowStatus(tr("status idが取得できません"));
        return;
    }
    // A second click while a request runs is refused without a word: that request goes
    // on and says how it ended.
    if (m_talkBack->Busy()) {
        m_strip->ShowStar(m_shownFavorite);
        return;
    }
    m_talkBack->Favorite(Account(), statusId);
}

void TForm1::FavoriteEnded(const QString& statusId, const TPostOutcome& outcome)
{
    if (outcome.IsAccepted()) {
        // Every row of this status (a reload may have moved it) now says favourite.
        m_timeline->SetFavorite(statusId);
        m_mentions->Model()->SetFavorite(statusId);
        if (m_shown && m_shown->Id == statusId)
            m_shownFavorite = true;
    } else {
        for (const QString& line : PostFailureLines(outcome))
            ShowStatus(line);
    }
    // The star follows the status the pane shows now, which the rotation may have changed.
    if (m_shown)
        m_strip->ShowStar(m_shownFavorite);
}
