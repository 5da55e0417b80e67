#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// One running window per settings file, so two runs never overwrite each other's
// choices. The first run with a file holds a name on the session bus derived from the
// file's canonical path; a second run with the same file asks the first to bring its
// window to the front and ends. Another settings file is another name. Without a
// session bus every run goes on as if alone.
class TSingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.brimlark.Simple.Window")
public:
    explicit TSingleInstance(const QString& settingsFile, QObject* parent = nullptr);
    TSingleInstance(const QDBusConnection& bus, const QString& settingsFile, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Takes the name for this run. False when another run holds it and has been asked to
    // raise its window: this run should end. True otherwise, also with no bus, or when
    // the holder did not answer (this run then goes on without the name).
    bool Claim();
    // The window Raise brings to the front once it is shown.
    void SetWindow(QWidget* window) { m_window = window; }

    // The bus name for a settings file; the same for every path that leads to it.
    static QString ServiceName(const QString& settingsFile);
    // The session bus's address is known: the environment's, or the user's runtime socket.
    static bool SessionBusKnown();

public Q_SLOTS:
    // Asked over the bus by a second run. A window not shown yet shows by itself.
    Q_SCRIPTABLE void Raise();

private:
    QDBusConnection m_bus;
    QString m_settingsFile;
    QString m_name;     // the bus name, once a bus is there
    QPointer<QWidget> m_window;
    bool m_held = false;
};
