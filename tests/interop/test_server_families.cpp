// The main window against a GNU social-shaped and a Friendica-shaped peer: reading,
// reading more, posting through the dialog, favourites through the star and a wrong
// password, with what the peer received and what the status lines say. Then the calls
// the window does not make yet (replies, repeats, mentions, the account), straight to
// the peers over a socket and read with the real parser.
#include "FakeBrowser.h"
#include "FamilyPeer.h"
#include "app/FormHarness.h"

#include "dialogs/uTwitt.h"
#include "xml/XMLDoc.h"

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

const char* FamilyName(FamilyPeer::Family family)
{
    return family == FamilyPeer::GnuSocial ? "GnuSocial" : "Friendica";
}

class ServerFamily : public FormTest, public ::testing::WithParamInterface<FamilyPeer::Family> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer->isListening());
        writeCredentials(QString::fromLatin1(FamilyPeer::kUser), QString::fromLatin1(FamilyPeer::kPassword));
    }
    // The configuration is read only where a test asks, so it never lands between the
    // requests a test counts.
    std::unique_ptr<TForm1> open(const QByteArray& prefix = "/api", bool readConfig = false)
    {
        auto form = makeForm(peer->base(prefix), readConfig);
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
    static QStringList failure(int code, const char* reason)
    {
        return {QStringLiteral("Post Failed ! StatusCode   = %1").arg(code),
                QStringLiteral("ReasonPhrase = ") + QString::fromLatin1(reason)};
    }
    static QStringList ids(int newest, int count)
    {
        QStringList out;
        for (int id = newest; id > newest - count; --id)
            out << QString::number(id);
        return out;
    }

    std::unique_ptr<FamilyPeer> peer = std::make_unique<FamilyPeer>(GetParam());
};

