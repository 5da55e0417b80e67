#include "dialogs/uTwitt.h"
#include "settings/Settings.h"

#include "dialogs/DialogCommon.h"
#include "http/HttpCli.h"
#include "ScriptedServer.h"
#include "dialogs/ModalHelper.h"

#include "dialogs/TabOrder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QAccessible>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>

namespace {

const QByteArray kOk = "HTTP/1.1 200 OK\r\nContent-Length: 18\r\nConnection: close\r\n\r\n<status>1</status>";

QByteArray BodyOf(const QByteArray& request)
{
    const qsizetype end = request.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : request.mid(end + 4);
}

// The dialog asks for the account when it sends: here the test's state, read at that moment.
std::function<TServiceAccount()> From(const TMainState& state)
{
    return [&state] { return TServiceAccount(state.ApiBase, state.AccountName, state.Password, {}); };
}

QString Japanese(int n)
{
    return QString(n, QChar(0x3042));  // あ
}

// A posting dialog keeping its body copy in a temporary folder, against a scripted server.
class PostingDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        state.AccountName = QStringLiteral("alice");
        state.Password = QStringLiteral("pw");
        state.ApiBase = QString::fromLatin1(server.baseUrl()) + QStringLiteral("/api");
        dlg = std::make_unique<TfrmTwitt>(From(state), m_dir.filePath(QStringLiteral("cache/post.txt")),
                                          [this](const QString& line) { status << line; }, nullptr);
        dlg->show();
    }
    void TearDown() override { dlg.reset(); }

    void Type(const QString& text)
    {
        dlg->memoTwitt->setFocus();
        QTest::keyClicks(dlg->memoTwitt, text);
    }
    // A press of つぶやく, then the loop runs until its outcome has arrived.
    void Post()
    {
        QTest::mouseClick(dlg->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !dlg->Posting(); }, 10000)) << "no outcome after 10 s";
    }
    QByteArray BodyFile() const
    {
        QFile f(m_dir.filePath(QStringLiteral("cache/post.txt")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool Closed() const { return !dlg->isVisible() && dlg->result() == QDialog::Accepted; }

    ScriptedServer server;
    TMainState state;
    QStringList status;
    std::unique_ptr<TfrmTwitt> dlg;
    QTemporaryDir m_dir;
};

TEST_F(PostingDialog, CountShowsUtf16UnitsWithLineBreaksAsTwo)
{
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("0文字"));
    Type(QStringLiteral("abc"));
    QTest::keyClick(dlg->memoTwitt, Qt::Key_Return);
    Type(QStringLiteral("def"));
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("8文字"));
    dlg->memoTwitt->setPlainText(QStringLiteral("😀") + Japanese(2));  // a surrogate pair counts two
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("4文字"));
}

// The text box has the focus at every opening, and Ctrl+Enter there posts.
TEST_F(PostingDialog, OpensInTheTextBoxAndCtrlEnterPosts)
{
    EXPECT_EQ(dlg->focusWidget(), dlg->memoTwitt);
    dlg->btnCancel->setFocus();
    dlg->hide();
    dlg->show();
    EXPECT_EQ(dlg->focusWidget(), dlg->memoTwitt);

    server.addConnection(ScriptedServer::reply(kOk));
    QTest::keyClicks(dlg->memoTwitt, QStringLiteral("hi"));
    QTest::keyClick(dlg->memoTwitt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !dlg->Posting(); }, 10000));
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_TRUE(server.request(0).endsWith("\r\n\r\nstatus=hi&source=brimlark"));
    EXPECT_TRUE(Closed());
}

// Each text makes its body, in the request and in the body file; success clears the
// text and the count and closes the dialog, with nothing on the status line.
TEST_F(PostingDialog, BodiesOfTypicalTextsAndSuccess)
{
    struct Case { QString text; QByteArray body; };
    const Case cases[] = {
        {QStringLiteral("a b&c=d"), "status=a+b%26c%3Dd&source=brimlark"},
        {QStringLiteral("line1\nline2\nline3"), "status=line1line2%0D%0Aline3&source=brimlark"},
        {QStringLiteral("あ"), "status=%E3%81%82&source=brimlark"},
        {QStringLiteral("~"), "status=%7E&source=brimlark"},
        {QStringLiteral("(ok)!"), "status=(ok)!&source=brimlark"},
        {QString(), "status=&source=brimlark"},
    };
    int i = 0;
    for (const Case& c : cases) {
        server.addConnection(ScriptedServer::reply(kOk));
        dlg->show();
        dlg->memoTwitt->setPlainText(c.text);
        Post();
        ASSERT_TRUE(server.waitForFinished(i + 1));
        EXPECT_TRUE(server.request(i).startsWith("POST /api/statuses/update.xml HTTP/1.1\r\n"));
        EXPECT_EQ(BodyOf(server.request(i)), c.body) << c.text.toStdString();
        EXPECT_EQ(BodyFile(), c.body);  // the first in a folder that did not exist yet
        EXPECT_TRUE(Closed());
        EXPECT_TRUE(dlg->memoTwitt->toPlainText().isEmpty());
        EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("0文字"));
        ++i;
    }
    EXPECT_EQ(status, QStringList(i, QStringLiteral("投稿しました")));
}

