#include "app/frmMain.h"

#include "app/FirstFrame.h"
#include "app/SeenClock.h"
#include "app/ShownStatus.h"
#include "app/StatusLine.h"
#include "app/StatusLists.h"
#include "app/Strip.h"
#include "app/WindowFrame.h"
#include "app/WindowTimers.h"
#include "dialogs/DialogCommon.h"
#include "service/TimelineModel.h"
#include "service/TimelineReader.h"

#include <QLabel>
#include <QSplitter>
#include <QTimer>

namespace {

constexpr int kTraceHeight = 32;

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

// The main window's parts and how they are wired, and the placing of the strip above the
// lists and the trace.

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
    m_firstFrame = new TFirstFrame(this, m_frame);
    m_firstFrame->Then([this] { m_copy->SaveWhenChanged(); });
    m_strip = new TStrip(client);
    connect(m_strip, &TStrip::Hovered, this, [this](TStrip::TPart part) { m_timers->Hovered(part, m_state); });
    connect(m_strip, &TStrip::StarClicked, this, &TForm1::Image1Click);
    connect(m_strip, &TStrip::MenuRequested, this, &TForm1::ShowPopup);

    Splitter1 = new QSplitter(Qt::Vertical, client);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(6);
    Splitter1->setChildrenCollapsible(false);

    m_timeline = m_friends->Model();
    m_lists = new TStatusLists(Splitter1, m_friends, m_mentionsFeed, this, m_state.Anonymous);
    connect(m_lists, &TStatusLists::Clicked, this, &TForm1::ListView1Click);
    connect(m_lists, &TStatusLists::SelectionChanged, this, &TForm1::ListView1Change);
    connect(m_lists, &TStatusLists::FrontChanged, this, &TForm1::ActiveTabChanged);
    connect(m_lists, &TStatusLists::ReplyAsked, this, [this] { OpenReply(true); });

    m_statusLine = new TStatusLine(this, Splitter1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    connect(Splitter1, &QSplitter::splitterMoved, this, [this] { m_splitterMoved = true; });

    m_timers = new TWindowTimers(this, m_options.ReloadIntervalMs);
    connect(m_timers->Reload(), &QTimer::timeout, this, &TForm1::TimerAutoReloadTimer);
    connect(m_timers->Rotation(), &QTimer::timeout, this, &TForm1::TimerAutoRotationTimer);

    m_configReader = new TServerConfigReader(this);
    connect(m_configReader, &TServerConfigReader::Finished, this, &TForm1::ApplyServerConfig);
    m_seenClock = new TSeenClock(this, m_friends->Seen(), m_timers->Rotation(),
                                 [this] { return m_shownStatus->Status() ? m_shownStatus->Status()->Id : QString(); });
}

void TForm1::LayoutClient()
{
    QWidget* client = centralWidget();
    const int w = client->width();
    m_strip->setGeometry(0, 0, w, TStrip::kHeight);
    const int lower = qMax(0, client->height() - TStrip::kHeight);
    Splitter1->setGeometry(0, TStrip::kHeight, w, lower);
    // The trace box keeps its 32 pixels until the user drags the splitter.
    if (!m_splitterMoved && lower > 0)
        Splitter1->setSizes({qMax(0, lower - kTraceHeight - Splitter1->handleWidth()), kTraceHeight});
}
