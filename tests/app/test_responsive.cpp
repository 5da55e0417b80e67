// The window during slow reads and posts: it keeps painting and rotating, can be closed at
// once, appears before a slow start-up read ends, and backs its automatic reload off after
// failures.
#include "FormHarness.h"
#include "ScriptedServer.h"

#include "service/TimelineReader.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>

using namespace harness;
using Step = ScriptedServer::Step;

namespace {

// Paint events of one widget, with the time of each.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget* w) { w->installEventFilter(this); m_clock.start(); }
    qint64 longestGapMs(qint64 fromMs, qint64 toMs) const
    {
        qint64 last = fromMs, longest = 0;
        for (qint64 t : m_times) {
            if (t < fromMs || t > toMs)
                continue;
            longest = std::max(longest, t - last);
            last = t;
        }
        return std::max(longest, toMs - last);
    }
    qint64 nowMs() const { return m_clock.elapsed(); }

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            m_times.push_back(m_clock.elapsed());
        return false;
    }

private:
    QElapsedTimer m_clock;
    std::vector<qint64> m_times;
};

class Responsive : public FormTest {
protected:
    void SetUp() override { writeCredentials(); }
    std::unique_ptr<TForm1> makeForm(const QByteArray& api)
    {
        TForm1Options options;
        options.ReadMentions = false;  // a scripted server answers the timeline only
        options.ReadServerConfig = false;
        options.SettingsFile = iniPath();
        options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(api)};
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        waitIdle(*form);
        return form;
    }
    ScriptedServer server;
};

} // namespace

TEST_F(Responsive, WindowPaintsWhileAReadTrickles)
{
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    // About 1.2 s of reply, a byte every 4 ms.
    const QByteArray reply = Ok(TimelineXml({{"a", QString(120, u'x'), "false", "1"}}));
    server.addConnection({Step::readRequest(), Step::trickle(reply, 4), Step::close()});

    PaintClock paints(form.get());
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, form.get(), [&] { form->update(); });
    repaint.start(20);
    const qint64 start = paints.nowMs();
    trigger(*form, "mmReload");
    const qint64 end = paints.nowMs();

    EXPECT_GT(end - start, 800);  // the read really took its time
    EXPECT_LT(paints.longestGapMs(start, end), 200);
    EXPECT_EQ(column(*form, 3), QStringList{"1"});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the busy cursor is gone
}

TEST_F(Responsive, CommandsStayLockedAndASecondReadWaitsItsTurn)
{
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    server.addConnection({Step::readRequest(), Step::delay(400), Step::send(Ok(TimelineXml(ThreeRows()))), Step::close()});
    bool lockedDuringRead = false;
    bool busyCursor = false;
    QTimer::singleShot(150, form.get(), [&] {
        lockedDuringRead = !action(*form, "mmReload")->isEnabled() && !list(*form)->isEnabled();
        busyCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        form->Reload();  // the timer or a stray command: refused while the read runs
        form->TimerAutoReloadTimer();
        waitIdle(*form);
    });
    trigger(*form, "mmReload");
    EXPECT_TRUE(lockedDuringRead);
    EXPECT_TRUE(busyCursor);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(column(*form, 3), (QStringList{"301", "302", "303"}));
}

TEST_F(Responsive, ClosingDuringAReadEndsItAtOnce)
{
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    server.addConnection({Step::readRequest(), Step::delay(3000), Step::send(Ok(TimelineXml({}))), Step::close()});
    QTimer::singleShot(100, form.get(), [&] { form->close(); });
    QElapsedTimer clock;
    clock.start();
    trigger(*form, "mmReload");
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(form->IsClosing());
    // Nothing more is read once closed; the read was called off, and its thread ends
    // within the second that closing waits for it, long before its server answers.
    trigger(*form, "mmMore");
    EXPECT_EQ(server.connectionCount(), 2);
    WaitUntil([&] { return TTimelineReader::Running() == 0; }, 1000);
    EXPECT_EQ(TTimelineReader::Running(), 0);
    QTest::qWait(50);
    EXPECT_EQ(rowCount(*form), 0);
}

