// Broken and hostile peers met through the main window: the timeline reads (start-up,
// read more, reload), the favourite and the posting dialog each end within their bound
// with the status lines or error box the user is meant to see, leave the window usable,
// and keep the user's rows and text. Every peer is on loopback.
#include "FormHarness.h"
#include "http/HttpCli.h"
#include "service/TalkBack.h"
#include "http/UrlText.h"
#include "LoopbackListener.h"
#include "ScriptedServer.h"
#include "dialogs/uTwitt.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace harness;
using Step = ScriptedServer::Step;

namespace {

constexpr qint64 kBodyCap = 1024 * 1024;  // both clients' body limit in these tests
const QByteArray kOk200 = "HTTP/1.1 200 OK\r\n";

enum class Peer { Scripted, Refused, UnknownHost };

struct FaultCase {
    const char* name;
    Peer peer;
    ScriptedServer::Script script;  // played on every connection to the faulty peer
    int readMs;                     // the window's bounds for a timeline read
    int totalMs;
    int postTimeoutMs;              // the favourite's and the posting dialog's client
    QString readLine;               // the status line after "ロード中..." of a failed read
    QString readError;              // the default error box of read-more; empty: no box
    int postStatus;                 // the favourite's and the post's failure lines
    QByteArray postReason;
    qint64 boundMs;                 // each operation ends within this
};

// Test names instead of byte dumps in failure reports.
void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

ScriptedServer::Script serve(const QByteArray& bytes)
{
    return {Step::readRequest(), Step::send(bytes), Step::close()};
}

QByteArray manyHeaderLines(int n)
{
    QByteArray head = kOk200;
    for (int i = 0; i < n; ++i)
        head += "X-Line-" + QByteArray::number(i) + ": v\r\n";
    return head + "Content-Length: 0\r\n\r\n";
}

std::vector<Row> Rows()
{
    // None is a favourite, so the star's colour tells whatever row the rotation shows.
    return {{QStringLiteral("太郎"), QStringLiteral("一つ目"), QStringLiteral("false"), QStringLiteral("401")},
            {QStringLiteral("花子"), QStringLiteral("二つ目"), QStringLiteral("false"), QStringLiteral("402")},
            {QStringLiteral("次郎"), QStringLiteral("三つ目"), QStringLiteral("false"), QStringLiteral("403")}};
}

const QStringList kIds = {QStringLiteral("401"), QStringLiteral("402"), QStringLiteral("403")};
const QString kLoading = QStringLiteral("ロード中...");
const QString kNoConnection = QStringLiteral("接続できませんでした: ");
const QString kBroken = QStringLiteral("応答を読み取れませんでした: ");
const QString kNextReload = QStringLiteral("次の自動更新は ");


class WindowFault : public FormTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override
    {
        // The posting dialog keeps its body copy beside the settings file, in m_dir.
        ASSERT_TRUE(m_dir.isValid());
        good.setDefaultScript(ScriptedServer::reply(Ok(TimelineXml(Rows()))));
        if (GetParam().peer == Peer::Scripted)
            faulty.setDefaultScript(GetParam().script);
        writeCredentials();
    }

    QString faultBase() const
    {
        switch (GetParam().peer) {
        case Peer::Refused:
            return QStringLiteral("http://127.0.0.1:%1").arg(ClosedLoopbackPort());
        case Peer::UnknownHost:
            return QStringLiteral("http://brimlark-fault.invalid");
        case Peer::Scripted:
            break;
        }
        return QString::fromLatin1(faulty.baseUrl());
    }
    QString goodBase() const { return QString::fromLatin1(good.baseUrl()); }

