#include "app/Application.h"
#include "app/frmMain.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "service/TimelineReader.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: brimlark [options]\n"
    "A desktop client for the friends timeline of one account.\n"
    "\n"
    "Options:\n"
    "  --help             Show this help and exit.\n"
    "  --version          Show the version and exit.\n"
    "  --api URL          Base address of the service, http:// or https:// (default\n"
    "                     http://twitter.com; also BRIMLARK_API or the key API in the\n"
    "                     settings file).\n"
    "  --ca-file PATH     Also trust the certificates in this PEM file, for a server\n"
    "                     with its own authority (also BRIMLARK_CA_FILE or the key\n"
    "                     CAFile). Proxies: https_proxy, http_proxy, no_proxy, or\n"
    "                     the key Proxy (an address, or none).\n"
    "  --lang LANG        Language of the windows: ja (the default, whatever the\n"
    "                     locale) or en (also BRIMLARK_LANG or the key Language).\n"
    "  --settings FILE    Read and save the settings in FILE. Default: brimlark.ini\n"
    "                     beside the program when it exists, else\n"
    "                     $XDG_CONFIG_HOME/brimlark/brimlark.ini (~/.config/...).\n"
    "                     A second start with the same file brings the running\n"
    "                     window to the front and ends.\n"
    "  --screenshot FILE  Start up, save a PNG picture of the main window to FILE\n"
    "                     and exit.\n"
    "  --verbose          Write the diagnostic lines (addresses, status ids) and each\n"
    "                     layer's details to standard error (also QT_LOGGING_RULES).\n";

struct TCommandLine {
    bool Help = false;
    bool Version = false;
    bool Verbose = false;
    QString Screenshot;
    QString SettingsFile;
    QString Error;
};

// "--name VALUE" or "--name=VALUE". True when argv[*i] is the option; *value is null
// when the value is missing. Moves *i past a separate value.
bool OptionValue(int argc, char* argv[], int* i, const char* name, QString* value)
{
    const char* arg = argv[*i];
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0)
        return false;
    if (arg[n] == '=') {
        *value = QString::fromLocal8Bit(arg + n + 1);
        return true;
    }
    if (arg[n] != '\0')
        return false;
    if (*i + 1 < argc) {
        *value = QString::fromLocal8Bit(argv[++*i]);
    } else {
        *value = QString();
    }
    return true;
}

// Parsed before the application object exists, so --help works without a display.
TCommandLine ParseCommandLine(int argc, char* argv[])
{
    TCommandLine cl;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        QString value;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            cl.Help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            cl.Version = true;
        } else if (std::strcmp(arg, "--verbose") == 0) {
            cl.Verbose = true;
        } else if (OptionValue(argc, argv, &i, "--api", &value)) {
            if (value.isNull()) {
                cl.Error = QStringLiteral("--api needs a value");
                return cl;
            }
            // The window reads --api itself; a bad address is refused here, before start-up,
            // by the same check the other two sources get.
            const QString why = CheckServiceAddress(value);
            if (!why.isEmpty()) {
                cl.Error = QStringLiteral("--api \"%1\": %2").arg(value, why);
                return cl;
            }
        } else if (OptionValue(argc, argv, &i, "--ca-file", &value)) {
            // The window reads it itself; a file that cannot be read is refused here.
            if (value.isEmpty() || !QFileInfo(value).isReadable() || !QFileInfo(value).isFile()) {
                cl.Error = QStringLiteral("--ca-file \"%1\": not a readable file").arg(value);
                return cl;
            }
        } else if (OptionValue(argc, argv, &i, "--lang", &value)) {
            // The language itself is resolved with the other two sources once the
            // settings file is known; a value that names none is refused here.
            if (!ParseLanguage(value)) {
                cl.Error = QStringLiteral("--lang \"%1\": ja or en").arg(value);
                return cl;
            }
        } else if (OptionValue(argc, argv, &i, "--settings", &value)) {
            if (value.isEmpty()) {
                cl.Error = QStringLiteral("--settings needs a file name");
                return cl;
            }
            cl.SettingsFile = QFileInfo(value).absoluteFilePath();
        } else if (OptionValue(argc, argv, &i, "--screenshot", &value)) {
            if (value.isEmpty()) {
                cl.Error = QStringLiteral("--screenshot needs a file name");
                return cl;
            }
            cl.Screenshot = value;
        } else if (std::strncmp(arg, "-", 1) == 0 && std::strncmp(arg, "-platform", 9) != 0
                   && std::strncmp(arg, "-style", 6) != 0) {
            cl.Error = QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(arg));
            return cl;
        }
    }
    return cl;
}

