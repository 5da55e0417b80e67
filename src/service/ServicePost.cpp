#include "service/ServicePost.h"

#include "http/HttpCli.h"

void PrepareServicePost(THttpCli& client, const QByteArray& url, QIODevice* body,
                        const QByteArray& contentType, const TMainState& state)
{
    client.URL = url;
    client.BodyStream = body;
    client.Proxy.clear();
    client.ProxyPort.clear();
    client.Connection = "close";
    client.ReplyStream = nullptr;
    client.ContentTypePost = contentType;
    client.SetRequestVer("1.1");
    client.ServerAuth = httpAuthBasic;
    client.Username = state.AccountName.toUtf8();
    client.Password = state.Password.toUtf8();
    client.AcceptLanguage = "ja,en,fr";
}

QStringList PostFailureLines(int statusCode, const QByteArray& reasonPhrase)
{
    return {QStringLiteral("Post Failed ! StatusCode   = %1").arg(statusCode),
            QStringLiteral("ReasonPhrase = ") + QString::fromUtf8(reasonPhrase)};
}
