#include "app/WindowClose.h"

#include "app/Application.h"
#include "settings/PasswordStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QWidget>

TWindowClose::TWindowClose(QWidget* window, TWiring wiring)
    : QObject(window), m_window(window), m_wiring(std::move(wiring))
{
}

bool TWindowClose::Close(bool first)
{
    if (first) {
        m_wiring.CallOff();
        m_saved = m_wiring.Save(&m_error);
        // A password on its way to the keyring is waited for (each keyring call has its
        // time limit) and the close goes on when it has arrived, so that the file is left
        // without it.
        if (m_saved && m_wiring.Passwords->Writing()) {
            m_awaitsKeyring = true;
            const auto goOn = [this] {
                if (std::exchange(m_awaitsKeyring, false)) {
                    m_saved = m_wiring.Save(&m_error);
                    m_window->close();
                }
            };
            connect(m_wiring.Passwords, &TPasswordStore::Stored, this, goOn, Qt::SingleShotConnection);
            connect(m_wiring.Passwords, &TPasswordStore::KeyringUnusable, this, goOn, Qt::SingleShotConnection);
            // The user is done with the window: it goes from the screen now, and the
            // wait goes on behind it.
            m_window->hide();
            return false;
        }
    } else if (m_awaitsKeyring) {
        // Closed again meanwhile: the file keeps the password, and the window goes now.
        m_awaitsKeyring = false;
    }
    // Asked to end by the system, nobody may be there to answer: the warning line says it.
    if (!m_saved && !m_unattended) {
        QMessageBox box(QMessageBox::NoIcon, QCoreApplication::translate("TForm1", "情報"),
                        QCoreApplication::translate("TForm1", "設定ファイルに書き込めません: %1\n%2")
                            .arg(QDir::toNativeSeparators(m_wiring.SettingsFile), m_error),
                        QMessageBox::Ok, m_window);
        box.setObjectName(QStringLiteral("SettingsErrorBox"));
        m_boxUp = true;
        box.exec();
        m_boxUp = false;
    }
    return true;
}

void TWindowClose::CloseUnattended()
{
    m_unattended = true;
    EndModalWindows();
    // The close's own box, ended above, lets that close go on.
    if (!m_boxUp)
        m_window->close();
}
