// The timeline feed without any window, against a scripted source: paging over opaque
// cursors, back-off, seen and new marks shared by two lists, the offline copy, and the
// lines a read writes in the foreground and in the background.
#include "service/TimelineFeed.h"
#include "service/TimelineModel.h"
#include "service/TimelineSource.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Answers each read when the test says so; its cursors are its own words.
class TScriptedSource : public TTimelineSource {
public:
    QStringList asked;
    void Read(const TPageRequest& request) override { asked << request.Cursor; }
    void Abandon() override {}
    void Answer(TTimelinePage page, const QString& next)
    {
        page.Next = next;
        Q_EMIT PageRead(page);
    }
};

TTimelinePage Rows(std::initializer_list<const char*> ids)
{
    TTimelinePage page;
    page.Loaded = true;
    for (const char* id : ids) {
        TTimelineStatus& status = page.Rows.emplace_back();
        status.Id = QString::fromLatin1(id);
        status.Text = QStringLiteral("本文 ") + status.Id;
    }
    return page;
}

TTimelinePage Failed(TReadFailure failure, int status = 0, const QByteArray& retryAfter = {})
{
    TTimelinePage page;
    page.Failure = failure;
    page.StatusCode = status;
    page.ReasonPhrase = status == 404 ? "Not Found" : "";
    page.RetryAfter = retryAfter;
    page.Reason = QStringLiteral("Connection refused");
    return page;
}

QStringList Ids(const TTimelineFeed& feed)
{
    QStringList ids;
    for (const TTimelineStatus& status : feed.Model()->Rows())
        ids << status.Id;
    return ids;
}

struct Feed {
    explicit Feed(TSeenStatuses* seen) : source(new TScriptedSource), feed(source, seen) {}
    TScriptedSource* source;
    TTimelineFeed feed;
    QSignalSpy lines{&feed, &TTimelineFeed::StatusLine};
    QStringList said() const
    {
        QStringList out;
        for (const QList<QVariant>& line : lines)
            out << line.at(0).toString();
        return out;
    }
};

class TimelineFeed : public ::testing::Test {
protected:
    TSeenStatuses seen;
    Feed friends{&seen};
};

TEST_F(TimelineFeed, ReadMoreFollowsTheCursorsAndAReloadReadsEveryPageShown)
{
    friends.feed.Start(TFeedRead::StartUp);
    friends.source->Answer(Rows({"9", "8"}), "p2");
    friends.feed.Start(TFeedRead::More);
    friends.source->Answer(Rows({"7"}), "p3");
    // A page that fails still counts: the next one is the page after it.
    friends.feed.Start(TFeedRead::More);
    friends.source->Answer(Failed(TReadFailure::Connection), "p4");
    friends.feed.Start(TFeedRead::Reload);
    EXPECT_TRUE(friends.feed.Model()->IsEmpty());
    friends.source->Answer(Rows({"10", "9"}), "p2");
    friends.source->Answer(Rows({"8"}), "p3");
    friends.source->Answer(Rows({"7"}), "p4");
    EXPECT_EQ(friends.source->asked, (QStringList{"", "p2", "p3", "", "p2", "p3"}));
    EXPECT_EQ(Ids(friends.feed), (QStringList{"10", "9", "8", "7"}));
    EXPECT_EQ(friends.said().mid(friends.said().lastIndexOf("リロード中")),
              (QStringList{"リロード中", "ロード中...", "ロード完了", "Twitterで認証しました", "ロード中...", "ロード完了",
                           "Twitterで認証しました", "ロード中...", "ロード完了", "Twitterで認証しました", "リロード完了"}));
    friends.feed.Start(TFeedRead::More);
    EXPECT_EQ(friends.source->asked.last(), "p4");
    EXPECT_EQ(friends.feed.PageCount(), 3);
    EXPECT_FALSE(friends.feed.Start(TFeedRead::Reload)) << "one read at a time";
}

