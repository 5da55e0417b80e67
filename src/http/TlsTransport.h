#pragma once

#include "http/BlockingConnection.h"
#include "http/HttpErrors.h"
#include "http/SocketPlatform.h"

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

// TLS for the event-driven client, on a connected non-blocking socket it does not own.
// No call waits: WantRead and WantWrite say what the socket must become before the same
// call is made again. Same rules as above: TLS 1.2 at least, the name sent for host
// names, the certificate checked against the system's authorities, those in caFile and
// host. Every problem of the certificate is looked at, and the most telling one reported.
class TTlsSession {
public:
    enum TStatus {
        Ok,
        WantRead,
        WantWrite,
        Closed,     // the peer ended TLS with its close notice
        Ended,      // the connection ended without it, or broke
        Failed,     // the handshake failed: Problem() and Detail() say why
    };
    virtual ~TTlsSession() = default;
    virtual TStatus Handshake() = 0;
    // Ok with *count > 0 bytes read or written.
    virtual TStatus Read(char* buffer, qint64 size, qint64* count) = 0;
    virtual TStatus Write(const char* data, qint64 size, qint64* count) = 0;
    virtual TCertificateProblem Problem() const = 0;
    // For a failure that is not the certificate's: the error as Qt's sockets word it
    // (in the program's language where Qt's own catalogue has it).
    virtual QString Detail() const = 0;
};

// Nothing, with *error, when caFile cannot be used.
std::unique_ptr<TTlsSession> StartTlsSession(SocketPlatform::Handle socket, const QByteArray& host,
                                             const QString& caFile, QString* error);
// How many certificates a PEM text holds; -1, with *error, when the TLS library cannot be
// used to read it.
int PemCertificateCount(const QByteArray& pem, QString* error);
