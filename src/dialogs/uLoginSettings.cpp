#include "dialogs/uLoginSettings.h"

#include "dialogs/DialogCommon.h"
#include "service/FediverseSignIn.h"
#include "service/ServiceAccount.h"
#include "settings/Settings.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmLogin::TfrmLogin(QWidget* parent, std::function<QString()> passwordNote)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
    , m_passwordNote(std::move(passwordNote)), m_probe(new TFamilyProbe(this)), m_signIn(new TFediverseSignIn(this))
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

    lblServer = new QLabel(this);
    lblServer->setObjectName(QStringLiteral("lblServer"));
    lblServer->setWordWrap(true);
    btnAuthorize = new QPushButton(tr("ブラウザで認証ページを開く"), this);
    btnAuthorize->setObjectName(QStringLiteral("btnAuthorize"));
    lblCode = new QLabel(tr("認証コード"), this);
    lblCode->setObjectName(QStringLiteral("lblCode"));
    editCode = new QLineEdit(this);
    editCode->setObjectName(QStringLiteral("editCode"));
    lblToken = new QLabel(tr("トークン"), this);
    lblToken->setObjectName(QStringLiteral("lblToken"));
    editToken = new QLineEdit(this);
    editToken->setObjectName(QStringLiteral("editToken"));
    editToken->setEchoMode(QLineEdit::Password);
    lblSignInNote = new QLabel(this);
    lblSignInNote->setObjectName(QStringLiteral("lblSignInNote"));
    lblSignInNote->setWordWrap(true);
    btnAuthorize->setAutoDefault(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{lblServer, btnAuthorize, lblCode, editCode, lblToken,
                                                           editToken, lblSignInNote})
        widget->hide();

    setTabOrder(btnAuthorize, editCode);
    setTabOrder(editCode, editToken);
    setTabOrder(editToken, editUsername);
    setTabOrder(editUsername, editPassword);
    setTabOrder(editPassword, btnOK);
    setTabOrder(btnOK, btnCancel);

    connect(btnAuthorize, &QPushButton::clicked, this, &TfrmLogin::btnAuthorizeClick);
    connect(editCode, &QLineEdit::returnPressed, this, &TfrmLogin::btnOKClick);
    connect(editToken, &QLineEdit::returnPressed, this, &TfrmLogin::btnOKClick);
    connect(m_probe, &TFamilyProbe::Found, this, &TfrmLogin::familyFound);
    connect(m_signIn, &TFediverseSignIn::Finished, this, &TfrmLogin::signedIn);
    connect(m_signIn, &TFediverseSignIn::ClientChanged, this, [this](const TOAuthClient& client) {
        m_current.ClientId = client.Id;
        m_current.ClientSecret = client.Secret;
        m_registration = TLoginCredentials{{}, {}, OriginOf(m_apiBase), {}, client.Id, client.Secret};
    });
    connect(m_signIn, &TFediverseSignIn::AuthorizationReady, this, [this](const QUrl& page) {
        btnAuthorize->setEnabled(true);
        // The browser the window opens links with.
        QDesktopServices::openUrl(page);
        note(tr("ブラウザでこのプログラムを許可し、表示されたコードを貼り付けてください"), false);
    });

    // The address is asked once the dialog has been open a moment: one answered at once
    // (credentials typed ahead, a cancel) sends nothing.
    m_probeSoon.setSingleShot(true);
    m_probeSoon.setInterval(kProbeDelayMs);
    connect(&m_probeSoon, &QTimer::timeout, this, [this] { m_probe->Start(m_apiBase, m_network); });

    // However the dialog ends, nothing it asked goes on.
    connect(this, &QDialog::finished, this, [this] {
        m_probeSoon.stop();
        m_probe->Abort();
        m_signIn->Abort();
    });

    connect(btnOK, &QPushButton::clicked, this, &TfrmLogin::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmLogin::btnCancelClick);
    connect(editPassword, &QLineEdit::returnPressed, this, &TfrmLogin::editPasswordKeyPress);
}

