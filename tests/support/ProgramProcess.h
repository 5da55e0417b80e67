#pragma once
// The real program started as its own process, the way a desktop or a service manager
// starts it, then watched through its output and ended by a signal or by itself.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A settings file's whole text with the demo account (demo / demo, scrambled).
inline constexpr char kDemoAccountSettings[] = "[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n";
// Writes a settings file (and its folder); whether all of it was written.
bool WriteSettingsFile(const QString& path, const QByteArray& text = kDemoAccountSettings);

class ProgramProcess {
public:
    struct Options {
        QString executable;  // empty: the built program ($BRIMLARK_EXE)
        QString platform = QStringLiteral("offscreen");
        // Where it keeps its offline copy; empty: the environment's.
        QString cacheHome;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    };

    // The built program; empty when the tests were started without it.
    static QString BuiltExecutable() { return qEnvironmentVariable("BRIMLARK_EXE"); }

    // Starts it with arguments; standard output and error are read together.
    // BRIMLARK_API is removed, so only the arguments or the settings choose the service.
    ProgramProcess(const QStringList& arguments, Options options);
    explicit ProgramProcess(const QStringList& arguments) : ProgramProcess(arguments, Options{}) {}
    ~ProgramProcess();  // killed if still running
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    // Reads its output until it holds text or the program ends; whether text came.
    bool WaitForOutput(const QByteArray& text, int timeoutMs = 20000);
    // Sends the signal and waits for the end; whether it ended within timeoutMs.
    bool EndBy(int signal, int timeoutMs = 10000);
    // Waits for it to end by itself: its exit code, -2 after a crash, or -1 when it was
    // still running after timeoutMs and has been killed.
    int Finish(int timeoutMs = 30000);
    // Ended by itself or by a handled signal, with 0.
    bool ExitedCleanly() const;
    // Everything it has written so far.
    const QByteArray& Output();
    qint64 ProcessId() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_output;
};
