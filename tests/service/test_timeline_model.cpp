// The timeline model without any widget: Qt's own model checker watches every change
// while the window's operations (append pages, favourite, seen marks, clear) run on it.
#include "service/TimelineModel.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

TTimelineStatus Status(const QString& id, const QString& favorited = QStringLiteral("false"))
{
    TTimelineStatus status;
    status.Id = id;
    status.Name = QStringLiteral("名前") + id;
    status.ScreenName = QStringLiteral("user") + id;
    status.Text = QStringLiteral("本文 ") + id;
    status.Favorited = favorited;
    status.InReplyToId = id == QLatin1String("2") ? QStringLiteral("1") : QString();
    return status;
}

class TimelineModel : public ::testing::Test {
protected:
    TTimelineModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(TimelineModel, TwoColumnsOfNameAndTextAndTheRestByRole)
{
    model.Append({Status("1", "true"), Status("2")});
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 2);
    const QModelIndex name = model.index(1, TTimelineModel::NameColumn);
    EXPECT_EQ(name.data().toString(), QStringLiteral("名前2"));
    EXPECT_EQ(model.index(1, TTimelineModel::TextColumn).data().toString(), QStringLiteral("本文 2"));
    EXPECT_EQ(name.data(TTimelineModel::IdRole).toString(), QStringLiteral("2"));
    EXPECT_EQ(name.data(TTimelineModel::ScreenNameRole).toString(), QStringLiteral("user2"));
    EXPECT_EQ(name.data(TTimelineModel::InReplyToRole).toString(), QStringLiteral("1"));
    EXPECT_TRUE(model.index(0, 0).data(TTimelineModel::FavoriteRole).toBool());
    EXPECT_FALSE(name.data(TTimelineModel::FavoriteRole).toBool());
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("名前"));

    // Only "true" is a favourite; the flag as sent stays for the offline copy.
    model.Append({Status("3", "TRUE")});
    EXPECT_FALSE(model.At(2).IsFavorite());
    EXPECT_EQ(model.At(2).Favorited, QStringLiteral("TRUE"));

    // A repeat names who repeated it; a warning shows alone in the row, the rest in the strip.
    TTimelineStatus warned = Status("4");
    warned.RepeatedBy = QStringLiteral("花子");
    warned.Detail = QStringLiteral("奥");
    model.Append({warned});
    EXPECT_EQ(model.index(3, TTimelineModel::TextColumn).data().toString(), QStringLiteral("[花子 がリピート] [注意] 本文 4"));
    EXPECT_EQ(TTimelineModel::DetailText(warned), QStringLiteral("[花子 がリピート] [注意] 本文 4\n\n奥"));
}

// A reload may list a status twice: a favourite and a seen mark reach every row of it,
// and each changed row is announced once.
TEST_F(TimelineModel, FavouriteAndSeenReachEveryRowOfTheStatus)
{
    model.Append({Status("7"), Status("8"), Status("7")});
    EXPECT_EQ(model.UnseenCount(), 3);
    EXPECT_EQ(model.IndexOf(QStringLiteral("7")), 0);
    EXPECT_EQ(model.IndexOf(QStringLiteral("9")), -1);
    EXPECT_EQ(model.Ids(), (QSet<QString>{QStringLiteral("7"), QStringLiteral("8")}));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetFavorite(QStringLiteral("7"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(model.At(0).IsFavorite() && model.At(2).IsFavorite());
    EXPECT_FALSE(model.At(1).IsFavorite());
    model.SetFavorite(QStringLiteral("7"));
    EXPECT_EQ(changed.count(), 2) << "nothing changes twice";

    EXPECT_TRUE(model.MarkSeen(QStringLiteral("7")));
    EXPECT_FALSE(model.MarkSeen(QStringLiteral("7")));
    EXPECT_FALSE(model.MarkSeen(QStringLiteral("unknown")));
    EXPECT_EQ(model.UnseenCount(), 1);
    EXPECT_TRUE(model.index(2, 0).data(TTimelineModel::SeenRole).toBool());
}

TEST_F(TimelineModel, ClearAndAppendAnnounceTheirRows)
{
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.Append({});
    EXPECT_EQ(inserted.count(), 0);
    model.Append({Status("1"), Status("2")});
    model.Append({Status("3")});
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 2);
    model.Clear();
    model.Clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_TRUE(model.IsEmpty());
    EXPECT_EQ(model.index(0, 0).data(), QVariant());
}

} // namespace
