// Web addresses in the status text: which text counts as an address, what is opened,
// and which mouse actions open it.
#include "FormHarness.h"
#include "app/LinkDetect.h"
#include "app/RichEditC.h"
#include "ScriptedServer.h"

#include <QDesktopServices>
#include <QTest>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QMenu>

using namespace harness;

namespace {

// --- recognition ------------------------------------------------------------------------

struct LinkCase {
    const char* name;
    QString text;
    QStringList links;
};

class FindLinksTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(FindLinksTest, FindsExactlyTheAddresses)
{
    QStringList found;
    const QString text = GetParam().text;
    for (const TLinkRange& link : FindLinks(text)) {
        EXPECT_EQ(text.mid(link.Start, link.Length), link.Text);
        found << link.Text;
    }
    EXPECT_EQ(found, GetParam().links);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindLinksTest,
    ::testing::Values(
        LinkCase{"plain", "see http://example.com/a?b=1&c=2#top now", {"http://example.com/a?b=1&c=2#top"}},
        LinkCase{"https", "https://example.com", {"https://example.com"}},
        LinkCase{"www", "go to www.example.com/x today", {"www.example.com/x"}},
        LinkCase{"upper case scheme", "HTTP://EXAMPLE.COM/", {"HTTP://EXAMPLE.COM/"}},
        LinkCase{"japanese after", QStringLiteral("http://example.com/pathです"), {"http://example.com/path"}},
        LinkCase{"japanese before", QStringLiteral("見てhttp://example.com"), {"http://example.com"}},
        LinkCase{"full-width space", QStringLiteral("http://a.jp/x\u3000次"), {"http://a.jp/x"}},
        LinkCase{"closing bracket", "(see http://example.com/a)", {"http://example.com/a"}},
        LinkCase{"balanced brackets", "http://en.example.org/wiki/Foo_(bar)", {"http://en.example.org/wiki/Foo_(bar)"}},
        LinkCase{"japanese brackets", QStringLiteral("「http://example.com/」"), {"http://example.com/"}},
        LinkCase{"quotes", "\"http://example.com/q\" and 'http://example.com/r'",
                 {"http://example.com/q", "http://example.com/r"}},
        LinkCase{"sentence end", "Read http://example.com/a. Then http://example.com/b, ok!",
                 {"http://example.com/a", "http://example.com/b"}},
        LinkCase{"angle brackets", "<http://example.com/x>", {"http://example.com/x"}},
        LinkCase{"two in a row", "http://a.com http://b.com", {"http://a.com", "http://b.com"}},
        LinkCase{"prefix alone", "http:// and www. alone", {}},
        LinkCase{"glued to a word", "xhttp://a.com awww.b.com", {}},
        LinkCase{"other schemes", "file:///etc/passwd javascript:alert(1) ftp://a.com", {}},
        LinkCase{"no text", "", {}}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.name);
        name.replace(u' ', u'_').replace(u'-', u'_');
        return name.toStdString();
    });

TEST(LinkTarget, OpensOnlyHttpAndHttps)
{
    EXPECT_EQ(LinkTarget("http://example.com/a?b=1").toString(), QStringLiteral("http://example.com/a?b=1"));
    EXPECT_EQ(LinkTarget("https://example.com").toString(), QStringLiteral("https://example.com"));
    EXPECT_EQ(LinkTarget("www.example.com/x").toString(), QStringLiteral("http://www.example.com/x"));
    EXPECT_FALSE(LinkTarget("file:///etc/passwd").isValid());
    EXPECT_FALSE(LinkTarget("javascript:alert(1)").isValid());
    EXPECT_FALSE(LinkTarget("http://").isValid());
    EXPECT_FALSE(LinkTarget("http://exa mple.com").isValid());
}

// --- clicking ---------------------------------------------------------------------------

class UrlSink : public QObject {
    Q_OBJECT
public:
    UrlSink()
    {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlSink() override
    {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

// Centre of character `pos` of the box's text, in viewport coordinates.
QPoint CharPoint(QTextEdit* box, int pos)
{
    QTextCursor c(box->document());
    c.setPosition(pos);
    const QRect r = box->cursorRect(c);
    return QPoint(r.left() + 3, r.center().y());
}

class LinkClickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.setGeometry(0, 0, 514, 63);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    }
    void setText(const QString& text) { box.setPlainText(text); }
    QPoint at(const QString& needle) { return CharPoint(&box, box.toPlainText().indexOf(needle) + 2); }

    TRichEditC box;
    UrlSink sink;
};

TEST_F(LinkClickTest, LeftReleaseOnALinkOpensExactlyItsText)
{
    setText(QStringLiteral("見て http://example.com/a?b=1 です"));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("example"));
    ASSERT_EQ(sink.opened.size(), 1);
    EXPECT_EQ(sink.opened[0].toString(), QStringLiteral("http://example.com/a?b=1"));
}

