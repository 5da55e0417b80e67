#pragma once
// How reply bytes become the UTF-8 the parser reads.

#include <QByteArray>

struct TReplyText {
    // The reply as UTF-8. A reply that already is valid UTF-8 comes back sharing the
    // caller's buffer: no bytes are copied.
    QByteArray utf8;
    // The declared encoding when no converter knows it; utf8 is then empty.
    QByteArray unsupportedEncoding;
};

// Picks the encoding (byte-order mark, else the XML declaration, else the charset the
// server named, else UTF-8) and decodes with it. A sequence the encoding does not
// define becomes U+FFFD; bytes that could be markup are never swallowed with it.
TReplyText DecodeReply(const QByteArray& text, const QByteArray& charsetHint);
