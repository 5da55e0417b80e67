// The service calls through a real nginx in front of the local service: a path prefix,
// Basic authentication done by the proxy, relocations answered by it, a dead backend and
// a chunked reply. This binary links no widgets.
#include "service/ServicePost.h"
#include "PostWait.h"
#include "service/TimelineRead.h"

#include "LocalService.h"
#include "LoopbackListener.h"
#include "Nginx.h"
#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Relocation {
    int code;
    QByteArray reason;  // as nginx words it
};

const Relocation kNotRepeated[] = {{301, "Moved Permanently"}, {302, "Moved Temporarily"}, {303, "See Other"}};
const Relocation kRepeated[] = {{307, "Temporary Redirect"}, {308, "Permanent Redirect"}};

// nginx checks alice / secret itself and talks to the service as the demo account, so
// only nginx can be the one that refuses a wrong password.
QByteArray Htpasswd()
{
    return "alice:{SHA}" + QCryptographicHash::hash("secret", QCryptographicHash::Sha1).toBase64() + "\n";
}

QByteArray ServerBlock(quint16 service, quint16 elsewhere)
{
    const QByteArray backend = "http://127.0.0.1:" + QByteArray::number(service) + "/";
    QByteArray conf = "location /api/ { proxy_pass " + backend + "; }\n"
                      "location /locked/ { auth_basic \"brimlark\"; auth_basic_user_file @DIR@/htpasswd;\n"
                      "  proxy_set_header Authorization \"Basic " + QByteArray("demo:demo").toBase64() + "\";\n"
                      "  proxy_pass " + backend + "; }\n"
                      // SSI drops the backend's length, so nginx must chunk the reply.
                      "location /chunked/ { proxy_pass " + backend + "; ssi on; ssi_types application/xml; }\n"
                      "location /down/ { proxy_pass http://127.0.0.1:" + QByteArray::number(ClosedLoopbackPort()) + "/; }\n"
                      "location ~ ^/away(/.*)$ { return 307 http://127.0.0.1:" + QByteArray::number(elsewhere) + "/elsewhere$1; }\n"
                      "location /closed/ { return 302 /maintenance.html; }\n"
                      "location = /maintenance.html { default_type text/html; return 200 \"<html><body>maintenance</body></html>\"; }\n"
                      "location ~ ^/hop1(/.*)$ { return 307 /api$1; }\n";
    // /rCODE answers every path with that relocation to the same path under /api.
    for (const int code : {301, 302, 303, 307, 308})
        conf += "location ~ ^/r" + QByteArray::number(code) + "(/.*)$ { return " + QByteArray::number(code) + " /api$1; }\n";
    // /hopN reaches the service after N relocations.
    for (int n = 2; n <= 6; ++n)
        conf += "location ~ ^/hop" + QByteArray::number(n) + "(/.*)$ { return 307 /hop" + QByteArray::number(n - 1) + "$1; }\n";
    return conf;
}

const TReadBounds kBounds{5000, 10000, 4 * 1024 * 1024};

} // namespace

// One service and one nginx for the whole suite; every post carries its own text.
class ThroughNginx : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LocalService::Options options;
        options.seed = true;
        s_service = std::make_unique<LocalService>(options);
        s_elsewhere = std::make_unique<ScriptedServer>();
        if (s_service->isRunning())
            s_nginx = std::make_unique<Nginx>(ServerBlock(s_service->port(), s_elsewhere->port()),
                                              QMap<QString, QByteArray>{{QStringLiteral("htpasswd"), Htpasswd()}});
    }
    static void TearDownTestSuite()
    {
        s_nginx.reset();
        s_elsewhere.reset();
        s_service.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_service->isRunning()) << s_service->errorString().toStdString();
        ASSERT_TRUE(s_nginx && s_nginx->isRunning()) << s_nginx->errorString().toStdString();
        m_client.Timeout = 5000;
    }

    static TServiceAccount Through(const QByteArray& location, const char* user = "demo", const char* password = "demo")
    {
        return {QString::fromUtf8(s_nginx->baseUrl() + location), QString::fromLatin1(user), QString::fromLatin1(password), {}};
    }
    static QList<TTimelineStatus> FirstPage()
    {
        const TTimelinePage page = ReadTimelinePage(Through("/api"), 1, kBounds);
        EXPECT_TRUE(page.Ok()) << page.Message.toStdString();
        return page.Rows;
    }
    static const TTimelineStatus* Find(const QList<TTimelineStatus>& rows, const QString& text)
    {
        for (const TTimelineStatus& row : rows) {
            if (row.Text == text)
                return &row;
        }
        return nullptr;
    }
    // Posts through the plain prefix and gives the stored status's id.
    QString PostDirect(const QString& text)
    {
        EXPECT_TRUE(PostStatusAndWait(m_client, Through("/api"), StatusUpdateBody(StatusUpdateText(text))).IsAccepted());
        const QList<TTimelineStatus> rows = FirstPage();
        const TTimelineStatus* row = Find(rows, text);
        return row ? row->Id : QString();
    }
    static TPostOutcome Failure(int code, const QByteArray& reason) { return {TPostOutcome::HttpFailure, code, reason, {}, {}}; }

    THttpCli m_client;

    static inline std::unique_ptr<LocalService> s_service;
    static inline std::unique_ptr<ScriptedServer> s_elsewhere;
    static inline std::unique_ptr<Nginx> s_nginx;
};

