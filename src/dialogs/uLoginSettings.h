#pragma once

#include "settings/Settings.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The credentials dialog: edits the main window's account name and password in place.
// It neither checks nor saves them; the caller reads the timeline whichever way it ends.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    // passwordNote, asked at every showing: a line about where the password is kept
    // (the keyring could not be used), shown below the buttons when not empty.
    TfrmLogin(TMainState& state, QWidget* parent, std::function<QString()> passwordNote = {});

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

    TMainState& m_state;
    std::function<QString()> m_passwordNote;
};
