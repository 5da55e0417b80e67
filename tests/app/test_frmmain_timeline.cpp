// The main window's start-up, timeline reads and detail pane, driven against a scripted
// loopback server that records every request.
#include "FormHarness.h"
#include "ScriptedServer.h"
#include "dialogs/uLoginSettings.h"

#include <QDialog>
#include <QFile>
#include <QTest>

using namespace harness;
using Step = ScriptedServer::Step;

namespace {

class TimelineTest : public FormTest {
protected:
    ScriptedServer server;
};

// Records the status panel's text at every paint, to see what the user saw.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QLabel* panel) : m_panel(panel) { panel->installEventFilter(this); }
    QStringList painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_panel && event->type() == QEvent::Paint)
            painted << m_panel->text();
        return false;
    }

private:
    QLabel* m_panel;
};

TEST_F(TimelineTest, StartWithoutCredentialsShowsTheBoxAndKeepsBothTimersRunning)
{
    auto form = makeForm(server.baseUrl());

    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    const auto& box = m_boxes.boxes[0];
    EXPECT_EQ(box.title, QStringLiteral("Brimlark"));
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("ユーザ名とパスワードが入力されていませんので、")));
    EXPECT_TRUE(box.text.endsWith(QStringLiteral("ログインボタンからご入力下さい")));
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_FALSE(box.mainWindowVisible);

    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_TRUE(trace(*form).isEmpty());
    EXPECT_EQ(rowCount(*form), 0);
    EXPECT_TRUE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
    // First start: the default outer bounds once shown, then list mode makes it 400 high.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->frameGeometry(), QRect(400, 200, 600, 400));
    EXPECT_EQ(form->DisplayMode(), 1);
}

TEST_F(TimelineTest, StartWithCredentialsFillsTheListInReplyOrderBeforeShowing)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    DebugCapture debug;
    auto form = makeForm(server.baseUrl());

    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(RequestLine(server.request(0)), "GET /statuses/friends_timeline.xml HTTP/1.1");
    EXPECT_TRUE(server.request(0).contains("Authorization: Basic " + QByteArray("alice:secret").toBase64()));

    EXPECT_EQ(column(*form, 0), (QStringList{"太郎", "花子", "次郎"}));
    EXPECT_EQ(column(*form, 1)[1], QStringLiteral("二番目 http://example.com/2"));
    EXPECT_EQ(column(*form, 2), (QStringList{"false", "true", "TRUE"}));
    EXPECT_EQ(column(*form, 3), (QStringList{"301", "302", "303"}));
    EXPECT_EQ(selectedRow(*form), 0);
    EXPECT_EQ(detailText(*form), QStringLiteral("最初のつぶやき"));
    EXPECT_EQ(userName(*form), QStringLiteral("太郎"));
    EXPECT_TRUE(greyStar(*form));
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Twitterで認証しました"));
    EXPECT_TRUE(debug.lines().contains("url:" + QString::fromUtf8(server.baseUrl()) + "/statuses/friends_timeline.xml"));
    EXPECT_TRUE(debug.lines().contains(QStringLiteral("strActiveStateId=301")));
    EXPECT_EQ(child<QLabel>(*form, "lblStar")->text(), QStringLiteral("お気に入りスター"));
}

// The program asks for the first page before it builds the window; the window takes
// that page over, with one request to the server.
TEST_F(TimelineTest, AFirstReadStartedBeforeTheWindowIsTakenOver)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    TMainState state;
    LoadSettings(iniPath(), state);
    TForm1Options options;
    options.ReadMentions = false;  // a scripted server answers the timeline only
    options.ReadServerConfig = false;
    options.SettingsFile = iniPath();
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(server.baseUrl())};
    TForm1::StartFirstRead(options, state);
    ASSERT_NE(options.Reader, nullptr);
    TForm1 form(options);
    waitIdle(form);
    EXPECT_EQ(column(form, 0), (QStringList{"太郎", "花子", "次郎"}));
    QTest::qWait(100);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(TimelineTest, LoadingLineIsPaintedBeforeTheReadBlocks)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    PaintRecorder recorder(child<QLabel>(*form, "StatusPanel"));
    server.addConnection({Step::readRequest(), Step::delay(50), Step::send(Ok(TimelineXml(ThreeRows())))});
    trigger(*form, "mmReload");
    EXPECT_TRUE(recorder.painted.contains(QStringLiteral("ロード中...")));
    EXPECT_EQ(trace(*form).mid(3), (QStringList{"リロード中", "ロード中...", "ロード完了", "Twitterで認証しました", "リロード完了"}));
}