bool operator==(const TPostOutcome& a, const TPostOutcome& b)
{
    return a.Kind == b.Kind && a.StatusCode == b.StatusCode && a.ReasonPhrase == b.ReasonPhrase;
}

void PrintTo(const TPostOutcome& o, std::ostream* os)
{
    *os << "{kind " << o.Kind << ", " << o.StatusCode << " " << o.ReasonPhrase.toStdString() << "}";
}

void PrintTo(const QString& s, std::ostream* os)
{
    *os << s.toStdString();
}

TEST_F(ThroughNginx, ServiceUnderAPathPrefix)
{
    const TTimelinePage page = ReadTimelinePage(Through("/api"), 1, kBounds);
    ASSERT_TRUE(page.Ok()) << page.Message.toStdString();
    EXPECT_FALSE(page.Rows.isEmpty());

    const QString text = QStringLiteral("nginx の奥へ");
    ASSERT_TRUE(PostStatusAndWait(m_client, Through("/api"), StatusUpdateBody(StatusUpdateText(text))).IsAccepted());
    EXPECT_EQ(FirstPage().value(0).Text, text);
    EXPECT_TRUE(s_nginx->accessLog().contains("\"POST /api/statuses/update.xml HTTP/1.1\" 200"));
}

TEST_F(ThroughNginx, BasicAuthenticationByTheProxy)
{
    const TTimelinePage right = ReadTimelinePage(Through("/locked", "alice", "secret"), 1, kBounds);
    EXPECT_TRUE(right.Ok()) << right.Message.toStdString();

    const TTimelinePage wrong = ReadTimelinePage(Through("/locked", "alice", "wrong"), 1, kBounds);
    EXPECT_EQ(wrong.Failure, TReadFailure::Refused);
    EXPECT_EQ(wrong.StatusCode, 401);
    EXPECT_EQ(PostStatusAndWait(m_client, Through("/locked", "alice", "wrong"), "status=x"), Failure(401, "Unauthorized"));
}

// 301, 302 and 303 would turn the post into a GET: it is not followed at all.
TEST_F(ThroughNginx, PostNotRepeatedAfterMovedOrSeeOther)
{
    for (const auto& [code, reason] : kNotRepeated) {
        const QByteArray via = "/r" + QByteArray::number(code);
        const QString text = QStringLiteral("relocated by %1").arg(code);
        const QString target = PostDirect(QStringLiteral("favourite target %1").arg(code));
        EXPECT_EQ(PostStatusAndWait(m_client, Through(via), StatusUpdateBody(StatusUpdateText(text))), Failure(code, reason));
        EXPECT_EQ(PostFavoriteAndWait(m_client, Through(via), target), Failure(code, reason));

        const QList<TTimelineStatus> rows = FirstPage();
        EXPECT_EQ(Find(rows, text), nullptr) << code;
        const TTimelineStatus* favourite = Find(rows, QStringLiteral("favourite target %1").arg(code));
        ASSERT_NE(favourite, nullptr);
        EXPECT_EQ(favourite->Favorited, QStringLiteral("false")) << code;
    }
}

