#include "app/ShownStatus.h"

#include "app/CommandMenus.h"
#include "app/RichEditC.h"
#include "app/Strip.h"
#include "dialogs/DialogCommon.h"
#include "service/PostJob.h"
#include "service/ServicePost.h"
#include "service/TimelineModel.h"
#include "service/TalkBack.h"
#include "text/Logging.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>

using namespace commands;

TShownStatus::TShownStatus(QWidget* window, TStrip* strip, TCommandMenus* menus, TWiring wiring)
    : QObject(window)
    , m_window(window)
    , m_strip(strip)
    , m_menus(menus)
    , m_wiring(std::move(wiring))
    , m_talkBack(new TTalkBack(this))
{
    connect(m_talkBack, &TTalkBack::FavoriteEnded, this, &TShownStatus::FavoriteEnded);
    connect(m_talkBack, &TTalkBack::RepeatEnded, this, &TShownStatus::RepeatEnded);
    Refresh();  // nothing shown yet
}

void TShownStatus::Show(const TTimelineStatus& status, bool anonymous)
{
    qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("strActiveStateId=") + status.Id;
    m_strip->RichEditC->setPlainText(TTimelineModel::DetailText(status));
    m_strip->lblUserName->setText(anonymous ? QString() : status.Name);
    m_status = status;
    m_favorite = status.IsFavorite();
    Refresh();
    m_strip->ShowStar(m_favorite);
}

void TShownStatus::Refresh()
{
    const bool shown = m_status.has_value();
    for (TItem item : {mmReply, pmReply, mmBrowser})
        m_menus->Item(item)->setEnabled(shown);
    // A status of one's own can't be repeated.
    m_menus->Item(mmRepeat)->setEnabled(shown && !m_wiring.IsOwn(*m_status));
    m_strip->ShowRepeated(shown && m_repeated.contains(m_status->Id));
}

void TShownStatus::Favorite(const QString& statusId)
{
    if (statusId.isEmpty()) {
        m_wiring.ShowStatus(tr("Favorite()strStatusIdがありません。"));
        return;
    }
    if (!IsServiceStatusId(m_wiring.Account(), statusId)) {
        m_wiring.ShowStatus(tr("status idが取得できません"));
        return;
    }
    // A second click while a request runs is refused without a word: that request goes
    // on and says how it ended.
    if (m_talkBack->Busy()) {
        m_strip->ShowStar(m_favorite);
        return;
    }
    m_talkBack->Favorite(m_wiring.Account(), statusId);
}

void TShownStatus::FavoriteEnded(const QString& statusId, const TPostOutcome& outcome)
{
    if (outcome.IsAccepted()) {
        // Every row of this status (a reload may have moved it) now says favourite.
        m_wiring.FavoriteMarked(statusId);
        if (m_status && m_status->Id == statusId)
            m_favorite = true;
    } else {
        for (const QString& line : PostFailureLines(outcome))
            m_wiring.ShowStatus(line);
    }
    // The star follows the status the pane shows now, which the rotation may have changed.
    if (m_status)
        m_strip->ShowStar(m_favorite);
}

void TShownStatus::Repeat()
{
    if (!m_status || m_wiring.IsOwn(*m_status))
        return;
    const QString id = m_status->Id;
    {
        const TTopMostSuspender suspend;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Brimlark_Simple"), tr("このつぶやきをリピートしますか？"),
                        QMessageBox::Yes | QMessageBox::No, m_window);
        box.setObjectName(QStringLiteral("RepeatQuestionBox"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return;
    }
    // One client for favourites and repeats: a request still running must not be
    // touched, and it says how it ended.
    if (m_talkBack->Busy())
        return;
    m_talkBack->Repeat(m_wiring.Account(), id);
}

void TShownStatus::RepeatEnded(const QString& statusId, const TPostOutcome& outcome)
{
    if (!outcome.IsAccepted()) {
        for (const QString& line : PostFailureLines(outcome))
            m_wiring.ShowStatus(line);
        return;
    }
    m_repeated.insert(statusId);
    m_wiring.ShowStatus(tr("リピートしました"));
    Refresh();
}

void TShownStatus::OpenInBrowser()
{
    if (!m_status)
        return;
    // Only web addresses, as for the links in the text.
    const QUrl page = StatusPageAddress(*m_status, m_wiring.Account().ApiBase);
    if (!page.isValid()) {
        m_wiring.ShowStatus(tr("このつぶやきのページがわかりません"));
        return;
    }
    QDesktopServices::openUrl(page);
}

void TShownStatus::Abort()
{
    m_talkBack->Abort();
}
