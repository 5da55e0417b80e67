// What is new since the user last looked, end to end against the local service: the
// unseen marks and count, the offline copy and the notification item without a
// notification service.
#include "FormHarness.h"
#include "LocalService.h"

#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "PostWait.h"
#include "settings/Settings.h"

#include <QFile>
#include <QMenu>
#include <QTabWidget>
#include <QTest>

using namespace harness;

namespace {

class NewsTest : public FormTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service->isRunning()) << service->errorString().toStdString();
        writeCredentials(QString::fromLatin1(LocalService::kDemoUser), QString::fromLatin1(LocalService::kDemoPassword));
    }
    static LocalService::Options Seeded()
    {
        LocalService::Options options;
        options.seed = true;
        return options;
    }
    // A status of a friend the demo account follows.
    void postAsFriend(const QString& text)
    {
        THttpCli client;
        const TServiceAccount sakura(QString::fromUtf8(service->baseUrl()), QStringLiteral("sakura"),
                                     QStringLiteral("sakura"), {});
        ASSERT_TRUE(PostStatusAndWait(client, sakura, StatusUpdateBody(StatusUpdateText(text))).IsAccepted());
    }
    static bool bold(TForm1& form, int row) { return cellStyle(form, row, 0).font.bold(); }
    static int boldRows(TForm1& form)
    {
        int n = 0;
        for (int i = 0; i < rowCount(form); ++i)
            n += bold(form, i) ? 1 : 0;
        return n;
    }
    QString cacheFile() const { return TimelineCacheFileBeside(iniPath()); }

    std::unique_ptr<LocalService> service = std::make_unique<LocalService>(Seeded());
};

TEST_F(NewsTest, NewStatusesAreMarkedCountedSeenAndRemembered)
{
    {
        auto form = makeForm(service->baseUrl());
        // The first read of all is where the user starts: nothing in it is news.
        ASSERT_EQ(rowCount(*form), 20);
        EXPECT_EQ(form->UnseenCount(), 0);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple"));

        postAsFriend(QStringLiteral("一つ目の新着"));
        postAsFriend(QStringLiteral("二つ目の新着"));
        trigger(*form, "pmReload");
        EXPECT_EQ(column(*form, 1).mid(0, 2), (QStringList{"二つ目の新着", "一つ目の新着"}));
        // Shown in the strip because the reload ended, not yet seen.
        EXPECT_EQ(detailText(*form), QStringLiteral("二つ目の新着"));
        EXPECT_EQ(form->UnseenCount(), 2);
        EXPECT_TRUE(bold(*form, 0) && bold(*form, 1));
        EXPECT_EQ(boldRows(*form), 2);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple (2)"));

        // A status shown by the program is seen once the strip has shown it for a whole
        // rotation interval while the window is on view. The rotation is driven by hand.
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QTimer* rotation = timer(*form, "TimerAutoRotation");
        rotation->stop();
        rotation->setInterval(200);
        form->TimerAutoRotationTimer();  // the first was on view for a moment only
        EXPECT_EQ(detailText(*form), QStringLiteral("一つ目の新着"));
        EXPECT_EQ(form->UnseenCount(), 2);
        WaitUntil([&] { return form->UnseenCount() == 1; }, 5000);
        EXPECT_EQ(form->UnseenCount(), 1);
        EXPECT_FALSE(bold(*form, 1));
        EXPECT_TRUE(bold(*form, 0));

        // The other modes carry the count too; the widget shows it on the strip.
        form->SetDisplayMode(3);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple(右クリックでメニュー) (1)"));
        EXPECT_TRUE(child<QLabel>(*form, "lblUnseen")->isVisibleTo(form.get()));
        EXPECT_EQ(child<QLabel>(*form, "lblUnseen")->text(), QStringLiteral("1"));
        form->SetDisplayMode(1);
        EXPECT_FALSE(child<QLabel>(*form, "lblUnseen")->isVisibleTo(form.get()));
        form->close();
    }
    // A restart keeps what was seen and what was not.
    {
        auto form = makeForm(service->baseUrl());
        EXPECT_EQ(form->UnseenCount(), 1);
        EXPECT_TRUE(bold(*form, 0));
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple (1)"));
        // Clicked by the user: seen, and nothing is left to count.
        form->ListView1Click();
        EXPECT_EQ(form->UnseenCount(), 0);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Brimlark_Simple"));
    }
}