    std::unique_ptr<TForm1> makeBoundedForm(const QString& api)
    {
        TForm1Options options;
        options.ReadMentions = false;  // a scripted server answers the timeline only
        options.ReadServerConfig = false;
        options.SettingsFile = iniPath();
        options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), api};
        options.Bounds.ReadTimeoutMs = GetParam().readMs;
        options.Bounds.TotalTimeoutMs = GetParam().totalMs;
        options.Bounds.MaxBodySize = kBodyCap;
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        waitIdle(*form);
        // The event-driven clients get the same kind of short bounds.
        for (THttpCli* cli : {favouriteClient(*form), postingDialog(*form)->HttpCli1}) {
            cli->Timeout = GetParam().postTimeoutMs;
            cli->ReplyLimits.MaxBodySize = kBodyCap;
        }
        return form;
    }

    static THttpCli* favouriteClient(TForm1& form)
    {
        return form.findChild<TTalkBack*>()->findChild<THttpCli*>(QStringLiteral("HttpCli1"));
    }
    static TfrmTwitt* postingDialog(TForm1& form) { return form.findChild<TfrmTwitt*>(); }

    static void pointAt(TForm1& form, const QString& base)
    {
        form.State().ApiBase = base;
        form.State().TimelineAddress = base + QStringLiteral("/statuses/friends_timeline.xml");
    }

    // The lines of a failed post or favourite: a 200 whose body broke off is no status; the
    // two of another status the peer sent; or, when it sent none (the client's own 404),
    // one that says what failed, for which host, and why.
    void expectFailureLines(const QStringList& lines) const
    {
        const FaultCase& c = GetParam();
        if (c.postStatus == 200) {
            EXPECT_EQ(lines, QStringList{QStringLiteral("サーバーの応答がつぶやきではありません: 200 OK")});
            return;
        }
        if (c.postStatus != 404) {
            EXPECT_EQ(lines, QStringList({QStringLiteral("Post Failed ! StatusCode   = %1").arg(c.postStatus),
                                          QStringLiteral("ReasonPhrase = ") + QString::fromUtf8(c.postReason)}));
            return;
        }
        const bool noConnection = c.peer == Peer::Refused || c.peer == Peer::UnknownHost;
        const QString host = c.peer == Peer::Refused ? QStringLiteral("127.0.0.1:") : QString(SplitUrl(faultBase().toUtf8()).Host);
        ASSERT_EQ(lines.size(), 1) << lines.join(u'|').toStdString();
        EXPECT_TRUE(lines[0].startsWith((noConnection ? QStringLiteral("接続できませんでした (") : QStringLiteral("応答を読み取れませんでした ("))
                                        + host)) << lines[0].toStdString();
        EXPECT_TRUE(lines[0].endsWith(QStringLiteral("): ") + QString::fromUtf8(c.postReason))) << lines[0].toStdString();
    }

    static void expectUsable(TForm1& form)
    {
        for (const char* name : {"mmLogin", "mmReload", "mmMore", "mmTwitt", "pmReload", "pmMore", "pmTwitt"})
            EXPECT_TRUE(action(form, name)->isEnabled()) << name;
        EXPECT_TRUE(list(form)->isEnabled());
        EXPECT_TRUE(child<QLabel>(form, "Image1")->isEnabled());
        EXPECT_TRUE(timer(form, "TimerAutoReload")->isActive());
        EXPECT_TRUE(timer(form, "TimerAutoRotation")->isActive());
        EXPECT_EQ(favouriteClient(form)->State(), httpReady);
        EXPECT_EQ(postingDialog(form)->HttpCli1->State(), httpReady);
    }

    // A good reload through the same window: every page it asks for comes back.
    void expectGoodReload(TForm1& form)
    {
        pointAt(form, goodBase());
        trigger(form, "pmReload");
        QStringList ids;
        for (int page = 0; page <= form.PageCounter(); ++page)
            ids += kIds;
        EXPECT_EQ(column(form, 3), ids);
        EXPECT_EQ(selectedRow(form), 0);
        EXPECT_EQ(form.StatusText(), QStringLiteral("リロード完了"));
    }

    ScriptedServer good;
    ScriptedServer faulty;
};

