// The main window's outer frame under a real X server and window manager: a start puts
// the frame where the last close left it, however often, and switching modes moves
// nothing. The frame is measured by the X tools, not by Qt.
#include "app/frmMain.h"
#include "settings/Settings.h"

#include "Desktop.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>


#include <cstdio>
#include <memory>
#include <ostream>

// Readable rectangles in assertion messages.
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}

namespace {

QString Run(const QString& program, const QStringList& args)
{
    return Desktop::Run(program, args);
}

// The client window's place from xwininfo, widened by the extents the window manager
// announces for its frame.
QRect OuterFrame(WId id)
{
    const QString hex = QStringLiteral("0x") + QString::number(quint64(id), 16);
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), hex});
    auto field = [&](const char* name) {
        const auto m = QRegularExpression(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)")).match(info);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    if (!info.contains(QLatin1String("IsViewable")))
        return {};
    const QString extents = Run(QStringLiteral("xprop"), {QStringLiteral("-id"), hex, QStringLiteral("_NET_FRAME_EXTENTS")});
    const auto m = QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)")).match(extents);
    if (!m.hasMatch())
        return {};
    const int left = m.captured(1).toInt(), right = m.captured(2).toInt();
    const int top = m.captured(3).toInt(), bottom = m.captured(4).toInt();
    return QRect(field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                 field("Width") + left + right, field("Height") + top + bottom);
}

// The frame once it has stopped changing for a good while: the window manager may be
// slow on a busy machine.
QRect SettledFrame(QWidget& w)
{
    QRect last;
    int same = 0;
    for (int i = 0; i < 80 && same < 3; ++i) {
        QTest::qWait(120);
        const QRect now = OuterFrame(w.windowHandle()->winId());
        same = now.isValid() && now == last ? same + 1 : 0;
        last = now;
    }
    return last;
}

class WindowFrame : public ::testing::Test {
protected:
    QString ini() const { return m_dir.filePath(QStringLiteral("brimlark.ini")); }
    void writeFrame(const QRect& frame, int mode)
    {
        TMainState s;
        LoadSettings(ini(), s);
        s.DisplayMode = mode;
        ASSERT_TRUE(SaveSettings(ini(), s, frame));
    }
    QRect storedFrame() const
    {
        TMainState s;
        LoadSettings(ini(), s);
        return {s.WindowLeft, s.WindowTop, s.WindowWidth, s.WindowHeight};
    }
    // Started as the program starts; an address that cannot be used keeps it off the network.
    std::unique_ptr<TForm1> start()
    {
        TForm1Options options;
        options.SettingsFile = ini();
        options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QStringLiteral("ftp://nowhere")};
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }
    QTemporaryDir m_dir;
};

TEST_F(WindowFrame, TenStartsAndClosesKeepTheFrameInPlace)
{
    const QRect frame(200, 150, 640, 509);  // not the list mode's own height
    writeFrame(frame, 1);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        auto form = start();
        ASSERT_EQ(SettledFrame(*form), frame);
        form->close();
        ASSERT_EQ(storedFrame(), frame);
    }
}

TEST_F(WindowFrame, SwitchingModesTenTimesMovesNothing)
{
    const QRect frame(260, 120, 700, 400);
    writeFrame(frame, 1);
    auto form = start();
    ASSERT_EQ(SettledFrame(*form), frame);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        form->SetDisplayMode(2);
        const QRect compact = SettledFrame(*form);
        ASSERT_EQ(compact.topLeft(), frame.topLeft());
        ASSERT_EQ(compact.width(), frame.width());
        form->SetDisplayMode(3);
        ASSERT_EQ(SettledFrame(*form).topLeft(), frame.topLeft());  // frameless: the client where the frame was
        form->SetDisplayMode(1);
        ASSERT_EQ(SettledFrame(*form), frame);
    }
    form->close();
    EXPECT_EQ(storedFrame(), frame);
}

TEST_F(WindowFrame, ACompactWindowComesBackAsItWasLeft)
{
    for (int mode : {2, 3}) {
        SCOPED_TRACE(mode);
        writeFrame(QRect(300, 200, 620, 400), 1);
        QRect left;
        {
            auto form = start();
            form->SetDisplayMode(mode);
            form->move(310, 220);
            left = SettledFrame(*form);
            form->close();
        }
        EXPECT_EQ(storedFrame(), left);
        for (int i = 0; i < 3; ++i) {
            auto form = start();
            EXPECT_EQ(SettledFrame(*form), left);
            form->close();
        }
        EXPECT_EQ(storedFrame(), left);
    }
}

// A frame saved on a monitor since removed comes back whole on the nearest screen.
TEST_F(WindowFrame, AFrameOffEveryScreenComesBackOnTheNearest)
{
    for (int mode : {1, 3}) {
        SCOPED_TRACE(mode);
        writeFrame(QRect(-2500, -900, 640, 400), mode);
        auto form = start();
        const QRect frame = SettledFrame(*form);
        EXPECT_TRUE(form->screen()->geometry().contains(frame));
        EXPECT_EQ(frame.width(), 640);
        form->close();
    }
}

// A size of nothing is never saved nor restored: a window closed before it was shown
// keeps the stored frame, and a stored size of nothing gives way to the default one.
TEST_F(WindowFrame, ASizeOfNothingIsNeitherSavedNorRestored)
{
    const QRect frame(220, 180, 650, 400);
    writeFrame(frame, 1);
    TForm1Options options;
    options.SettingsFile = ini();
    options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QStringLiteral("ftp://nowhere")};
    {
        TForm1 form(options);
        form.close();
    }
    EXPECT_EQ(storedFrame(), frame);

    writeFrame(QRect(220, 180, 1, 1), 2);
    auto form = start();
    EXPECT_EQ(SettledFrame(*form).width(), 600);
    form->close();
    EXPECT_EQ(storedFrame().width(), 600);
}

} // namespace

int main(int argc, char* argv[])
{
    Desktop desktop;
    if (!desktop.Start()) {
        std::fprintf(stderr, "Xvfb or openbox did not start\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
