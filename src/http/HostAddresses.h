#pragma once

#include "http/SocketPlatform.h"

#include <QByteArray>
#include <QList>

// Where both clients look a host up. Every address a name has, IPv6 and IPv4, in the
// resolver's order, so a service that listens on one family only (a name with only an
// AAAA record, "[::1]") is reached by every call; each client tries them in turn. Empty
// when the name does not resolve.
//
// An address literal is used as it is. "localhost" in any case is the loopback without a
// look-up: 127.0.0.1, then ::1. Names under the reserved "invalid" domain, and names with
// no ASCII form, are refused without asking the resolver. International names are looked
// up in their ASCII form. Blocks while the resolver works.
QList<SocketPlatform::Address> ResolveHost(const QByteArray& host);

// Names under the reserved "invalid" domain never resolve: they are refused without
// asking the resolver, so no query leaves the machine. Any case, a final dot allowed.
bool IsReservedInvalidName(const QByteArray& host);

// The name as the resolver and TLS want it: international names in their ASCII form;
// empty when there is none.
QByteArray AsciiHostName(const QByteArray& host);
