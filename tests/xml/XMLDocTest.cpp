// The document layer driven through its public classes over the real parser.
#include "xml/XMLDoc.h"

#include "xml/XMLEncoding.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

// Loads text and returns the root element; the document keeps the nodes alive.
TXMLNode* Root(TXMLDocument& doc, const QByteArray& text)
{
    doc.LoadFromText(text);
    return doc.RootElement();
}

EDOMParseError LoadError(const QByteArray& text)
{
    TXMLDocument doc;
    try {
        doc.LoadFromText(text);
    } catch (const EDOMParseError& e) {
        EXPECT_FALSE(doc.Active());
        return e;
    }
    ADD_FAILURE() << "loaded: " << text.left(80).constData();
    return EDOMParseError(QString(), 0, QString());
}

QString ExpectDocError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EXMLDocError& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no EXMLDocError";
    return QString();
}

// Takes what is logged while it lives, as "category: message", instead of stderr.
class TLogCapture {
public:
    TLogCapture()
    {
        s_lines.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("brimlark.xml.info=true"));
        m_previous = qInstallMessageHandler(&Collect);
    }
    ~TLogCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList Lines() const { return s_lines; }

private:
    static void Collect(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        s_lines << QString::fromUtf8(context.category) + QStringLiteral(": ") + message;
    }

    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};

// A test-only node class with an item collection, as a binding would declare it.
class TItemNode : public TXMLNode {
public:
    explicit TItemNode(const TXMLNodeInit& init) : TXMLNode(init) {}
};

class TListNode : public TXMLNodeCollection {
public:
    explicit TListNode(const TXMLNodeInit& init) : TXMLNodeCollection(init)
    {
        RegisterChildClass(QStringLiteral("item"), &NodeClassOf<TItemNode>);
        SetItemName(QStringLiteral("item"));
        SetItemKind(&NodeKindOf<TItemNode>);
    }
    TXMLNode* Append() { return AddItem(-1); }
    TXMLNode* InsertAt(int index) { return AddItem(index); }
};

} // namespace

// --- loading: encodings, references, white space

TEST(XMLDocLoad, EncodingsFromMarkOrDeclarationGiveTheSameText)
{
    const QString expected = QStringLiteral("日本語のテキスト ①");
    const QString body = QStringLiteral("<r><t>日本語のテキスト ①</t></r>");
    struct Case { const char* name; QByteArray bytes; };
    QStringEncoder toUtf16le(QStringConverter::Utf16LE);
    QStringEncoder toUtf16be(QStringConverter::Utf16BE);
    const QString decl16 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>") + body;
    const Case cases[] = {
        {"utf8-plain", body.toUtf8()},
        {"utf8-bom", QByteArray("\xEF\xBB\xBF") + body.toUtf8()},
        {"utf8-declared", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + body.toUtf8()},
        {"utf16le-bom", QByteArray("\xFF\xFE") + QByteArray(toUtf16le(decl16))},
        {"utf16be-bom", QByteArray("\xFE\xFF") + QByteArray(toUtf16be(decl16))},
    };
    for (const Case& c : cases) {
        TXMLDocument doc;
        TXMLNode* root = Root(doc, c.bytes);
        EXPECT_EQ(root->ChildList()->NodeByName(QStringLiteral("t"))->ElementText(), expected) << c.name;
    }
}

TEST(XMLDocLoad, ShiftJisAndEucJpDocumentsLoad)
{
    // "日本語 ソース" in each encoding, written out as bytes so no converter of ours is trusted.
    const QByteArray sjis = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><t>\x93\xfa\x96\x7b\x8c\xea \x83\x5c\x81\x5b\x83\x58</t></r>";
    const QByteArray euc = "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r><t>\xc6\xfc\xcb\xdc\xb8\xec \xa5\xbd\xa1\xbc\xa5\xb9</t></r>";
    for (const QByteArray& bytes : {sjis, euc}) {
        TXMLDocument doc;
        EXPECT_EQ(Root(doc, bytes)->ChildList()->NodeAt(0)->ElementText(), QStringLiteral("日本語 ソース"));
    }
}

// --- encodings named by the reply or by the server

