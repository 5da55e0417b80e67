#pragma once

#include <QString>

// The error numbers the blocking connection reports, whatever the platform: POSIX errno
// values are mapped onto these so messages read the same everywhere.
namespace SocketErrors {
constexpr int HostNotFound = 11001;

// The text for an error number; empty for a number outside the list.
QString Text(int errorNumber);
// "Socket Error # <n>" CR LF text.
QString Message(int errorNumber);
} // namespace SocketErrors