// Statuses pushed as they are posted go on top as news, each once whoever brings it
// again; those pushed during a read wait for its end and are not shown twice.
TEST_F(TimelineFeed, PushedStatusesAreNewsOnceAndWaitForARunningRead)
{
    QSignalSpy news(&friends.feed, &TTimelineFeed::News);
    friends.feed.Start(TFeedRead::StartUp);
    friends.source->Answer(Rows({"b", "a"}), "p2");
    friends.feed.TakePushed(Rows({"c"}).Rows);
    friends.feed.TakePushed(Rows({"c", "b"}).Rows);
    friends.feed.Start(TFeedRead::Reload);
    friends.feed.TakePushed(Rows({"e", "d"}).Rows);
    EXPECT_TRUE(friends.feed.Model()->IsEmpty());
    friends.source->Answer(Rows({"d", "c", "b"}), "p2");

    EXPECT_EQ(Ids(friends.feed), (QStringList{"e", "d", "c", "b"}));
    EXPECT_EQ(friends.feed.Model()->UnseenCount(), 3);
    ASSERT_EQ(news.count(), 3);
    EXPECT_EQ(news.at(0).at(0).value<QList<TTimelineStatus>>().first().Id, "c");
    EXPECT_EQ(news.at(2).at(0).value<QList<TTimelineStatus>>().first().Id, "e");
}

// The automatic reload waits twice as long after each failure worth it, up to ten
// minutes, longer when the server asks (up to an hour), not after a refusal; a good read
// brings the normal wait back.
TEST_F(TimelineFeed, FailuresMakeTheNextReloadWait)
{
    friends.feed.SetReloadInterval(60000);
    QSignalSpy waits(&friends.feed, &TTimelineFeed::ReloadWaitChanged);
    const struct {
        TTimelinePage page;
        qint64 wait;    // 0: unchanged
    } steps[] = {
        {Failed(TReadFailure::HttpStatus, 503), 120000},
        {Failed(TReadFailure::HttpStatus, 429, "30"), 240000},  // a shorter Retry-After changes nothing
        {Failed(TReadFailure::Transfer), 480000},
        {Failed(TReadFailure::Connection), 600000},
        {Failed(TReadFailure::Connection), 600000},
        {Failed(TReadFailure::HttpStatus, 429, "900"), 900000},
        {Failed(TReadFailure::HttpStatus, 500, "99999999999"), TReloadBackoff::kMaxRetryAfterMs},
        {Failed(TReadFailure::Refused, 401), 0},
        {Rows({"1"}), 60000},
    };
    qint64 current = 60000;
    for (const auto& step : steps) {
        waits.clear();
        ASSERT_TRUE(friends.feed.Start(TFeedRead::Reload));
        friends.source->Answer(step.page, "p2");
        EXPECT_EQ(waits.isEmpty() ? 0 : waits.last().at(0).toLongLong(), step.wait);
        current = step.wait ? step.wait : current;
        EXPECT_EQ(friends.feed.ReloadWaitMs(), current);
    }
    EXPECT_TRUE(friends.said().filter(QStringLiteral("次の自動更新は ")).last().endsWith("(3600秒後)"));
    // Nothing is promised of a timer that is off.
    friends.feed.SetAutoReloadOn([] { return false; });
    friends.lines.clear();
    friends.feed.Start(TFeedRead::Reload);
    friends.source->Answer(Failed(TReadFailure::Transfer), "p2");
    EXPECT_TRUE(friends.said().filter(QStringLiteral("次の自動更新は ")).isEmpty());
}