namespace {

// The text of the first child of the root, loaded with the given charset hint.
QString FirstText(const QByteArray& text, const QByteArray& hint = QByteArray())
{
    TXMLDocument doc;
    doc.LoadFromText(text, hint);
    return doc.RootElement()->ChildList()->NodeAt(0)->ElementText();
}

} // namespace

TEST(XMLDocEncoding, ShiftJisLabelsReadAsCodePage932)
{
    // NEC row 13, an IBM extension and its NEC-selected twin, and two rows where
    // Microsoft's table parts from JIS.
    const QByteArray bytes = "\x87\x40\x87\x41\x87\x8a\xfb\xfc\xed\x40\xfa\x40\x81\x60\x81\x5f";
    const QString expected = QStringLiteral("①②㈱髙纊ⅰ～＼");
    for (const char* label : {"Shift_JIS", "shift_jis", "SHIFT-JIS", "x-sjis", "MS_Kanji", "sjis", "Windows-31J", "cp932"}) {
        EXPECT_EQ(FirstText("<?xml version=\"1.0\" encoding=\"" + QByteArray(label) + "\"?><r><t>" + bytes + "</t></r>"),
                  expected) << label;
        EXPECT_EQ(FirstText("<r><t>" + bytes + "</t></r>", label), expected) << label;
    }
}

TEST(XMLDocEncoding, MarkThenDeclarationThenServerCharsetThenUtf8)
{
    const QString expected = QStringLiteral("日本");
    const QByteArray utf8 = expected.toUtf8();
    const QByteArray euc = "\xc6\xfc\xcb\xdc";
    QStringEncoder toUtf16le(QStringConverter::Utf16LE);
    struct Case { const char* name; QByteArray bytes; QByteArray hint; QString text; };
    const Case cases[] = {
        {"utf-8 mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><t>" + utf8 + "</t></r>", "EUC-JP", expected},
        {"utf-16 mark", "\xFF\xFE" + QByteArray(toUtf16le(QStringLiteral("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><t>日本</t></r>"))),
         "Shift_JIS", expected},
        {"declaration", "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r><t>" + euc + "</t></r>", "Shift_JIS", expected},
        {"declaration without encoding", "<?xml version='1.0'?><r><t>" + euc + "</t></r>",
         CharsetOfContentType("text/xml; charset=\"euc-jp\""), expected},
        {"server charset", "<r><t>" + euc + "</t></r>", "EUC-JP", expected},
        {"unknown server charset", "<r><t>" + utf8 + "</t></r>", "x-no-such", expected},
        // A converter option in the name would decode this as EUC-JP with the bad bytes dropped.
        {"server charset with converter option", "<r><t>" + euc + "\xff</t></r>", "EUC-JP//IGNORE", QString(5, QChar::ReplacementCharacter)},
        // A 16-bit label on bytes that are plainly 8-bit is wrong about them.
        {"utf-16 declared on 8-bit bytes", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><t>" + utf8 + "</t></r>", QByteArray(), expected},
        {"utf-16 server charset on 8-bit bytes", "<r><t>" + utf8 + "</t></r>", "UTF-16", expected},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FirstText(c.bytes, c.hint), c.text) << c.name;
}

TEST(XMLDocEncoding, UndecodableBytesBecomeReplacementsAndThePageLoads)
{
    const QChar bad = QChar::ReplacementCharacter;
    QStringEncoder toUtf16le(QStringConverter::Utf16LE);
    const QByteArray sjis = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n";
    const auto page = [](const QByteArray& head, const QByteArray& bytes) {
        return head + "<r><t>" + bytes + "</t><n>1</n></r>";
    };
    struct Case { const char* name; QByteArray text; QString t; };
    const Case cases[] = {
        {"utf-8 stray byte", page("", "a\xFF" "b"), QStringLiteral("a") + bad + u'b'},
        {"utf-8 bad continuation", page("", "\xC3\x28"), QString(bad) + u'('},
        {"utf-8 cut before a tag", page("", "a\xE6\x97"), QStringLiteral("a") + bad + bad},
        {"utf-8 mark and stray byte", page("\xEF\xBB\xBF", "\xFF"), QString(bad)},
        {"cp932 ascii trail", page(sjis, "\x81\x20"), QString(bad) + u' '},
        {"cp932 lead before a tag", page(sjis, "\x93\xfa\x81"), QStringLiteral("日") + bad},
        {"cp932 unassigned pair", page(sjis, "\x85\x9f\x82\xa0"), QString(bad) + QStringLiteral("あ")},
        {"euc-jp lead before a tag", page("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>", "\xa4"), QString(bad)},
        {"utf-16 lone surrogate",
         "\xFF\xFE" + QByteArray(toUtf16le(QStringLiteral("<r><t>a"))) + QByteArray("\x00\xD8", 2)
             + QByteArray(toUtf16le(QStringLiteral("b</t><n>1</n></r>"))),
         QStringLiteral("a") + bad + u'b'},
    };
    for (const Case& c : cases) {
        TXMLDocument doc;
        doc.LoadFromText(c.text);
        TXMLNodeList* children = doc.RootElement()->ChildList();
        ASSERT_EQ(children->Count(), 2) << c.name;
        EXPECT_EQ(children->NodeAt(0)->ElementText(), c.t) << c.name;
        EXPECT_EQ(children->NodeAt(1)->ElementText(), QStringLiteral("1")) << c.name;
    }
}

TEST(XMLDocEncoding, CharsetOfContentType)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"text/xml; charset=Shift_JIS", "Shift_JIS"},
        {"text/xml;charset=\"utf-8\"", "utf-8"},
        {"application/xml ; Charset = \" EUC-JP \" ; q=1", "EUC-JP"},
        {"text/xml; format=\"a;charset=x\"; CHARSET=sjis", "sjis"},
        {"text/xml; charset=\"a\\\"b\"", "a\"b"},
        {"text/xml; charset=\"open", "open"},
        {"text/xml; mycharset=x; charset", ""},
        {"text/xml; charset=", ""},
        {"charset=utf-8", ""},
        {"", ""},
    };
    for (const auto& [value, charset] : cases)
        EXPECT_EQ(CharsetOfContentType(value), charset) << value.constData();
}

