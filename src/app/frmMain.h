#pragma once

#include "app/Strip.h"
#include "dialogs/ufrmSettings.h"
#include "service/ServiceAccount.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineRead.h"
#include "settings/Settings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeView;
class TDesktopNotifier;
class TMentionsTab;
class TPasswordStore;
class TServerConfigReader;
struct TServerConfig;
class TTimelineReader;
class TTalkBack;
struct TPostOutcome;
class TWindowFrame;

// Where a main window takes its configuration from, so tests can use temporary files.
struct TForm1Options {
    QString SettingsFile;       // the INI file read at creation and written at close
    bool CreateSettingsFolder = false;  // its folder is made (owner-only) at close
    TKeyringPolicy Keyring = TKeyringPolicy::Never;  // whether the password may go to the keyring
    QString PostCopyFile;       // the post body copy; empty: "cache/post.txt" beside SettingsFile
    QString TimelineCacheFile;  // the offline copy; empty: "cache/timeline.json" beside SettingsFile
    QStringList Arguments;      // the command line, for "--api URL"
    TReadBounds Bounds;         // of every timeline read
    int ReloadIntervalMs = 60000;   // the automatic reload's normal wait
    int ShowWindowAfterMs = 500;    // a slower start-up read shows the window before it ends
    bool ReadServerConfig = true;   // ask the server for its text limit after the first good read
    // Read the mentions after the first frame and after each read that brought news.
    bool ReadMentions = true;
    // A reader made before the window, perhaps already reading the first page
    // (TForm1::StartFirstRead); the window takes it over. Null: the window makes its own.
    TTimelineReader* Reader = nullptr;
    // The settings as already read from SettingsFile (TForm1::StartFirstRead keeps them);
    // empty: the window reads the file itself.
    std::optional<TMainState> Settings;
};

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
    std::optional<int> TextLimit() const { return m_textLimit; }
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
    // Starts marking the status as a favourite; FavoriteEnded goes on when it has ended.
    void Favorite(const QString& statusId);

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
    // The status shown in the strip: repeat it, open its page on the web.
    void RepeatClick();
    void OpenInBrowserClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void LayoutClient();
    void ReadSettings();  // the settings file, the service address and the network options
    void FormCreate();

    // The menu items (frmMainCommands.cpp). Where the menu bar and the pop-up show one
    // command under one caption, the pop-up holds the menu bar's action.
    enum TItem {
        mmLogin, mmLoginSet, mmView, mmAnonymous, mmAutoReload, mmAutoRotation, mmNotify, mmNotifyMentions,
        mmTopMost, mmSimpleMode, mmSuperSimpleMode, mmWidget, mmSetting, mmReload, mmMore, mmTwitt,
        mmReply, mmRepeat, mmBrowser, mmVersion,
        pmLogin, pmSimpleMode, pmTwitt, pmReply, pmMore, pmAutoReload, pmSetting, pmReload, pmVersion, pmClose,
        kItemCount
    };
    QAction* Item(TItem item) const { return m_items[item]; }
    QAction* AddItem(QMenu* menu, TItem item, const QString& caption, bool checkable = false);
    void AddSeparator(QMenu* menu, const char* name);
    // The commands behind the items, one handler each.
    void RefreshTicks();
    void AutoReloadChosen(bool tick);
    void AutoRotationChosen(bool tick);
    void NotifyToggled(bool on);
    void NotifyMentionsToggled(bool on);
    void TopMostChosen(bool ticked);
    void ListToggled(bool ticked);
    // A display mode the user picked: applied and written to the settings file.
    void ChooseDisplayMode(int mode);
    // The credentials dialog; what OK took is applied and saved. False: left otherwise.
    bool AskCredentials();
    void OpenSettings();
    void ApplyTimerChoices(const TTimerChoices& chosen);
    // The posting dialog for a new status or a reply, with the commands locked meanwhile
    // or not.
    void OpenPost(bool locked);
    void OpenReply(bool locked);

    // A list of statuses as the friends timeline's, on page, over model.
    QTreeView* MakeStatusList(QWidget* page, TTimelineModel* model, const QString& name);
    // The list on the tab in front, and its rows: the strip, the star, the rotation and
    // read-more work on it.
    QTreeView* ActiveView() const;
    TTimelineModel* ActiveModel() const;
    // The selected row of the list in front, or -1.
    int SelectedIndex() const;
    void SelectRow(int row);
    void ActiveTabChanged();
    void SelectFirstAndShow();
    void ShowSelected();
    // What is new: unseen marks, title, badge, notification.
    QString OfflineCopyFile() const;
    void MarkSeenId(const QString& id);
    // A row the program showed (first after a read, the rotation) becomes seen once the
    // strip has shown it for a whole rotation interval while the window was visible.
    void StartSeenClock(const QString& id);
    void CheckSeenClock();
    void UpdateUnseen();
    void UpdateTitle(int unseen);
    TDesktopNotifier* Notifier();
    void ShowStatusById(const QString& statusId);
    void ApplyServerConfig(const TServerConfig& config);
    void FavoriteEnded(const QString& statusId, const TPostOutcome& outcome);
    // The mentions tab (frmMainMentions.cpp).
    void BuildMentionsTab();
    void RefreshMentions();
    void MentionsEnded(const TFeedEnd& end);
    void Notify(const QList<TTimelineStatus>& arrived, bool mentions);
    // Talking back to the shown status (frmMainTalk.cpp).
    void RepeatEnded(const QString& statusId, const TPostOutcome& outcome);
    bool IsOwnStatus(const TTimelineStatus& status) const;
    void UpdateTalkItems();
    // The feeds of the two lists and their offline copy (frmMainReads.cpp).
    void BuildFeeds(TTimelineReader* reader);
    // Before each page of the friends timeline: the address and the credentials.
    TPageGate PageGate();
    void FriendsRead(const TFeedEnd& end);
    void StartUpRead(const TFeedEnd& end);
    // Shows the window so that its first frame is painted once.
    void ShowFirstFrame();
    // The start-up read held for the keyring's password begins once it has come and the
    // window has been painted.
    void StartUpReadWhenReady();
    void ReloadRead(const TFeedEnd& end);
    // Drops a running read (the window closes): its page is never shown.
    void AbandonReads();
    void SignIn();
    // The server refused the account's token: signing in again, with its words.
    void SignInAgain(const QString& words);
    void ReadMore();
    void ShowDefaultError(const QString& message);
    TServiceAccount Account() const;
    // The client height the display mode gives the window (0: the mode sets none), for a
    // frame of frameHeight above and below the client.
    int ModeClientHeight(int frameHeight) const;
    // The timers' intervals from the settings, once the user chose them.
    void ApplyIntervals();
    // A choice the user made changed: the settings file is written at once, so a session
    // that ends without closing the window loses nothing. A failure goes to the status line.
    void SettingsChanged();
    void ShowPopup(const QPoint& globalPos);
    void StripHovered(TStrip::TPart part);
    // The secondary windows, created at first use; null before CreateSecondaryWindows*.
    QDialog* LoginWindow();
    QDialog* TwittWindow();
    QDialog* VersionWindow();
    QDialog* SettingsWindow();
    void ExecDialog(QDialog* dialog);
    void ExecLockedDialog(QDialog* dialog);


    TForm1Options m_options;
    TMainState m_state;
    QString m_apiError;         // the status line for a service address that cannot be used
    TNetworkOptions m_network;  // proxies and extra trusted certificates, for every call through Account()
    TPasswordStore* m_passwords = nullptr;  // the settings file's password, or the keyring's
    bool m_awaitingPassword = false;    // the keyring has not answered yet
    bool m_startUpHeld = false;         // the start-up read waits for the password and the first frame
    bool m_firstFrame = false;          // painted, or not exposed within kFirstFrameWaitMs
    TTimelineFeed* m_friends = nullptr;         // the friends timeline, shown by ListView1
    TTimelineFeed* m_mentionsFeed = nullptr;
    TFeedCopy* m_copy = nullptr;
    bool m_pageLocked = false;      // this page's read locked the commands
    QTimer* m_showEarly = nullptr;  // shows the window during a slow start-up read
    bool m_started = false;
    bool m_showWhenStarted = false;
    bool m_closing = false;
    bool m_closeAwaitsKeyring = false;  // the close goes on when the keyring has the password
    bool m_closeSaved = true;
    QString m_closeError;
    bool m_commandsLocked = false;  // by EnableCommands(false), until EnableCommands(true)

    // Controls, under the names the rest of the program and the tests know them by.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* m_statusPanel = nullptr;
    QPlainTextEdit* memoDisplay = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* tabFriend = nullptr;
    QTreeView* ListView1 = nullptr;    // a view of m_timeline
    TTimelineModel* m_timeline = nullptr;     // m_friends's rows
    TMentionsTab* m_mentions = nullptr;
    QString m_ownScreenName;            // from the server after sign-in; empty: the account name
    TStrip* m_strip = nullptr;
    TWindowFrame* m_frame = nullptr;
    TTalkBack* m_talkBack = nullptr;   // favourites and repeats
    QMenu* pmMenu1 = nullptr;
    QTimer* TimerAutoReload = nullptr;
    QTimer* TimerAutoRotation = nullptr;

    std::array<QAction*, kItemCount> m_items{};
    QSet<QString> m_repeated;


    // What is new since the user last looked.
    bool m_autoShow = false;        // the program, not the user, is showing a row
    QString m_seenCandidate;        // shown by the program, seen after a whole interval on view
    QElapsedTimer m_seenClock;      // how long it has been on view
    QTimer* m_seenTimer = nullptr;
    TDesktopNotifier* m_notifier = nullptr;
    TServerConfigReader* m_configReader = nullptr;
    bool m_configAsked = false;
    std::optional<int> m_textLimit;

    // The status the detail pane shows, so a favourite reply lands on the right star.
    std::optional<TTimelineStatus> m_shown;
    bool m_shownFavorite = false;
    bool m_splitterMoved = false;

    // Secondary windows, owned through Qt parentage.
    QDialog* m_frmLogin = nullptr;
    QDialog* m_frmTwitt = nullptr;
    QDialog* m_frmVersion = nullptr;
    QWidget* m_frmBlack = nullptr;
    QDialog* m_frmSettings = nullptr;
    bool m_secondaryWindowsAllowed = false;
    TMainState m_settingsAtStart;  // what the settings dialog shows when first opened
};
