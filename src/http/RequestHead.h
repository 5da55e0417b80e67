#pragma once

#include "http/NetworkOptions.h"

#include <QByteArray>
#include <QList>

#include <utility>

// A request head as both clients write it: the request line, then "Name: value" lines in
// the order they were added (a line whose value is empty is left out), CR LF after each,
// and an empty line. Each client adds its own lines in its own order.
class TRequestHead {
public:
    explicit TRequestHead(const QByteArray& requestLine) : m_text(requestLine + "\r\n") {}
    void Add(const char* name, const QByteArray& value)
    {
        if (!value.isEmpty())
            m_text += name + (": " + value) + "\r\n";
    }
    QByteArray Text() const { return m_text + "\r\n"; }

private:
    QByteArray m_text;
};

// Header lines a caller adds beyond a client's own, in order: a bearer token, an
// idempotency key. A client writes them after its own lines.
using TExtraHeaders = QList<std::pair<QByteArray, QByteArray>>;

// "Basic " and the Base64 form of user ":" password.
QByteArray BasicCredentials(const QByteArray& user, const QByteArray& password);

// The request target: through a proxy, plain http names the whole address; https goes
// through a tunnel and speaks to the server as if directly.
QByteArray RequestTarget(const std::optional<TProxy>& proxy, const QByteArray& scheme, const QByteArray& authority,
                         const QByteArray& target);
// The Proxy-Authorization value a request to a plain http proxy carries; empty for a
// proxy without credentials, and for https, whose proxy sees only the CONNECT.
QByteArray ProxyCredentials(const std::optional<TProxy>& proxy, const QByteArray& scheme);

// The head that asks a proxy for a tunnel to host:port; its credentials go here and
// nowhere else.
QByteArray ConnectRequest(const TProxy& proxy, const QByteArray& host, const QByteArray& port);
