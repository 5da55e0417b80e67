#include "app/MentionsTab.h"

#include "service/TimelineModel.h"
#include "service/TimelineReader.h"

#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

TMentionsTab::TMentionsTab(QTabWidget* pages,
                           std::function<QTreeView*(QWidget* page, TTimelineModel* model)> makeList, QObject* parent)
    : QObject(parent), m_pages(pages), m_page(new QWidget), m_makeList(std::move(makeList)),
      m_model(new TTimelineModel(this)), m_reader(new TTimelineReader(this))
{
    m_page->setObjectName(QStringLiteral("tabMentions"));
    m_model->setObjectName(QStringLiteral("Mentions"));
    m_pages->addTab(m_page, tr("@返信"));
    connect(m_reader, &TTimelineReader::PageRead, this, &TMentionsTab::pageRead);
    // The list is made when the tab is first chosen, or when a window test asks for it.
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_pages->widget(index) == m_page)
            View();
    });
}

TMentionsTab::~TMentionsTab() = default;

QTreeView* TMentionsTab::View()
{
    if (!m_view) {
        m_view = m_makeList(m_page, m_model);
        auto* layout = new QVBoxLayout(m_page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        // At once, not when the layout's queued show comes: the tab may be in front already.
        m_view->show();
    }
    return m_view;
}

bool TMentionsTab::Reading() const
{
    return m_page1 > 0;
}

void TMentionsTab::Refresh(const TServiceAccount& account, const TReadBounds& bounds)
{
    if (Reading() || (m_waitUntil.isValid() && QDateTime::currentDateTimeUtc() < m_waitUntil))
        return;
    m_account = account;
    m_bounds = bounds;
    m_older = false;
    m_succeeded = false;
    m_page1 = 1;
    m_lastPage = m_pageCount + 1;
    startPage();
}

void TMentionsTab::ReadMore(const TServiceAccount& account, const TReadBounds& bounds)
{
    if (Reading())
        return;
    m_account = account;
    m_bounds = bounds;
    m_older = true;
    m_succeeded = false;
    // The page counts even when its read fails, as the friends timeline's does.
    ++m_pageCount;
    m_page1 = m_lastPage = m_pageCount + 1;
    startPage();
}

void TMentionsTab::Abandon()
{
    m_reader->Abandon();
    m_page1 = 0;
}

void TMentionsTab::startPage()
{
    Q_EMIT StatusLine(tr("ロード中..."));
    m_reader->Start(m_account, m_page1, m_bounds, TTimeline::Mentions);
}

void TMentionsTab::pageRead(const TTimelinePage& page)
{
    if (!Reading())
        return;
    if (page.Loaded && page.Failure != TReadFailure::Refused && page.Failure != TReadFailure::HttpStatus)
        Q_EMIT StatusLine(tr("ロード完了"));
    if (!page.Ok()) {
        Q_EMIT StatusLine(TimelineFailureLine(page, ConnectionPlace(m_account)));
        if (WorthBackingOff(page)) {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            m_waitUntil = now.addMSecs(m_backoff.Failed(RetryAfterMs(page.RetryAfter, now)));
        }
        m_page1 = 0;
        // Pages read before the failure stay, and count.
        if (m_succeeded)
            Q_EMIT RowsRead(m_older);
        Q_EMIT ReadEnded(m_succeeded);
        return;
    }
    m_backoff.Succeeded();
    m_waitUntil = {};
    QList<TTimelineStatus> rows;
    rows.reserve(page.Rows.size());
    for (const TStatusRow& row : page.Rows)
        rows.append(TTimelineStatus::From(row));
    // The first page of a refresh replaces the rows (the offline copy's too) at once.
    if (!m_older && m_page1 == 1)
        m_model->Clear();
    m_model->Append(rows);
    m_succeeded = true;
    if (m_page1 < m_lastPage) {
        ++m_page1;
        startPage();
        return;
    }
    m_page1 = 0;
    Q_EMIT RowsRead(m_older);
    Q_EMIT ReadEnded(true);
}

void TMentionsTab::ShowUnseen(int count)
{
    const int index = m_pages->indexOf(m_page);
    m_pages->setTabText(index, count > 0 ? tr("@返信 (%1)").arg(count) : tr("@返信"));
}
