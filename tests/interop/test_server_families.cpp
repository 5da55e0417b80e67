// The main window against three servers of the XML interface: the local service, a GNU
// social-shaped and a Friendica-shaped peer. Reading, reading more, posting through the
// dialog, favourites through the star, a wrong password, and the mentions answered,
// repeated, opened and counted, with what the status lines say; then what only one
// family does, with what the peer received.
#include "FakeBrowser.h"
#include "FamilyPeer.h"
#include "LocalService.h"
#include "app/FormHarness.h"

#include "dialogs/uTwitt.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace harness;

namespace {

enum class Server { Local, GnuSocial, Friendica };

const char* ServerName(Server server)
{
    return server == Server::Local ? "LocalService" : server == Server::GnuSocial ? "GnuSocial" : "Friendica";
}

void PrintTo(Server server, std::ostream* os)
{
    *os << ServerName(server);
}

// One status posted to the local service by another account, straight over a socket.
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
    return ok && reply.startsWith("HTTP/1.1 200");
}

class AnyServer : public FormTest, public ::testing::WithParamInterface<Server> {
protected:
    void SetUp() override
    {
        if (GetParam() == Server::Local) {
            LocalService::Options options;
            options.seed = true;
            options.textLimit = 280;
            local = std::make_unique<LocalService>(options);
            ASSERT_TRUE(local->isRunning()) << local->errorString().toStdString();
        } else {
            peer = std::make_unique<FamilyPeer>(GetParam() == Server::GnuSocial ? FamilyPeer::GnuSocial : FamilyPeer::Friendica);
            ASSERT_TRUE(peer->isListening());
        }
        writeCredentials(user(), password());
    }
    // Friendica is asked under /api/1.1, its other base.
    QByteArray base() const
    {
        return local ? local->baseUrl() : peer->base(GetParam() == Server::Friendica ? "/api/1.1" : "/api");
    }
    QString user() const { return QString::fromLatin1(local ? LocalService::kDemoUser : FamilyPeer::kUser); }
    QString password() const { return QString::fromLatin1(local ? LocalService::kDemoPassword : FamilyPeer::kPassword); }
    // The account as the list names it, and as others mention it.
    QString displayName() const { return local ? QStringLiteral("デモ ユーザー") : QString::fromLatin1(FamilyPeer::kUserName); }
    QString mentionOfAccount() const { return QStringLiteral("@") + user(); }
    int publishedLimit() const { return local ? 280 : GetParam() == Server::GnuSocial ? 1000 : 200000; }
    // Another account posts text naming this one.
    void mentionByAnother(const QString& text)
    {
        if (peer)
            peer->mention(text);
        else
            ASSERT_TRUE(PostAs(local->port(), "sakura", text));
    }
    // Friendica names each status's page; the others leave it to <site>/notice/<id>.
    QUrl statusPage(const QString& id) const
    {
        if (GetParam() == Server::Friendica)
            return QUrl(QString::fromLatin1(FamilyPeer::ExternalUrlOf(id.toInt())));
        return QUrl(QString::fromLatin1(local ? local->baseUrl() : peer->base("")) + QStringLiteral("/notice/") + id);
    }

    // The configuration is read only where a test asks, so it never lands between the
    // requests a test counts.
    std::unique_ptr<TForm1> open(bool readConfig = false, bool readMentions = false)
    {
        auto form = makeForm(base(), readConfig, readMentions);
        form->show();
        return form;
    }
    // Posts text through the dialog, opened from the menu as the user does; whether the
    // dialog was still open after the press.
    bool postFromDialog(TForm1& form, const QString& text)
    {
        auto* dialog = form.findChild<TfrmTwitt*>();
        bool openAfter = true;
        QTimer::singleShot(0, &form, [&] {
            if (QApplication::activeModalWidget() == dialog) {
                dialog->memoTwitt->setPlainText(text);
                QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
                EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->Posting(); }, 30000));
                openAfter = dialog->isVisible();
            }
            if (dialog->isVisible())
                dialog->reject();
        });
        action(form, "mmTwitt")->trigger();
        return openAfter;
    }
    void clickStarOn(TForm1& form, int row)
    {
        setCurrentRow(form, row);
        form.ListView1Click();
        QTest::mouseClick(child<QLabel>(form, "Image1"), Qt::LeftButton);
        EXPECT_TRUE(waitForPost(form));
    }
    // The status lines since `from`.
    static QStringList linesSince(TForm1& form, qsizetype from) { return trace(form).mid(from); }
    // The two status lines, then the server's own words when its reply carried them.
    static QStringList failure(int code, const char* reason, const char* words = nullptr)
    {
        QStringList lines{QStringLiteral("Post Failed ! StatusCode   = %1").arg(code),
                          QStringLiteral("ReasonPhrase = ") + QString::fromLatin1(reason)};
        if (words)
            lines << QStringLiteral("サーバーのメッセージ: ") + QString::fromLatin1(words);
        return lines;
    }

    std::unique_ptr<LocalService> local;
    std::unique_ptr<FamilyPeer> peer;  // the two families
};

