#pragma once

#include <QByteArray>

// The charset parameter of a Content-Type header value ("text/xml; charset=Shift_JIS"),
// unquoted; empty when the value names none. The name is returned as sent: the xml
// layer decides whether it knows it.
QByteArray CharsetOfContentType(const QByteArray& contentTypeValue);
