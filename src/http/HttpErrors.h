#pragma once
// CONTRACT SKETCH (to be completed by the blocking client): names other layers rely on.

#include "Exception.h"

#include <QByteArray>

// General error of the blocking transport; every blocking-client error derives from it.
class EHttpClientError : public EBrimlarkError { using EBrimlarkError::EBrimlarkError; };

// A reply that is not a success. Message: the status line as received.
class EHttpProtocolError : public EHttpClientError {
public:
    EHttpProtocolError(const QByteArray& statusLine, int replyCode, const QByteArray& replyBody);
    int ReplyCode() const;
    QByteArray ReplyBody() const;
};