// Seen in one list is seen in the other; the first read ever and older pages are
// history, later statuses no list held are news.
TEST_F(TimelineFeed, SeenMarksAreSharedAndOnlyNewStatusesAreNews)
{
    Feed mentions(&seen);
    QSignalSpy news(&friends.feed, &TTimelineFeed::News);
    friends.feed.Start(TFeedRead::StartUp);
    friends.source->Answer(Rows({"2", "1"}), "p2");
    EXPECT_EQ(friends.feed.Model()->UnseenCount(), 0);
    seen.SetOwn([](const TTimelineStatus& status) { return status.ScreenName == QStringLiteral("me"); });
    TTimelinePage page = Rows({"5", "4", "3", "2"});
    page.Rows[0].ScreenName = QStringLiteral("me");  // the account's own: never news
    friends.feed.Start(TFeedRead::Reload);
    friends.source->Answer(page, "p2");
    ASSERT_EQ(news.size(), 1);
    EXPECT_EQ(news.last().at(0).value<QList<TTimelineStatus>>().size(), 2);
    EXPECT_EQ(friends.feed.Model()->UnseenCount(), 2);

    mentions.feed.Start(TFeedRead::Refresh, false);
    mentions.source->Answer(Rows({"1"}), "p2");
    mentions.feed.Start(TFeedRead::Refresh, false);
    mentions.source->Answer(Rows({"3", "1"}), "p2");
    EXPECT_EQ(mentions.feed.Model()->UnseenCount(), 1);
    QSignalSpy unseen(&friends.feed, &TTimelineFeed::UnseenChanged);
    seen.Mark(QStringLiteral("3"));
    EXPECT_EQ(unseen.size(), 1);
    EXPECT_EQ(mentions.feed.Model()->UnseenCount(), 0);
    EXPECT_EQ(friends.feed.Model()->UnseenCount(), 1);
    EXPECT_TRUE(mentions.said().isEmpty()) << "a background read that succeeds says nothing";

    // An older page starts seen, but what was unseen stays so, in every list.
    mentions.feed.Start(TFeedRead::Refresh, false);
    mentions.source->Answer(Rows({"-1", "3"}), "p2");
    friends.feed.Start(TFeedRead::More);
    friends.source->Answer(Rows({"1", "0", "-1"}), "p3");
    EXPECT_EQ(news.size(), 1);
    EXPECT_EQ(friends.feed.Model()->UnseenCount(), 2);
    EXPECT_EQ(mentions.feed.Model()->UnseenCount(), 1);
}

