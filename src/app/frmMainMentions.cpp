#include "app/frmMain.h"

#include "app/MentionsTab.h"
#include "app/frmMain_p.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QTabWidget>
#include <QTreeView>

using namespace form1;

// The "@返信" tab beside the friends timeline: read after the first frame and after each
// read that brought news, with its own unseen count in its caption. The strip, the star,
// the rotation and read-more follow whichever list is in front.

void TForm1::BuildMentionsTab()
{
    m_mentions = new TMentionsTab(
        PageControl1,
        [this](QWidget* page, TTimelineModel* model) {
            QTreeView* list = MakeStatusList(page, model, QStringLiteral("ListViewMentions"));
            list->setAccessibleName(tr("@返信"));
            return list;
        },
        m_mentionsFeed, this);
    // After the tab's own handler, which makes its list.
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::ActiveTabChanged);
}

QTreeView* TForm1::ActiveView() const
{
    const bool mentions = PageControl1->currentWidget() == m_mentions->Page() && m_mentions->HasView();
    return mentions ? m_mentions->View() : ListView1;
}

TTimelineModel* TForm1::ActiveModel() const
{
    return ActiveView() == ListView1 ? m_timeline : m_mentions->Model();
}

void TForm1::RefreshMentions()
{
    if (!m_options.ReadMentions || m_closing || !m_apiError.isEmpty() || !m_state.HasCredentials())
        return;
    // Said line by line only when the user is looking at them.
    m_mentionsFeed->Start(TFeedRead::Refresh, PageControl1->currentWidget() == m_mentions->Page());
}

void TForm1::MentionsEnded(const TFeedEnd& end)
{
    if (end.Abandoned)
        return;
    // A refresh put new rows in place of the old: the tab in front shows its first again.
    if (end.Succeeded && m_mentions->HasView()) {
        QTreeView* list = m_mentions->View();
        if (!list->selectionModel()->hasSelection() && !m_mentions->Model()->IsEmpty()) {
            const bool shown = ActiveView() == list;
            m_autoShow = true;
            list->selectionModel()->select(m_mentions->Model()->index(0, 0),
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
    if (SelectedIndex() < 0 && ActiveModel()->IsEmpty())
        return;
    m_autoShow = true;
    if (SelectedIndex() < 0)
        SelectRow(0);
    ShowSelected();
    m_autoShow = false;
}