TEST_F(NewsTest, WithoutTheServiceTheLastReadIsShownInGrey)
{
    QStringList shown;
    {
        auto form = makeForm(service->baseUrl());
        shown = column(*form, 1);
        ASSERT_EQ(shown.size(), 20);
        form->close();  // the offline copy is written at the latest here
    }
    ASSERT_TRUE(QFile::exists(cacheFile()));
    const QByteArray address = service->baseUrl();
    service->stop();

    {
        auto form = makeForm(address);
        EXPECT_EQ(column(*form, 1), shown);
        EXPECT_EQ(cellStyle(*form, 0, 1).palette.color(QPalette::Text), QColor(Qt::gray));
        const QStringList lines = trace(*form);
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("接続できませんでした ("))) << lines.join('|').toStdString();
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("前回 "))) << lines.last().toStdString();
        // The status bar keeps both: why, and what is shown instead.
        EXPECT_EQ(form->StatusText(), lines[1] + QStringLiteral(" — ") + lines.last());
    }

    // A cut-off copy is nobody's timeline: ignored, never a crash or half a list.
    QFile file(cacheFile());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    {
        auto form = makeForm(address);
        EXPECT_EQ(rowCount(*form), 0);
    }

    // The next good read replaces the rows and the file.
    ASSERT_TRUE(service->restart());
    {
        auto form = makeForm(service->baseUrl());
        EXPECT_EQ(column(*form, 1), shown);
        EXPECT_NE(cellStyle(*form, 0, 1).palette.color(QPalette::Text), QColor(Qt::gray));
        form->close();
    }
    const std::optional<TTimelineCache> copy = LoadTimelineCache(cacheFile(), nullptr);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Rows.size(), 20);
}

TEST_F(NewsTest, TheMentionsAreKeptForTheNextStartWithTheirMarks)
{
    QStringList texts;
    {
        auto form = makeForm(service->baseUrl(), false, true);
        auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
        ASSERT_TRUE(WaitUntil([&] { return mentions->Count() > 0 && !form->Reading(); }));
        for (const TTimelineStatus& status : mentions->Rows())
            texts << status.Text;
        form->close();
    }
    const QByteArray address = service->baseUrl();
    service->stop();
    auto form = makeForm(address, false, true);
    auto* mentions = form->findChild<TTimelineModel*>(QStringLiteral("Mentions"));
    QStringList offline;
    for (const TTimelineStatus& status : mentions->Rows()) {
        offline << status.Text;
        EXPECT_TRUE(status.Offline);
        EXPECT_TRUE(status.Seen);  // the first mentions ever read were history
        EXPECT_FALSE(status.ScreenName.isEmpty());  // a reply to it still knows whom it answers
    }
    EXPECT_EQ(offline, texts);
    EXPECT_EQ(child<QTabWidget>(*form, "PageControl1")->tabText(1), QStringLiteral("@返信"));
}

TEST_F(NewsTest, WithoutANotificationServiceTheItemIsOff)
{
    // Nobody listens there: the session bus cannot be reached.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/brimlark-test-bus");
    auto form = makeForm(service->baseUrl());
    auto* popup = child<QMenu>(*form, "pmMenu1");
    Q_EMIT popup->aboutToShow();
    EXPECT_FALSE(action(*form, "mmNotify")->isEnabled());
    EXPECT_FALSE(action(*form, "mmNotify")->isEnabled());
    EXPECT_EQ(rowCount(*form), 20);
}

} // namespace
