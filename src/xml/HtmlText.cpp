#include "xml/HtmlText.h"

#include <libxml/HTMLparser.h>

#include <memory>

namespace {

constexpr int kDeepest = 256;

QString Attribute(xmlNodePtr node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    const QString text = value ? QString::fromUtf8(reinterpret_cast<const char*>(value)) : QString();
    xmlFree(value);
    return text;
}

bool Named(xmlNodePtr node, const char* name)
{
    return xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

void Walk(xmlNodePtr node, int depth, QString& out)
{
    for (; node && depth < kDeepest; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            out += QString::fromUtf8(reinterpret_cast<const char*>(node->content));
            continue;
        }
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (Named(node, "br")) {
            out += u'\n';
            continue;
        }
        if (Named(node, "p") && !out.isEmpty() && !out.endsWith(QLatin1String("\n\n")))
            out += out.endsWith(u'\n') ? QStringLiteral("\n") : QStringLiteral("\n\n");
        if (Named(node, "a") && !Attribute(node, "class").contains(QLatin1String("mention"))) {
            const QString href = Attribute(node, "href");
            if (href.startsWith(QLatin1String("http://")) || href.startsWith(QLatin1String("https://"))) {
                out += href;
                continue;
            }
        }
        Walk(node->children, depth + 1, out);
    }
}

} // namespace

QString StatusHtmlText(const QString& html)
{
    const QByteArray bytes = html.left(kMaxStatusHtml).toUtf8();
    if (bytes.trimmed().isEmpty())
        return QString();
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        htmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, "UTF-8",
                       HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NOIMPLIED),
        &xmlFreeDoc);
    if (!doc)
        return QString();
    QString text;
    Walk(doc->children, 0, text);
    return text.trimmed();
}