TEST_F(TimelineTest, ReloadAfterTwoReadMoresAsksForPagesOneToThreeInOrder)
{
    writeCredentials();
    auto page = [](int n) {
        std::vector<Row> rows;
        for (int i = 0; i < 2; ++i)
            rows.push_back({QStringLiteral("p%1").arg(n), QStringLiteral("page %1 row %2").arg(n).arg(i),
                            QStringLiteral("false"), QString::number(n * 100 + i)});
        return ScriptedServer::reply(Ok(TimelineXml(rows)));
    };
    server.addConnection(page(1));
    auto form = makeForm(server.baseUrl());
    // Move the selection so read-more can show it stays.
    setCurrentRow(*form, 1);

    server.addConnection(page(2));
    trigger(*form, "mmMore");
    server.addConnection(page(3));
    trigger(*form, "pmMore");
    EXPECT_EQ(form->PageCounter(), 2);
    EXPECT_EQ(selectedRow(*form), 1);
    EXPECT_EQ(column(*form, 3), (QStringList{"100", "101", "200", "201", "300", "301"}));

    server.addConnection(page(1));
    server.addConnection(page(2));
    server.addConnection(page(3));
    trigger(*form, "mmReload");

    ASSERT_EQ(server.connectionCount(), 6);
    const QByteArray path = "GET /statuses/friends_timeline.xml";
    EXPECT_EQ(RequestLine(server.request(1)), path + "?page=2&twtr=true HTTP/1.1");
    EXPECT_EQ(RequestLine(server.request(2)), path + "?page=3&twtr=true HTTP/1.1");
    EXPECT_EQ(RequestLine(server.request(3)), path + " HTTP/1.1");
    EXPECT_EQ(RequestLine(server.request(4)), path + "?page=2&twtr=true HTTP/1.1");
    EXPECT_EQ(RequestLine(server.request(5)), path + "?page=3&twtr=true HTTP/1.1");
    EXPECT_EQ(column(*form, 3), (QStringList{"100", "101", "200", "201", "300", "301"}));
    EXPECT_EQ(selectedRow(*form), 0);
    EXPECT_EQ(form->StatusText(), QStringLiteral("リロード完了"));

    server.addConnection(page(4));
    trigger(*form, "mmMore");
    EXPECT_EQ(RequestLine(server.request(6)), path + "?page=4&twtr=true HTTP/1.1");
}

TEST_F(TimelineTest, F5Reloads)
{
    writeCredentials();
    const auto page = ScriptedServer::reply(Ok(TimelineXml(ThreeRows())));
    server.addConnection(page);
    auto form = makeForm(server.baseUrl());
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    server.addConnection(page);
    QTest::keyClick(list(*form), Qt::Key_F5);
    waitIdle(*form);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(form->StatusText(), QStringLiteral("リロード完了"));
}

TEST_F(TimelineTest, ReplyThatIsNotXmlIsSwallowedAtStartAndReachesTheErrorBoxOnReadMore)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok("this is not xml")));
    auto form = makeForm(server.baseUrl());
    EXPECT_TRUE(m_boxes.boxes.empty());
    ASSERT_EQ(trace(*form).size(), 2);
    EXPECT_TRUE(trace(*form)[1].startsWith(QStringLiteral("応答がタイムラインではありません: ")));
    EXPECT_EQ(rowCount(*form), 0);
    EXPECT_TRUE(action(*form, "mmReload")->isEnabled());

    server.addConnection(ScriptedServer::reply(Ok("<unclosed>")));
    trigger(*form, "pmMore");
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].title, QStringLiteral("Brimlark_Simple"));
    EXPECT_EQ(m_boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(m_boxes.boxes[0].text.isEmpty());
    EXPECT_TRUE(m_boxes.boxes[0].text.endsWith(u'.') || m_boxes.boxes[0].text.endsWith(u'。'));
    // The lock was released before the box.
    EXPECT_TRUE(action(*form, "mmMore")->isEnabled());
    EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
}

