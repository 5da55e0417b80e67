#pragma once

#include "http/NetworkOptions.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;
class TFamilyProbe;
class TFediverseSignIn;
struct TFamilyFound;
struct TMainState;
struct TSignedIn;

// The account name and password as the user typed them, and, for an address that speaks
// the fediverse's client API, that server's origin, the token it gave and the program's
// registration there.
struct TLoginCredentials {
    QString AccountName;
    QString Password;
    QString Fediverse = {};     // empty: the XML family
    QString Token = {};
    QString ClientId = {};
    QString ClientSecret = {};

    static TLoginCredentials Of(const TMainState& state);
    // Into the settings; the fediverse's keys only where there is something to say.
    void ApplyTo(TMainState& state) const;
    // Only the registration (Fediverse, ClientId, ClientSecret) into the settings, for a
    // sign-in that did not end well; never over another server's token. True when the
    // settings changed.
    bool KeepRegistrationIn(TMainState& state) const;
};

// The credentials dialog: shows the credentials it was given and hands back what the
// user typed on OK. It neither checks nor saves them; the caller applies them and reads
// the timeline whichever way it ends.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    static constexpr int kProbeDelayMs = 300;

    // passwordNote, asked at every showing: a line about where the password is kept
    // (the keyring could not be used), shown below the buttons when not empty.
    explicit TfrmLogin(QWidget* parent, std::function<QString()> passwordNote = {});

    // What the next showing starts from, and the service address it warns about and asks
    // which family it speaks (over network).
    void SetCurrent(const TLoginCredentials& current, const QString& apiBase, const TNetworkOptions& network = {});
    // Where a line about the address goes (it speaks neither family).
    void SetStatusLine(std::function<void(const QString&)> statusLine) { m_statusLine = std::move(statusLine); }
    // The server refused the token: the next showing says so, in the server's words.
    void SetRefusal(const QString& words);
    // What OK or Enter in the password box took; the current ones until then.
    const TLoginCredentials& Chosen() const { return m_chosen; }
    // The registration made, or dropped as one the server no longer knows, since the
    // dialog was shown, however it ended; nothing when it stayed as it was.
    const std::optional<TLoginCredentials>& Registration() const { return m_registration; }

    QLabel* lblUsername;
    QLineEdit* editUsername;
    QLabel* lblPassword;
    QLineEdit* editPassword;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QLabel* lblPlainWarning;    // shown when the password would travel unencrypted
    QLabel* lblPasswordNote;    // shown when the password stays in the settings file against the choice
    // The fediverse's way in, shown when the address speaks its client API.
    QLabel* lblServer;
    QPushButton* btnAuthorize;  // opens the authorisation page in the browser
    QLabel* lblCode;
    QLineEdit* editCode;        // the code that page shows
    QLabel* lblToken;
    QLineEdit* editToken;       // or a personal access token
    QLabel* lblSignInNote;      // how the sign-in goes, the server's words when it refused

    bool ShowsFediverse() const { return m_fediverse; }

public Q_SLOTS:
    void btnOKClick();
    void btnCancelClick();
    void editPasswordKeyPress();
    void btnAuthorizeClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    void familyFound(const TFamilyFound& found);
    void showFamily(bool fediverse, bool takesPassword);
    void signedIn(const TSignedIn& result);
    void note(const QString& line, bool failure);

    TLoginCredentials m_current;
    QString m_apiBase;
    TNetworkOptions m_network;
    TLoginCredentials m_chosen;
    std::optional<TLoginCredentials> m_registration;
    std::function<QString()> m_passwordNote;
    std::function<void(const QString&)> m_statusLine;
    TFamilyProbe* m_probe;
    QTimer m_probeSoon;
    TFediverseSignIn* m_signIn;
    bool m_fediverse = false;       // the fediverse's way in is shown
    QString m_refusal;              // for the next showing
};