TEST_P(WindowFault, TimelineReadsEndInTimeAndLeaveTheWindowUsable)
{
    const FaultCase& c = GetParam();
    // A read that got no reply names where it connected, as a post does.
    auto failedRead = [&](TForm1& form) {
        const THttpUrl u = SplitUrl(form.State().ApiBase.toUtf8());
        QString line = c.readLine;
        if (line.startsWith(kNoConnection) || line.startsWith(kBroken))
            line.insert(line.indexOf(u':'), QStringLiteral(" (%1)").arg(QString::fromUtf8(Authority(u.Scheme, u.Host, u.Port))));
        return QStringList{kLoading, line};
    };
    // A relocation is answered like a refusal: it ends only its own page and asks no
    // longer wait; every other failure here ends the reload and backs the timer off.
    const bool relocated = c.readError.isEmpty();
    auto backedOff = [&](const QStringList& lines) {
        return !lines.isEmpty() && lines.last().startsWith(kNextReload);
    };

    // Start-up swallows the failure: the status lines alone tell it.
    QElapsedTimer clock;
    clock.start();
    auto form = makeBoundedForm(faultBase());
    EXPECT_LT(clock.elapsed(), c.boundMs);
    EXPECT_EQ(trace(*form).mid(0, 2), failedRead(*form));
    EXPECT_EQ(trace(*form).size(), relocated ? 2 : 3);
    EXPECT_EQ(backedOff(trace(*form)), !relocated);
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_EQ(rowCount(*form), 0);
    expectUsable(*form);
    expectGoodReload(*form);

    // Read more appends, so the rows already there stay, and so does the selection.
    setCurrentRow(*form, 1);
    pointAt(*form, faultBase());
    qsizetype before = trace(*form).size();
    clock.restart();
    trigger(*form, "pmMore");
    EXPECT_LT(clock.elapsed(), c.boundMs);
    EXPECT_EQ(trace(*form).mid(before), failedRead(*form));
    EXPECT_EQ(column(*form, 3), kIds);
    EXPECT_EQ(selectedRow(*form), 1);
    if (relocated) {
        EXPECT_TRUE(m_boxes.boxes.empty());
    } else {
        ASSERT_EQ(m_boxes.boxes.size(), 1u);
        EXPECT_EQ(m_boxes.boxes[0].title, QStringLiteral("Brimlark_Simple"));
        EXPECT_EQ(m_boxes.boxes[0].text, c.readError);
        EXPECT_EQ(m_boxes.boxes[0].icon, QMessageBox::Critical);
    }
    expectUsable(*form);

    // A failed reload gives the rows back (grey) and says so last. A relocation ends only
    // its own page; any other failure ends the reload, and neither reaches a box.
    const size_t boxes = m_boxes.boxes.size();
    before = trace(*form).size();
    clock.restart();
    trigger(*form, "pmReload");
    EXPECT_LT(clock.elapsed(), c.boundMs * 2);
    QStringList reloadLines{QStringLiteral("リロード中")};
    for (int page = 0; page <= (relocated ? form->PageCounter() : 0); ++page)
        reloadLines += failedRead(*form);
    const QStringList after = trace(*form).mid(before);
    EXPECT_EQ(after.mid(0, reloadLines.size()), reloadLines);
    EXPECT_EQ(after.size(), reloadLines.size() + (relocated ? 1 : 2));
    EXPECT_EQ(backedOff(after.mid(0, after.size() - 1)), !relocated);
    EXPECT_TRUE(after.last().startsWith(QStringLiteral("前回 ")));
    EXPECT_EQ(column(*form, 3), kIds);
    EXPECT_EQ(m_boxes.boxes.size(), boxes);
    expectUsable(*form);
    expectGoodReload(*form);
}