TEST_P(AnyServer, ReadsReadsMoreAndPosts)
{
    auto form = open(true);
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    const QStringList firstIds = column(*form, 3);
    ASSERT_EQ(firstIds.size(), 20);
    EXPECT_EQ(detailText(*form), column(*form, 1)[0]);
    EXPECT_EQ(userName(*form), column(*form, 0)[0]);
    // The user's name, never Friendica's author or owner.
    for (int i = 0; peer && i < 20; ++i)
        EXPECT_EQ(column(*form, 0)[i], FamilyPeer::UserNameOf(firstIds[i].toInt())) << i;

    trigger(*form, "mmMore");
    const QStringList ids = column(*form, 3);
    ASSERT_GT(ids.size(), 20);
    EXPECT_EQ(ids.mid(0, 20), firstIds);
    // Newest first, and page 2 holds older statuses than page 1.
    EXPECT_LT(ids[20].toLongLong(), ids[19].toLongLong());
    if (peer) {
        EXPECT_EQ(peer->requestLines().filter("friends_timeline").last(),
                  "GET " + QUrl(QString::fromLatin1(base())).path() + "/statuses/friends_timeline.xml?page=2&twtr=true HTTP/1.1");
    }
    trigger(*form, "pmReload");
    EXPECT_EQ(column(*form, 3), ids);
    EXPECT_EQ(form->StatusText(), QStringLiteral("リロード完了"));

    // The published limit reaches the dialog, Friendica's 200000 as it is.
    WaitUntil([&] { return form->TextLimit().value_or(-1) == publishedLimit(); }, 5000);
    EXPECT_EQ(form->TextLimit().value_or(-1), publishedLimit());
    auto* dialog = form->findChild<TfrmTwitt*>();
    dialog->memoTwitt->setPlainText(QStringLiteral("abc"));
    EXPECT_EQ(dialog->lblStrCount->text(), QStringLiteral("3/%1").arg(publishedLimit()));

    const qsizetype before = trace(*form).size();
    const QString text = QStringLiteral("%1 へ投稿 & 100%").arg(QString::fromLatin1(ServerName(GetParam())));
    EXPECT_FALSE(postFromDialog(*form, text));
    EXPECT_EQ(linesSince(*form, before), QStringList{QStringLiteral("投稿しました")});
    trigger(*form, "mmReload");
    EXPECT_EQ(column(*form, 1).first(), text);
    EXPECT_EQ(column(*form, 0).first(), displayName());
    EXPECT_EQ(form->UnseenCount(), 0) << "one's own status is no news";
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_P(AnyServer, AWrongPasswordIsSaidSo)
{
    {
        writeCredentials(user(), QStringLiteral("wrong"));
        auto form = open();
        EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "認証できませんでした"}));
        EXPECT_EQ(rowCount(*form), 0);
        // The commands are not left locked.
        EXPECT_TRUE(timer(*form, "TimerAutoReload")->isActive());
        EXPECT_TRUE(child<QLabel>(*form, "Image1")->isEnabled());
    }
    writeCredentials(user(), password());
    auto form = open();
    ASSERT_EQ(rowCount(*form), 20);
    const bool wasFavourite = column(*form, 2)[0] == QLatin1String("true");
    form->State().Password = QStringLiteral("changed");
    // The local service says why in its body, and the window shows the server's words.
    QStringList refused = failure(401, "Unauthorized");
    if (GetParam() == Server::Local)
        refused << QStringLiteral("サーバーのメッセージ: Could not authenticate you.");

    qsizetype before = trace(*form).size();
    clickStarOn(*form, 0);
    EXPECT_EQ(linesSince(*form, before).mid(1), refused);
    EXPECT_EQ(goldStar(*form), wasFavourite);
    before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("届かない")));
    EXPECT_EQ(linesSince(*form, before), refused);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_P(AnyServer, AFavouriteIsKept)
{
    auto form = open();
    // A row that is not a favourite yet, shown.
    int row = int(column(*form, 2).indexOf(QStringLiteral("false")));
    ASSERT_GE(row, 0);
    const QString id = column(*form, 3)[row];
    setCurrentRow(*form, row);
    form->ListView1Click();
    EXPECT_TRUE(greyStar(*form));

    const qsizetype before = trace(*form).size();
    QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_EQ(linesSince(*form, before), QStringList{"status_id:" + id});
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(column(*form, 2)[row], QStringLiteral("true"));

    trigger(*form, "mmReload");
    row = int(column(*form, 3).indexOf(id));
    ASSERT_GE(row, 0);
    EXPECT_EQ(column(*form, 2)[row], QStringLiteral("true"));
}

