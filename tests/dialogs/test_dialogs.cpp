#include "dialogs/UpDown.h"
#include "dialogs/uFrmBlack.h"
#include "dialogs/uVersion.h"
#include "dialogs/ufrmSettings.h"

#include "dialogs/TabOrder.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

namespace {

// Receives the addresses that QDesktopServices would hand to the browser.
class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class SettingsDialog : public ::testing::Test {
protected:
    SettingsDialog()
    {
        dlg = std::make_unique<TfrmSettings>(TTimerChoices{60, 20, true, true}, nullptr);
        dlg->show();
    }
    const TTimerChoices& chosen() const { return dlg->Chosen(); }

    QLineEdit* Edit(const char* name) { return dlg->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    TUpDown* UpDown(const char* name) { return dlg->findChild<TUpDown*>(QString::fromLatin1(name)); }
    void Ok() { QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("btnOk")), Qt::LeftButton); }
    void Cancel() { QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton); }
    void TypeInto(const char* name, const QString& text)
    {
        Edit(name)->selectAll();
        QTest::keyClicks(Edit(name), text);
    }

    std::unique_ptr<TfrmSettings> dlg;
};

TEST_F(SettingsDialog, FilledFromTheStateAtCreation)
{
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("設定"));
    EXPECT_EQ(Edit("editReload")->text(), QStringLiteral("60"));
    EXPECT_EQ(Edit("editRotation")->text(), QStringLiteral("20"));
    EXPECT_TRUE(dlg->findChild<QCheckBox*>(QStringLiteral("chkAutoReload"))->isChecked());
    EXPECT_EQ(UpDown("UpDownReload")->Min(), 60);
    EXPECT_EQ(UpDown("UpDownReload")->Max(), 100);
    EXPECT_EQ(UpDown("UpDownRotation")->Min(), 10);
    EXPECT_EQ(UpDown("UpDownRotation")->Max(), 100);
    EXPECT_EQ(dlg->findChild<QLabel*>(QStringLiteral("Label3"))->text(),
              QStringLiteral("Twitterは60秒で70リクエストの制限のため"));
    EXPECT_EQ(NextTabStop(Edit("editReload")), dlg->chkAutoRotation);
    EXPECT_EQ(NextTabStop(Edit("editRotation")), dlg->btnOk);

    // A stored value outside the range is brought into it.
    TfrmSettings other(TTimerChoices{20, 500, true, true}, nullptr);
    EXPECT_EQ(other.editReload->text(), QStringLiteral("60"));
    EXPECT_EQ(other.editRotation->text(), QStringLiteral("100"));
}

TEST_F(SettingsDialog, TypedTextOutsideTheRangeKeepsTheLastValidPosition)
{
    struct Case { const char* typed; int stored; };
    const Case cases[] = {{"30", 60}, {"75", 75}, {"101", 75}, {"abc", 75}, {"", 75}, {"100", 100}, {"7.5", 100}};
    for (const Case& c : cases) {
        dlg->show();
        TypeInto("editReload", QString::fromLatin1(c.typed));
        Ok();
        EXPECT_EQ(chosen().ReloadInterval, c.stored) << c.typed;
        EXPECT_FALSE(dlg->isVisible());
    }
}