// The copy is one account's on one server: another pair, at start or signed in later,
// sees nothing of it.
TEST_F(TimelineFeed, TheOfflineCopyKeepsBothListsAndTheirMarksForTheNextStart)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("timeline.json"));
    const QString owner = TimelineCacheOwner(QStringLiteral("alice"), QStringLiteral("https://a.example/api"));
    const QString elsewhere = TimelineCacheOwner(QStringLiteral("alice"), QStringLiteral("https://b.example/api"));
    {
        Feed mentions(&seen);
        TFeedCopy copy(file, &friends.feed, &mentions.feed, nullptr);
        copy.SetOwner(owner);
        copy.Load();
        copy.HoldSaves();  // held changes are still written when the owner changes
        friends.feed.Start(TFeedRead::StartUp);
        friends.source->Answer(Rows({"2", "1"}), "p2");
        mentions.feed.Start(TFeedRead::Refresh, false);
        mentions.source->Answer(Rows({"5"}), "p2");
        friends.feed.Start(TFeedRead::Reload);
        friends.source->Answer(Rows({"3", "2", "1"}), "p2");
        EXPECT_TRUE(copy.SavePending());
        copy.SetOwner(elsewhere);
        EXPECT_TRUE(friends.feed.Model()->IsEmpty() && mentions.feed.Model()->IsEmpty());
    }
    {
        TSeenStatuses seenElsewhere;
        Feed friendsElsewhere(&seenElsewhere), mentionsElsewhere(&seenElsewhere);
        TFeedCopy copy(file, &friendsElsewhere.feed, &mentionsElsewhere.feed, nullptr);
        copy.SetOwner(elsewhere);
        copy.Load();
        EXPECT_FALSE(friendsElsewhere.feed.ShowCopy());
        EXPECT_TRUE(mentionsElsewhere.feed.Model()->IsEmpty());
    }
    TSeenStatuses seenAgain;
    Feed friendsAgain(&seenAgain), mentionsAgain(&seenAgain);
    TFeedCopy copy(file, &friendsAgain.feed, &mentionsAgain.feed, nullptr);
    copy.SetOwner(owner);
    copy.Load();
    // The mentions show theirs at once, grey; the friends timeline only when its read fails.
    EXPECT_EQ(Ids(mentionsAgain.feed), QStringList{"5"});
    EXPECT_TRUE(mentionsAgain.feed.Model()->At(0).Offline);
    EXPECT_TRUE(mentionsAgain.feed.Model()->At(0).Seen) << "the first mentions ever read were history";
    EXPECT_TRUE(friendsAgain.feed.Model()->IsEmpty());
    friendsAgain.feed.Start(TFeedRead::StartUp);
    friendsAgain.source->Answer(Failed(TReadFailure::Connection), "p2");
    ASSERT_TRUE(friendsAgain.feed.ShowCopyAfterFailure());
    EXPECT_EQ(Ids(friendsAgain.feed), (QStringList{"3", "2", "1"}));
    EXPECT_FALSE(friendsAgain.feed.Model()->At(0).Seen);
    EXPECT_TRUE(friendsAgain.feed.Model()->At(1).Seen);
    // What the copy held is not news when the server sends it again.
    QSignalSpy news(&friendsAgain.feed, &TTimelineFeed::News);
    friendsAgain.feed.Start(TFeedRead::Reload);
    friendsAgain.source->Answer(Rows({"4", "3"}), "p2");
    ASSERT_EQ(news.size(), 1);
    EXPECT_EQ(news.last().at(0).value<QList<TTimelineStatus>>().first().Id, "4");
    EXPECT_FALSE(friendsAgain.feed.Model()->At(1).Offline);
    // A reload that fails gives back what it found shown, grey, saying why and since when.
    friendsAgain.feed.Start(TFeedRead::Reload);
    friendsAgain.source->Answer(Failed(TReadFailure::HttpStatus, 500), "p2");
    EXPECT_EQ(Ids(friendsAgain.feed), (QStringList{"4", "3"}));
    EXPECT_TRUE(friendsAgain.feed.Model()->At(0).Offline);
    const QList<QVariant> note = friendsAgain.lines.last();
    EXPECT_EQ(note.at(1).toString(), QStringLiteral("サーバーがエラーを返しました: 500 — ") + note.at(0).toString());
}

// The copy never holds a list half read: a save that comes due while a reload runs
// follows its end, with every row the reload brought, each as the server sent it last.
TEST_F(TimelineFeed, TheOfflineCopyComingDueDuringAReloadWaitsForItsEnd)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("timeline.json"));
    Feed mentions(&seen);
    TFeedCopy copy(file, &friends.feed, &mentions.feed, nullptr);
    copy.Load();
    friends.feed.Start(TFeedRead::StartUp);
    friends.source->Answer(Rows({"2", "1"}), "p2");
    friends.feed.Start(TFeedRead::More);
    friends.source->Answer(Rows({"0"}), "p3");
    friends.feed.Start(TFeedRead::Reload);
    TTimelinePage edited = Rows({"3", "2"});
    edited.Rows[1].Text = QStringLiteral("書き直し");
    friends.source->Answer(edited, "p2");
    QTest::qWait(1300);
    EXPECT_TRUE(copy.SavePending());
    EXPECT_FALSE(QFile::exists(file));
    friends.source->Answer(Rows({"1", "0"}), "p3");
    EXPECT_FALSE(copy.SavePending());
    const std::optional<TTimelineCache> saved = LoadTimelineCache(file, nullptr);
    ASSERT_TRUE(saved);
    QStringList ids;
    for (const TTimelineStatus& row : saved->Rows)
        ids << row.Id;
    EXPECT_EQ(ids, (QStringList{"3", "2", "1", "0"}));
    EXPECT_EQ(saved->Rows.at(1).Text, QStringLiteral("書き直し"));
}

