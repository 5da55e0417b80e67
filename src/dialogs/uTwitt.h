#pragma once

#include "settings/Settings.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class THttpCli;

// The posting dialog: live count, the over-length question, the form body (also kept in
// postCopyFile, whose folder is made when missing) and the POST of a status through its
// own client. Only a 2xx reply clears the text and closes; any other outcome keeps the
// text and says why through showStatus (the main window's status line).
class TfrmTwitt : public QDialog {
    Q_OBJECT
public:
    TfrmTwitt(TMainState& state, const QString& postCopyFile, std::function<void(const QString&)> showStatus,
              QWidget* parent);
    ~TfrmTwitt() override;

    QLabel* Label1;
    QLabel* lblStrCount;
    QLabel* Label2;
    QPlainTextEdit* memoTwitt;
    QPushButton* btnTwitt;
    QPushButton* btnCancel;
    THttpCli* HttpCli1;

    // The text's length as the count shows it: UTF-16 code units, a line break as two.
    static int DisplayedCount(const QString& text);

public Q_SLOTS:
    void memoTwittChange();
    void btnTwittClick();
    void btnCancelClick();

private:
    bool AskOverLength();
    bool WriteBodyFile(const QByteArray& body);

    TMainState& m_state;
    QString m_postCopyFile;
    std::function<void(const QString&)> m_showStatus;
};
