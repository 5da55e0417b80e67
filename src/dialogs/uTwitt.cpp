#include "dialogs/uTwitt.h"

#include "dialogs/DialogCommon.h"
#include "http/HttpCli.h"
#include "service/PostJob.h"
#include "service/ServicePost.h"
#include "settings/OwnerOnlyFile.h"
#include "text/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QPushButton>

#include <algorithm>

namespace {

const QString kApplicationTitle = QStringLiteral("Brimlark_Simple");

} // namespace

TfrmTwitt::TfrmTwitt(std::function<TServiceAccount()> account, const QString& postCopyFile, std::function<void(const QString&)> showStatus,
                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_account(std::move(account))
    , m_postCopyFile(postCopyFile)
    , m_showStatus(std::move(showStatus))
{
    setObjectName(QStringLiteral("frmTwitt"));
    setWindowTitle(tr("つぶやく"));
    setFont(UiFont(12));

    Label1 = new QLabel(tr("本文"), this);
    Label1->setObjectName(QStringLiteral("Label1"));

    lblStrCount = new QLabel(tr("%n文字", nullptr, 0), this);
    lblStrCount->setObjectName(QStringLiteral("lblStrCount"));
    lblStrCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblStrCount->setAccessibleName(tr("文字数"));

    Label2 = new QLabel(LimitText(), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    memoTwitt = new QPlainTextEdit(this);
    memoTwitt->setObjectName(QStringLiteral("memoTwitt"));
    memoTwitt->setFont(UiFont(13));
    memoTwitt->setTabChangesFocus(true);
    memoTwitt->setAccessibleName(tr("本文"));
    memoTwitt->installEventFilter(this);

    btnTwitt = new QPushButton(tr("つぶやく"), this);
    btnTwitt->setObjectName(QStringLiteral("btnTwitt"));
    btnTwitt->setToolTip(tr("Ctrl+Enterでもつぶやけます"));
    btnCancel = new QPushButton(tr("キャンセル"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    for (QPushButton* button : {btnTwitt, btnCancel})
        button->setAutoDefault(false);
    Arrange();

    HttpCli1 = new THttpCli(this);
    HttpCli1->setObjectName(QStringLiteral("HttpCli1"));

    setTabOrder(memoTwitt, btnTwitt);
    setTabOrder(btnTwitt, btnCancel);

    connect(memoTwitt, &QPlainTextEdit::textChanged, this, &TfrmTwitt::memoTwittChange);
    connect(btnTwitt, &QPushButton::clicked, this, &TfrmTwitt::btnTwittClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmTwitt::btnCancelClick);
}

TfrmTwitt::~TfrmTwitt() = default;

void TfrmTwitt::Arrange()
{
    // One row of captions at the top.
    int rowHeight = 12;
    for (QLabel* label : {Label1, lblStrCount, Label2})
        rowHeight = std::max(rowHeight, label->fontMetrics().height());
    auto place = [rowHeight](QLabel* label, int left, int fixedWidth, const QString& widest) {
        const QFontMetrics metrics = label->fontMetrics();
        const int width = std::max({fixedWidth, metrics.horizontalAdvance(widest),
                                    metrics.horizontalAdvance(label->text())});
        label->setGeometry(left, 5, width, rowHeight);
        return left + width;
    };
    int right = place(Label1, 8, 24, Label1->text());
    // Room for as many digits as the limit has (three without one), so the row does not
    // shift while typing.
    const std::optional<int> limit = KnownLimit();
    const int digits = limit && *limit > 0 ? int(QString::number(*limit).size()) : 3;
    right = place(lblStrCount, std::max(59, right + 6), 30, CountText(QString(std::min(digits, 9), u'8').toInt()));
    right = place(Label2, std::max(95, right + 6), 74, Label2->text());

    const int memoTop = std::max(24, 5 + rowHeight + 6);
    memoTwitt->setGeometry(8, memoTop, 361, 65);
    const int memoBottom = memoTop + 65;
    auto button = [](QPushButton* b, int left, int top, const QSize& fixedSize) {
        b->setGeometry(QRect(QPoint(left, top), fixedSize.expandedTo(b->sizeHint())));
        return b->geometry();
    };
    const QRect post = button(btnTwitt, 72, memoBottom + 4, QSize(105, 33));
    const QRect cancel = button(btnCancel, std::max(200, post.right() + 24), memoBottom + 3, QSize(97, 33));
    setFixedSize(std::max({379, right + 10, cancel.right() + 11}), std::max(136, post.bottom() + 11));
}

void TfrmTwitt::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange && btnCancel)  // not while the constructor sets the font
        Arrange();
    QDialog::changeEvent(event);
}

void TfrmTwitt::showEvent(QShowEvent* event)
{
    // The account may have changed servers since the last opening.
    Label2->setText(LimitText());
    memoTwittChange();
    memoTwitt->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

bool TfrmTwitt::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == memoTwitt && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && key->modifiers().testFlag(Qt::ControlModifier)) {
            btnTwittClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmTwitt::SetTextLimit(int limit, std::optional<int> linkLength)
{
    if (limit < 0)
        return;
    m_textLimit = limit;
    m_linkLength = linkLength;
    m_limitPublished = true;
    Label2->setText(LimitText());
    memoTwittChange();
}

TServiceAccount TfrmTwitt::Account() const
{
    return m_account ? m_account() : TServiceAccount();
}

std::optional<int> TfrmTwitt::KnownLimit() const
{
    if (m_limitPublished)
        return m_textLimit;
    return UnpublishedTextLimit(Account());
}

QString TfrmTwitt::CountText(int count) const
{
    const std::optional<int> limit = KnownLimit();
    if (limit && *limit > 0)
        return tr("%1/%2").arg(count).arg(*limit);
    return tr("%n文字", nullptr, count);
}

QString TfrmTwitt::LimitText() const
{
    const std::optional<int> limit = KnownLimit();
    if (!limit)
        return tr("(最大140文字)");
    return *limit == 0 ? tr("(文字数の制限なし)") : tr("(最大%1文字)").arg(*limit);
}

void TfrmTwitt::memoTwittChange()
{
    lblStrCount->setText(CountText(MeasureStatus(Account(), memoTwitt->toPlainText(), m_linkLength).Shown));
    Arrange();
}

bool TfrmTwitt::AskOverLength()
{
    const TTopMostSuspender suspend;
    const std::optional<int> limit = KnownLimit();
    const QString question = limit ? tr("%1文字を超えているようです。このまま書き込みますか？").arg(*limit)
                                   : tr("140文字を超えているようです。このまま書き込みますか？");
    const auto answer = QMessageBox::question(this, tr("文字数"), question, QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::No);
    return answer == QMessageBox::Yes;
}

bool TfrmTwitt::WriteBodyFile(const QByteArray& body)
{
    // A fresh install has no cache folder yet; a failure shows when the file is opened.
    MakeOwnerOnlyFolder(QFileInfo(m_postCopyFile).absolutePath(), nullptr);
    QFile file(m_postCopyFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(body) == body.size() && file.flush())
        return true;
    QString message = QStringLiteral("Cannot create file \"%1\". %2")
                          .arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()), file.errorString());
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    qCWarning(lcApp).noquote() << "post body not written:" << message;
    QMessageBox::critical(this, kApplicationTitle, message);
    return false;
}

void TfrmTwitt::btnTwittClick()
{
    const TServiceAccount account = Account();
    const QString typed = memoTwitt->toPlainText();
    // A published 0 is no limit at all.
    const int limit = KnownLimit().value_or(m_textLimit);
    if (limit > 0 && MeasureStatus(account, typed, m_linkLength).Counted > limit && !AskOverLength())
        return;

    const QByteArray body = StatusPostBody(account, typed, m_inReplyTo);
    if (!WriteBodyFile(body))
        return;

    // A press while the first post still runs is refused by the client as busy and
    // leaves that post alone; only the refusal's lines are shown.
    TPostJob* job = StartStatusPost(*HttpCli1, account, body);
    if (m_post) {
        connect(job, &TPostJob::Finished, this, &TfrmTwitt::ShowFailure);
        return;
    }
    m_post = job;
    m_abandoned = false;
    connect(job, &TPostJob::Finished, this, &TfrmTwitt::PostEnded);
}

void TfrmTwitt::PostEnded(const TPostOutcome& outcome)
{
    m_post = nullptr;
    if (outcome.IsAccepted()) {
        // Also when the dialog was closed just as the reply came: the status is posted.
        memoTwitt->clear();
        StartPost();
        // In place of whatever an earlier post's failure left on the status bar.
        if (m_showStatus)
            m_showStatus(tr("投稿しました"));
        if (!m_abandoned)
            accept();
        return;
    }
    if (m_abandoned) {
        // The request may have reached the server before the socket closed: say so, and
        // keep the text for the user to check and send again.
        if (m_showStatus)
            m_showStatus(tr("投稿を中止しました。サーバーには届いている可能性があります"));
        return;
    }
    ShowFailure(outcome);
}

void TfrmTwitt::ShowFailure(const TPostOutcome& outcome)
{
    if (!m_showStatus)
        return;
    for (const QString& line : PostFailureLines(outcome))
        m_showStatus(line);
}

void TfrmTwitt::StartPost()
{
    m_inReplyTo.clear();
    setWindowTitle(tr("つぶやく"));
}

void TfrmTwitt::StartReply(const QString& screenName, const QString& statusId)
{
    m_inReplyTo = statusId;
    setWindowTitle(tr("つぶやく - @%1 への返信").arg(screenName));
    const QString mention = QStringLiteral("@") + screenName + u' ';
    QString text = memoTwitt->toPlainText();
    if (!screenName.isEmpty() && !text.startsWith(mention))
        text.prepend(mention);
    memoTwitt->setPlainText(text);
    QTextCursor cursor = memoTwitt->textCursor();
    cursor.setPosition(screenName.isEmpty() ? 0 : int(mention.size()));
    memoTwitt->setTextCursor(cursor);
}

void TfrmTwitt::btnCancelClick()
{
    reject();
}

void TfrmTwitt::reject()
{
    if (m_post) {
        m_abandoned = true;
        m_post->Abort();    // PostEnded has run when this returns
    }
    QDialog::reject();
}
