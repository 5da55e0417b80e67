#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <functional>

// The few socket calls both clients need (blocking ones for the blocking connection,
// non-blocking ones for the event-driven client), so another platform needs only one new
// source file. Error numbers are those of SocketErrors, whatever the platform.
namespace SocketPlatform {

using Handle = qintptr;
constexpr Handle InvalidHandle = -1;

// Process-wide start-up of the socket library, done once; false when it fails.
bool Startup();

// A socket address (IPv4 or IPv6, with its scope), kept opaque so this header needs no
// system headers.
struct Address {
    alignas(8) unsigned char Storage[128] = {};
    unsigned Length = 0;
    bool IsIPv6() const;
};

// An address literal, never looked up: false for anything else.
bool ParseAddress(const QByteArray& text, Address* address);
// Looks an ASCII host name up and waits for the answer: every address it has, IPv6 and
// IPv4, in the resolver's order. False when the name does not resolve.
bool LookUp(const QByteArray& asciiName, QList<Address>* addresses);

// Creates a stream socket for the family of address, blocking or not; InvalidHandle and
// *error on failure.
Handle OpenStream(const Address& family, bool blocking, int* error);
// Binds to any local address of the socket's family and port 0; an error number or 0.
int BindAny(Handle socket, const Address& family);
// Connects a blocking socket; timeoutMs 0 waits as long as the platform does. Returns 0,
// an error number, ConnectTimedOut, or ConnectCalledOff when calledOff (asked every few
// tens of milliseconds while the connect waits) said so.
constexpr int ConnectTimedOut = -1;
constexpr int ConnectCalledOff = -3;
int Connect(Handle socket, const Address& peer, quint16 port, int timeoutMs,
            const std::function<bool()>& calledOff = {});
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

// ---- Non-blocking sockets of the event-driven client ----

// Binds to the local address and port 0; an error number or 0.
int Bind(Handle socket, const Address& local);
// Starts a connection: 0 when it is made at once, InProgress, or an error number.
// An IPv4 peer is reached from an IPv6 socket through its mapped address.
constexpr int InProgress = -2;
int StartConnect(Handle socket, const Address& peer, quint16 port);
// How a connection in progress ended once the socket is writable: 0 or an error number.
int ConnectOutcome(Handle socket);
// Sends what the kernel takes now: bytes sent, WouldBlock, or Failed and *error. With
// more, the kernel may hold the bytes back to fill segments with what follows.
qint64 SendNow(Handle socket, const char* data, qint64 size, bool more, int* error);
// Small writes go out at once from now on; anything held back goes out too.
void SetNoDelay(Handle socket);
// Like Receive, but the bytes stay queued.
qint64 Peek(Handle socket, char* buffer, qint64 size, int* error);
// Whether a connection that should be idle can no longer carry a request: the peer has
// closed or reset it, or sent bytes nobody asked for. Looks without reading.
bool IdleConnectionUnusable(Handle socket);

} // namespace SocketPlatform
