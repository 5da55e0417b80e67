#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// One web address found in a status text: where it stands and the text shown for it.
struct TLinkRange {
    int Start = 0;
    int Length = 0;
    QString Text;
    bool operator==(const TLinkRange&) const = default;
};

// Finds the web addresses in a status text: "http://", "https://" and "www." forms.
// An address ends at white space, at any non-ASCII character (Japanese text usually
// follows an address without a space), at <, > and ", and loses trailing punctuation
// and closing brackets that it did not open.
QList<TLinkRange> FindLinks(const QString& text);

// The address to open for a link's text: http and https as they are, "www." forms as
// http. Anything else (file:, javascript:, text that is not a valid address) gives an
// invalid QUrl, which callers must not open.
QUrl LinkTarget(const QString& linkText);
