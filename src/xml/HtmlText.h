#pragma once

#include <QString>

// The largest status HTML read as it is; a longer one is cut there first, so a hostile
// server cannot make one status cost more than a page.
constexpr qsizetype kMaxStatusHtml = 256 * 1024;

// A status's HTML as the text a row shows: paragraphs and <br> become line breaks, a
// link becomes its full address (the visible text of a shortened one is only a part of
// it), mentions and hashtags keep their text, entities are decoded and anything else
// (:shortcode: included) stays as written. Never reads outside the text; any input gives
// some text, never an error.
QString StatusHtmlText(const QString& html);
