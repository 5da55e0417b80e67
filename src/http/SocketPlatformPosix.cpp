#include "http/SocketPlatform.h"

#include "http/SocketErrors.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

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

} // namespace

bool Startup()
{
    return true;  // nothing to load: the calls are linked in
}

Handle OpenStream(int* error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        *error = mapErrno(errno);
    return fd < 0 ? InvalidHandle : fd;
}

int BindAny(Handle socket)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return mapErrno(errno);
    return 0;
}

int ResolveIPv4(const QByteArray& host, quint32* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
        return SocketErrors::HostNotFound;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return 0;
}

int Connect(Handle socket, quint32 address, quint16 port, int timeoutMs)
{
    const int fd = static_cast<int>(socket);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    if (timeoutMs <= 0) {
        while (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
            if (errno != EINTR)
                return mapErrno(errno);
        }
        return 0;
    }
    // Non-blocking connect bounded by the time-out, then back to blocking calls.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = mapErrno(errno);
        } else {
            int error = 0;
            const int ready = pollFor(socket, POLLOUT, timeoutMs, &error);
            if (ready < 0) {
                result = error;
            } else if (ready == 0) {
                result = ConnectTimedOut;
            } else {
                int soError = 0;
                socklen_t len = sizeof soError;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
                result = soError ? mapErrno(soError) : 0;
            }
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return result;
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
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), MSG_DONTWAIT);
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

void Close(Handle socket)
{
    ::close(static_cast<int>(socket));
}

} // namespace SocketPlatform
