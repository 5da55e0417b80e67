// Helper process of the reload benchmark. "fill URL N" posts N statuses as the demo
// account so the timeline has enough pages. "reload URL PAGES ROUNDS [DIR [TOKEN]]" starts a main
// window as the program's main does (settings read, first page asked for, application
// set up, secondary windows left until used) and, once its first frame is painted, prints
// "startup RSS HWM" (KiB, from /proc/self/status); then reads more up to page PAGES,
// times ROUNDS reloads (each reads pages 1 to PAGES and repaints the window) and prints
// "reload SECONDS ROWS RSS HWM": the mean seconds of one reload, the rows shown and the
// memory after the last one. With DIR it also writes there what the window shows at the
// first frame, just before the timed reloads and after them, for the floor programs to
// show the same: the lines of the trace box (startup-, prereload-, reload-trace.txt), the
// list's rows, name and text separated by a tab (startup-, prereload-, reload-rows.tsv),
// and the window's size, WxH (size.txt). With TOKEN the window is signed in to the
// fediverse face at URL with that token instead, and reads its home timeline's pages.
// Under callgrind with --collect-atstart=no only the reloads are counted.
#include "app/Application.h"
#include "app/frmMain.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "PostWait.h"
#include "settings/Settings.h"
#include "support/Callgrind.h"
#include "support/FrameProbe.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QAbstractItemView>

#include <cstdio>

namespace {

int Fill(const QByteArray& api, int count)
{
    THttpCli cli;
    const TServiceAccount account{QString::fromUtf8(api), QStringLiteral("demo"), QStringLiteral("demo"), {}};
    for (int i = 0; i < count; ++i) {
        const TPostOutcome outcome = PostStatusAndWait(cli, account, "status=bench+" + QByteArray::number(i) + "&source=brimlark");
        if (!outcome.IsAccepted()) {
            std::fprintf(stderr, "post %d failed with %d\n", i, outcome.StatusCode);
            return 1;
        }
    }
    return 0;
}

// The trace box, the list and the size of the window, into dir (nothing without one).
bool WriteShown(const TForm1& form, const QString& dir, const char* moment)
{
    if (dir.isEmpty())
        return true;
    const auto* box = form.findChild<QPlainTextEdit*>(QStringLiteral("memoDisplay"));
    const auto* list = form.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    if (!box || !list)
        return false;
    const QString trace = box->toPlainText();
    QByteArray rows;
    const QAbstractItemModel* model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        rows += model->index(i, 0).data().toString().simplified().toUtf8() + '\t'
                + model->index(i, 1).data().toString().simplified().toUtf8() + '\n';
    }
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile file(dir + QLatin1Char('/') + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const QString prefix = QLatin1String(moment);
    return write(prefix + QStringLiteral("-trace.txt"), trace.isEmpty() ? QByteArray() : trace.toUtf8() + '\n')
        && write(prefix + QStringLiteral("-rows.tsv"), rows)
        && write(QStringLiteral("size.txt"), QByteArray::number(form.width()) + 'x' + QByteArray::number(form.height()));
}

int Reload(const QString& api, int pages, int rounds, const QString& outDir, const QByteArray& token)
{
    // The settings file the start-up benchmark gives the program: the demo account
    // ("demo" scrambled with the key 0x5A is ">?75") and nothing else, so the window has
    // its default size. With a token, the account is the fediverse face's, signed in
    // with it (scrambled the same way).
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    QFile file(ini);
    // Under valgrind every step is some fifty times slower, so the ticker's and the
    // reload timer's ticks would land inside the counted reload or not by chance: off.
    const QByteArray timers = UnderValgrind() ? "bAutoReload=0\nbAutoRotation=0\n" : "";
    QByteArray scrambled = token;
    for (char& c : scrambled)
        c = char(c ^ 0x5A);
    const QByteArray account = token.isEmpty() ? QByteArray("USR=>?75\nPWD=>?75\n")
                                               : "Fediverse=" + api.toUtf8() + "\nToken=" + scrambled + "\n";
    if (!file.open(QIODevice::WriteOnly) || file.write("[App]\n" + account + timers) < 0)
        return 1;
    file.close();
    TMainState settings;
    LoadSettings(ini, settings);
    TForm1Options options;
    // The friends timeline's reloads alone, as the floor program reads them.
    options.ReadMentions = false;
    options.SettingsFile = ini;
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), api};
    TForm1::StartFirstRead(options, settings);
    SetUpApplication(options.Arguments, settings);
    TForm1 form(options);
    form.CreateSecondaryWindowsOnDemand();
    bool painted = false;
    const FirstFrame firstFrame(&form, [&painted] { painted = true; });
    form.ShowWhenStarted();
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
    if (!WriteShown(form, outDir, "startup"))
        return 1;

    // Each read goes on in the loop; the probe waits for it as the window would.
    auto finish = [&form] {
        while (form.Reading())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    for (int page = 2; page <= pages; ++page) {
        form.findChild<QAction*>(QStringLiteral("mmMore"))->trigger();
        finish();
    }
    if (!WriteShown(form, outDir, "prereload"))
        return 1;
    // The saving of the offline copy, a second after the last read, is not the reload's.
    if (UnderValgrind()) {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1500)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    QElapsedTimer timer;
    timer.start();
    CountInstructions(true);
    for (int i = 0; i < rounds; ++i) {
        form.Reload();
        finish();
        form.repaint();
    }
    CountInstructions(false);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / rounds;
    const auto after = ResidentKb();
    if (!WriteShown(form, outDir, "reload"))
        return 1;
    std::printf("reload %.6f %d %ld %ld\n", seconds,
                form.findChild<QAbstractItemView*>(QStringLiteral("ListView1"))->model()->rowCount(), after.first, after.second);
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
    if (args.size() >= 5 && args.size() <= 7 && args[1] == QLatin1String("reload"))
        return Reload(args[2], args[3].toInt(), args[4].toInt(), args.value(5), args.value(6).toUtf8());
    std::fprintf(stderr, "usage: reload_probe fill URL N | reload URL PAGES ROUNDS [DIR [TOKEN]]\n");
    return 2;
}
