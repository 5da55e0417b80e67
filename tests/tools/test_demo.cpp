// The demo script end to end, with a stand-in for the program: it must start the real
// local service (over https with a private authority it makes, or plain http when
// asked), hand its address and authority to the program, give the program a settings
// file with the demo account, pass the program's exit code on and clean up after.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

// Records its arguments and display, signs in with the settings file beside it, reads
// the timeline once, trusting only the authority of --ca-file for https, and ends with
// exit code 3.
constexpr const char* kStandIn = R"py(#!/usr/bin/env python3
import base64, os, ssl, sys, urllib.request, urllib.error
here = os.path.dirname(os.path.abspath(sys.argv[0]))
api = sys.argv[sys.argv.index('--api') + 1]
context = None
if '--ca-file' in sys.argv:
    context = ssl.create_default_context(cafile=sys.argv[sys.argv.index('--ca-file') + 1])
values = {}
with open(os.path.join(here, 'brimlark.ini'), 'rb') as f:
    for line in f.read().split(b'\n'):
        if b'=' in line:
            k, v = line.split(b'=', 1)
            values[k] = bytes(b ^ 0x5A for b in v)
user, password = values.get(b'USR', b''), values.get(b'PWD', b'')
request = urllib.request.Request(api + '/statuses/friends_timeline.xml')
request.add_header('Authorization', 'Basic ' + base64.b64encode(user + b':' + password).decode())
try:
    with urllib.request.urlopen(request, timeout=10, context=context) as reply:
        result = '%d %d' % (reply.status, reply.read().count(b'<status>'))
except urllib.error.HTTPError as e:
    result = '%d 0' % e.code
except urllib.error.URLError as e:
    result = 'failed: %s' % e.reason
with open(os.path.join(here, 'ran.txt'), 'w') as f:
    f.write('\n'.join([' '.join(sys.argv[1:]), os.environ.get('DISPLAY', ''), result]))
sys.exit(3)
)py";

class DemoScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString service = qEnvironmentVariable("BRIMLARK_LOCALSERVICE");
        ASSERT_FALSE(service.isEmpty());
        if (QStandardPaths::findExecutable("python3").isEmpty())
            GTEST_SKIP() << "python3 is needed for the stand-in program";
        QDir build(dir.path());
        ASSERT_TRUE(build.mkpath("tools/localservice") && build.mkpath("src"));
        ASSERT_TRUE(QFile::link(service, build.filePath("tools/localservice/localservice")));
        QFile program(build.filePath("src/brimlark"));
        ASSERT_TRUE(program.open(QIODevice::WriteOnly));
        program.write(kStandIn);
        program.close();
        program.setPermissions(program.permissions() | QFile::ExeOwner);
    }

    // Runs the script with the given arguments before the program's; returns its exit code.
    int runDemo(bool withDisplay, const QStringList& demoArgs = {}, const QByteArray& demoTls = {})
    {
        QFile::remove(QDir(dir.path()).filePath("src/ran.txt"));
        QProcess demo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("WAYLAND_DISPLAY");
        if (withDisplay)
            env.insert("DISPLAY", ":42");
        else
            env.remove("DISPLAY");
        env.remove("DEMO_TLS");
        if (!demoTls.isNull())
            env.insert("DEMO_TLS", demoTls);
        demo.setProcessEnvironment(env);
        demo.setProcessChannelMode(QProcess::ForwardedChannels);
        demo.start("bash", QStringList{qEnvironmentVariable("BRIMLARK_SOURCE_DIR") + "/tools/demo.sh", dir.path()}
                               + demoArgs + QStringList{"--extra"});
        if (!demo.waitForFinished(60000)) {
            demo.kill();
            demo.waitForFinished();
            return -1;
        }
        return demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -2;
    }

    QStringList ran() const
    {
        QFile f(QDir(dir.path()).filePath("src/ran.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n') : QStringList();
    }

    static bool accepts(quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", port);
        return socket.waitForConnected(2000);
    }

    QTemporaryDir dir;
};

TEST_F(DemoScript, RunsTheProgramOverHttpsWithItsOwnAuthorityAndCleansUpAfter)
{
    EXPECT_EQ(runDemo(true), 3) << "the program's exit code";
    const QStringList record = ran();
    ASSERT_EQ(record.size(), 3) << record.join('|').toStdString();
    const QStringList args = record[0].split(' ');
    ASSERT_EQ(args.size(), 5) << record[0].toStdString();
    EXPECT_EQ(args[0], "--ca-file");
    EXPECT_EQ(args[2], "--api");
    EXPECT_TRUE(args[3].startsWith("https://127.0.0.1:")) << args[3].toStdString();
    EXPECT_EQ(args[4], "--extra");
    EXPECT_EQ(record[2], "200 20") << "trusted the service through the given authority alone, signed in as demo "
                                      "and read the first page";

    QFile ini(QDir(dir.path()).filePath("src/brimlark.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), QByteArray("[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n"));
    EXPECT_TRUE(QFile::exists(QDir(dir.path()).filePath("demo.sqlite")));

    EXPECT_FALSE(QFileInfo::exists(QFileInfo(args[1]).path())) << "the keys go with the demo";
    const quint16 port = static_cast<quint16>(args[3].section(':', 2).toUInt());
    EXPECT_FALSE(accepts(port)) << "the service ends with the program";
}

TEST_F(DemoScript, RunsOverPlainHttpWhenAsked)
{
    for (const bool byOption : {true, false}) {
        EXPECT_EQ(runDemo(true, byOption ? QStringList{"--http"} : QStringList{}, byOption ? QByteArray() : "0"), 3);
        const QStringList record = ran();
        ASSERT_EQ(record.size(), 3) << byOption;
        const QStringList args = record[0].split(' ');
        ASSERT_EQ(args.size(), 3) << record[0].toStdString();
        EXPECT_EQ(args[0], "--api");
        EXPECT_TRUE(args[1].startsWith("http://127.0.0.1:")) << args[1].toStdString();
        EXPECT_EQ(record[2], "200 20") << byOption;
    }
}

TEST_F(DemoScript, KeepsAnExistingSettingsFile)
{
    const QByteArray own = "[App]\nWindowX=5\n";
    QFile ini(QDir(dir.path()).filePath("src/brimlark.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(own);
    ini.close();
    EXPECT_EQ(runDemo(true), 3);
    ASSERT_EQ(ran().size(), 3);
    EXPECT_EQ(ran()[2], "401 0") << "no account in the user's own file";
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), own);
}

TEST_F(DemoScript, UsesXvfbWhenThereIsNoDisplay)
{
    if (QStandardPaths::findExecutable("xvfb-run").isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed";
    EXPECT_EQ(runDemo(false), 3);
    const QStringList record = ran();
    ASSERT_EQ(record.size(), 3);
    EXPECT_FALSE(record[1].isEmpty()) << "the program got a display from xvfb-run";
    EXPECT_EQ(record[2], "200 20");
}

} // namespace