TEST_F(TimelineTest, ConnectionFailureOnReadMoreReachesTheErrorBox)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    server.addConnection({Step::readRequest(), Step::close()});
    trigger(*form, "mmMore");
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(rowCount(*form), 3);

    // The failed page still counts: the next read-more asks for page 3, a reload for 1 to 3.
    EXPECT_EQ(form->PageCounter(), 1);
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({}))));
    trigger(*form, "mmMore");
    EXPECT_EQ(RequestLine(server.request(2)), "GET /statuses/friends_timeline.xml?page=3&twtr=true HTTP/1.1");
    for (int i = 0; i < 3; ++i)
        server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    trigger(*form, "mmReload");
    EXPECT_EQ(server.connectionCount(), 6);
}

TEST_F(TimelineTest, RootOtherThanStatusesEndsAfterTheAuthenticatedLine)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok("<?xml version=\"1.0\"?><users><user/></users>")));
    auto form = makeForm(server.baseUrl());
    EXPECT_EQ(trace(*form).mid(0, 3), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    EXPECT_TRUE(trace(*form).value(3).startsWith(QStringLiteral("応答がタイムラインではありません: ")));
    EXPECT_EQ(rowCount(*form), 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(TimelineTest, EmptyPageAddsNoRows)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({}))));
    auto form = makeForm(server.baseUrl());
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    EXPECT_EQ(rowCount(*form), 0);
    EXPECT_TRUE(detailText(*form).isEmpty());
}

TEST_F(TimelineTest, TraceKeepsTheNewestThousandLines)
{
    auto form = makeForm(server.baseUrl());  // no credentials: no request
    for (int i = 1; i <= 1500; ++i)
        form->ShowStatus(QStringLiteral("line %1").arg(i));
    const QStringList lines = trace(*form);
    ASSERT_EQ(lines.size(), 1000);
    EXPECT_EQ(lines.first(), QStringLiteral("line 501"));
    EXPECT_EQ(lines.last(), QStringLiteral("line 1500"));
    EXPECT_EQ(form->StatusText(), QStringLiteral("line 1500"));
}

TEST_F(TimelineTest, MissingFieldsGiveEmptyCells)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(
        Ok("<statuses><status><id>5</id><text>no user, no flag</text></status></statuses>")));
    auto form = makeForm(server.baseUrl());
    ASSERT_EQ(rowCount(*form), 1);
    EXPECT_EQ(column(*form, 0), QStringList{QString()});
    EXPECT_EQ(column(*form, 2), QStringList{QString()});
    EXPECT_EQ(detailText(*form), QStringLiteral("no user, no flag"));
    EXPECT_TRUE(greyStar(*form));
}

TEST_F(TimelineTest, CommandLockIsASwitchNotACount)
{
    auto form = makeForm(server.baseUrl());
    const char* locked[] = {"mmLogin", "mmView", "mmReload", "mmMore", "mmTwitt", "mmVersion", "pmLogin",
                            "pmTwitt", "pmMore", "pmSimpleMode", "mmSuperSimpleMode", "mmWidget",
                            "pmVersion", "pmAutoReload", "pmReload", "pmClose"};
    form->EnableCommands(false);
    for (const char* name : locked)
        EXPECT_FALSE(action(*form, name)->isEnabled()) << name;
    EXPECT_FALSE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_FALSE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_FALSE(child<QLabel>(*form, "Image1")->isEnabled());
    EXPECT_FALSE(list(*form)->isEnabled());
    // Left alone by the lock.
    EXPECT_TRUE(action(*form, "mmAutoRotation")->isEnabled());
    EXPECT_TRUE(action(*form, "pmSetting")->isEnabled());
    EXPECT_TRUE(child<QWidget>(*form, "RichEditC")->isEnabled());

    form->EnableCommands(false);
    form->EnableCommands(true);
    for (const char* name : locked)
        EXPECT_TRUE(action(*form, name)->isEnabled()) << name;
    EXPECT_TRUE(timer(*form, "TimerAutoReload")->isActive());
    EXPECT_TRUE(timer(*form, "TimerAutoRotation")->isActive());
    EXPECT_TRUE(list(*form)->isEnabled());
}

TEST_F(TimelineTest, SignInEmptiesTheListBeforeReadingTheFirstPage)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    setCurrentRow(*form, 2);

    // Cancel the credentials dialog: the read still happens, with the same credentials.
    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    trigger(*form, "pmLogin");

    EXPECT_EQ(column(*form, 3), (QStringList{"301", "302", "303"}));
    EXPECT_EQ(selectedRow(*form), 0);
    EXPECT_EQ(detailText(*form), QStringLiteral("最初のつぶやき"));
    EXPECT_TRUE(server.request(1).contains("Authorization: Basic " + QByteArray("alice:secret").toBase64()));
}

