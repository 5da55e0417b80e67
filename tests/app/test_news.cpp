// What is new since the user last looked, end to end against the local service: the
// unseen marks and count, the offline copy, the server's own text limit and the
// notification item without a notification service.
#include "FormHarness.h"
#include "LocalService.h"

#include "dialogs/uTwitt.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "PostWait.h"
#include "settings/Settings.h"

#include <QFile>
#include <QMenu>
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
    static LocalService::Options Seeded(int textLimit = -1)
    {
        LocalService::Options options;
        options.seed = true;
        options.textLimit = textLimit;
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

TEST_F(NewsTest, ThePostingDialogCountsAgainstThePublishedLimit)
{
    service = std::make_unique<LocalService>(Seeded(500));
    ASSERT_TRUE(service->isRunning());
    auto form = makeForm(service->baseUrl(), true);
    WaitUntil([&] { return form->TextLimit().value_or(-1) == 500; }, 5000);
    EXPECT_EQ(form->TextLimit().value_or(-1), 500);
    auto* twitt = form->findChild<TfrmTwitt*>();
    ASSERT_NE(twitt, nullptr);
    twitt->memoTwitt->setPlainText(QStringLiteral("abc"));
    EXPECT_EQ(twitt->lblStrCount->text(), QStringLiteral("3/500"));
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
