#pragma once
// The parser road of the xml layer: reply bytes in, a DOM document or a failure out.

#include <QByteArray>
#include <QString>

#include <libxml/tree.h>

struct TParseFailure {
    QString reason;
    int line = 0;
    QString srcText;   // the offending source line, at most 40 characters
};

// Parses untrusted bytes: nothing outside them is read, a DTD is refused, nesting and
// entity growth are bounded. charsetHint is the server's charset for bytes that name
// none themselves. Returns nullptr and fills failure when rejected.
xmlDocPtr ParseReply(const QByteArray& text, const QByteArray& charsetHint, bool preserveWhiteSpace,
                     TParseFailure& failure);
