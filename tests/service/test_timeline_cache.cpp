// The offline copy of the timeline on a real disk.
#include "service/TimelineCache.h"
#include "support/TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// What LoadTimelineCache logs, as "category: message".
QStringList g_logged;
void Collect(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    g_logged << QString::fromUtf8(context.category) + QStringLiteral(": ") + message;
}

QString ControlCharacters()
{
    QString text;
    for (char16_t c = 0; c < 0x20; ++c)
        text += QChar(c);
    return text + QChar(0x7f) + QChar(0x2028) + QChar(0xD800);  // the lone surrogate may become U+FFFD
}

TTimelineStatus Row(const QString& id, const QString& name, const QString& text, const QString& favorited)
{
    TTimelineStatus status;
    status.Id = id;
    status.Name = name;
    status.Text = text;
    status.Favorited = favorited;
    return status;
}

TTimelineCache Sample()
{
    TTimelineCache cache;
    cache.ReadAt = QDateTime(QDate(2009, 3, 10), QTime(12, 34, 56, 789), Qt::UTC);
    cache.Rows = {Row(QStringLiteral("1298765432"), QStringLiteral("山田 太郎"), QStringLiteral("こんにちは、世界 😀🇯🇵"),
                      QStringLiteral("true")),
                  Row(QStringLiteral("12"), QStringLiteral("tab\tname"), ControlCharacters(), QStringLiteral("false")),
                  Row(QStringLiteral("18446744073709551616123"), QString(), QString(), QString())};
    cache.SeenIds = {QStringLiteral("12"), QStringLiteral("18446744073709551616123")};
    return cache;
}

class TimelineCacheFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("cache/brimlark/timeline.json")); }
};

TEST_F(TimelineCacheFile, RoundTripKeepsTextsSeenMarksAndTimeInAnOwnerOnlyFile)
{
    const TTimelineCache cache = Sample();
    QString error;
    ASSERT_TRUE(SaveTimelineCache(path(), cache, &error)) << error.toStdString();
    EXPECT_EQ(Mode(path()), 0600u);
    EXPECT_EQ(Mode(dir.filePath(QStringLiteral("cache"))), 0700u);

    QString why;
    const auto back = LoadTimelineCache(path(), &why);
    ASSERT_TRUE(back) << why.toStdString();
    EXPECT_EQ(back->ReadAt, cache.ReadAt);
    EXPECT_EQ(back->ReadAt.timeSpec(), Qt::UTC);
    TTimelineCache expected = cache;
    if (back->Rows[1].Text.endsWith(QChar(0xFFFD)))
        expected.Rows[1].Text.back() = QChar(0xFFFD);
    EXPECT_EQ(back->Rows, expected.Rows);
    EXPECT_EQ(back->SeenIds, cache.SeenIds);
}

TEST_F(TimelineCacheFile, MentionsAndReplyDetailsComeBackAndAnEmptyMentionsListStaysRead)
{
    TTimelineCache cache = Sample();
    cache.Rows[0].ScreenName = QStringLiteral("taro");
    cache.Rows[0].InReplyToId = QStringLiteral("77");
    cache.Rows[0].ExternalUrl = QStringLiteral("https://friendica.example/display/abc");
    cache.Rows[1].RepeatedBy = QStringLiteral("次郎");
    cache.Rows[1].Detail = QStringLiteral("警告の奥");
    // Ids as GoToSocial and Akkoma give them are kept as well as numbers.
    cache.MentionRows = {Row(QStringLiteral("01HQZ8W3B4Y9V6G2K7M0N5P1QR"), QStringLiteral("花子"), QStringLiteral("@me やあ"),
                             QStringLiteral("false"))};
    cache.MentionRows[0].ScreenName = QStringLiteral("hanako");
    cache.MentionRows[0].InReplyToId = QStringLiteral("12");
    cache.MentionsRead = true;
    cache.SeenIds.insert(QStringLiteral("01HQZ8W3B4Y9V6G2K7M0N5P1QR"));
    ASSERT_TRUE(SaveTimelineCache(path(), cache, nullptr));
    auto back = LoadTimelineCache(path(), nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Rows[0], cache.Rows[0]);
    EXPECT_EQ(QStringList({back->Rows[1].RepeatedBy, back->Rows[1].Detail}), QStringList({"次郎", "警告の奥"}));
    EXPECT_EQ(back->MentionRows, cache.MentionRows);
    EXPECT_TRUE(back->MentionsRead);
    EXPECT_TRUE(back->SeenIds.contains(QStringLiteral("01HQZ8W3B4Y9V6G2K7M0N5P1QR")));

    // Mentions read and none there is not the same as never read: the first read of
    // mentions is history, later ones are news.
    cache.MentionRows.clear();
    ASSERT_TRUE(SaveTimelineCache(path(), cache, nullptr));
    back = LoadTimelineCache(path(), nullptr);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->MentionsRead);
    cache.MentionsRead = false;
    ASSERT_TRUE(SaveTimelineCache(path(), cache, nullptr));
    EXPECT_FALSE(LoadTimelineCache(path(), nullptr)->MentionsRead);
}

