#pragma once

#include "app/CommandMenus.h"
#include "app/FormOptions.h"
#include "app/Strip.h"
#include "dialogs/ufrmSettings.h"
#include "service/ServiceAccount.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>

#include <optional>

class QAction;
class QDialog;
class QSplitter;
class QTimer;
class TFirstFrame;
class TNewsNotifier;
class TPasswordStore;
class TSecondaryWindows;
class TSeenClock;
class TShownStatus;
class TStatusLine;
class TStatusLists;
class TServerConfigReader;
struct TServerConfig;
class TTimelineReader;
class TWindowClose;
class TWindowFrame;
class TWindowTimers;

// The main window: the strip that shows the friends timeline, the list of statuses,
// the trace of status lines and the menus. Creating it loads the settings and reads the
// timeline once; it is shown by the caller afterwards.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(const TForm1Options& options, QWidget* parent = nullptr);

    // Starts reading the first page for the window these options will build, from the
    // settings already loaded into state, so that the server works while the program
    // sets up its fonts and builds the window. Keeps state in options.Settings and sets
    // options.Reader; reads nothing when the credentials or the address are missing or
    // unusable.
    static void StartFirstRead(TForm1Options& options, const TMainState& state);
    ~TForm1() override;

    // The five secondary windows, in their fixed order, with this window as parent.
    void CreateSecondaryWindows();
    // The same, each window created only when first used (start-up then pays for none).
    // The settings dialog still first shows the state as it is at this call.
    void CreateSecondaryWindowsOnDemand();

    TMainState& State() { return m_state; }
    int PageCounter() const;
    int DisplayMode() const { return m_state.DisplayMode; }
    QString StatusText() const;
    // Statuses in either list the user has not seen yet (shown by the rotation or
    // selected), each counted once.
    int UnseenCount() const;
    // The limit the server published, once read after the first good read.
    std::optional<int> TextLimit() const;
    // The window was closed (during the start-up read, too).
    bool IsClosing() const { return m_closing; }
    // Writes the settings file now (what the user chose, the window's frame); the
    // session manager's commit-data request and every change of a choice come here.
    // False, with a warning line, when the file cannot be written.
    bool SaveSettingsNow(QString* error = nullptr);
    // Closes as the close button does (the same save), ending any dialog or message box
    // open on top first as if cancelled: for the system's requests to end.
    void CloseInOrder();

    // One status line: the status bar's panel and a new last line of the trace box.
    void ShowStatus(const QString& text);
    // The command lock: false locks (and stops both timers), true unlocks (and starts them).
    void EnableCommands(bool enable);

    // Empties the list and reads pages 1 to PageCounter()+1 again, one after the other.
    void Reload();
    // A read (start-up, sign-in, reload, read more, the mentions) is under way.
    bool Reading() const;
    // The start-up read has ended (however) and the window is set up.
    bool IsStarted() const { return m_started; }
    // Shows the window once the start-up read has ended, at once when it has; a slow
    // start-up read shows it earlier with its loading line.
    void ShowWhenStarted();
    void SetDisplayMode(int mode);

Q_SIGNALS:
    // A read and what follows it (selection, status lines, the error box) are done.
    void ReadsFinished();
    // The window has closed, its settings written: the program may end.
    void Closed();

