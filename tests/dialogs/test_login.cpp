#include "dialogs/uLoginSettings.h"

#include "dialogs/ModalHelper.h"
#include "dialogs/TabOrder.h"
#include "FakeBrowser.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace {

class LoginDialog : public ::testing::Test {
protected:
    void SetUp() override { dlg.SetCurrent({QStringLiteral("alice"), QStringLiteral("secret")}, QString()); }
    TfrmLogin dlg{nullptr};
};

TEST_F(LoginDialog, OpensWithTheCurrentCredentialsMasked)
{
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ログイン情報"));
    EXPECT_EQ(dlg.size(), QSize(224, 127));
    EXPECT_TRUE(dlg.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("lblUsername"))->text(), QStringLiteral("ユーザ名"));
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("lblPassword"))->text(), QStringLiteral("パスワード"));
    dlg.show();
    EXPECT_EQ(dlg.editUsername->text(), QStringLiteral("alice"));
    EXPECT_EQ(dlg.editPassword->text(), QStringLiteral("secret"));
    EXPECT_EQ(dlg.editPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(NextTabStop(dlg.editUsername), dlg.editPassword);
    EXPECT_EQ(NextTabStop(dlg.editPassword), dlg.btnOK);
    EXPECT_EQ(NextTabStop(dlg.btnOK), dlg.btnCancel);

    // Refilled at every showing, from whatever the main window gave it then.
    dlg.editUsername->setText(QStringLiteral("typed"));
    QTest::mouseClick(dlg.btnCancel, Qt::LeftButton);
    dlg.SetCurrent({QStringLiteral("bob"), QString()}, QString());
    dlg.show();
    EXPECT_EQ(dlg.editUsername->text(), QStringLiteral("bob"));
}

TEST_F(LoginDialog, OkStoresExactlyWhatWasTypedEvenEmpty)
{
    ModalWatch<TfrmLogin> user([](TfrmLogin* d) {
        d->editUsername->setText(QStringLiteral(" carol "));
        d->editPassword->clear();
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    dlg.exec();
    EXPECT_EQ(user.Count(), 1);
    EXPECT_EQ(dlg.Chosen().AccountName, QStringLiteral(" carol "));
    EXPECT_TRUE(dlg.Chosen().Password.isEmpty());
}

TEST_F(LoginDialog, EnterInThePasswordBoxSignsInEscapeAndEnterElsewhereDoNothing)
{
    dlg.show();
    dlg.editUsername->setText(QStringLiteral("dave"));
    dlg.editPassword->setText(QStringLiteral("pw"));
    QTest::keyClick(dlg.editUsername, Qt::Key_Return);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.Chosen().AccountName, QStringLiteral("alice"));

    QTest::keyClick(dlg.editPassword, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.Chosen().AccountName, QStringLiteral("dave"));
    EXPECT_EQ(dlg.Chosen().Password, QStringLiteral("pw"));
}

TEST_F(LoginDialog, CancelAndCloseBoxLeaveTheCredentials)
{
    dlg.show();
    dlg.editUsername->setText(QStringLiteral("x"));
    dlg.editPassword->setText(QStringLiteral("y"));
    QTest::mouseClick(dlg.btnCancel, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    dlg.show();
    dlg.editUsername->setText(QStringLiteral("x"));
    dlg.close();
    EXPECT_EQ(dlg.Chosen().AccountName, QStringLiteral("alice"));
    EXPECT_EQ(dlg.Chosen().Password, QStringLiteral("secret"));
}

// One line warns when the password would cross the network unencrypted.
TEST_F(LoginDialog, PlainHttpToAnotherHostIsWarnedAbout)
{
    const struct {
        const char* base;
        bool warned;
    } cases[] = {{"http://social.example/api", true}, {"http://192.0.2.7", true}, {"https://social.example", false},
                 {"http://127.0.0.1:8080", false}, {"http://localhost:80", false}, {"http://[::1]:81", false},
                 {"http://127.1", false}, {"http://[::ffff:127.0.0.2]", false}, {"http://[::2]", true},
                 {"http://[::127.0.0.1]", true}};
    for (const auto& c : cases) {
        dlg.SetCurrent({}, QString::fromLatin1(c.base));
        dlg.show();
        EXPECT_EQ(dlg.lblPlainWarning->isVisible(), c.warned) << c.base;
        EXPECT_EQ(dlg.height(), c.warned ? 170 : 127) << c.base;
        if (c.warned) {
            EXPECT_TRUE(dlg.lblPlainWarning->text().contains(QStringLiteral("https://")));
        }
        dlg.hide();
    }
}

// Runs the loop until ready() holds, at most 10 s. (QTest's QTRY macros report to QTest,
// which a GoogleTest run never hears of.)
bool Eventually(const std::function<bool()>& ready)
{
    for (int waited = 0; !ready() && waited < 10000; waited += 10)
        QTest::qWait(10);
    return ready();
}

QByteArray JsonReply(const QByteArray& statusLine, const QByteArray& body)
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: application/json\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// A fediverse address: the refusal that brought the user back is shown at once, the
// authorisation page opens in the browser, and the pasted code comes back as a token.
TEST_F(LoginDialog, TheFediverseSignsInWithTheCodeThePageShowed)
{
    ScriptedServer server;
    server.addConnection(ScriptedServer::reply(JsonReply("404 Not Found", "{}")));
    server.addConnection(ScriptedServer::reply(JsonReply("200 OK", R"({"uri":"m.example","version":"4.3.0"})")));
    server.addConnection(ScriptedServer::reply(JsonReply("200 OK", R"({"client_id":"cid","client_secret":"cs"})")));
    server.addConnection(ScriptedServer::reply(JsonReply("200 OK", R"({"access_token":"tok"})")));
    server.addConnection(ScriptedServer::reply(JsonReply("200 OK", R"({"id":"1","username":"erin"})")));
    const QString origin = QString::fromUtf8(server.baseUrl());
    FakeBrowser browser;
    TLoginCredentials known;
    known.Fediverse = origin;
    dlg.SetCurrent(known, origin);
    dlg.SetRefusal(QStringLiteral("Invalid credentials."));
    dlg.show();
    EXPECT_TRUE(dlg.ShowsFediverse());
    EXPECT_TRUE(dlg.lblSignInNote->text().contains(QStringLiteral("Invalid credentials.")));
    ASSERT_TRUE(Eventually([&] { return dlg.lblServer->text().contains(QStringLiteral("4.3.0")); }));
    EXPECT_TRUE(dlg.editToken->isVisible());
    EXPECT_FALSE(dlg.editPassword->isVisible()) << "this server takes no password";

    QTest::mouseClick(dlg.btnAuthorize, Qt::LeftButton);
    ASSERT_TRUE(Eventually([&] { return browser.opened.size() == 1; }));
    EXPECT_EQ(browser.opened.first().path(), QStringLiteral("/oauth/authorize"));
    dlg.editCode->setText(QStringLiteral("  the-code "));
    QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
    ASSERT_TRUE(Eventually([&] { return !dlg.isVisible(); })) << dlg.lblSignInNote->text().toStdString();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    const TLoginCredentials& chosen = dlg.Chosen();
    EXPECT_EQ(QStringList({chosen.AccountName, chosen.Fediverse, chosen.Token, chosen.ClientId, chosen.ClientSecret}),
              QStringList({"erin", origin, "tok", "cid", "cs"}));
    EXPECT_TRUE(server.request(3).contains("&code=the-code&"));
}

} // namespace
