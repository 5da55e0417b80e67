#pragma once

#include "http/ConnectionPlan.h"
#include "http/HttpReplyParser.h"
#include "http/HttpErrors.h"
#include "http/NetworkOptions.h"
#include "http/RequestHead.h"
#include "http/SocketPlatform.h"

#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class QSocketNotifier;
class TTlsSession;

enum THttpAuthType { httpAuthNone, httpAuthBasic, httpAuthNtlm };

enum THttpState {
    httpReady, httpNotConnected, httpConnected, httpDnsLookup, httpDnsLookupDone,
    httpWaitingHeader, httpWaitingBody, httpBodyReceived, httpWaitingProxyConnect,
    httpClosing, httpAborting
};

enum THttpRequest { httpABORT, httpGET, httpPOST, httpPUT, httpHEAD, httpCLOSE };

// What kept a request from a usable reply of the service.
enum class THttpCliFailure {
    None,
    Refused,        // the client itself would not start it: busy, a bad version
    Connection,     // no connection: the name, the address, a refusal, the time to connect
    Tls,            // the certificate was refused or the handshake failed
    Proxy,          // the proxy refused (407, or CONNECT not answered with 2xx) or spoke nonsense
    Transfer,       // the reply broke off, never came, took too long or went beyond the bounds
};

// One request (a POST unless Method says otherwise) as the caller describes it. Everything is copied when the request starts,
// so the caller may change or drop its value while the request runs.
struct THttpCliRequest {
    THttpRequest Method = httpPOST;     // httpPOST, httpPUT (with Body) or httpGET
    QByteArray URL;                     // http:// or https:// (port 443 by default; the certificate is verified)
    QByteArray Body;                    // sent as it is, in blocks of at most 8192 bytes
    QByteArray RequestVer = "1.0";      // "1.0" or "1.1"; anything else fails with code 5
    QByteArray Username;                // credentials written in the URL take precedence
    QByteArray Password;
    THttpAuthType ServerAuth = httpAuthNone;
    QByteArray Connection;
    QByteArray Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    QByteArray AcceptLanguage;
    QByteArray Agent = "Mozilla/4.0 (compatible; Brimlark_Simple)";
    QByteArray ContentTypePost = "application/x-www-form-urlencoded";
    bool NoCache = false;
    bool FollowRelocation = true;
    int LocationChangeMaxCount = 5;
    QByteArray Sender;
    QByteArray Reference;
    QByteArray Cookie;
    QDateTime ModifiedSince;            // invalid: no If-Modified-Since line
    QByteArray LocalAddr = "0.0.0.0";
    QIODevice* ReplyStream = nullptr;   // not owned; gets the body of the reply the request ends
                                        // with (not of relocations followed); none: dropped
    TNetworkOptions Network;            // proxies and extra trusted certificates
    // Written last. An "Authorization" among them, like Basic credentials, never follows
    // a relocation to another scheme, host or port.
    TExtraHeaders Headers;
};

// How one request ended. A request that failed (busy client, bad version, no connection,
// a refused certificate or TLS handshake, a proxy that refused the tunnel, a broken
// reply, the time limit, a status of 400 and above other than 401 and 407) has Failed
// set with the error's code and text; StatusCode and ReasonPhrase are the last reply's,
// or the failure's own where no usable reply came: 404 mostly, the proxy's status (and
// reason phrase) when it refused the tunnel. Why says what failed.
struct THttpCliResult {
    int StatusCode = 0;
    QByteArray ReasonPhrase;
    bool Failed = false;
    bool NoReply = false;               // failed before a usable reply: its status is the client's own
    THttpCliFailure Why = THttpCliFailure::None;   // with NoReply, and for a proxy's own 407
    quint16 ErrorCode = 0;
    QString ErrorMessage;
    QByteArray Location;                // the address the request ended at
    int Relocations = 0;                // relocations followed
    bool Truncated = false;             // the server closed before the stated body was complete, or
                                        // ended an https body without closing TLS properly

    // The service took the request: a 2xx reply and no failure.
    bool Accepted() const { return !Failed && StatusCode >= 200 && StatusCode < 300; }
};

// Event-driven HTTP client on the Qt event loop, over non-blocking sockets of its own.
// Start() begins a request and returns; Finished reports how it ended, from the loop, so
// nothing waits inside a window. One request at a time per client.
class THttpCli : public QObject {
    Q_OBJECT
public:
    explicit THttpCli(QObject* parent = nullptr);   // objectName "HttpCli1" by default
    ~THttpCli() override;

    // Settings of the client itself, read when a request starts.
    int Timeout = 60000;                // ms for a whole request; 0 waits without limit
    THttpReplyLimits ReplyLimits;    // beyond these a reply ends the request as 404

    // Starts one request (relocations included). True: Finished follows exactly once, from
    // the event loop, never from inside Start. False: the request was refused at once and
    // Finished does not follow; refusal (when given) says why: code 1 while another request
    // of this client runs (that one is left alone), code 5 for a version other than "1.0"
    // or "1.1", and "Connection aborted on request" when no application loop is there to
    // carry it. A request runs until its Finished has been emitted: a slot of Finished may
    // start the next one.
    bool Start(const THttpCliRequest& request, THttpCliResult* refusal = nullptr);
    // Ends the running request at once (the socket is closed there and then) and emits its
    // Finished before returning: failed with "Connection aborted on request", or with its
    // own ending when that came just before and was still on its way. Nothing when none runs.
    void Abort();
    bool Running() const { return m_running; }

    THttpState State() const { return m_state; }
    int LocationChangeCurCount() const { return m_locationChangeCurCount; }

