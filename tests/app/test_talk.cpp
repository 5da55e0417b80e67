// Talking back to the status shown in the strip, through the window as a user does: a
// reply from the menu or Ctrl+R and a repeat after its question, with the bytes sent.
#include "FormHarness.h"
#include "ScriptedServer.h"

#include "app/Shape.h"
#include "dialogs/uTwitt.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace harness;

namespace {

// Three statuses by "u"; the second a reply, the third alice's own.
QByteArray Statuses()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\">\n"
           "<status><id>301</id><text>最初</text><favorited>false</favorited>"
           "<user><name>太郎</name><screen_name>taro</screen_name></user></status>\n"
           "<status><id>302</id><text>そうですね</text><favorited>false</favorited>"
           "<in_reply_to_status_id>300</in_reply_to_status_id>"
           "<user><name>花子</name><screen_name>hanako</screen_name></user></status>\n"
           "<status><id>303</id><text>三番目</text><favorited>false</favorited>"
           "<user><name>アリス</name><screen_name>alice</screen_name></user></status>\n"
           "</statuses>\n";
}

class TalkTest : public FormTest {
protected:
    std::unique_ptr<TForm1> start()
    {
        writeCredentials();  // alice
        server.addConnection(ScriptedServer::reply(Ok(Statuses())));
        auto form = makeForm(server.baseUrl() + "/api");
        form->show();
        return form;
    }
    // Opens the posting dialog through the action and acts on it while it is modal.
    void withDialog(TForm1& form, const std::function<void()>& open, const std::function<void(TfrmTwitt*)>& act)
    {
        auto* dialog = form.findChild<TfrmTwitt*>();
        ASSERT_NE(dialog, nullptr);
        bool ran = false;
        QTimer::singleShot(0, &form, [&] {
            if (QApplication::activeModalWidget() == dialog) {
                ran = true;
                act(dialog);
            }
            if (dialog->isVisible())
                dialog->reject();
        });
        open();
        EXPECT_TRUE(ran);
    }
    ScriptedServer server;
};

TEST_F(TalkTest, ReplyCarriesTheIdEvenWithoutItsMention)
{
    auto form = start();
    ASSERT_EQ(detailText(*form), QStringLiteral("最初"));
    withDialog(*form, [&] { action(*form, "mmReply")->trigger(); }, [&](TfrmTwitt* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("つぶやく - @taro への返信"));
        EXPECT_EQ(dialog->memoTwitt->toPlainText(), QStringLiteral("@taro "));
        EXPECT_EQ(dialog->memoTwitt->textCursor().position(), 6);
        dialog->memoTwitt->setPlainText(QStringLiteral("了解"));  // the mention deleted
        server.addConnection(ScriptedServer::reply(Ok("<status/>")));
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->isVisible(); }, 10000));
    });
    ASSERT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).startsWith("POST /api/statuses/update.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(1).endsWith("\r\n\r\nstatus=%E4%BA%86%E8%A7%A3&in_reply_to_status_id=301&source=brimlark"))
        << server.request(1).constData();

    // A new status afterwards is no reply; Ctrl+R in the list answers again.
    withDialog(*form, [&] { action(*form, "mmTwitt")->trigger(); }, [&](TfrmTwitt* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("つぶやく"));
        dialog->memoTwitt->setPlainText(QStringLiteral("独り言"));
        server.addConnection(ScriptedServer::reply(Ok("<status/>")));
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->isVisible(); }, 10000));
    });
    ASSERT_EQ(server.connectionCount(), 3);
    EXPECT_FALSE(server.request(2).contains("in_reply_to_status_id"));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    list(*form)->setFocus();
    withDialog(*form, [&] { QTest::keyClick(list(*form), Qt::Key_R, Qt::ControlModifier); }, [&](TfrmTwitt* dialog) {
        EXPECT_EQ(dialog->InReplyTo(), QStringLiteral("301"));
    });
}

