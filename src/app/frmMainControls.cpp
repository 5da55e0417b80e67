#include "app/frmMain.h"

#include "app/StatusListDelegate.h"
#include "app/Strip.h"
#include "app/WindowFrame.h"
#include "app/frmMain_p.h"
#include "dialogs/DialogCommon.h"
#include "service/TalkBack.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

using namespace form1;


// The main window's controls, under the names the rest of the program and
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

    m_frame = new TWindowFrame(
        this, [this](int frameHeight) { return ModeClientHeight(frameHeight); }, [this] { destroy(); });
    connect(m_frame, &TWindowFrame::Exposed, this, [this] {
        // The first frame is painted as soon as this expose has been handled.
        if (!std::exchange(m_firstFrame, true))
            QTimer::singleShot(0, this, &TForm1::StartUpReadWhenReady);
    });
    m_strip = new TStrip(client);
    connect(m_strip, &TStrip::Hovered, this, &TForm1::StripHovered);
    connect(m_strip, &TStrip::StarClicked, this, &TForm1::Image1Click);
    connect(m_strip, &TStrip::MenuRequested, this, &TForm1::ShowPopup);

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
    m_talkBack = new TTalkBack(this);
    connect(m_talkBack, &TTalkBack::FavoriteEnded, this, &TForm1::FavoriteEnded);
    connect(m_talkBack, &TTalkBack::RepeatEnded, this, &TForm1::RepeatEnded);

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
    // The header is hidden: a minimum of its own would be measured from the widest glyph
    // of the font (loading its fallbacks at start-up), and would widen the hidden name
    // column of the anonymous mode.
    list->header()->setMinimumSectionSize(0);
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
    connect(replyKey, &QShortcut::activated, this, [this] { OpenReply(true); });
    return list;
}

void TForm1::LayoutClient()
{
    QWidget* client = centralWidget();
    const int w = client->width();
    m_strip->setGeometry(0, 0, w, kStripHeight);
    const int lower = qMax(0, client->height() - kStripHeight);
    Splitter1->setGeometry(0, kStripHeight, w, lower);
    // The trace box keeps its 32 pixels until the user drags the splitter.
    if (!m_splitterMoved && lower > 0)
        Splitter1->setSizes({qMax(0, lower - kTraceHeight - Splitter1->handleWidth()), kTraceHeight});
}
