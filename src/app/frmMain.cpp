#include "app/frmMain.h"

#include "app/Application.h"
#include "app/MentionsTab.h"
#include "app/RichEditC.h"
#include "app/Strip.h"
#include "app/WindowFrame.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "dialogs/uFrmBlack.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "dialogs/uVersion.h"
#include "dialogs/ufrmSettings.h"
#include "http/HttpCli.h"
#include "service/PostJob.h"
#include "service/ServicePost.h"
#include "service/TalkBack.h"
#include "service/TimelineModel.h"
#include "service/TimelineFeed.h"
#include "service/TimelineReader.h"
#include "settings/PasswordStore.h"
#include "text/Logging.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

using namespace form1;

TForm1::TForm1(const TForm1Options& options, QWidget* parent)
    : QMainWindow(parent), m_options(options)
{
    RegisterJapaneseFontSubstitutes();
    ReadSettings();
    TTimelineReader* reader = m_options.Reader ? m_options.Reader : new TTimelineReader;
    // The first page is asked for before the controls are built, so the server's answer
    // and the building of the window overlap; the start-up read below takes it.
    if (!m_options.Reader && m_apiError.isEmpty() && m_state.HasCredentials())
        reader->Prefetch(Account(), 1, m_options.Bounds);
    // The offline copy is read beside, too.
    BuildFeeds(reader);
    BuildControls();
    BuildMenus();
    FormCreate();
}

TForm1::~TForm1() = default;

TServiceAccount TForm1::Account() const
{
    return {m_state.ApiBase, m_state.AccountName, m_state.Password, m_network};
}

// ---------------------------------------------------------------------------------------
// Construction

void TForm1::StartFirstRead(TForm1Options& options, const TMainState& state)
{
    options.Settings = state;
    const TServiceEndpoint service = ResolveServiceEndpoint(options.Arguments, state);
    if (!service.Error.isEmpty() || !state.HasCredentials())
        return;
    options.Reader = new TTimelineReader;
    options.Reader->Prefetch(TServiceAccount(service, state.AccountName, state.Password), 1, options.Bounds);
}

void TForm1::ReadSettings()
{
    if (m_options.Settings)
        m_state = *m_options.Settings;
    else
        LoadSettings(m_options.SettingsFile, m_state);
    const TServiceEndpoint service = ResolveServiceEndpoint(m_options.Arguments, m_state);
    m_state.ApiBase = service.ApiBase;
    m_apiError = service.Error;
    m_network = service.Network;
    // A password kept in the keyring is asked for now: its answer comes while the window
    // is built. Every signal comes from the event loop, once the controls exist.
    m_passwords = new TPasswordStore(ChoosesKeyring(m_options.Keyring, m_state), this);
    connect(m_passwords, &TPasswordStore::KeyringUnusable, this, &TForm1::ShowStatus);
    connect(m_passwords, &TPasswordStore::Stored, this, &TForm1::SettingsChanged);
    connect(m_passwords, &TPasswordStore::PasswordRead, this, [this](const QString& password) {
        m_state.Password = password;
        m_awaitingPassword = false;
        StartUpReadWhenReady();
    });
    m_awaitingPassword = m_passwords->StartRead(m_state);
}

void TForm1::FormCreate()
{
    // Timers run from the moment the window exists.
    ApplyIntervals();
    TimerAutoReload->start();
    TimerAutoRotation->start();

    LayoutClient();
    m_strip->RichEditC->SetAutoUrlDetect(true);

    TMainState defaults;
    SetDefaultSettings(defaults);
    m_frame->Restore(QRect(m_state.WindowLeft, m_state.WindowTop, m_state.WindowWidth, m_state.WindowHeight),
                     QSize(defaults.WindowWidth, defaults.WindowHeight));

    m_state.TimelineAddress = TimelinePageAddress(m_state.ApiBase, 1);

    m_strip->lblStar->setText(tr("お気に入り発言スター"));

    // A quick first read comes before the window is shown; a slow one lets the window
    // appear with its loading line, and the rows follow when the read ends.
    m_showEarly = new QTimer(this);
    m_showEarly->setSingleShot(true);
    connect(m_showEarly, &QTimer::timeout, this, [this] {
        SetDisplayMode(m_state.DisplayMode);
        ShowFirstFrame();
    });
    m_showEarly->start(m_options.ShowWindowAfterMs);
    m_copy->Load();
    // Start-up goes on whatever happens; the status lines tell what did.
    if (m_awaitingPassword) {
        // The window does not wait for the keyring: it is shown at once, and the read
        // follows with the password.
        m_startUpHeld = true;
        m_showEarly->start(0);
        // A window that is not exposed (shown on another workspace) is not waited for.
        QTimer::singleShot(kFirstFrameWaitMs, this, [this] {
            m_firstFrame = true;
            StartUpReadWhenReady();
        });
    } else {
        m_friends->Start(TFeedRead::StartUp);
    }
}