TEST_F(PostingDialog, LengthLimitAndTheQuestion)
{
    // 140 characters: sent without a question.
    server.addConnection(ScriptedServer::reply(kOk));
    ModalWatch<QMessageBox> question([](QMessageBox* box) { box->reject(); });
    dlg->memoTwitt->setPlainText(Japanese(140));
    Post();
    EXPECT_EQ(question.Count(), 0);
    EXPECT_EQ(server.connectionCount(), 1);

    // 140 plus one line break: the count shows 142, the check sees 140.
    server.addConnection(ScriptedServer::reply(kOk));
    dlg->show();
    dlg->memoTwitt->setPlainText(Japanese(70) + QLatin1Char('\n') + Japanese(70));
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("142文字"));
    Post();
    EXPECT_EQ(question.Count(), 0);
    ASSERT_TRUE(server.waitForFinished(2));
    EXPECT_TRUE(Closed());
}

TEST_F(PostingDialog, OverLengthQuestionNoThenYes)
{
    // A top-most window of the application must not hide the question.
    QWidget topMost(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    topMost.show();

    dlg->memoTwitt->setPlainText(Japanese(141));
    QString caption, text;
    bool topMostWhileAsking = true;
    bool noIsTheDefault = false;
    {
        ModalWatch<QMessageBox> no([&](QMessageBox* box) {
            caption = box->windowTitle();
            text = box->text();
            noIsTheDefault = box->defaultButton() == box->button(QMessageBox::No);
            topMostWhileAsking = topMost.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            box->button(QMessageBox::No)->click();
        });
        Post();
        EXPECT_EQ(no.Count(), 1);
    }
    EXPECT_EQ(caption, QStringLiteral("文字数"));
    EXPECT_EQ(text, QStringLiteral("140文字を超えているようです。このまま書き込みますか？"));
    EXPECT_TRUE(noIsTheDefault);
    EXPECT_FALSE(topMostWhileAsking);
    EXPECT_TRUE(topMost.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(topMost.isVisible());
    // No: nothing sent, nothing written, the dialog and its text as they were.
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->memoTwitt->toPlainText(), Japanese(141));
    EXPECT_EQ(BodyFile(), "<missing>");

    server.addConnection(ScriptedServer::reply(kOk));
    ModalWatch<QMessageBox> yes([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    Post();
    EXPECT_EQ(yes.Count(), 1);
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(BodyOf(server.request(0)), "status=" + QByteArray("%E3%81%82").repeated(141) + "&source=brimlark");
    EXPECT_TRUE(Closed());
}

// A limit the server published replaces 140 in the count, the caption and the question;
// a published 0 asks nothing.
TEST_F(PostingDialog, PublishedTextLimit)
{
    QStringList questions;
    ModalWatch<QMessageBox> no([&](QMessageBox* box) {
        questions << box->text();
        box->button(QMessageBox::No)->click();
    });
    dlg->memoTwitt->setPlainText(Japanese(141));
    Post();
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("141文字"));

    dlg->SetTextLimit(500);
    EXPECT_EQ(dlg->Label2->text(), QStringLiteral("(最大500文字)"));
    dlg->memoTwitt->setPlainText(Japanese(12));
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("12/500"));
    dlg->memoTwitt->setPlainText(Japanese(501));
    Post();
    EXPECT_EQ(questions, QStringList({QStringLiteral("140文字を超えているようです。このまま書き込みますか？"),
                                      QStringLiteral("500文字を超えているようです。このまま書き込みますか？")}));
    EXPECT_EQ(server.connectionCount(), 0);

    dlg->SetTextLimit(0);
    EXPECT_EQ(dlg->Label2->text(), QStringLiteral("(文字数の制限なし)"));
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("501文字"));
    server.addConnection(ScriptedServer::reply(kOk));
    dlg->memoTwitt->setPlainText(Japanese(1000));
    Post();
    EXPECT_EQ(no.Count(), 2);
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(BodyOf(server.request(0)), "status=" + QByteArray("%E3%81%82").repeated(1000) + "&source=brimlark");
    EXPECT_TRUE(Closed());
}

