#pragma once

#include <QByteArray>
#include <QString>

// Replaces fileName with data in one step: the bytes go to a new file beside it, which
// is flushed to disk and then renamed over the old one, so a crash or a full disk
// leaves either the old file or the new one, never a mix. The file is readable and
// writable by its owner only, since it may hold credentials. A symbolic link is
// followed: its target is replaced and the link stays. A file or folder that may not
// be written (by its mode bits, which hold for an administrator too, or for this user)
// is refused and left as it was. On failure the old file is untouched, the temporary
// file is removed and error (when given) says why.
// One implementation per platform.
bool WriteOwnerOnlyFileAtomically(const QString& fileName, const QByteArray& data, QString* error);

// Creates folder and any missing folders above it, each readable and writable by its
// owner only; folders that exist are left as they are. False with a reason when one
// cannot be made.
bool MakeOwnerOnlyFolder(const QString& folder, QString* error);
