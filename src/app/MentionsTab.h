#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTabWidget;
class QTreeView;
class QWidget;
class TTimelineFeed;
class TTimelineModel;

// The "@返信" tab: the statuses that mention the account, as their feed reads them. Its
// caption counts their unseen statuses and marks a read that failed (the tooltip says
// why). Its list is made when first needed: a start-up that never shows the tab pays for
// a caption only.
class TMentionsTab : public QObject {
    Q_OBJECT
public:
    // makeList builds a list like the friends timeline's on the given page for the model.
    TMentionsTab(QTabWidget* pages, std::function<QTreeView*(QWidget* page, TTimelineModel* model)> makeList,
                 TTimelineFeed* feed, QObject* parent);
    ~TMentionsTab() override;

    TTimelineModel* Model() const;
    // The list, made at the first call.
    QTreeView* View();
    bool HasView() const { return m_view != nullptr; }
    QWidget* Page() const { return m_page; }

    // The caption with the count of unseen statuses, none when 0.
    void ShowUnseen(int count);

private:
    void showCaption();

    QTabWidget* m_pages;
    QWidget* m_page;
    std::function<QTreeView*(QWidget*, TTimelineModel*)> m_makeList;
    QTreeView* m_view = nullptr;
    TTimelineFeed* m_feed;
    int m_unseen = 0;
};
