#pragma once

#include <QByteArray>
#include <QList>

// An ordered list of header lines ("Name: value"), as sent or as received. Lookup by
// name ignores letter case; lines that start with a space or tab continue the line above.
class THeaderLines {
public:
    explicit THeaderLines(int foldLength = 78) : m_foldLength(foldLength) {}

    // The value: the text after the colon, trimmed, with continuation lines joined by
    // one space. Empty when the name is absent.
    QByteArray Value(const QByteArray& name) const;
    bool Has(const QByteArray& name) const { return indexOf(name) >= 0; }
    // Replaces the line of that name where it stands, or appends; an empty value
    // removes it. Long lines are folded at the fold length.
    void SetValue(const QByteArray& name, const QByteArray& value);
    // Appends a line as received.
    void AddLine(const QByteArray& line) { m_lines.append(line); }

    const QList<QByteArray>& Lines() const { return m_lines; }
    qsizetype Count() const { return m_lines.size(); }
    void Clear() { m_lines.clear(); }

    // Removes spaces and control characters from both ends.
    static QByteArray Trim(const QByteArray& text);

private:
    qsizetype indexOf(const QByteArray& name) const;
    qsizetype continuationEnd(qsizetype index) const;
    QList<QByteArray> fold(const QByteArray& line) const;

    int m_foldLength;
    QList<QByteArray> m_lines;
};
