#include "app/frmMain.h"

#include "app/StatusLists.h"
#include "app/MentionsTab.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QTabWidget>
#include <QTreeView>


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
