#include "dialogs/uFrmBlack.h"

#include "dialogs/DialogCommon.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTextEdit>

TfrmBlack::TfrmBlack(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmBlack"));
    setFont(UiFont(12));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    resize(810, 65);
    move(340, 218);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    panelLeft = new QFrame(this);
    panelLeft->setObjectName(QStringLiteral("panelLeft"));
    panelLeft->setFixedWidth(25);
    panelLeft->setAutoFillBackground(true);
    QPalette cream = panelLeft->palette();
    cream.setColor(QPalette::Window, QColor(0xFF, 0xFB, 0xF0));
    panelLeft->setPalette(cream);
    layout->addWidget(panelLeft);

    Image1 = new QLabel(panelLeft);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(4, 8, 16, 16);
    Image1->setScaledContents(true);
    Image1->setPixmap(ProgramIcon(32));
    Image1->setCursor(Qt::PointingHandCursor);

    RichEdit1 = new QTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setFont(UiFont(12));
    QPalette ink = RichEdit1->palette();
    ink.setColor(QPalette::Base, Qt::black);
    ink.setColor(QPalette::Text, Qt::white);
    RichEdit1->setPalette(ink);
    RichEdit1->setPlainText(QStringLiteral("RichEdit1"));
    layout->addWidget(RichEdit1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RichEdit1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(RichEdit1->mapToGlobal(at)); });
}
