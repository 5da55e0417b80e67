// https and proxies with real peers: nginx terminating TLS in front of the local service,
// and tinyproxy as the forward proxy for http and, through CONNECT, for https. Every
// certificate is made for the test. This binary links no widgets; it also runs the shipped
// program over both schemes.
#include "service/ReadOutcome.h"
#include "service/ServicePost.h"
#include "PostWait.h"
#include "service/TimelineRead.h"

#include "LocalService.h"
#include "Nginx.h"
#include "TestCertificates.h"
#include "Tinyproxy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

const TReadBounds kBounds{5000, 10000, 4 * 1024 * 1024};

bool Contains(const QList<TTimelineStatus>& rows, const QString& text)
{
    return std::any_of(rows.begin(), rows.end(), [&](const TTimelineStatus& row) { return row.Text == text; });
}

QString Unique(const char* what)
{
    static int n = 0;
    return QStringLiteral("%1 %2-%3").arg(QString::fromUtf8(what)).arg(QCoreApplication::applicationPid()).arg(++n);
}

} // namespace

class TlsAndProxies : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_certs = std::make_unique<TestCertificates>();
        LocalService::Options options;
        options.seed = true;
        s_service = std::make_unique<LocalService>(options);
        if (s_certs->isValid() && s_service->isRunning()) {
            s_nginx = std::make_unique<Nginx>(
                "location / { proxy_pass http://127.0.0.1:" + QByteArray::number(s_service->port()) + "/; }",
                QMap<QString, QByteArray>{}, Nginx::Tls{s_certs->serverCert(), s_certs->serverKey()});
        }
        s_proxy = std::make_unique<Tinyproxy>();
    }
    static void TearDownTestSuite()
    {
        s_proxy.reset();
        s_nginx.reset();
        s_service.reset();
        s_certs.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_certs->isValid()) << s_certs->errorString().toStdString();
        ASSERT_TRUE(s_service->isRunning()) << s_service->errorString().toStdString();
        ASSERT_TRUE(s_nginx && s_nginx->isRunning()) << (s_nginx ? s_nginx->errorString().toStdString() : "");
        ASSERT_TRUE(s_proxy->isRunning()) << s_proxy->errorString().toStdString();
        m_client.Timeout = 10000;
    }

    static TServiceAccount Https(TNetworkOptions network = {})
    {
        if (network.CaFile.isNull())
            network.CaFile = s_certs->caFile();
        return {QString::fromUtf8(s_nginx->baseUrl()), QStringLiteral("demo"), QStringLiteral("demo"), network};
    }
    static TServiceAccount Http(TNetworkOptions network = {})
    {
        return {QString::fromUtf8(s_service->baseUrl()), QStringLiteral("demo"), QStringLiteral("demo"), network};
    }
    static TNetworkOptions ThroughProxy(const QByteArray& url)
    {
        TNetworkOptions network;
        network.HttpProxy = network.HttpsProxy = ParseProxy(url);
        return network;
    }
    // Posts text and tells whether the first page then shows it.
    bool PostAndFind(const TServiceAccount& account, const QString& text)
    {
        const TPostOutcome outcome = PostStatusAndWait(m_client, account, StatusUpdateBody(StatusUpdateText(text)));
        EXPECT_TRUE(outcome.IsAccepted()) << PostFailureLines(outcome).join(u' ').toStdString();
        const TTimelinePage page = ReadTimelinePage(account, 1, kBounds);
        EXPECT_TRUE(page.Ok()) << page.Message.toStdString();
        return Contains(page.Rows, text);
    }

    THttpCli m_client;
    static inline std::unique_ptr<TestCertificates> s_certs;
    static inline std::unique_ptr<LocalService> s_service;
    static inline std::unique_ptr<Nginx> s_nginx;
    static inline std::unique_ptr<Tinyproxy> s_proxy;
};

TEST_F(TlsAndProxies, ReadPostAndFavouriteOverHttps)
{
    const QString text = Unique("https");
    EXPECT_TRUE(PostAndFind(Https(), text));
    const TTimelinePage page = ReadTimelinePage(Https(), 1, kBounds);
    ASSERT_TRUE(page.Ok());
    EXPECT_TRUE(PostFavoriteAndWait(m_client, Https(), page.Rows.first().Id).IsAccepted());
}

// http through the proxy: the absolute address goes to it, and the service still gets
// the account's credentials (it answers only signed requests).
TEST_F(TlsAndProxies, HttpThroughTheProxy)
{
    const TServiceAccount account = Http(ThroughProxy(s_proxy->proxyUrl()));
    EXPECT_TRUE(PostAndFind(account, Unique("via proxy")));
    EXPECT_TRUE(s_proxy->log().contains("GET " + s_service->baseUrl() + "/statuses/friends_timeline.xml"));
    EXPECT_TRUE(s_proxy->log().contains("POST " + s_service->baseUrl() + "/statuses/update.xml"));
}

