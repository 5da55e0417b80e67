// The real program driven the way a user drives it: on a desktop of the test's own (Xvfb
// and openbox), keys typed with xdotool open the posting dialog (Alt+T), write a status
// and post it with Ctrl+Enter. The demo of "./dev run" runs over https with its private
// authority, so the post must take the road the read takes; the status must then be in
// the demo's database. And a program ended while its post hangs ends at once, normally.
#include "Desktop.h"
#include "LocalService.h"
#include "ProgramProcess.h"
#include "ScriptedServer.h"
#include "ServiceClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QString Xdotool(const QStringList& args, int timeoutMs = 5000)
{
    return Desktop::Run(QStringLiteral("xdotool"), args, timeoutMs).trimmed();
}

// The first visible window whose title matches, waiting up to timeoutMs; empty when none.
QString WaitForWindow(const QString& titlePattern, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QString ids = Xdotool({"search", "--onlyvisible", "--name", titlePattern});
        if (!ids.isEmpty() && ids.at(0).isDigit())
            return ids.section(QLatin1Char('\n'), 0, 0);
        QThread::msleep(200);
    }
    return {};
}

// One desktop for both tests: a second Xvfb started right after the first one ended did
// not always come up within its time on a loaded machine.
class DemoAsAUser : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "openssl"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                s_missing = tool;
        }
        if (s_missing.isEmpty()) {
            s_desktop = new Desktop;
            s_started = s_desktop->Start();
        }
    }
    static void TearDownTestSuite()
    {
        delete s_desktop;
        s_desktop = nullptr;
    }
    void SetUp() override
    {
        if (!s_missing.isEmpty())
            GTEST_SKIP() << s_missing.toStdString() << " is not installed";
        ASSERT_TRUE(s_started) << "Xvfb or openbox did not start";
    }
    static inline Desktop* s_desktop = nullptr;
    static inline bool s_started = false;
    static inline QString s_missing;
};

TEST_F(DemoAsAUser, PostsFromTheDialogWithCtrlEnterOverHttps)
{

    // A build folder of the demo's shape holding the real program and service.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir build(dir.path());
    ASSERT_TRUE(build.mkpath("tools/localservice") && build.mkpath("src"));
    ASSERT_TRUE(QFile::link(qEnvironmentVariable("BRIMLARK_LOCALSERVICE"), build.filePath("tools/localservice/localservice")));
    // A copy, not a link: the portable settings file goes beside the executable's real path.
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("BRIMLARK_EXE"), build.filePath("src/brimlark")));

    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.remove("DEMO_TLS");
    env.insert("QT_QPA_PLATFORM", "xcb");
    demo.setProcessEnvironment(env);
    demo.setProcessChannelMode(QProcess::ForwardedChannels);
    demo.start("bash", {qEnvironmentVariable("BRIMLARK_SOURCE_DIR") + "/tools/demo.sh", dir.path()});
    ASSERT_TRUE(demo.waitForStarted());

    const QString window = WaitForWindow(QStringLiteral("^Brimlark_Simple"), 30000);
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    const QString text = QStringLiteral("demo post by keyboard %1").arg(QCoreApplication::applicationPid());

    Xdotool({"windowactivate", "--sync", window});
    Xdotool({"key", "--clearmodifiers", "alt+t"});
    const QString dialog = WaitForWindow(QStringLiteral("^つぶやく$"), 10000);
    EXPECT_FALSE(dialog.isEmpty()) << "Alt+T did not open the posting dialog";
    Xdotool({"type", "--delay", "15", text});
    Xdotool({"key", "ctrl+Return"});

    // The dialog closes when the service took the post.
    QElapsedTimer clock;
    clock.start();
    while (!dialog.isEmpty() && clock.elapsed() < 15000
           && !Xdotool({"search", "--onlyvisible", "--name", "^つぶやく$"}).isEmpty())
        QThread::msleep(200);
    EXPECT_TRUE(Xdotool({"search", "--onlyvisible", "--name", "^つぶやく$"}).isEmpty())
        << "the dialog stayed open: the post was refused";

    const qint64 pid = Xdotool({"getwindowpid", window}).toLongLong();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(demo.waitForFinished(30000)) << "the demo did not end with the program";

    LocalService::Options options;
    options.dbPath = build.filePath("demo.sqlite");
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ServiceClient client(service);
    const auto reply = client.timeline();
    ASSERT_TRUE(reply && reply->status == 200);
    bool ok = false;
    const std::vector<ReadStatus> statuses = readTimeline(reply->body, &ok);
    ASSERT_TRUE(ok && !statuses.empty());
    EXPECT_EQ(statuses.front().text, text.toStdString());
}

// SIGTERM while the post waits for a server that never answers: the post is called off
// (its socket closed), and the process ends within the second with status 0.
TEST_F(DemoAsAUser, EndedWhileItsPostHangsTheProgramExitsAtOnce)
{

    const QByteArray statuses = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\">"
                                "<status><id>301</id><text>最初</text><favorited>false</favorited>"
                                "<user><name>太郎</name><screen_name>taro</screen_name></user></status></statuses>\n";
    const auto ok = [](const QByteArray& body) {
        return ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\nContent-Length: "
                                     + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    };
    ScriptedServer server;
    // The start-up read, then what follows the first frame: the mentions, the server's
    // configuration and who the account is (answered, or not, in any order).
    server.addConnection(ok(statuses));
    for (int i = 0; i < 3; ++i)
        server.addConnection(ok("<?xml version=\"1.0\"?><statuses type=\"array\"/>"));
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::waitForClose(60000)});

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    ASSERT_TRUE(WriteSettingsFile(ini));
    ProgramProcess program({QStringLiteral("--api"), QString::fromUtf8(server.baseUrl()), QStringLiteral("--settings"), ini},
                           {{}, QStringLiteral("xcb"), dir.filePath(QStringLiteral("cache"))});
    const QString window = WaitForWindow(QStringLiteral("^Brimlark_Simple"), 30000);
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    QElapsedTimer clock;
    clock.start();
    while (server.connectionCount() < 4 && clock.elapsed() < 10000)
        QThread::msleep(50);
    ASSERT_EQ(server.connectionCount(), 4);

    Xdotool({"windowactivate", "--sync", window});
    Xdotool({"key", "--clearmodifiers", "alt+t"});
    ASSERT_FALSE(WaitForWindow(QStringLiteral("^つぶやく$"), 10000).isEmpty()) << "Alt+T did not open the posting dialog";
    Xdotool({"type", "--delay", "15", "hangs"});
    Xdotool({"key", "ctrl+Return"});
    clock.restart();
    while (server.connectionCount() < 5 && clock.elapsed() < 10000)
        QThread::msleep(50);
    ASSERT_EQ(server.connectionCount(), 5) << "the post never came";
    QThread::msleep(200);
    ASSERT_TRUE(server.request(4).startsWith("POST /statuses/update.xml ")) << server.request(4).constData();

    clock.restart();
    ASSERT_TRUE(program.EndBy(SIGTERM)) << "still running after SIGTERM";
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(program.ExitedCleanly()) << program.Output().constData();
    // The post's socket was closed, not left for the server to time out.
    EXPECT_TRUE(server.waitForFinished(5, 2000));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
