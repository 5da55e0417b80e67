#include "http/HttpErrors.h"

#include "http/SocketErrors.h"

EHttpProtocolError::EHttpProtocolError(const QByteArray& statusLine, int replyCode, const QByteArray& replyBody)
    : EHttpClientError(QString::fromUtf8(statusLine)), m_replyCode(replyCode), m_replyBody(replyBody)
{
}

int EHttpProtocolError::ReplyCode() const
{
    return m_replyCode;
}

QByteArray EHttpProtocolError::ReplyBody() const
{
    return m_replyBody;
}

ESocketError::ESocketError(int errorNumber)
    : EHttpClientError(SocketErrors::Message(errorNumber)), m_errorNumber(errorNumber)
{
}