TEST(XMLDocLoad, ReferencesDecodeIntoOneTextValue)
{
    TXMLDocument doc;
    TXMLNode* t = Root(doc, "<r><t>a &amp; b &lt;c&gt; &#x65E5;&#26412; &quot;q&apos; <![CDATA[x]]></t>"
                            "<u>&lt;&#x1F600;&gt;</u><c><![CDATA[<raw> & ]]></c></r>")->ChildList()->NodeAt(1);
    EXPECT_EQ(t->ElementText(), QString::fromUtf8("<\xF0\x9F\x98\x80>"));
    TXMLNode* c = doc.RootElement()->ChildList()->NodeAt(2);
    EXPECT_EQ(c->ElementText(), QStringLiteral("<raw> & "));
    // Text next to a CDATA section is two nodes, which is not a single text value.
    EXPECT_THROW(doc.RootElement()->ChildList()->NodeAt(0)->ElementText(), EXMLDocError);
}

TEST(XMLDocLoad, LayoutWhiteSpaceIsDroppedButWhiteSpaceValuesStay)
{
    TXMLDocument doc;
    TXMLNode* root = Root(doc, "<?xml version=\"1.0\"?>\n<r>\n  <a>\n    <b>x</b>\n  </a>\n  <s>  </s>\n"
                               "  <m>one <i>two</i> </m>\n  <p xml:space=\"preserve\"> <i/> </p>\n</r>\n");
    TXMLNodeList* children = root->ChildList();
    ASSERT_EQ(children->Count(), 4);
    TXMLNode* a = children->NodeAt(0);
    EXPECT_EQ(a->ChildList()->Count(), 1);
    EXPECT_THROW(a->ElementText(), EXMLDocError);   // a nested element, not text
    EXPECT_EQ(children->NodeAt(1)->ElementText(), QStringLiteral("  "));
    TXMLNodeList* mixed = children->NodeAt(2)->ChildList();
    ASSERT_EQ(mixed->Count(), 2);
    EXPECT_EQ(mixed->NodeAt(0)->NodeValue(), QStringLiteral("one "));
    EXPECT_EQ(children->NodeAt(3)->ChildList()->Count(), 3);

    // Indentation the parser's own blank handling lets through: after leading text,
    // a run longer than its read-ahead, CR LF line ends.
    const QByteArray tricky[] = {
        "<r>x<a/> <b/>\n</r>",
        "<r><a/>" + QByteArray(5000, ' ') + "<b/>" + QByteArray(5000, '\n') + "</r>",
        "<r>\r\n\t<a/>\r\n\t<b/>\r\n</r>",
        "<r><!-- c -->\n <a/> <?p?> <b/></r>",
    };
    for (const QByteArray& text : tricky) {
        TXMLDocument d;
        TXMLNodeList* list = Root(d, text)->ChildList();
        for (int i = 0; i < list->Count(); ++i)
            EXPECT_FALSE(list->NodeAt(i)->NodeType() == TNodeType::ntText
                         && list->NodeAt(i)->NodeValue().trimmed().isEmpty()) << text.left(40).constData();
        EXPECT_EQ(list->FindByName(QStringLiteral("b")), list->Last());
    }

    TXMLDocument kept;
    kept.SetParseOptions(poPreserveWhiteSpace);
    EXPECT_EQ(Root(kept, "<r>\n <a/>\n</r>")->ChildList()->Count(), 3);
}