TEST_F(LinkClickTest, WwwAddressOpensAsHttp)
{
    setText(QStringLiteral("www.example.org/page"));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("example"));
    ASSERT_EQ(sink.opened.size(), 1);
    EXPECT_EQ(sink.opened[0].toString(), QStringLiteral("http://www.example.org/page"));
}

TEST_F(LinkClickTest, PressMoveRightClickAndPlainTextOpenNothing)
{
    setText(QStringLiteral("text http://example.com/x more words here"));
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at("example"));
    QTest::mouseMove(box.viewport(), at("example") + QPoint(4, 0));
    EXPECT_TRUE(sink.opened.isEmpty());
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, at("words"));  // released off the link
    QTest::mouseClick(box.viewport(), Qt::RightButton, {}, at("example"));
    QTest::mouseClick(box.viewport(), Qt::MiddleButton, {}, at("example"));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("more"));
    EXPECT_TRUE(sink.opened.isEmpty());
}

TEST_F(LinkClickTest, OtherSchemesAreNeverOpened)
{
    setText(QStringLiteral("file:///etc/passwd javascript:alert(1)"));
    EXPECT_TRUE(box.Links().isEmpty());
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("etc"));
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("alert"));
    EXPECT_TRUE(sink.opened.isEmpty());
}

TEST_F(LinkClickTest, UserSelectionSurvivesALinkClick)
{
    setText(QStringLiteral("keep this selected http://example.com/x"));
    QTextCursor selection(box.document());
    selection.setPosition(5);
    selection.setPosition(9, QTextCursor::KeepAnchor);
    box.setTextCursor(selection);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("example"));
    EXPECT_EQ(sink.opened.size(), 1);
    EXPECT_EQ(box.textCursor().selectionStart(), 5);
    EXPECT_EQ(box.textCursor().selectionEnd(), 9);
    EXPECT_EQ(box.textCursor().selectedText(), QStringLiteral("this"));
}

TEST_F(LinkClickTest, EveryNewTextIsMarkedAgain)
{
    setText(QStringLiteral("http://one.example/"));
    EXPECT_EQ(box.Links().size(), 1);
    setText(QStringLiteral("nothing here"));
    EXPECT_TRUE(box.Links().isEmpty());
    EXPECT_TRUE(box.anchorAt(CharPoint(&box, 2)).isEmpty());
    setText(QStringLiteral("http://two.example/ and https://three.example/"));
    EXPECT_EQ(box.Links().size(), 2);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, at("three"));
    ASSERT_EQ(sink.opened.size(), 1);
    EXPECT_EQ(sink.opened[0].toString(), QStringLiteral("https://three.example/"));
}

// --- in the main window -----------------------------------------------------------------

class WindowLinkTest : public FormTest {
protected:
    ScriptedServer server;
    UrlSink sink;
};

TEST_F(WindowLinkTest, LinksWorkAfterListWidgetListAndRightClickOpensThePopup)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(
        Ok(TimelineXml({{"a", QStringLiteral("見て http://example.com/news です"), "false", "1"},
                        {"b", QStringLiteral("plain"), "false", "2"}}))));
    auto form = makeForm(server.baseUrl());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    auto* box = child<TRichEditC>(*form, "RichEditC");
    auto at = [&] { return CharPoint(box, box->toPlainText().indexOf("example") + 2); };

    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, at());
    form->SetDisplayMode(3);
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, at());
    form->SetDisplayMode(1);
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, at());
    ASSERT_EQ(sink.opened.size(), 3);
    for (const QUrl& url : sink.opened)
        EXPECT_EQ(url.toString(), QStringLiteral("http://example.com/news"));

    QContextMenuEvent e(QContextMenuEvent::Mouse, at(), box->viewport()->mapToGlobal(at()));
    QApplication::sendEvent(box->viewport(), &e);
    EXPECT_TRUE(child<QMenu>(*form, "pmMenu1")->isVisible());
    EXPECT_EQ(sink.opened.size(), 3);
}

TEST_F(WindowLinkTest, DraggingTheWindowByALinkOpensNothing)
{
    writeCredentials();
    server.addConnection(ScriptedServer::reply(Ok(TimelineXml({{"a", QStringLiteral("http://example.com/drag"), "false", "1"}}))));
    auto form = makeForm(server.baseUrl());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->move(100, 100);
    auto* box = child<TRichEditC>(*form, "RichEditC");
    const QPoint local = CharPoint(box, 9);
    const QPoint global = box->viewport()->mapToGlobal(local);
    auto send = [&](QEvent::Type type, QPoint g, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(local), QPointF(g), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(box->viewport(), &e);
    };
    send(QEvent::MouseButtonPress, global, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, global + QPoint(60, 30), Qt::NoButton, Qt::LeftButton);
    // The window followed the cursor, so the release is over the same link.
    EXPECT_EQ(form->pos(), QPoint(160, 130));
    send(QEvent::MouseButtonRelease, global + QPoint(60, 30), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(sink.opened.isEmpty());
    // A plain click still opens it.
    send(QEvent::MouseButtonPress, global, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, global, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(sink.opened.size(), 1);
}

} // namespace

#include "test_links.moc"
