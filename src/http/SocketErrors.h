#pragma once

#include <QByteArray>
#include <QString>

// The one table of socket error numbers and texts. Both clients report the classic
// Windows Sockets numbers, whatever the platform (POSIX errno values are mapped onto
// them in the platform file), so messages read the same everywhere. Each number has two
// texts: the blocking connection's sentence ("Connection refused.") and the event-driven
// client's short description ("Connection refused").
namespace SocketErrors {
constexpr int HostNotFound = 11001;
constexpr int ConnectionTimedOut = 10060;

// The blocking connection's text; empty for a number it does not list.
QString Text(int errorNumber);
// "Socket Error # <n>" CR LF text.
QString Message(int errorNumber);

// The event-driven client's short text; "Not a WinSock error" for a number outside the table.
QByteArray ShortText(int errorNumber);
// Short text, " (Error #", number, ")".
QByteArray Describe(int errorNumber);

// The number the event-driven client reports for a connect that failed with the socket
// layer's error number: it has always reported every failure to reach the host other
// than a refusal or a denial as "Network is unreachable", and an unusable socket as no
// WinSock error.
int ConnectNumber(int socketError);
// The number it reports for a socket that could not be made.
int SocketNumber(int socketError);
// The number it reports for a local address that could not be bound.
int BindNumber(int socketError);
} // namespace SocketErrors