TEST_F(SettingsDialog, ArrowsChangeTheNumberShownAndStopAtTheEnds)
{
    TUpDown* rotationArrows = UpDown("UpDownRotation");
    QTest::mouseClick(rotationArrows->UpButton(), Qt::LeftButton);
    QTest::mouseClick(rotationArrows->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Edit("editRotation")->text(), QStringLiteral("22"));
    Ok();
    EXPECT_EQ(chosen().RotationInterval, 22);

    // An arrow starts from a valid typed number, and never leaves the range.
    dlg->show();
    TypeInto("editRotation", QStringLiteral("99"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(rotationArrows->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Edit("editRotation")->text(), QStringLiteral("100"));
    TypeInto("editRotation", QStringLiteral("11"));
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(rotationArrows->DownButton(), Qt::LeftButton);
    EXPECT_EQ(Edit("editRotation")->text(), QStringLiteral("10"));
    TypeInto("editReload", QStringLiteral("5"));  // invalid: the arrow goes from 60
    QTest::mouseClick(UpDown("UpDownReload")->UpButton(), Qt::LeftButton);
    EXPECT_EQ(Edit("editReload")->text(), QStringLiteral("61"));
}

// The window applies what OK took: the intervals, the switches and their timers.
TEST_F(SettingsDialog, OkHandsBackFlagsAndIntervals)
{
    dlg->chkAutoReload->setChecked(false);
    TypeInto("editReload", QStringLiteral("90"));
    Ok();
    EXPECT_FALSE(chosen().AutoReload);
    EXPECT_TRUE(chosen().AutoRotation);
    EXPECT_EQ(chosen().ReloadInterval, 90);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(SettingsDialog, CancelChangesNothingAndTheEditsAreShownAgain)
{
    dlg->chkAutoRotation->setChecked(false);
    TypeInto("editReload", QStringLiteral("80"));
    TypeInto("editRotation", QStringLiteral("45"));
    Cancel();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(chosen().ReloadInterval, 60);
    EXPECT_EQ(chosen().RotationInterval, 20);
    EXPECT_TRUE(chosen().AutoRotation);

    // The close box acts as Cancel; the controls are not refilled at the next opening.
    dlg->show();
    dlg->close();
    EXPECT_EQ(chosen().ReloadInterval, 60);
    dlg->show();
    EXPECT_EQ(Edit("editReload")->text(), QStringLiteral("80"));
    EXPECT_EQ(Edit("editRotation")->text(), QStringLiteral("45"));
    EXPECT_FALSE(dlg->chkAutoRotation->isChecked());
    EXPECT_TRUE(dlg->chkAutoReload->isChecked());
}

TEST(AboutWindow, ContentAndLinksOpenTheirOwnCaptions)
{
    TfrmVersion about(nullptr);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("バージョン"));
    EXPECT_EQ(about.size(), QSize(265, 229));
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("Brimlark_Simple"));
    EXPECT_TRUE(about.findChild<QLabel*>(QStringLiteral("Label1"))->font().bold());
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("Label5"))->text(), QStringLiteral("ver" BRIMLARK_VERSION));  // one version, the project's
    EXPECT_EQ(about.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText().split(QLatin1Char('\n')),
              QStringList({QStringLiteral("[v0.6]"), QStringLiteral("お気に入りスターの機能が稼動"),
                           QStringLiteral("XMLライブラリ内の<Id>のバグを修正"), QStringLiteral("[v0.5]"),
                           QStringLiteral("リンクURLのジャンプ機能を搭載"), QStringLiteral("フレンドタイムライン取得に成功")}));
    about.show();

    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    auto* hp1 = about.findChild<QLabel*>(QStringLiteral("lblHP1"));
    auto* hp2 = about.findChild<QLabel*>(QStringLiteral("lblHP2"));
    ASSERT_NE(hp1, nullptr);
    ASSERT_NE(hp2, nullptr);
    EXPECT_EQ(hp1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(hp1->font().underline());
    QTest::mouseClick(hp1, Qt::LeftButton);
    QTest::mouseClick(hp2, Qt::LeftButton);
    hp1->setText(QStringLiteral("https://elsewhere.example/"));  // the caption, whatever it is
    QTest::mouseClick(hp1, Qt::LeftButton);
    QTest::mouseClick(hp2, Qt::RightButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(sink.opened, QList<QUrl>({QUrl(QStringLiteral("https://brimlark.example.org/")),
                                        QUrl(QStringLiteral("https://brimlark.example.org/simple/")),
                                        QUrl(QStringLiteral("https://elsewhere.example/"))}));

    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

TEST(TickerWindow, CreatedHiddenFramelessAndBlack)
{
    TfrmBlack ticker;
    EXPECT_FALSE(ticker.isVisible());
    EXPECT_TRUE(ticker.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(ticker.size(), QSize(810, 65));
    EXPECT_EQ(ticker.palette().color(QPalette::Window), QColor(Qt::black));
    auto* rich = ticker.findChild<QTextEdit*>(QStringLiteral("RichEdit1"));
    ASSERT_NE(rich, nullptr);
    EXPECT_EQ(rich->toPlainText(), QStringLiteral("RichEdit1"));
    EXPECT_NE(ticker.findChild<QLabel*>(QStringLiteral("Image1")), nullptr);
}

} // namespace

#include "test_dialogs.moc"