TLoginCredentials TLoginCredentials::Of(const TMainState& state)
{
    return {state.AccountName, state.Password, state.Fediverse.value_or(QString()),
            state.Token,       state.ClientId.value_or(QString()), state.ClientSecret};
}

void TLoginCredentials::ApplyTo(TMainState& state) const
{
    state.AccountName = AccountName;
    state.Password = Password;
    state.Token = Token;
    state.ClientSecret = ClientSecret;
    if (!Fediverse.isEmpty() || state.Fediverse)
        state.Fediverse = Fediverse;
    if (!ClientId.isEmpty() || state.ClientId)
        state.ClientId = ClientId;
}

bool TLoginCredentials::KeepRegistrationIn(TMainState& state) const
{
    const bool sameServer = state.Fediverse == Fediverse;
    // One server's sign-in is kept at a time: another's token is not given up for this.
    if (Fediverse.isEmpty() || (!sameServer && (ClientId.isEmpty() || !state.Token.isEmpty())))
        return false;
    if (sameServer && state.ClientId.value_or(QString()) == ClientId && state.ClientSecret == ClientSecret)
        return false;
    state.Fediverse = Fediverse;
    state.ClientId = ClientId;
    state.ClientSecret = ClientSecret;
    return true;
}

void TfrmLogin::SetCurrent(const TLoginCredentials& current, const QString& apiBase, const TNetworkOptions& network)
{
    m_current = current;
    m_chosen = current;
    m_apiBase = apiBase;
    m_network = network;
}

void TfrmLogin::SetRefusal(const QString& words)
{
    m_refusal = words.isEmpty() ? tr("サーバーが認証を拒否しました。もう一度サインインしてください")
                                : tr("サーバーが認証を拒否しました: %1").arg(words);
}

void TfrmLogin::FormShow()
{
    editUsername->setText(m_current.AccountName);
    editPassword->setText(m_current.Password);
    editCode->clear();
    editToken->clear();
    m_registration.reset();
    btnOK->setEnabled(true);
    btnAuthorize->setEnabled(true);
    const QString origin = OriginOf(m_apiBase);
    // A server found before shows its own way in at once; asking again tells whether it
    // takes a password too.
    m_fediverse = false;
    showFamily(!origin.isEmpty() && m_current.Fediverse == origin, false);
    const QString refusal = std::exchange(m_refusal, QString());
    note(m_fediverse ? refusal : QString(), true);
    m_probe->Abort();
    if (!m_apiBase.isEmpty())
        m_probeSoon.start();
}

void TfrmLogin::familyFound(const TFamilyFound& found)
{
    if (found.Kind == TFamilyFound::Neither) {
        if (m_statusLine)
            m_statusLine(found.Line);
        return;
    }
    showFamily(found.Kind == TFamilyFound::Fediverse, found.TakesPassword);
    if (m_fediverse)
        lblServer->setText(tr("このアドレスはMastodon形式のAPIのサーバーです (%1)")
                               .arg(found.Software.isEmpty() ? found.ApiBase : found.Software.left(60)));
}