TEST_F(TalkTest, AReplyIsMarkedInTheList)
{
    auto form = start();
    EXPECT_EQ(cellStyle(*form, 1, 1).text, QStringLiteral("\u2192 そうですね"));
    EXPECT_EQ(cellStyle(*form, 0, 1).text, QStringLiteral("最初"));
}

TEST_F(TalkTest, RepeatAsksFirstAndIsRefusedForOnesOwnStatus)
{
    auto form = start();
    // No, the default: nothing is sent.
    m_boxes.answer = QMessageBox::No;
    action(*form, "mmRepeat")->trigger();
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, QStringLiteral("このつぶやきをリピートしますか？"));
    EXPECT_EQ(m_boxes.boxes[0].defaultButton, QMessageBox::No);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_FALSE(child<QLabel>(*form, "lblRepeated")->isVisible());

    m_boxes.answer = QMessageBox::Yes;
    server.addConnection(ScriptedServer::reply(Ok("<status/>")));
    action(*form, "mmRepeat")->trigger();
    ASSERT_TRUE(waitForPost(*form));
    ASSERT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).startsWith("POST /api/statuses/retweet/301.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request(1).contains("\r\nContent-Length: 0\r\n"));
    EXPECT_EQ(trace(*form).last(), QStringLiteral("リピートしました"));
    // Above the strip and readable in every mode.
    auto* mark = child<QLabel>(*form, "lblRepeated");
    for (int mode : {3, 2, 1}) {
        form->SetDisplayMode(mode);
        EXPECT_TRUE(mark->isVisible());
        EXPECT_EQ(mark->parentWidget()->childAt(mark->geometry().center()), mark) << mode;
        EXPECT_NE(mark->palette().color(QPalette::WindowText), child<TShape>(*form, "ShapeBack")->BrushColor());
    }

    // Refused: the favourite's two lines and the server's words.
    setCurrentRow(*form, 1);
    server.addConnection(ScriptedServer::reply(Reply(403, "Forbidden", "<hash><error>Already repeated</error></hash>")));
    action(*form, "mmRepeat")->trigger();
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(trace(*form).mid(trace(*form).size() - 3),
              (QStringList{"Post Failed ! StatusCode   = 403", "ReasonPhrase = Forbidden", "サーバーのメッセージ: Already repeated"}));
    EXPECT_FALSE(child<QLabel>(*form, "lblRepeated")->isVisible());

    // alice's own status: the items are off.
    setCurrentRow(*form, 2);
    form->ListView1Click();  // the last row is shown by a click
    EXPECT_FALSE(action(*form, "mmRepeat")->isEnabled());
    EXPECT_FALSE(action(*form, "mmRepeat")->isEnabled());
    EXPECT_TRUE(action(*form, "mmReply")->isEnabled());
}

// A status with emoji shows them in colour in the list and in the strip, not as boxes:
// the Japanese faces fall back to the colour-emoji face for those characters alone.
TEST_F(TalkTest, EmojiAreDrawnInColour)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        GTEST_SKIP() << "fonts-noto-color-emoji is not installed";
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"太郎", "お寿司 🍣🍣🍣", "false", "1"}}))));
    auto form = makeForm(server.baseUrl());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    auto coloured = [](QWidget* widget) {
        const QImage image = widget->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                // The sushi's red and green; the text and the selection are grey or blue alone.
                count += c.red() > c.blue() + 60 && c.red() > 120 ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_GT(coloured(child<QTextEdit>(*form, "RichEditC")->viewport()), 20);
    list(*form)->clearSelection();  // the selection's colours stay out of the count
    EXPECT_GT(coloured(list(*form)->viewport()), 20);
}

