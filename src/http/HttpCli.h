#pragma once
// CONTRACT SKETCH (to be completed by the event-driven client): names other layers rely on.

#include "Exception.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>

class EHttpException : public EBrimlarkError {
public:
    EHttpException(const QString& message, quint16 errorCode);
    quint16 ErrorCode() const;
};

enum THttpAuthType { httpAuthNone, httpAuthBasic, httpAuthNtlm };

// Event-driven HTTP client on the Qt event loop; Post() waits while the loop runs.
class THttpCli : public QObject {
    Q_OBJECT
public:
    explicit THttpCli(QObject* parent = nullptr);   // objectName "HttpCli1" by default
    ~THttpCli() override;

    // Plain properties (read when a request starts), initial values as the window sets them.
    QByteArray URL;
    QByteArray Proxy;
    QByteArray ProxyPort = "80";
    QByteArray Username;
    QByteArray Password;
    THttpAuthType ServerAuth = httpAuthNone;
    QByteArray Connection;
    QByteArray AcceptLanguage;
    QByteArray ContentTypePost = "application/x-www-form-urlencoded";
    QIODevice* BodyStream = nullptr;    // not owned; read from its current position
    QIODevice* ReplyStream = nullptr;   // not owned; none: the reply body is dropped
    int Timeout = 60000;                // ms; a request that takes longer ends as 404

    QByteArray RequestVer() const;
    void SetRequestVer(const QByteArray& version);  // "1.0" or "1.1", else EHttpException code 5

    void Post();                        // raises EHttpException per the error rule
    int StatusCode() const;
    QByteArray ReasonPhrase() const;
};