// 307 and 308 keep the method and the body, for at most five relocations in a row.
TEST_F(ThroughNginx, PostRepeatedAfterTemporaryOrPermanentRedirect)
{
    for (const auto& [code, reason] : kRepeated) {
        const QByteArray via = "/r" + QByteArray::number(code);
        const QString text = QStringLiteral("repeated by %1").arg(code);
        const QString target = PostDirect(QStringLiteral("favourite target %1").arg(code));
        EXPECT_TRUE(PostStatusAndWait(m_client, Through(via), StatusUpdateBody(StatusUpdateText(text))).IsAccepted()) << code;
        EXPECT_TRUE(PostFavoriteAndWait(m_client, Through(via), target).IsAccepted()) << code;

        const QList<TTimelineStatus> rows = FirstPage();
        EXPECT_NE(Find(rows, text), nullptr) << code;
        const TTimelineStatus* favourite = Find(rows, QStringLiteral("favourite target %1").arg(code));
        ASSERT_NE(favourite, nullptr);
        EXPECT_EQ(favourite->Favorited, QStringLiteral("true")) << code;
    }

    EXPECT_TRUE(PostStatusAndWait(m_client, Through("/hop5"), StatusUpdateBody("after five")).IsAccepted());
    EXPECT_EQ(PostStatusAndWait(m_client, Through("/hop6"), StatusUpdateBody("after six")), Failure(307, "Temporary Redirect"));
    const QList<TTimelineStatus> rows = FirstPage();
    EXPECT_NE(Find(rows, QStringLiteral("after five")), nullptr);
    EXPECT_EQ(Find(rows, QStringLiteral("after six")), nullptr);
}

TEST_F(ThroughNginx, CredentialsStayWithTheirOrigin)
{
    s_elsewhere->addConnection(ScriptedServer::reply(
        "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: 9\r\nConnection: close\r\n\r\n<status/>"));
    PostStatusAndWait(m_client, Through("/away"), "status=x");
    ASSERT_TRUE(s_elsewhere->waitForFinished(1, 3000));
    const QByteArray received = s_elsewhere->request(0);
    EXPECT_TRUE(received.startsWith("POST /elsewhere/statuses/update.xml HTTP/1.1\r\n")) << received.toStdString();
    EXPECT_FALSE(received.contains("Authorization:")) << received.toStdString();
}

TEST_F(ThroughNginx, MaintenancePageAfterARelocationIsNoSuccess)
{
    EXPECT_EQ(PostStatusAndWait(m_client, Through("/closed"), StatusUpdateBody("during maintenance")),
              Failure(302, "Moved Temporarily"));
}

TEST_F(ThroughNginx, BadGatewayWhenTheBackendIsGone)
{
    const TTimelinePage page = ReadTimelinePage(Through("/down"), 1, kBounds);
    EXPECT_EQ(page.Failure, TReadFailure::HttpStatus);
    EXPECT_EQ(page.StatusCode, 502);
    EXPECT_EQ(page.ReasonPhrase, "Bad Gateway");
    EXPECT_EQ(PostStatusAndWait(m_client, Through("/down"), "status=x"), Failure(502, "Bad Gateway"));
}

TEST_F(ThroughNginx, ChunkedTimelineReadsEveryRow)
{
    QTcpSocket raw;
    raw.connectToHost(QStringLiteral("127.0.0.1"), s_nginx->port());
    ASSERT_TRUE(raw.waitForConnected(3000));
    raw.write("GET /chunked/statuses/friends_timeline.xml HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
              "Authorization: Basic " + QByteArray("demo:demo").toBase64() + "\r\n\r\n");
    QByteArray reply;
    while (raw.state() == QAbstractSocket::ConnectedState && raw.waitForReadyRead(3000))
        reply += raw.readAll();
    reply += raw.readAll();
    const QByteArray head = reply.left(reply.indexOf("\r\n\r\n") + 2);
    ASSERT_TRUE(head.startsWith("HTTP/1.1 200 OK\r\n")) << head.toStdString();
    ASSERT_TRUE(head.contains("\r\nTransfer-Encoding: chunked\r\n")) << head.toStdString();

    const TTimelinePage chunked = ReadTimelinePage(Through("/chunked"), 1, kBounds);
    ASSERT_TRUE(chunked.Ok()) << chunked.Message.toStdString();
    const QList<TTimelineStatus> plain = FirstPage();
    EXPECT_FALSE(plain.isEmpty());
    EXPECT_EQ(chunked.Rows, plain);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
