#pragma once

#include <QByteArray>

// The one way both clients split an address:
//
//   scheme "://" [user [":" password] "@"] host [":" port] target ["#" fragment]
//
// Backslashes count as slashes. The authority ends at the first "/", "?" or "#"; the
// user information runs to its last "@" (a password may hold one), the user name to the
// first ":" in it. An IPv6 literal stands in brackets; otherwise the port follows the
// last ":". The target is the path and the query exactly as written (nothing is
// percent-encoded), "/" when empty; the fragment never goes on the wire.
struct THttpUrl {
    QByteArray Scheme;          // lower case; "http" when the address names none
    bool HasUserInfo = false;   // there was an "@"
    QByteArray User;
    QByteArray Password;
    QByteArray Host;            // an IPv6 literal without its brackets
    QByteArray Port;            // as written; empty when the address names none
    QByteArray Target;
};
THttpUrl SplitUrl(const QByteArray& url);

// "80" for http, "443" for https, empty for any other scheme.
QByteArray DefaultPort(const QByteArray& scheme);
// A port as written, 1 to 65535; 0 for anything else.
quint16 PortNumber(const QByteArray& port);
// The host as an address writes it: an IPv6 literal in brackets.
QByteArray HostForUrl(const QByteArray& host);
// host[":"port], the port left out where it is empty or the scheme's own: the value of
// the Host line, and what a proxy is given before the target.
QByteArray Authority(const QByteArray& scheme, const QByteArray& host, const QByteArray& port);
