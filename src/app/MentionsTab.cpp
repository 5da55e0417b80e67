#include "app/MentionsTab.h"

#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

TMentionsTab::TMentionsTab(QTabWidget* pages, std::function<QTreeView*(QWidget* page, TTimelineModel* model)> makeList,
                           TTimelineFeed* feed, QObject* parent)
    : QObject(parent), m_pages(pages), m_page(new QWidget), m_makeList(std::move(makeList)), m_feed(feed)
{
    m_page->setObjectName(QStringLiteral("tabMentions"));
    Model()->setObjectName(QStringLiteral("Mentions"));
    m_pages->addTab(m_page, tr("@返信"));
    connect(m_feed, &TTimelineFeed::FailureChanged, this, &TMentionsTab::showCaption);
    // The list is made when the tab is first chosen, or when a window test asks for it.
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_pages->widget(index) == m_page)
            View();
    });
}

TMentionsTab::~TMentionsTab() = default;

TTimelineModel* TMentionsTab::Model() const
{
    return m_feed->Model();
}

QTreeView* TMentionsTab::View()
{
    if (!m_view) {
        m_view = m_makeList(m_page, Model());
        auto* layout = new QVBoxLayout(m_page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        // At once, not when the layout's queued show comes: the tab may be in front already.
        m_view->show();
    }
    return m_view;
}

void TMentionsTab::ShowUnseen(int count)
{
    m_unseen = count;
    showCaption();
}

void TMentionsTab::showCaption()
{
    const int index = m_pages->indexOf(m_page);
    QString caption = m_unseen > 0 ? tr("@返信 (%1)").arg(m_unseen) : tr("@返信");
    const QString failure = m_feed->FailureLine();
    if (!failure.isEmpty())
        caption += QStringLiteral(" (!)");
    m_pages->setTabText(index, caption);
    m_pages->setTabToolTip(index, failure);
}
