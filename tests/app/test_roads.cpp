// Every call of the window goes the way its settings say: the start-up read, a post from
// the dialog and a favourite from the star, over https with the private authority named
// each of the three ways, through tinyproxy named by the environment or by the key,
// through CONNECT and through a proxy that wants credentials. Also: a post abandoned
// while the server swallows it gives the window back at once.
#include "FormHarness.h"
#include "LocalService.h"
#include "Nginx.h"
#include "ScriptedServer.h"
#include "TestCertificates.h"
#include "Tinyproxy.h"

#include "dialogs/uTwitt.h"
#include "service/TimelineRead.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace harness;

namespace {

const char* const kProxyVariables[] = {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                       "NO_PROXY", "BRIMLARK_CA_FILE"};

// Sets environment variables for one test and takes them away again.
class ScopedEnvironment {
public:
    void set(const char* name, const QByteArray& value)
    {
        qputenv(name, value);
        m_names.push_back(name);
    }
    ~ScopedEnvironment()
    {
        for (const char* name : m_names)
            qunsetenv(name);
    }

private:
    std::vector<const char*> m_names;
};

struct Road {
    const char* name;
    bool https;
    enum { CaOption, CaVariable, CaKey, None } ca;
    enum { Direct, ProxyVariable, ProxyKey, GuardedProxyKey } proxy;
};

class Roads : public FormTest, public ::testing::WithParamInterface<Road> {
protected:
    static void SetUpTestSuite()
    {
        for (const char* name : kProxyVariables)
            qunsetenv(name);
        s_certs = std::make_unique<TestCertificates>();
        LocalService::Options options;
        options.seed = true;
        s_service = std::make_unique<LocalService>(options);
        if (s_certs->isValid() && s_service->isRunning())
            s_nginx = std::make_unique<Nginx>(
                "location / { proxy_pass http://127.0.0.1:" + QByteArray::number(s_service->port()) + "/; }",
                QMap<QString, QByteArray>{}, Nginx::Tls{s_certs->serverCert(), s_certs->serverKey()});
        s_proxy = std::make_unique<Tinyproxy>();
        Tinyproxy::Options guarded;
        guarded.user = "pxuser";
        guarded.password = "pxpass";
        s_guarded = std::make_unique<Tinyproxy>(guarded);
    }
    static void TearDownTestSuite()
    {
        s_guarded.reset();
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
        ASSERT_TRUE(s_guarded->isRunning()) << s_guarded->errorString().toStdString();
    }

    // The window as main makes it, with the road's command line, environment and settings.
    std::unique_ptr<TForm1> makeRoadForm(const Road& road, ScopedEnvironment& env)
    {
        const QString base = QString::fromUtf8(road.https ? s_nginx->baseUrl() : s_service->baseUrl());
        QStringList arguments{QStringLiteral("brimlark"), QStringLiteral("--api"), base};
        if (road.ca == Road::CaOption)
            arguments << QStringLiteral("--ca-file") << s_certs->caFile();
        if (road.ca == Road::CaVariable)
            env.set("BRIMLARK_CA_FILE", s_certs->caFile().toUtf8());
        if (road.proxy == Road::ProxyVariable)
            env.set(road.https ? "https_proxy" : "http_proxy", s_proxy->proxyUrl());
        writeCredentials(QStringLiteral("demo"), QStringLiteral("demo"));
        // The file keeps these keys as the user wrote them; the program never writes them.
        QFile ini(iniPath());
        EXPECT_TRUE(ini.open(QIODevice::Append));
        if (road.ca == Road::CaKey)
            ini.write("CAFile=" + s_certs->caFile().toUtf8() + "\n");
        if (road.proxy == Road::ProxyKey)
            ini.write("Proxy=" + s_proxy->proxyUrl() + "\n");
        if (road.proxy == Road::GuardedProxyKey)
            ini.write("Proxy=" + s_guarded->proxyUrl() + "\n");
        ini.close();
        TForm1Options options;
        options.ReadServerConfig = false;
        options.SettingsFile = iniPath();
        options.PostCopyFile = m_dir.filePath(QStringLiteral("cache/post.txt"));
        options.Arguments = arguments;
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        waitIdle(*form);
        return form;
    }

    // Types text into the posting dialog opened from the menu and posts it with Ctrl+Enter,
    // as a user does; true when the dialog closed (the service took it).
    static bool postFromTheDialog(TForm1& form, const QString& text)
    {
        auto* dialog = form.findChild<TfrmTwitt*>();
        bool closed = false;
        QTimer::singleShot(0, &form, [&] {
            if (QApplication::activeModalWidget() != dialog)
                return;
            dialog->memoTwitt->setPlainText(text);
            QTest::keyClick(dialog->memoTwitt, Qt::Key_Return, Qt::ControlModifier);
            EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->Posting(); }, 30000));
            closed = !dialog->isVisible();
            if (dialog->isVisible())
                dialog->reject();
        });
        action(form, "mmTwitt")->trigger();
        return closed;
    }

    // The service's own view, read directly over http.
    static QList<TTimelineStatus> serviceRows()
    {
        const TTimelinePage page = ReadTimelinePage(
            TServiceAccount(QString::fromUtf8(s_service->baseUrl()), QStringLiteral("demo"), QStringLiteral("demo"), {}),
            1, TReadBounds{});
        EXPECT_TRUE(page.Ok()) << page.Message.toStdString();
        return page.Rows;
    }

    static inline std::unique_ptr<TestCertificates> s_certs;
    static inline std::unique_ptr<LocalService> s_service;
    static inline std::unique_ptr<Nginx> s_nginx;
    static inline std::unique_ptr<Tinyproxy> s_proxy;
    static inline std::unique_ptr<Tinyproxy> s_guarded;
};

