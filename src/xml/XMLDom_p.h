#pragma once
// Parser-side helpers shared by the xml layer's sources; not part of its interface.

#include <QAnyStringView>
#include <QString>
#include <QUtf8StringView>

#include <libxml/tree.h>

class TXMLNode;
class TXMLNodeStore;

struct TXMLNodeInit {
    xmlNodePtr dom;
    TXMLNodeStore* store;   // the owning document's
    TXMLNode* parent;
};

inline QUtf8StringView Utf8View(const xmlChar* s)
{
    return s ? QUtf8StringView(reinterpret_cast<const char*>(s)) : QUtf8StringView();
}

inline QString FromXmlChar(const xmlChar* s)
{
    return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString();
}

inline bool IsNamed(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE;
}

inline const xmlChar* NamespaceHref(const xmlNode* n)
{
    return (IsNamed(const_cast<xmlNodePtr>(n)) && n->ns) ? n->ns->href : nullptr;
}

// The DOM name of a node that has no element-style name.
inline QUtf8StringView FixedNodeName(const xmlNode* n)
{
    switch (n->type) {
    case XML_TEXT_NODE: return "#text";
    case XML_CDATA_SECTION_NODE: return "#cdata-section";
    case XML_COMMENT_NODE: return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return "#document";
    case XML_DOCUMENT_FRAG_NODE: return "#document-fragment";
    default: return Utf8View(n->name);
    }
}

// Node name equals name, or else local name equals name; exact and case-sensitive.
inline bool NameMatches(const xmlNode* n, QStringView name)
{
    if (!IsNamed(const_cast<xmlNodePtr>(n)))
        return QAnyStringView::equal(FixedNodeName(n), name);
    const QUtf8StringView local = Utf8View(n->name);
    if (QAnyStringView::equal(local, name))
        return true;
    if (n->ns && n->ns->prefix) {
        const qsizetype colon = name.indexOf(u':');
        return colon > 0 && QAnyStringView::equal(Utf8View(n->ns->prefix), name.first(colon))
            && QAnyStringView::equal(local, name.sliced(colon + 1));
    }
    return false;
}

// An empty namespace matches everything; otherwise the URIs compare without case.
inline bool NamespaceMatches(const xmlNode* n, const QString& namespaceURI)
{
    return namespaceURI.isEmpty()
        || QAnyStringView::compare(Utf8View(NamespaceHref(n)), namespaceURI, Qt::CaseInsensitive) == 0;
}
