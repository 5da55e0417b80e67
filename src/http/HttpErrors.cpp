#include "http/HttpErrors.h"

#include "http/SocketErrors.h"

#include <QCoreApplication>

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

ETlsError::ETlsError(const QByteArray& host, TCertificateProblem problem, const QString& detail)
    : EHttpClientError(TlsFailureText(host, problem, detail)), m_host(host), m_problem(problem), m_detail(detail)
{
}

QString TlsFailureText(const QByteArray& host, TCertificateProblem problem, const QString& detail)
{
    const QString h = QString::fromUtf8(host);
    switch (problem) {
    case TCertificateProblem::None:
        return QCoreApplication::translate("HttpErrors", "TLS 接続を確立できませんでした (%1): %2").arg(h, detail);
    case TCertificateProblem::UntrustedIssuer:
        return QCoreApplication::translate("HttpErrors", "証明書を拒否しました (%1): 発行者を信頼できません").arg(h);
    case TCertificateProblem::Expired:
        return QCoreApplication::translate("HttpErrors", "証明書を拒否しました (%1): 有効期限が切れています").arg(h);
    case TCertificateProblem::NotYetValid:
        return QCoreApplication::translate("HttpErrors", "証明書を拒否しました (%1): まだ有効になっていません").arg(h);
    case TCertificateProblem::HostMismatch:
        return QCoreApplication::translate("HttpErrors", "証明書を拒否しました (%1): ホスト名が一致しません").arg(h);
    case TCertificateProblem::Other:
        break;
    }
    return QCoreApplication::translate("HttpErrors", "証明書を拒否しました (%1): %2").arg(h, detail);
}