void TfrmLogin::showFamily(bool fediverse, bool takesPassword)
{
    const bool already = std::exchange(m_fediverse, fediverse) && fediverse;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{lblServer, btnAuthorize, lblCode, editCode, lblToken, editToken})
        widget->setVisible(fediverse);
    if (!fediverse) {
        lblSignInNote->hide();
        for (QWidget* widget : std::initializer_list<QWidget*>{lblUsername, editUsername, lblPassword, editPassword})
            widget->show();
        lblUsername->setGeometry(16, 14, 60, 14);
        editUsername->setGeometry(80, 10, 129, 21);
        lblPassword->setGeometry(16, 46, 60, 14);
        editPassword->setGeometry(80, 42, 129, 21);
        btnOK->setGeometry(24, 80, 81, 33);
        btnCancel->setGeometry(120, 80, 81, 33);
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
        return;
    }
    // The fediverse: the authorisation page and its code, or a token, or (where the
    // server takes them) the account and password.
    lblPlainWarning->hide();
    lblServer->setText(tr("このアドレスはMastodon形式のAPIのサーバーです (%1)").arg(OriginOf(m_apiBase)));
    lblServer->setGeometry(12, 8, 296, 30);
    btnAuthorize->setGeometry(12, 42, 296, 27);
    lblCode->setGeometry(12, 82, 88, 14);
    editCode->setGeometry(104, 78, 204, 21);
    lblToken->setGeometry(12, 110, 88, 14);
    editToken->setGeometry(104, 106, 204, 21);
    int y = 134;
    for (QWidget* widget : std::initializer_list<QWidget*>{lblUsername, editUsername, lblPassword, editPassword})
        widget->setVisible(takesPassword);
    if (takesPassword) {
        lblUsername->setGeometry(12, y + 4, 88, 14);
        editUsername->setGeometry(104, y, 204, 21);
        lblPassword->setGeometry(12, y + 32, 88, 14);
        editPassword->setGeometry(104, y + 28, 204, 21);
        y += 56;
    }
    lblSignInNote->setGeometry(12, y, 296, 44);
    y += 48;
    const QString keyring = m_passwordNote ? m_passwordNote() : QString();
    lblPasswordNote->setText(keyring);
    lblPasswordNote->setVisible(!keyring.isEmpty());
    if (!keyring.isEmpty()) {
        lblPasswordNote->setGeometry(12, y, 296, 44);
        y += 48;
    }
    btnOK->setGeometry(72, y, 81, 33);
    btnCancel->setGeometry(168, y, 81, 33);
    setFixedSize(320, y + 45);
    // The same server found again: a sign-in under way goes on.
    if (already)
        return;
    m_signIn->SetServer(OriginOf(m_apiBase), m_network,
                        m_current.Fediverse == OriginOf(m_apiBase)
                            ? TOAuthClient{m_current.ClientId, m_current.ClientSecret}
                            : TOAuthClient{});
}

void TfrmLogin::note(const QString& line, bool failure)
{
    lblSignInNote->setText(line);
    lblSignInNote->setStyleSheet(failure ? QStringLiteral("color: #b00000;") : QString());
    lblSignInNote->setVisible(!line.isEmpty());
}

void TfrmLogin::btnAuthorizeClick()
{
    btnAuthorize->setEnabled(false);
    note(tr("認証ページを用意しています..."), false);
    m_signIn->StartAuthorization();
}

void TfrmLogin::signedIn(const TSignedIn& result)
{
    btnOK->setEnabled(true);
    btnAuthorize->setEnabled(true);
    // A registration made on the way is kept for the next try.
    m_current.ClientId = result.Client.Id;
    m_current.ClientSecret = result.Client.Secret;
    if (!result.Ok) {
        note(result.Line, true);
        return;
    }
    m_chosen = {result.AccountName, result.Password, OriginOf(m_apiBase), result.Token, result.Client.Id,
                result.Client.Secret};
    accept();
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
    if (!m_fediverse) {
        m_chosen = m_current;
        m_chosen.AccountName = editUsername->text();
        m_chosen.Password = editPassword->text();
        // This address speaks the XML interface now, whatever was found here before.
        if (!m_chosen.Fediverse.isEmpty() && m_chosen.Fediverse == OriginOf(m_apiBase)) {
            m_chosen.Fediverse.clear();
            m_chosen.Token.clear();
        }
        accept();
        return;
    }
    if (m_signIn->Busy())
        return;
    btnOK->setEnabled(false);
    note(tr("サーバーに確認しています..."), false);
    if (!editCode->text().trimmed().isEmpty())
        m_signIn->ExchangeCode(editCode->text());
    else if (!editToken->text().trimmed().isEmpty())
        m_signIn->UseToken(editToken->text());
    else
        m_signIn->UsePassword(editUsername->isHidden() ? QString() : editUsername->text(),
                              editUsername->isHidden() ? QString() : editPassword->text());
}

void TfrmLogin::btnCancelClick()
{
    reject();
}

void TfrmLogin::editPasswordKeyPress()
{
    btnOKClick();
}
