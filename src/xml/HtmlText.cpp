#include "xml/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/xmlerror.h>

#include <QByteArray>
#include <QList>

#include <climits>
#include <memory>

namespace {

bool Named(xmlNodePtr node, const char* name)
{
    return node->name && xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

QString Attribute(xmlNodePtr node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    const QString text = value ? QString::fromUtf8(reinterpret_cast<const char*>(value)) : QString();
    xmlFree(value);
    return text;
}

bool HasWord(const QString& words, const char* word)
{
    for (const QStringView w : QStringView(words).split(u' ', Qt::SkipEmptyParts)) {
        if (w.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool IsBlock(xmlNodePtr n)
{
    static const char* const kBlocks[] = {"p", "div", "blockquote", "pre", "ul", "ol", "li",
                                          "h1", "h2", "h3", "h4", "h5", "h6"};
    for (const char* name : kBlocks) {
        if (Named(n, name))
            return true;
    }
    return false;
}

// Builds the text with HTML's white-space rules: runs of spaces and breaks in the source
// are one space, <br> and the edges of blocks are the only line breaks.
class TTextOut {
public:
    void Text(const QString& s, bool preformatted)
    {
        for (const QChar c : s) {
            if (!preformatted && (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f')) {
                m_space = true;
                continue;
            }
            if (c.category() == QChar::Other_Control && c != u'\n')
                continue;
            if (m_space && !m_text.isEmpty() && !m_text.endsWith(u'\n'))
                m_text += u' ';
            m_space = false;
            flushBreaks();
            m_text += c;
        }
    }
    void Break()
    {
        m_space = false;
        if (!m_text.isEmpty())
            m_text += u'\n';
    }
    // Paragraphs are apart by one empty line, however many block edges meet there.
    void Paragraph()
    {
        m_space = false;
        m_paragraph = !m_text.isEmpty();
    }
    QString Take()
    {
        while (m_text.endsWith(u'\n') || m_text.endsWith(u' '))
            m_text.chop(1);
        return m_text;
    }

private:
    void flushBreaks()
    {
        if (!m_paragraph)
            return;
        m_paragraph = false;
        while (m_text.endsWith(u' '))
            m_text.chop(1);
        if (!m_text.endsWith(u'\n'))
            m_text += u'\n';
        if (!m_text.endsWith(QLatin1String("\n\n")))
            m_text += u'\n';
    }

    QString m_text;
    bool m_space = false;
    bool m_paragraph = false;
};

// All the text below node, as written.
QString TextBelow(xmlNodePtr node)
{
    xmlChar* content = xmlNodeGetContent(node);
    const QString text = content ? QString::fromUtf8(reinterpret_cast<const char*>(content)) : QString();
    xmlFree(content);
    return text;
}

bool IsWebAddress(const QString& href)
{
    return href.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || href.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// What a link reads as: a mention or a hashtag its own text; a web address in full, with
// its label before it when the label is words rather than (a part of) the address.
QString LinkText(xmlNodePtr a)
{
    const QString shown = TextBelow(a).simplified();
    const QString classes = Attribute(a, "class");
    if (HasWord(classes, "mention") || HasWord(classes, "hashtag") || HasWord(Attribute(a, "rel"), "tag"))
        return shown;
    const QString href = Attribute(a, "href").trimmed();
    if (!IsWebAddress(href))
        return shown;
    QString bare = shown;
    while (bare.endsWith(QChar(0x2026)) || bare.endsWith(u'.'))
        bare.chop(1);
    if (bare.isEmpty() || href.contains(bare, Qt::CaseInsensitive))
        return href;
    return shown + QStringLiteral(" (") + href + u')';
}

void Walk(xmlNodePtr root, TTextOut& out)
{
    int preformatted = 0;
    xmlNodePtr cur = root->children;
    while (cur) {
        bool descend = false;
        if (cur->type == XML_TEXT_NODE || cur->type == XML_CDATA_SECTION_NODE) {
            out.Text(QString::fromUtf8(reinterpret_cast<const char*>(cur->content)), preformatted > 0);
        } else if (cur->type == XML_ELEMENT_NODE) {
            if (Named(cur, "br")) {
                out.Break();
            } else if (Named(cur, "a")) {
                out.Text(LinkText(cur), false);
            } else if (Named(cur, "img")) {
                out.Text(Attribute(cur, "alt"), false);   // a custom emoji's :shortcode:
            } else if (Named(cur, "script") || Named(cur, "style")) {
                // never text meant to be read
            } else {
                if (IsBlock(cur))
                    out.Paragraph();
                descend = cur->children != nullptr;
                if (descend && Named(cur, "pre"))
                    ++preformatted;
            }
        }
        if (descend) {
            cur = cur->children;
            continue;
        }
        // Up until there is a next sibling, closing each element left on the way.
        while (cur && cur != root) {
            if (cur->type == XML_ELEMENT_NODE && cur->children && IsBlock(cur)) {
                out.Paragraph();
                if (Named(cur, "pre"))
                    --preformatted;
            }
            if (cur->next) {
                cur = cur->next;
                break;
            }
            cur = cur->parent;
        }
        if (cur == root)
            break;
    }
}

// Swallows the errors the parser raises outside its context while it runs.
void Ignore(void*, xmlErrorPtr) {}

} // namespace

QString StatusHtmlText(const QString& html)
{
    // Plain words need no parser.
    if (!html.contains(u'<') && !html.contains(u'&')) {
        TTextOut out;
        out.Text(html, false);
        return out.Take();
    }
    QByteArray utf8 = html.toUtf8();
    if (utf8.size() > kMaxStatusHtml) {
        utf8.truncate(kMaxStatusHtml);
        // Not in the middle of a character.
        while (!utf8.isEmpty() && (static_cast<unsigned char>(utf8.back()) & 0xC0) == 0x80)
            utf8.chop(1);
        if (!utf8.isEmpty() && static_cast<unsigned char>(utf8.back()) >= 0xC0)
            utf8.chop(1);
    }
    xmlInitParser();
    const xmlStructuredErrorFunc oldHandler = xmlStructuredError;
    void* const oldContext = xmlStructuredErrorContext;
    xmlSetStructuredErrorFunc(nullptr, Ignore);
    // No network and no entities from outside; the HTML parser knows HTML's own
    // entities and nothing else.
    const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        htmlReadMemory(utf8.constData(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                       HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT),
        xmlFreeDoc);
    xmlSetStructuredErrorFunc(oldContext, oldHandler);
    xmlResetLastError();
    TTextOut out;
    if (doc)
        Walk(reinterpret_cast<xmlNodePtr>(doc.get()), out);
    return out.Take();
}