TEST_P(WindowFault, FavouriteEndsInTimeAndKeepsTheRows)
{
    const FaultCase& c = GetParam();
    auto form = makeBoundedForm(goodBase());
    form->show();
    ASSERT_EQ(column(*form, 3), kIds);
    auto* star = child<QLabel>(*form, "Image1");

    pointAt(*form, faultBase());
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(star, Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_LT(clock.elapsed(), c.boundMs);
    const QStringList lines = trace(*form);
    // The rotation may have moved on before the click; the first line names the row.
    qsizetype clickedAt = lines.size() - 1;
    while (clickedAt >= 0 && !lines[clickedAt].startsWith(QStringLiteral("status_id:")))
        --clickedAt;
    ASSERT_GE(clickedAt, 0);
    ASSERT_TRUE(kIds.contains(lines[clickedAt].mid(QStringLiteral("status_id:").size())));
    expectFailureLines(lines.mid(clickedAt + 1));
    EXPECT_TRUE(greyStar(*form));
    EXPECT_EQ(column(*form, 3), kIds);
    EXPECT_EQ(column(*form, 2), QStringList(3, QStringLiteral("false")));
    EXPECT_TRUE(m_boxes.boxes.empty());
    expectUsable(*form);

    // The same window marks a favourite at a good service, then reads again.
    pointAt(*form, goodBase());
    good.addConnection(ScriptedServer::reply(Ok("<status/>")));
    const qsizetype before = trace(*form).size();
    QTest::mouseClick(star, Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(trace(*form).size(), before + 1);  // "status_id:" alone: no failure
    EXPECT_TRUE(column(*form, 2).contains(QStringLiteral("true")));
    expectGoodReload(*form);
    expectUsable(*form);
}

TEST_P(WindowFault, PostEndsInTimeAndKeepsTheText)
{
    const FaultCase& c = GetParam();
    auto form = makeBoundedForm(goodBase());
    form->show();
    TfrmTwitt* dialog = postingDialog(*form);
    ASSERT_NE(dialog, nullptr);
    const QString text = QStringLiteral("障害試験の投稿") + QString::fromLatin1(c.name);

    // Opened from the menu as the user does; the command lock holds while it is open.
    struct Seen {
        bool ran = false;
        qint64 elapsedMs = 0;
        bool openAfterPost = false;
        QString textAfterPost;
    } seen;
    auto postFromDialog = [&](const QString& typed) {
        QTimer::singleShot(0, form.get(), [&, typed] {
            seen = {};
            if (QApplication::activeModalWidget() == dialog) {
                seen.ran = true;
                if (!typed.isNull())
                    dialog->memoTwitt->setPlainText(typed);
                QElapsedTimer clock;
                clock.start();
                QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
                EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->Posting(); }, 60000));
                seen.elapsedMs = clock.elapsed();
                seen.openAfterPost = dialog->isVisible();
                seen.textAfterPost = dialog->memoTwitt->toPlainText();
                if (dialog->isVisible())
                    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
            }
            if (dialog->isVisible())
                dialog->reject();  // never leaves the test waiting on the dialog
        });
        action(*form, "mmTwitt")->trigger();
    };

    pointAt(*form, faultBase());
    const qsizetype before = trace(*form).size();
    postFromDialog(text);
    ASSERT_TRUE(seen.ran);
    EXPECT_LT(seen.elapsedMs, c.boundMs);
    // The post failed: the dialog stayed open with the text, and the text is still there
    // once the dialog is closed.
    EXPECT_TRUE(seen.openAfterPost);
    EXPECT_EQ(seen.textAfterPost, text);
    EXPECT_EQ(dialog->memoTwitt->toPlainText(), text);
    expectFailureLines(trace(*form).mid(before));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(column(*form, 3), kIds);
    EXPECT_TRUE(m_boxes.boxes.empty());
    expectUsable(*form);

    // The kept text goes out as it was typed at a good service, through the same window.
    pointAt(*form, goodBase());
    const int connections = good.connectionCount();
    good.addConnection(ScriptedServer::reply(Ok("<status/>")));
    postFromDialog(QString());
    ASSERT_TRUE(seen.ran);
    EXPECT_FALSE(seen.openAfterPost);
    EXPECT_TRUE(dialog->memoTwitt->toPlainText().isEmpty());
    ASSERT_TRUE(good.waitForFinished(connections + 1));
    const QByteArray request = good.request(connections);
    EXPECT_EQ(RequestLine(request), "POST /statuses/update.xml HTTP/1.1");
    EXPECT_TRUE(request.endsWith("\r\n\r\nstatus=" + text.toUtf8().toPercentEncoding() + "&source=brimlark"))
        << request.constData();
    expectUsable(*form);
    expectGoodReload(*form);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, WindowFault,
    ::testing::Values(
        FaultCase{"Refused", Peer::Refused, {}, 2000, 5000, 5000, kNoConnection + "Connection refused.",
                  QStringLiteral("Socket Error # 10061\r\nConnection refused."),
                  404, "Connection refused (Error #10061)", 4000},
        FaultCase{"UnknownHost", Peer::UnknownHost, {}, 2000, 5000, 5000, kNoConnection + "Host not found.",
                  QStringLiteral("Socket Error # 11001\r\nHost not found."),
                  404, "can't resolve hostname to IP address", 4000},
        FaultCase{"NeverAnswers", Peer::Scripted, {Step::readRequest(), Step::waitForClose(10000)},
                  400, 5000, 500, kBroken + "Read Timeout", QStringLiteral("Read Timeout."),
                  404, "Connection timed out (Error #10060)", 4000},
        FaultCase{"ClosesBeforeStatusLine", Peer::Scripted, {Step::readRequest(), Step::close()},
                  2000, 5000, 5000, kBroken + "Connection Closed Gracefully.", QStringLiteral("Connection Closed Gracefully."),
                  404, "Connection closed before a reply was received", 4000},
        FaultCase{"ClosesMidHead", Peer::Scripted,
                  serve(kOk200 + "Content-Type: application/xml\r\nContent-Le"),
                  2000, 5000, 5000, kBroken + "Undefined situation", QStringLiteral("Undefined situation."), 200, "OK", 4000},
        FaultCase{"ClosesMidBody", Peer::Scripted,
                  serve(kOk200 + "Content-Length: 1000\r\n\r\n<?xml version=\"1.0\"?>\n<statuses><status>"),
                  2000, 5000, 5000, kBroken + "Connection Closed Gracefully.", QStringLiteral("Connection Closed Gracefully."), 200, "OK", 4000},
        FaultCase{"Reset", Peer::Scripted, {Step::readRequest(), Step::reset()},
                  2000, 5000, 5000, kBroken + "Connection reset by peer.", QStringLiteral("Socket Error # 10054\r\nConnection reset by peer."),
                  404, "Connection closed before a reply was received", 4000},
        // Each byte comes well inside the wait for data: only the bound on the whole
        // read or post ends it.
        FaultCase{"TrickleOfOneByteEveryTwoSeconds", Peer::Scripted,
                  {Step::readRequest(), Step::trickle(Ok(TimelineXml(Rows())), 2000)},
                  3000, 1000, 1000, kBroken + "Read Timeout", QStringLiteral("Read Timeout."),
                  404, "Connection timed out (Error #10060)", 4000},
        FaultCase{"HundredMegabyteBody", Peer::Scripted,
                  {Step::readRequest(), Step::send(kOk200 + "Content-Type: application/xml\r\n\r\n"),
                   Step::sendRepeated(QByteArray(1024 * 1024, 'x'), 100), Step::close()},
                  2000, 5000, 5000, kBroken + "Reply body exceeds the limit of 1048576 bytes.", QStringLiteral("Reply body exceeds the limit of 1048576 bytes."),
                  404, "Reply body exceeds the limit of 1048576 bytes.", 4000},
        FaultCase{"MegabyteHeaderLine", Peer::Scripted,
                  serve(kOk200 + "X-Big: " + QByteArray(1024 * 1024, 'h') + "\r\n\r\n"),
                  2000, 5000, 5000, kBroken + "Max line length exceeded.", QStringLiteral("Max line length exceeded."),
                  404, "Reply header line too long (more than 16384 bytes)", 4000},
        FaultCase{"ChunkSizeAllOnes", Peer::Scripted,
                  serve(kOk200 + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nab"),
                  2000, 5000, 5000, kBroken + "Invalid chunk size: ffffffffffffffff", QStringLiteral("Invalid chunk size: ffffffffffffffff."),
                  404, "Invalid chunk size: ffffffffffffffff", 4000},
        FaultCase{"TenThousandHeaderLines", Peer::Scripted, serve(manyHeaderLines(10000)),
                  2000, 5000, 5000, kBroken + "Reply header has more than 1000 lines.", QStringLiteral("Reply header has more than 1000 lines."),
                  404, "Reply header has more than 1000 lines.", 4000},
        // Neither the read nor a post follows a 302: each ends with it, and it is no success.
        FaultCase{"RedirectLoop", Peer::Scripted,
                  serve("HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"),
                  2000, 5000, 5000, QStringLiteral("サーバーが別のアドレスへ転送しようとしました: 302 Found"), {}, 302, "Found", 4000}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
