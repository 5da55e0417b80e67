#pragma once

#include <QByteArray>
#include <QString>

// The text a reader sees in a status's HTML: paragraphs apart by an empty line, <br> as a
// line break, entities decoded, and each link other than a mention or a hashtag as the
// full address of its href rather than the shortened text the server shows. Untrusted
// bytes: nothing outside them is read, and nesting beyond reason is not walked.
QString HtmlText(const QByteArray& html);
