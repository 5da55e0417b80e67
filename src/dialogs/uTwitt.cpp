#include "dialogs/uTwitt.h"

#include "dialogs/DialogCommon.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "settings/OwnerOnlyFile.h"
#include "text/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

constexpr int kMaxCharacters = 140;
const QString kApplicationTitle = QStringLiteral("Brimlark_Simple");

} // namespace

TfrmTwitt::TfrmTwitt(TMainState& state, const QString& postCopyFile, std::function<void(const QString&)> showStatus,
                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_state(state)
    , m_postCopyFile(postCopyFile)
    , m_showStatus(std::move(showStatus))
{
    setObjectName(QStringLiteral("frmTwitt"));
    setWindowTitle(QStringLiteral("つぶやく"));
    setFont(UiFont(12));
    setFixedSize(379, 136);

    Label1 = new QLabel(QStringLiteral("本文"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 5, 24, 12);

    lblStrCount = new QLabel(QStringLiteral("0文字"), this);
    lblStrCount->setObjectName(QStringLiteral("lblStrCount"));
    lblStrCount->setGeometry(59, 5, 30, 12);
    lblStrCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Label2 = new QLabel(QStringLiteral("(最大140文字)"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(95, 5, 74, 12);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    memoTwitt = new QPlainTextEdit(this);
    memoTwitt->setObjectName(QStringLiteral("memoTwitt"));
    memoTwitt->setGeometry(8, 24, 361, 65);
    memoTwitt->setFont(UiFont(13));
    memoTwitt->setTabChangesFocus(true);

    btnTwitt = new QPushButton(QStringLiteral("つぶやく"), this);
    btnTwitt->setObjectName(QStringLiteral("btnTwitt"));
    btnTwitt->setGeometry(72, 93, 105, 33);
    btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(200, 92, 97, 33);
    for (QPushButton* button : {btnTwitt, btnCancel})
        button->setAutoDefault(false);

    HttpCli1 = new THttpCli(this);
    HttpCli1->setObjectName(QStringLiteral("HttpCli1"));

    setTabOrder(memoTwitt, btnTwitt);
    setTabOrder(btnTwitt, btnCancel);

    connect(memoTwitt, &QPlainTextEdit::textChanged, this, &TfrmTwitt::memoTwittChange);
    connect(btnTwitt, &QPushButton::clicked, this, &TfrmTwitt::btnTwittClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmTwitt::btnCancelClick);
}

TfrmTwitt::~TfrmTwitt() = default;

int TfrmTwitt::DisplayedCount(const QString& text)
{
    // The text box holds a break as one "\n"; the count sees it as CR LF.
    return int(text.size() + text.count(QLatin1Char('\n')));
}

void TfrmTwitt::memoTwittChange()
{
    lblStrCount->setText(QString::number(DisplayedCount(memoTwitt->toPlainText())) + QStringLiteral("文字"));
}

bool TfrmTwitt::AskOverLength()
{
    const TTopMostSuspender suspend;
    const auto answer = QMessageBox::question(this, QStringLiteral("文字数"),
                                              QStringLiteral("140文字を超えているようです。このまま書き込みますか？"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
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
    const QByteArray sent = StatusUpdateText(memoTwitt->toPlainText());
    if (QString::fromUtf8(sent).size() > kMaxCharacters && !AskOverLength())
        return;

    const QByteArray body = StatusUpdateBody(sent);
    if (!WriteBodyFile(body))
        return;

    // A press while the first request still runs is refused by the client as busy and
    // leaves that request alone.
    const TPostOutcome outcome
        = PostStatus(*HttpCli1, {m_state.ApiBase, m_state.AccountName, m_state.Password}, body);
    if (outcome.IsAccepted()) {
        memoTwitt->clear();
        accept();
        return;
    }
    if (m_showStatus) {
        for (const QString& line : PostFailureLines(outcome))
            m_showStatus(line);
    }
}

void TfrmTwitt::btnCancelClick()
{
    reject();
}
