#pragma once

#include "service/ServiceAccount.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class THttpCli;
class TPostJob;
struct TPostOutcome;

// The posting dialog: live count, the over-length question, the form body (also kept in
// postCopyFile, whose folder is made when missing) and the POST of a status through its
// own client. Sending starts the post and returns; the dialog stays open until the
// outcome arrives. Only a 2xx reply clears the text and closes; any other outcome keeps
// the text and says why through showStatus (the main window's status line). Each opening
// puts the focus in the text box; Ctrl+Enter there posts.
class TfrmTwitt : public QDialog {
    Q_OBJECT
public:
    // account gives the address, Credentials and network options at the moment of sending.
    TfrmTwitt(std::function<TServiceAccount()> account, const QString& postCopyFile, std::function<void(const QString&)> showStatus,
              QWidget* parent);
    ~TfrmTwitt() override;

    QLabel* Label1 = nullptr;
    QLabel* lblStrCount = nullptr;
    QLabel* Label2 = nullptr;
    QPlainTextEdit* memoTwitt = nullptr;
    QPushButton* btnTwitt = nullptr;
    QPushButton* btnCancel = nullptr;
    THttpCli* HttpCli1 = nullptr;

    // The limit the server published: the count shows "n/limit", the captions name it
    // and sending more asks first. 0: no limit, no question. Until set, the limit the
    // account's service is known to keep, else 140 with the historic captions. A
    // negative limit is ignored. linkLength: what the server counts a link as, where it
    // published that; a link counts its own characters otherwise.
    void SetTextLimit(int limit, std::optional<int> linkLength = {});

    // The next opening posts a new status: the caption says so and no reply is sent.
    void StartPost();
    // The next opening answers a status: "@screenName " in front of the text, the cursor
    // after it, the caption naming whom it answers; the post carries the status's id
    // (also when the user deletes the mention).
    void StartReply(const QString& screenName, const QString& statusId);
    QString InReplyTo() const { return m_inReplyTo; }
    // A post has been sent and its outcome has not arrived yet.
    bool Posting() const { return !m_post.isNull(); }

public Q_SLOTS:
    void memoTwittChange();
    // Starts the post; a press while one runs is refused as busy and shows that.
    void btnTwittClick();
    void btnCancelClick();
    // Closing the dialog (キャンセル, Esc, the close box) while a post runs abandons it:
    // the request ends at once and the status line says the server may have it anyway.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Places the controls: their fixed places and sizes are the least each gets, and a
    // caption gets the width its font needs, so a larger font or scale never cuts it.
    void Arrange();
    bool AskOverLength();
    TServiceAccount Account() const;
    // The limit published, else the one the account's service is known to hold to;
    // nothing: the historic 140 and its captions.
    std::optional<int> KnownLimit() const;
    QString CountText(int count) const;
    QString LimitText() const;
    bool WriteBodyFile(const QByteArray& body);
    void PostEnded(const TPostOutcome& outcome);
    void ShowFailure(const TPostOutcome& outcome);

    std::function<TServiceAccount()> m_account;
    QString m_postCopyFile;
    std::function<void(const QString&)> m_showStatus;
    QString m_inReplyTo;        // the status this post answers; empty: a new status
    QPointer<TPostJob> m_post;  // the post whose outcome closes the dialog
    bool m_abandoned = false;   // closed while the post ran
    int m_textLimit = 140;
    bool m_limitPublished = false;
    std::optional<int> m_linkLength;    // published with the limit
};