// For the start-up benchmark: BRIMLARK_EXIT_AFTER_FIRST_PAINT=1 prints "first-paint NS"
// (the steady clock, which is CLOCK_MONOTONIC here) once the main window's first frame
// is painted, and quits.
class TFirstPaintExit : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()
            && qobject_cast<TForm1*>(static_cast<QWidget*>(watched)->window())) {
            qApp->removeEventFilter(this);
            // Once the loop is free again the whole frame is painted and flushed.
            QTimer::singleShot(0, this, [] {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf("first-paint %lld\n",
                            static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
                std::fflush(stdout);
                QApplication::exit(0);
            });
        }
        return false;
    }
};

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int Run(int argc, char* argv[])
{
    const TCommandLine cl = ParseCommandLine(argc, argv);
    if (!cl.Error.isEmpty()) {
        std::fprintf(stderr, "brimlark: %s\n%s", qPrintable(cl.Error), kUsage);
        return 2;
    }
    if (cl.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (cl.Version) {
        std::printf("Brimlark_Simple %s\n", BRIMLARK_VERSION);
        return 0;
    }
    // Rules set here come before QT_LOGGING_RULES, which can still turn lines off.
    if (cl.Verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("brimlark.*.debug=true"));
    // A picture needs no screen: headless machines get the offscreen platform.
    if (!cl.Screenshot.isEmpty() && !HasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brimlark_Simple"));
    const TQuitSignals quitSignals;
    QApplication::setApplicationVersion(QStringLiteral(BRIMLARK_VERSION));

    // The settings first: the first page is asked for before the fonts and the window
    // are set up, so the server's time overlaps with theirs.
    const TSettingsPaths paths = ResolveSettingsPaths(QApplication::applicationFilePath(), cl.SettingsFile);
    // One window per settings file: a second start brings the first one's window up and
    // ends. A picture is taken whatever runs.
    TSingleInstance instance(paths.SettingsFile);
    if (cl.Screenshot.isEmpty() && !instance.Claim())
        return 0;
    TMainState settings;
    LoadSettings(paths.SettingsFile, settings);
    TForm1Options options;
    options.SettingsFile = paths.SettingsFile;
    options.CreateSettingsFolder = paths.CreateFolder;
    options.Keyring = paths.Keyring;
    options.PostCopyFile = paths.PostCopyFile;
    options.TimelineCacheFile = paths.TimelineCacheFile;
    options.Arguments = QApplication::arguments();
    TForm1::StartFirstRead(options, settings);

    SetUpApplication(QApplication::arguments(), settings);

    // With --screenshot nobody is there to answer a start-up message box.
    QTimer answerBoxes;
    if (!cl.Screenshot.isEmpty()) {
        QObject::connect(&answerBoxes, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        answerBoxes.start(50);
    }

    // A request to end while the window is being built finds at most its start-up box
    // (missing credentials) waiting for an answer: that box ends, and the window closes
    // once built.
    const QMetaObject::Connection whileBuilding
        = QObject::connect(&quitSignals, &TQuitSignals::Requested, &app, [] { EndModalWindows(); });
    TForm1 form(options);
    QObject::disconnect(whileBuilding);
    if (form.IsClosing())
        return 0;  // closed while the start-up read ran
    instance.SetWindow(&form);
    // A logout, a service manager or Ctrl+C closes the window in order, with its save
    // (also one that came while the window was being built); the session manager's
    // request to keep what is open saves too.
    // The loop ends with it even when the window was not shown yet (a slow start-up read).
    QObject::connect(&quitSignals, &TQuitSignals::Requested, &form, &TForm1::CloseInOrder);
    QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (quitSignals.Received()) {
        form.CloseInOrder();
        return 0;
    }
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.SaveSettingsNow(); });
    form.CreateSecondaryWindowsOnDemand();
    TFirstPaintExit firstPaint;
    if (qEnvironmentVariableIsSet("BRIMLARK_EXIT_AFTER_FIRST_PAINT"))
        app.installEventFilter(&firstPaint);
    // The start-up read goes on in the loop; the window shows when it ends (or earlier,
    // with its loading line, when it is slow).
    form.ShowWhenStarted();

    if (!cl.Screenshot.isEmpty()) {
        int result = 0;
        auto grab = [&] {
            answerBoxes.stop();
            // Layouts still queued (the trace's scroll to its last line) first.
            QCoreApplication::sendPostedEvents();
            const QPixmap picture = form.grab();
            if (!picture.save(cl.Screenshot, "PNG")) {
                std::fprintf(stderr, "brimlark: cannot write %s\n", qPrintable(cl.Screenshot));
                result = 1;
            }
            QApplication::exit(result);
        };
        // The picture shows the window as the start-up left it, as it is shown.
        if (form.IsStarted())
            QTimer::singleShot(0, &form, grab);
        else
            QObject::connect(&form, &TForm1::ReadsFinished, &form, grab, Qt::SingleShotConnection);
        app.exec();
        return result;
    }
    return app.exec();
}

int main(int argc, char* argv[])
{
    UseOneHeap();
    const int result = Run(argc, argv);
    // Reads abandoned at close were called off and end within a fraction of a second;
    // the process ends normally once they have.
    if (!TTimelineReader::WaitForAll(1000))
        std::fprintf(stderr, "brimlark: a read was still running at exit\n");
    return result;
}
