// A status's HTML as text, over the real HTML parser: a table of what servers send.
#include "xml/HtmlText.h"

#include <gtest/gtest.h>

namespace {

struct THtmlCase {
    const char* name;
    const char* html;
    const char* text;
};

const THtmlCase kCases[] = {
    {"plain words", "no markup  here", "no markup here"},
    {"paragraphs and breaks", "<p>one<br />two</p><p>three</p>", "one\ntwo\n\nthree"},
    {"source breaks are spaces", "<p>a\n b</p>\n<p>c</p>", "a b\n\nc"},
    {"shortened link is its href",
     "<p>see <a href=\"https://example.com/a/very/long/path?x=1&amp;y=2\" rel=\"nofollow noopener\">"
     "<span class=\"invisible\">https://</span><span class=\"ellipsis\">example.com/a/very/lo</span>"
     "<span class=\"invisible\">ng/path?x=1&amp;y=2</span></a> now</p>",
     "see https://example.com/a/very/long/path?x=1&y=2 now"},
    {"link cut with an ellipsis", "<a href=\"https://ex.org/abcdef\">ex.org/abc\u2026</a>", "https://ex.org/abcdef"},
    {"labelled link keeps both", "<a href=\"https://ex.org/p\">the page</a>", "the page (https://ex.org/p)"},
    {"script address is not shown", "<a href=\"javascript:alert(1)\">click</a>", "click"},
    {"mention", "<p><span class=\"h-card\"><a href=\"https://m.example/@bob\" class=\"u-url mention\">@<span>bob</span></a>"
                "</span> hi</p>",
     "@bob hi"},
    {"hashtag", "<a href=\"https://m.example/tags/cats\" class=\"mention hashtag\" rel=\"tag\">#<span>cats</span></a>",
     "#cats"},
    {"entities", "<p>&lt;b&gt; &amp; &quot;q&quot; &#x1F600; &eacute;</p>", "<b> & \"q\" \U0001F600 \u00e9"},
    {"shortcode stays", "<p>hello :blobcat: world</p>", "hello :blobcat: world"},
    {"emoji image gives its alt", "<p>hi <img alt=\":blob:\" src=\"https://e/x.png\"></p>", "hi :blob:"},
    {"script and style are not text", "<p>a<script>evil()</script><style>p{}</style>b</p>", "ab"},
    {"list items on lines", "<ul><li>one</li><li>two</li></ul>", "one\n\ntwo"},
    {"preformatted keeps spaces", "<pre>a  b\nc</pre>", "a  b\nc"},
    {"broken markup", "<p>open <b>bold <a href=\"https://x.org/\">https://x.org/", "open bold https://x.org/"},
};

} // namespace

TEST(StatusHtmlText, ReadsWhatServersSend)
{
    for (const THtmlCase& c : kCases)
        EXPECT_EQ(StatusHtmlText(QString::fromUtf8(c.html)), QString::fromUtf8(c.text)) << c.name;
}

// An entity from outside, deep nesting and an overlong status end in some text, never in
// a file read, a crash or an unbounded cost.
TEST(StatusHtmlText, HostileInputIsBounded)
{
    const QString outside = StatusHtmlText(QStringLiteral("<!DOCTYPE p [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><p>&e;</p>"));
    EXPECT_TRUE(outside.endsWith(QLatin1String("&e;"))) << outside.toStdString();
    EXPECT_FALSE(outside.contains(QLatin1String("root:")));
    const QString deep = QString(QStringLiteral("<span>")).repeated(100000) + QStringLiteral("x");
    EXPECT_LE(StatusHtmlText(deep).size(), 1);
    const QString huge = QStringLiteral("<p>") + QString(QStringLiteral("あ")).repeated(kMaxStatusHtml);
    const QString text = StatusHtmlText(huge);
    EXPECT_GT(text.size(), 0);
    EXPECT_LE(text.toUtf8().size(), kMaxStatusHtml);
}
