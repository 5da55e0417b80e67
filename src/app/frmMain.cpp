#include "app/frmMain.h"

#include "http/BlockingHttpClient.h"
#include "http/HttpCli.h"
#include "app/RichEditC.h"
#include "service/ServicePost.h"
#include "app/Shape.h"
#include "app/StarPictures.h"
#include "service/TimelineData.h"
#include "xml/XMLDoc.h"
#include "dialogs/uFrmBlack.h"
#include "dialogs/uLoginSettings.h"
#include "dialogs/uTwitt.h"
#include "dialogs/uVersion.h"
#include "dialogs/ufrmSettings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

Q_LOGGING_CATEGORY(lcBrimlarkDebug, "brimlark.debug")

namespace {

const QString kTitle = QStringLiteral("Brimlark_Simple");
const QString kTitleMenuHint = QStringLiteral("Brimlark_Simple(右クリックでメニュー)");
const QString kPGothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString kGothic = QStringLiteral("ＭＳ ゴシック");
const QString kRotationStopped = QStringLiteral("(ローテーション停止中)");
constexpr int kStripHeight = 77;
constexpr int kCompactClientHeight = 75;  // the height of the rounded frame
constexpr int kListOuterHeight = 400;
constexpr int kTraceLines = 1000;        // newest status lines kept in the trace box
constexpr int kNameColumnWidth = 80;
constexpr int kTraceHeight = 32;

QFont PixelFont(const QString& family, int pixels, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void SetColours(QWidget* w, const QColor& background, const QColor& text)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Left button alone, no modifier key: the only state that drags the window.
bool LeftAlone(const QMouseEvent* e)
{
    return e->buttons() == Qt::LeftButton && e->modifiers() == Qt::NoModifier;
}

// Status ids go into a request path: only plain decimal digits are accepted.
bool IsStatusId(const QString& id)
{
    if (id.isEmpty())
        return false;
    for (QChar c : id) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

QString ErrorText(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const EBrimlarkError*>(&e))
        return own->Message();
    return QString::fromUtf8(e.what());
}

// The central widget places its two parts itself: a layout would impose minimum sizes
// that keep the compact modes from shrinking to the strip.
class TClientArea : public QWidget {
public:
    explicit TClientArea(std::function<void()> onResize) : m_onResize(std::move(onResize)) {}

protected:
    void resizeEvent(QResizeEvent*) override { m_onResize(); }

private:
    std::function<void()> m_onResize;
};

} // namespace

void RegisterJapaneseFonts()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QFont::insertSubstitution(kPGothic, QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(kGothic, QStringLiteral("IPAGothic"));
}

TForm1::TForm1(const TForm1Options& options, QWidget* parent)
    : QMainWindow(parent), m_options(options)
{
    RegisterJapaneseFonts();
    BuildControls();
    BuildMenus();
    FormCreate();
}

TForm1::~TForm1() = default;

// ---------------------------------------------------------------------------------------
// Construction

void TForm1::BuildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setFont(PixelFont(kGothic, 11));
    setMinimumSize(0, 0);
    resize(629, 300);

    auto* client = new TClientArea([this] { LayoutClient(); });
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    ShapeBack = new TShape(client);
    ShapeBack->setObjectName(QStringLiteral("ShapeBack"));
    ShapeBack->SetPenColor(Qt::white);
    ShapeBack->SetBrushColor(Qt::white);

    shapeWindow = new TShape(client);
    shapeWindow->setObjectName(QStringLiteral("shapeWindow"));
    shapeWindow->SetRounded(true);
    shapeWindow->SetPenColor(QColor(0xC0, 0xC0, 0xC0));
    shapeWindow->SetBrushColor(Qt::white);
    shapeWindow->setGeometry(0, 1, 629, 75);

    m_starOff = StarPixmap(false);
    m_starOn = StarPixmap(true);
    ImageStar = new QLabel(client);
    ImageStar->setObjectName(QStringLiteral("ImageStar"));
    ImageStar->setPixmap(m_starOff);
    ImageStar->setGeometry(0, 0, 16, 16);
    ImageStar->hide();
    ImageStarOn = new QLabel(client);
    ImageStarOn->setObjectName(QStringLiteral("ImageStarOn"));
    ImageStarOn->setPixmap(m_starOn);
    ImageStarOn->setGeometry(0, 0, 16, 16);
    ImageStarOn->hide();

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(47, 50, 16, 16);
    Image1->setScaledContents(true);
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setMouseTracking(true);