TEST_P(ServerFamily, ReadsReadsMoreAndPosts)
{
    const QByteArray prefix = GetParam() == FamilyPeer::Friendica ? "/api/1.1" : "/api";
    auto form = open(prefix, true);
    EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    ASSERT_EQ(column(*form, 3), ids(1025, 20));
    // The user's name, never Friendica's author or owner.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(column(*form, 0)[i], FamilyPeer::UserNameOf(1025 - i)) << i;
    EXPECT_EQ(userName(*form), FamilyPeer::UserNameOf(1025));

    trigger(*form, "mmMore");
    EXPECT_EQ(column(*form, 3), ids(1025, 25));
    EXPECT_EQ(peer->requestLines().filter("friends_timeline").last(),
              "GET " + prefix + "/statuses/friends_timeline.xml?page=2&twtr=true HTTP/1.1");

    // The published limit reaches the dialog: GNU social's 1000, Friendica's 200000 as it is.
    const int limit = GetParam() == FamilyPeer::GnuSocial ? 1000 : 200000;
    WaitUntil([&] { return form->TextLimit().value_or(-1) == limit; }, 5000);
    EXPECT_EQ(form->TextLimit().value_or(-1), limit);
    auto* dialog = form->findChild<TfrmTwitt*>();
    dialog->memoTwitt->setPlainText(QStringLiteral("abc"));
    EXPECT_EQ(dialog->lblStrCount->text(), QStringLiteral("3/%1").arg(limit));

    const qsizetype before = trace(*form).size();
    const QString text = QStringLiteral("%1 へ投稿 & 100%").arg(QString::fromLatin1(FamilyName(GetParam())));
    EXPECT_FALSE(postFromDialog(*form, text));
    EXPECT_EQ(peer->posted(), QStringList{text});
    EXPECT_EQ(linesSince(*form, before), QStringList{});
    trigger(*form, "mmReload");
    EXPECT_EQ(column(*form, 1).first(), text);
    EXPECT_EQ(column(*form, 0).first(), QStringLiteral("Alice"));
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_P(ServerFamily, AWrongPasswordIsSaidSo)
{
    {
        writeCredentials(QString::fromLatin1(FamilyPeer::kUser), QStringLiteral("wrong"));
        auto form = open();
        EXPECT_EQ(trace(*form), (QStringList{"ロード中...", "認証できませんでした"}));
        EXPECT_EQ(rowCount(*form), 0);
    }
    writeCredentials(QString::fromLatin1(FamilyPeer::kUser), QString::fromLatin1(FamilyPeer::kPassword));
    auto form = open();
    ASSERT_EQ(rowCount(*form), 20);
    form->State().Password = QStringLiteral("changed");

    qsizetype before = trace(*form).size();
    clickStarOn(*form, 0);
    EXPECT_EQ(linesSince(*form, before).mid(1), failure(401, "Unauthorized"));
    before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("届かない")));
    EXPECT_EQ(linesSince(*form, before), failure(401, "Unauthorized"));
    EXPECT_TRUE(peer->favourites().empty());
    EXPECT_TRUE(peer->posted().isEmpty());
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// The mentions tab through the window: read after the first frame, the strip showing the
// tab in front; a mention answered, repeated and opened on the web; a new one counted on
// its tab and, once, in the title; who the account is, from the server.
TEST_P(ServerFamily, MentionsAreAnsweredRepeatedOpenedAndCounted)
{
    const bool friendica = GetParam() == FamilyPeer::Friendica;
    const QByteArray prefix = friendica ? "/api/1.1" : "/api";
    FakeBrowser browser;
    // Signed in by e-mail: only the server can say which statuses are the account's.
    writeCredentials(QString::fromLatin1(FamilyPeer::kEmail), QString::fromLatin1(FamilyPeer::kPassword));
    auto form = makeForm(peer->base(prefix), true, true);
    form->show();
    auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
    ASSERT_NE(mentions, nullptr);
    auto* tabs = child<QTabWidget>(*form, "PageControl1");
    WaitUntil([&] { return mentions->Count() == 3; }, 5000);
    EXPECT_EQ(mentions->Count(), 3);
    waitIdle(*form);
    EXPECT_EQ(peer->requestLines().filter("mentions").first(), "GET " + prefix + "/statuses/mentions.xml HTTP/1.1");
    // The first mentions ever read are history: no count.
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信"));
    EXPECT_EQ(detailText(*form), QStringLiteral("つぶやき 1025 http://example.org/1025"));

    tabs->setCurrentIndex(1);
    EXPECT_EQ(detailText(*form), QStringLiteral("@alice 明日の件、了解です"));
    auto* dialog = form->findChild<TfrmTwitt*>();
    bool sent = false;
    QTimer::singleShot(0, form.get(), [&] {
        EXPECT_EQ(dialog->memoTwitt->toPlainText(), QStringLiteral("@u2 "));
        dialog->memoTwitt->insertPlainText(QStringLiteral("了解です"));
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 5000));
        sent = true;
    });
    action(*form, "mmReply")->trigger();
    EXPECT_TRUE(sent);
    EXPECT_EQ(peer->posted(), QStringList{"@u2 了解です"});
    EXPECT_EQ(peer->postedInReplyTo(), QStringList{"953"});

    m_boxes.answer = QMessageBox::Yes;
    action(*form, "mmRepeat")->trigger();
    WaitUntil([&] { return trace(*form).last() == QStringLiteral("リピートしました"); }, 5000);
    EXPECT_EQ(trace(*form).last(), QStringLiteral("リピートしました"));
    EXPECT_EQ(peer->retweetsAsked(), QStringList{"953"});

    action(*form, "mmBrowser")->trigger();
    const QUrl page(friendica ? QString::fromLatin1(FamilyPeer::ExternalUrlOf(953))
                              : QString::fromLatin1(peer->base("")) + QStringLiteral("/notice/953"));
    EXPECT_EQ(browser.opened, QList<QUrl>{page});

    // A friend names alice: news in both lists, counted once in the title.
    const int id = peer->mention(QStringLiteral("@alice 新しい話"));
    trigger(*form, "mmReload");
    WaitUntil([&] { return tabs->tabText(1) == QStringLiteral("@返信 (1)"); }, 5000);
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信 (1)"));
    waitIdle(*form);
    EXPECT_EQ(mentions->At(0).Id, QString::number(id));
    EXPECT_EQ(detailText(*form), QStringLiteral("@alice 新しい話"));  // the tab in front shows its newest
    // Coming to a tab is not choosing a row: the count stays.
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信 (1)"));
    EXPECT_EQ(tabs->widget(1)->objectName(), QStringLiteral("tabMentions"));
    const int friendsUnseen = form->findChild<TTimelineModel*>(QStringLiteral("Timeline"))->UnseenCount();
    EXPECT_GE(friendsUnseen, 1);
    EXPECT_EQ(form->UnseenCount(), friendsUnseen);
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral("(%1)").arg(friendsUnseen))) << form->windowTitle().toStdString();
    // Chosen in the mentions, seen in both.
    auto* mentionList = child<QTreeView>(*form, "ListViewMentions");
    mentionList->setCurrentIndex(mentions->index(0, 0));
    form->ListView1Click();
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("@返信"));
    EXPECT_EQ(form->UnseenCount(), friendsUnseen - 1);

    // alice's own status, known as hers from verify_credentials: not to be repeated.
    // Reported with the server's configuration, once.
    EXPECT_TRUE(WaitUntil([&] { return form->TextLimit().has_value(); }, 5000));
    EXPECT_EQ(peer->requestLines().filter("verify_credentials").size(), 1);
    tabs->setCurrentIndex(0);
    const int own = int(column(*form, 0).indexOf(QStringLiteral("Alice")));
    ASSERT_GE(own, 0);
    setCurrentRow(*form, own);
    form->ListView1Click();
    EXPECT_FALSE(action(*form, "mmRepeat")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Families, ServerFamily, ::testing::Values(FamilyPeer::GnuSocial, FamilyPeer::Friendica),
                         [](const auto& info) { return std::string(FamilyName(info.param)); });

