// The main window end to end against the real local service, and the program itself
// (command line and screenshot) run as a separate process.
#include "FakeBrowser.h"
#include "FormHarness.h"
#include "LocalService.h"

#include "dialogs/uTwitt.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace harness;

namespace {

class ServiceTest : public FormTest {
protected:
    void SetUp() override { ASSERT_TRUE(service.isRunning()) << service.errorString().toStdString(); }
    void writeDemo(const QString& password = QString::fromLatin1(LocalService::kDemoPassword))
    {
        writeCredentials(QString::fromLatin1(LocalService::kDemoUser), password);
    }
    static LocalService::Options Seeded()
    {
        LocalService::Options options;
        options.seed = true;
        return options;
    }
    LocalService service{Seeded()};
};

TEST_F(ServiceTest, DemoAccountTimelineReadMoreAndReload)
{
    writeDemo();
    auto form = makeForm(service.baseUrl());
    EXPECT_TRUE(m_boxes.boxes.empty());
    const QStringList firstIds = column(*form, 3);
    ASSERT_EQ(firstIds.size(), 20);
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    EXPECT_EQ(detailText(*form), column(*form, 1)[0]);
    EXPECT_EQ(userName(*form), column(*form, 0)[0]);

    trigger(*form, "mmMore");
    const QStringList ids = column(*form, 3);
    ASSERT_EQ(ids.size(), 40);
    EXPECT_EQ(ids.mid(0, 20), firstIds);
    // Newest first, and page 2 holds older statuses than page 1.
    EXPECT_LT(ids[20].toLongLong(), ids[19].toLongLong());

    trigger(*form, "pmReload");
    EXPECT_EQ(column(*form, 3), ids);
    EXPECT_EQ(form->StatusText(), QStringLiteral("リロード完了"));
}

TEST_F(ServiceTest, WrongPasswordIsRefused)
{
    writeDemo(QStringLiteral("not-the-password"));
    auto form = makeForm(service.baseUrl());
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "認証できませんでした"}));
    EXPECT_EQ(rowCount(*form), 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(ServiceTest, FavouriteIsKeptByTheService)
{
    writeDemo();
    auto form = makeForm(service.baseUrl());
    form->show();
    ASSERT_GT(rowCount(*form), 0);
    // Pick a row that is not a favourite yet and show it.
    int row = column(*form, 2).indexOf(QStringLiteral("false"));
    ASSERT_GE(row, 0);
    const QString id = column(*form, 3)[row];
    setCurrentRow(*form, row);
    form->ListView1Click();
    EXPECT_TRUE(greyStar(*form));

    QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(trace(*form).last(), "status_id:" + id);
    EXPECT_TRUE(goldStar(*form));

    trigger(*form, "mmReload");
    row = column(*form, 3).indexOf(id);
    ASSERT_GE(row, 0);
    EXPECT_EQ(column(*form, 2)[row], QStringLiteral("true"));
}

// One status posted by another account, straight over a socket: the window is not theirs.
bool PostAs(quint16 port, const QByteArray& user, const QString& text)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    const QByteArray body = "status=" + text.toUtf8().toPercentEncoding();
    const QByteArray request = "POST /statuses/update.xml HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic "
                               + (user + ':' + user).toBase64()
                               + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                               + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    bool ok = ::send(fd, request.constData(), size_t(request.size()), 0) == request.size();
    QByteArray reply;
    char buffer[4096];
    for (ssize_t n; ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, n);
    ::close(fd);
    return ok && reply.startsWith("HTTP/1.1 200") ;
}