TEST_F(TimelineTest, AnonymousToggleHidesAndRestoresTheName)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    QTreeView* lv = list(*form);
    auto* name = child<QLabel>(*form, "lblUserName");
    QAction* anonymous = action(*form, "mmAnonymous");
    EXPECT_FALSE(anonymous->isChecked());
    EXPECT_EQ(lv->columnWidth(0), 80);

    anonymous->trigger();
    EXPECT_TRUE(anonymous->isChecked());
    EXPECT_TRUE(form->State().Anonymous);
    EXPECT_FALSE(name->isVisible());
    EXPECT_EQ(lv->columnWidth(0), 0);
    // Rows shown while anonymous leave the name empty.
    form->TimerAutoRotationTimer();
    EXPECT_EQ(detailText(*form), QStringLiteral("二番目 http://example.com/2"));
    EXPECT_TRUE(name->text().isEmpty());

    anonymous->trigger();
    EXPECT_FALSE(form->State().Anonymous);
    EXPECT_TRUE(name->isVisible());
    EXPECT_EQ(lv->columnWidth(0), 80);
    EXPECT_EQ(name->text(), QStringLiteral("花子"));
}

TEST_F(TimelineTest, AnonymousUntickWithEmptyListDoesNotFail)
{
    auto form = makeForm(server.baseUrl());
    action(*form, "mmAnonymous")->trigger();
    action(*form, "mmAnonymous")->trigger();
    EXPECT_TRUE(userName(*form).isEmpty());
}

TEST_F(TimelineTest, SelectionChangeSkipsTheLastRowButAClickShowsIt)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    QTreeView* lv = list(*form);

    setCurrentRow(*form, 1);
    EXPECT_EQ(detailText(*form), QStringLiteral("二番目 http://example.com/2"));
    EXPECT_TRUE(goldStar(*form));

    QTest::keyClick(lv, Qt::Key_Down);
    EXPECT_EQ(selectedRow(*form), 2);
    EXPECT_EQ(detailText(*form), QStringLiteral("二番目 http://example.com/2"));

    const QRect last = rowRect(*form, 2);
    QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, last.center());
    EXPECT_EQ(detailText(*form), QStringLiteral("三番目"));
    // "TRUE" is not "true".
    EXPECT_TRUE(greyStar(*form));
}

// --- the star ---------------------------------------------------------------------------

class StarTest : public TimelineTest {
protected:
    std::unique_ptr<TForm1> startWith(std::vector<Row> rows)
    {
        writeCredentials();
        server.addConnection(ScriptedServer::reply(Ok(TimelineXml(rows))));
        auto form = makeForm(server.baseUrl());
        form->show();
        return form;
    }
    void clickStar(TForm1& form) { QTest::mouseClick(child<QLabel>(form, "Image1"), Qt::LeftButton); }
};

TEST_F(StarTest, EmptyOrMalformedIdSendsNothing)
{
    for (const QString& id : {QString(), QStringLiteral("12/../../statuses/update"), QStringLiteral("１２")}) {
        SCOPED_TRACE(id.toStdString());
        ScriptedServer local;
        local.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"a", "text", "false", id}}))));
        writeCredentials();
        auto form = makeForm(local.baseUrl());
        form->show();
        const int before = trace(*form).size();
        clickStar(*form);
        EXPECT_EQ(trace(*form).mid(before),
                  (QStringList{"status_id:" + id, QStringLiteral("status idが取得できません")}));
        QTest::qWait(20);
        EXPECT_EQ(local.connectionCount(), 1);
        EXPECT_TRUE(greyStar(*form));
    }
}