void TForm1::CreateSecondaryWindows()
{
    CreateSecondaryWindowsOnDemand();
    LoginWindow();
    TwittWindow();
    VersionWindow();
    if (!m_frmBlack) {
        m_frmBlack = new TfrmBlack(this);
        m_frmBlack->hide();
    }
    SettingsWindow();
}

void TForm1::CreateSecondaryWindowsOnDemand()
{
    if (m_secondaryWindowsAllowed)
        return;
    m_secondaryWindowsAllowed = true;
    // The settings dialog fills its controls once, when created: a later first opening
    // must not show the timer switches as the menus have toggled them since.
    m_settingsAtStart = m_state;
}

QDialog* TForm1::LoginWindow()
{
    if (!m_frmLogin && m_secondaryWindowsAllowed)
        m_frmLogin = new TfrmLogin(this, [this] { return m_passwords->Note(); });
    return m_frmLogin;
}

QDialog* TForm1::TwittWindow()
{
    if (!m_frmTwitt && m_secondaryWindowsAllowed) {
        const QString postCopy = m_options.PostCopyFile.isEmpty() ? PostCopyFileBeside(m_options.SettingsFile)
                                                                  : m_options.PostCopyFile;
        auto* twitt = new TfrmTwitt([this] { return Account(); }, postCopy,
                                    [this](const QString& text) { ShowStatus(text); }, this);
        if (m_textLimit)
            twitt->SetTextLimit(*m_textLimit);
        m_frmTwitt = twitt;
    }
    return m_frmTwitt;
}

QDialog* TForm1::VersionWindow()
{
    if (!m_frmVersion && m_secondaryWindowsAllowed)
        m_frmVersion = new TfrmVersion(this);
    return m_frmVersion;
}

QDialog* TForm1::SettingsWindow()
{
    if (!m_frmSettings && m_secondaryWindowsAllowed) {
        auto* settings = new TfrmSettings(TTimerChoices::Of(m_settingsAtStart), this);
        connect(settings, &QDialog::accepted, this, [this, settings] { ApplyTimerChoices(settings->Chosen()); });
        m_frmSettings = settings;
    }
    return m_frmSettings;
}

void TForm1::ApplyIntervals()
{
    // A file in which the user never chose intervals keeps the program's own pace.
    if (!m_state.IntervalsChosen)
        return;
    const int reloadMs = kReloadRange.Clamp(m_state.ReloadInterval) * 1000;
    const int rotationMs = kRotationRange.Clamp(m_state.RotationInterval) * 1000;
    // A back-off under way keeps its longer wait; the next success brings the new interval.
    m_friends->SetReloadInterval(reloadMs);
    // Setting an interval restarts the countdown: only a changed one is set.
    if (TimerAutoReload->interval() != m_friends->ReloadWaitMs())
        TimerAutoReload->setInterval(int(m_friends->ReloadWaitMs()));
    if (TimerAutoRotation->interval() != rotationMs)
        TimerAutoRotation->setInterval(rotationMs);
}

// ---------------------------------------------------------------------------------------
// Status line and command lock

QString TForm1::StatusText() const
{
    return m_statusPanel->text();
}

void TForm1::ShowStatus(const QString& text)
{
    memoDisplay->appendPlainText(text);
    m_statusPanel->setText(text);
}

void TForm1::EnableCommands(bool enable)
{
    m_commandsLocked = !enable;
    // A read stops both timers; afterwards each is back as the user chose it (the
    // historic unlock started both, switching auto-reload back on after every post).
    SetTimerEnabled(TimerAutoReload, enable && m_state.AutoReload);
    SetTimerEnabled(TimerAutoRotation, enable && m_state.AutoRotation);
    m_strip->Image1->setEnabled(enable);
    ListView1->setEnabled(enable);
    if (m_mentions->HasView())
        m_mentions->View()->setEnabled(enable);
    // The pop-up's compact and widget items are the menu bar's, whose submenu is locked.
    for (TItem item : {mmLogin, mmView, mmReload, mmMore, mmTwitt, mmVersion, pmLogin, pmTwitt, pmMore,
                       pmSimpleMode, mmSuperSimpleMode, mmWidget, pmVersion, pmAutoReload, pmReload, pmClose})
        Item(item)->setEnabled(enable);
}

// ---------------------------------------------------------------------------------------
// List and detail pane