// On a fediverse server the dialog counts as the server does and holds to 500 until the
// server publishes its own limit; the post goes to the client API and its Status closes it.
TEST_F(PostingDialog, FediverseCountAndPost)
{
    dlg = std::make_unique<TfrmTwitt>(
        [this] {
            TServiceAccount account(QString::fromLatin1(server.baseUrl()), state.AccountName, state.Password, {});
            account.Family = TServiceFamily::Fediverse;
            account.Token = QStringLiteral("tok");
            return account;
        },
        m_dir.filePath(QStringLiteral("cache/post.txt")), [this](const QString& line) { status << line; }, nullptr);
    dlg->show();
    EXPECT_EQ(dlg->Label2->text(), QStringLiteral("(最大500文字)"));
    // What a reader sees as one character counts one (a family emoji, e and its accent);
    // a web address its own 30 until the server publishes what it counts one as (then
    // 23), the full stop after it not.
    dlg->memoTwitt->setPlainText(QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467e\u0301 見て HTTPS://example.org/a/long/one."));
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("37/500"));
    dlg->SetTextLimit(500, 23);
    EXPECT_EQ(dlg->lblStrCount->text(), QStringLiteral("30/500"));
    dlg->memoTwitt->setPlainText(QStringLiteral("見て https://example.org/a/very/long/address/indeed"));

    const QByteArray status = R"({"id":"01HF","content":"<p>x</p>","account":{"acct":"alice"}})";
    server.addConnection(ScriptedServer::reply("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                                               + QByteArray::number(status.size()) + "\r\n\r\n" + status));
    Post();
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_TRUE(server.request(0).startsWith("POST /api/v1/statuses HTTP/1.1\r\n"));
    EXPECT_EQ(BodyFile(), "status=%E8%A6%8B%E3%81%A6+https%3A%2F%2Fexample.org%2Fa%2Fvery%2Flong%2Faddress%2Findeed");
    EXPECT_TRUE(Closed());
}

// Only a status document counts as posted; every other outcome keeps the text and says why.
TEST_F(PostingDialog, RefusedPostsKeepTheTextAndReportOnTheStatusLine)
{
    struct Case { QByteArray reply; bool closeOnly; QString first; QString second; };
    const Case cases[] = {
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false,
         QStringLiteral("Post Failed ! StatusCode   = 404"), QStringLiteral("ReasonPhrase = Not Found")},
        {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 3\r\nConnection: close\r\n\r\nbad", false,
         QStringLiteral("Post Failed ! StatusCode   = 500"), QStringLiteral("ReasonPhrase = Internal Server Error")},
        {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false,
         QStringLiteral("Post Failed ! StatusCode   = 401"), QStringLiteral("ReasonPhrase = Unauthorized")},
        {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false,
         QStringLiteral("Post Failed ! StatusCode   = 302"), QStringLiteral("ReasonPhrase = Found")},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<html>Sign in</html>", false,
         QStringLiteral("サーバーの応答がつぶやきではありません: 200 OK"), QString()},
        // A connection closed before any reply byte: no status came, so one line says
        // what happened and where.
        {QByteArray(), true,
         QStringLiteral("応答を読み取れませんでした (127.0.0.1:%1): Connection closed before a reply was received").arg(server.port()),
         QString()},
    };
    int i = 0;
    for (const Case& c : cases) {
        if (c.closeOnly)
            server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::close()});
        else
            server.addConnection(ScriptedServer::reply(c.reply));
        status.clear();
        dlg->memoTwitt->setPlainText(QStringLiteral("keep me"));
        ModalWatch<QMessageBox> noBox([](QMessageBox* box) { box->reject(); });
        Post();
        ASSERT_TRUE(server.waitForFinished(i + 1));
        EXPECT_TRUE(dlg->isVisible()) << c.first.toStdString();
        EXPECT_EQ(dlg->memoTwitt->toPlainText(), QStringLiteral("keep me"));
        EXPECT_EQ(status, c.second.isNull() ? QStringList{c.first} : QStringList({c.first, c.second}));
        EXPECT_EQ(noBox.Count(), 0);
        ++i;
    }
}

