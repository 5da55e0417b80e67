#pragma once

#include "dialogs/ufrmSettings.h"
#include "service/ServiceAccount.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QDialog;
class QWidget;
class TfrmLogin;
class TfrmTwitt;

// The main window's secondary windows (credentials, posting, about, ticker, settings),
// each with its wiring, made when first used, or all five at once in their fixed order.
// Null until the window allows them.
class TSecondaryWindows : public QObject {
    Q_OBJECT
public:
    struct TWiring {
        std::function<QString()> PasswordNote;      // the credentials dialog's note
        std::function<TServiceAccount()> Account;   // the posting dialog's, when it sends
        QString PostCopyFile;
        std::function<void(const QString&)> ShowStatus;
    };
    TSecondaryWindows(QWidget* window, TWiring wiring);

    // From now on each is made at first use. The settings dialog fills its controls once,
    // when made: it shows state as it is now, not as the menus have toggled it since.
    void Allow(const TMainState& state);
    void CreateAll();

    TfrmLogin* Login();
    // The credentials dialog is on screen (it is never made to ask).
    bool LoginShown() const;
    TfrmTwitt* Twitt();
    QDialog* Version();
    TfrmSettings* Settings();

    // The boxes a read may bring up, each closed by its OK. The missing credentials: never
    // entered, or the keyring would not give the password back.
    void MissingCredentialsBox(bool keyringFailed);
    // A failed read-more: its error, ending in a full stop.
    void DefaultErrorBox(const QString& message);

    // The server's text limit and what it counts a link as (where published), for the
    // posting dialog now and when it is made.
    void SetTextLimit(int limit, std::optional<int> linkLength);
    std::optional<int> TextLimit() const { return m_textLimit; }

Q_SIGNALS:
    // The settings dialog closed with OK.
    void TimerChoicesChosen(const TTimerChoices& chosen);

private:
    QWidget* m_window;
    TWiring m_wiring;
    bool m_allowed = false;
    TMainState m_settingsAtStart;
    std::optional<int> m_textLimit;
    std::optional<int> m_linkLength;
    TfrmLogin* m_login = nullptr;
    TfrmTwitt* m_twitt = nullptr;
    QDialog* m_version = nullptr;
    QWidget* m_ticker = nullptr;
    TfrmSettings* m_settings = nullptr;
};
