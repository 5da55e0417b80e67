#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// An INI file held as its lines, so an update changes only the lines it must and keeps
// every other line (other sections, unknown keys, comments, blank lines) byte for byte.
// Sections and keys match without regard to ASCII case; the first section of a name
// and the first key of a name in it count, later duplicates are left alone.
//
// Values: a plain value is the text after "=", blanks trimmed, with one pair of
// matching quotes at the ends removed. A value a plain line cannot hold unchanged
// (control bytes such as NUL, CR and LF, blanks or quotes at either end, bytes that
// are not UTF-8) is written in double quotes with backslash escapes; a plain value
// never starts with a quote, so the two forms cannot be confused.
//
// A UTF-8 byte-order mark at the start is kept apart, so the first line still counts,
// and is written back.
class TIniFile {
public:
    TIniFile() = default;

    // Any bytes parse: lines that are neither a section header nor "key=value" are kept
    // as they are and otherwise ignored.
    static TIniFile FromBytes(const QByteArray& bytes);
    QByteArray ToBytes() const;

    std::optional<QByteArray> Value(const QByteArray& section, const QByteArray& key) const;
    // Replaces the key's line, or adds it at the end of the section (the section at the
    // end of the file when it is missing).
    void SetValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);

    // The text written after "key=" for a value, and its reading back.
    static QByteArray EncodeValue(const QByteArray& value);
    static QByteArray DecodeValue(const QByteArray& raw);

    // A value's bytes as text: UTF-8 when they are valid UTF-8, else CP932, the code page
    // of settings files written on Japanese Windows. Bytes neither can read become U+FFFD.
    static QString DecodeText(const QByteArray& bytes);

private:
    struct Line {
        QByteArray text;        // without its line end
        QByteArray ending;      // "\n", "\r\n" or empty for a last line without one
    };
    struct Span {
        qsizetype header = -1;  // index of the section's header line
        qsizetype end = -1;     // one past its last line
    };
    std::optional<Span> FindSection(const QByteArray& section) const;
    qsizetype FindKey(const Span& span, const QByteArray& key) const;
    QByteArray NewLineEnding() const;

    bool m_byteOrderMark = false;
    QList<Line> m_lines;
};