// --- what only one family does ------------------------------------------------------------

class GnuSocialPeer : public ServerFamily {};
class FriendicaPeer : public ServerFamily {};

TEST_P(GnuSocialPeer, AFavouriteGoesByItsIdAndARepeatIsRefused)
{
    auto form = open();
    ASSERT_EQ(column(*form, 2)[1], QStringLiteral("false"));
    qsizetype before = trace(*form).size();
    clickStarOn(*form, 1);
    EXPECT_EQ(linesSince(*form, before), QStringList{"status_id:1024"});
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(peer->requestLines().last(), "POST /api/favorites/create/1024.xml HTTP/1.1");
    EXPECT_TRUE(peer->requests().back().endsWith("\r\n\r\nid=1024"));
    EXPECT_EQ(peer->favourites(), std::set<QString>{"1024"});

    before = trace(*form).size();
    clickStarOn(*form, 1);
    EXPECT_EQ(linesSince(*form, before).mid(1), failure(403, "Forbidden"));
    // A refusal of the first route is the server's answer: no second route is tried.
    EXPECT_EQ(peer->requestLines().filter("favorites").size(), 2);
}

TEST_P(GnuSocialPeer, TooLongAndRepeatedPostsAreRefused)
{
    // No textlimit, a notice limit of 10: the dialog counts against 10, as the server does.
    peer = std::make_unique<FamilyPeer>(FamilyPeer::GnuSocial, FamilyPeer::Options{"false", "10"});
    auto form = open("/api", true);
    WaitUntil([&] { return form->TextLimit().value_or(-1) == 10; }, 5000);
    EXPECT_EQ(form->TextLimit().value_or(-1), 10);

    m_boxes.answer = QMessageBox::Yes;  // post it anyway
    qsizetype before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("十一文字の長いつぶやき")));
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, QStringLiteral("10文字を超えているようです。このまま書き込みますか？"));
    EXPECT_EQ(linesSince(*form, before), failure(413, "Request Entity Too Large"));

    EXPECT_FALSE(postFromDialog(*form, QStringLiteral("短い")));
    before = trace(*form).size();
    EXPECT_TRUE(postFromDialog(*form, QStringLiteral("短い")));
    EXPECT_EQ(linesSince(*form, before), failure(403, "Forbidden"));
    EXPECT_EQ(peer->posted(), QStringList{"短い"});
}