TEST_F(TimelineCacheFile, KeepsTheNewestRowsAndOnlyTheirSeenMarks)
{
    TTimelineCache cache = Sample();
    cache.Rows.clear();
    for (int i = 0; i < 1200; ++i) {
        const QString id = QString::number(5000 - i);
        cache.Rows.append(Row(id, QStringLiteral("n"), QStringLiteral("t%1").arg(i), QStringLiteral("false")));
        if (i % 100 == 0)
            cache.SeenIds.insert(id);
    }
    ASSERT_TRUE(SaveTimelineCache(path(), cache, nullptr));
    const auto back = LoadTimelineCache(path(), nullptr);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Rows.size(), kTimelineCacheRows);
    EXPECT_EQ(back->Rows, cache.Rows.first(kTimelineCacheRows));
    EXPECT_EQ(back->SeenIds.size(), 10);
    EXPECT_TRUE(back->SeenIds.contains(QStringLiteral("4100")));   // row 900
    EXPECT_FALSE(back->SeenIds.contains(QStringLiteral("3900")));  // row 1100, dropped
}

TEST_F(TimelineCacheFile, SaveRefusesWhatCouldNotBeReadBackAndKeepsTheOldFile)
{
    ASSERT_TRUE(SaveTimelineCache(path(), Sample(), nullptr));
    const QByteArray before = ReadAll(path());
    for (const QString& id : {QString(), QStringLiteral(" 12"), QStringLiteral("1/2")}) {
        TTimelineCache bad = Sample();
        bad.Rows[1].Id = id;
        QString error;
        EXPECT_FALSE(SaveTimelineCache(path(), bad, &error)) << id.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    TTimelineCache undated = Sample();
    undated.ReadAt = QDateTime();
    EXPECT_FALSE(SaveTimelineCache(path(), undated, nullptr));
    EXPECT_EQ(ReadAll(path()), before);
}

TEST_F(TimelineCacheFile, BadFilesAreIgnoredWithOneLoggedReasonAndSavingReplacesThem)
{
    const QString file = dir.filePath(QStringLiteral("timeline.json"));
    ASSERT_TRUE(SaveTimelineCache(file, Sample(), nullptr));
    const QByteArray good = ReadAll(file);
    const QByteArray head = R"({"format":"brimlark-timeline","version":1,"readAt":"2009-03-10T12:00:00Z","rows":[)";
    const QByteArray row = R"("name":"n","text":"t","favorited":"false","seen":false})";
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 131 + 7) & 0xff);

    const QList<QByteArray> bad = {
        good.left(1), good.left(good.size() / 3), good.left(good.size() - 1), QByteArray(), garbage,
        QByteArray(R"({"a":1})"), QByteArray("[]"), good + "x", QByteArray(16 * 1024 * 1024 + 1, ' '),
        QByteArray(R"({"format":"brimlark-timeline","version":2,"readAt":"2009-03-10T12:00:00Z","rows":[]})"),
        QByteArray(R"({"format":"brimlark-timeline","version":1,"readAt":"2009-03-10T12:00:00","rows":[]})"),
        head + R"({"id":"1",)" + row + "," + R"({"id":"12?a",)" + row + "]}",
        head + R"({"id":12,)" + row + "]}",
        head + R"({"id":"1","name":"n","text":"t","seen":false}]})",
        head + R"({"id":"1",)" + R"("screenName":7,)" + row + "]}",
        head + R"({"id":"1","name":"n","text":"t","favorited":"false","seen":"true"}]})",
    };
    const QtMessageHandler previous = qInstallMessageHandler(&Collect);
    for (const QByteArray& bytes : bad) {
        WriteAll(file, bytes);
        g_logged.clear();
        QString why;
        EXPECT_FALSE(LoadTimelineCache(file, &why)) << bytes.left(120).toStdString();
        EXPECT_FALSE(why.isEmpty() || why.contains(u'\n'));
        EXPECT_EQ(g_logged, QStringList{QStringLiteral("brimlark.service: timeline cache %1 ignored: %2").arg(file, why)});
    }
    g_logged.clear();
    EXPECT_FALSE(LoadTimelineCache(path(), nullptr));  // missing: nothing to say
    EXPECT_TRUE(g_logged.isEmpty());
    qInstallMessageHandler(previous);

    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    ASSERT_TRUE(SaveTimelineCache(file, Sample(), nullptr));
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_TRUE(LoadTimelineCache(file, nullptr));
}

} // namespace
