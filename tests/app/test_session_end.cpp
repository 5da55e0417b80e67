// Nothing the user chose is lost when the session ends without the close button: the
// settings file is written when a choice changes, and the system's requests to end
// (SIGTERM, SIGINT, SIGHUP, sent to the real program) close the window in order.
#include "FormHarness.h"
#include "LocalService.h"
#include "ScriptedServer.h"
#include "SessionBus.h"

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

// The real program, started with a settings file (demo / demo, scrambled) and, when bus is
// given, that session bus (none: without one); its output so far is kept.
struct Started {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QByteArray output;

    // Waits until the output holds text or the program ended.
    bool waitFor(const QByteArray& text, int ms = 20000)
    {
        QElapsedTimer waited;
        waited.start();
        while (!output.contains(text) && process->state() != QProcess::NotRunning && waited.elapsed() < ms) {
            process->waitForReadyRead(100);
            output += process->readAll();
        }
        output += process->readAll();
        return output.contains(text);
    }
    // Ends it with sig; true when it ended normally with 0 within 10 s.
    bool end(int sig)
    {
        ::kill(static_cast<pid_t>(process->processId()), sig);
        const bool ended = process->waitForFinished(10000);
        output += process->readAll();
        return ended && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    }
};

QString Settings(const QTemporaryDir& dir, const char* name)
{
    const QString ini = dir.filePath(QLatin1String(name));
    QFile file(ini);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write("[App]\nUSR=\x3e\x3f\x37\x35\nPWD=\x3e\x3f\x37\x35\n");
    return ini;
}

Started StartProgram(const QByteArray& api, const QString& ini, const QString& bus = {})
{
    Started started;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), QFileInfo(ini).absolutePath() + QStringLiteral("/cache"));
    env.remove(QStringLiteral("BRIMLARK_API"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    if (!bus.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
    started.process->setProcessEnvironment(env);
    started.process->setProcessChannelMode(QProcess::MergedChannels);
    started.process->start(qEnvironmentVariable("BRIMLARK_EXE"),
                           {QStringLiteral("--api"), QString::fromUtf8(api), QStringLiteral("--settings"), ini,
                            QStringLiteral("--verbose")});
    return started;
}

bool Saved(const QString& ini)
{
    QFile file(ini);
    const QByteArray written = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return written.contains("iMode=") && written.contains("WindowX=");
}

class RealProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("BRIMLARK_EXE"))
            GTEST_SKIP() << "BRIMLARK_EXE is not set";
    }
    QTemporaryDir dir;
};

// Closed by a signal as a desktop session or a service manager closes it: the window
// closes in order, the settings are written and the process ends with 0.
class EndedBySignal : public RealProgram, public ::testing::WithParamInterface<int> {};

TEST_P(EndedBySignal, ClosesInOrderAndSaves)
{
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    Started program = StartProgram(service.baseUrl(), Settings(dir, "brimlark.ini"));
    ASSERT_TRUE(program.waitFor("strActiveStateId=")) << program.output.constData();
    EXPECT_TRUE(program.end(GetParam())) << program.output.constData();
    EXPECT_TRUE(Saved(dir.filePath(QStringLiteral("brimlark.ini"))));
}

// Closed while its start-up read trickles in: the read is called off, its thread ends, and
// the process exits normally and soon, with its settings written.
TEST_F(RealProgram, EndedDuringAReadCallsItOffAndEndsNormally)
{
    ScriptedServer server;
    const QByteArray reply = Ok(TimelineXml(ThreeRows()));
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::trickle(reply, 100),
                          ScriptedServer::Step::close()});
    Started program = StartProgram(server.baseUrl(), Settings(dir, "brimlark.ini"));
    QElapsedTimer waited;
    waited.start();
    while (server.connectionCount() == 0 && waited.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_EQ(server.connectionCount(), 1) << "the start-up read never came";
    QTest::qWait(300);  // well into the trickle

    QElapsedTimer closing;
    closing.start();
    EXPECT_TRUE(program.end(SIGTERM)) << program.output.constData();
    EXPECT_LT(closing.elapsed(), 3000) << "the trickle alone would take " << reply.size() / 10 << " s";
    EXPECT_FALSE(program.output.contains("still running")) << program.output.constData();
    EXPECT_TRUE(Saved(dir.filePath(QStringLiteral("brimlark.ini"))));
}

// A second start with the same settings file (by another path to it) brings the running
// window up and ends with 0; another settings file, or no session bus, runs beside it.
TEST_F(RealProgram, SecondStartWithTheSameSettingsRaisesTheFirstAndEnds)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath(QStringLiteral("link"))));

    Started first = StartProgram(service.baseUrl(), Settings(dir, "a.ini"), bus.address());
    ASSERT_TRUE(first.waitFor("strActiveStateId=")) << first.output.constData();
    Started second = StartProgram(service.baseUrl(), dir.filePath(QStringLiteral("link/a.ini")), bus.address());
    ASSERT_TRUE(second.process->waitForFinished(10000)) << "the second start went on";
    EXPECT_EQ(second.process->exitCode(), 0) << second.process->readAll().constData();
    EXPECT_TRUE(first.waitFor("another start with this settings file", 5000)) << first.output.constData();

    Started other = StartProgram(service.baseUrl(), Settings(dir, "b.ini"), bus.address());
    Started busless = StartProgram(service.baseUrl(), dir.filePath(QStringLiteral("a.ini")));
    for (Started* run : {&other, &busless}) {
        EXPECT_TRUE(run->waitFor("strActiveStateId=")) << run->output.constData();
        EXPECT_TRUE(run->end(SIGTERM));
    }
    EXPECT_TRUE(first.end(SIGTERM)) << first.output.constData();
}

INSTANTIATE_TEST_SUITE_P(Program, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

} // namespace
