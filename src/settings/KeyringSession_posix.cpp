#include "settings/KeyringSession.h"

#include <QFileInfo>

QString KeyringUnreachable()
{
#if defined(Q_OS_MACOS)
    return QString();  // the login keychain is always there
#else
    // The Secret Service answers on the D-Bus session bus. Without one, the D-Bus library
    // would try to launch a bus of its own for the X display, and a headless session has
    // no keyring on it anyway.
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return QString();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QString();
    return QStringLiteral("no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is not set)");
#endif
}