TEST(XMLDocLoad, ReloadReplacesTheDocument)
{
    TXMLDocument doc;
    Root(doc, "<first><x>1</x></first>");
    EXPECT_EQ(Root(doc, "<second/>")->NodeName(), QStringLiteral("second"));
    EXPECT_FALSE(doc.Modified());
    EXPECT_THROW(doc.LoadFromText("<broken>"), EDOMParseError);
    EXPECT_FALSE(doc.Active());
    EXPECT_EQ(ExpectDocError([&] { doc.RootElement(); }), QStringLiteral("アクティブドキュメントがありません"));
    EXPECT_EQ(Root(doc, "<third/>")->NodeName(), QStringLiteral("third"));

    // A rejected text is not parsed again by a later activation.
    EXPECT_THROW(doc.LoadFromText("not xml"), EDOMParseError);
    TListNode* list = NodeAs<TListNode>(doc.BindRoot(QStringLiteral("list"), &NodeClassOf<TListNode>));
    EXPECT_EQ(list->ItemCount(), 0);
}

// --- parse errors

TEST(XMLDocParseError, MessageHasReasonLineAndSourceText)
{
    const QByteArray html = "<!-- a proxy's error page -->\n<html><body>\n<p>Service unavailable, please try again in a few minutes<br></p>\n</body></html>\n";
    const EDOMParseError e = LoadError(html);
    EXPECT_EQ(e.Line(), 3);
    EXPECT_FALSE(e.Reason().isEmpty());
    EXPECT_EQ(e.SrcText(), QStringLiteral("<p>Service unavailable, please try again"));
    EXPECT_EQ(e.SrcText().size(), 40);
    EXPECT_EQ(e.Message(), e.Reason() + QStringLiteral("\r\n直線: 3\r\n") + e.SrcText());
}

TEST(XMLDocParseError, RejectedBodies)
{
    struct Case { const char* name; QByteArray body; int line; };
    const Case cases[] = {
        {"empty", QByteArray(), 1},
        {"text", "Bad gateway", 1},
        {"json", "{\"error\":\"x\"}", 1},
        {"unclosed", "<statuses>\n<status>\n</statuses>", 3},
        {"two roots", "<a/>\n<b/>", 2},
        {"undeclared prefix", "<a>\n<p:b/></a>", 2},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-no-such\"?><a/>", 1},
        {"undefined entity", "<a>&nbsp;</a>", 1},
        {"bad char ref", "<a>&#0;</a>", 1},
        {"nul byte", QByteArray("<a>\0</a>", 8), 1},
        {"truncated utf-16", "\xFF\xFE<\0a\0>\0<", 1},
    };
    for (const Case& c : cases) {
        TLogCapture log;
        testing::internal::CaptureStderr();
        const EDOMParseError e = LoadError(c.body);
        // The parser's complaints end up in the error, not on the process's stderr;
        // the layer's own log gets one line per rejected reply.
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string()) << c.name;
        EXPECT_EQ(e.Line(), c.line) << c.name << ": " << e.what();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("\r\n直線: "))) << c.name;
        EXPECT_EQ(log.Lines(), QStringList(QStringLiteral("brimlark.xml: reply rejected at line %1 - %2")
                                               .arg(e.Line()).arg(e.Reason()))) << c.name;
    }
    TLogCapture log;
    TXMLDocument().LoadFromText("<a/>");
    EXPECT_TRUE(log.Lines().isEmpty());
}