    lblStar = new QLabel(client);
    lblStar->setObjectName(QStringLiteral("lblStar"));
    lblStar->setGeometry(15, 38, 79, 11);
    lblStar->setText(QStringLiteral("お気に入りスター"));
    lblStar->setFont(PixelFont(kPGothic, 11));
    SetColours(lblStar, Qt::white, Qt::black);
    lblStar->setMouseTracking(true);

    lblUserName = new QLabel(client);
    lblUserName->setObjectName(QStringLiteral("lblUserName"));
    lblUserName->setGeometry(7, 5, 93, 28);
    lblUserName->setAlignment(Qt::AlignCenter);
    lblUserName->setWordWrap(true);
    lblUserName->setFont(PixelFont(kPGothic, 12, true));
    SetColours(lblUserName, Qt::white, Qt::blue);
    lblUserName->setMouseTracking(true);

    RichEditC = new TRichEditC(client);
    RichEditC->setObjectName(QStringLiteral("RichEditC"));
    RichEditC->setGeometry(106, 6, 514, 63);
    RichEditC->setFrameShape(QFrame::NoFrame);
    RichEditC->setFont(PixelFont(kPGothic, 13));
    SetColours(RichEditC, Qt::white, Qt::black);
    RichEditC->viewport()->setMouseTracking(true);

    // Stacking from the bottom: back, rounded frame, star, star caption, name, text.
    ShapeBack->lower();
    shapeWindow->raise();
    Image1->raise();
    lblStar->raise();
    lblUserName->raise();
    RichEditC->raise();

    Splitter1 = new QSplitter(Qt::Vertical, client);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(6);
    Splitter1->setChildrenCollapsible(false);

    PageControl1 = new QTabWidget(Splitter1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tabFriend = new QWidget;
    tabFriend->setObjectName(QStringLiteral("tabFriend"));
    PageControl1->addTab(tabFriend, QStringLiteral("フレンドタイムライン"));

    ListView1 = new QTreeWidget(tabFriend);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(4);
    ListView1->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("つぶやき"),
                                QStringLiteral("お気に入り"), QStringLiteral("ステータスID")});
    ListView1->setHeaderHidden(true);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setFont(PixelFont(kPGothic, 13));
    // Grid lines between the rows; a style sheet takes over the selection colours too.
    ListView1->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-bottom: 1px solid #d8d8d8; }"
        "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    ListView1->header()->setStretchLastSection(false);
    ListView1->setColumnWidth(0, kNameColumnWidth);
    ListView1->setColumnWidth(1, 550);
    ListView1->setColumnHidden(2, true);
    ListView1->setColumnHidden(3, true);

    // The list fills its page.
    auto* pageLayout = new QVBoxLayout(tabFriend);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(ListView1);

    memoDisplay = new QPlainTextEdit(Splitter1);
    memoDisplay->setObjectName(QStringLiteral("memoDisplay"));
    memoDisplay->setReadOnly(true);
    memoDisplay->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The trace gains about five lines a minute for as long as the program runs; keeping
    // only the newest lines stops a window left open for weeks from growing without end.
    memoDisplay->setMaximumBlockCount(kTraceLines);
    // Without this the splitter keeps the box at the scroll bar's minimum, far above 32.
    memoDisplay->setMinimumHeight(1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    connect(Splitter1, &QSplitter::splitterMoved, this, [this] { m_splitterMoved = true; });

    StatusBar1 = new QStatusBar;
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_statusPanel = new QLabel;
    m_statusPanel->setObjectName(QStringLiteral("StatusPanel"));
    m_statusPanel->setMinimumWidth(200);
    StatusBar1->addWidget(m_statusPanel);
    setStatusBar(StatusBar1);

    TimerAutoReload = new QTimer(this);
    TimerAutoReload->setObjectName(QStringLiteral("TimerAutoReload"));
    TimerAutoReload->setInterval(60000);
    connect(TimerAutoReload, &QTimer::timeout, this, &TForm1::TimerAutoReloadTimer);
    TimerAutoRotation = new QTimer(this);
    TimerAutoRotation->setObjectName(QStringLiteral("TimerAutoRotation"));
    TimerAutoRotation->setInterval(5000);
    connect(TimerAutoRotation, &QTimer::timeout, this, &TForm1::TimerAutoRotationTimer);

    HttpCli1 = new THttpCli(this);
    HttpCli1->setObjectName(QStringLiteral("HttpCli1"));

    connect(ListView1, &QTreeWidget::itemClicked, this, [this] { ListView1Click(); });
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TForm1::ListView1Change);
    connect(RichEditC, &QTextEdit::textChanged, this, [this] { RichEditC->SetAutoUrlDetect(true); });

    for (QWidget* w : std::initializer_list<QWidget*>{lblUserName, RichEditC->viewport(), Image1,
                                                      lblStar, ListView1->viewport()})
        w->installEventFilter(this);
}

