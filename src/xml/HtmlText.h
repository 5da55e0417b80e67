#pragma once

#include <QString>

// The largest status HTML read as it is; a longer one is cut there first.
constexpr qsizetype kMaxStatusHtml = 256 * 1024;

// A status's HTML as the text a row shows: paragraphs apart by an empty line, <br> as a
// line break, entities decoded, and each link other than a mention or a hashtag as the
// full address of its href rather than the shortened text the server shows. Nothing
// outside the text is read, and nesting beyond reason is not walked.
QString StatusHtmlText(const QString& html);