TEST(XMLDocParseError, SourceTextIsDecodedAndCutAtFortyCharacters)
{
    // Shift_JIS line 2 holds 45 kanji and a wrong closing tag.
    QByteArray sjis = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<a>";
    for (int i = 0; i < 45; ++i)
        sjis += "\x93\xfa";
    const EDOMParseError e = LoadError(sjis + "</b>\r\n");
    EXPECT_EQ(e.Line(), 2);
    EXPECT_EQ(e.SrcText(), QStringLiteral("<a>") + QString(37, QChar(0x65E5)));
    const EDOMParseError e3 = LoadError("<a>\n" + QString(45, QChar(0x65E5)).toUtf8() + "</b>");
    EXPECT_EQ(e3.SrcText(), QString(40, QChar(0x65E5)));
}

// --- unsafe input

TEST(XMLDocUnsafeInput, BillionLaughsIsRefused)
{
    QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    bomb += " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        bomb += " <!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            bomb += "&lol" + QByteArray::number(i - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<statuses><status><text>&lol9;</text></status></statuses>";
    const EDOMParseError e = LoadError(bomb);
    EXPECT_EQ(e.Line(), 2);
}

TEST(XMLDocUnsafeInput, ExternalEntitiesAndDtdsAreNeverRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secretPath = dir.filePath(QStringLiteral("secret.txt"));
    QFile secret(secretPath);
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("TOP-SECRET");
    secret.close();
    const QByteArray url = QUrl::fromLocalFile(secretPath).toEncoded();
    const QByteArray docs[] = {
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + url + "\">]><r>&x;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><r/>",
        "<!DOCTYPE r SYSTEM \"" + url + "\"><r/>",
        "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/x.dtd\"><r/>",
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + url + "\" parse=\"text\"/></r>",
    };
    for (const QByteArray& text : docs) {
        TXMLDocument doc;
        try {
            doc.LoadFromText(text);
            EXPECT_FALSE(doc.SaveToText().contains("TOP-SECRET")) << text.constData();
        } catch (const EDOMParseError& e) {
            EXPECT_FALSE(e.Message().contains(QStringLiteral("TOP-SECRET")));
        }
    }
    EXPECT_THROW(TXMLDocument().LoadFromText(docs[0]), EDOMParseError);
}

TEST(XMLDocUnsafeInput, DeepNestingFailsInsteadOfRecursing)
{
    const int depth = 100000;
    QByteArray deep;
    deep.reserve(depth * 7 + 8);
    for (int i = 0; i < depth; ++i)
        deep += "<a>";
    for (int i = 0; i < depth; ++i)
        deep += "</a>";
    LoadError(deep);
    // Moderate nesting still loads and reads.
    QByteArray ok;
    for (int i = 0; i < 200; ++i)
        ok += "<a>";
    ok += "x";
    for (int i = 0; i < 200; ++i)
        ok += "</a>";
    TXMLDocument doc;
    TXMLNode* n = Root(doc, ok);
    for (int i = 1; i < 200; ++i)
        n = n->ChildList()->NodeAt(0);
    EXPECT_EQ(n->ElementText(), QStringLiteral("x"));
}

// --- node access

TEST(XMLDocNodes, ChildListAttributeListAndNodeProperties)
{
    TXMLDocument doc;
    TXMLNode* root = Root(doc, "<r a=\"1\" b=\"x &amp; y\"><!--c--><e>t</e><?pi data?></r>");
    TXMLNodeList* children = root->ChildList();
    ASSERT_EQ(children->Count(), 3);
    EXPECT_EQ(children->NodeAt(0)->NodeType(), TNodeType::ntComment);
    EXPECT_EQ(children->NodeAt(0)->NodeName(), QStringLiteral("#comment"));
    EXPECT_EQ(children->NodeAt(1)->NodeType(), TNodeType::ntElement);
    EXPECT_EQ(children->NodeAt(2)->NodeType(), TNodeType::ntProcessingInstr);
    EXPECT_EQ(children->NodeAt(1)->ParentNode(), root);
    EXPECT_EQ(children->NodeAt(1)->PreviousSibling(), children->NodeAt(0));
    EXPECT_EQ(children->NodeAt(1)->ChildList()->NodeAt(0)->NodeName(), QStringLiteral("#text"));
    EXPECT_TRUE(root->IsRoot());
    EXPECT_FALSE(children->NodeAt(1)->IsRoot());
    EXPECT_EQ(doc.DocumentNode()->NodeType(), TNodeType::ntDocument);
    EXPECT_EQ(root->ParentNode(), doc.DocumentNode());
    EXPECT_EQ(root->ChildList(), children);   // built once, then kept

    TXMLNodeList* attrs = root->AttributeList();
    ASSERT_EQ(attrs->Count(), 2);
    EXPECT_EQ(attrs->NodeAt(1)->NodeType(), TNodeType::ntAttribute);
    EXPECT_EQ(attrs->NodeByName(QStringLiteral("b"))->NodeValue(), QStringLiteral("x & y"));
    EXPECT_EQ(root->Attribute(QStringLiteral("a")), QStringLiteral("1"));
}

TEST(XMLDocNodes, NodeAtOutsideTheListRaisesTheListError)
{
    TXMLDocument doc;
    TXMLNodeList* list = Root(doc, "<r><a/><b/></r>")->ChildList();
    for (int index : {-1, 2, 1000}) {
        try {
            list->NodeAt(index);
            ADD_FAILURE() << index;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("リストのインデックスが範囲を超えています (%1)").arg(index));
        }
    }
    // The family can be caught at its base.
    EXPECT_THROW(list->NodeAt(5), EBrimlarkError);
}