TEST_P(Roads, ReadPostAndFavouriteTakeTheSameRoad)
{
    const Road& road = GetParam();
    ScopedEnvironment env;
    const QByteArray proxyLogBefore = s_proxy->log();
    auto form = makeRoadForm(road, env);

    // The start-up read.
    ASSERT_EQ(column(*form, 3).size(), 20) << trace(*form).join(u'|').toStdString();

    // A post from the dialog.
    const QString text = QStringLiteral("%1 の道 %2").arg(QString::fromLatin1(road.name)).arg(QCoreApplication::applicationPid());
    EXPECT_TRUE(postFromTheDialog(*form, text)) << trace(*form).join(u'|').toStdString();

    // A favourite from the star, on a status that is not one yet.
    const int row = int(column(*form, 2).indexOf(QStringLiteral("false")));
    ASSERT_GE(row, 0);
    const QString id = column(*form, 3)[row];
    setCurrentRow(*form, row);
    form->Image1Click();
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_TRUE(goldStar(*form));
    for (const QString& line : trace(*form))
        EXPECT_FALSE(line.startsWith(QLatin1String("Post Failed"))) << line.toStdString();

    const QList<TTimelineStatus> rows = serviceRows();
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.first().Text, text);
    const auto favourite = std::find_if(rows.begin(), rows.end(), [&](const TTimelineStatus& r) { return r.Id == id; });
    if (favourite != rows.end()) {
        EXPECT_EQ(favourite->Favorited, QStringLiteral("true"));
    }

    // Each call went through the proxy the road names: the full address for http, a
    // tunnel for https.
    if (road.proxy == Road::ProxyVariable || road.proxy == Road::ProxyKey) {
        const QByteArray log = s_proxy->log().mid(proxyLogBefore.size());
        if (road.https) {
            EXPECT_GE(log.count("CONNECT 127.0.0.1:" + QByteArray::number(s_nginx->port())), 3) << log.constData();
        } else {
            for (const QByteArray& path : {QByteArray("/statuses/friends_timeline.xml"), QByteArray("/statuses/update.xml"),
                                           "/favorites/create/" + id.toLatin1() + ".xml"})
                EXPECT_TRUE(log.contains(s_service->baseUrl() + path)) << path.constData() << "\n" << log.constData();
        }
    }
    if (road.proxy == Road::GuardedProxyKey) {
        EXPECT_GE(s_guarded->log().count("CONNECT 127.0.0.1:" + QByteArray::number(s_nginx->port())), 3);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, Roads,
    ::testing::Values(Road{"https_ca_option", true, Road::CaOption, Road::Direct},
                      Road{"https_ca_variable", true, Road::CaVariable, Road::Direct},
                      Road{"https_ca_key", true, Road::CaKey, Road::Direct},
                      Road{"http_proxy_variable", false, Road::None, Road::ProxyVariable},
                      Road{"http_proxy_key", false, Road::None, Road::ProxyKey},
                      Road{"https_tunnel_variable", true, Road::CaOption, Road::ProxyVariable},
                      Road{"https_tunnel_with_credentials", true, Road::CaKey, Road::GuardedProxyKey}),
    [](const ::testing::TestParamInfo<Road>& info) { return std::string(info.param.name); });

// A post to a server that takes the request and never answers, then キャンセル: the
// request ends at once (the server sees the socket close), the dialog closes with the
// text kept, the window's commands are unlocked and the status line says the post was
// abandoned and may have reached the server.
class AbandonedPost : public FormTest {};

TEST_F(AbandonedPost, CancelGivesTheWindowBackAtOnce)
{
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ScriptedServer swallower;
    swallower.setDefaultScript({ScriptedServer::Step::readRequest(), ScriptedServer::Step::waitForClose(30000)});

    writeCredentials(QStringLiteral("demo"), QStringLiteral("demo"));
    auto form = makeForm(service.baseUrl());
    form->show();
    form->State().ApiBase = QString::fromLatin1(swallower.baseUrl());
    auto* dialog = form->findChild<TfrmTwitt*>();
    ASSERT_NE(dialog, nullptr);
    const QString text = QStringLiteral("届かないかもしれない投稿");

    QElapsedTimer clock;
    bool postingAtCancel = false;
    bool reloadLockedDuringPost = false;
    QTimer::singleShot(0, form.get(), [&] {
        ASSERT_EQ(QApplication::activeModalWidget(), dialog);
        dialog->memoTwitt->setPlainText(text);
        QTimer::singleShot(300, dialog, [&] {
            reloadLockedDuringPost = !action(*form, "mmReload")->isEnabled();
            postingAtCancel = dialog->Posting();
            clock.start();
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        });
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
    });
    action(*form, "mmTwitt")->trigger();
    // The dialog's modal run has ended and the window is back.
    const qint64 cancelToReturnMs = clock.isValid() ? clock.elapsed() : -1;

    EXPECT_TRUE(reloadLockedDuringPost);
    ASSERT_TRUE(postingAtCancel) << "the post ended before キャンセル was pressed";
    ASSERT_GE(cancelToReturnMs, 0);
    EXPECT_LT(cancelToReturnMs, 1000);
    EXPECT_TRUE(swallower.waitForFinished(1, 2000)) << "the request's socket was closed";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(action(*form, "mmReload")->isEnabled());
    EXPECT_EQ(trace(*form).last(), QStringLiteral("投稿を中止しました。サーバーには届いている可能性があります"));
    EXPECT_EQ(dialog->memoTwitt->toPlainText(), text);
    EXPECT_TRUE(swallower.request(0).startsWith("POST /statuses/update.xml HTTP/1.1\r\n"));
}

} // namespace
