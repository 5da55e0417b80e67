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

struct ClickCase {
    const char* name;
    QString text;
    QStringList links;  // as the text writes them
};

void PrintTo(const ClickCase& c, std::ostream* os) { *os << c.name; }

class LinkClickAlong : public LinkClickTest, public ::testing::WithParamInterface<ClickCase> {};

// A left click in the middle of each character as drawn opens the link drawn there, once,
// and a plain character opens nothing.
TEST_P(LinkClickAlong, OpensExactlyTheLinkDrawnUnderThePointer)
{
    setText(GetParam().text);
    const QString text = box.toPlainText();
    QStringList expected, opened;
    for (int p = 0; p < text.size(); p += text.at(p).isHighSurrogate() ? 2 : 1) {
        QTextCursor from(box.document()), to(box.document());
        from.setPosition(p);
        to.setPosition(p + (text.at(p).isHighSurrogate() ? 2 : 1));
        const QRect a = box.cursorRect(from), b = box.cursorRect(to);
        if (a.top() != b.top() || b.left() - a.left() < 2)
            continue;  // the end of a wrapped line, or inside a joined emoji
        QString link;
        for (const QString& l : GetParam().links) {
            const int start = int(text.indexOf(l));
            if (p >= start && p < start + l.size())
                link = LinkTarget(l).toString();
        }
        sink.opened.clear();
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint((a.left() + b.left()) / 2, a.center().y()));
        expected << QString::number(p) + u' ' + link;
        opened << QString::number(p) + u' ' + QStringList(QUrl::toStringList(sink.opened)).join(u'|');
    }
    EXPECT_EQ(opened, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LinkClickAlong,
    ::testing::Values(
        ClickCase{"ampersands", "www.example.org/x?a=1&b=2&c=3&d=4 tail www.example.org/d",
                  {"www.example.org/x?a=1&b=2&c=3&d=4", "www.example.org/d"}},
        ClickCase{"entities", QStringLiteral("&amp; &lt;b&gt; \"引用\" http://example.com/a?b=1&amp;c tail https://example.com/d"),
                  {"http://example.com/a?b=1&amp;c", "https://example.com/d"}},
        ClickCase{"japanese", QStringLiteral("日本語のテキストです。見てhttp://example.com/a?b=1です tail www.example.jp/x"),
                  {"http://example.com/a?b=1", "www.example.jp/x"}},
        ClickCase{"emoji", QStringLiteral("絵文字😀🎉👍🏽 www.example.org/x?a=1&b=2 tail 👨‍👩‍👧 www.example.org/d 😀 end"),
                  {"www.example.org/x?a=1&b=2", "www.example.org/d"}},
        ClickCase{"other_schemes", "file:///etc/passwd javascript:alert(1)", {}},
        ClickCase{"wrapped", QStringLiteral("折り返し ").repeated(10) + "http://example.com/" + QString(60, u'a') + " tail",
                  {"http://example.com/" + QString(60, u'a')}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkClickTest, PressMoveAndOtherButtonsOpenNothing)
{
    setText(QStringLiteral("text http://example.com/x more words here"));
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, at("example"));
    QTest::mouseMove(box.viewport(), at("example") + QPoint(4, 0));
    EXPECT_TRUE(sink.opened.isEmpty());
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, at("words"));  // released off the link
    QTest::mouseClick(box.viewport(), Qt::RightButton, {}, at("example"));
    QTest::mouseClick(box.viewport(), Qt::MiddleButton, {}, at("example"));
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
