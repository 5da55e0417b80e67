#pragma once

#include <QByteArray>
#include <QtGlobal>

// The few blocking socket calls the connection needs, so another platform needs only
// one new source file. Error numbers are those of SocketErrors, whatever the platform.
namespace SocketPlatform {

using Handle = qintptr;
constexpr Handle InvalidHandle = -1;

// Process-wide start-up of the socket library, done once; false when it fails.
bool Startup();

// Creates a blocking IPv4 stream socket; InvalidHandle and *error on failure.
Handle OpenStream(int* error);
// Binds to any local address and port 0; an error number or 0.
int BindAny(Handle socket);
// Looks a host name up and gives its first IPv4 address (network byte order);
// an error number (SocketErrors::HostNotFound when the name is unknown) or 0.
int ResolveIPv4(const QByteArray& host, quint32* address);
// Connects; timeoutMs 0 waits as long as the platform does. Returns 0, an error
// number, or ConnectTimedOut.
constexpr int ConnectTimedOut = -1;
int Connect(Handle socket, quint32 address, quint16 port, int timeoutMs);
// Sends what the socket accepts now: bytes sent, or -1 and *error.
qint64 Send(Handle socket, const char* data, qint64 size, int* error);
// Waits until the socket is readable: 1 readable, 0 timed out, -1 and *error.
// timeoutMs < 0 waits without limit.
int WaitReadable(Handle socket, int timeoutMs, int* error);
// Receives what is there without waiting: bytes read, 0 when the peer closed,
// WouldBlock when nothing is there yet, Failed and *error.
constexpr qint64 Failed = -1;
constexpr qint64 WouldBlock = -2;
qint64 Receive(Handle socket, char* buffer, qint64 size, int* error);
void Close(Handle socket);

} // namespace SocketPlatform
