// The floor of the start-up, memory and idle benchmarks: a plain Qt Widgets program that
// shows the list and the trace box of support/FloorWindow.h and nothing else.
//
//   minimal_qt_program ROWS [--size WxH] [--trace FILE] [--first-paint-exit
//                      | --screenshot FILE | --reload ROWS2 ROUNDS [TRACE2]]
//
// ROWS holds one row a line, name and text separated by a tab; --trace FILE the lines the
// trace box holds at start. Without an option the program idles until it is terminated.
//   --first-paint-exit  prints "first-paint NS" (CLOCK_MONOTONIC) once the first frame is
//                       painted, and quits.
//   --screenshot FILE   saves a PNG picture of the window and quits, as the real program.
//   --reload ROWS2 N    after the first frame prints "startup RSS HWM" (KiB), then N times
//                       empties the list, inserts the rows of ROWS2 and repaints, and
//                       prints "reload SECONDS ROWS RSS HWM": the mean seconds of one round.
//                       The lines of TRACE2 are appended to the trace box a share each
//                       round, so it ends holding what the program's box holds then.
#include "support/FloorWindow.h"
#include "support/FrameProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: minimal_qt_program ROWS [--size WxH] [--trace FILE] [--first-paint-exit "
                             "| --screenshot FILE | --reload ROWS2 ROUNDS [TRACE2]]\n");
        return 2;
    }
    const auto valueOf = [&args](const char* option, int nth = 1) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        return at >= 0 && at + nth < args.size() && !args.at(at + nth).startsWith(QLatin1String("--")) ? args.at(at + nth)
                                                                                                        : QString();
    };

    TFloorWindow window;
    window.Insert(ReadRows(args.at(1)));
    window.AppendTrace(ReadLines(valueOf("--trace")));
    QSize size(629, 400);
    if (const QString wh = valueOf("--size"); !wh.isEmpty())
        size = QSize(wh.section(QLatin1Char('x'), 0, 0).toInt(), wh.section(QLatin1Char('x'), 1, 1).toInt());
    window.resize(size);
    window.show();

    std::unique_ptr<FirstFrame> firstFrame;
    const QString shot = valueOf("--screenshot");
    const qsizetype reloadAt = args.indexOf(QStringLiteral("--reload"));
    if (args.contains(QStringLiteral("--first-paint-exit"))) {
        firstFrame = std::make_unique<FirstFrame>(&window, [] {
            std::printf("first-paint %lld\n", MonotonicNs());
            std::fflush(stdout);
            QApplication::exit(0);
        });
    } else if (!shot.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, shot] { QApplication::exit(window.grab().save(shot, "PNG") ? 0 : 1); });
    } else if (reloadAt >= 0 && reloadAt + 2 < args.size()) {
        const QString rowsFile = args.at(reloadAt + 1);
        const int rounds = args.at(reloadAt + 2).toInt();
        const QString traceFile = valueOf("--reload", 3);
        firstFrame = std::make_unique<FirstFrame>(&window, [&window, rowsFile, rounds, traceFile] {
            const auto startup = ResidentKb();
            std::printf("startup %ld %ld\n", startup.first, startup.second);
            const QList<QStringList> rows = ReadRows(rowsFile);
            const QStringList lines = ReadLines(traceFile);
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < rounds; ++i) {
                window.List->clear();
                window.Insert(rows);
                window.AppendTrace(lines, lines.size() * i / rounds, lines.size() * (i + 1) / rounds);
                window.repaint();
            }
            const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / rounds;
            const auto after = ResidentKb();
            std::printf("reload %.6f %d %ld %ld\n", seconds, window.List->topLevelItemCount(), after.first,
                        after.second);
            std::fflush(stdout);
            QApplication::exit(0);
        });
    }
    return app.exec();
}
