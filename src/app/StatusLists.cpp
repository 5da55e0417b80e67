#include "app/StatusLists.h"

#include "app/MentionsTab.h"
#include "app/StatusListDelegate.h"
#include "dialogs/DialogCommon.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr int kNameColumnWidth = 80;

QString WindowText(const char* text)
{
    return QCoreApplication::translate("TForm1", text);
}

} // namespace

TStatusLists::TStatusLists(QWidget* parent, TTimelineFeed* friends, TTimelineFeed* mentions, QObject* contextMenus,
                           bool namesHidden)
    : QObject(parent), m_contextMenus(contextMenus), m_namesHidden(namesHidden)
{
    m_pages = new QTabWidget(parent);
    m_pages->setObjectName(QStringLiteral("PageControl1"));
    m_friendsPage = new QWidget;
    m_friendsPage->setObjectName(QStringLiteral("tabFriend"));
    m_pages->addTab(m_friendsPage, WindowText(QT_TRANSLATE_NOOP("TForm1", "フレンドタイムライン")));

    // The list is a view of the timeline's typed rows: name and text; the flag, the id and
    // the marks stay in the model, outside the columns a screen reader presents.
    friends->Model()->setObjectName(QStringLiteral("Timeline"));
    m_friends = MakeList(m_friendsPage, friends->Model(), QStringLiteral("ListView1"));
    m_friends->setAccessibleName(WindowText(QT_TRANSLATE_NOOP("TForm1", "タイムライン")));
    auto* pageLayout = new QVBoxLayout(m_friendsPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(m_friends);

    m_mentions = new TMentionsTab(
        m_pages,
        [this](QWidget* page, TTimelineModel* model) {
            QTreeView* list = MakeList(page, model, QStringLiteral("ListViewMentions"));
            list->setAccessibleName(WindowText(QT_TRANSLATE_NOOP("TForm1", "@返信")));
            return list;
        },
        mentions, this);
    // After the tab's own handler, which makes its list.
    connect(m_pages, &QTabWidget::currentChanged, this, &TStatusLists::FrontChanged);
}

QTreeView* TStatusLists::MakeList(QWidget* page, TTimelineModel* model, const QString& name)
{
    auto* list = new QTreeView(page);
    list->setObjectName(name);
    list->setModel(model);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFont(PixelFont(kPGothic, 13));
    // Grid lines between the rows, unseen names bold, offline rows grey.
    list->setItemDelegate(new TStatusListDelegate(list));
    list->header()->setStretchLastSection(false);
    // The header is hidden: a minimum of its own would be measured from the widest glyph
    // of the font, and would widen the hidden name column of the anonymous mode.
    list->header()->setMinimumSectionSize(0);
    list->setColumnWidth(0, m_namesHidden ? 0 : kNameColumnWidth);
    list->setColumnWidth(1, 550);
    list->setEnabled(m_enabled);
    // Only the list in front drives the strip.
    connect(list, &QAbstractItemView::clicked, this, [this, list] {
        if (list == Active())
            Q_EMIT Clicked();
    });
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, list] {
        if (list == Active())
            Q_EMIT SelectionChanged();
    });
    list->viewport()->installEventFilter(m_contextMenus);
    auto* replyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), list, nullptr, nullptr, Qt::WidgetShortcut);
    replyKey->setObjectName(QStringLiteral("ReplyShortcut"));
    connect(replyKey, &QShortcut::activated, this, &TStatusLists::ReplyAsked);
    return list;
}

bool TStatusLists::FriendsInFront() const
{
    return Active() == m_friends;
}

QTreeView* TStatusLists::Active() const
{
    const bool mentions = m_pages->currentWidget() == m_mentions->Page() && m_mentions->HasView();
    return mentions ? m_mentions->View() : m_friends;
}

TTimelineModel* TStatusLists::ActiveModel() const
{
    return static_cast<TTimelineModel*>(Active()->model());
}

int TStatusLists::SelectedIndex() const
{
    const QModelIndexList selected = Active()->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TStatusLists::SelectRow(int row)
{
    QTreeView* list = Active();
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool TStatusLists::BringToFront(const QString& statusId)
{
    if (ActiveModel()->IndexOf(statusId) < 0) {
        const auto* friends = static_cast<TTimelineModel*>(m_friends->model());
        const bool inFriends = friends->IndexOf(statusId) >= 0;
        if (!inFriends && m_mentions->Model()->IndexOf(statusId) < 0)
            return false;
        m_pages->setCurrentWidget(inFriends ? m_friendsPage : m_mentions->Page());
    }
    const int row = ActiveModel()->IndexOf(statusId);
    SelectRow(row);
    Active()->scrollTo(ActiveModel()->index(row, 0));
    return true;
}

int TStatusLists::UnseenCount() const
{
    const auto* friends = static_cast<TTimelineModel*>(m_friends->model());
    int count = friends->UnseenCount();
    // A mention the friends timeline holds too is counted there already.
    for (const TTimelineStatus& status : m_mentions->Model()->Rows()) {
        if (!status.Seen && friends->IndexOf(status.Id) < 0)
            ++count;
    }
    return count;
}

void TStatusLists::SetNamesHidden(bool hidden)
{
    m_namesHidden = hidden;
    for (QTreeView* list : {m_friends, m_mentions->HasView() ? m_mentions->View() : nullptr}) {
        if (list)
            list->setColumnWidth(0, hidden ? 0 : kNameColumnWidth);
    }
}

void TStatusLists::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    m_friends->setEnabled(enabled);
    if (m_mentions->HasView())
        m_mentions->View()->setEnabled(enabled);
}
