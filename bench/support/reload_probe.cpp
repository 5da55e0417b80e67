// Helper process of the reload benchmark. "fill URL N" posts N statuses as the demo
// account so the timeline has enough pages. "reload URL PAGES ROUNDS" starts a main
// window as the program's main does (settings read, first page asked for, application
// set up, secondary windows left until used) and, once its first frame is painted, prints
// "startup RSS HWM" (KiB, from /proc/self/status); then reads more up to page PAGES,
// times ROUNDS reloads (each reads pages 1 to PAGES and repaints the window) and prints
// "reload SECONDS ROWS RSS HWM": the mean seconds of one reload, the rows shown and the
// memory after the last one. With TRACE_DIR it also writes the lines of the trace box, at
// the first frame and after the reloads, to startup-trace.txt and reload-trace.txt there:
// the floor program's text box holds the same.
#include "app/Application.h"
#include "app/frmMain.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "settings/Settings.h"
#include "support/FrameProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

namespace {

int Fill(const QByteArray& api, int count)
{
    THttpCli cli;
    const TServiceAccount account{QString::fromUtf8(api), QStringLiteral("demo"), QStringLiteral("demo"), {}};
    for (int i = 0; i < count; ++i) {
        const TPostOutcome outcome = PostStatus(cli, account, "status=bench+" + QByteArray::number(i) + "&source=brimlark");
        if (!outcome.IsAccepted()) {
            std::fprintf(stderr, "post %d failed with %d\n", i, outcome.StatusCode);
            return 1;
        }
    }
    return 0;
}

bool WriteTrace(const TForm1& form, const QString& traceDir, const char* name)
{
    if (traceDir.isEmpty())
        return true;
    const auto* box = form.findChild<QPlainTextEdit*>(QStringLiteral("memoDisplay"));
    QFile file(traceDir + QLatin1Char('/') + QLatin1String(name));
    const QString text = box ? box->toPlainText() : QString();
    return box && file.open(QIODevice::WriteOnly) && (text.isEmpty() || file.write(text.toUtf8() + '\n') >= 0);
}

int Reload(const QString& api, int pages, int rounds, const QString& traceDir)
{
    // The settings file the start-up benchmark gives the program: the demo account
    // ("demo" scrambled with the key 0x5A is ">?75") and nothing else, so the window has
    // its default size.
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly) || file.write("[App]\nUSR=>?75\nPWD=>?75\n") < 0)
        return 1;
    file.close();
    TMainState settings;
    LoadSettings(ini, settings);
    TForm1Options options;
    options.SettingsFile = ini;
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), api};
    TForm1::StartFirstRead(options, settings);
    SetUpApplication(options.Arguments, settings);
    TForm1 form(options);
    form.CreateSecondaryWindowsOnDemand();
    bool painted = false;
    const FirstFrame firstFrame(&form, [&painted] { painted = true; });
    form.show();
    QElapsedTimer wait;
    wait.start();
    while (!painted && wait.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!painted) {
        std::fprintf(stderr, "the window never painted\n");
        return 1;
    }
    const auto startup = ResidentKb();
    std::printf("startup %ld %ld\n", startup.first, startup.second);
    if (!WriteTrace(form, traceDir, "startup-trace.txt"))
        return 1;

    for (int page = 2; page <= pages; ++page)
        form.mmUpdateClick();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        form.Reload();
        form.repaint();
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / rounds;
    const auto after = ResidentKb();
    if (!WriteTrace(form, traceDir, "reload-trace.txt"))
        return 1;
    std::printf("reload %.6f %d %ld %ld\n", seconds,
                form.findChild<QTreeWidget*>(QStringLiteral("ListView1"))->topLevelItemCount(), after.first, after.second);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    UseOneHeap();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("fill"))
        return Fill(args[2].toUtf8(), args[3].toInt());
    if ((args.size() == 5 || args.size() == 6) && args[1] == QLatin1String("reload"))
        return Reload(args[2], args[3].toInt(), args[4].toInt(), args.value(5));
    std::fprintf(stderr, "usage: reload_probe fill URL N | reload URL PAGES ROUNDS [TRACE_DIR]\n");
    return 2;
}
