#include "app/SingleInstance.h"

#include "text/Logging.h"

#include <QCryptographicHash>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QWidget>

namespace {

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kPath = QStringLiteral("/Window");
const QString kInterface = QStringLiteral("org.brimlark.Simple.Window");
// The bus answers at once; a run that is still building its window answers within this.
constexpr int kAskBusMs = 1000;
constexpr int kAskRunMs = 5000;
// RequestName: fail at once when the name is taken, and the answer that says we have it.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;

// The file's own path with every link resolved; for a file not written yet, its
// folder's, or the cleaned absolute path when that folder is missing too.
QString CanonicalPath(const QString& file)
{
    const QFileInfo info(file);
    if (const QString path = info.canonicalFilePath(); !path.isEmpty())
        return path;
    if (const QString folder = info.absoluteDir().canonicalPath(); !folder.isEmpty())
        return folder + u'/' + info.fileName();
    return QDir::cleanPath(info.absoluteFilePath());
}

QDBusConnection SessionBusIfKnown()
{
    // No address: the bus library would try to start a bus of its own.
    return TSingleInstance::SessionBusKnown() ? QDBusConnection::sessionBus() : QDBusConnection(QString());
}

} // namespace

TSingleInstance::TSingleInstance(const QString& settingsFile, QObject* parent)
    : TSingleInstance(SessionBusIfKnown(), settingsFile, parent)
{
}

TSingleInstance::TSingleInstance(const QDBusConnection& bus, const QString& settingsFile, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_settingsFile(settingsFile)
{
}

TSingleInstance::~TSingleInstance()
{
    if (!m_held)
        return;
    m_bus.unregisterObject(kPath);
    // A start right after this one ends takes the name without waiting for the exit.
    m_bus.send(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("ReleaseName"))
               << m_name);
}

bool TSingleInstance::SessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QString TSingleInstance::ServiceName(const QString& settingsFile)
{
    const QByteArray digest = QCryptographicHash::hash(CanonicalPath(settingsFile).toUtf8(), QCryptographicHash::Sha1);
    // A bus name's element may not start with a digit.
    return QStringLiteral("org.brimlark.Simple.f") + QString::fromLatin1(digest.toHex());
}

bool TSingleInstance::Claim()
{
    if (!m_bus.isConnected())
        return true;
    m_name = ServiceName(m_settingsFile);
    // The object first, so whoever finds the name finds the window behind it.
    if (!m_bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots)) {
        qCWarning(lcApp).noquote() << "the window cannot be offered on the session bus:" << m_bus.lastError().message();
        return true;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("RequestName"));
    request << m_name << kDoNotQueue;
    const QDBusMessage granted = m_bus.call(request, QDBus::Block, kAskBusMs);
    if (granted.type() == QDBusMessage::ReplyMessage && granted.arguments().value(0).toUInt() == kPrimaryOwner) {
        m_held = true;
        return true;
    }
    m_bus.unregisterObject(kPath);
    if (granted.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcApp).noquote() << "the session bus did not answer:" << granted.errorMessage();
        return true;
    }
    const QDBusMessage raised = m_bus.call(QDBusMessage::createMethodCall(m_name, kPath, kInterface, QStringLiteral("Raise")),
                                           QDBus::Block, kAskRunMs);
    if (raised.type() == QDBusMessage::ReplyMessage) {
        qCInfo(lcApp).noquote() << "this settings file is in use by a running window; it was brought to the front";
        return false;
    }
    qCWarning(lcApp).noquote() << "the window that uses this settings file did not answer; starting anyway:"
                               << raised.errorMessage();
    return true;
}

void TSingleInstance::Raise()
{
    qCInfo(lcApp) << "another start with this settings file: to the front";
    if (!m_window || !m_window->isVisible())
        return;
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
}
