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

// The platform's socket library cannot be loaded or lacks a function (never on POSIX,
// where the calls are linked in).
class SocketLibraryError : public EHttpClientError { using EHttpClientError::EHttpClientError; };