TEST(XMLDocNodes, NamesMatchCaseSensitivelyWithPrefixOrLocalName)
{
    TXMLDocument doc;
    TXMLNode* root = Root(doc, "<r xmlns:p=\"urn:P\"><Name>upper</Name><p:name>prefixed</p:name><name>plain</name></r>");
    TXMLNodeList* list = root->ChildList();
    EXPECT_EQ(list->FindByName(QStringLiteral("Name"))->ElementText(), QStringLiteral("upper"));
    EXPECT_EQ(list->FindByName(QStringLiteral("p:name"))->ElementText(), QStringLiteral("prefixed"));
    // The local name matches too, and the prefixed element comes first.
    EXPECT_EQ(list->FindByName(QStringLiteral("name"))->ElementText(), QStringLiteral("prefixed"));
    EXPECT_EQ(list->FindByName(QStringLiteral("NAME")), nullptr);
    EXPECT_EQ(list->FindByName(QStringLiteral("q:name")), nullptr);
    EXPECT_EQ(list->NodeAt(1)->NamespaceURI(), QStringLiteral("urn:P"));
    EXPECT_EQ(list->NodeAt(1)->Prefix(), QStringLiteral("p"));
    EXPECT_EQ(list->NodeAt(1)->LocalName(), QStringLiteral("name"));
    EXPECT_EQ(list->NodeAt(1)->NodeName(), QStringLiteral("p:name"));

    // A list in a namespace only sees nodes of that namespace (compared without case).
    TXMLDocument nsDoc;
    TXMLNode* nsRoot = Root(nsDoc, "<r xmlns=\"urn:A\" xmlns:o=\"urn:other\"><o:x>other</o:x><x>mine</x></r>");
    EXPECT_EQ(nsRoot->ChildList()->DefaultNamespaceURI(), QStringLiteral("urn:A"));
    EXPECT_EQ(nsRoot->ChildList()->FindByName(QStringLiteral("x"))->ElementText(), QStringLiteral("mine"));
}

