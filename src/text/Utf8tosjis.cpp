#include "Utf8tosjis.h"
// placeholder: implemented in the form-encoding change
QByteArray FormEncode(const QByteArray& source) { return source; }
bool ReplaceFirst(QByteArray&, const QByteArray&, const QByteArray&) { return false; }