QAction* TForm1::AddAction(QMenu* menu, const char* name, const QString& caption,
                           void (TForm1::*handler)())
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

QAction* TForm1::AddSeparator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QString::fromLatin1(name));
    return separator;
}

void TForm1::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* login = bar->addMenu(QStringLiteral("ログイン(&L)"));
    login->setObjectName(QStringLiteral("mmLoginMenu"));
    mmLogin = login->menuAction();
    mmLogin->setObjectName(QStringLiteral("mmLogin"));
    mmLoginSet = AddAction(login, "mmLoginSet", QStringLiteral("ログイン設定...(&L)"), &TForm1::mmLoginSetClick);

    QMenu* view = bar->addMenu(QStringLiteral("表示モード(&V)"));
    view->setObjectName(QStringLiteral("mmViewMenu"));
    mmView = view->menuAction();
    mmView->setObjectName(QStringLiteral("mmView"));
    connect(view, &QMenu::aboutToShow, this, &TForm1::mmViewClick);
    mmAnonymous = AddAction(view, "mmAnonymous", QStringLiteral("名前を表示しない"), &TForm1::mmAnonymousClick);
    mmAnonymous->setCheckable(true);
    AddSeparator(view, "N1");
    mmAutoReload = AddAction(view, "mmAutoReload", QStringLiteral("自動更新タイマー"), &TForm1::mmAutoReloadClick);
    mmAutoReload->setCheckable(true);
    mmAutoRotation = AddAction(view, "mmAutoRotation", QStringLiteral("ローテーションタイマー"), &TForm1::mmAutoRotationClick);
    mmAutoRotation->setCheckable(true);
    AddSeparator(view, "N8");
    mmTopMost = AddAction(view, "mmTopMost", QStringLiteral("最前面に表示"), &TForm1::mmTopMostClick);
    mmTopMost->setCheckable(true);
    AddSeparator(view, "N2")->setVisible(false);
    mmSimpleMode = AddAction(view, "mmSimpleMode", QStringLiteral("通常リストモード(&L)"), &TForm1::mmSimpleModeClick);
    mmSimpleMode->setCheckable(true);
    mmSuperSimpleMode = AddAction(view, "mmSuperSimpleMode", QStringLiteral("コンパクトモード(&C)"), &TForm1::mmSuperSimpleModeClick);
    mmWidget = AddAction(view, "mmWidget", QStringLiteral("ガジェット/ウィジェットモード(&W)"), &TForm1::mmWidgetClick);
    // One radio group, but only the list item ever carries a tick.
    auto* modes = new QActionGroup(this);
    modes->setObjectName(QStringLiteral("mmModeGroup"));
    modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {mmSimpleMode, mmSuperSimpleMode, mmWidget})
        modes->addAction(a);
    AddSeparator(view, "N3");
    mmSetting = AddAction(view, "mmSetting", QStringLiteral("設定...(S)"), &TForm1::mmSettingClick);

    mmReload = bar->addAction(QStringLiteral("リロード(&R)"));
    mmReload->setObjectName(QStringLiteral("mmReload"));
    connect(mmReload, &QAction::triggered, this, &TForm1::mmReloadClick);
    mmMore = bar->addAction(QStringLiteral("もっと前を読む(&G)"));
    mmMore->setObjectName(QStringLiteral("mmMore"));
    connect(mmMore, &QAction::triggered, this, &TForm1::mmUpdateClick);
    mmTwitt = bar->addAction(QStringLiteral("つぶやく...(&T)"));
    mmTwitt->setObjectName(QStringLiteral("mmTwitt"));
    connect(mmTwitt, &QAction::triggered, this, &TForm1::mmTwittClick);
    mmVersion = bar->addAction(QStringLiteral("バージョン(&H)"));
    mmVersion->setObjectName(QStringLiteral("mmVersion"));
    connect(mmVersion, &QAction::triggered, this, &TForm1::mmVersionClick);

    pmMenu1 = new QMenu(this);
    pmMenu1->setObjectName(QStringLiteral("pmMenu1"));
    connect(pmMenu1, &QMenu::aboutToShow, this, &TForm1::pmMenu1Popup);
    pmLogin = AddAction(pmMenu1, "pmLogin", QStringLiteral("ログイン(&L)"), &TForm1::pmLoginClick);
    AddSeparator(pmMenu1, "N7");
    pmSimpleMode = AddAction(pmMenu1, "pmSimpleMode", QStringLiteral("通常リストモード(&L)"), &TForm1::pmSimpleModeClick);
    pmCompactMode = AddAction(pmMenu1, "pmCompactMode", QStringLiteral("コンパクトモード(&C)"), &TForm1::pmCompactModeClick);
    pmWidgetMode = AddAction(pmMenu1, "pmWidgetMode", QStringLiteral("ガジェット/ウィジェットモード(&W)"), &TForm1::pmWidgetModeClick);
    AddSeparator(pmMenu1, "N4");
    pmTwitt = AddAction(pmMenu1, "pmTwitt", QStringLiteral("つぶやく(&T)"), &TForm1::pmTwittClick);
    pmMore = AddAction(pmMenu1, "pmMore", QStringLiteral("もっと読む(&M)"), &TForm1::pmMoreClick);
    pmAutoReload = AddAction(pmMenu1, "pmAutoReload", QStringLiteral("自動取得タイマー(&R)"), &TForm1::pmAutoReloadClick);
    pmAutoReload->setCheckable(true);
    pmAutoReload->setChecked(true);
    pmAutoRotation = AddAction(pmMenu1, "pmAutoRotation", QStringLiteral("ローテーションタイマー"), &TForm1::pmAutoRotationClick);
    pmAutoRotation->setCheckable(true);
    AddSeparator(pmMenu1, "N6");
    pmSetting = AddAction(pmMenu1, "pmSetting", QStringLiteral("設定...(&S)"), &TForm1::pmSettingClick);
    pmReload = AddAction(pmMenu1, "pmReload", QStringLiteral("リロード"), &TForm1::pmReloadClick);
    pmVersion = AddAction(pmMenu1, "pmVersion", QStringLiteral("バージョン(&V)"), &TForm1::pmVersionClick);
    AddSeparator(pmMenu1, "N5");
    pmClose = AddAction(pmMenu1, "pmClose", QStringLiteral("閉じる(&C)"), &TForm1::pmCloseClick);
}

