#include "http/ConnectionPlan.h"

#include "http/HeaderLines.h"
#include "http/HostAddresses.h"
#include "http/HttpReplyParser.h"
#include "http/RequestHead.h"
#include "http/UrlText.h"

QByteArray TConnectionPlan::TlsName() const
{
    const QByteArray ace = AsciiHostName(Host);
    return ace.isEmpty() ? Host : ace;
}

TConnectionPlan PlanConnection(const QByteArray& scheme, const QByteArray& host, const QByteArray& port,
                               const TNetworkOptions& network)
{
    TConnectionPlan plan;
    plan.Scheme = scheme;
    plan.Host = host;
    plan.PortNumber = PortNumber(port.isEmpty() ? DefaultPort(scheme) : port);
    plan.Proxy = ProxyFor(network, scheme, host);
    plan.CaFile = network.CaFile;
    return plan;
}

TCredentials ChooseCredentials(bool hasUserInfo, const QByteArray& addressUser, const QByteArray& addressPassword,
                               const QByteArray& accountUser, const QByteArray& accountPassword)
{
    if (hasUserInfo) {
        return {THeaderLines::Trim(QByteArray::fromPercentEncoding(addressUser)),
                THeaderLines::Trim(QByteArray::fromPercentEncoding(addressPassword))};
    }
    return {THeaderLines::Trim(accountUser), THeaderLines::Trim(accountPassword)};
}

QByteArray TTunnelAnswer::RefusalText() const
{
    return ("Proxy refused the tunnel: " + QByteArray::number(Code) + ' ' + Reason).trimmed();
}

TTunnelAnswer TunnelAnswer(const THttpReplyParser& parser)
{
    TTunnelAnswer answer;
    answer.Code = parser.StatusCode();
    answer.Reason = parser.ReasonPhrase();
    answer.Kind = answer.Code < 100 ? TTunnelAnswer::Invalid
                : answer.Code / 100 == 2 ? TTunnelAnswer::Open
                                         : TTunnelAnswer::Refused;
    return answer;
}

TConnectSteps::TStep TConnectSteps::Resolved(const QList<SocketPlatform::Address>& addresses)
{
    m_addresses = TAddressTurns(addresses);
    return m_step = addresses.isEmpty() ? Failed : Connect;
}

TConnectSteps::TStep TConnectSteps::Connected()
{
    return m_step = m_plan.Tunnel() ? Tunnel : m_plan.Https() ? Tls : Ready;
}

TTunnelAnswer TConnectSteps::Answered(const THttpReplyParser& parser)
{
    const TTunnelAnswer answer = TunnelAnswer(parser);
    m_step = answer.Kind == TTunnelAnswer::Open ? Tls : Failed;
    return answer;
}

QByteArray TConnectSteps::TunnelRequest() const
{
    return ConnectRequest(*m_plan.Proxy, m_plan.Host, QByteArray::number(m_plan.PortNumber));
}
