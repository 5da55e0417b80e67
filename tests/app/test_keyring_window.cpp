// The password in the keyring through the real window and the real program, against the
// local service: the start-up read waits for the keyring's answer and the first frame,
// the settings file keeps the password where there is no keyring and the window says so
// once, a close waits for the keyring, and a portable copy never asks it.
#include "FormHarness.h"
#include "LocalService.h"
#include "ProgramProcess.h"
#include "SecretService.h"

#include "dialogs/uLoginSettings.h"
#include "settings/IniFile.h"
#include "settings/PasswordStore.h"
#include "support/TestFiles.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace harness;

namespace {

const QString kNote = QStringLiteral("キーリングが使えないため、パスワードは設定ファイルに保存します");

// One keyring for the whole run, made at first use: the keyring library keeps its
// connection for the life of the process.
std::unique_ptr<SecretService> s_keyring;
SecretService& Keyring()
{
    if (!s_keyring) {
        s_keyring = std::make_unique<SecretService>();
        s_keyring->UseInThisProcess();
    }
    return *s_keyring;
}
class StopKeyring : public ::testing::Environment {
    void TearDown() override { s_keyring.reset(); }
};
[[maybe_unused]] ::testing::Environment* const s_stopKeyring = ::testing::AddGlobalTestEnvironment(new StopKeyring);

QByteArray FilePwd(const QString& ini)
{
    return TIniFile::FromBytes(ReadAll(ini)).Value("App", "PWD").value_or("(none)");
}

// What the keyring holds for an account, read by a store of its own.
QString InKeyring(const QString& account, const QString& api)
{
    TPasswordStore store(true);
    QSignalSpy read(&store, &TPasswordStore::PasswordRead);
    TMainState state;
    state.AccountName = account;
    state.ApiBase = api;
    EXPECT_TRUE(store.StartRead(state));
    EXPECT_TRUE(read.wait(10000));
    return read.isEmpty() ? QStringLiteral("(no answer)") : read.first().first().toString();
}

class KeyringWindow : public FormTest {
protected:
    void SetUp() override
    {
        LocalService::Options options;
        options.seed = true;
        m_service = std::make_unique<LocalService>(options);
        ASSERT_TRUE(m_service->isRunning()) << m_service->errorString().toStdString();
    }
    // The window of an installed program: the password goes to the keyring.
    std::unique_ptr<TForm1> openWindow()
    {
        TForm1Options options;
        options.ReadServerConfig = false;
        options.SettingsFile = iniPath();
        options.Keyring = TKeyringPolicy::ByDefault;
        options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(m_service->baseUrl())};
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        return form;
    }
    static void signIn(TForm1& form)
    {
        auto* login = form.findChild<TfrmLogin*>();
        ASSERT_NE(login, nullptr);
        QTimer::singleShot(0, login, [login] {
            login->editUsername->setText(QStringLiteral("demo"));
            login->editPassword->setText(QStringLiteral("demo"));
            QTest::mouseClick(login->btnOK, Qt::LeftButton);
        });
        trigger(form, "mmLoginSet");
    }
    std::unique_ptr<LocalService> m_service;
};

// First in the run: with no session bus the keyring library is never called, so the
// tests after it still connect to their keyring.
TEST_F(KeyringWindow, WithoutABusThePasswordStaysInTheFileAndTheWindowSaysSoOnce)
{
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    writeSettings([](TMainState& s) { s.AccountName = QStringLiteral("demo"); });
    auto form = openWindow();
    waitIdle(*form);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_TRUE(m_boxes.boxes[0].text.startsWith(QStringLiteral("キーリングがロックされているか使えない")))
        << m_boxes.boxes[0].text.toStdString();
    // A reload while the credentials are being entered shows no box over the dialog.
    QTimer::singleShot(0, form.get(), [&form] { form->TimerAutoReloadTimer(); });
    signIn(*form);
    EXPECT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(rowCount(*form), 20);
    action(*form, "mmSuperSimpleMode")->trigger();  // a second save
    EXPECT_EQ(trace(*form).count(kNote), 1);
    EXPECT_EQ(FilePwd(iniPath()), ScrambleText("demo"));

    auto* login = form->findChild<TfrmLogin*>();
    login->show();
    EXPECT_TRUE(login->lblPasswordNote->isVisible());
    EXPECT_EQ(login->lblPasswordNote->text(), kNote);
    EXPECT_FALSE(login->lblPasswordNote->geometry().intersects(login->btnOK->geometry()));
    EXPECT_TRUE(login->rect().contains(login->lblPasswordNote->geometry()));
    login->hide();
}