void TForm1::LayoutClient()
{
    QWidget* client = centralWidget();
    const int w = client->width();
    ShapeBack->setGeometry(0, 0, w, kStripHeight);
    const int lower = qMax(0, client->height() - kStripHeight);
    Splitter1->setGeometry(0, kStripHeight, w, lower);
    // The trace box keeps its 32 pixels until the user drags the splitter.
    if (!m_splitterMoved && lower > 0)
        Splitter1->setSizes({qMax(0, lower - kTraceHeight - Splitter1->handleWidth()), kTraceHeight});
}

void TForm1::FormCreate()
{
    LoadSettings(m_options.SettingsFile, m_state);
    m_state.ApiBase = ResolveApiBase(m_options.Arguments, m_state);

    // Timers run from the moment the window exists.
    TimerAutoReload->start();
    TimerAutoRotation->start();

    LayoutClient();
    RichEditC->SetAutoUrlDetect(true);

    // The frame's size is known only once the native window exists.
    create();
    move(m_state.WindowLeft, m_state.WindowTop);
    const QSize frame = frameGeometry().size() - size();
    resize(qMax(1, m_state.WindowWidth - frame.width()), qMax(1, m_state.WindowHeight - frame.height()));

    m_state.TimelineAddress = m_state.ApiBase + QStringLiteral("/statuses/friends_timeline.xml");

    lblStar->setText(QStringLiteral("お気に入り発言スター"));

    try {
        ReadTimeline(m_state.TimelineAddress);
        SelectFirstAndShow();
    } catch (const std::exception&) {
        // Start-up goes on; the status lines already tell what happened.
    }

    SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
    SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);

    SetDisplayMode(m_state.DisplayMode);
}

void TForm1::CreateSecondaryWindows()
{
    if (m_frmLogin)
        return;
    m_frmLogin = new TfrmLogin(m_state, this);
    m_frmTwitt = new TfrmTwitt(m_state, [this](const QString& text) { ShowStatus(text); }, this);
    m_frmVersion = new TfrmVersion(this);
    m_frmBlack = new TfrmBlack(this);
    m_frmBlack->hide();
    m_frmSettings = new TfrmSettings(m_state, TimerAutoReload, TimerAutoRotation, this);
}

// ---------------------------------------------------------------------------------------
// Status line and command lock

QString TForm1::StatusText() const
{
    return m_statusPanel->text();
}

