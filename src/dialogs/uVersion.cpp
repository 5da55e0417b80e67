#include "dialogs/uVersion.h"

#include "dialogs/DialogCommon.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

namespace {

// The address that opens is always the text the label shows.
void OpenCaption(const QLabel* label)
{
    QDesktopServices::openUrl(QUrl(label->text()));
}

} // namespace

TfrmVersion::TfrmVersion(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmVersion"));
    setWindowTitle(tr("バージョン"));
    setFont(UiFont(12));
    setFixedSize(265, 229);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(24, 16, 32, 32);
    Image1->setScaledContents(true);
    Image1->setPixmap(ProgramIcon(64));

    Label1 = MakeLabel(QStringLiteral("Label1"), QStringLiteral("Brimlark_Simple"), 56, 16, this);
    Label1->setFont(UiFont(19, true));
    Label1->adjustSize();
    Label5 = MakeLabel(QStringLiteral("Label5"), QStringLiteral("ver" BRIMLARK_VERSION), 176, 40, this);
    Label5->setFont(UiFont(19));
    Label5->adjustSize();
    Label2 = MakeLabel(QStringLiteral("Label2"), QStringLiteral("by Brimlark project"), 16, 48, this);
    Label4 = MakeLabel(QStringLiteral("Label4"), QStringLiteral("HP"), 16, 72, this);

    lblHP1 = new TLinkLabel(QStringLiteral("https://brimlark.example.org/"), this);
    lblHP1->setObjectName(QStringLiteral("lblHP1"));
    lblHP1->move(32, 72);
    lblHP1->adjustSize();
    lblHP2 = new TLinkLabel(QStringLiteral("https://brimlark.example.org/simple/"), this);
    lblHP2->setObjectName(QStringLiteral("lblHP2"));
    lblHP2->move(32, 88);
    lblHP2->adjustSize();

    btnClose = new QPushButton(tr("閉じる"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(72, 112, 121, 25);

    Label3 = MakeLabel(QStringLiteral("Label3"), tr("更新履歴"), 24, 144, this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(24, 160, 225, 57);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(tr("[v0.6]\n"
                                       "お気に入りスターの機能が稼動\n"
                                       "XMLライブラリ内の<Id>のバグを修正\n"
                                       "[v0.5]\n"
                                       "リンクURLのジャンプ機能を搭載\n"
                                       "フレンドタイムライン取得に成功"));

    setTabOrder(btnClose, Memo1);

    connect(lblHP1, &TLinkLabel::Click, this, &TfrmVersion::lblHP1Click);
    connect(lblHP2, &TLinkLabel::Click, this, &TfrmVersion::lblHP2Click);
    connect(btnClose, &QPushButton::clicked, this, &TfrmVersion::btnCloseClick);
}

void TfrmVersion::lblHP1Click()
{
    OpenCaption(lblHP1);
}

void TfrmVersion::lblHP2Click()
{
    OpenCaption(lblHP2);
}

void TfrmVersion::btnCloseClick()
{
    accept();
}
