#pragma once
// Shared helpers of the event-driven client's tests.

#include "http/HttpCli.h"
#include "LoopbackListener.h"
#include "ScriptedServer.h"

#include <QBuffer>
#include <QElapsedTimer>

#include <memory>

// What one Post ended with.
struct PostOutcome {
    bool raised = false;
    quint16 code = 0;
    QString message;
    int status = 0;
    QByteArray reason;
    qint64 elapsedMs = 0;
};

inline PostOutcome runPost(THttpCli& cli)
{
    PostOutcome o;
    QElapsedTimer t;
    t.start();
    try {
        cli.Post();
    } catch (const EHttpException& e) {
        o.raised = true;
        o.code = e.ErrorCode();
        o.message = e.Message();
    }
    o.elapsedMs = t.elapsed();
    o.status = cli.StatusCode();
    o.reason = cli.ReasonPhrase();
    return o;
}

// A client set up the way the posting dialog and the favourite request set theirs.
struct ConfiguredPost {
    THttpCli cli;
    QBuffer body;

    ConfiguredPost(const QByteArray& url, const QByteArray& bodyBytes,
                   const QByteArray& contentType = "application/x-www-form-urlencoded",
                   const QByteArray& user = "alice", const QByteArray& password = "secret")
    {
        cli.URL = url;
        body.setData(bodyBytes);
        body.open(QIODevice::ReadOnly);
        cli.BodyStream = &body;
        cli.Proxy.clear();
        cli.ProxyPort.clear();
        cli.Connection = "close";
        cli.ReplyStream = nullptr;
        cli.ContentTypePost = contentType;
        cli.SetRequestVer("1.1");
        cli.ServerAuth = httpAuthBasic;
        cli.Username = user;
        cli.Password = password;
        cli.AcceptLanguage = "ja,en,fr";
        cli.SetRequestVer("1.1");
    }
};