void TForm1::ShowStatus(const QString& text)
{
    memoDisplay->appendPlainText(text);
    m_statusPanel->setText(text);
}

void TForm1::SetTimerEnabled(QTimer* timer, bool enabled)
{
    // A running countdown is not restarted.
    if (enabled && !timer->isActive())
        timer->start();
    else if (!enabled && timer->isActive())
        timer->stop();
}

void TForm1::EnableCommands(bool enable)
{
    SetTimerEnabled(TimerAutoReload, enable);
    SetTimerEnabled(TimerAutoRotation, enable);
    Image1->setEnabled(enable);
    ListView1->setEnabled(enable);
    for (QAction* a : {mmLogin, mmView, mmReload, mmMore, mmTwitt, mmVersion, pmLogin, pmTwitt,
                       pmMore, pmSimpleMode, pmCompactMode, pmWidgetMode, pmVersion, pmAutoReload,
                       pmReload, pmClose})
        a->setEnabled(enable);
}

// ---------------------------------------------------------------------------------------
// Timeline retrieval

void TForm1::ReadTimeline(const QString& address)
{
    if (m_state.AccountName.isEmpty() || m_state.Password.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brimlark"),
                        QStringLiteral("ユーザ名とパスワードが入力されていませんので、\n"
                                       "ログインボタンからご入力下さい"),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("MissingCredentialsBox"));
        box.exec();
        return;
    }

    ShowStatus(QStringLiteral("ロード中..."));
    // The read blocks this thread: paint the line now or the user never sees it.
    m_statusPanel->repaint();
    memoDisplay->viewport()->repaint();

    TBlockingHttpClient client;
    client.ReadTimeout = m_options.ReadTimeoutMs;
    client.TotalTimeout = m_options.TotalTimeoutMs;
    client.MaxBodySize = m_options.MaxBodySize;
    EnableCommands(false);
    struct Unlock {
        TForm1* form;
        ~Unlock() { form->EnableCommands(true); }
    } unlock{this};

    TXMLDocument document;
    client.Request().Username = m_state.AccountName.toUtf8();
    client.Request().Password = m_state.Password.toUtf8();
    client.Request().BasicAuthentication = true;
    try {
        const QByteArray body = client.FetchText(address.toUtf8());
        document.LoadFromText(body);
        qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("url:") + address;
        ShowStatus(QStringLiteral("ロード完了"));
    } catch (const EHttpProtocolError&) {
        ShowStatus(QStringLiteral("認証できませんでした"));
        return;
    }
    ShowStatus(QStringLiteral("Twitterで認証しました"));

    TXMLStatusesType* statuses = TimelineStatuses(document);
    const int count = statuses->Count();
    for (int i = 0; i < count; ++i) {
        TXMLStatusType* status = statuses->Get_status(i);
        auto* row = new QTreeWidgetItem(QStringList{status->Get_user()->Get_name(), status->Get_text(),
                                                    status->Get_favorited(), status->Get_id()});
        ListView1->addTopLevelItem(row);
    }
}

void TForm1::SelectFirstAndShow()
{
    if (ListView1->topLevelItemCount() == 0)
        return;
    SelectRow(0);
    ListView1Click();
}

void TForm1::Reload()
{
    ListView1->clear();
    ShowStatus(QStringLiteral("リロード中"));
    EnableCommands(false);
    try {
        for (int page = 1; page <= m_pageCounter + 1; ++page) {
            const QString address = page == 1
                ? m_state.TimelineAddress
                : m_state.TimelineAddress + QStringLiteral("?page=%1&twtr=true").arg(page);
            ReadTimeline(address);
        }
        if (ListView1->topLevelItemCount() > 0) {
            SelectFirstAndShow();
            ShowStatus(QStringLiteral("リロード完了"));
        }
    } catch (const std::exception&) {
        // The remaining pages are skipped; the status lines tell what happened.
    }
    EnableCommands(true);
}

void TForm1::SignIn()
{
    if (m_frmLogin)
        m_frmLogin->exec();
    try {
        // Emptied first, so signing in again never shows the first page twice.
        ListView1->clear();
        ReadTimeline(m_state.TimelineAddress);
        SelectFirstAndShow();
    } catch (const std::exception&) {
    }
}

void TForm1::ReadMore()
{
    ++m_pageCounter;
    try {
        ReadTimeline(m_state.TimelineAddress
                     + QStringLiteral("?page=%1&twtr=true").arg(m_pageCounter + 1));
    } catch (const std::exception& e) {
        ShowDefaultError(ErrorText(e));
    }
}

