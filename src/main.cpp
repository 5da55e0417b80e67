#include "frmMain.h"
#include "Settings.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

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
    "  --api URL          Base address of the service (default http://twitter.com;\n"
    "                     also BRIMLARK_API or the key API in the settings file).\n"
    "  --screenshot FILE  Start up, save a PNG picture of the main window to FILE\n"
    "                     and exit.\n";

struct TCommandLine {
    bool Help = false;
    bool Version = false;
    QString Screenshot;
    QString Error;
};

// Parsed before the application object exists, so --help works without a display.
TCommandLine ParseCommandLine(int argc, char* argv[])
{
    TCommandLine cl;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            cl.Help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            cl.Version = true;
        } else if (std::strcmp(arg, "--api") == 0 || std::strcmp(arg, "--screenshot") == 0) {
            if (i + 1 >= argc) {
                cl.Error = QStringLiteral("%1 needs a value").arg(QString::fromLocal8Bit(arg));
                return cl;
            }
            if (std::strcmp(arg, "--screenshot") == 0)
                cl.Screenshot = QString::fromLocal8Bit(argv[i + 1]);
            ++i;  // --api is read by the window from the argument list
        } else if (std::strncmp(arg, "-", 1) == 0 && std::strncmp(arg, "-platform", 9) != 0
                   && std::strncmp(arg, "-style", 6) != 0) {
            cl.Error = QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(arg));
            return cl;
        }
    }
    return cl;
}

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[])
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
    // A picture needs no screen: headless machines get the offscreen platform.
    if (!cl.Screenshot.isEmpty() && !HasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brimlark_Simple"));
    QApplication::setApplicationVersion(QStringLiteral(BRIMLARK_VERSION));
    RegisterJapaneseFonts();

    // With --screenshot nobody is there to answer a start-up message box.
    QTimer answerBoxes;
    if (!cl.Screenshot.isEmpty()) {
        QObject::connect(&answerBoxes, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        answerBoxes.start(50);
    }

    TForm1Options options;
    options.SettingsFile = SettingsFileName(QApplication::applicationFilePath());
    options.Arguments = QApplication::arguments();
    TForm1 form(options);
    form.CreateSecondaryWindows();
    form.show();

    if (!cl.Screenshot.isEmpty()) {
        answerBoxes.stop();
        int result = 0;
        QTimer::singleShot(0, &form, [&] {
            const QPixmap picture = form.grab();
            if (!picture.save(cl.Screenshot, "PNG")) {
                std::fprintf(stderr, "brimlark: cannot write %s\n", qPrintable(cl.Screenshot));
                result = 1;
            }
            QApplication::exit(result);
        });
        app.exec();
        return result;
    }
    return app.exec();
}
