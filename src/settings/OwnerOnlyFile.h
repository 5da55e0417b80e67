#pragma once

#include <QByteArray>
#include <QString>

// Replaces fileName with data in one step: the bytes go to a new file beside it, which
// is flushed to disk and then renamed over the old one, so a crash or a full disk
// leaves either the old file or the new one, never a mix. The file is readable and
// writable by its owner only, since it may hold credentials. On failure the old file
// is untouched, the temporary file is removed and error (when given) says why.
// One implementation per platform.
bool WriteOwnerOnlyFileAtomically(const QString& fileName, const QByteArray& data, QString* error);