    // Details of the last request, valid once it has finished.
    int StatusCode() const { return m_statusCode; }
    QByteArray ReasonPhrase() const { return m_reasonPhrase; }
    QByteArray ReplyVersion() const { return m_parser.Version(); }
    QByteArray ContentType() const { return m_parser.ContentType(); }
    qint64 ContentLength() const { return m_parser.ContentLength(); }
    QByteArray TransferEncoding() const { return m_parser.TransferEncoding(); }
    QByteArray ContentEncoding() const { return m_parser.ContentEncoding(); }
    QByteArray Location() const { return m_location; }
    QList<QByteArray> HeaderLines() const { return m_parser.HeaderLines(); }
    QList<QByteArray> Challenges() const { return m_parser.Challenges(); }
    bool ReplyTruncated() const { return m_parser.Truncated() || m_tlsCut; }
    qint64 BytesSent() const { return m_bytesSent; }
    qint64 BytesReceived() const { return m_bytesReceived; }

Q_SIGNALS:
    // Once for every request Start accepted.
    void Finished(const THttpCliResult& result);

private:
    enum TBasicState { basicNone, basicSent, basicDone };

    // Everything a request reads from the properties, taken when it starts, so a caller
    // that changes them meanwhile (a refused second Start) cannot disturb it.
    struct TWork {
        THttpRequest method = httpPOST;
        QByteArray scheme, host, port, path;
        QByteArray user, password, connection;
        QByteArray accept, acceptLanguage, agent, contentType, sender, reference, cookie;
        QDateTime modifiedSince;
        QByteArray localAddr;
        QByteArray requestVer;
        bool noCache = false;
        bool followRelocation = true;
        int maxRelocations = 5;
        bool withBody = true;
        TExtraHeaders headers;
        QPointer<QIODevice> reply;
        TNetworkOptions network;
        std::optional<TProxy> proxy;    // the route to scheme, host and port; none: direct
    };

    struct TLookup;
    enum TRead { ReadWaiting, ReadEnded, ReadGone };

    void startConnection();
    void forgetLookup();
    void startTls();
    void lookupDone(int generation, const QList<SocketPlatform::Address>& addresses);
    void connectNext(const QByteArray& failure);
    void onConnected();
    void sendConnect();
    void readProxyReply();
    void runHandshake();
    void onEncrypted();
    void onReadable();
    void onWritable();
    void checkIdleConnection();
    void sendRequest();
    void sendBody();
    void writeOut(const char* data, qint64 size, bool more);
    bool flushOut();
    bool mayQueueMore() const;
    qint64 pendingOut() const { return m_out.size() - m_outPos; }
    void sendFailed();
    TRead readReply(bool drain);
    void watch(bool read, bool write);
    void parsed(THttpReplyParser::TResult result);
    void connectionLost();
    void endOfReply(bool closed);
    bool followsRelocation() const;
    bool connectionEnds() const;
    void relocate();
    void failRequest(int code, const QByteArray& reason, THttpCliFailure why);
    void becomeReady();
    THttpCliResult endedResult();
    void report();
    void dropSocket();
    void onWake();
    void abortRequest();
    bool connectedTo(const TWork& w) const;
    bool idleConnectionUsable();
    QByteArray composeHeader() const;
    bool inHandshake() const;
    QByteArray tlsFailure(const QString& detail) const;
    QByteArray connectFailure(int number) const;

    THttpState m_state = httpReady;
    TWork m_work;
    TWork m_origin;             // the request as asked: credentials go to its origin only
    SocketPlatform::Handle m_socket = SocketPlatform::InvalidHandle;
    bool m_connected = false;
    bool m_https = false;       // the connection speaks (or is to speak) TLS
    std::unique_ptr<TTlsSession> m_tls;     // once the handshake has begun
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    int m_connectionId = 0;     // tells late calls for a dropped connection from the current one
    QByteArray m_out;           // bytes the socket has not taken yet (under TLS: not yet encrypted)
    qsizetype m_outPos = 0;
    bool m_sendBroken = false;  // a send failed: the loss is handled from the loop
    bool m_readWantsWrite = false;  // TLS must write before it can read on
    std::optional<TConnectSteps> m_steps;  // the road of the open (or opening) connection
    TCertificateProblem m_tlsProblem = TCertificateProblem::None;
    QString m_tlsDetail;
    bool m_tlsClosed = false;   // the server ended TLS with its close notice
    bool m_tlsCut = false;      // the last body ended with the connection, without that notice
    THttpCliFailure m_failure = THttpCliFailure::None;  // why the last request ended without a reply
    QByteArray m_proxyReason;   // the reason phrase of a proxy that refused the tunnel
    THttpReplyParser m_parser;
    TBasicState m_basic = basicNone;
    int m_statusCode = 0;
    QByteArray m_reasonPhrase;
    QByteArray m_location;
    int m_locationChangeCurCount = 0;
    qint64 m_bytesSent = 0;
    qint64 m_bytesReceived = 0;
    bool m_bodyDone = true;
    bool m_inSendBody = false;
    bool m_heldBack = false;    // the last direct send let the kernel wait for more
    int m_generation = 0;       // tells late name look-up results from the current one
    std::shared_ptr<TLookup> m_lookup;     // shared with a running name look-up
    std::optional<SocketPlatform::Address> m_local; // the local address asked for, if any
    bool m_ownFailure = false;  // the last request ended by the client, not by a reply
    QTimer m_timeoutTimer;
    QTimer m_wakeTimer;
    QTimer m_connectTimer;
    bool m_running = false;     // from Start until Finished has been emitted
    std::optional<THttpCliResult> m_ended;  // the result on its way to Finished
    int m_reportId = 0;         // tells a late report call from the current one
    QByteArray m_readBuf;
    QBuffer m_body;             // the running request's own copy of its body
};
