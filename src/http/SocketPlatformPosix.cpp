#include "http/SocketPlatform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace SocketPlatform {
namespace {

// errno onto the numbers the messages use, so they read the same on every platform.
int mapErrno(int e)
{
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: case EPIPE: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return e;
    }
}

int pollFor(Handle socket, short events, int timeoutMs, int* error)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{static_cast<int>(socket), events, 0};
        const int n = ::poll(&p, 1, wait);
        if (n >= 0)
            return n > 0 ? 1 : 0;
        if (errno != EINTR) {
            *error = mapErrno(errno);
            return -1;
        }
    }
}

// A non-blocking call, repeated when a signal cut it short: its result, WouldBlock when
// it would have to wait, or Failed with *error set.
template <class Call>
qint64 WithoutWaiting(Call call, int* error)
{
    for (;;) {
        const ssize_t n = call();
        if (n >= 0)
            return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return WouldBlock;
        if (errno != EINTR) {
            *error = mapErrno(errno);
            return Failed;
        }
    }
}

} // namespace

bool Startup()
{
    return true;  // nothing to load: the calls are linked in
}

Handle OpenStream(const Address& family, bool blocking, int* error)
{
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK);
    const int fd = ::socket(family.IsIPv6() ? AF_INET6 : AF_INET, type, 0);
    if (fd < 0)
        *error = mapErrno(errno);
    return fd < 0 ? InvalidHandle : fd;
}

int BindAny(Handle socket, const Address& family)
{
    sockaddr_storage local{};
    socklen_t length = sizeof(sockaddr_in);
    if (family.IsIPv6()) {
        reinterpret_cast<sockaddr_in6*>(&local)->sin6_family = AF_INET6;  // in6addr_any, port 0
        length = sizeof(sockaddr_in6);
    } else {
        reinterpret_cast<sockaddr_in*>(&local)->sin_family = AF_INET;    // INADDR_ANY, port 0
    }
    if (::bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&local), length) != 0)
        return mapErrno(errno);
    return 0;
}

qint64 Send(Handle socket, const char* data, qint64 size, int* error)
{
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            *error = mapErrno(errno);
            return -1;
        }
    }
}

int WaitReadable(Handle socket, int timeoutMs, int* error)
{
    return pollFor(socket, POLLIN, timeoutMs, error);
}

qint64 Receive(Handle socket, char* buffer, qint64 size, int* error)
{
    return WithoutWaiting([&] { return ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), MSG_DONTWAIT); }, error);
}

void Close(Handle socket)
{
    ::close(static_cast<int>(socket));
}

bool Address::IsIPv6() const
{
    return Length > 0 && reinterpret_cast<const sockaddr*>(Storage)->sa_family == AF_INET6;
}

namespace {

bool addresses(const QByteArray& host, int flags, QList<Address>* out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    if (host.isEmpty() || ::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
        return false;
    // Every address, in the resolver's order: a service that listens on one family only
    // is reached all the same.
    out->clear();
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(Address::Storage))
            continue;
        Address address;
        std::memcpy(address.Storage, a->ai_addr, a->ai_addrlen);
        address.Length = a->ai_addrlen;
        out->append(address);
    }
    ::freeaddrinfo(found);
    return !out->isEmpty();
}

// The peer with its port, as the socket's family wants it.
socklen_t peerAddress(Handle socket, const Address& peer, quint16 port, sockaddr_storage* out)
{
    sockaddr_storage own{};
    socklen_t ownLength = sizeof own;
    ::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&own), &ownLength);
    std::memcpy(out, peer.Storage, peer.Length);
    if (!peer.IsIPv6() && own.ss_family == AF_INET6) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(peer.Storage);
        sockaddr_in6 mapped{};
        mapped.sin6_family = AF_INET6;
        mapped.sin6_addr.s6_addr[10] = 0xff;
        mapped.sin6_addr.s6_addr[11] = 0xff;
        std::memcpy(&mapped.sin6_addr.s6_addr[12], &v4->sin_addr, 4);
        mapped.sin6_port = htons(port);
        std::memcpy(out, &mapped, sizeof mapped);
        return sizeof mapped;
    }
    if (peer.IsIPv6())
        reinterpret_cast<sockaddr_in6*>(out)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(out)->sin_port = htons(port);
    return peer.Length;
}

} // namespace