int TForm1::SelectedIndex() const
{
    const QModelIndexList selected = ActiveView()->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TForm1::SelectRow(int row)
{
    // Selection only: the current index (and with it the scroll position) stays put.
    QTreeView* list = ActiveView();
    const QModelIndex index = list->model()->index(row, 0);
    list->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TForm1::ShowSelected()
{
    const int row = SelectedIndex();
    const TTimelineModel* rows = ActiveModel();
    if (row < 0 || row >= rows->Count())
        return;
    const TTimelineStatus& status = rows->At(row);
    const QString id = status.Id;
    qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("strActiveStateId=") + id;
    m_strip->RichEditC->setPlainText(TTimelineModel::DetailText(status));
    m_strip->lblUserName->setText(m_state.Anonymous ? QString() : status.Name);
    m_shown = status;
    m_shownFavorite = status.IsFavorite();
    UpdateTalkItems();
    m_strip->ShowStar(m_shownFavorite);
    if (m_autoShow)
        StartSeenClock(id);
    else
        MarkSeenId(id);
}

void TForm1::ListView1Click()
{
    ShowSelected();
}

void TForm1::ListView1Change()
{
    const int count = ActiveModel()->Count();
    const int index = SelectedIndex();
    // The last row is shown only by a click.
    if (count == 0 || index < 0 || index == count - 1)
        return;
    ShowSelected();
}

void TForm1::mmAnonymousClick()
{
    const bool ticked = Item(mmAnonymous)->isChecked();
    if (ticked) {
        m_strip->lblUserName->hide();
    } else {
        m_strip->lblUserName->show();
        if (const int row = SelectedIndex(); row >= 0)
            m_strip->lblUserName->setText(ActiveModel()->At(row).Name);
    }
    for (QTreeView* list : {ListView1, m_mentions->HasView() ? m_mentions->View() : nullptr}) {
        if (list)
            list->setColumnWidth(0, ticked ? 0 : kNameColumnWidth);
    }
    m_state.Anonymous = ticked;
    SettingsChanged();
}

// ---------------------------------------------------------------------------------------
// Timers

void TForm1::TimerAutoRotationTimer()
{
    const int count = ActiveModel()->Count();
    if (count == 0)
        return;
    // The row leaving the strip may have been on view for its whole interval just now.
    CheckSeenClock();
    const int i = SelectedIndex();
    m_autoShow = true;
    SelectRow(i + 1 < count ? i + 1 : 0);
    m_autoShow = false;
}

// ---------------------------------------------------------------------------------------
// Window events

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!m_closing) {
        m_closing = true;
        // A read still running is called off, and so is a favourite or repeat waiting for
        // its server: nothing outlives the window for long, and nothing reports to it.
        AbandonReads();
        m_talkBack->Abort();
        if (m_copy->SavePending())
            m_copy->SaveNow();
        m_closeSaved = SaveSettingsNow(&m_closeError);
        // A password on its way to the keyring is waited for (each keyring call has its
        // time limit) and the close goes on when it has arrived, so that the file is left
        // without it.
        if (m_closeSaved && m_passwords->Writing()) {
            m_closeAwaitsKeyring = true;
            const auto goOn = [this] {
                if (std::exchange(m_closeAwaitsKeyring, false)) {
                    m_closeSaved = SaveSettingsNow(&m_closeError);
                    close();
                }
            };
            connect(m_passwords, &TPasswordStore::Stored, this, goOn, Qt::SingleShotConnection);
            connect(m_passwords, &TPasswordStore::KeyringUnusable, this, goOn, Qt::SingleShotConnection);
            event->ignore();
            return;
        }
    } else if (m_closeAwaitsKeyring) {
        // Closed again meanwhile: the file keeps the password, and the window goes now.
        m_closeAwaitsKeyring = false;
    }
    if (!m_closeSaved) {
        QMessageBox box(QMessageBox::NoIcon, tr("情報"),
                        tr("設定ファイルに書き込めません: %1\n%2")
                            .arg(QDir::toNativeSeparators(m_options.SettingsFile), m_closeError),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("SettingsErrorBox"));
        box.exec();
    }
    event->accept();
    Q_EMIT Closed();
}

void TForm1::CloseInOrder()
{
    for (int guard = 0; guard < 8; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    close();
}

bool TForm1::SaveSettingsNow(QString* error)
{
    QString why;
    const TSettingsFolder folder
        = m_options.CreateSettingsFolder ? TSettingsFolder::CreateOwnerOnly : TSettingsFolder::MustExist;
    if (m_passwords->Save(m_options.SettingsFile, m_state, m_frame->ToSave(), &why, folder))
        return true;
    qCWarning(lcApp).noquote() << "settings not saved:" << m_options.SettingsFile << why;
    if (error)
        *error = why;
    return false;
}

void TForm1::SettingsChanged()
{
    // The close writes them once more, with the box the user has always seen on failure.
    if (m_closing)
        return;
    QString error;
    if (!SaveSettingsNow(&error))
        ShowStatus(tr("設定ファイルに書き込めません: %1").arg(error));
}

void TForm1::showEvent(QShowEvent* event)
{
    // The first expose is the first frame.
    m_frame->Shown(!m_firstFrame);
    QMainWindow::showEvent(event);
}

void TForm1::changeEvent(QEvent* event)
{
    // Time on view counts only while the window can be seen: it starts again when the
    // window comes back from being minimized.
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && !m_seenCandidate.isEmpty())
        StartSeenClock(m_seenCandidate);
    QMainWindow::changeEvent(event);
}