// The mentions tab through the window: read after the first frame, the strip showing the
// tab in front; a mention answered, repeated and opened on the web; a new one counted on
// its tab and, once, in the title; which statuses are the account's own, from the server.
TEST_P(AnyServer, MentionsAreAnsweredRepeatedOpenedAndCounted)
{
    FakeBrowser browser;
    // A peer is signed in to by e-mail: only the server can say which statuses are the account's.
    if (peer)
        writeCredentials(QString::fromLatin1(FamilyPeer::kEmail), password());
    auto form = open(true, true);
    auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
    ASSERT_NE(mentions, nullptr);
    auto* tabs = child<QTabWidget>(*form, "PageControl1");
    EXPECT_TRUE(WaitUntil([&] { return mentions->Count() > 0 && !form->Reading(); }, 5000));
    EXPECT_EQ(mentions->Count(), peer ? FamilyPeer::MentionIds().size() : 5);
    for (const TTimelineStatus& status : mentions->Rows())
        EXPECT_TRUE(status.Text.contains(mentionOfAccount())) << status.Text.toStdString();
    // The first mentions ever read are history: no count.
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信"));
    EXPECT_EQ(detailText(*form), column(*form, 1)[0]);

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
    EXPECT_EQ(browser.opened, QList<QUrl>{statusPage(answered.Id)});

    // The reply and the repeat are in the friends timeline now; the reply knows what it answers.
    tabs->setCurrentIndex(0);
    trigger(*form, "mmReload");
    const int reply = int(column(*form, 1).indexOf("@" + answered.ScreenName + " はい、行きます"));
    ASSERT_GE(reply, 0) << column(*form, 1).join(u'\n').toStdString();
    EXPECT_EQ(list(*form)->model()->index(reply, 0).data(TTimelineModel::InReplyToRole).toString(), answered.Id);
    EXPECT_EQ(column(*form, 1).filter(QStringLiteral("RT @") + answered.ScreenName).size(), 1);
    // The account's own reply, known as its own from verify_credentials (asked once, with
    // the server's configuration): not to be repeated.
    EXPECT_TRUE(WaitUntil([&] { return form->TextLimit().has_value(); }, 5000));
    if (peer) {
        EXPECT_EQ(peer->requestLines().filter("verify_credentials").size(), 1);
    }
    setCurrentRow(*form, reply);
    form->ListView1Click();
    EXPECT_FALSE(action(*form, "mmRepeat")->isEnabled());

    // Another account names this one: news in both lists, counted once in the title, and
    // the tab in front shows its newest.
    tabs->setCurrentIndex(1);
    const QString news = mentionOfAccount() + QStringLiteral(" 新しい話があります");
    mentionByAnother(news);
    trigger(*form, "mmReload");
    EXPECT_TRUE(WaitUntil([&] { return tabs->tabText(1) == QStringLiteral("@返信 (1)"); }, 5000))
        << tabs->tabText(1).toStdString();
    waitIdle(*form);
    EXPECT_EQ(mentions->At(0).Text, news);
    EXPECT_EQ(detailText(*form), news);
    // Coming to a tab is not choosing a row: the count stays.
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信 (1)"));
    const int friendsUnseen = form->findChild<TTimelineModel*>(QStringLiteral("Timeline"))->UnseenCount();
    EXPECT_GE(friendsUnseen, 1);
    EXPECT_EQ(form->UnseenCount(), friendsUnseen);
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral("(%1)").arg(friendsUnseen))) << form->windowTitle().toStdString();
    // Chosen in the mentions, seen in both.
    mentionList->setCurrentIndex(mentions->index(0, 0));
    form->ListView1Click();
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信"));
    EXPECT_EQ(form->UnseenCount(), friendsUnseen - 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, AnyServer, ::testing::Values(Server::Local, Server::GnuSocial, Server::Friendica),
                         [](const auto& info) { return std::string(ServerName(info.param)); });

