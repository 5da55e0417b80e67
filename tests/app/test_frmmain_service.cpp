// The program itself run as a separate process: its command line, and its screenshot of
// the real local service's timeline.
#include "FormHarness.h"
#include "LocalService.h"
#include "ProgramProcess.h"

#include <QFile>
#include <QImage>

using namespace harness;

namespace {

// A copy of the program in a temporary folder, so its settings file lies there too.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString built = ProgramProcess::BuiltExecutable();
        if (built.isEmpty())
            GTEST_SKIP() << "BRIMLARK_EXE is not set";
        exe = dir.filePath(QStringLiteral("brimlark"));
        ASSERT_TRUE(QFile::copy(built, exe));
        QFile::setPermissions(exe, QFile::permissions(built));
    }
    int run(const QStringList& args, QByteArray* out = nullptr)
    {
        ProgramProcess program(args, {exe, QStringLiteral("offscreen"), dir.filePath(QStringLiteral("cache"))});
        const int code = program.Finish();
        if (out)
            *out = program.Output();
        return code;
    }
    QTemporaryDir dir;
    QString exe;
};

TEST_F(ProgramTest, HelpVersionAndBadOptions)
{
    QByteArray out;
    EXPECT_EQ(run({QStringLiteral("--help")}, &out), 0);
    EXPECT_TRUE(out.contains("--screenshot FILE"));
    EXPECT_TRUE(out.contains("--api URL"));
    EXPECT_EQ(run({QStringLiteral("--version")}, &out), 0);
    EXPECT_TRUE(out.startsWith("Brimlark_Simple "));
    EXPECT_EQ(run({QStringLiteral("--bogus")}, &out), 2);
    EXPECT_TRUE(out.contains("unknown option --bogus"));
    EXPECT_EQ(run({QStringLiteral("--screenshot")}, &out), 2);
    for (const char* bad : {"file:///etc/passwd", "not an address", "https://", "ftp://example.com"}) {
        EXPECT_EQ(run({QStringLiteral("--api"), QString::fromLatin1(bad)}, &out), 2) << bad;
        EXPECT_TRUE(out.contains(QByteArray("--api \"") + bad + "\": ")) << bad;  // the value and why
    }
    EXPECT_EQ(run({QStringLiteral("--api")}, &out), 2);
}

TEST_F(ProgramTest, ScreenshotOfTheDemoTimeline)
{
    LocalService::Options options;
    options.seed = true;
    LocalService service{options};
    ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString();
    TMainState state;
    LoadSettings(dir.filePath(QStringLiteral("none.ini")), state);
    state.AccountName = QString::fromLatin1(LocalService::kDemoUser);
    state.Password = QString::fromLatin1(LocalService::kDemoPassword);
    const QString ini = dir.filePath(QStringLiteral("brimlark.ini"));
    ASSERT_TRUE(SaveSettings(ini, state, QRect(400, 200, 600, 400)));
    QFile iniFile(ini);
    ASSERT_TRUE(iniFile.open(QIODevice::ReadOnly));
    const QByteArray before = iniFile.readAll();
    iniFile.close();

    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    EXPECT_EQ(run({QStringLiteral("--api"), QString::fromUtf8(service.baseUrl()), QStringLiteral("--screenshot"), shot}), 0);
    QImage image(shot);
    ASSERT_FALSE(image.isNull());
    // The client area of a list-mode window, 400 high with its frame.
    EXPECT_GT(image.height() / image.devicePixelRatio(), 350);
    EXPECT_LE(image.height() / image.devicePixelRatio(), 400);
    // A picture run does not rewrite the settings.
    ASSERT_TRUE(iniFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(iniFile.readAll(), before);
}

TEST_F(ProgramTest, ScreenshotWithoutCredentialsDoesNotWaitForAPerson)
{
    const QString shot = dir.filePath(QStringLiteral("empty.png"));
    EXPECT_EQ(run({QStringLiteral("--api=http://127.0.0.1:9"), QStringLiteral("--screenshot=") + shot}), 0);
    EXPECT_FALSE(QImage(shot).isNull());
    EXPECT_EQ(run({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("no/such/folder/x.png"))}), 1);
}

} // namespace
