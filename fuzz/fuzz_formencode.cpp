#include "text/Utf8tosjis.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;  // lower case never appears in our output
}

// Decodes the form encoding strictly; aborts on anything FormEncode must not produce.
QByteArray StrictDecode(const QByteArray& encoded)
{
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size())
                std::abort();
            const int hi = HexValue(encoded[i + 1]);
            const int lo = HexValue(encoded[i + 2]);
            if (hi < 0 || lo < 0)
                std::abort();
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            const bool mark = c == '!' || c == '$' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '-'
                              || c == '.' || c == '@' || c == '_';
            if (!letterOrDigit && !mark)
                std::abort();
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    const QByteArray encoded = FormEncode(input);
    if (encoded.size() > input.size() * 3)
        std::abort();
    const qsizetype zero = input.indexOf('\0');
    const QByteArray expected = zero < 0 ? input : input.left(zero);
    if (StrictDecode(encoded) != expected)
        std::abort();

    // ReplaceFirst: split the input into text | pattern | replacement at the first two
    // 0x01 bytes and compare with a straightforward reference.
    const qsizetype a = input.indexOf('\x01');
    const qsizetype b = a < 0 ? -1 : input.indexOf('\x01', a + 1);
    if (b >= 0) {
        QByteArray text = input.left(a);
        const QByteArray pattern = input.mid(a + 1, b - a - 1);
        const QByteArray replacement = input.mid(b + 1);
        const QByteArray before = text;
        const bool replaced = ReplaceFirst(text, pattern, replacement);
        const qsizetype at = pattern.isEmpty() ? -1 : before.indexOf(pattern);
        if (replaced != (at >= 0))
            std::abort();
        const QByteArray reference =
            at < 0 ? before : before.left(at) + replacement + before.mid(at + pattern.size());
        if (text != reference)
            std::abort();
    }
    return 0;
}
