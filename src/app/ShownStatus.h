#pragma once

#include "service/ServiceAccount.h"
#include "service/TimelineModel.h"

#include <QCoreApplication>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class QWidget;
class TCommandMenus;
class TStrip;
class TTalkBack;
struct TPostOutcome;

// The status the strip shows and what is said back to it: its name, text and star, the
// "RT" mark of a repeat, the items that act on it, and the favourite, repeat and web page
// asked for it. Favourites and repeats go one at a time; their status lines go to the
// window's status line.
class TShownStatus : public QObject {
    // Its texts are the main window's.
    Q_DECLARE_TR_FUNCTIONS(TForm1)
public:
    struct TWiring {
        std::function<TServiceAccount()> Account;
        std::function<bool(const TTimelineStatus&)> IsOwn;
        std::function<void(const QString&)> ShowStatus;
        // A favourite was accepted: every list marks its rows of the status.
        std::function<void(const QString& statusId)> FavoriteMarked;
    };
    TShownStatus(QWidget* window, TStrip* strip, TCommandMenus* menus, TWiring wiring);

    const std::optional<TTimelineStatus>& Status() const { return m_status; }
    void Show(const TTimelineStatus& status, bool anonymous);
    // Who the account is may have changed: the items follow.
    void Refresh();

    void Favorite(const QString& statusId);
    void Repeat();
    void OpenInBrowser();
    // The window closes: a request under way is dropped unreported.
    void Abort();

private:
    void FavoriteEnded(const QString& statusId, const TPostOutcome& outcome);
    void RepeatEnded(const QString& statusId, const TPostOutcome& outcome);

    QWidget* m_window;
    TStrip* m_strip;
    TCommandMenus* m_menus;
    TWiring m_wiring;
    TTalkBack* m_talkBack;
    // The status shown, so a favourite's reply lands on the right star.
    std::optional<TTimelineStatus> m_status;
    bool m_favorite = false;   // its star, gold since a favourite was accepted too
    QSet<QString> m_repeated;  // in this run
};
