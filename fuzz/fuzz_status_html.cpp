// A status's HTML as the server sends it, made text the way a row shows it.
#include "xml/HtmlText.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString html = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = StatusHtmlText(html);
    // Every character shown comes from the input once, give or take a break or a pair of
    // brackets around a link's address: nothing may multiply it.
    if (text.size() > 2 * html.size() + 16)
        __builtin_trap();
    return 0;
}