public Q_SLOTS:
    void ListView1Click();
    void ListView1Change();
    void Image1Click();
    void mmAnonymousClick();
    void TimerAutoReloadTimer();
    void TimerAutoRotationTimer();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    inline static const QString kTitle = QStringLiteral("Brimlark_Simple");

    // Building (frmMain.cpp, frmMainControls.cpp).
    void ReadSettings();  // the settings file, the service address and the network options
    void BuildFeeds(TTimelineReader* reader);
    void BuildControls();
    void BuildMenus();
    void FormCreate();
    void LayoutClient();
    TServiceAccount Account() const;
    // A choice the user made changed: the settings file is written at once, so a session
    // that ends without closing the window loses nothing. A failure goes to the status line.
    void SettingsChanged();

    // The commands behind the menu items, one handler each (frmMainCommands.cpp).
    QAction* Item(commands::TItem item) const { return m_menus->Item(item); }
    void RefreshTicks();
    void AutoReloadChosen(bool tick);
    void AutoRotationChosen(bool tick);
    void NotifyToggled(bool on);
    void NotifyMentionsToggled(bool on);
    void TopMostChosen(bool ticked);
    void ListToggled(bool ticked);
    void ChooseDisplayMode(int mode);  // applied and saved
    // The credentials dialog; what OK took is applied and saved. False: left otherwise.
    bool AskCredentials();
    void OpenSettings();
    void ApplyTimerChoices(const TTimerChoices& chosen);
    // The posting dialog for a new status or a reply, locking the commands meanwhile or not.
    void OpenPost(bool locked);
    void OpenReply(bool locked);
    void ShowPopup(const QPoint& globalPos);
    void ExecDialog(QDialog* dialog);
    void ExecLockedDialog(QDialog* dialog);

    // The display modes (frmMainModes.cpp): the client height a mode gives the window
    // (0: none) for a frame of frameHeight above and below the client.
    int ModeClientHeight(int frameHeight);

    // The strip follows the list in front; what is new (frmMainNews.cpp).
    void ActiveTabChanged();
    void SelectFirstAndShow();
    void ShowSelected();
    void UpdateUnseen();
    void UpdateTitle(int unseen);
    void ShowStatusById(const QString& statusId);
    void ApplyServerConfig(const TServerConfig& config);
    bool IsOwnStatus(const TTimelineStatus& status) const;

    // The reads of the two feeds (frmMainReads.cpp). Before each page of the friends
    // timeline: the address and the credentials.
    TPageGate PageGate();
    void FriendsRead(const TFeedEnd& end);
    void StartUpRead(const TFeedEnd& end);
    void ShowFirstFrame();  // painted once, all of it
    // The start-up read held for the keyring's password begins once it has come and the
    // window has been painted.
    void StartUpReadWhenReady();
    void ReloadRead(const TFeedEnd& end);
    void RefreshMentions();
    void MentionsEnded(const TFeedEnd& end);
    // Drops a running read (the window closes): its page is never shown.
    void AbandonReads();
    void SignIn();
    // The server refused the account's token: signing in again, with its words.
    void SignInAgain(const QString& words);
    void ReadMore();

    TForm1Options m_options;
    TMainState m_state;
    QString m_apiError;         // the status line for a service address that cannot be used
    TNetworkOptions m_network;  // proxies and extra trusted certificates, for every call through Account()
    TPasswordStore* m_passwords = nullptr;  // the settings file's password, or the keyring's
    bool m_awaitingPassword = false;    // the keyring has not answered yet
    bool m_keyringFailed = false;       // it could not give the stored account's password
    bool m_signInAsked = false;         // ログイン設定 chosen while the keyring was awaited
    bool m_signInAfterRead = false;     // a refused token's dialog waits for the friends read
    bool m_startUpHeld = false;         // the start-up read waits for the password and the first frame
    TFirstFrame* m_firstFrame = nullptr;
    TTimelineFeed* m_friends = nullptr;
    TTimelineFeed* m_mentionsFeed = nullptr;
    TTimelineModel* m_timeline = nullptr;  // m_friends's rows
    TFeedCopy* m_copy = nullptr;
    bool m_pageLocked = false;      // this page's read locked the commands
    QTimer* m_showEarly = nullptr;  // shows the window during a slow start-up read
    bool m_started = false;
    bool m_showWhenStarted = false;
    bool m_closing = false;
    TWindowClose* m_close = nullptr;
    bool m_commandsLocked = false;  // by EnableCommands(false), until EnableCommands(true)
    QString m_ownScreenName;        // from the server after sign-in; empty: the account name
    TServerConfigReader* m_configReader = nullptr;
    bool m_configAsked = false;
    bool m_autoShow = false;        // the program, not the user, is showing a row

    // The window's parts.
    TStrip* m_strip = nullptr;
    QSplitter* Splitter1 = nullptr;  // the lists above the trace
    bool m_splitterMoved = false;
    TStatusLists* m_lists = nullptr;
    TStatusLine* m_statusLine = nullptr;
    TShownStatus* m_shownStatus = nullptr;
    TCommandMenus* m_menus = nullptr;
    TWindowTimers* m_timers = nullptr;
    TWindowFrame* m_frame = nullptr;
    bool m_listHeightDue = false;   // the list mode's own height, at its next framing
    TSeenClock* m_seenClock = nullptr;
    TNewsNotifier* m_notifier = nullptr;
    TSecondaryWindows* m_windows = nullptr;
};
