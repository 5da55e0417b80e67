#include "app/SecondaryWindows.h"

#include "dialogs/uFrmBlack.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "dialogs/uVersion.h"
#include "text/Logging.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMessageBox>

TSecondaryWindows::TSecondaryWindows(QWidget* window, TWiring wiring)
    : QObject(window), m_window(window), m_wiring(std::move(wiring))
{
}

void TSecondaryWindows::MissingCredentialsBox(bool keyringFailed)
{
    const QString text = keyringFailed
                             ? QCoreApplication::translate("TForm1", "キーリングがロックされているか使えないため、パスワードを読み出せませんでした。\n"
                                  "ログインボタンからご入力下さい")
                             : QCoreApplication::translate("TForm1", "ユーザ名とパスワードが入力されていませんので、\n"
                                  "ログインボタンからご入力下さい");
    qCDebug(lcApp) << "no credentials: a box asks for them";
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brimlark"), text, QMessageBox::Ok, m_window);
    box.setObjectName(QStringLiteral("MissingCredentialsBox"));
    box.exec();
}

void TSecondaryWindows::DefaultErrorBox(const QString& message)
{
    QString text = message;
    if (!text.endsWith(u'.') && !text.endsWith(u'。'))
        text += u'.';
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Brimlark_Simple"), text, QMessageBox::Ok, m_window);
    box.setObjectName(QStringLiteral("DefaultErrorBox"));
    box.exec();
}

void TSecondaryWindows::Allow(const TMainState& state)
{
    if (std::exchange(m_allowed, true))
        return;
    m_settingsAtStart = state;
}

void TSecondaryWindows::CreateAll()
{
    Login();
    Twitt();
    Version();
    if (!m_ticker && m_allowed) {
        m_ticker = new TfrmBlack(m_window);
        m_ticker->hide();
    }
    Settings();
}

bool TSecondaryWindows::LoginShown() const
{
    return m_login && m_login->isVisible();
}

TfrmLogin* TSecondaryWindows::Login()
{
    if (!m_login && m_allowed) {
        m_login = new TfrmLogin(m_window, m_wiring.PasswordNote);
        m_login->SetStatusLine(m_wiring.ShowStatus);
    }
    return m_login;
}

TfrmTwitt* TSecondaryWindows::Twitt()
{
    if (!m_twitt && m_allowed) {
        m_twitt = new TfrmTwitt(m_wiring.Account, m_wiring.PostCopyFile, m_wiring.ShowStatus, m_window);
        if (m_textLimit)
            m_twitt->SetTextLimit(*m_textLimit, m_linkLength);
    }
    return m_twitt;
}

QDialog* TSecondaryWindows::Version()
{
    if (!m_version && m_allowed)
        m_version = new TfrmVersion(m_window);
    return m_version;
}

TfrmSettings* TSecondaryWindows::Settings()
{
    if (!m_settings && m_allowed) {
        m_settings = new TfrmSettings(TTimerChoices::Of(m_settingsAtStart), m_window);
        connect(m_settings, &QDialog::accepted, this, [this] { Q_EMIT TimerChoicesChosen(m_settings->Chosen()); });
    }
    return m_settings;
}

void TSecondaryWindows::SetTextLimit(int limit, std::optional<int> linkLength)
{
    m_textLimit = limit;
    m_linkLength = linkLength;
    if (m_twitt)
        m_twitt->SetTextLimit(limit, linkLength);
}
