#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;
class TPasswordStore;

// How the main window ends: what runs is called off, the settings are written, a password
// on its way to the keyring is waited for behind the hidden window, and a settings file
// that cannot be written is said in a box, unless the system asked to end and nobody may
// be there to answer it.
class TWindowClose : public QObject {
    Q_OBJECT
public:
    struct TWiring {
        std::function<void()> CallOff;          // reads, requests, the offline copy's last write
        std::function<bool(QString*)> Save;     // the settings file; false with why
        TPasswordStore* Passwords = nullptr;
        QString SettingsFile;                   // named in the box
    };
    TWindowClose(QWidget* window, TWiring wiring);

    // The window's close event came: whether the window may go now. Otherwise it is hidden
    // and closed again once the keyring has answered.
    bool Close(bool first);
    // The system asked to end: any box ends, and the window closes without one of its own.
    void CloseUnattended();

private:
    QWidget* m_window;
    TWiring m_wiring;
    bool m_awaitsKeyring = false;
    bool m_saved = true;
    bool m_unattended = false;
    bool m_boxUp = false;       // the close shows why the settings were not written
    QString m_error;
};
