#pragma once

#include "http/NetworkOptions.h"
#include "http/SocketPlatform.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class THttpReplyParser;

// The road from an address to a connection that can carry a request, written once for
// both clients: each drives it its own way (blocking calls, or socket events) and words
// its failures its own way.
//
//   look up the proxy's name, or the origin's
//   try each address in turn until one connects
//   https behind a proxy: ask it for a tunnel (CONNECT) and read its answer
//   https: TLS to the origin's name, its certificate checked against that name
//   ready
struct TConnectionPlan {
    QByteArray Scheme;          // "http" or "https"
    QByteArray Host;            // the origin's
    quint16 PortNumber = 0;     // the origin's; 0 when the address names no usable port
    std::optional<TProxy> Proxy;    // none: direct
    QString CaFile;

    bool Https() const { return Scheme == "https"; }
    bool Tunnel() const { return Proxy && Https(); }
    // Where the socket goes: the proxy when there is one, it finds the origin.
    QByteArray DialHost() const { return Proxy ? Proxy->Host : Host; }
    quint16 DialPort() const { return Proxy ? Proxy->Port : PortNumber; }
    // The name TLS checks the certificate against: the origin's, never the proxy's, and
    // an international name in its ASCII form.
    QByteArray TlsName() const;
    // A kept connection serves a request with the same plan only: trusting other
    // authorities makes another plan, so a connection verified under more trust is not
    // taken for a request that trusts less.
    bool SameRoute(const TConnectionPlan& other) const
    {
        return Scheme == other.Scheme && Host == other.Host && PortNumber == other.PortNumber && Proxy == other.Proxy
            && CaFile == other.CaFile;
    }
};

// The plan for scheme://host:port with the network options' proxies and authorities.
TConnectionPlan PlanConnection(const QByteArray& scheme, const QByteArray& host, const QByteArray& port,
                               const TNetworkOptions& network);

// The Basic credentials a request carries, with the account's user name and password as
// the fallback. User information in the address, when there is any, replaces both: a
// user name from one place never pairs with a password from the other. Escapes in it are
// decoded ("%3A" is a ":" in a user name, "%40" an "@"), and the ends of each are
// trimmed of white space and control characters, wherever they came from. A proxy's
// address follows the same rule, with no account behind it.
struct TCredentials {
    QByteArray User;
    QByteArray Password;
};
TCredentials ChooseCredentials(bool hasUserInfo, const QByteArray& addressUser, const QByteArray& addressPassword,
                               const QByteArray& accountUser, const QByteArray& accountPassword);

// What a proxy answered to CONNECT, once its head is complete.
struct TTunnelAnswer {
    enum TKind { Open, Refused, Invalid } Kind = Invalid;
    int Code = 0;
    QByteArray Reason;
    // "Proxy refused the tunnel: <code> <reason>"
    QByteArray RefusalText() const;
};
TTunnelAnswer TunnelAnswer(const THttpReplyParser& parser);

// Each of a name's addresses in the resolver's order, handed out once.
class TAddressTurns {
public:
    explicit TAddressTurns(QList<SocketPlatform::Address> addresses = {}) : m_addresses(std::move(addresses)) {}
    std::optional<SocketPlatform::Address> Next()
    {
        if (m_next >= m_addresses.size())
            return std::nullopt;
        return m_addresses.at(m_next++);
    }

private:
    QList<SocketPlatform::Address> m_addresses;
    qsizetype m_next = 0;
};

// The steps of one plan, in their order. A face asks what comes next and reports how
// each step went; every step after the connect depends on the plan only.
class TConnectSteps {
public:
    enum TStep { LookUp, Connect, Tunnel, Tls, Ready, Failed };

    explicit TConnectSteps(TConnectionPlan plan) : m_plan(std::move(plan)) {}
    const TConnectionPlan& Plan() const { return m_plan; }
    TStep Step() const { return m_step; }

    // LookUp is done: Connect, or Failed when the name gave no address.
    TStep Resolved(const QList<SocketPlatform::Address>& addresses);
    // Connect: the address to try now (again after each failure); none when every one
    // failed, which ends the road.
    std::optional<SocketPlatform::Address> NextAddress() { return m_addresses.Next(); }
    // The socket is open: Tunnel, Tls or Ready.
    TStep Connected();
    // The proxy's answer to the tunnel request: Tls when it opened it, else Failed.
    TTunnelAnswer Answered(const THttpReplyParser& parser);
    // The handshake and the certificate's checks passed: Ready.
    TStep Encrypted() { return m_step = Ready; }

    // The head that asks the proxy for the tunnel; its credentials go here and nowhere else.
    QByteArray TunnelRequest() const;

private:
    TConnectionPlan m_plan;
    TStep m_step = LookUp;
    TAddressTurns m_addresses;
};
