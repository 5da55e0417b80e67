// The main window against a GNU social-shaped and a Friendica-shaped peer: reading,
// reading more, posting through the dialog, favourites through the star and a wrong
// password, with what the peer received and what the status lines say.
#include "FamilyPeer.h"
#include "app/FormHarness.h"

#include "dialogs/uTwitt.h"

#include <QPushButton>
#include <QTest>

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
    QTRY_COMPARE_WITH_TIMEOUT(form->TextLimit().value_or(-1), limit, 5000);
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
    QTRY_COMPARE_WITH_TIMEOUT(form->TextLimit().value_or(-1), 10, 5000);

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

INSTANTIATE_TEST_SUITE_P(Family, GnuSocialPeer, ::testing::Values(FamilyPeer::GnuSocial),
                         [](const auto&) { return std::string("GnuSocial"); });
INSTANTIATE_TEST_SUITE_P(Family, FriendicaPeer, ::testing::Values(FamilyPeer::Friendica),
                         [](const auto&) { return std::string("Friendica"); });

} // namespace