void TForm1::ShowDefaultError(const QString& message)
{
    QString text = message;
    if (!text.endsWith(u'.') && !text.endsWith(u'。'))
        text += u'.';
    QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("DefaultErrorBox"));
    box.exec();
}

void TForm1::mmLoginSetClick() { SignIn(); }
void TForm1::pmLoginClick() { SignIn(); }

void TForm1::mmReloadClick()
{
    EnableCommands(false);
    Reload();
    EnableCommands(true);
}

void TForm1::pmReloadClick() { Reload(); }
void TForm1::TimerAutoReloadTimer() { Reload(); }
void TForm1::mmUpdateClick() { ReadMore(); }
void TForm1::pmMoreClick() { ReadMore(); }

// ---------------------------------------------------------------------------------------
// List and detail pane

QTreeWidgetItem* TForm1::SelectedItem() const
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

int TForm1::SelectedIndex() const
{
    QTreeWidgetItem* item = SelectedItem();
    return item ? ListView1->indexOfTopLevelItem(item) : -1;
}

void TForm1::SelectRow(int row)
{
    // Selection only: the current index (and with it the scroll position) stays put.
    const QModelIndex index = ListView1->model()->index(row, 0);
    ListView1->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TForm1::ShowStar(bool gold)
{
    Image1->setPixmap(gold ? ImageStarOn->pixmap() : ImageStar->pixmap());
    Image1->repaint();
}

void TForm1::ShowSelected()
{
    QTreeWidgetItem* item = SelectedItem();
    if (ListView1->topLevelItemCount() == 0 || !item)
        return;
    const QString id = item->text(3);
    qCDebug(lcBrimlarkDebug).noquote() << QStringLiteral("strActiveStateId=") + id;
    RichEditC->setPlainText(item->text(1));
    lblUserName->setText(m_state.Anonymous ? QString() : item->text(0));
    m_shownId = id;
    m_shownFavorite = item->text(2) == QLatin1String("true");
    m_hasShown = true;
    ShowStar(m_shownFavorite);
}

void TForm1::ListView1Click()
{
    ShowSelected();
}

void TForm1::ListView1Change()
{
    const int count = ListView1->topLevelItemCount();
    const int index = SelectedIndex();
    // The last row is shown only by a click.
    if (count == 0 || index < 0 || index == count - 1)
        return;
    ShowSelected();
}

void TForm1::Image1Click()
{
    QTreeWidgetItem* item = SelectedItem();
    const QString id = item ? item->text(3) : QString();
    ShowStatus(QStringLiteral("status_id:") + id);
    if (!IsStatusId(id)) {
        ShowStatus(QStringLiteral("status idが取得できません"));
        return;
    }
    Favorite(id);
}

void TForm1::Favorite(const QString& statusId)
{
    if (statusId.isEmpty()) {
        ShowStatus(QStringLiteral("Favorite()strStatusIdがありません。"));
        return;
    }
    if (!IsStatusId(statusId)) {
        ShowStatus(QStringLiteral("status idが取得できません"));
        return;
    }
    auto failed = [this] {
        for (const QString& line : PostFailureLines(HttpCli1->StatusCode(), HttpCli1->ReasonPhrase()))
            ShowStatus(line);
    };
    // A second click while a request runs must not touch that request's body or settings.
    if (m_favoriteRunning) {
        failed();
        ShowStar(m_shownFavorite);
        return;
    }

    const QString url = m_state.ApiBase + QStringLiteral("/favorites/create/") + statusId
                        + QStringLiteral(".xml");
    qCDebug(lcBrimlarkDebug).noquote() << url;

    QBuffer body;
    body.setData("id=" + statusId.toLatin1());
    body.open(QIODevice::ReadOnly);
    PrepareServicePost(*HttpCli1, url.toUtf8(), &body, "text/html", m_state);

    bool accepted = false;
    m_favoriteRunning = true;
    try {
        HttpCli1->Post();
        const int status = HttpCli1->StatusCode();
        accepted = status >= 200 && status < 300;
    } catch (const std::exception&) {
        accepted = false;
    }
    m_favoriteRunning = false;
    HttpCli1->BodyStream = nullptr;

    if (accepted) {
        // Every row of this status (a reload may have moved it) now says favourite.
        for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = ListView1->topLevelItem(i);
            if (row->text(3) == statusId)
                row->setText(2, QStringLiteral("true"));
        }
        if (m_shownId == statusId)
            m_shownFavorite = true;
    } else {
        failed();
    }
    // The star follows the status the pane shows now, which the rotation may have changed.
    if (m_hasShown)
        ShowStar(m_shownFavorite);
}