TEST_F(PostingDialog, BodyFileThatCannotBeWrittenShowsTheErrorBoxAndSendsNothing)
{
    // A plain file named "cache" where the folder should be.
    QFile blocker(m_dir.filePath(QStringLiteral("cache")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    dlg->memoTwitt->setPlainText(QStringLiteral("hello"));
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalWatch<QMessageBox> error([&](QMessageBox* box) {
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    Post();
    EXPECT_EQ(error.Count(), 1);
    EXPECT_EQ(caption, QStringLiteral("Brimlark_Simple"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(text.contains(QStringLiteral("post.txt"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QLatin1Char('.'))) << text.toStdString();
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->memoTwitt->toPlainText(), QStringLiteral("hello"));
}

TEST_F(PostingDialog, SecondPressDuringASlowRequestLeavesTheFirstUnchanged)
{
    server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::delay(400),
                          ScriptedServer::Step::send(kOk), ScriptedServer::Step::close()});
    dlg->memoTwitt->setPlainText(QStringLiteral("first"));
    const QByteArray firstUrl = (state.ApiBase + QStringLiteral("/statuses/update.xml")).toUtf8();
    QByteArray urlDuringSecond;
    QTimer::singleShot(100, dlg.get(), [&] {
        state.AccountName = QStringLiteral("mallory");
        dlg->memoTwitt->setPlainText(QStringLiteral("second"));
        dlg->btnTwitt->click();
        urlDuringSecond = dlg->HttpCli1->Location();  // the running request's address
    });
    Post();
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.connectionCount(), 1);
    const QByteArray request = server.request(0);
    EXPECT_EQ(BodyOf(request), "status=first&source=brimlark");
    EXPECT_TRUE(request.contains("Authorization: Basic YWxpY2U6cHc=\r\n"));
    EXPECT_EQ(urlDuringSecond, firstUrl);
    EXPECT_EQ(status, (QStringList{QStringLiteral("HTTP component HttpCli1 is busy"), QStringLiteral("投稿しました")}));
    EXPECT_TRUE(Closed());  // the first request ended with 200
}

// つぶやく returns at once: the dialog stays open with its text while a slow server
// thinks, the event loop runs meanwhile, and the answer then closes it (2xx) or shows why
// not.
TEST_F(PostingDialog, SendToASlowServerWaitsForTheOutcomeInTheLoop)
{
    struct Case { QByteArray reply; bool accepted; QStringList lines; };
    const Case cases[] = {
        {kOk, true, {QStringLiteral("投稿しました")}},
        {"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false,
         {QStringLiteral("Post Failed ! StatusCode   = 503"), QStringLiteral("ReasonPhrase = Service Unavailable")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.left(12).toStdString());
        server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::delay(600),
                              ScriptedServer::Step::send(c.reply), ScriptedServer::Step::close()});
        status.clear();
        dlg->show();
        dlg->memoTwitt->setPlainText(QStringLiteral("ゆっくり"));
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);

        QTest::mouseClick(dlg->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(dlg->Posting());
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->memoTwitt->toPlainText(), QStringLiteral("ゆっくり"));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !dlg->Posting(); }, 10000));
        EXPECT_GE(ticks, 10);  // about 30 in the 600 ms the server took
        EXPECT_EQ(Closed(), c.accepted);
        EXPECT_EQ(dlg->memoTwitt->toPlainText().isEmpty(), c.accepted);
        EXPECT_EQ(status, c.lines);
    }
}

