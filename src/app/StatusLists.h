#pragma once

#include <QObject>

class QTabWidget;
class QTreeView;
class QWidget;
class TMentionsTab;
class TTimelineFeed;
class TTimelineModel;

// The lists of statuses on their tabs: the friends timeline and the mentions, whose list
// is made when first needed. The strip, the star, the rotation and read-more follow the
// list in front and its selected row.
class TStatusLists : public QObject {
    Q_OBJECT
public:
    // contextMenus: gets the lists' context menu events.
    TStatusLists(QWidget* parent, TTimelineFeed* friends, TTimelineFeed* mentions, QObject* contextMenus,
                 bool namesHidden);

    QTabWidget* Pages() const { return m_pages; }
    QWidget* FriendsPage() const { return m_friendsPage; }
    QTreeView* Friends() const { return m_friends; }
    TMentionsTab* Mentions() const { return m_mentions; }

    QTreeView* Active() const;
    TTimelineModel* ActiveModel() const;
    bool FriendsInFront() const;
    // The selected row of the list in front, or -1.
    int SelectedIndex() const;
    // Selection only: the current index (and with it the scroll position) stays put.
    void SelectRow(int row);
    // The list holding the status comes to the front (the one in front when it holds
    // it), with the status selected and in view. False: no list holds it.
    bool BringToFront(const QString& statusId);
    // Statuses in either list not seen yet, each counted once.
    int UnseenCount() const;
    void SetNamesHidden(bool hidden);
    void SetEnabled(bool enabled);

Q_SIGNALS:
    // In the list in front.
    void Clicked();
    void SelectionChanged();
    void FrontChanged();
    // Ctrl+R on a list: answer the shown status.
    void ReplyAsked();

private:
    QTreeView* MakeList(QWidget* page, TTimelineModel* model, const QString& name);

    QObject* m_contextMenus;
    bool m_namesHidden;
    bool m_enabled = true;
    QTabWidget* m_pages;
    QWidget* m_friendsPage;
    QTreeView* m_friends;
    TMentionsTab* m_mentions;
};
