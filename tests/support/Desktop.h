#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// An X server (Xvfb) and a window manager (openbox) of one test's own, on a display
// number the server picks free. Start() points DISPLAY at it; both are stopped by their
// process ids when it goes, and end with the test process even when that is killed.
class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // False when either cannot be started (not installed, no answer within 30 s).
    bool Start();
    QByteArray display() const { return m_display; }

    // Runs an X tool to its end (at most timeoutMs) and gives its output, both channels.
    static QString Run(const QString& program, const QStringList& args, int timeoutMs = 5000);

private:
    QProcess m_x;
    QProcess m_wm;
    QByteArray m_display;
};
