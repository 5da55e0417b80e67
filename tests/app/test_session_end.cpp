// Nothing the user chose is lost when the session ends without the close button: the
// settings file is written when a choice changes, and the system's requests to end
// (SIGTERM, SIGINT, SIGHUP, sent to the real program) close the window in order.
#include "FormHarness.h"
#include "LocalService.h"
#include "ProgramProcess.h"
#include "ScriptedServer.h"
#include "SessionBus.h"

#include "dialogs/uLoginSettings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <memory>

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
class ProgramEnded : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramProcess::BuiltExecutable().isEmpty())
            GTEST_SKIP() << "BRIMLARK_EXE is not set";
        ASSERT_TRUE(WriteSettingsFile(ini));
    }
    QByteArray written() const
    {
        QFile file(ini);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    const ProgramProcess::Options options{{}, QStringLiteral("offscreen"), dir.filePath(QStringLiteral("cache"))};
};
class EndedBySignal : public ProgramEnded, public ::testing::WithParamInterface<int> {};

TEST_P(EndedBySignal, ClosesInOrderAndSaves)
{
    LocalService::Options seeded;
    seeded.seed = true;
    LocalService service(seeded);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ProgramProcess program({QStringLiteral("--api"), QString::fromUtf8(service.baseUrl()), QStringLiteral("--settings"),
                            ini, QStringLiteral("--verbose")},
                           options);
    ASSERT_TRUE(program.WaitForOutput("strActiveStateId=")) << program.Output().constData();

    ASSERT_TRUE(program.EndBy(GetParam())) << "still running after the signal";
    EXPECT_TRUE(program.ExitedCleanly()) << program.Output().constData();
    EXPECT_TRUE(written().contains("iMode=") && written().contains("WindowX=")) << written().constData();
}

// With a box waiting for an answer (the start-up's missing credentials; with settings
// that cannot be written, the close's box about them too) the boxes go and the process
// ends in order within the second.
TEST_P(EndedBySignal, WithABoxUpTheBoxesGoAndTheProcessEndsInOrder)
{
    for (const QString& settings : {dir.filePath(QStringLiteral("new.ini")), ini + QStringLiteral("/below-a-file.ini")}) {
        ProgramProcess program({QStringLiteral("--api"), QStringLiteral("http://127.0.0.1:9"), QStringLiteral("--settings"),
                                settings, QStringLiteral("--verbose")},
                               options);
        ASSERT_TRUE(program.WaitForOutput("a box asks for them")) << program.Output().constData();
        ASSERT_TRUE(program.EndBy(GetParam(), 1500)) << "still waiting for an answer";
        EXPECT_TRUE(program.ExitedCleanly()) << program.Output().constData();
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("new.ini"))));
}

// Closed while its start-up read trickles in: the read is called off, its thread ends, and
// the process exits normally and soon, with its settings written.
TEST_F(ProgramEnded, DuringAReadTheReadIsCalledOffAndTheProcessEndsNormally)
{
    ScriptedServer server;
    const QByteArray reply = Ok(TimelineXml(ThreeRows()));
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::trickle(reply, 100),
                          ScriptedServer::Step::close()});
    ProgramProcess program({QStringLiteral("--api"), QString::fromUtf8(server.baseUrl()), QStringLiteral("--settings"), ini},
                           options);
    WaitUntil([&] { return server.connectionCount() > 0; }, 10000);
    ASSERT_EQ(server.connectionCount(), 1) << "the start-up read never came";
    QTest::qWait(300);  // well into the trickle

    QElapsedTimer closing;
    closing.start();
    ASSERT_TRUE(program.EndBy(SIGTERM));
    EXPECT_LT(closing.elapsed(), 3000) << "the trickle alone would take " << reply.size() / 10 << " s";
    EXPECT_TRUE(program.ExitedCleanly()) << program.Output().constData();
    EXPECT_FALSE(program.Output().contains("still running")) << program.Output().constData();
    EXPECT_TRUE(written().contains("WindowX="));
}

// A second start with the same settings file (by another path to it) brings the running
// window up and ends with 0; another settings file, or no session bus, runs beside it.
TEST_F(ProgramEnded, SecondStartWithTheSameSettingsRaisesTheFirstAndEnds)
{
    SessionBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.errorString().toStdString();
    LocalService::Options seeded;
    seeded.seed = true;
    LocalService service(seeded);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath(QStringLiteral("link"))));
    const QString other = dir.filePath(QStringLiteral("other.ini"));
    ASSERT_TRUE(WriteSettingsFile(other));
    const auto start = [&](const QString& settings, bool onBus) {
        ProgramProcess::Options o = options;
        o.environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        o.environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (onBus)
            o.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        return std::make_unique<ProgramProcess>(
            QStringList{QStringLiteral("--api"), QString::fromUtf8(service.baseUrl()), QStringLiteral("--settings"),
                        settings, QStringLiteral("--verbose")},
            o);
    };

    auto first = start(ini, true);
    ASSERT_TRUE(first->WaitForOutput("strActiveStateId=")) << first->Output().constData();
    auto second = start(dir.filePath(QStringLiteral("link/brimlark.ini")), true);
    EXPECT_EQ(second->Finish(10000), 0) << second->Output().constData();
    EXPECT_TRUE(first->WaitForOutput("another start with this settings file", 5000)) << first->Output().constData();

    auto beside = start(other, true);
    auto busless = start(ini, false);
    for (ProgramProcess* run : {beside.get(), busless.get()}) {
        EXPECT_TRUE(run->WaitForOutput("strActiveStateId=")) << run->Output().constData();
        EXPECT_TRUE(run->EndBy(SIGTERM) && run->ExitedCleanly()) << run->Output().constData();
    }
    EXPECT_TRUE(first->EndBy(SIGTERM) && first->ExitedCleanly()) << first->Output().constData();
}

INSTANTIATE_TEST_SUITE_P(Program, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

} // namespace
