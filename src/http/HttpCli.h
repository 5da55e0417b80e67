#pragma once

#include "text/Exception.h"
#include "http/HttpCliReplyParser.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QEventLoop;
class QTcpSocket;

class EHttpException : public EBrimlarkError {
public:
    EHttpException(const QString& message, quint16 errorCode);
    quint16 ErrorCode() const;

private:
    quint16 m_errorCode;
};

enum THttpAuthType { httpAuthNone, httpAuthBasic, httpAuthNtlm };

enum THttpState {
    httpReady, httpNotConnected, httpConnected, httpDnsLookup, httpDnsLookupDone,
    httpWaitingHeader, httpWaitingBody, httpBodyReceived, httpWaitingProxyConnect,
    httpClosing, httpAborting
};

enum THttpRequest { httpABORT, httpGET, httpPOST, httpPUT, httpHEAD, httpCLOSE };

enum THttpOption : unsigned {
    httpoNoBasicAuth = 1, httpoNoNTLMAuth = 2, httpoBandwidthControl = 4,
    httpoEnableContentCoding = 8, httpoUseQuality = 16
};

// Event-driven HTTP client on the Qt event loop; Post() waits while the loop runs, so
// timers and menus keep working. One request at a time per client.
class THttpCli : public QObject {
    Q_OBJECT
public:
    explicit THttpCli(QObject* parent = nullptr);   // objectName "HttpCli1" by default
    ~THttpCli() override;

    // Plain properties, copied when a request starts.
    QByteArray URL;
    QByteArray Proxy;                   // not supported: requests always go direct
    QByteArray ProxyPort = "80";
    QByteArray Username;
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
    int BandwidthLimit = 10000;         // kept with the stored form; throttling is not built
    int BandwidthSampling = 1000;
    unsigned Options = 0;               // THttpOption bits; only httpoNoBasicAuth has an effect
    QByteArray Sender;
    QByteArray Reference;
    QByteArray Cookie;
    QDateTime ModifiedSince;            // invalid: no If-Modified-Since line
    QByteArray LocalAddr = "0.0.0.0";
    bool MultiThreaded = false;         // true: the wait leaves user input queued
    QIODevice* BodyStream = nullptr;    // not owned; read from its current position
    QIODevice* ReplyStream = nullptr;   // not owned; none: the reply body is dropped
    int Timeout = 60000;                // ms for a whole Post; 0 waits without limit
    THttpCliReplyLimits ReplyLimits;    // beyond these a reply ends the request as 404

    QByteArray RequestVer() const { return m_requestVer; }
    void SetRequestVer(const QByteArray& version);  // "1.0" or "1.1", else EHttpException code 5

    // Runs one POST to its end (relocations included); raises EHttpException for a
    // failure or a status of 400 and above other than 401 and 407.
    void Post();

    THttpState State() const { return m_state; }
    int LocationChangeCurCount() const { return m_locationChangeCurCount; }

    // Results of the last request, valid after Post returns or raises.
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
    // The server closed the connection before the stated body or head was complete.
    bool ReplyTruncated() const { return m_parser.Truncated(); }
    qint64 BytesSent() const { return m_bytesSent; }
    qint64 BytesReceived() const { return m_bytesReceived; }

private:
    enum TBasicState { basicNone, basicSent, basicDone };

    // Everything a request reads from the properties, taken when it starts, so a caller
    // that changes them during the wait (a refused second Post) cannot disturb it.
    struct TWork {
        THttpRequest method = httpPOST;
        QByteArray scheme, host, port, path;
        QByteArray user, password, connection;
        QByteArray accept, acceptLanguage, agent, contentType, sender, reference, cookie;
        QDateTime modifiedSince;
        QByteArray localAddr;
        bool noCache = false;
        bool followRelocation = true;
        int maxRelocations = 5;
        QPointer<QIODevice> body;
        QPointer<QIODevice> reply;
    };

    void startConnection();
    void lookupDone(int generation, const QList<QByteArray>& addresses, bool ok);
    void onConnected();
    void onReadyRead();
    void onBytesWritten();
    void onSocketError();
    void onDisconnected();
    void sendRequest();
    void sendBody();
    void writeOut(const char* data, qint64 size, bool more);
    void parsed(THttpCliReplyParser::TResult result);
    void connectionLost();
    void endOfReply(bool closed);
    void relocate();
    void failRequest(int code, const QByteArray& reason);
    void becomeReady();
    void dropSocket();
    void onWake();
    void abortRequest();
    bool connectedTo(const TWork& w) const;
    QByteArray composeHeader() const;

    QByteArray m_requestVer = "1.0";
    THttpState m_state = httpReady;
    TWork m_work;
    QTcpSocket* m_socket = nullptr;
    QByteArray m_connScheme, m_connHost, m_connPort;
    THttpCliReplyParser m_parser;
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
    int m_lookupId = -1;
    QTimer m_timeoutTimer;
    QTimer m_wakeTimer;
    QEventLoop* m_waitLoop = nullptr;
    QByteArray m_readBuf;
};
