#include "text/Utf8tosjis.h"

#include <array>
#include <cstring>

namespace {

// 1 for the bytes that go out unchanged: letters, digits and ten marks. The tilde is
// escaped on purpose; the service's signature check expects exactly this set.
constexpr std::array<bool, 256> MakePassThrough()
{
    std::array<bool, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c)
        table[c] = true;
    for (int c = '0'; c <= '9'; ++c)
        table[c] = true;
    for (unsigned char c : {'!', '$', '\'', '(', ')', '*', '-', '.', '@', '_'})
        table[c] = true;
    return table;
}

constexpr std::array<bool, 256> kPassThrough = MakePassThrough();
constexpr char kHex[] = "0123456789ABCDEF";

} // namespace

QByteArray FormEncode(const QByteArray& source)
{
    const char* src = source.constData();
    // The source counts as zero-terminated.
    const qsizetype length = qsizetype(strnlen(src, size_t(source.size())));

    // One allocation for the worst case (every byte escaped), one trim at the end.
    QByteArray out(length * 3, Qt::Uninitialized);
    char* dst = out.data();
    char* const start = dst;
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char b = static_cast<unsigned char>(src[i]);
        if (kPassThrough[b]) {
            *dst++ = char(b);
        } else if (b == ' ') {
            *dst++ = '+';
        } else {
            *dst++ = '%';
            *dst++ = kHex[b >> 4];
            *dst++ = kHex[b & 0x0F];
        }
    }
    out.truncate(dst - start);
    return out;
}

bool ReplaceFirst(QByteArray& text, const QByteArray& pattern, const QByteArray& replacement)
{
    if (pattern.isEmpty())
        return false;
    const qsizetype at = text.indexOf(pattern);
    if (at < 0)
        return false;
    text.replace(at, pattern.size(), replacement);
    return true;
}