TEST(XMLDocNodes, LongListsFindTheFirstMatchAndFollowChanges)
{
    QByteArray text = "<r>";
    for (int i = 0; i < 100; ++i)
        text += "<e" + QByteArray::number(i % 40) + ">" + QByteArray::number(i) + "</e" + QByteArray::number(i % 40) + ">";
    text += "</r>";
    TXMLDocument doc;
    TXMLNode* root = Root(doc, text);
    TXMLNodeList* list = root->ChildList();
    EXPECT_EQ(list->FindByName(QStringLiteral("e7"))->ElementText(), QStringLiteral("7"));
    EXPECT_EQ(list->FindByName(QStringLiteral("e39"))->ElementText(), QStringLiteral("39"));
    EXPECT_EQ(list->FindByName(QStringLiteral("e40")), nullptr);
    TXMLNode* added = list->NodeByName(QStringLiteral("e40"));
    EXPECT_EQ(list->FindByName(QStringLiteral("e40")), added);
    EXPECT_EQ(list->Last(), added);
    TXMLNode* inserted = root->AddChild(QStringLiteral("e7"), 0);
    EXPECT_EQ(list->FindByName(QStringLiteral("e7")), inserted);
    list->Delete(0);
    EXPECT_EQ(list->FindByName(QStringLiteral("e7"))->ElementText(), QStringLiteral("7"));
    EXPECT_EQ(list->Count(), 101);
}

TEST(XMLDocNodes, NodeByNameCreatesMissingNodesInTheDom)
{
    TXMLDocument doc;
    TXMLNode* root = Root(doc, "<r xmlns:p=\"urn:P\"><p:s><a>1</a></p:s></r>");
    TXMLNode* s = root->ChildList()->NodeAt(0);
    TXMLNode* created = s->ChildList()->NodeByName(QStringLiteral("missing"));
    EXPECT_EQ(created->ElementText(), QString());
    EXPECT_EQ(created->NamespaceURI(), QStringLiteral("urn:P"));
    EXPECT_EQ(s->ChildList()->Count(), 2);
    EXPECT_TRUE(doc.Modified());
    TXMLNode* attr = root->AttributeList()->NodeByName(QStringLiteral("kind"));
    EXPECT_EQ(attr->NodeValue(), QString());
    attr->SetNodeValue(QStringLiteral("a<b&\"c"));
    const QByteArray saved = doc.SaveToText();
    EXPECT_TRUE(saved.contains("<p:missing></p:missing>")) << saved.constData();
    EXPECT_TRUE(saved.contains("kind=\"a&lt;b&amp;&quot;c\"")) << saved.constData();

    // The saved text loads back with the same values.
    TXMLDocument again;
    EXPECT_EQ(Root(again, saved)->Attribute(QStringLiteral("kind")), QStringLiteral("a<b&\"c"));

    TXMLDocument strict;
    strict.SetOptions(strict.Options() & ~TXMLDocOptions(doNodeAutoCreate));
    TXMLNode* r = Root(strict, "<r/>");
    EXPECT_EQ(ExpectDocError([&] { r->ChildList()->NodeByName(QStringLiteral("nope")); }),
              QStringLiteral("ノード \"nope\" が見つかりません"));
    EXPECT_EQ(r->ChildList()->Count(), 0);
}

TEST(XMLDocNodes, ElementTextOfEmptyMixedAndNestedElements)
{
    TXMLDocument doc;
    TXMLNodeList* list = Root(doc, "<r><e1/><e2></e2><m>a<b/>c</m><n><x/></n><c><!--only--></c></r>")->ChildList();
    for (int i : {0, 1}) {
        TXMLNode* empty = list->NodeAt(i);
        EXPECT_EQ(empty->ElementText(), QString());
        // The read left an empty text node behind.
        ASSERT_EQ(empty->ChildList()->Count(), 1);
        EXPECT_EQ(empty->ChildList()->NodeAt(0)->NodeType(), TNodeType::ntText);
        EXPECT_EQ(empty->ElementText(), QString());
    }
    for (int i : {2, 3, 4})
        EXPECT_EQ(ExpectDocError([&] { list->NodeAt(i)->ElementText(); }),
                  QStringLiteral("要素は単一テキストノードを含んでいません")) << i;
    // A list taken before a change that rebuilds it stays readable.
    TXMLNode* m = list->NodeAt(2);
    TXMLNodeList* before = m->ChildList();
    m->RegisterChildClass(QStringLiteral("b"), &NodeClassOf<TItemNode>);
    EXPECT_EQ(before->Count(), 3);
    EXPECT_EQ(before->NodeAt(0)->NodeValue(), QStringLiteral("a"));
    EXPECT_NE(m->ChildList(), before);
    EXPECT_NO_THROW(NodeAs<TItemNode>(m->ChildList()->NodeAt(1)));
    // Setting a value replaces mixed content with one text node.
    TXMLNodeList* mixed = m->ChildList();
    m->SetNodeValue(QStringLiteral("<new>"));
    EXPECT_EQ(m->ElementText(), QStringLiteral("<new>"));
    EXPECT_EQ(m->ChildList()->Count(), 1);
    EXPECT_EQ(mixed->NodeAt(1)->NodeName(), QStringLiteral("b"));   // taken out of the tree, still alive
}

