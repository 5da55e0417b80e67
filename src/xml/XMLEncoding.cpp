#include "xml/XMLEncoding.h"

#include "xml/XMLEncoding_p.h"

#include <QByteArrayView>
#include <QString>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// How the bytes of an encoding group into characters, for the replacement of a
// sequence the converter refuses.
enum class TFamily { Utf8, Other, ShiftJis, EucJp, Utf16, Utf32 };

struct TEncoding {
    QByteArray converterName;
    TFamily family;
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Only names made of what an XML encoding name allows reach the converter: a suffix
// such as "//IGNORE" or "//TRANSLIT" would change how it treats bad bytes.
bool IsEncodingName(QByteArrayView name)
{
    if (name.isEmpty() || name.size() > 64 || !IsAsciiLetter(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    });
}

TEncoding EncodingNamed(QByteArrayView name)
{
    // Lower case without '-' and '_': "Shift_JIS", "shift-jis" and "SHIFTJIS" are one name.
    QByteArray folded;
    for (char c : name) {
        if (c != '-' && c != '_')
            folded += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    // Japanese servers that say Shift_JIS send Windows code page 932: its NEC and IBM
    // rows (①, ㈱, 髙) are in everyday use and the strict JIS table refuses them.
    static const char* const shiftJisNames[] = {"shiftjis", "xsjis", "sjis", "mskanji", "csshiftjis",
                                                "windows31j", "cswindows31j", "cp932", "ms932", "xmscp932"};
    if (std::any_of(std::begin(shiftJisNames), std::end(shiftJisNames), [&](const char* n) { return folded == n; }))
        return {QByteArrayLiteral("CP932"), TFamily::ShiftJis};
    if (folded == "utf8")
        return {QByteArrayLiteral("UTF-8"), TFamily::Utf8};
    if (folded == "eucjp" || folded == "xeucjp" || folded == "cseucpkdfmtjapanese")
        return {QByteArrayLiteral("EUC-JP"), TFamily::EucJp};
    if (folded.startsWith("utf16") || folded.contains("ucs2"))
        return {name.toByteArray(), TFamily::Utf16};
    if (folded.startsWith("utf32") || folded.contains("ucs4"))
        return {name.toByteArray(), TFamily::Utf32};
    return {name.toByteArray(), TFamily::Other};
}

// The converters are glibc's iconv, the ones the parser fell back to on this platform,
// so the labels it accepted still decode as before. Its CP932 follows
// Microsoft's table; ICU's (behind QStringDecoder) is IBM-943, which swaps the control
// bytes 0x1A, 0x1C and 0x7F. iconv also says where a bad sequence starts, so the
// replacement below decides how many bytes it covers.
class TConverter {
public:
    explicit TConverter(const QByteArray& from) : m_cd(iconv_open("UTF-8", from.constData())) {}
    ~TConverter()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

// The encoding of an XML declaration at the very start of ASCII-compatible bytes; empty
// when there is none. The parser checks the declaration's form itself.
QByteArrayView DeclaredEncoding(QByteArrayView bytes)
{
    if (bytes.size() < 6 || !bytes.startsWith("<?xml") || !IsSpace(bytes[5]))
        return {};
    const qsizetype n = bytes.size();
    qsizetype i = 5;
    for (;;) {
        while (i < n && IsSpace(bytes[i]))
            ++i;
        const qsizetype nameStart = i;
        while (i < n && IsAsciiLetter(bytes[i]))
            ++i;
        const QByteArrayView name = bytes.sliced(nameStart, i - nameStart);
        while (i < n && IsSpace(bytes[i]))
            ++i;
        if (name.isEmpty() || i >= n || bytes[i] != '=')
            return {};
        ++i;
        while (i < n && IsSpace(bytes[i]))
            ++i;
        if (i >= n || (bytes[i] != '"' && bytes[i] != '\''))
            return {};
        const char quote = bytes[i++];
        const qsizetype close = bytes.indexOf(quote, i);
        if (close < 0)
            return {};
        if (name == "encoding")
            return bytes.sliced(i, close - i);
        i = close + 1;
    }
}

// A label that reads "<x" as anything but "<x" (a 16-bit form named for bytes that are
// plainly 8-bit markup) is wrong about these bytes.
bool Contradicts(iconv_t cd, QByteArrayView bytes)
{
    if (bytes.size() < 2 || bytes[0] != '<' || bytes[1] == '\0' || static_cast<uchar>(bytes[1]) >= 0x80)
        return false;
    char in[2] = {bytes[0], bytes[1]};
    char out[16];
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = out;
    size_t outLeft = sizeof out;
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);   // back to the initial shift state
    return outPtr - out != 2 || std::memcmp(out, in, 2) != 0;
}

// How many bytes the U+FFFD for a refused sequence stands for. A trail byte in the
// ASCII range is read again, so a '<' after a broken lead byte stays a '<'.
qsizetype BadSequenceLength(TFamily family, const uchar* p, qsizetype left)
{
    const auto at = [&](qsizetype i) -> uchar { return i < left ? p[i] : 0; };
    const auto euc = [](uchar c) { return c >= 0xA1 && c <= 0xFE; };
    switch (family) {
    case TFamily::Utf16:
        return 2;
    case TFamily::Utf32:
        return 4;
    case TFamily::ShiftJis:
        return ((p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC)) && at(1) >= 0x80 && at(1) <= 0xFC ? 2 : 1;
    case TFamily::EucJp:
        if (p[0] == 0x8F)
            return euc(at(1)) ? (euc(at(2)) ? 3 : 2) : 1;
        return (euc(p[0]) || p[0] == 0x8E) && euc(at(1)) ? 2 : 1;
    default:
        return 1;
    }
}

QByteArray Transcode(iconv_t cd, TFamily family, QByteArrayView bytes)
{
    QByteArray out(bytes.size() * 2 + 16, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    qsizetype written = 0;
    for (bool flushed = false; !flushed;) {
        char* outPtr = out.data() + written;
        size_t outLeft = static_cast<size_t>(out.size() - written);
        // With the input gone, one more call hands out what the converter still holds.
        const bool flushing = inLeft == 0;
        const size_t done = iconv(cd, flushing ? nullptr : &in, flushing ? nullptr : &inLeft, &outPtr, &outLeft);
        const int error = errno;
        written = outPtr - out.data();
        if (done != static_cast<size_t>(-1)) {
            flushed = flushing;
            continue;
        }
        if (error == E2BIG || out.size() - written < 3) {
            out.resize(out.size() * 2);
            continue;
        }
        if (flushing)
            break;
        // EILSEQ: a sequence the encoding does not define; EINVAL: one cut off by the end.
        const qsizetype bad = error == EINVAL
            ? static_cast<qsizetype>(inLeft)
            : std::min(BadSequenceLength(family, reinterpret_cast<const uchar*>(in), static_cast<qsizetype>(inLeft)),
                       static_cast<qsizetype>(inLeft));
        std::memcpy(out.data() + written, "\xEF\xBF\xBD", 3);
        written += 3;
        in += bad;
        inLeft -= static_cast<size_t>(bad);
    }
    out.truncate(written);
    return out;
}

// Valid UTF-8 is passed on as it is; otherwise each bad byte becomes U+FFFD and every
// ASCII byte stays where it was.
QByteArray Utf8Of(const QByteArray& text)
{
    if (QByteArrayView(text).isValidUtf8())
        return text;
    return QString::fromUtf8(text).toUtf8();
}

// The reply decoded with the named encoding; nothing when no converter knows the name.
// A name that is wrong about the bytes is not followed: they are read as UTF-8.
std::optional<QByteArray> DecodeAs(const TEncoding& encoding, const QByteArray& text, qsizetype skip = 0)
{
    if (encoding.family == TFamily::Utf8)
        return Utf8Of(text);
    const TConverter converter(encoding.converterName);
    if (!converter.IsOpen())
        return std::nullopt;
    const QByteArrayView bytes = QByteArrayView(text).sliced(skip);
    if (Contradicts(converter.Handle(), bytes))
        return Utf8Of(text);
    return Transcode(converter.Handle(), encoding.family, bytes);
}

} // namespace

TReplyText DecodeReply(const QByteArray& text, const QByteArray& charsetHint)
{
    // A byte-order mark, or the first characters of a UTF-16 declaration, settle it.
    const QByteArrayView bytes(text);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {Utf8Of(text), {}};
    const auto utf16 = [&](const char* name, qsizetype skip) {
        std::optional<QByteArray> decoded = DecodeAs({QByteArray(name), TFamily::Utf16}, text, skip);
        return TReplyText{decoded ? std::move(*decoded) : QByteArray(), {}};
    };
    if (bytes.startsWith("\xFF\xFE"))
        return utf16("UTF-16LE", 2);
    if (bytes.startsWith("\xFE\xFF"))
        return utf16("UTF-16BE", 2);
    if (bytes.startsWith(QByteArrayView("<\0?\0", 4)))
        return utf16("UTF-16LE", 0);
    if (bytes.startsWith(QByteArrayView("\0<\0?", 4)))
        return utf16("UTF-16BE", 0);

    const QByteArrayView declared = DeclaredEncoding(bytes);
    if (IsEncodingName(declared)) {
        if (std::optional<QByteArray> decoded = DecodeAs(EncodingNamed(declared), text))
            return {std::move(*decoded), {}};
        return {QByteArray(), declared.toByteArray()};
    }
    const QByteArray hint = charsetHint.trimmed();
    if (IsEncodingName(hint)) {
        if (std::optional<QByteArray> decoded = DecodeAs(EncodingNamed(hint), text))
            return {std::move(*decoded), {}};
    }
    return {Utf8Of(text), {}};
}

QByteArray CharsetOfContentType(const QByteArray& contentTypeValue)
{
    const QByteArrayView v(contentTypeValue);
    const qsizetype n = v.size();
    // The media type holds no quotes: the parameters start at its first ';'.
    qsizetype i = v.indexOf(';');
    while (i >= 0 && i < n) {
        ++i;
        const qsizetype nameStart = i;
        while (i < n && v[i] != '=' && v[i] != ';')
            ++i;
        const QByteArrayView name = v.sliced(nameStart, i - nameStart).trimmed();
        if (i >= n || v[i] == ';')
            continue;
        ++i;
        while (i < n && IsSpace(v[i]))
            ++i;
        QByteArray value;
        if (i < n && v[i] == '"') {
            for (++i; i < n && v[i] != '"'; ++i) {
                if (v[i] == '\\' && i + 1 < n)
                    ++i;
                value += v[i];
            }
            while (i < n && v[i] != ';')
                ++i;
        } else {
            const qsizetype valueStart = i;
            while (i < n && v[i] != ';')
                ++i;
            value = v.sliced(valueStart, i - valueStart).toByteArray();
        }
        value = value.trimmed();
        if (name.compare("charset", Qt::CaseInsensitive) == 0 && !value.isEmpty())
            return value;
    }
    return QByteArray();
}