// A list read in the background says only that it failed, in one line naming it, and
// keeps the failure for its tab until a read succeeds; in front it says every step.
TEST_F(TimelineFeed, ABackgroundReadSaysOnlyItsFailureNamingTheList)
{
    Feed mentions(&seen);
    mentions.feed.SetName(QStringLiteral("@返信"));
    QSignalSpy marks(&mentions.feed, &TTimelineFeed::FailureChanged);
    mentions.feed.Start(TFeedRead::Refresh, false);
    mentions.source->Answer(Failed(TReadFailure::HttpStatus, 404), "p2");
    EXPECT_EQ(mentions.said(), QStringList{"@返信: サーバーがエラーを返しました: 404 Not Found"});
    EXPECT_EQ(mentions.feed.FailureLine(), QStringLiteral("サーバーがエラーを返しました: 404 Not Found"));
    mentions.feed.Start(TFeedRead::More, true);
    mentions.source->Answer(Rows({"1"}), "p3");
    EXPECT_EQ(mentions.said().mid(1), (QStringList{"ロード中...", "ロード完了", "Twitterで認証しました"}));
    EXPECT_TRUE(mentions.feed.FailureLine().isEmpty());
    EXPECT_EQ(marks.size(), 2);
    // A failure worth backing off holds the next refresh back.
    mentions.feed.Start(TFeedRead::Refresh, false);
    mentions.source->Answer(Failed(TReadFailure::Transfer), "p2");
    EXPECT_FALSE(mentions.feed.Start(TFeedRead::Refresh, false));
}

// A refused token asks for a new sign-in once, with the server's words, until a read
// gets through; the XML family's refusal stays a status line.
TEST_F(TimelineFeed, ARefusedTokenAsksToSignInAgainOnce)
{
    Feed mentions(&seen);
    mentions.feed.AskSignInWith(&friends.feed);
    QSignalSpy again(&friends.feed, &TTimelineFeed::SignInAgain);
    QSignalSpy mentionsAgain(&mentions.feed, &TTimelineFeed::SignInAgain);
    TTimelinePage refused = Failed(TReadFailure::Refused, 401);
    refused.Reason = QStringLiteral("The access token is invalid");
    friends.feed.Start(TFeedRead::StartUp);
    friends.source->Answer(Failed(TReadFailure::Refused, 401), "");
    EXPECT_TRUE(again.isEmpty());
    refused.SignInAgain = true;
    for (int i = 0; i < 2; ++i) {
        friends.feed.Start(TFeedRead::Reload);
        friends.source->Answer(refused, "");
    }
    friends.feed.Start(TFeedRead::Reload);
    friends.source->Answer(Rows({"1"}), "");
    friends.feed.Start(TFeedRead::Reload);
    friends.source->Answer(refused, "");
    ASSERT_EQ(again.count(), 2);
    EXPECT_EQ(again.first().first().toString(), QStringLiteral("The access token is invalid"));

    // Only the mentions refused (a token without their scope): once, however often; the
    // friends, refused later, ask for themselves.
    for (int i = 0; i < 2; ++i) {
        friends.feed.Start(TFeedRead::Reload);
        friends.source->Answer(Rows({"1"}), "");
        mentions.feed.Start(TFeedRead::Refresh, false);
        mentions.source->Answer(refused, "");
    }
    EXPECT_EQ(mentionsAgain.count(), 1);
    friends.feed.Start(TFeedRead::Reload);
    friends.source->Answer(refused, "");
    EXPECT_EQ(again.count(), 3);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<QList<TTimelineStatus>>();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
