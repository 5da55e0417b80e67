// The main window against the local service's fediverse face, as each of four servers
// behaves: signed in with a token, reading, reading more, the server's limit, posting
// through the dialog, a favourite through the star and a mention from another account,
// pushed by the live stream where the server streams and read with the mentions where not.
#include "LocalService.h"
#include "app/FormHarness.h"

#include "FakeBrowser.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "http/HttpCli.h"
#include "service/TimelineModel.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <QSignalSpy>

using namespace harness;

namespace {

struct Flavour {
    const char* name;
    int limit;      // what its instance document publishes
    bool streams;   // serves the event stream the program reads
    int linked;     // "見て " and a 39-character link as it counts them
};

void PrintTo(const Flavour& flavour, std::ostream* os)
{
    *os << flavour.name;
}

constexpr char kDemoToken[] = "demo-token-0123456789abcdef";
constexpr char kSakuraToken[] = "sakura-token-0123456789abcdef";

class FediverseServer : public FormTest, public ::testing::WithParamInterface<Flavour> {
protected:
    void SetUp() override
    {
        LocalService::Options options;
        options.seed = true;
        options.extraArgs = {QStringLiteral("--flavour"), QString::fromLatin1(GetParam().name),
                             QStringLiteral("--token"), QStringLiteral("demo:") + kDemoToken,
                             QStringLiteral("--token"), QStringLiteral("sakura:") + kSakuraToken,
                             QStringLiteral("--heartbeat-ms"), QStringLiteral("500")};
        local = std::make_unique<LocalService>(options);
        ASSERT_TRUE(local->isRunning()) << local->errorString().toStdString();
        // Signed in before: the settings name the server's origin and hold the token.
        writeSettings([&](TMainState& s) {
            s.Fediverse = QString::fromLatin1(local->baseUrl());
            s.Token = QString::fromLatin1(kDemoToken);
        });
    }

    // Another account posts on the server's JSON face.
    void postAs(const char* token, const QString& text)
    {
        THttpCli client;
        QSignalSpy finished(&client, &THttpCli::Finished);
        THttpCliRequest request;
        request.URL = local->baseUrl() + "/api/v1/statuses";
        request.Body = "status=" + text.toUtf8().toPercentEncoding();
        request.Headers = {{"Authorization", QByteArray("Bearer ") + token}};
        ASSERT_TRUE(client.Start(request));
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_EQ(client.StatusCode(), 200);
    }

    static QStringList mentionTexts(TForm1& form)
    {
        auto* tabs = child<QTabWidget>(form, "PageControl1");
        tabs->setCurrentIndex(1);
        auto* view = form.findChild<QTreeView*>(QStringLiteral("ListViewMentions"));
        QStringList texts;
        for (int i = 0; view && i < view->model()->rowCount(); ++i)
            texts << view->model()->index(i, 1).data().toString();
        tabs->setCurrentIndex(0);
        return texts;
    }

    std::unique_ptr<LocalService> local;
};

TEST_P(FediverseServer, ReadsPostsFavoursAndHearsMentions)
{
    auto form = makeForm(local->baseUrl(), true, true);
    form->show();
    EXPECT_EQ(trace(*form).mid(0, 2), (QStringList{"ロード中...", "ロード完了"}));
    const QStringList firstIds = column(*form, 3);
    ASSERT_EQ(firstIds.size(), 40);
    EXPECT_EQ(detailText(*form), column(*form, 1)[0]);
    EXPECT_EQ(userName(*form), column(*form, 0)[0]);

    trigger(*form, "mmMore");
    const QStringList ids = column(*form, 3);
    ASSERT_GT(ids.size(), 40);
    EXPECT_EQ(ids.mid(0, 40), firstIds);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size()) << "no status twice across the pages";

    // The limit its instance document publishes reaches the dialog, and a link counts as
    // it says one does, else as its own characters.
    ASSERT_TRUE(WaitUntil([&] { return form->TextLimit().value_or(-1) == GetParam().limit; }, 5000));
    auto* dialog = form->findChild<TfrmTwitt*>();
    dialog->memoTwitt->setPlainText(QStringLiteral("見て https://example.org/a/long/address/here"));
    EXPECT_EQ(dialog->lblStrCount->text(), QStringLiteral("%1/%2").arg(GetParam().linked).arg(GetParam().limit));

