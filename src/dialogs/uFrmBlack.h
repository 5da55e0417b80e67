#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QMenu;
class QTextEdit;

// The ticker window: a frameless black bar with an icon. Created hidden; nothing shows
// or fills it.
class TfrmBlack : public QWidget {
    Q_OBJECT
public:
    explicit TfrmBlack(QWidget* parent = nullptr);

    QFrame* panelLeft;
    QLabel* Image1;
    QTextEdit* RichEdit1;
    QMenu* PopupMenu1;
};
