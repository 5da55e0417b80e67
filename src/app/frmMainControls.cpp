#include "app/frmMain.h"

#include "app/RichEditC.h"
#include "app/Shape.h"
#include "app/StarPictures.h"
#include "app/StatusListDelegate.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "http/HttpCli.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"

#include <QAction>
#include <QActionGroup>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

using namespace form1;


// The main window's controls and menus, under the names the rest of the program and
// the tests know them by, and the placing of the strip above the list.

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
    Image1->setAccessibleName(tr("お気に入り"));
    Image1->setAccessibleDescription(tr("クリックでお気に入りに登録"));

    lblStar = new QLabel(client);
    lblStar->setObjectName(QStringLiteral("lblStar"));
    lblStar->setGeometry(15, 38, 79, 11);
    lblStar->setText(tr("お気に入りスター"));
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
    RichEditC->setAccessibleName(tr("つぶやき本文"));

    // The widget mode's count of unseen statuses, right of the star.
    lblUnseen = new QLabel(client);
    lblUnseen->setObjectName(QStringLiteral("lblUnseen"));
    lblUnseen->setFont(PixelFont(kPGothic, 10, true));
    lblUnseen->setAlignment(Qt::AlignCenter);
    lblUnseen->move(68, 51);
    lblUnseen->setAccessibleName(tr("未読の数"));
    lblUnseen->hide();

    // Its text and font come when it is first shown: a hidden mark loads no font.
    lblRepeated = new QLabel(client);
    lblRepeated->setObjectName(QStringLiteral("lblRepeated"));
    lblRepeated->setAccessibleName(tr("リピート済み"));
    lblRepeated->hide();

    // Stacking from the bottom: back, rounded frame, star, star caption, name, text.
    ShapeBack->lower();
    shapeWindow->raise();
    Image1->raise();
    lblStar->raise();
    lblUserName->raise();
    RichEditC->raise();
    lblUnseen->raise();

    Splitter1 = new QSplitter(Qt::Vertical, client);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(6);
    Splitter1->setChildrenCollapsible(false);

    PageControl1 = new QTabWidget(Splitter1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tabFriend = new QWidget;
    tabFriend->setObjectName(QStringLiteral("tabFriend"));
    PageControl1->addTab(tabFriend, tr("フレンドタイムライン"));

    // The list is a view of the timeline's typed rows: name and text; the flag, the id and
    // the marks stay in the model, outside the columns a screen reader presents.
    m_timeline = m_friends->Model();
    m_timeline->setObjectName(QStringLiteral("Timeline"));
    ListView1 = MakeStatusList(tabFriend, m_timeline, QStringLiteral("ListView1"));
    ListView1->setAccessibleName(tr("タイムライン"));

    // The list fills its page.
    auto* pageLayout = new QVBoxLayout(tabFriend);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(ListView1);
    BuildMentionsTab();

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
    TimerAutoReload->setInterval(m_options.ReloadIntervalMs);
    connect(TimerAutoReload, &QTimer::timeout, this, &TForm1::TimerAutoReloadTimer);
    TimerAutoRotation = new QTimer(this);
    TimerAutoRotation->setObjectName(QStringLiteral("TimerAutoRotation"));
    TimerAutoRotation->setInterval(5000);
    connect(TimerAutoRotation, &QTimer::timeout, this, &TForm1::TimerAutoRotationTimer);

    m_configReader = new TServerConfigReader(this);
    connect(m_configReader, &TServerConfigReader::Finished, this, &TForm1::ApplyServerConfig);
    m_seenTimer = new QTimer(this);
    m_seenTimer->setSingleShot(true);
    connect(m_seenTimer, &QTimer::timeout, this, &TForm1::CheckSeenClock);
    HttpCli1 = new THttpCli(this);
    HttpCli1->setObjectName(QStringLiteral("HttpCli1"));

    connect(RichEditC, &QTextEdit::textChanged, this, [this] { RichEditC->SetAutoUrlDetect(true); });

    for (QWidget* w : std::initializer_list<QWidget*>{lblUserName, RichEditC->viewport(), Image1, lblStar})
        w->installEventFilter(this);
}

