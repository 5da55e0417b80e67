// The baseline program for the start-up, memory and idle benchmarks: a minimal Qt Widgets
// program that shows an empty main window. "--screenshot FILE" saves it and exits, as the
// real program does; without it the program idles until it is terminated.
#include <QApplication>
#include <QMainWindow>
#include <QPixmap>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(600, 400);
    window.show();
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshot"));
    if (at >= 0 && at + 1 < args.size()) {
        const QString file = args.at(at + 1);
        QTimer::singleShot(0, &window, [&window, file] {
            window.grab().save(file, "PNG");
            QApplication::exit(0);
        });
    }
    return app.exec();
}
