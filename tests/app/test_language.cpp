// The language the program loads before its windows: its own texts in English with
// "--lang en", Qt's own texts (the standard buttons) in Japanese by default.
#include "FormHarness.h"
#include "ScriptedServer.h"
#include "app/Translations.h"
#include "dialogs/uTwitt.h"

#include <QPushButton>

using namespace harness;

namespace {

class LanguageTest : public FormTest {
protected:
    void SetUp() override { qunsetenv("BRIMLARK_LANG"); }

    static QString yesNo()
    {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.button(QMessageBox::Yes)->text() + u'/' + box.button(QMessageBox::No)->text();
    }

    ScriptedServer server;
};

TEST_F(LanguageTest, EnglishReachesMenusThePostDialogAndTheStatusLine)
{
    ASSERT_TRUE(InstallTranslators(ResolveLanguage({QStringLiteral("brimlark"), QStringLiteral("--lang"),
                                                    QStringLiteral("en")}, TMainState())));
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Reply(401, "Unauthorized", "Could not authenticate you.")));
    auto form = makeForm(server.baseUrl());

    EXPECT_EQ(action(*form, "mmReload")->text(), QStringLiteral("&Reload"));
    EXPECT_EQ(form->findChild<TfrmTwitt*>()->btnTwitt->text(), QStringLiteral("Post"));
    EXPECT_EQ(trace(*form), (QStringList{"Loading...", "Authentication failed"}));
    EXPECT_EQ(yesNo(), QStringLiteral("&Yes/&No"));
}

TEST_F(LanguageTest, JapaneseByDefaultWithQtsOwnButtonsInJapanese)
{
    // Replaces whatever an earlier call installed.
    ASSERT_TRUE(InstallTranslators(ResolveLanguage({QStringLiteral("brimlark")}, TMainState())));
    auto form = makeForm("http://127.0.0.1:9");

    EXPECT_EQ(action(*form, "mmReload")->text(), QStringLiteral("リロード(&R)"));
    EXPECT_EQ(form->findChild<TfrmTwitt*>()->btnTwitt->text(), QStringLiteral("つぶやく"));
    EXPECT_EQ(yesNo(), QStringLiteral("はい(&Y)/いいえ(&N)"));
}

} // namespace