QTreeView* TForm1::MakeStatusList(QWidget* page, TTimelineModel* model, const QString& name)
{
    auto* list = new QTreeView(page);
    list->setObjectName(name);
    list->setModel(model);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFont(PixelFont(kPGothic, 13));
    // Grid lines between the rows, unseen names bold, offline rows grey.
    list->setItemDelegate(new TStatusListDelegate(list));
    list->header()->setStretchLastSection(false);
    list->setColumnWidth(0, m_state.Anonymous ? 0 : kNameColumnWidth);
    list->setColumnWidth(1, 550);
    list->setEnabled(!m_commandsLocked);
    // Only the list in front drives the strip.
    connect(list, &QAbstractItemView::clicked, this, [this, list] {
        if (list == ActiveView())
            ListView1Click();
    });
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, list] {
        if (list == ActiveView())
            ListView1Change();
    });
    list->viewport()->installEventFilter(this);
    // Ctrl+R answers the shown status from the list.
    auto* replyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), list, nullptr, nullptr, Qt::WidgetShortcut);
    replyKey->setObjectName(QStringLiteral("ReplyShortcut"));
    connect(replyKey, &QShortcut::activated, this, &TForm1::mmReplyClick);
    return list;
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

    QMenu* login = bar->addMenu(tr("ログイン(&L)"));
    login->setObjectName(QStringLiteral("mmLoginMenu"));
    mmLogin = login->menuAction();
    mmLogin->setObjectName(QStringLiteral("mmLogin"));
    mmLoginSet = AddAction(login, "mmLoginSet", tr("ログイン設定...(&L)"), &TForm1::mmLoginSetClick);

    QMenu* view = bar->addMenu(tr("表示モード(&V)"));
    view->setObjectName(QStringLiteral("mmViewMenu"));
    mmView = view->menuAction();
    mmView->setObjectName(QStringLiteral("mmView"));
    connect(view, &QMenu::aboutToShow, this, &TForm1::mmViewClick);
    mmAnonymous = AddAction(view, "mmAnonymous", tr("名前を表示しない"), &TForm1::mmAnonymousClick);
    mmAnonymous->setCheckable(true);
    AddSeparator(view, "N1");
    mmAutoReload = AddAction(view, "mmAutoReload", tr("自動更新タイマー"), &TForm1::mmAutoReloadClick);
    mmAutoReload->setCheckable(true);
    mmAutoRotation = AddAction(view, "mmAutoRotation", tr("ローテーションタイマー"), &TForm1::mmAutoRotationClick);
    mmAutoRotation->setCheckable(true);
    mmNotify = AddAction(view, "mmNotify", tr("新着をデスクトップに通知"), &TForm1::mmNotifyClick);
    mmNotify->setCheckable(true);
    mmNotifyMentions = AddAction(view, "mmNotifyMentions", tr("メンションのみ"), &TForm1::mmNotifyMentionsClick);
    mmNotifyMentions->setCheckable(true);
    AddSeparator(view, "N8");
    mmTopMost = AddAction(view, "mmTopMost", tr("最前面に表示"), &TForm1::mmTopMostClick);
    mmTopMost->setCheckable(true);
    AddSeparator(view, "N2")->setVisible(false);
    mmSimpleMode = AddAction(view, "mmSimpleMode", tr("通常リストモード(&L)"), &TForm1::mmSimpleModeClick);
    mmSimpleMode->setCheckable(true);
    mmSuperSimpleMode = AddAction(view, "mmSuperSimpleMode", tr("コンパクトモード(&C)"), &TForm1::mmSuperSimpleModeClick);
    mmWidget = AddAction(view, "mmWidget", tr("ガジェット/ウィジェットモード(&W)"), &TForm1::mmWidgetClick);
    // One radio group, but only the list item ever carries a tick.
    auto* modes = new QActionGroup(this);
    modes->setObjectName(QStringLiteral("mmModeGroup"));
    modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {mmSimpleMode, mmSuperSimpleMode, mmWidget})
        modes->addAction(a);
    AddSeparator(view, "N3");
    mmSetting = AddAction(view, "mmSetting", tr("設定...(S)"), &TForm1::mmSettingClick);

    mmReload = bar->addAction(tr("リロード(&R)"));
    mmReload->setObjectName(QStringLiteral("mmReload"));
    // F5 as in every desktop program; Alt+R stays.
    mmReload->setShortcut(QKeySequence(Qt::Key_F5));
    connect(mmReload, &QAction::triggered, this, &TForm1::mmReloadClick);
    mmMore = bar->addAction(tr("もっと前を読む(&G)"));
    mmMore->setObjectName(QStringLiteral("mmMore"));
    connect(mmMore, &QAction::triggered, this, &TForm1::mmUpdateClick);
    mmTwitt = bar->addAction(tr("つぶやく...(&T)"));
    mmTwitt->setObjectName(QStringLiteral("mmTwitt"));
    connect(mmTwitt, &QAction::triggered, this, &TForm1::mmTwittClick);
    // The shown status: answer it, repeat it, open its page.
    QMenu* talk = bar->addMenu(tr("発言(&S)"));
    talk->menuAction()->setObjectName(QStringLiteral("mmStatus"));
    mmReply = AddAction(talk, "mmReply", tr("返信(&E)..."), &TForm1::mmReplyClick);
    mmRepeat = AddAction(talk, "mmRepeat", tr("リピート(&P)"), &TForm1::RepeatClick);
    mmBrowser = AddAction(talk, "mmBrowser", tr("ブラウザで開く(&B)"), &TForm1::OpenInBrowserClick);
    mmVersion = bar->addAction(tr("バージョン(&H)"));
    mmVersion->setObjectName(QStringLiteral("mmVersion"));
    connect(mmVersion, &QAction::triggered, this, &TForm1::mmVersionClick);

    pmMenu1 = new QMenu(this);
    pmMenu1->setObjectName(QStringLiteral("pmMenu1"));
    connect(pmMenu1, &QMenu::aboutToShow, this, &TForm1::pmMenu1Popup);
    pmLogin = AddAction(pmMenu1, "pmLogin", tr("ログイン(&L)"), &TForm1::pmLoginClick);
    AddSeparator(pmMenu1, "N7");
    pmSimpleMode = AddAction(pmMenu1, "pmSimpleMode", tr("通常リストモード(&L)"), &TForm1::pmSimpleModeClick);
    pmCompactMode = AddAction(pmMenu1, "pmCompactMode", tr("コンパクトモード(&C)"), &TForm1::pmCompactModeClick);
    pmWidgetMode = AddAction(pmMenu1, "pmWidgetMode", tr("ガジェット/ウィジェットモード(&W)"), &TForm1::pmWidgetModeClick);
    AddSeparator(pmMenu1, "N4");
    pmTwitt = AddAction(pmMenu1, "pmTwitt", tr("つぶやく(&T)"), &TForm1::pmTwittClick);
    pmReply = AddAction(pmMenu1, "pmReply", tr("返信(&E)..."), &TForm1::pmReplyClick);
    pmRepeat = AddAction(pmMenu1, "pmRepeat", tr("リピート(&P)"), &TForm1::RepeatClick);
    pmBrowser = AddAction(pmMenu1, "pmBrowser", tr("ブラウザで開く(&B)"), &TForm1::OpenInBrowserClick);
    pmMore = AddAction(pmMenu1, "pmMore", tr("もっと読む(&M)"), &TForm1::pmMoreClick);
    pmAutoReload = AddAction(pmMenu1, "pmAutoReload", tr("自動取得タイマー(&R)"), &TForm1::pmAutoReloadClick);
    pmAutoReload->setCheckable(true);
    pmAutoReload->setChecked(true);
    pmAutoRotation = AddAction(pmMenu1, "pmAutoRotation", tr("ローテーションタイマー"), &TForm1::pmAutoRotationClick);
    pmAutoRotation->setCheckable(true);
    pmNotify = AddAction(pmMenu1, "pmNotify", tr("新着をデスクトップに通知"), &TForm1::pmNotifyClick);
    pmNotify->setCheckable(true);
    pmNotifyMentions = AddAction(pmMenu1, "pmNotifyMentions", tr("メンションのみ"), &TForm1::pmNotifyMentionsClick);
    pmNotifyMentions->setCheckable(true);
    AddSeparator(pmMenu1, "N6");
    pmSetting = AddAction(pmMenu1, "pmSetting", tr("設定...(&S)"), &TForm1::pmSettingClick);
    pmReload = AddAction(pmMenu1, "pmReload", tr("リロード"), &TForm1::pmReloadClick);
    pmVersion = AddAction(pmMenu1, "pmVersion", tr("バージョン(&V)"), &TForm1::pmVersionClick);
    AddSeparator(pmMenu1, "N5");
    pmClose = AddAction(pmMenu1, "pmClose", tr("閉じる(&C)"), &TForm1::pmCloseClick);
    UpdateTalkItems();  // nothing shown yet
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
