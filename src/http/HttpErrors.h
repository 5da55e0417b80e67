#pragma once

#include "text/Exception.h"

#include <QByteArray>

// General error of the blocking transport; every blocking-client error derives from it.
class EHttpClientError : public EBrimlarkError { using EBrimlarkError::EBrimlarkError; };

// A reply that is not a success. Message: the status line as received.
class EHttpProtocolError : public EHttpClientError {
public:
    EHttpProtocolError(const QByteArray& statusLine, int replyCode, const QByteArray& replyBody);
    int ReplyCode() const;
    QByteArray ReplyBody() const;

private:
    int m_replyCode;
    QByteArray m_replyBody;
};

// A socket call failed. Message: "Socket Error # <n>" CR LF and the error's text.
class ESocketError : public EHttpClientError {
public:
    explicit ESocketError(int errorNumber);
    int LastError() const { return m_errorNumber; }

private:
    int m_errorNumber;
};

// The peer closed the connection where more data was required.
class EConnectionClosed : public EHttpClientError {
public:
    EConnectionClosed() : EHttpClientError(QStringLiteral("Connection Closed Gracefully.")) {}
};

// A read or write without a connection.
class ENotConnected : public EHttpClientError {
public:
    ENotConnected() : EHttpClientError(QStringLiteral("Not Connected")) {}
};

// A line longer than the connection's MaxLineLength.
class ELineTooLong : public EHttpClientError {
public:
    ELineTooLong() : EHttpClientError(QStringLiteral("Max line length exceeded.")) {}
};

// No data within the read time-out (or the whole fetch took longer than allowed).
// The fetch was called off from another thread (the window closed during it).
class ECancelled : public EHttpClientError {
public:
    ECancelled() : EHttpClientError(QStringLiteral("Cancelled")) {}
};

class EReadTimeout : public EHttpClientError {
public:
    EReadTimeout() : EHttpClientError(QStringLiteral("Read Timeout")) {}
};

// The server did not accept the connection within the time-out.
class EConnectTimeout : public EHttpClientError {
public:
    EConnectTimeout() : EHttpClientError(QStringLiteral("Connect timed out.")) {}
};

// A scheme other than http or https without a port. Empty message.
class EUnknownProtocol : public EHttpClientError {
public:
    EUnknownProtocol() : EHttpClientError(QString()) {}
};

// An https URL: no secure transport is installed.
class EInvalidIOHandler : public EHttpClientError {
public:
    EInvalidIOHandler() : EHttpClientError(QStringLiteral("IOHandler value is not valid")) {}
};

// A proxy that would not open a tunnel (its answer to CONNECT was not a success).
// Message: "Proxy refused the tunnel: <code> <reason>".
class EProxyError : public EHttpClientError {
public:
    EProxyError(int replyCode, const QByteArray& reason)
        : EHttpClientError(QStringLiteral("Proxy refused the tunnel: %1 %2").arg(replyCode).arg(QString::fromLatin1(reason)).trimmed()),
          m_replyCode(replyCode), m_reason(reason) {}
    int ReplyCode() const { return m_replyCode; }
    QByteArray Reason() const { return m_reason; }

private:
    int m_replyCode;
    QByteArray m_reason;
};

// The platform's socket library cannot be loaded or lacks a function (never on POSIX,
// where the calls are linked in).
class SocketLibraryError : public EHttpClientError { using EHttpClientError::EHttpClientError; };

// Why a server's certificate was refused.
enum class TCertificateProblem {
    None,               // the certificate was fine; the handshake failed for another reason
    UntrustedIssuer,    // no trusted authority signed it (self-signed or unknown CA)
    Expired,
    NotYetValid,
    HostMismatch,       // issued for another name
    Other,
};

// A TLS connection could not be made: the certificate was refused, or the handshake
// broke off, timed out or met a peer that does not speak TLS. Message: a line in the
// program's language (Japanese unless English is loaded) naming the host and the reason
// (TlsFailureText).
class ETlsError : public EHttpClientError {
public:
    ETlsError(const QByteArray& host, TCertificateProblem problem, const QString& detail);
    QByteArray Host() const { return m_host; }
    TCertificateProblem Problem() const { return m_problem; }
    QString Detail() const { return m_detail; }

private:
    QByteArray m_host;
    TCertificateProblem m_problem;
    QString m_detail;
};

// The one table of texts for TLS failures, shared by both clients: "証明書を拒否しました
// (host): reason" for a refused certificate, "TLS 接続を確立できませんでした (host):
// detail" for any other handshake failure.
QString TlsFailureText(const QByteArray& host, TCertificateProblem problem, const QString& detail);