// Talking back through the window to the real service: the mentions on their tab, a reply
// to one that comes back marked in the list, a repeat, its page, a new mention counted.
TEST_F(ServiceTest, MentionsAreAnsweredRepeatedOpenedAndCounted)
{
    writeDemo();
    FakeBrowser browser;
    auto form = makeForm(service.baseUrl(), true, true);
    form->show();
    auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
    ASSERT_NE(mentions, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return mentions->Count() > 0 && !form->Reading(); }, 5000));
    for (const TTimelineStatus& status : mentions->Rows())
        EXPECT_TRUE(status.Text.contains(QStringLiteral("@demo"))) << status.Text.toStdString();
    auto* tabs = child<QTabWidget>(*form, "PageControl1");
    tabs->setCurrentIndex(1);
    const TTimelineStatus answered = mentions->At(0);
    EXPECT_EQ(detailText(*form), answered.Text);

    auto* dialog = form->findChild<TfrmTwitt*>();
    auto* mentionList = child<QTreeView>(*form, "ListViewMentions");
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    mentionList->setFocus();
    bool opened = false;
    QTimer::singleShot(0, form.get(), [&] {
        opened = QApplication::activeModalWidget() == dialog;
        if (!opened)
            return;
        EXPECT_EQ(dialog->memoTwitt->toPlainText(), "@" + answered.ScreenName + " ");
        dialog->memoTwitt->insertPlainText(QStringLiteral("はい、行きます"));
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 5000));
    });
    QTest::keyClick(mentionList, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(dialog->isVisible());

    m_boxes.answer = QMessageBox::Yes;
    action(*form, "mmRepeat")->trigger();
    EXPECT_TRUE(WaitUntil([&] { return trace(*form).last() == QStringLiteral("リピートしました"); }, 5000))
        << trace(*form).last().toStdString();
    action(*form, "mmBrowser")->trigger();
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QString::fromLatin1(service.baseUrl()) + "/notice/" + answered.Id)});

    // The reply and the repeat are in the friends timeline now; the reply knows what it answers.
    tabs->setCurrentIndex(0);
    trigger(*form, "mmReload");
    const int reply = int(column(*form, 1).indexOf("@" + answered.ScreenName + " はい、行きます"));
    ASSERT_GE(reply, 0) << column(*form, 1).join(u'\n').toStdString();
    EXPECT_EQ(list(*form)->model()->index(reply, 0).data(TTimelineModel::InReplyToRole).toString(), answered.Id);
    EXPECT_TRUE(column(*form, 1).filter(QStringLiteral("RT @") + answered.ScreenName).size() == 1);

    ASSERT_TRUE(PostAs(service.port(), "sakura", QStringLiteral("@demo 新しい話があります")));
    trigger(*form, "mmReload");
    EXPECT_TRUE(WaitUntil([&] { return tabs->tabText(1) == QStringLiteral("@返信 (1)"); }, 5000))
        << tabs->tabText(1).toStdString();
    EXPECT_EQ(mentions->At(0).Text, QStringLiteral("@demo 新しい話があります"));
}

TEST_F(ServiceTest, FavouriteWithWrongPasswordIsAFailure)
{
    writeDemo();
    auto form = makeForm(service.baseUrl());
    form->show();
    ASSERT_GT(rowCount(*form), 0);
    const bool wasFavourite = column(*form, 2)[0] == QLatin1String("true");
    form->State().Password = QStringLiteral("changed");
    QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    const QStringList lines = trace(*form);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Post Failed ! StatusCode   = 401"));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("ReasonPhrase = ")));
    EXPECT_EQ(goldStar(*form), wasFavourite);
}

// --- the program ------------------------------------------------------------------------

// A copy of the program in a temporary folder, so its settings file lies there too.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString built = qEnvironmentVariable("BRIMLARK_EXE");
        if (built.isEmpty())
            GTEST_SKIP() << "BRIMLARK_EXE is not set";
        exe = dir.filePath(QStringLiteral("brimlark"));
        ASSERT_TRUE(QFile::copy(built, exe));
        QFile::setPermissions(exe, QFile::permissions(built));
    }
    int run(const QStringList& args, QByteArray* out = nullptr, int timeoutMs = 30000)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("BRIMLARK_API"));
        p.setProcessEnvironment(env);
        p.start(exe, args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (out)
            *out = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
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
    ASSERT_TRUE(SaveSettings(ini, state, QRect(400, 200, 600, 300)));
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
