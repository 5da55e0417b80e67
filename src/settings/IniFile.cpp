#include "settings/IniFile.h"

#include "text/HexDigit.h"

#include <iconv.h>

#include <cerrno>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray TrimBlanks(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// "[name]" (blanks allowed around) gives name; anything else is no header.
std::optional<QByteArray> SectionName(const QByteArray& line)
{
    const QByteArray trimmed = TrimBlanks(line);
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return TrimBlanks(trimmed.mid(1, close - 1));
}

// "key=value" gives key; comments and lines without "=" are no key.
std::optional<QByteArray> KeyName(const QByteArray& line)
{
    const QByteArray trimmed = TrimBlanks(line);
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return TrimBlanks(line.left(eq));
}

bool SameName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsValidUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        int extra = 0;
        unsigned min = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1; min = 0x80; code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2; min = 0x800; code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3; min = 0x10000; code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool NeedsEscape(const QByteArray& value)
{
    if (value.isEmpty())
        return false;
    const char first = value.front();
    const char last = value.back();
    if (IsBlank(first) || IsBlank(last) || first == '"' || first == '\'' || last == '"' || last == '\'')
        return true;
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return true;
    }
    return !IsValidUtf8(value);
}

QByteArray Unescape(const QByteArray& inner)
{
    QByteArray out;
    out.reserve(inner.size());
    for (qsizetype i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c != '\\' || i + 1 >= inner.size()) {
            out += c;
            continue;
        }
        const char next = inner[i + 1];
        if (next == '\\' || next == '"') {
            out += next;
            ++i;
        } else if (next == 'x' && i + 3 < inner.size() && HexDigitValue(inner[i + 2]) >= 0
                   && HexDigitValue(inner[i + 3]) >= 0) {
            out += char(HexDigitValue(inner[i + 2]) * 16 + HexDigitValue(inner[i + 3]));
            i += 3;
        } else {
            out += c;  // not an escape of ours: keep the backslash
        }
    }
    return out;
}

const QByteArray kByteOrderMark = "\xEF\xBB\xBF";

// glibc's CP932 follows Microsoft's table, as the files were written with it.
QString FromCp932(const QByteArray& bytes)
{
    const iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QString::fromUtf8(bytes);
    QByteArray out;
    QByteArray chunk(256, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        size_t outLeft = size_t(chunk.size());
        const size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(chunk.constData(), chunk.size() - qsizetype(outLeft));
        if (done == size_t(-1) && err != E2BIG) {
            // A byte that starts no character: one replacement, and on after it.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return QString::fromUtf8(out);
}

} // namespace

TIniFile TIniFile::FromBytes(const QByteArray& bytes)
{
    TIniFile file;
    file.m_byteOrderMark = bytes.startsWith(kByteOrderMark);
    qsizetype start = file.m_byteOrderMark ? kByteOrderMark.size() : 0;
    while (start < bytes.size()) {
        qsizetype lf = bytes.indexOf('\n', start);
        Line line;
        if (lf < 0) {
            line.text = bytes.mid(start);
            start = bytes.size();
        } else {
            line.text = bytes.mid(start, lf - start);
            line.ending = "\n";
            start = lf + 1;
        }
        if (!line.ending.isEmpty() && line.text.endsWith('\r')) {
            line.text.chop(1);
            line.ending = "\r\n";
        }
        file.m_lines.append(line);
    }
    return file;
}

QByteArray TIniFile::ToBytes() const
{
    QByteArray out = m_byteOrderMark ? kByteOrderMark : QByteArray();
    for (const Line& line : m_lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

std::optional<TIniFile::Span> TIniFile::FindSection(const QByteArray& section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const auto name = SectionName(m_lines[i].text);
        if (!name || !SameName(*name, section))
            continue;
        Span span{i, i + 1};
        while (span.end < m_lines.size() && !SectionName(m_lines[span.end].text))
            ++span.end;
        return span;
    }
    return std::nullopt;
}

qsizetype TIniFile::FindKey(const Span& span, const QByteArray& key) const
{
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        const auto name = KeyName(m_lines[i].text);
        if (name && SameName(*name, key))
            return i;
    }
    return -1;
}

std::optional<QByteArray> TIniFile::Value(const QByteArray& section, const QByteArray& key) const
{
    const auto span = FindSection(section);
    if (!span)
        return std::nullopt;
    const qsizetype at = FindKey(*span, key);
    if (at < 0)
        return std::nullopt;
    const QByteArray& text = m_lines[at].text;
    return DecodeValue(text.mid(text.indexOf('=') + 1));
}

QByteArray TIniFile::NewLineEnding() const
{
    for (const Line& line : m_lines) {
        if (!line.ending.isEmpty())
            return line.ending;
    }
    return "\n";
}

void TIniFile::SetValue(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    const QByteArray text = key + '=' + EncodeValue(value);
    auto span = FindSection(section);
    if (!span) {
        if (!m_lines.isEmpty() && m_lines.back().ending.isEmpty())
            m_lines.back().ending = NewLineEnding();
        m_lines.append({'[' + section + ']', NewLineEnding()});
        m_lines.append({text, NewLineEnding()});
        return;
    }
    const qsizetype at = FindKey(*span, key);
    if (at >= 0) {
        m_lines[at].text = text;
        return;
    }
    // After the section's last non-blank line, so a blank line before the next
    // section stays where it was.
    qsizetype insert = span->end;
    while (insert > span->header + 1 && TrimBlanks(m_lines[insert - 1].text).isEmpty())
        --insert;
    if (m_lines[insert - 1].ending.isEmpty())
        m_lines[insert - 1].ending = NewLineEnding();
    m_lines.insert(insert, {text, NewLineEnding()});
}

QByteArray TIniFile::EncodeValue(const QByteArray& value)
{
    if (!NeedsEscape(value))
        return value;
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out = "\"";
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b >= 0x7F) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

QByteArray TIniFile::DecodeValue(const QByteArray& raw)
{
    const QByteArray value = TrimBlanks(raw);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return Unescape(value.mid(1, value.size() - 2));
    // Single quotes are only stripped, as the platform's profile functions do.
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
        return value.mid(1, value.size() - 2);
    return value;
}

QString TIniFile::DecodeText(const QByteArray& bytes)
{
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : FromCp932(bytes);
}
