// The floor of the start-up, memory and idle benchmarks: a plain Qt Widgets program that
// shows rows of text in a bare QTreeWidget, the only window, in the list font of the real
// program (13 px, through the same family substitution).
//
//   minimal_qt_program ROWS [--size WxH] [--first-paint-exit | --screenshot FILE
//                      | --reload ROWS2 ROUNDS]
//
// ROWS holds one row a line, name and text separated by a tab. Without an option the
// program idles until it is terminated.
//   --first-paint-exit  prints "first-paint NS" (CLOCK_MONOTONIC) once the first frame is
//                       painted, and quits.
//   --screenshot FILE   saves a PNG picture of the window and quits, as the real program.
//   --reload ROWS2 N    after the first frame prints "startup RSS HWM" (KiB), then N times
//                       empties the list, inserts the rows of ROWS2 and repaints, and
//                       prints "reload SECONDS ROWS RSS HWM": the mean seconds of one round.
#include "support/FrameProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

namespace {

QList<QStringList> ReadRows(const QString& path)
{
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            rows.append(QString::fromUtf8(line).split(QLatin1Char('\t')));
    }
    return rows;
}

void Insert(QTreeWidget& list, const QList<QStringList>& rows)
{
    for (const QStringList& row : rows)
        list.addTopLevelItem(new QTreeWidgetItem(row));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: minimal_qt_program ROWS [--size WxH] [--first-paint-exit | --screenshot FILE "
                             "| --reload ROWS2 ROUNDS]\n");
        return 2;
    }
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(13);

    QTreeWidget list;
    list.setColumnCount(2);
    list.setHeaderHidden(true);
    list.setRootIsDecorated(false);
    list.setUniformRowHeights(true);
    list.setFont(font);
    list.setColumnWidth(0, 80);
    list.setColumnWidth(1, 550);
    Insert(list, ReadRows(args.at(1)));
    QSize size(629, 400);
    const qsizetype sizeAt = args.indexOf(QStringLiteral("--size"));
    if (sizeAt >= 0 && sizeAt + 1 < args.size()) {
        const QStringList wh = args.at(sizeAt + 1).split(QLatin1Char('x'));
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    }
    list.resize(size);
    list.show();

    std::unique_ptr<FirstFrame> firstFrame;
    const qsizetype shotAt = args.indexOf(QStringLiteral("--screenshot"));
    const qsizetype reloadAt = args.indexOf(QStringLiteral("--reload"));
    if (args.contains(QStringLiteral("--first-paint-exit"))) {
        firstFrame = std::make_unique<FirstFrame>(&list, [] {
            std::printf("first-paint %lld\n", MonotonicNs());
            std::fflush(stdout);
            QApplication::exit(0);
        });
    } else if (shotAt >= 0 && shotAt + 1 < args.size()) {
        const QString file = args.at(shotAt + 1);
        QTimer::singleShot(0, &list, [&list, file] { QApplication::exit(list.grab().save(file, "PNG") ? 0 : 1); });
    } else if (reloadAt >= 0 && reloadAt + 2 < args.size()) {
        const QString rowsFile = args.at(reloadAt + 1);
        const int rounds = args.at(reloadAt + 2).toInt();
        firstFrame = std::make_unique<FirstFrame>(&list, [&list, rowsFile, rounds] {
            const auto startup = ResidentKb();
            std::printf("startup %ld %ld\n", startup.first, startup.second);
            const QList<QStringList> rows = ReadRows(rowsFile);
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < rounds; ++i) {
                list.clear();
                Insert(list, rows);
                list.repaint();
            }
            const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9 / rounds;
            const auto after = ResidentKb();
            std::printf("reload %.6f %d %ld %ld\n", seconds, list.topLevelItemCount(), after.first, after.second);
            std::fflush(stdout);
            QApplication::exit(0);
        });
    }
    return app.exec();
}