TEST_F(StarTest, FavouriteOfTheShownRowMarksItWhenAccepted)
{
    auto form = startWith({{"a", "one", "false", "123"}, {"b", "two", "false", "124"}});
    DebugCapture debug;
    server.addConnection(ScriptedServer::reply(Reply(200, "OK", "<status/>")));
    clickStar(*form);
    ASSERT_TRUE(waitForPost(*form));

    // The service layer's tests pin the whole request; here: the star asked for the shown row.
    EXPECT_TRUE(server.request(1).startsWith("POST /favorites/create/123.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(debug.lines().contains(QString::fromUtf8(server.baseUrl()) + "/favorites/create/123.xml"));
    EXPECT_EQ(trace(*form).last(), QStringLiteral("status_id:123"));
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(column(*form, 2), (QStringList{"true", "false"}));

    // The star follows the row's flag when the row comes back.
    setCurrentRow(*form, 1);
    form->ListView1Click();
    EXPECT_TRUE(greyStar(*form));
    setCurrentRow(*form, 0);
    EXPECT_TRUE(goldStar(*form));
}

TEST_F(StarTest, RefusedFavouritesReportAndKeepTheGreyStar)
{
    struct Case {
        const char* what;
        ScriptedServer::Script script;
        QStringList lines;
    };
    const std::vector<Case> cases = {
        {"404", ScriptedServer::reply(Reply(404, "Not Found", "nope")),
         {"Post Failed ! StatusCode   = 404", "ReasonPhrase = Not Found"}},
        {"500", ScriptedServer::reply(Reply(500, "Internal Server Error", "")),
         {"Post Failed ! StatusCode   = 500", "ReasonPhrase = Internal Server Error"}},
        {"401", ScriptedServer::reply(Reply(401, "Unauthorized", "")),
         {"Post Failed ! StatusCode   = 401", "ReasonPhrase = Unauthorized"}},
        // No status came: one line says so, naming where.
        {"closed before a reply", {Step::readRequest(), Step::close()}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer local;
        local.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"a", "one", "false", "77"}}))));
        local.addConnection(c.script);
        // A 404 is asked once more at /favorites/create.xml, which answers the same.
        if (QByteArray(c.what) == "404")
            local.addConnection(c.script);
        writeCredentials();
        auto form = makeForm(local.baseUrl());
        form->show();
        clickStar(*form);
        ASSERT_TRUE(waitForPost(*form));
        const QStringList lines = trace(*form).mid(trace(*form).size() - 3);
        if (c.lines.isEmpty()) {
            EXPECT_EQ(lines.mid(1), (QStringList{QStringLiteral("status_id:77"),
                                                 QStringLiteral("応答を読み取れませんでした (127.0.0.1:%1): Connection closed "
                                                                "before a reply was received").arg(local.port())}));
        } else {
            EXPECT_EQ(lines, (QStringList{"status_id:77"} + c.lines));
        }
        EXPECT_TRUE(greyStar(*form));
        EXPECT_EQ(column(*form, 2), (QStringList{"false"}));
    }
}

TEST_F(StarTest, UnreachableServiceIsAFailure)
{
    quint16 deadPort;
    {
        ScriptedServer gone;
        deadPort = gone.port();
    }
    auto form = startWith({{"a", "one", "true", "9"}});
    form->State().ApiBase = QStringLiteral("http://127.0.0.1:%1").arg(deadPort);
    clickStar(*form);
    ASSERT_TRUE(waitForPost(*form));
    const QStringList lines = trace(*form);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("status_id:9"));
    EXPECT_EQ(lines.last(), QStringLiteral("接続できませんでした (127.0.0.1:%1): Connection refused (Error #10061)").arg(deadPort));
    // A favourite already: its star stays gold.
    EXPECT_TRUE(goldStar(*form));
}

TEST_F(StarTest, SecondClickDuringASlowRequestLeavesTheFirstAlone)
{
    auto form = startWith({{"a", "one", "false", "555"}});
    server.addConnection({Step::readRequest(), Step::delay(300), Step::send(Reply(200, "OK", "<status/>")), Step::close()});
    QTimer::singleShot(100, form.get(), [&] { form->Image1Click(); });
    clickStar(*form);
    ASSERT_TRUE(waitForPost(*form));

    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).endsWith("\r\n\r\nid=555"));
    // The second click was refused without a word.
    EXPECT_TRUE(trace(*form).filter(QStringLiteral("StatusCode")).isEmpty());
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(column(*form, 2), (QStringList{"true"}));
}