bool ParseAddress(const QByteArray& text, Address* address)
{
    // The plain forms without the resolver's machinery (it reads its configuration and
    // asks the kernel about interfaces on every call); a scoped IPv6 literal goes to it.
    *address = Address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(address->Storage);
    if (::inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        address->Length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(address->Storage);
    if (::inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        address->Length = sizeof(sockaddr_in6);
        return true;
    }
    QList<Address> found;
    if (!addresses(text, AI_NUMERICHOST, &found))
        return false;
    *address = found.first();
    return true;
}

bool LookUp(const QByteArray& asciiName, QList<Address>* found)
{
    return addresses(asciiName, 0, found);
}

int Connect(Handle socket, const Address& address, quint16 port, int timeoutMs, const std::function<bool()>& calledOff)
{
    const int fd = static_cast<int>(socket);
    sockaddr_storage peer{};
    const socklen_t peerLength = peerAddress(socket, address, port, &peer);
    const auto* to = reinterpret_cast<const sockaddr*>(&peer);
    if (timeoutMs <= 0 && !calledOff) {
        while (::connect(fd, to, peerLength) != 0) {
            if (errno != EINTR)
                return mapErrno(errno);
        }
        return 0;
    }
    // Non-blocking connect bounded by the time-out and, when it may be called off, waited
    // for in short slices; then back to blocking calls.
    constexpr int kSliceMs = 50;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = 0;
    if (::connect(fd, to, peerLength) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = mapErrno(errno);
        } else {
            for (;;) {
                int wait = calledOff ? kSliceMs : -1;
                if (timeoutMs > 0) {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                    if (left <= 0) {
                        result = ConnectTimedOut;
                        break;
                    }
                    wait = wait < 0 ? int(left) : std::min<int>(wait, int(left));
                }
                int error = 0;
                const int ready = pollFor(socket, POLLOUT, wait, &error);
                if (ready < 0) {
                    result = error;
                    break;
                }
                if (ready > 0) {
                    int soError = 0;
                    socklen_t len = sizeof soError;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
                    result = soError ? mapErrno(soError) : 0;
                    break;
                }
                if (calledOff && calledOff()) {
                    result = ConnectCalledOff;
                    break;
                }
            }
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return result;
}

int Bind(Handle socket, const Address& local)
{
    if (::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(local.Storage), local.Length) != 0)
        return mapErrno(errno);
    return 0;
}

int StartConnect(Handle socket, const Address& peer, quint16 port)
{
    sockaddr_storage to{};
    const socklen_t length = peerAddress(socket, peer, port, &to);
    for (;;) {
        if (::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&to), length) == 0)
            return 0;
        if (errno == EINPROGRESS || errno == EALREADY)
            return InProgress;
        if (errno == EINTR)
            continue;
        // Not an error number of the list: reported as the client reports any odd one.
        return errno == EPERM ? 10013 : mapErrno(errno);
    }
}

int ConnectOutcome(Handle socket)
{
    int soError = 0;
    socklen_t length = sizeof soError;
    if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
        soError = errno;
    return soError == 0 ? 0 : soError == EPERM ? 10013 : mapErrno(soError);
}

qint64 SendNow(Handle socket, const char* data, qint64 size, bool more, int* error)
{
    const int flags = MSG_DONTWAIT | MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    return WithoutWaiting([&] { return ::send(static_cast<int>(socket), data, static_cast<size_t>(size), flags); }, error);
}

void SetNoDelay(Handle socket)
{
    // Setting TCP_NODELAY sends out anything held back, even when it is already set.
    const int one = 1;
    ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

qint64 Peek(Handle socket, char* buffer, qint64 size, int* error)
{
    return WithoutWaiting([&] { return ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), MSG_PEEK | MSG_DONTWAIT); }, error);
}

bool IdleConnectionUnusable(Handle socket)
{
    char byte;
    int error = 0;
    return socket == InvalidHandle || Peek(socket, &byte, 1, &error) != WouldBlock;
}

} // namespace SocketPlatform
