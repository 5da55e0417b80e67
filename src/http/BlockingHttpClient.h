#pragma once

#include "http/BlockingConnection.h"
#include "http/ConnectionPlan.h"
#include "http/HeaderLines.h"
#include "http/HttpErrors.h"
#include "http/HttpReplyParser.h"
#include "http/NetworkOptions.h"
#include "http/RequestHead.h"

#include <QByteArray>

#include <optional>

// The request record; the system sets only the first three.
struct TBlockingHttpRequest {
    QByteArray Username;            // 8-bit: the caller passes UTF-8
    QByteArray Password;
    bool BasicAuthentication = false;
    QByteArray ContentType = "text/html";
    QByteArray Accept = "text/html, */*";
    QByteArray UserAgent = "Mozilla/3.0 (compatible; Brimlark_Simple)";
    TExtraHeaders Headers;          // written last, e.g. "Authorization: Bearer ..."
};

// The reply head of the last request.
struct TBlockingHttpReply {
    QByteArray StatusLine;
    THeaderLines HeaderLines{1024};
    int ResponseCode() const;
};

// Fetches one URL with GET and returns the reply body, blocking the calling thread.
// Every error it raises derives from EHttpClientError.
class TBlockingHttpClient {
public:
    TBlockingHttpClient();
    ~TBlockingHttpClient();
    TBlockingHttpClient(const TBlockingHttpClient&) = delete;
    TBlockingHttpClient& operator=(const TBlockingHttpClient&) = delete;

    TBlockingHttpRequest& Request();
    const TBlockingHttpReply& Response() const { return m_reply; }

    int ReadTimeout = 30000;        // ms; connect and each wait for data; 0 waits without limit
    int TotalTimeout = 60000;       // ms; the whole fetch, so a trickling peer cannot hold it; 0: none
    int MaxLineLength = 16384;
    int RecvBufferSize = 32768;
    qint64 MaxBodySize = 64 * 1024 * 1024;  // a larger announced or received body fails
    int MaxHeaderLines = 1000;      // over all heads of one reply, 100 replies included
    qint64 MaxHeaderSize = 256 * 1024;
    TTransportFactory TransportFactory;  // empty: a socket
    TNetworkOptions Network;        // proxies and extra trusted certificates
    // Set to true from another thread to call a running fetch off (ECancelled soon after,
    // within a fraction of a second while it waits for data). Null: not cancellable.
    const std::atomic<bool>* Cancelled = nullptr;

    // https goes over TLS (see TlsTransport.h): a refused certificate or a failed handshake
    // raises ETlsError, a proxy that will not open the tunnel EProxyError.

    QByteArray FetchText(const QByteArray& url);

    bool Connected() const { return m_connection.Connected(); }
    // Whether the last fetch got as far as sending its request: a failure before that
    // means no connection could be made.
    bool RequestSent() const { return m_requestSent; }
    void Disconnect() { m_connection.Close(); }

private:
    struct TTarget;
    QByteArray fetch(const QByteArray& url);
    TTarget prepare(const QByteArray& url);
    bool connectTo(const TTarget& target);
    void openTunnel(TConnectSteps& steps);
    QByteArray buildHead(const TTarget& target);
    void send(const QByteArray& head);
    void readHead();
    void readRest();
    void feed(bool headOnly);
    [[noreturn]] void raiseProtocolError();
    bool keepsAlive() const;

    TBlockingHttpRequest m_request;
    TBlockingHttpReply m_reply;
    TBlockingConnection m_connection;
    THttpReplyParser m_parser;      // the head and the body's framing, shared with the event-driven client
    QByteArray m_body;              // the reply's body as it arrives
    QByteArray m_received;          // one receive's bytes
    std::optional<TConnectionPlan> m_plan;  // of the open connection: it serves only the same route
    bool m_requestSent = false;
};
