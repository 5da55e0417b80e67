#pragma once

#include <QObject>

class QSocketNotifier;

// The requests to end that the system sends a program (on POSIX: SIGTERM from a logout or
// a service manager, SIGINT from Ctrl+C, SIGHUP when the terminal goes), delivered on the
// event loop as Requested() so the window can close in order and save. One
// implementation per platform.
class TQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit TQuitSignals(QObject* parent = nullptr);
    ~TQuitSignals() override;

    // A request came, perhaps before anyone listened (while the window was being built).
    bool Received() const { return m_received; }

Q_SIGNALS:
    void Requested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_received = false;
};
