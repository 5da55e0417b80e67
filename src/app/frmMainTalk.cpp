#include "app/frmMain.h"

#include "app/StatusLists.h"
#include "app/SecondaryWindows.h"
#include "app/ShownStatus.h"
#include "dialogs/uTwitt.h"
#include "service/ServicePost.h"

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
    if (!IsStatusId(id)) {
        ShowStatus(tr("status idが取得できません"));
        return;
    }
    m_shownStatus->Favorite(id);
}
