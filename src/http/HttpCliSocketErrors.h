#pragma once

#include <QAbstractSocket>
#include <QByteArray>

// The event-driven client reports socket failures with the classic Windows Sockets numbers
// and short texts, so its messages read the same on every platform.
namespace HttpCliSocketErrors {
constexpr int ConnectionTimedOut = 10060;

// The short text for a Windows Sockets error number; "Not a WinSock error" for any other.
QByteArray Text(int winsockError);
// The Windows Sockets number that stands for a Qt socket error.
int Number(QAbstractSocket::SocketError error);
// Text, " (Error #", number, ")".
QByteArray Describe(int winsockError);
} // namespace HttpCliSocketErrors
