#include "dialogs/uLoginSettings.h"

#include "dialogs/DialogCommon.h"
#include "service/ServiceAccount.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmLogin::TfrmLogin(QWidget* parent, std::function<QString()> passwordNote)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
    , m_passwordNote(std::move(passwordNote))
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(tr("ログイン情報"));
    setFont(UiFont(12));
    setFixedSize(224, 127);

    lblUsername = new QLabel(tr("ユーザ名"), this);
    lblUsername->setObjectName(QStringLiteral("lblUsername"));
    lblUsername->setGeometry(16, 14, 60, 14);
    editUsername = new QLineEdit(this);
    editUsername->setObjectName(QStringLiteral("editUsername"));
    editUsername->setGeometry(80, 10, 129, 21);

    lblPassword = new QLabel(tr("パスワード"), this);
    lblPassword->setObjectName(QStringLiteral("lblPassword"));
    lblPassword->setGeometry(16, 46, 60, 14);
    editPassword = new QLineEdit(this);
    editPassword->setObjectName(QStringLiteral("editPassword"));
    editPassword->setGeometry(80, 42, 129, 21);
    editPassword->setEchoMode(QLineEdit::Password);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(24, 80, 81, 33);
    btnCancel = new QPushButton(tr("キャンセル"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(120, 80, 81, 33);
    // Neither button is the default: Enter and Escape mean nothing of themselves.
    for (QPushButton* button : {btnOK, btnCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    lblPlainWarning = new QLabel(tr("このアドレスは http:// です。パスワードは暗号化されずに送られます。"
                                                "https:// のアドレスをお使いください。"), this);
    lblPlainWarning->setObjectName(QStringLiteral("lblPlainWarning"));
    lblPlainWarning->setGeometry(12, 120, 200, 44);
    lblPlainWarning->setWordWrap(true);
    lblPlainWarning->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblPlainWarning->hide();

    lblPasswordNote = new QLabel(this);
    lblPasswordNote->setObjectName(QStringLiteral("lblPasswordNote"));
    lblPasswordNote->setWordWrap(true);
    lblPasswordNote->hide();

    setTabOrder(editUsername, editPassword);
    setTabOrder(editPassword, btnOK);
    setTabOrder(btnOK, btnCancel);

    connect(btnOK, &QPushButton::clicked, this, &TfrmLogin::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmLogin::btnCancelClick);
    connect(editPassword, &QLineEdit::returnPressed, this, &TfrmLogin::editPasswordKeyPress);
}

void TfrmLogin::SetCurrent(const TLoginCredentials& current, const QString& apiBase)
{
    m_current = current;
    m_chosen = current;
    m_apiBase = apiBase;
}

void TfrmLogin::FormShow()
{
    editUsername->setText(m_current.AccountName);
    editPassword->setText(m_current.Password);
    // A line below the buttons when the password would cross the network readable, and
    // one when it stays in the settings file because the keyring failed.
    int height = 127;
    const bool warn = SendsPasswordInTheClear(m_apiBase);
    lblPlainWarning->setVisible(warn);
    if (warn)
        height += 43;
    const QString note = m_passwordNote ? m_passwordNote() : QString();
    lblPasswordNote->setText(note);
    lblPasswordNote->setVisible(!note.isEmpty());
    if (!note.isEmpty()) {
        lblPasswordNote->setGeometry(12, height - 7, 200, 44);
        height += 43;
    }
    setFixedSize(224, height);
}

void TfrmLogin::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TfrmLogin::keyPressEvent(QKeyEvent* event)
{
    // Escape does not close the dialog and Enter presses no button.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TfrmLogin::btnOKClick()
{
    m_chosen = {editUsername->text(), editPassword->text()};
    accept();
}

void TfrmLogin::btnCancelClick()
{
    reject();
}

void TfrmLogin::editPasswordKeyPress()
{
    btnOKClick();
}
