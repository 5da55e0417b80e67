#include "app/frmMain.h"

#include "app/Application.h"
#include "app/FirstFrame.h"
#include "app/MentionsTab.h"
#include "app/RichEditC.h"
#include "app/SecondaryWindows.h"
#include "app/SeenClock.h"
#include "app/ShownStatus.h"
#include "app/StatusLine.h"
#include "app/StatusLists.h"
#include "app/Strip.h"
#include "app/WindowClose.h"
#include "app/WindowFrame.h"
#include "app/WindowTimers.h"
#include "dialogs/DialogCommon.h"
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"
#include "settings/PasswordStore.h"
#include "text/Logging.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLoggingCategory>
#include <QLabel>
#include <QTimer>
#include <QWindow>

using namespace commands;

TForm1::TForm1(const TForm1Options& options, QWidget* parent)
    : QMainWindow(parent), m_options(options)
{
    RegisterJapaneseFontSubstitutes();
    ReadSettings();
    m_windows = new TSecondaryWindows(
        this, {[this] { return m_passwords->Note(); }, [this] { return Account(); },
               m_options.PostCopyPath(), [this](const QString& text) { ShowStatus(text); }});
    connect(m_windows, &TSecondaryWindows::TimerChoicesChosen, this, &TForm1::ApplyTimerChoices);
    TTimelineReader* reader = m_options.Reader ? m_options.Reader : new TTimelineReader;
    // The first page is asked for before the controls are built, so the server's answer
    // and the building of the window overlap; the start-up read below takes it.
    if (!m_options.Reader && m_apiError.isEmpty() && m_state.HasCredentials())
        reader->Prefetch(Account(), 1, m_options.Bounds);
    // The offline copy is read beside, too.
    BuildFeeds(reader);
    BuildControls();
    BuildMenus();
    m_shownStatus = new TShownStatus(
        this, m_strip, m_menus,
        {[this] { return Account(); }, [this](const TTimelineStatus& status) { return IsOwnStatus(status); },
         [this](const QString& text) { ShowStatus(text); },
         [this](const QString& id) {
             m_timeline->SetFavorite(id);
             m_lists->Mentions()->Model()->SetFavorite(id);
         }});
    m_close = new TWindowClose(this, {[this] {
                                          // A read still running is called off, and so is a favourite or
                                          // repeat waiting for its server: nothing reports to a closed window.
                                          AbandonReads();
                                          m_shownStatus->Abort();
                                          if (m_copy->SavePending())
                                              m_copy->SaveNow();
                                      },
                                      [this](QString* error) { return SaveSettingsNow(error); }, m_passwords,
                                      m_options.SettingsFile});
    FormCreate();
}

TForm1::~TForm1() = default;

TServiceAccount TForm1::Account() const
{
    return AccountOf(m_state, m_network);
}

void TForm1::StartFirstRead(TForm1Options& options, const TMainState& state)
{
    options.Settings = state;
    const TServiceEndpoint service = ResolveServiceEndpoint(options.Arguments, state);
    if (!service.Error.isEmpty() || !state.HasCredentials())
        return;
    options.Reader = new TTimelineReader;
    TMainState resolved = state;
    resolved.ApiBase = service.ApiBase;
    options.Reader->Prefetch(AccountOf(resolved, service.Network), 1, options.Bounds);
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
    connect(m_passwords, &TPasswordStore::SecretsRead, this, [this](const QString& token, const QString& secret) {
        if (m_state.Token.isEmpty())
            m_state.Token = token;
        if (m_state.ClientSecret.isEmpty())
            m_state.ClientSecret = secret;
    });
    connect(m_passwords, &TPasswordStore::PasswordRead, this, [this](const QString& password) {
        m_state.Password = password;
        m_awaitingPassword = false;
        m_keyringFailed = !m_passwords->UsesKeyring();
        StartUpReadWhenReady();
    });
    m_awaitingPassword = m_passwords->StartRead(m_state);
}

void TForm1::FormCreate()
{
    // Timers run from the moment the window exists.
    m_timers->ApplyIntervals(m_state, m_friends);
    m_timers->Reload()->start();
    m_timers->Rotation()->start();

    LayoutClient();
    m_strip->RichEditC->SetAutoUrlDetect(true);

    TMainState defaults;
    SetDefaultSettings(defaults);
    m_frame->Restore(QRect(m_state.WindowLeft, m_state.WindowTop, m_state.WindowWidth, m_state.WindowHeight),
                     QSize(defaults.WindowWidth, defaults.WindowHeight));
    // Without stored bounds the list mode's own height applies, as for a fresh start.
    m_listHeightDue = !m_state.FrameStored;
    if (m_state.TopMost)
        m_frame->ApplyFlags(windowFlags() | Qt::WindowStaysOnTopHint);

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
        m_firstFrame->Then([this] { StartUpReadWhenReady(); });
    } else {
        m_friends->Start(TFeedRead::StartUp);
    }
}

std::optional<int> TForm1::TextLimit() const
{
    return m_windows->TextLimit();
}

void TForm1::CreateSecondaryWindows()
{
    CreateSecondaryWindowsOnDemand();
    m_windows->CreateAll();
}

void TForm1::CreateSecondaryWindowsOnDemand()
{
    m_windows->Allow(m_state);
}

QString TForm1::StatusText() const
{
    return m_statusLine->Text();
}

void TForm1::ShowStatus(const QString& text)
{
    m_statusLine->Show(text);
}

void TForm1::EnableCommands(bool enable)
{
    m_commandsLocked = !enable;
    // A read stops both timers; afterwards each is back as the user chose it (the
    // historic unlock started both, switching auto-reload back on after every post).
    m_timers->Follow(m_state, !enable);
    m_strip->Image1->setEnabled(enable);
    m_lists->SetEnabled(enable);
    m_menus->SetEnabled(enable);
}

void TForm1::ShowSelected()
{
    const int row = m_lists->SelectedIndex();
    const TTimelineModel* rows = m_lists->ActiveModel();
    if (row < 0 || row >= rows->Count())
        return;
    const TTimelineStatus& status = rows->At(row);
    m_shownStatus->Show(status, m_state.Anonymous);
    m_seenClock->Shown(status.Id, m_autoShow);
}

void TForm1::ListView1Click()
{
    ShowSelected();
}

void TForm1::ListView1Change()
{
    const int count = m_lists->ActiveModel()->Count();
    const int index = m_lists->SelectedIndex();
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
        if (const int row = m_lists->SelectedIndex(); row >= 0)
            m_strip->lblUserName->setText(m_lists->ActiveModel()->At(row).Name);
    }
    m_lists->SetNamesHidden(ticked);
    m_state.Anonymous = ticked;
    SettingsChanged();
}

void TForm1::TimerAutoRotationTimer()
{
    const int count = m_lists->ActiveModel()->Count();
    if (count == 0)
        return;
    m_seenClock->Check();
    const int i = m_lists->SelectedIndex();
    m_autoShow = true;
    m_lists->SelectRow(i + 1 < count ? i + 1 : 0);
    m_autoShow = false;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!m_close->Close(!std::exchange(m_closing, true))) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT Closed();
}

void TForm1::CloseInOrder()
{
    m_close->CloseUnattended();
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
    m_frame->Shown(!m_firstFrame->Painted());
    QMainWindow::showEvent(event);
}

void TForm1::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange)
        m_seenClock->WindowStateChanged();
    QMainWindow::changeEvent(event);
}