// A server without mentions: the start-up's lines are the timeline's alone, and the
// mentions' failure is one line naming their tab, which is marked until a read succeeds.
TEST_F(TalkTest, AFailedMentionsReadInTheBackgroundMarksItsTab)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(Statuses())));
    server.addConnection(ScriptedServer::reply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
    auto form = makeForm(server.baseUrl(), false, true);
    auto* tabs = child<QTabWidget>(*form, "PageControl1");
    ASSERT_TRUE(WaitUntil([&] { return server.connectionCount() == 2 && !form->Reading(); }));
    const QString line = QStringLiteral("サーバーがエラーを返しました: 404 Not Found");
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました", "@返信: " + line}));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信 (!)"));
    EXPECT_EQ(tabs->tabToolTip(1), line);
}

// Read-more on the mentions tab reads the mentions' next page, not the timeline's, and
// the strip follows the tab in front.
TEST_F(TalkTest, ReadMoreOnTheMentionsTabReadsTheirNextPage)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(Statuses())));
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"花子", "@alice こんにちは", "false", "401"}}))));
    auto form = makeForm(server.baseUrl(), false, true);
    auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
    ASSERT_TRUE(WaitUntil([&] { return mentions->Count() == 1 && !form->Reading(); }));
    EXPECT_EQ(RequestLine(server.request(1)), "GET /statuses/mentions.xml HTTP/1.1");

    auto* tabs = child<QTabWidget>(*form, "PageControl1");
    tabs->setCurrentIndex(1);
    EXPECT_EQ(detailText(*form), QStringLiteral("@alice こんにちは"));
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"次郎", "@alice 前の話", "false", "400"}}))));
    trigger(*form, "pmMore");
    EXPECT_TRUE(WaitUntil([&] { return !form->Reading(); }));
    EXPECT_EQ(RequestLine(server.request(2)), "GET /statuses/mentions.xml?page=2 HTTP/1.1");
    ASSERT_EQ(mentions->Count(), 2);
    EXPECT_EQ(mentions->At(1).Text, QStringLiteral("@alice 前の話"));
    EXPECT_EQ(rowCount(*form), 3);  // the friends timeline read nothing more

    tabs->setCurrentIndex(0);
    EXPECT_EQ(detailText(*form), QStringLiteral("最初"));

    // A reload on the mentions tab reads them again, as many pages as they show, the
    // first page replacing the rows.
    tabs->setCurrentIndex(1);
    const auto mentionsPage = [](const char* id, const char* text) {
        return ScriptedServer::reply(Ok(TimelineXml({{"花子", text, "false", id}})));
    };
    server.addConnection(ScriptedServer::reply(Ok(Statuses())));
    server.addConnection(mentionsPage("402", "@alice 新しい"));
    server.addConnection(mentionsPage("401", "@alice こんにちは"));
    trigger(*form, "mmReload");
    EXPECT_EQ(server.connectionCount(), 6);
    EXPECT_EQ(RequestLine(server.request(4)), "GET /statuses/mentions.xml HTTP/1.1");
    EXPECT_EQ(RequestLine(server.request(5)), "GET /statuses/mentions.xml?page=2 HTTP/1.1");
    ASSERT_EQ(mentions->Count(), 2);
    EXPECT_EQ(mentions->At(0).Text, QStringLiteral("@alice 新しい"));
    EXPECT_EQ(detailText(*form), QStringLiteral("@alice 新しい"));

    // No answer: the failure is said as the timeline's is (no "ロード完了" before it), and
    // the rows stay.
    server.addConnection(ScriptedServer::reply(Ok(Statuses())));
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::close()});
    trigger(*form, "mmReload");
    EXPECT_EQ(server.connectionCount(), 8);
    const QStringList lines = trace(*form);
    EXPECT_EQ(lines.mid(lines.size() - 2, 1), QStringList{"ロード中..."}) << lines.join(u'|').toStdString();
    EXPECT_NE(lines.last(), QStringLiteral("ロード中..."));
    EXPECT_EQ(mentions->Count(), 2);
}

} // namespace