TEST_F(StarTest, StarFollowsTheRowShownWhenTheReplyArrives)
{
    // Accepted for row 1 while row 2 (not a favourite) came into view: grey, row 1 marked.
    // The rotation shows every row but the last.
    auto form = startWith({{"a", "one", "false", "1"}, {"b", "two", "false", "2"}, {"c", "three", "true", "3"},
                           {"d", "four", "false", "4"}});
    auto slowly = [](const QByteArray& reply) {
        return ScriptedServer::Script{Step::readRequest(), Step::delay(300), Step::send(reply), Step::close()};
    };
    server.addConnection(slowly(Reply(200, "OK", "<status/>")));
    QTimer::singleShot(100, form.get(), [&] { form->TimerAutoRotationTimer(); });
    clickStar(*form);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(detailText(*form), QStringLiteral("two"));
    EXPECT_TRUE(greyStar(*form));
    EXPECT_EQ(column(*form, 2), (QStringList{"true", "false", "true", "false"}));

    // Refused for row 2 while row 3 (a favourite) came into view: gold, nothing marked.
    server.addConnection(slowly(Reply(500, "Internal Server Error", "")));
    QTimer::singleShot(100, form.get(), [&] { form->TimerAutoRotationTimer(); });
    clickStar(*form);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(detailText(*form), QStringLiteral("three"));
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(column(*form, 2), (QStringList{"true", "false", "true", "false"}));
}

// --- shutdown ---------------------------------------------------------------------------

TEST_F(TimelineTest, ClosingSavesTheSettings)
{
    auto form = makeForm(server.baseUrl());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->SetDisplayMode(2);
    form->State().AutoRotation = false;
    form->move(123, 45);
    action(*form, "pmClose")->trigger();

    TMainState saved;
    LoadSettings(iniPath(), saved);
    EXPECT_EQ(saved.DisplayMode, 2);
    EXPECT_FALSE(saved.AutoRotation);
    EXPECT_EQ(saved.WindowLeft, 123);
    EXPECT_EQ(saved.WindowTop, 45);
    EXPECT_EQ(m_boxes.boxes.size(), 1u);  // the missing-credentials box only
}

TEST_F(TimelineTest, SettingsThatCannotBeWrittenShowTheInformationBox)
{
    QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TForm1Options options;
    options.ReadMentions = false;  // a scripted server answers the timeline only
    options.ReadServerConfig = false;
    options.SettingsFile = blocker.fileName() + QStringLiteral("/brimlark.ini");
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(server.baseUrl())};
    TForm1 form(options);
    waitIdle(form);
    form.close();
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_EQ(m_boxes.boxes[1].title, QStringLiteral("情報"));
    const QStringList text = m_boxes.boxes[1].text.split(QLatin1Char('\n'));
    ASSERT_EQ(text.size(), 2);
    EXPECT_EQ(text[0], QStringLiteral("設定ファイルに書き込めません: ") + options.SettingsFile);
    EXPECT_FALSE(text[1].isEmpty());  // the system's reason
}

// A fediverse account whose token the server refuses is led back to its own sign-in,
// with the refusal, once: refused at start-up, or first in the mentions read in the
// background after the friends timeline was read (the sign-in's read is refused then too).
TEST_F(TimelineTest, ARefusedTokenLeadsBackToTheFediverseSignIn)
{
    for (const bool mentionsFirst : {false, true}) {
        SCOPED_TRACE(mentionsFirst ? "mentions first" : "at start-up");
        ScriptedServer peer;
        writeSettings([&](TMainState& s) {
            s.AccountName = QStringLiteral("alice");
            s.Fediverse = QString::fromUtf8(peer.baseUrl());
            s.Token = QStringLiteral("stale");
        });
        if (mentionsFirst)
            peer.addConnection(ScriptedServer::reply(Reply(
                200, "OK", R"([{"id":"9","content":"<p>x</p>","account":{"username":"bob","acct":"bob"}}])",
                "application/json")));
        peer.setDefaultScript(ScriptedServer::reply(
            Reply(401, "Unauthorized", R"({"error":"Invalid credentials."})", "application/json")));
        int opened = 0;
        bool fediverse = false;
        QString note;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            // Each showing once: the cancel hides the dialog at once.
            auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
            if (!login || !login->isVisible())
                return;
            ++opened;
            fediverse = login->ShowsFediverse();
            note = login->lblSignInNote->text();
            login->btnCancel->click();
        });
        watch.start(5);
        auto form = makeForm(peer.baseUrl(), false, mentionsFirst);
        ASSERT_TRUE(WaitUntil([&] { return opened > 0; }, 10000));
        // The sign-in's read, refused as well, and a moment for a dialog it would open.
        waitIdle(*form);
        QTest::qWait(100);
        EXPECT_EQ(opened, 1);
        EXPECT_TRUE(fediverse);
        EXPECT_TRUE(note.startsWith(QStringLiteral("サーバーが認証を拒否しました"))) << note.toStdString();
        EXPECT_TRUE(peer.request(0).contains("Bearer stale"));
    }
}

} // namespace
