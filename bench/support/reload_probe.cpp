// Helper process of the reload benchmark. "fill URL N" posts N statuses as the demo
// account so the timeline has enough pages. "reload URL PAGES ROUNDS" makes a main window
// whose read-more has reached page PAGES, then times ROUNDS reloads (each reads pages 1
// to PAGES) and prints the mean seconds per reload, the rows shown and the peak resident
// memory in KiB.
#include "app/frmMain.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <sys/resource.h>

namespace {

int Fill(const QByteArray& api, int count)
{
    THttpCli cli;
    const TServiceAccount account{QString::fromUtf8(api), QStringLiteral("demo"), QStringLiteral("demo")};
    for (int i = 0; i < count; ++i) {
        const TPostOutcome outcome = PostStatus(cli, account, "status=bench+" + QByteArray::number(i) + "&source=brimlark");
        if (!outcome.IsAccepted()) {
            std::fprintf(stderr, "post %d failed with %d\n", i, outcome.StatusCode);
            return 1;
        }
    }
    return 0;
}

int Reload(const QString& api, int pages, int rounds)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    TMainState state;
    LoadSettings(ini, state);
    state.AccountName = QStringLiteral("demo");
    state.Password = QStringLiteral("demo");
    SaveSettings(ini, state, QRect(400, 200, 600, 300));
    TForm1Options options;
    options.SettingsFile = ini;
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), api};
    TForm1 form(options);
    for (int page = 2; page <= pages; ++page)
        form.mmUpdateClick();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        form.Reload();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / rounds;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %d %ld\n", seconds, form.findChild<QTreeWidget*>(QStringLiteral("ListView1"))->topLevelItemCount(),
                usage.ru_maxrss);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("fill"))
        return Fill(args[2].toUtf8(), args[3].toInt());
    if (args.size() == 5 && args[1] == QLatin1String("reload"))
        return Reload(args[2], args[3].toInt(), args[4].toInt());
    std::fprintf(stderr, "usage: reload_probe fill URL N | reload URL PAGES ROUNDS\n");
    return 2;
}
