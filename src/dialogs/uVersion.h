#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class TLinkLabel;

// The about window: name, version, maker, two home page links and the change history.
class TfrmVersion : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVersion(QWidget* parent);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label5;
    QLabel* Label2;
    QLabel* Label4;
    TLinkLabel* lblHP1;
    TLinkLabel* lblHP2;
    QPushButton* btnClose;
    QLabel* Label3;
    QPlainTextEdit* Memo1;

public Q_SLOTS:
    void lblHP1Click();
    void lblHP2Click();
    void btnCloseClick();
};