void TForm1::mmAnonymousClick()
{
    const bool ticked = mmAnonymous->isChecked();
    if (ticked) {
        lblUserName->hide();
        ListView1->setColumnWidth(0, 0);
    } else {
        lblUserName->show();
        ListView1->setColumnWidth(0, kNameColumnWidth);
        if (QTreeWidgetItem* item = SelectedItem())
            lblUserName->setText(item->text(0));
    }
    m_state.Anonymous = ticked;
}

// ---------------------------------------------------------------------------------------
// Timers

void TForm1::TimerAutoRotationTimer()
{
    const int count = ListView1->topLevelItemCount();
    if (count == 0)
        return;
    const int i = SelectedIndex();
    SelectRow(i + 1 < count ? i + 1 : 0);
}

void TForm1::mmAutoReloadClick()
{
    const bool tick = mmAutoReload->isChecked();
    m_state.AutoReload = tick;
    SetTimerEnabled(TimerAutoReload, tick);
}

void TForm1::pmAutoReloadClick()
{
    const bool tick = pmAutoReload->isChecked();
    m_state.AutoReload = tick;
    SetTimerEnabled(TimerAutoReload, tick);
}

void TForm1::mmAutoRotationClick()
{
    const bool tick = mmAutoRotation->isChecked();
    m_state.AutoRotation = tick;
    SetTimerEnabled(TimerAutoRotation, tick);
    pmAutoRotation->setChecked(tick);
}

void TForm1::pmAutoRotationClick()
{
    const bool tick = pmAutoRotation->isChecked();
    m_state.AutoRotation = tick;
    SetTimerEnabled(TimerAutoRotation, tick);
    mmAutoRotation->setChecked(tick);
}

void TForm1::pmMenu1Popup()
{
    pmAutoReload->setChecked(TimerAutoReload->isActive());
    mmAutoReload->setChecked(TimerAutoReload->isActive());
    pmAutoRotation->setChecked(TimerAutoRotation->isActive());
    mmAutoRotation->setChecked(TimerAutoRotation->isActive());
}

void TForm1::mmViewClick()
{
    mmAutoReload->setChecked(m_state.AutoReload);
}

// ---------------------------------------------------------------------------------------
// Display modes

void TForm1::ApplyWindowFlags(Qt::WindowFlags flags)
{
    if (flags == windowFlags())
        return;
    // Changing the flags re-creates the native window, which hides it.
    const bool visible = isVisible();
    const QPoint position = pos();
    setWindowFlags(flags);
    move(position);
    if (visible)
        show();
}

void TForm1::StripColours(const QColor& background, const QColor& text)
{
    ShapeBack->SetBrushColor(background);
    SetColours(lblStar, background, text);
    SetColours(lblUserName, background, text);
}