// Closing the dialog while the post runs, by キャンセル, Esc or the close box: the
// request ends at once (the server sees its socket close), the dialog closes with the
// text kept and the status line says the post may have reached the server. The next
// press posts again.
TEST_F(PostingDialog, ClosingWhilePostingAbortsAndKeepsTheText)
{
    const std::pair<const char*, std::function<void()>> closers[] = {
        {"キャンセル", [this] { QTest::mouseClick(dlg->btnCancel, Qt::LeftButton); }},
        {"Esc", [this] { QTest::keyClick(dlg->memoTwitt, Qt::Key_Escape); }},
        {"close box", [this] { dlg->close(); }},
    };
    int connections = 0;
    for (const auto& [name, closeIt] : closers) {
        SCOPED_TRACE(name);
        server.addConnection({ScriptedServer::Step::readRequest(), ScriptedServer::Step::waitForClose(10000)});
        status.clear();
        dlg->show();
        const QString text = QStringLiteral("下書き ") + QString::fromUtf8(name);
        dlg->memoTwitt->setPlainText(text);
        QTest::mouseClick(dlg->btnTwitt, Qt::LeftButton);
        ++connections;
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.request(connections - 1).endsWith("&source=brimlark"); }, 5000));

        closeIt();
        EXPECT_FALSE(dlg->Posting());
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_EQ(dlg->memoTwitt->toPlainText(), text);
        EXPECT_EQ(status, QStringList{QStringLiteral("投稿を中止しました。サーバーには届いている可能性があります")});
        EXPECT_TRUE(server.waitForFinished(connections, 2000)) << "the request's socket is still open";
    }

    server.addConnection(ScriptedServer::reply(kOk));
    dlg->show();
    Post();
    EXPECT_TRUE(Closed());
    EXPECT_EQ(BodyOf(server.request(connections)), "status=%E4%B8%8B%E6%9B%B8%E3%81%8D+close+box&source=brimlark");
}

TEST_F(PostingDialog, CancelKeepsTheTextForTheNextOpening)
{
    dlg->memoTwitt->setPlainText(QStringLiteral("draft"));
    QTest::mouseClick(dlg->btnCancel, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    dlg->show();
    EXPECT_EQ(dlg->memoTwitt->toPlainText(), QStringLiteral("draft"));
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST(PostingDialogLayout, ControlsCaptionsAndTabOrder)
{
    TMainState state;
    TfrmTwitt dlg(From(state), QString(), {}, nullptr);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("つぶやく"));
    EXPECT_EQ(dlg.size(), QSize(379, 136));
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("本文"));
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("(最大140文字)"));
    EXPECT_EQ(dlg.findChild<QPushButton*>(QStringLiteral("btnTwitt"))->geometry(), QRect(72, 93, 105, 33));
    EXPECT_EQ(dlg.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text(), QStringLiteral("キャンセル"));
    EXPECT_NE(dlg.findChild<THttpCli*>(QStringLiteral("HttpCli1")), nullptr);
    auto* memo = dlg.findChild<QPlainTextEdit*>(QStringLiteral("memoTwitt"));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->font().pixelSize(), 13);
    EXPECT_EQ(NextTabStop(memo), dlg.btnTwitt);
    EXPECT_EQ(NextTabStop(dlg.btnTwitt), dlg.btnCancel);
}

// Every caption fits its label whole ("23文字" is never cut to "3文字"), in the
// dialog's own font and in large ones, and the labels stay in their row above the text box.
// The same with a wide published limit ("888/100000") and with none. Also run at twice
// the scale.
TEST(PostingDialogLayout, CaptionsFitTheirLabelsAtAnyFontSize)
{
    TMainState state;
    for (int limit : {-1, 100000, 0}) {
        TfrmTwitt dlg(From(state), QString(), {}, nullptr);
        if (limit >= 0)
            dlg.SetTextLimit(limit);
        dlg.show();
        for (int pixels : {12, 20, 32}) {
            dlg.setFont(UiFont(pixels));
            for (int length : {0, 23, 140, 888, 12345}) {
                SCOPED_TRACE(testing::Message() << "limit " << limit << ", " << pixels << " px, " << length);
                dlg.memoTwitt->setPlainText(QString(length, u'x'));
                for (QLabel* label : {dlg.Label1, dlg.lblStrCount, dlg.Label2}) {
                    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
                    EXPECT_LE(label->fontMetrics().height(), label->height());
                }
                EXPECT_LE(dlg.Label1->geometry().right(), dlg.lblStrCount->x());
                EXPECT_LE(dlg.lblStrCount->geometry().right(), dlg.Label2->x());
                EXPECT_LE(dlg.Label2->geometry().bottom(), dlg.memoTwitt->y());
                EXPECT_TRUE(dlg.rect().contains(dlg.Label2->geometry()));
                EXPECT_TRUE(dlg.rect().contains(dlg.btnCancel->geometry()));
            }
        }
    }
}

TEST(PostingDialogLayout, TheCountHasAnAccessibleName)
{
    TMainState state;
    TfrmTwitt dlg(From(state), QString(), {}, nullptr);
    QAccessibleInterface* count = QAccessible::queryAccessibleInterface(dlg.lblStrCount);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->text(QAccessible::Name), QStringLiteral("文字数"));
}

} // namespace