// --- what only one family does ------------------------------------------------------------

class GnuSocialPeer : public AnyServer {};
class FriendicaPeer : public AnyServer {};

TEST_P(GnuSocialPeer, AFavouriteGoesByItsIdAndASecondIsRefused)
{
    auto form = open();
    ASSERT_EQ(column(*form, 2)[1], QStringLiteral("false"));
    clickStarOn(*form, 1);
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(peer->requestLines().last(), "POST /api/favorites/create/1024.xml HTTP/1.1");
    EXPECT_TRUE(peer->requests().back().endsWith("\r\n\r\nid=1024"));

    const qsizetype before = trace(*form).size();
    clickStarOn(*form, 1);
    EXPECT_EQ(linesSince(*form, before).mid(1), failure(403, "Forbidden", "This status is already a favorite."));
    // A refusal of the first route is the server's answer: no second route is tried.
    EXPECT_EQ(peer->requestLines().filter("favorites").size(), 2);
}

TEST_P(GnuSocialPeer, TooLongAndRepeatedPostsAreRefused)
{
    // No textlimit, a notice limit of 10: the dialog counts against 10, as the server does.
    peer = std::make_unique<FamilyPeer>(FamilyPeer::GnuSocial, FamilyPeer::Options{"false", "10"});
    auto form = open(true);
    WaitUntil([&] { return form->TextLimit().value_or(-1) == 10; }, 5000);
    EXPECT_EQ(form->TextLimit().value_or(-1), 10);

    m_boxes.answer = QMessageBox::Yes;  // post it anyway
    qsizetype before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("十一文字の長いつぶやき")));
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, QStringLiteral("10文字を超えているようです。このまま書き込みますか？"));
    EXPECT_EQ(linesSince(*form, before),
              failure(413, "Request Entity Too Large", "That's too long. Maximum notice size is 10 characters."));

    EXPECT_FALSE(postFromDialog(*form, QStringLiteral("短い")));
    before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("短い")));
    EXPECT_EQ(linesSince(*form, before),
              failure(403, "Forbidden", "Too many duplicate messages too quickly; take a breather and post again in a few minutes."));
    EXPECT_EQ(peer->posted(), QStringList{"短い"});
}

TEST_P(FriendicaPeer, AFavouriteFindsTheRouteByBodyAndKeepsIt)
{
    auto form = open();
    const qsizetype sent = peer->requests().size();
    clickStarOn(*form, 0);
    EXPECT_TRUE(goldStar(*form));
    // The usual route first; its 404 sends the same body to the one Friendica has.
    std::vector<QByteArray> requests = peer->requests();
    ASSERT_EQ(requests.size(), size_t(sent + 2));
    EXPECT_TRUE(requests[sent].startsWith("POST /api/1.1/favorites/create/1025.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests[sent + 1].startsWith("POST /api/1.1/favorites/create.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests[sent + 1].contains("\r\nContent-Type: text/html\r\n"));
    EXPECT_TRUE(requests[sent + 1].endsWith("\r\n\r\nid=1025"));

    // From now on the route that worked is the one asked.
    const qsizetype before = trace(*form).size();
    clickStarOn(*form, 2);
    EXPECT_EQ(linesSince(*form, before), QStringList{"status_id:1023"});
    requests = peer->requests();
    ASSERT_EQ(requests.size(), size_t(sent + 3));
    EXPECT_TRUE(requests.back().startsWith("POST /api/1.1/favorites/create.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests.back().endsWith("\r\n\r\nid=1023"));
    EXPECT_EQ(peer->favourites(), (std::set<QString>{"1025", "1023"}));
}

INSTANTIATE_TEST_SUITE_P(Family, GnuSocialPeer, ::testing::Values(Server::GnuSocial),
                         [](const auto&) { return std::string("GnuSocial"); });
INSTANTIATE_TEST_SUITE_P(Family, FriendicaPeer, ::testing::Values(Server::Friendica),
                         [](const auto&) { return std::string("Friendica"); });

} // namespace
