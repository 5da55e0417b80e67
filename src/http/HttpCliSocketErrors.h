#pragma once

#include <QByteArray>

// The event-driven client reports socket failures with the classic Windows Sockets numbers
// and short texts, so its messages read the same on every platform.
namespace HttpCliSocketErrors {
constexpr int ConnectionTimedOut = 10060;

// The short text for a Windows Sockets error number; "Not a WinSock error" for any other.
QByteArray Text(int winsockError);
// The number reported for a connect that failed with the socket layer's error number:
// the client has always reported every failure to reach the host other than a refusal
// or a denial as "Network is unreachable", and an unusable socket as no WinSock error.
int ConnectNumber(int socketError);
// The number reported for a socket that could not be made.
int SocketNumber(int socketError);
// The number reported for a local address that could not be bound.
int BindNumber(int socketError);
// Text, " (Error #", number, ")".
QByteArray Describe(int winsockError);
} // namespace HttpCliSocketErrors
