#pragma once

// The window of the floor programs: what the main window cannot do without, and nothing
// else. The list of statuses (a bare QTreeWidget with the same two shown columns, in the
// list's 13 px proportional face) above the trace box (a QPlainTextEdit keeping the newest
// 1,000 lines, in the window's 11 px fixed-width face), in a vertical splitter that is the
// only window. Both faces are the Japanese names resolved by the program's own font
// set-up, so the floor pays for the same fonts; without the text box and its face it
// would leave out memory and work the program's own window has.

#include "dialogs/DialogCommon.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStringList>
#include <QTreeWidget>

// Rows of a file holding one row a line, name and text separated by a tab.
inline QList<QStringList> ReadRows(const QString& path)
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

// The lines of a text file; none for an empty path or a missing file.
inline QStringList ReadLines(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class TFloorWindow : public QSplitter {
public:
    TFloorWindow() : QSplitter(Qt::Vertical)
    {
        RegisterJapaneseFontSubstitutes();
        setFont(PixelFont(kGothic, 11));
        List = new QTreeWidget(this);
        List->setColumnCount(2);
        List->setHeaderHidden(true);
        List->setRootIsDecorated(false);
        List->setUniformRowHeights(true);
        List->setFont(PixelFont(kPGothic, 13));
        List->setColumnWidth(0, 80);
        List->setColumnWidth(1, 550);
        Trace = new QPlainTextEdit(this);
        Trace->setReadOnly(true);
        Trace->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Trace->setMaximumBlockCount(1000);
        setStretchFactor(0, 1);
        setStretchFactor(1, 0);
    }

    void Insert(const QList<QStringList>& rows)
    {
        for (const QStringList& row : rows)
            List->addTopLevelItem(new QTreeWidgetItem(row));
    }

    void AppendTrace(const QStringList& lines, qsizetype from = 0, qsizetype to = -1)
    {
        for (qsizetype i = from; i < (to < 0 ? lines.size() : to); ++i)
            Trace->appendPlainText(lines.at(i));
    }

    QTreeWidget* List = nullptr;
    QPlainTextEdit* Trace = nullptr;
};
