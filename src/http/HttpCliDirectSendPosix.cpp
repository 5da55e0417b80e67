#include "http/HttpCliDirectSend.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

qint64 HttpCliDirectSend(qintptr socketDescriptor, const char* data, qint64 size, bool more)
{
    if (socketDescriptor < 0 || size <= 0)
        return 0;
    const int flags = MSG_DONTWAIT | MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socketDescriptor), data, static_cast<size_t>(size), flags);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return 0;
    }
}

void HttpCliPush(qintptr socketDescriptor)
{
    // Setting TCP_NODELAY sends out anything held back, even when it is already set.
    const int one = 1;
    if (socketDescriptor >= 0)
        ::setsockopt(static_cast<int>(socketDescriptor), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool HttpCliIdleConnectionUnusable(qintptr socketDescriptor)
{
    if (socketDescriptor < 0)
        return true;
    char byte;
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socketDescriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
}