    // A post through the dialog, then the read that brings it back: no news.
    const QString text = QStringLiteral("%1 へ投稿 & <b>100%</b>").arg(QString::fromLatin1(GetParam().name));
    QTimer::singleShot(0, form.get(), [&] {
        dialog->memoTwitt->setPlainText(text);
        QTest::mouseClick(dialog->btnTwitt, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->Posting(); }, 30000));
        if (dialog->isVisible())
            dialog->reject();
    });
    const qsizetype before = trace(*form).size();
    trigger(*form, "mmTwitt");
    EXPECT_EQ(trace(*form).mid(before), QStringList{QStringLiteral("投稿しました")});
    trigger(*form, "mmReload");
    ASSERT_TRUE(WaitUntil([&] { return column(*form, 1).value(0) == text; }));
    EXPECT_EQ(form->UnseenCount(), 0) << "one's own status is no news";

    // The star on a status that is no favourite yet, kept across a reload.
    int row = int(column(*form, 2).indexOf(QStringLiteral("false")));
    ASSERT_GE(row, 0);
    const QString id = column(*form, 3)[row];
    setCurrentRow(*form, row);
    form->ListView1Click();
    QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
    ASSERT_TRUE(waitForPost(*form));
    EXPECT_TRUE(goldStar(*form));
    trigger(*form, "mmReload");
    row = int(column(*form, 3).indexOf(id));
    ASSERT_GE(row, 0);
    EXPECT_EQ(column(*form, 2)[row], QStringLiteral("true"));

    // Another account mentions this one: pushed within seconds where the server streams,
    // read with the mentions after a reload where it does not.
    const QString mention = QStringLiteral("@demo %1 から").arg(QString::fromLatin1(GetParam().name));
    postAs(kSakuraToken, mention);
    if (!GetParam().streams)
        trigger(*form, "mmReload");
    EXPECT_TRUE(WaitUntil([&] { return mentionTexts(*form).contains(mention); }, 10000)) << mentionTexts(*form).join('\n').toStdString();
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// Signing in as a new user does: the dialog finds the family, the browser shows the
// server's page, the user approves there and pastes the code; the window then reads.
// A sign-in given up on the server's page keeps the registration made for it.
TEST_P(FediverseServer, SignsInWithTheCodeTheServersPageShows)
{
    // A first start: no settings at all.
    ASSERT_TRUE(QFile::remove(iniPath()));
    FakeBrowser browser;
    auto form = makeForm(local->baseUrl());
    auto* login = form->findChild<TfrmLogin*>();
    ASSERT_NE(login, nullptr);
    QTimer::singleShot(0, form.get(), [&] {
        EXPECT_TRUE(WaitUntil([&] { return login->isVisible() && login->btnAuthorize->isVisible(); }, 10000));
        QTest::mouseClick(login->btnAuthorize, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !browser.opened.isEmpty(); }, 10000));
        login->reject();
    });
    trigger(*form, "mmLoginSet");
    const QString clientId = QUrlQuery(browser.opened.value(0)).queryItemValue(QStringLiteral("client_id"));
    ASSERT_FALSE(clientId.isEmpty());
    EXPECT_EQ(form->State().ClientId.value_or(QString()), clientId);

    QTimer::singleShot(0, form.get(), [&] {
        ASSERT_TRUE(WaitUntil([&] { return login->isVisible() && login->btnAuthorize->isVisible(); }, 10000));
        QTest::mouseClick(login->btnAuthorize, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return browser.opened.size() == 2; }, 10000));
        // The user approves on the server's page; it answers with the page that shows the code.
        THttpCli client;
        QSignalSpy finished(&client, &THttpCli::Finished);
        THttpCliRequest approve;
        approve.URL = local->baseUrl() + "/oauth/authorize";
        approve.Body = browser.opened.last().query(QUrl::FullyEncoded).toUtf8() + "&username=demo&password=demo&approve=1";
        approve.FollowRelocation = false;
        ASSERT_TRUE(client.Start(approve));
        ASSERT_TRUE(finished.wait(10000));
        QUrl codePage;
        for (const QByteArray& line : client.HeaderLines()) {
            if (line.toLower().startsWith("location:"))
                codePage = QUrl(QString::fromUtf8(line.mid(9).trimmed()));
        }
        login->editCode->setText(QUrlQuery(codePage).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
        QTest::mouseClick(login->btnOK, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !login->isVisible(); }, 10000)) << login->lblSignInNote->text().toStdString();
        if (login->isVisible())
            login->reject();
    });
    trigger(*form, "mmLoginSet");
    ASSERT_TRUE(WaitUntil([&] { return rowCount(*form) == 40; }, 10000)) << trace(*form).join('\n').toStdString();
    EXPECT_EQ(form->State().Fediverse.value_or(QString()), QString::fromLatin1(local->baseUrl()));
    EXPECT_FALSE(form->State().Token.isEmpty());
    ASSERT_EQ(browser.opened.size(), 2);
    EXPECT_EQ(QUrlQuery(browser.opened.last()).queryItemValue(QStringLiteral("client_id")), clientId) << "registered once";
}

INSTANTIATE_TEST_SUITE_P(Servers, FediverseServer,
                         ::testing::Values(Flavour{"mastodon", 500, true, 26}, Flavour{"gotosocial", 5000, false, 42},
                                           Flavour{"akkoma", 5000, false, 42}, Flavour{"friendica", 200000, false, 42}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
