#pragma once

#include "http/BlockingConnection.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// TLS for the blocking connection, over whatever transport is already open (a socket, or
// a tunnel through a proxy). Only this declaration is shared: each platform's TLS library
// sits in one source file behind it.
//
// Wraps inner in TLS to host and completes the handshake: TLS 1.2 at least, the name sent
// for host names (not for address literals), the certificate checked against the system's
// authorities and those in caFile (when not empty) and against host. early: bytes already
// read from the peer that belong to the handshake. waitBudget gives the milliseconds one
// wait may take (-1 without limit, 0 when the fetch's time is spent).
//
// Raises ETlsError (a refused certificate, a handshake that broke off, timed out or met a
// peer that does not speak TLS) and EHttpClientError (caFile cannot be read).
//
// The transport returned receives 0 only after the peer's TLS close; a connection that
// ends without it raises EConnectionClosed, since the data may have been cut short.
std::unique_ptr<TByteTransport> StartTlsTransport(std::unique_ptr<TByteTransport> inner, const QByteArray& host,
                                                  const QString& caFile, const QByteArray& early,
                                                  const std::function<int()>& waitBudget);