// https through a CONNECT tunnel: the proxy sees where, never what; the credentials
// reach the service inside TLS.
TEST_F(TlsAndProxies, HttpsThroughATunnel)
{
    const TServiceAccount account = Https(ThroughProxy(s_proxy->proxyUrl()));
    const QByteArray before = s_proxy->log();
    EXPECT_TRUE(PostAndFind(account, Unique("tunnel")));
    const QByteArray log = s_proxy->log().mid(before.size());
    EXPECT_TRUE(log.contains("CONNECT 127.0.0.1:" + QByteArray::number(s_nginx->port()))) << log.constData();
    EXPECT_FALSE(log.contains("friends_timeline"));
    EXPECT_FALSE(log.contains(QByteArray("demo:demo").toBase64()));
    EXPECT_TRUE(s_nginx->accessLog().contains("POST /statuses/update.xml"));
}

// A read and a post refused the same way say so in the same words, and nothing is
// posted: a certificate from an authority not trusted, a proxy that wants credentials
// and got none (never read as the account's refusal). With the credentials written in
// its address the proxy lets both schemes through.
TEST_F(TlsAndProxies, RefusalsReadTheSameForAReadAndAPost)
{
    Tinyproxy::Options options;
    options.user = "pxuser";
    options.password = "pxpass";
    Tinyproxy guarded(options);
    ASSERT_TRUE(guarded.isRunning()) << guarded.errorString().toStdString();
    QByteArray anonymous = guarded.proxyUrl();
    anonymous.replace("pxuser:pxpass@", "");
    TServiceAccount untrusted = Https();
    untrusted.Network.CaFile.clear();
    const struct {
        TServiceAccount account;
        TReadFailure failure;
        QString line;
    } cases[] = {
        {untrusted, TReadFailure::Tls, QStringLiteral("証明書を拒否しました (127.0.0.1): 発行者を信頼できません")},
        {Https(ThroughProxy(anonymous)), TReadFailure::Proxy,
         QStringLiteral("プロキシが接続を拒否しました: 407 Proxy Authentication Required")},
    };
    for (const auto& c : cases) {
        const TTimelinePage page = ReadTimelinePage(c.account, 1, kBounds);
        EXPECT_EQ(page.Failure, c.failure);
        EXPECT_EQ(TimelineFailureLine(page), c.line);
        const QString text = Unique("refused");
        const TPostOutcome post = PostStatusAndWait(m_client, c.account, StatusUpdateBody(StatusUpdateText(text)));
        EXPECT_EQ(post.Kind, TPostOutcome::ConnectionFailure);
        EXPECT_EQ(PostFailureLines(post), QStringList{c.line});
        EXPECT_FALSE(Contains(ReadTimelinePage(Https(), 1, kBounds).Rows, text));
    }

    EXPECT_TRUE(ReadTimelinePage(Https(ThroughProxy(guarded.proxyUrl())), 1, kBounds).Ok());
    EXPECT_TRUE(ReadTimelinePage(Http(ThroughProxy(guarded.proxyUrl())), 1, kBounds).Ok());
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The shipped program over both schemes: OpenSSL is loaded when the first https read needs
// it, never for an http start-up. Each run is watched until its window shows a status
// ("strActiveStateId=" in the debug lines), then its mappings are looked at.
class ShippedProgram : public TlsAndProxies {
protected:
    // The program's mappings once it showed a status; empty when it never did.
    QByteArray MappingsWhenShowing(const QByteArray& api, const QStringList& extra = {})
    {
        const QString exe = qEnvironmentVariable("BRIMLARK_EXE");
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("brimlark.ini")));
        // The demo account, scrambled as the settings file keeps it.
        if (!ini.open(QIODevice::WriteOnly) || ini.write("[App]\nUSR=>?75\nPWD=>?75\n") < 0)
            return {};
        ini.close();
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("brimlark.debug.debug=true"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(exe, QStringList{QStringLiteral("--api"), QString::fromUtf8(api), QStringLiteral("--settings"),
                                       ini.fileName()} + extra);
        QByteArray output, maps;
        QElapsedTimer waited;
        waited.start();
        while (program.state() != QProcess::NotRunning && waited.elapsed() < 20000) {
            program.waitForReadyRead(200);
            output += program.readAll();
            if (output.contains("strActiveStateId=")) {
                QFile file(QStringLiteral("/proc/%1/maps").arg(program.processId()));
                if (file.open(QIODevice::ReadOnly))
                    maps = file.readAll();
                break;
            }
        }
        program.kill();
        program.waitForFinished();
        EXPECT_FALSE(maps.isEmpty()) << output.constData();
        return maps;
    }
};

TEST_F(ShippedProgram, LoadsTlsOnlyForHttps)
{
    if (qEnvironmentVariableIsEmpty("BRIMLARK_EXE"))
        GTEST_SKIP() << "BRIMLARK_EXE is not set";
    const QByteArray overHttp = MappingsWhenShowing(s_service->baseUrl());
    EXPECT_FALSE(overHttp.contains("libssl")) << "OpenSSL loaded for an http start-up";
    EXPECT_FALSE(overHttp.contains("libcrypto"));
    const QByteArray overHttps
        = MappingsWhenShowing(s_nginx->baseUrl(), {QStringLiteral("--ca-file"), s_certs->caFile()});
    EXPECT_TRUE(overHttps.contains("libssl.so"));
}