TEST_F(Responsive, SlowStartUpShowsTheWindowFirst)
{
    server.addConnection({Step::readRequest(), Step::delay(1200), Step::send(Ok(TimelineXml(ThreeRows()))), Step::close()});
    bool shownEarly = false;
    QString lineWhileShown;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<TForm1*>(w); form && form->isVisible() && !shownEarly) {
                shownEarly = true;
                lineWhileShown = form->StatusText();
            }
        }
    });
    probe.start(50);
    QElapsedTimer clock;
    clock.start();
    auto form = makeForm(server.baseUrl());
    EXPECT_GT(clock.elapsed(), 1100);
    EXPECT_TRUE(shownEarly);
    EXPECT_EQ(lineWhileShown, QStringLiteral("ロード中..."));
    EXPECT_EQ(column(*form, 3), (QStringList{"301", "302", "303"}));
    EXPECT_EQ(detailText(*form), QStringLiteral("最初のつぶやき"));
}

// A favourite to a slow server does not hold the window: the strip rotates meanwhile and
// the commands stay open; a repeat asked for in the meantime is refused with the running
// request's lines and sends nothing; then the favourite's outcome arrives.
TEST_F(Responsive, WindowGoesOnWhileAFavouriteWaitsForItsServer)
{
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
    auto form = makeForm(server.baseUrl());
    form->show();
    server.addConnection({Step::readRequest(), Step::delay(1000), Step::send(Reply(200, "OK", "<status/>")), Step::close()});
    QTimer* rotation = timer(*form, "TimerAutoRotation");
    QStringList shown;
    QObject::connect(rotation, &QTimer::timeout, form.get(), [&] { shown << detailText(*form); });
    const qsizetype before = trace(*form).size();

    QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
    rotation->start(100);
    QTest::qWait(300);
    EXPECT_TRUE(action(*form, "mmReload")->isEnabled());
    m_boxes.answer = QMessageBox::Yes;
    action(*form, "mmRepeat")->trigger();
    ASSERT_TRUE(waitForPost(*form));

    const qsizetype ticks = shown.size();
    shown.removeDuplicates();
    EXPECT_GE(ticks, 5);
    EXPECT_GE(shown.size(), 2);  // the strip moved on while the request ran
    EXPECT_EQ(trace(*form).mid(before), QStringList{"status_id:301"});
    EXPECT_EQ(column(*form, 2).first(), QStringLiteral("true"));
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_TRUE(server.request(1).startsWith("POST /favorites/create/301.xml "));
}

// Closing the window while a favourite or a repeat waits for a server that never answers
// calls the request off at once (the server sees its socket close), adds no status line,
// and nothing reaches the window once it is gone.
TEST_F(Responsive, ClosingDuringAHangingFavouriteOrRepeatCallsItOff)
{
    for (const bool favourite : {true, false}) {
        SCOPED_TRACE(favourite ? "favourite" : "repeat");
        ScriptedServer hanging;
        hanging.addConnection(ScriptedServer::reply(Ok(TimelineXml(ThreeRows()))));
        hanging.addConnection({Step::readRequest(), Step::waitForClose(20000)});
        auto form = makeForm(hanging.baseUrl());
        form->show();
        m_boxes.answer = QMessageBox::Yes;
        if (favourite)
            QTest::mouseClick(child<QLabel>(*form, "Image1"), Qt::LeftButton);
        else
            action(*form, "mmRepeat")->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !hanging.request(1).isEmpty(); }, 5000));
        const QStringList lines = trace(*form);

        QElapsedTimer clock;
        clock.start();
        form->close();
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(hanging.waitForFinished(2, 2000)) << "the request's socket is still open";
        EXPECT_EQ(trace(*form), lines);
        form.reset();
        QTest::qWait(100);
    }
}
