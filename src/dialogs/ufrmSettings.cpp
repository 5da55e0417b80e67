#include "dialogs/ufrmSettings.h"

#include "dialogs/DialogCommon.h"
#include "dialogs/UpDown.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmSettings::TfrmSettings(const TTimerChoices& shown, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(tr("設定"));
    setFont(UiFont(12));
    // 284 x 197 outside, less a dialog frame and title bar.
    setFixedSize(276, 163);

    Label1 = MakeLabel(QStringLiteral("Label1"), tr("自動更新"), 8, 21, this);
    chkAutoReload = new QCheckBox(this);
    chkAutoReload->setObjectName(QStringLiteral("chkAutoReload"));
    chkAutoReload->setGeometry(64, 16, 17, 17);
    editReload = new QLineEdit(QStringLiteral("60"), this);
    editReload->setObjectName(QStringLiteral("editReload"));
    editReload->setGeometry(96, 16, 41, 20);
    UpDownReload = new TUpDown(editReload, kReloadRange.Min, kReloadRange.Max, this);
    UpDownReload->setObjectName(QStringLiteral("UpDownReload"));
    UpDownReload->setGeometry(137, 16, 16, 20);
    UpDownReload->SetPosition(60);
    Label5 = MakeLabel(QStringLiteral("Label5"), tr("秒ごと"), 164, 30, this);
    Label3 = MakeLabel(QStringLiteral("Label3"), tr("Twitterは60秒で70リクエストの制限のため"), 32, 40, this);

    Label4 = MakeLabel(QStringLiteral("Label4"), tr("取得分のローテーション"), 8, 69, this);
    chkAutoRotation = new QCheckBox(this);
    chkAutoRotation->setObjectName(QStringLiteral("chkAutoRotation"));
    chkAutoRotation->setGeometry(64, 80, 17, 17);
    editRotation = new QLineEdit(QStringLiteral("20"), this);
    editRotation->setObjectName(QStringLiteral("editRotation"));
    editRotation->setGeometry(96, 80, 41, 20);
    UpDownRotation = new TUpDown(editRotation, kRotationRange.Min, kRotationRange.Max, this);
    UpDownRotation->setObjectName(QStringLiteral("UpDownRotation"));
    UpDownRotation->setGeometry(137, 80, 16, 20);
    UpDownRotation->SetPosition(60);
    Label2 = MakeLabel(QStringLiteral("Label2"), tr("秒ごと"), 156, 86, this);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(24, 112, 97, 33);
    btnCancel = new QPushButton(tr("キャンセル"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(136, 112, 97, 33);
    for (QPushButton* button : {btnOk, btnCancel})
        button->setAutoDefault(false);

    setTabOrder(chkAutoReload, editReload);
    setTabOrder(editReload, chkAutoRotation);
    setTabOrder(chkAutoRotation, editRotation);
    setTabOrder(editRotation, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);

    FormCreate(shown);
}

void TfrmSettings::FormCreate(const TTimerChoices& shown)
{
    m_chosen = shown;
    UpDownReload->SetPosition(shown.ReloadInterval);
    UpDownRotation->SetPosition(shown.RotationInterval);
    chkAutoReload->setChecked(shown.AutoReload);
    chkAutoRotation->setChecked(shown.AutoRotation);
}

void TfrmSettings::btnOkClick()
{
    m_chosen = {UpDownReload->Position(), UpDownRotation->Position(), chkAutoReload->isChecked(),
                chkAutoRotation->isChecked()};
    accept();
}

void TfrmSettings::btnCancelClick()
{
    reject();
}