void TForm1::SetDisplayMode(int mode)
{
    const QPoint noted = pos();
    const bool frameless = windowFlags().testFlag(Qt::FramelessWindowHint);
    switch (mode) {
    case 1: {
        m_state.DisplayMode = 1;
        if (frameless) {
            // The re-created framed window is not top-most.
            ApplyWindowFlags(windowFlags() & ~(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
        }
        lblStar->setText(QStringLiteral("お気に入りスター"));
        shapeWindow->show();
        menuBar()->show();
        SetColours(RichEditC, Qt::white, Qt::black);
        PageControl1->show();
        ListView1->show();
        memoDisplay->show();
        StatusBar1->show();
        Splitter1->show();
        const int frameHeight = frameGeometry().height() - height();
        resize(width(), kListOuterHeight - frameHeight);
        StripColours(Qt::white, Qt::black);
        setWindowTitle(kTitle);
        break;
    }
    case 2:
        m_state.DisplayMode = 2;
        lblStar->setText(QString());
        shapeWindow->hide();
        SetColours(RichEditC, Qt::white, Qt::black);
        menuBar()->hide();
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        resize(width(), kCompactClientHeight);
        setWindowTitle(kTitleMenuHint);
        StripColours(Qt::white, Qt::black);
        break;
    case 3:
        m_state.DisplayMode = 3;
        ApplyWindowFlags(windowFlags() | Qt::FramelessWindowHint);
        menuBar()->hide();
        shapeWindow->hide();
        resize(width(), kCompactClientHeight);
        SetColours(RichEditC, Qt::black, Qt::white);
        lblStar->setText(QString());
        PageControl1->hide();
        ListView1->hide();
        memoDisplay->hide();
        StatusBar1->hide();
        Splitter1->hide();
        setWindowTitle(kTitleMenuHint);
        StripColours(Qt::black, Qt::white);
        ApplyWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        move(noted);
        break;
    default:
        return;
    }
    // Links stay marked across a re-created window.
    RichEditC->SetAutoUrlDetect(true);
    LayoutClient();
}

void TForm1::mmTopMostClick()
{
    const bool ticked = mmTopMost->isChecked();
    ApplyWindowFlags(ticked ? windowFlags() | Qt::WindowStaysOnTopHint
                            : windowFlags() & ~Qt::WindowStaysOnTopHint);
}

void TForm1::mmSimpleModeClick()
{
    // Only toggles the list; the window stays in its mode.
    ListView1->setVisible(!mmSimpleMode->isChecked());
}

void TForm1::mmSuperSimpleModeClick() { SetDisplayMode(2); }
void TForm1::mmWidgetClick() { SetDisplayMode(3); }
void TForm1::pmSimpleModeClick() { SetDisplayMode(1); }
void TForm1::pmCompactModeClick() { SetDisplayMode(2); }
void TForm1::pmWidgetModeClick() { SetDisplayMode(3); }

// ---------------------------------------------------------------------------------------
// Dialog commands

void TForm1::ExecDialog(QDialog* dialog)
{
    if (dialog)
        dialog->exec();
}

void TForm1::ExecLockedDialog(QDialog* dialog)
{
    EnableCommands(false);
    try {
        ExecDialog(dialog);
    } catch (const std::exception&) {
        // Unlocked below whatever happened.
    }
    EnableCommands(true);
}

void TForm1::mmSettingClick() { ExecLockedDialog(m_frmSettings); }
void TForm1::pmSettingClick() { ExecLockedDialog(m_frmSettings); }
void TForm1::mmTwittClick() { ExecLockedDialog(m_frmTwitt); }
void TForm1::pmTwittClick() { ExecDialog(m_frmTwitt); }
void TForm1::mmVersionClick() { ExecDialog(m_frmVersion); }
void TForm1::pmVersionClick() { ExecDialog(m_frmVersion); }
void TForm1::pmCloseClick() { close(); }

// ---------------------------------------------------------------------------------------
// Window events

void TForm1::closeEvent(QCloseEvent* event)
{
    QString error;
    if (!SaveSettings(m_options.SettingsFile, m_state, frameGeometry(), &error)) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("情報"),
                        QStringLiteral("設定ファイルが読み込めません"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("SettingsErrorBox"));
        box.exec();
    }
    event->accept();
}

void TForm1::ShowPopup(const QPoint& globalPos)
{
    pmMenu1->popup(globalPos);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    ShowPopup(event->globalPos());
}

void TForm1::DragPress(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton
        && e->modifiers() == Qt::NoModifier)
        m_grabOffset = e->globalPosition().toPoint() - pos();
}

bool TForm1::DragMove(QMouseEvent* e)
{
    if (!LeftAlone(e))
        return false;
    const QPoint target = e->globalPosition().toPoint() - m_grabOffset;
    if (target.x() != x())
        move(target.x(), y());
    if (target.y() != y())
        move(x(), target.y());
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::ContextMenu) {
        // The popup belongs to every part of the strip and to the list.
        ShowPopup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QString twoLines = QStringLiteral("\n") + kRotationStopped;

    if (watched == lblUserName) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove && !DragMove(mouse)) {
            SetTimerEnabled(TimerAutoRotation, false);
            lblUserName->setToolTip(QStringLiteral("ユーザ") + twoLines);
        }
    } else if (watched == RichEditC->viewport()) {
        if (type == QEvent::MouseButtonPress) {
            DragPress(mouse);
        } else if (type == QEvent::MouseMove) {
            if (!DragMove(mouse)) {
                SetTimerEnabled(TimerAutoReload, m_state.AutoReload);
                SetTimerEnabled(TimerAutoRotation, m_state.AutoRotation);
            }
            RichEditC->SetAutoUrlDetect(true);
        }
    } else if (watched == Image1 || watched == lblStar) {
        if (type == QEvent::MouseMove) {
            SetTimerEnabled(TimerAutoReload, false);
            SetTimerEnabled(TimerAutoRotation, false);
            static_cast<QWidget*>(watched)->setToolTip(QStringLiteral("お気に入りに登録") + twoLines);
        } else if (watched == Image1 && type == QEvent::MouseButtonRelease
                   && mouse->button() == Qt::LeftButton
                   && Image1->rect().contains(mouse->position().toPoint())) {
            Image1Click();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