TEST_P(FriendicaPeer, AFavouriteFindsTheRouteByBodyAndKeepsIt)
{
    auto form = open();
    qsizetype before = trace(*form).size();
    const qsizetype sent = peer->requests().size();
    clickStarOn(*form, 0);
    EXPECT_EQ(linesSince(*form, before), QStringList{"status_id:1025"});
    EXPECT_TRUE(goldStar(*form));
    EXPECT_EQ(column(*form, 2)[0], QStringLiteral("true"));
    // The usual route first; its 404 sends the same body to the one Friendica has.
    std::vector<QByteArray> requests = peer->requests();
    ASSERT_EQ(requests.size(), size_t(sent + 2));
    EXPECT_TRUE(requests[sent].startsWith("POST /api/favorites/create/1025.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests[sent + 1].startsWith("POST /api/favorites/create.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests[sent + 1].contains("\r\nContent-Type: text/html\r\n"));
    EXPECT_TRUE(requests[sent + 1].endsWith("\r\n\r\nid=1025"));

    // From now on the route that worked is the one asked.
    before = trace(*form).size();
    clickStarOn(*form, 2);
    EXPECT_EQ(linesSince(*form, before), QStringList{"status_id:1023"});
    requests = peer->requests();
    ASSERT_EQ(requests.size(), size_t(sent + 3));
    EXPECT_TRUE(requests.back().startsWith("POST /api/favorites/create.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(requests.back().endsWith("\r\n\r\nid=1023"));
    EXPECT_EQ(peer->favourites(), (std::set<QString>{"1025", "1023"}));

    trigger(*form, "mmReload");
    EXPECT_EQ(column(*form, 2).mid(0, 3), (QStringList{"true", "false", "true"}));
}

// --- replies, repeats, mentions and the account, straight to the peers -----------------

struct Exchange {
    int code = 0;
    QByteArray body;
};

// One request with alice's credentials (or the given ones); the peer closes after its reply.
Exchange Ask(const FamilyPeer& peer, const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
             const QByteArray& credentials = QByteArray(FamilyPeer::kUser) + ':' + FamilyPeer::kPassword)
{
    const QUrl base(QString::fromLatin1(peer.base()));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(base.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                   "Authorization: Basic " + credentials.toBase64() + "\r\n"
                                   "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        (void)::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            reply.append(buffer, n);
    }
    ::close(fd);
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    return {reply.mid(9, 3).toInt(), headEnd < 0 ? QByteArray() : reply.mid(headEnd + 4)};
}

// The text of parent's child element; "<missing>" when it has none.
QString Text(TXMLNode* parent, const char* name)
{
    TXMLNode* node = parent ? parent->ChildList()->FindByName(QString::fromLatin1(name)) : nullptr;
    return node ? node->ElementText() : QStringLiteral("<missing>");
}

class PeerCalls : public ::testing::TestWithParam<FamilyPeer::Family> {
protected:
    void SetUp() override { ASSERT_TRUE(peer.isListening()); }
    bool friendica() const { return GetParam() == FamilyPeer::Friendica; }
    // The reply's root element, parsed; its namespace is checked on the way.
    TXMLNode* root(const Exchange& reply, const char* name)
    {
        document = std::make_unique<TXMLDocument>();
        document->LoadFromText(reply.body);
        TXMLNode* element = document->RootElement();
        EXPECT_EQ(element->LocalName(), QString::fromLatin1(name)) << reply.body.toStdString();
        EXPECT_EQ(element->NamespaceURI(), friendica() ? QStringLiteral("http://api.twitter.com") : QString());
        return element;
    }
    // A Friendica status names its web page; a GNU social one leaves that to the client.
    void expectExternalUrl(TXMLNode* status)
    {
        EXPECT_EQ(Text(status, "external_url"),
                  friendica() ? QString::fromLatin1(FamilyPeer::ExternalUrlOf(Text(status, "id").toInt()))
                              : QStringLiteral("<missing>"));
    }

    FamilyPeer peer{GetParam()};
    std::unique_ptr<TXMLDocument> document;
};

TEST_P(PeerCalls, RepliesAreRecordedAndAnswerAStatusTheyKnow)
{
    const QByteArray body = "status=%40u1+%E3%81%AF%E3%81%84&in_reply_to_status_id=1024";
    Exchange reply = Ask(peer, "POST", "/api/statuses/update.xml", body);
    ASSERT_EQ(reply.code, 200) << reply.body.toStdString();
    EXPECT_EQ(peer.lastUpdateBody(), body);
    TXMLNode* status = root(reply, "status");
    EXPECT_EQ(Text(status, "text"), QStringLiteral("@u1 はい"));
    EXPECT_EQ(Text(status, "in_reply_to_status_id"), QStringLiteral("1024"));
    EXPECT_EQ(Text(status, "in_reply_to_user_id"), QStringLiteral("2"));
    EXPECT_EQ(Text(status, "in_reply_to_screen_name"), QStringLiteral("u1"));
    EXPECT_EQ(Text(status->ChildList()->FindByName("user"), "screen_name"), QStringLiteral("alice"));
    expectExternalUrl(status);

    // Recorded as sent even when the peer knows no such status; the status then answers nothing.
    reply = Ask(peer, "POST", "/api/statuses/update.xml", "status=plain&in_reply_to_status_id=5");
    ASSERT_EQ(reply.code, 200);
    EXPECT_EQ(Text(root(reply, "status"), "in_reply_to_status_id"), QString());
    ASSERT_EQ(Ask(peer, "POST", "/api/statuses/update.xml", "status=none").code, 200);
    EXPECT_EQ(peer.postedInReplyTo(), (QStringList{"1024", "5", ""}));
    EXPECT_EQ(peer.posted(), (QStringList{"@u1 はい", "plain", "none"}));
}

TEST_P(PeerCalls, ARepeatHoldsTheOriginal)
{
    const QByteArray prefix = friendica() ? "/api/1.1" : "/api";
    Exchange reply = Ask(peer, "POST", prefix + "/statuses/retweet/1024.xml");
    ASSERT_EQ(reply.code, 200) << reply.body.toStdString();
    TXMLNode* status = root(reply, "status");
    EXPECT_EQ(Text(status, "text"), QStringLiteral("RT @u1: つぶやき 1024 http://example.org/1024"));
    TXMLNode* original = status->ChildList()->FindByName("retweeted_status");
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(Text(original, "id"), QStringLiteral("1024"));
    EXPECT_EQ(Text(original, "text"), QStringLiteral("つぶやき 1024 http://example.org/1024"));
    expectExternalUrl(status);
    expectExternalUrl(original);
    const QString repeatId = Text(status, "id");

    // GNU social makes a repeat once and never of alice's own; Friendica repeats again.
    reply = Ask(peer, "POST", prefix + "/statuses/retweet/1024.xml");
    const QString own = Text(root(Ask(peer, "POST", "/api/statuses/update.xml", "status=mine"), "status"), "id");
    const Exchange ofOwn = Ask(peer, "POST", "/api/statuses/retweet/" + own.toLatin1() + ".xml");
    if (friendica()) {
        EXPECT_EQ(reply.code, 200);
        EXPECT_EQ(ofOwn.code, 200);
    } else {
        EXPECT_EQ(reply.code, 403);
        EXPECT_EQ(Text(root(reply, "hash"), "error"), QStringLiteral("You already repeated that notice."));
        EXPECT_EQ(ofOwn.code, 403);
        EXPECT_EQ(Text(root(ofOwn, "hash"), "error"), QStringLiteral("You cannot repeat your own notice."));
        EXPECT_EQ(Ask(peer, "GET", "/api/statuses/retweet/1023.xml").code, 405);
    }
    EXPECT_EQ(Ask(peer, "POST", prefix + "/statuses/retweet/77.xml").code, 404);
    // A mention can be repeated too; the timeline shows the first repeat.
    EXPECT_EQ(Ask(peer, "POST", prefix + "/statuses/retweet/951.xml").code, 200);
    EXPECT_EQ(peer.retweetsAsked(), (QStringList{"1024", "1024", own, "77", "951"}));
    EXPECT_TRUE(Ask(peer, "GET", "/api/statuses/friends_timeline.xml").body.contains("<id>" + repeatId.toLatin1() + "</id>"));
}

TEST_P(PeerCalls, MentionsAndTheAccount)
{
    Exchange reply = Ask(peer, "GET", "/api/statuses/mentions.xml");
    ASSERT_EQ(reply.code, 200) << reply.body.toStdString();
    TXMLNode* statuses = root(reply, "statuses");
    QStringList ids;
    for (int i = 0; i < statuses->ChildList()->Count(); ++i) {
        TXMLNode* status = statuses->ChildList()->NodeAt(i);
        if (status->NodeType() != TNodeType::ntElement)
            continue;
        ids << Text(status, "id");
        EXPECT_TRUE(Text(status, "text").contains(QStringLiteral("@alice")));
        expectExternalUrl(status);
        if (ids.last() == "952") {
            EXPECT_EQ(Text(status, "in_reply_to_status_id"), QString::number(FamilyPeer::kAccountStatusId));
            EXPECT_EQ(Text(status, "in_reply_to_screen_name"), QStringLiteral("alice"));
        }
    }
    EXPECT_EQ(ids, FamilyPeer::MentionIds());
    EXPECT_FALSE(Ask(peer, "GET", "/api/statuses/mentions.xml?page=2").body.contains("<status>"));

    reply = Ask(peer, "GET", "/api/account/verify_credentials.xml");
    ASSERT_EQ(reply.code, 200) << reply.body.toStdString();
    TXMLNode* user = root(reply, "user");
    EXPECT_EQ(Text(user, "screen_name"), QStringLiteral("alice"));
    EXPECT_EQ(Text(user, "name"), QStringLiteral("Alice"));
    EXPECT_EQ(Text(user, "id"), QString::number(FamilyPeer::kUserId));

    EXPECT_EQ(Ask(peer, "GET", "/api/account/verify_credentials.xml", {}, "alice:wrong").code, 401);
    EXPECT_EQ(Ask(peer, "GET", "/api/statuses/mentions.xml", {}, "alice:wrong").code, 401);
}

INSTANTIATE_TEST_SUITE_P(Families, PeerCalls, ::testing::Values(FamilyPeer::GnuSocial, FamilyPeer::Friendica),
                         [](const auto& info) { return std::string(FamilyName(info.param)); });

INSTANTIATE_TEST_SUITE_P(Family, GnuSocialPeer, ::testing::Values(FamilyPeer::GnuSocial),
                         [](const auto&) { return std::string("GnuSocial"); });
INSTANTIATE_TEST_SUITE_P(Family, FriendicaPeer, ::testing::Values(FamilyPeer::Friendica),
                         [](const auto&) { return std::string("Friendica"); });

} // namespace
