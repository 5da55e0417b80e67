#include "dialogs/uTwitt.h"

#include "dialogs/DialogCommon.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "text/Utf8tosjis.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

Q_LOGGING_CATEGORY(lcTwitt, "brimlark.debug")

constexpr int kMaxCharacters = 140;
const QString kCacheFolder = QStringLiteral("cache");
const QString kBodyFile = QStringLiteral("cache/post.txt");
const QString kApplicationTitle = QStringLiteral("Brimlark_Simple");

} // namespace

TfrmTwitt::TfrmTwitt(TMainState& state, std::function<void(const QString&)> showStatus, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_state(state)
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

QByteArray TfrmTwitt::SentText(const QString& text)
{
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QByteArray bytes = crlf.toUtf8();
    ReplaceFirst(bytes, "\n", "");
    ReplaceFirst(bytes, "\r", "");
    return bytes;
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
    // A fresh install has no "cache" folder yet.
    QDir().mkpath(kCacheFolder);
    QFile file(kBodyFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(body) == body.size() && file.flush())
        return true;
    QString message = QStringLiteral("Cannot create file \"%1\". %2")
                          .arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()), file.errorString());
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    QMessageBox::critical(this, kApplicationTitle, message);
    return false;
}

void TfrmTwitt::ReportFailure(int statusCode, const QByteArray& reasonPhrase)
{
    if (!m_showStatus)
        return;
    for (const QString& line : PostFailureLines(statusCode, reasonPhrase))
        m_showStatus(line);
}

void TfrmTwitt::btnTwittClick()
{
    const QString text = memoTwitt->toPlainText();
    const QByteArray sent = SentText(text);
    if (QString::fromUtf8(sent).size() > kMaxCharacters && !AskOverLength())
        return;

    QBuffer stream;
    stream.setData("status=" + FormEncode(sent) + "&source=brimlark");
    stream.open(QIODevice::ReadOnly);
    if (!WriteBodyFile(stream.data()))
        return;

    // A press while the first request still runs must not touch that request's
    // settings: Post alone refuses it as busy.
    if (HttpCli1->State() == httpReady) {
        PrepareServicePost(*HttpCli1, (m_state.ApiBase + QStringLiteral("/statuses/update.xml")).toUtf8(),
                           &stream, "application/x-www-form-urlencoded", m_state);
    }

    int status = 0;
    QByteArray reason;
    try {
        HttpCli1->Post();
        status = HttpCli1->StatusCode();
        reason = HttpCli1->ReasonPhrase();
    } catch (const EHttpException& e) {
        status = e.ErrorCode();
        reason = e.Message().toUtf8();
    } catch (const std::exception& e) {
        status = HttpCli1->StatusCode();
        reason = e.what();
    }
    if (HttpCli1->BodyStream == &stream)
        HttpCli1->BodyStream = nullptr;  // the stream ends with this call

    if (status >= 200 && status < 300) {
        memoTwitt->clear();
        accept();
        return;
    }
    qCDebug(lcTwitt) << "post failed:" << status << reason;
    ReportFailure(status, reason);
}

void TfrmTwitt::btnCancelClick()
{
    reject();
}
