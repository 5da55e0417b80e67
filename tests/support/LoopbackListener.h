#pragma once

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A listening TCP socket on 127.0.0.1 on a port the system picks: the descriptor, or -1
// when the system refuses, and the port in *port. Test and benchmark servers never
// listen anywhere else, but for ::1 alone (ipv6Only: a peer that IPv4 cannot reach, -1
// where the system has no IPv6).
inline int ListenOnLoopback(quint16* port, int backlog = 64, bool ipv6Only = false)
{
    const int fd = ::socket(ipv6Only ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage addr{};
    socklen_t len = sizeof(sockaddr_in);
    if (ipv6Only) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        len = sizeof(sockaddr_in6);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, backlog) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(ipv6Only ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return fd;
}

// A loopback port that nobody listens on: one the system just handed out, closed again.
inline quint16 ClosedLoopbackPort()
{
    quint16 port = 0;
    const int fd = ListenOnLoopback(&port, 1);
    if (fd >= 0)
        ::close(fd);
    return port;
}
