#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The account name and password as the user typed them.
struct TLoginCredentials {
    QString AccountName;
    QString Password;
};

// The credentials dialog: shows the credentials it was given and hands back what the
// user typed on OK. It neither checks nor saves them; the caller applies them and reads
// the timeline whichever way it ends.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    // passwordNote, asked at every showing: a line about where the password is kept
    // (the keyring could not be used), shown below the buttons when not empty.
    explicit TfrmLogin(QWidget* parent, std::function<QString()> passwordNote = {});

    // What the next showing starts from, and the service address it warns about.
    void SetCurrent(const TLoginCredentials& current, const QString& apiBase);
    // What OK or Enter in the password box took; the current ones until then.
    const TLoginCredentials& Chosen() const { return m_chosen; }

    QLabel* lblUsername;
    QLineEdit* editUsername;
    QLabel* lblPassword;
    QLineEdit* editPassword;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QLabel* lblPlainWarning;    // shown when the password would travel unencrypted
    QLabel* lblPasswordNote;    // shown when the password stays in the settings file against the choice

public Q_SLOTS:
    void btnOKClick();
    void btnCancelClick();
    void editPasswordKeyPress();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();

    TLoginCredentials m_current;
    QString m_apiBase;
    TLoginCredentials m_chosen;
    std::function<QString()> m_passwordNote;
};
