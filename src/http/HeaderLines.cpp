#include "http/HeaderLines.h"

namespace {

bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
}

bool isContinuation(const QByteArray& line)
{
    return !line.isEmpty() && (line.at(0) == ' ' || line.at(0) == '\t');
}

} // namespace

QByteArray THeaderLines::Trim(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text.at(begin)))
        ++begin;
    while (end > begin && isBlankOrControl(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

qsizetype THeaderLines::indexOf(const QByteArray& name) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArray& line = m_lines.at(i);
        if (isContinuation(line))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon == name.size() && qstrnicmp(line.constData(), name.constData(), colon) == 0)
            return i;
    }
    return -1;
}

qsizetype THeaderLines::continuationEnd(qsizetype index) const
{
    qsizetype end = index + 1;
    while (end < m_lines.size() && isContinuation(m_lines.at(end)))
        ++end;
    return end;
}

QByteArray THeaderLines::Value(const QByteArray& name) const
{
    const qsizetype i = indexOf(name);
    if (i < 0)
        return {};
    const QByteArray& line = m_lines.at(i);
    QByteArray value = Trim(line.mid(line.indexOf(':') + 1));
    const qsizetype end = continuationEnd(i);
    for (qsizetype k = i + 1; k < end; ++k) {
        value += ' ';
        value += Trim(m_lines.at(k));
    }
    return value;
}

void THeaderLines::SetValue(const QByteArray& name, const QByteArray& value)
{
    const qsizetype i = indexOf(name);
    if (i >= 0)
        m_lines.remove(i, continuationEnd(i) - i);
    if (value.isEmpty())
        return;
    const QList<QByteArray> folded = fold(name + ": " + value);
    const qsizetype at = i >= 0 ? i : m_lines.size();
    for (qsizetype k = 0; k < folded.size(); ++k)
        m_lines.insert(at + k, folded.at(k));
}

// Breaks a line longer than the fold length at the last space, tab or comma (outside
// double quotes) before it; each continuation starts with one space.
QList<QByteArray> THeaderLines::fold(const QByteArray& line) const
{
    QList<QByteArray> out;
    QByteArray rest = line;
    while (rest.size() > m_foldLength) {
        qsizetype breakAt = -1;
        bool quoted = false;
        for (qsizetype k = 0; k < rest.size() && k <= m_foldLength; ++k) {
            const char c = rest.at(k);
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && k > 0 && (c == ' ' || c == '\t'))
                breakAt = k;
            else if (!quoted && c == ',' && k + 1 <= m_foldLength)
                breakAt = k + 1;
        }
        if (breakAt <= 0 || breakAt >= rest.size())
            break;
        const QByteArray head = Trim(rest.left(breakAt));
        const QByteArray tail = Trim(rest.mid(breakAt));
        if (head.isEmpty() || tail.isEmpty() || tail.size() + 1 >= rest.size())
            break;
        out.append(out.isEmpty() ? head : ' ' + head);
        rest = ' ' + tail;
    }
    out.append(rest);
    return out;
}
