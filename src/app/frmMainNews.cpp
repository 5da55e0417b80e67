#include "app/frmMain.h"

#include "app/MentionsTab.h"
#include "app/SecondaryWindows.h"
#include "app/ShownStatus.h"
#include "app/StatusLists.h"
#include "app/Strip.h"
#include "service/ServerConfig.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QTimer>

namespace {

constexpr char kTitleMenuHint[] = QT_TRANSLATE_NOOP("TForm1", "Brimlark_Simple(右クリックでメニュー)");

} // namespace

// What is new since the user last looked, as the window shows it: the count in the title,
// the tab and the widget's badge, a clicked notification's status, and what the server
// says of itself.

int TForm1::UnseenCount() const
{
    return m_lists->UnseenCount();
}

void TForm1::UpdateUnseen()
{
    // The list draws an unseen row's name bold from the model's own mark.
    const int count = m_lists->UnseenCount();
    m_lists->Mentions()->ShowUnseen(m_lists->Mentions()->Model()->UnseenCount());
    UpdateTitle(count);
    m_strip->ShowUnseen(m_state.DisplayMode == 3 ? count : 0);
}

void TForm1::UpdateTitle(int unseen)
{
    const QString base = m_state.DisplayMode == 2 || m_state.DisplayMode == 3 ? tr(kTitleMenuHint) : kTitle;
    setWindowTitle(unseen > 0 ? QStringLiteral("%1 (%2)").arg(base).arg(unseen) : base);
}

void TForm1::ShowStatusById(const QString& statusId)
{
    if (!m_lists->BringToFront(statusId))
        return;
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
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
    m_windows->SetTextLimit(*config.TextLimit, config.LinkLength);
}