// --- registrations, root binding and collections

TEST(XMLDocBinding, BindRootChoosesTheRegisteredClass)
{
    TXMLDocument doc;
    doc.LoadFromText("<list><item>1</item><other/><item>2</item><Item>no</Item></list>");
    TListNode* list = NodeAs<TListNode>(doc.BindRoot(QStringLiteral("list"), &NodeClassOf<TListNode>));
    EXPECT_EQ(list->ItemCount(), 2);
    EXPECT_EQ(list->ItemAt(1)->ElementText(), QStringLiteral("2"));
    EXPECT_NE(list->ItemList(), list->ChildList());
    EXPECT_THROW(NodeAs<TItemNode>(list->ChildList()->NodeAt(3)), EIntfCastError);
    EXPECT_THROW(list->ItemAt(2), EListError);

    TXMLDocument other;
    other.LoadFromText("<notlist/>");
    try {
        NodeAs<TListNode>(other.BindRoot(QStringLiteral("list"), &NodeClassOf<TListNode>));
        ADD_FAILURE();
    } catch (const EIntfCastError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Interface はサポートされていません"));
    }
}

TEST(XMLDocBinding, BindRootOnAnEmptyDocumentAddsTheRoot)
{
    TXMLDocument doc;
    EXPECT_FALSE(doc.Active());
    EXPECT_THROW(doc.RootElement(), EXMLDocError);
    TListNode* list = NodeAs<TListNode>(doc.BindRoot(QStringLiteral("list"), &NodeClassOf<TListNode>));
    EXPECT_TRUE(doc.Active());
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(list->ItemList(), list->ChildList());
    list->Append();
    list->InsertAt(0)->SetNodeValue(QStringLiteral("first"));
    EXPECT_EQ(list->ItemCount(), 2);
    EXPECT_TRUE(doc.SaveToText().contains("<list><item>first</item><item/></list>")) << doc.SaveToText().constData();
}

TEST(XMLDocBinding, ItemListFollowsChangesToTheChildren)
{
    TXMLDocument doc;
    doc.LoadFromText("<list><item>a</item><item>b</item></list>");
    TListNode* list = NodeAs<TListNode>(doc.BindRoot(QStringLiteral("list"), &NodeClassOf<TListNode>));
    EXPECT_EQ(list->ItemList(), list->ChildList());
    list->AddChild(QStringLiteral("note"), 1);   // not an item: the lists part
    EXPECT_EQ(list->ItemCount(), 2);
    EXPECT_EQ(list->ChildList()->Count(), 3);
    TXMLNode* mid = list->InsertAt(1);
    mid->SetNodeValue(QStringLiteral("m"));
    EXPECT_EQ(list->ChildList()->IndexOf(mid), 2);   // placed before the old item 1, after the note
    TXMLNode* last = list->Append();
    last->SetNodeValue(QStringLiteral("z"));
    QStringList texts;
    for (int i = 0; i < list->ItemCount(); ++i)
        texts << list->ItemAt(i)->ElementText();
    EXPECT_EQ(texts, (QStringList{"a", "m", "b", "z"}));
    list->Delete(0);
    EXPECT_EQ(list->Remove(last), 2);
    EXPECT_EQ(list->ItemCount(), 2);
    EXPECT_EQ(list->ItemAt(0)->ElementText(), QStringLiteral("m"));
    list->Clear();
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(list->ChildList()->Count(), 1);
    EXPECT_TRUE(doc.SaveToText().contains("<list><note/></list>")) << doc.SaveToText().constData();
    EXPECT_THROW(list->InsertAt(5), EListError);
}