// A keyring slow to answer holds nothing the user does: ログイン設定 chosen meanwhile
// opens when the password has come, and a close takes the window away at once.
TEST_F(KeyringWindow, TheStartUpReadWaitsForTheKeyringAndTheFirstFrame)
{
    ASSERT_TRUE(Keyring().isRunning()) << Keyring().errorString().toStdString();
    {
        auto form = openWindow();
        waitIdle(*form);  // no account yet: the box, answered
        signIn(*form);
        EXPECT_EQ(rowCount(*form), 20);
        EXPECT_TRUE(QTest::qWaitFor([&] { return FilePwd(iniPath()).isEmpty(); }, 10000)) << "saved again without it";
    }
    EXPECT_EQ(InKeyring(QStringLiteral("demo"), QString::fromUtf8(m_service->baseUrl())), QStringLiteral("demo"));

    // What the trace held when the window was first painted: the read had not begun.
    m_boxes.boxes.clear();
    std::optional<QStringList> traceAtFirstPaint;
    Keyring().Pause(true);
    auto form = openWindow();
    struct FirstPaint : QObject {
        std::function<void()> seen;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && seen)
                std::exchange(seen, nullptr)();
            return false;
        }
    } firstPaint;
    firstPaint.seen = [&] { traceAtFirstPaint = trace(*form); };
    form->installEventFilter(&firstPaint);
    for (QWidget* child : form->findChildren<QWidget*>())
        child->installEventFilter(&firstPaint);
    EXPECT_TRUE(form->Reading()) << "the start-up read is held for the password";
    auto* login = form->findChild<TfrmLogin*>();
    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (login->isVisible() && std::exchange(shown, login->editPassword->text()).isEmpty())
            QTest::mouseClick(login->btnOK, Qt::LeftButton);
    });
    answer.start(10);
    action(*form, "mmLoginSet")->trigger();
    QTest::qWait(300);
    EXPECT_TRUE(shown.isEmpty()) << "opened before the password came";
    Keyring().Pause(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rowCount(*form) == 20; }, 20000));
    EXPECT_EQ(shown, QStringLiteral("demo")) << "the dialog opens with the keyring's password";
    ASSERT_TRUE(traceAtFirstPaint.has_value());
    EXPECT_FALSE(traceAtFirstPaint->contains(QStringLiteral("ロード中..."))) << traceAtFirstPaint->join(u'|').toStdString();
    EXPECT_TRUE(m_boxes.boxes.empty()) << "no box for missing credentials";
    EXPECT_EQ(form->State().Password, QStringLiteral("demo"));
    EXPECT_FALSE(trace(*form).contains(kNote));

    QSignalSpy closed(form.get(), &TForm1::Closed);
    Keyring().Pause(true);
    form->State().Password = QStringLiteral("changed");  // not what the keyring holds
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(closed.isEmpty()) << "the close waits for the keyring";
    Keyring().Pause(false);
    EXPECT_TRUE(closed.wait(10000));
}

// The real program, closed by SIGTERM: installed, the password that its settings file
// still held is in the keyring and out of the file; a portable copy leaves both alone.
class EndedProgram : public ::testing::TestWithParam<bool> {};

TEST_P(EndedProgram, TheInstalledOneMovesThePasswordAtCloseThePortableOneNever)
{
    const bool portable = GetParam();
    ASSERT_TRUE(Keyring().isRunning()) << Keyring().errorString().toStdString();
    LocalService::Options options;
    options.seed = true;
    LocalService service(options);
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    QTemporaryDir dir;
    QString exe = ProgramProcess::BuiltExecutable();
    ASSERT_FALSE(exe.isEmpty());
    QString ini = dir.filePath(QStringLiteral("config/brimlark/brimlark.ini"));
    if (portable) {
        // A copy with its settings beside it, as on a memory stick.
        ASSERT_TRUE(QFile::copy(exe, dir.filePath(QStringLiteral("brimlark"))));
        exe = dir.filePath(QStringLiteral("brimlark"));
        ini = dir.filePath(QStringLiteral("brimlark.ini"));
    }
    ASSERT_TRUE(WriteSettingsFile(ini, kDemoAccountSettings + QByteArray("PasswordStore=keyring\n")));
    ProgramProcess::Options run;
    run.executable = exe;
    run.cacheHome = dir.filePath(QStringLiteral("cache"));
    run.environment = Keyring().ClientEnvironment(QProcessEnvironment::systemEnvironment());
    run.environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    ProgramProcess program({QStringLiteral("--api"), QString::fromUtf8(service.baseUrl()), QStringLiteral("--verbose")}, run);
    ASSERT_TRUE(program.WaitForOutput("strActiveStateId=")) << program.Output().constData();
    ASSERT_TRUE(program.EndBy(SIGTERM, 15000));
    EXPECT_TRUE(program.ExitedCleanly()) << program.Output().constData();

    EXPECT_EQ(FilePwd(ini), portable ? QByteArray("\x3e\x3f\x37\x35") : QByteArray()) << program.Output().constData();
    EXPECT_EQ(InKeyring(QStringLiteral("demo"), QString::fromUtf8(service.baseUrl())),
              portable ? QString() : QStringLiteral("demo"));
}

INSTANTIATE_TEST_SUITE_P(Program, EndedProgram, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Portable" : "Installed");
                         });

} // namespace
