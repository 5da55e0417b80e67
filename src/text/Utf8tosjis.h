#pragma once

#include <QByteArray>

// Escapes a byte string for an application/x-www-form-urlencoded body: the 72
// pass-through bytes stay, a space becomes "+", every other byte "%XX" (upper case).
// The source counts as zero-terminated: bytes after a zero byte are not encoded.
QByteArray FormEncode(const QByteArray& source);

// Replaces the first occurrence of pattern in text (exact bytes). An empty pattern is
// never found. Returns whether a replacement was made.
bool ReplaceFirst(QByteArray& text, const QByteArray& pattern, const QByteArray& replacement);
