#pragma once

#include "service/ReadOutcome.h"
#include "service/ServiceAccount.h"
#include "service/TimelineRead.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTabWidget;
class QTreeView;
class QWidget;
class TTimelineModel;
class TTimelineReader;
struct TTimelineStatus;

// The "@返信" tab: the statuses that mention the account, read page by page the way the
// friends timeline is (the same bounds, paging, back-off and status lines) on a reader
// of its own, so it never holds up the friends timeline. Its list is made when first
// needed: a start-up that never shows the tab pays for a caption only.
class TMentionsTab : public QObject {
    Q_OBJECT
public:
    // makeList builds a list like the friends timeline's on the given page for the model.
    TMentionsTab(QTabWidget* pages, std::function<QTreeView*(QWidget* page, TTimelineModel* model)> makeList,
                 QObject* parent);
    ~TMentionsTab() override;

    TTimelineModel* Model() const { return m_model; }
    // The list, made at the first call.
    QTreeView* View();
    bool HasView() const { return m_view != nullptr; }
    QWidget* Page() const { return m_page; }

    // Reads pages 1 to PageCount()+1 again, replacing the rows once the first page is in.
    // Nothing while a read runs, or while a failure worth backing off says to wait.
    void Refresh(const TServiceAccount& account, const TReadBounds& bounds);
    // Reads the next older page, appended.
    void ReadMore(const TServiceAccount& account, const TReadBounds& bounds);
    bool Reading() const;
    // Drops a running read: it is never reported.
    void Abandon();
    int PageCount() const { return m_pageCount; }

    // The caption with the count of unseen statuses, none when 0.
    void ShowUnseen(int count);

Q_SIGNALS:
    void StatusLine(const QString& line);
    // A refresh (its first page replaced the rows) or an older page brought rows; said
    // once the job ends, also when a later page of it failed.
    void RowsRead(bool olderPage);
    // A refresh or read-more has ended, however.
    void ReadEnded(bool succeeded);

private:
    void startPage();
    void pageRead(const TTimelinePage& page);

    QTabWidget* m_pages;
    QWidget* m_page;
    std::function<QTreeView*(QWidget*, TTimelineModel*)> m_makeList;
    QTreeView* m_view = nullptr;
    TTimelineModel* m_model;
    TTimelineReader* m_reader;
    TServiceAccount m_account;
    TReadBounds m_bounds;
    int m_pageCount = 0;        // older pages read with read-more
    int m_page1 = 0;            // the running job's next page; 0: none runs
    int m_lastPage = 0;
    bool m_older = false;       // the running job reads an older page
    bool m_succeeded = false;
    TReloadBackoff m_backoff{60000};
    QDateTime m_waitUntil;      // after a failure worth backing off
};
