// Nothing the user chose is lost when the session ends without the close button: the
// settings file is written when a choice changes, and the system's requests to end
// (SIGTERM, SIGINT, SIGHUP, sent to the real program) close the window in order.
#include "FormHarness.h"
#include "LocalService.h"
#include "ScriptedServer.h"

#include "dialogs/uLoginSettings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <csignal>

using namespace harness;

namespace {

class SettingsOnChange : public FormTest {
protected:
    TMainState saved() const
    {
        TMainState state;
        LoadSettings(iniPath(), state);
        return state;
    }
};

TEST_F(SettingsOnChange, CredentialsModeTimersAndNotifyAreWrittenAtOnce)
{
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    auto form = makeForm(service.baseUrl());  // no account yet: the box, answered
    ASSERT_FALSE(QFile::exists(iniPath()));

    auto* login = form->findChild<TfrmLogin*>();
    ASSERT_NE(login, nullptr);
    QTimer::singleShot(0, login, [login] {
        login->editUsername->setText(QStringLiteral("demo"));
        login->editPassword->setText(QStringLiteral("demo"));
        QTest::mouseClick(login->btnOK, Qt::LeftButton);
    });
    trigger(*form, "mmLoginSet");
    EXPECT_EQ(saved().AccountName, QStringLiteral("demo")) << "written when OK was pressed";
    EXPECT_EQ(column(*form, 3).size(), 20);

    action(*form, "mmSuperSimpleMode")->trigger();
    EXPECT_EQ(saved().DisplayMode, 2);
    Q_EMIT action(*form, "mmView")->menu()->aboutToShow();
    action(*form, "mmAutoReload")->trigger();
    EXPECT_FALSE(saved().AutoReload);
    action(*form, "mmAutoRotation")->trigger();
    EXPECT_EQ(saved().AutoRotation, form->State().AutoRotation);
    action(*form, "mmAnonymous")->trigger();
    EXPECT_TRUE(saved().Anonymous);
}

// The real program, closed by a signal as a desktop session or a service manager closes
// it: the window closes in order, the settings are written and the process ends with 0.
class EndedBySignal : public ::testing::TestWithParam<int> {};

TEST_P(EndedBySignal, ClosesInOrderAndSaves)
{
    const QString exe = qEnvironmentVariable("BRIMLARK_EXE");
    if (exe.isEmpty())
        GTEST_SKIP() << "BRIMLARK_EXE is not set";
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n");  // demo / demo, scrambled
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    env.remove(QStringLiteral("BRIMLARK_API"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(exe, {QStringLiteral("--api"), QString::fromUtf8(service.baseUrl()), QStringLiteral("--settings"), ini,
                        QStringLiteral("--verbose")});
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("strActiveStateId=") && program.state() != QProcess::NotRunning && waited.elapsed() < 20000) {
        program.waitForReadyRead(200);
        output += program.readAll();
    }
    ASSERT_TRUE(output.contains("strActiveStateId=")) << output.constData();

    ::kill(static_cast<pid_t>(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(10000)) << "still running after the signal";
    output += program.readAll();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(program.exitCode(), 0) << output.constData();
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("iMode=") && written.contains("WindowX=")) << written.constData();
}

// Closed while its start-up read trickles in: the read is called off, its thread ends, and
// the process exits normally and soon, with its settings written.
TEST(EndedDuringARead, TheReadIsCalledOffAndTheProcessEndsNormally)
{
    const QString exe = qEnvironmentVariable("BRIMLARK_EXE");
    if (exe.isEmpty())
        GTEST_SKIP() << "BRIMLARK_EXE is not set";
    ScriptedServer server;
    const QByteArray reply = Ok(TimelineXml(ThreeRows()));
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::trickle(reply, 100),
                          ScriptedServer::Step::close()});
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n");
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(exe, {QStringLiteral("--api"), QString::fromUtf8(server.baseUrl()), QStringLiteral("--settings"), ini});
    QElapsedTimer waited;
    waited.start();
    while (server.connectionCount() == 0 && waited.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_EQ(server.connectionCount(), 1) << "the start-up read never came";
    QTest::qWait(300);  // well into the trickle

    QElapsedTimer closing;
    closing.start();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    const QByteArray output = program.readAll();
    EXPECT_LT(closing.elapsed(), 3000) << "the trickle alone would take " << reply.size() / 10 << " s";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(program.exitCode(), 0) << output.constData();
    EXPECT_FALSE(output.contains("still running")) << output.constData();
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("WindowX="));
}

INSTANTIATE_TEST_SUITE_P(Program, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

} // namespace
