#include "xml/XMLNode.h"

#include "xml/XMLDom_p.h"
#include "xml/XMLNodeList.h"
#include "xml/XMLNodeStore_p.h"

#include <QCoreApplication>

namespace {

QByteArray ToXml(const QString& s)
{
    return s.toUtf8();
}

const xmlChar* XmlChars(const QByteArray& bytes)
{
    return reinterpret_cast<const xmlChar*>(bytes.constData());
}

bool IsTextLike(xmlNodePtr n)
{
    return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE;
}

} // namespace

TXMLNode::TXMLNode(const TXMLNodeInit& init)
    : m_dom(init.dom), m_store(init.store), m_parent(init.parent),
      m_isRoot(init.parent && init.parent->m_dom->type == XML_DOCUMENT_NODE
               && init.dom->type == XML_ELEMENT_NODE)
{
    if (!m_dom || !m_store)
        throw EXMLDocError(QCoreApplication::translate("XMLNode", "ノードの作成に DOM ノードが必要です"));
}

TXMLNode::~TXMLNode() = default;

void* AllocateNodeMemory(const TXMLNodeInit& init, std::size_t size, std::size_t alignment)
{
    return init.store->Allocate(size, alignment);
}

TXMLDocument* TXMLNode::OwnerDocument() const
{
    return m_store->Document();
}

TXMLNodeList* TXMLNode::ChildList()
{
    if (!m_childList) {
        std::unique_ptr<TXMLNodeList> list(
            new TXMLNodeList(this, TXMLNodeList::TListKind::Children, NamespaceURI()));
        size_t count = 0;
        for (xmlNodePtr c = m_dom->children; c; c = c->next)
            ++count;
        list->m_nodes.reserve(count);
        for (xmlNodePtr c = m_dom->children; c; c = c->next)
            list->m_nodes.push_back(Wrap(c));
        m_childList = std::move(list);
    }
    return m_childList.get();
}

TXMLNodeList* TXMLNode::AttributeList()
{
    if (!m_attributeList) {
        // Unprefixed attributes carry no namespace, so the list has none by default.
        std::unique_ptr<TXMLNodeList> list(
            new TXMLNodeList(this, TXMLNodeList::TListKind::Attributes, QString()));
        if (m_dom->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = m_dom->properties; a; a = a->next)
                list->m_nodes.push_back(Wrap(reinterpret_cast<xmlNodePtr>(a)));
        }
        m_attributeList = std::move(list);
    }
    return m_attributeList.get();
}

QString TXMLNode::ElementText()
{
    if (m_dom->type != XML_ELEMENT_NODE)
        return NodeValue();
    xmlNodePtr child = m_dom->children;
    if (!child) {
        xmlAddChild(m_dom, xmlNewDocText(m_dom->doc, reinterpret_cast<const xmlChar*>("")));
        DropChildList();
        m_store->MarkModified();
        return QString();
    }
    if (!child->next && IsTextLike(child))
        return FromXmlChar(child->content);
    throw EXMLDocError(QCoreApplication::translate("XMLNode", "要素は単一テキストノードを含んでいません"));
}

void TXMLNode::RegisterChildClass(const QString& tagName, TXMLNodeClass nodeClass,
                                  const QString& namespaceURI)
{
    m_classTable.push_back({tagName, namespaceURI.isEmpty() ? NamespaceURI() : namespaceURI, nodeClass});
    DropChildList();
}

QString TXMLNode::NodeName() const
{
    if (IsNamed(m_dom) && m_dom->ns && m_dom->ns->prefix)
        return FromXmlChar(m_dom->ns->prefix) + u':' + FromXmlChar(m_dom->name);
    return FixedNodeName(m_dom).toString();
}

QString TXMLNode::LocalName() const
{
    return IsNamed(m_dom) ? FromXmlChar(m_dom->name) : QString();
}

QString TXMLNode::Prefix() const
{
    return (IsNamed(m_dom) && m_dom->ns) ? FromXmlChar(m_dom->ns->prefix) : QString();
}

QString TXMLNode::NamespaceURI() const
{
    return FromXmlChar(NamespaceHref(m_dom));
}

TNodeType TXMLNode::NodeType() const
{
    switch (m_dom->type) {
    case XML_ELEMENT_NODE: return TNodeType::ntElement;
    case XML_ATTRIBUTE_NODE: return TNodeType::ntAttribute;
    case XML_TEXT_NODE: return TNodeType::ntText;
    case XML_CDATA_SECTION_NODE: return TNodeType::ntCData;
    case XML_ENTITY_REF_NODE: return TNodeType::ntEntityRef;
    case XML_ENTITY_NODE: return TNodeType::ntEntity;
    case XML_PI_NODE: return TNodeType::ntProcessingInstr;
    case XML_COMMENT_NODE: return TNodeType::ntComment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return TNodeType::ntDocument;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE: return TNodeType::ntDocType;
    case XML_DOCUMENT_FRAG_NODE: return TNodeType::ntDocFragment;
    case XML_NOTATION_NODE: return TNodeType::ntNotation;
    default: return TNodeType::ntReserved;
    }
}

QString TXMLNode::NodeValue()
{
    switch (m_dom->type) {
    case XML_ELEMENT_NODE:
        return ElementText();
    case XML_ATTRIBUTE_NODE: {
        xmlChar* value = xmlNodeGetContent(m_dom);
        const QString result = FromXmlChar(value);
        xmlFree(value);
        return result;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return FromXmlChar(m_dom->content);
    default:
        return QString();
    }
}

void TXMLNode::SetNodeValue(const QString& value)
{
    const QByteArray bytes = ToXml(value);
    if (m_dom->type == XML_ELEMENT_NODE || m_dom->type == XML_ATTRIBUTE_NODE) {
        xmlNodePtr only = m_dom->children;
        if (only && !only->next && only->type == XML_TEXT_NODE) {
            // Text nodes take the value literally; no entity parsing on the way in.
            xmlNodeSetContent(only, XmlChars(bytes));
        } else {
            while (xmlNodePtr c = m_dom->children) {
                xmlUnlinkNode(c);
                m_store->Retire(c);
            }
            xmlAddChild(m_dom, xmlNewDocText(m_dom->doc, XmlChars(bytes)));
            DropChildList();
        }
    } else if (m_dom->type != XML_DOCUMENT_NODE) {
        xmlNodeSetContent(m_dom, XmlChars(bytes));
    }
    m_store->MarkModified();
}

TXMLNode* TXMLNode::PreviousSibling() const
{
    if (!m_parent)
        return nullptr;
    TXMLNodeList* siblings = m_dom->type == XML_ATTRIBUTE_NODE ? m_parent->AttributeList() : m_parent->ChildList();
    const int i = siblings->IndexOf(this);
    return i > 0 ? siblings->NodeAt(i - 1) : nullptr;
}

TXMLNode* TXMLNode::NextSibling() const
{
    if (!m_parent)
        return nullptr;
    TXMLNodeList* siblings = m_dom->type == XML_ATTRIBUTE_NODE ? m_parent->AttributeList() : m_parent->ChildList();
    const int i = siblings->IndexOf(this);
    return (i >= 0 && i + 1 < siblings->Count()) ? siblings->NodeAt(i + 1) : nullptr;
}

bool TXMLNode::HasChildNodes() const
{
    return m_dom->children != nullptr;
}

bool TXMLNode::IsTextElement() const
{
    xmlNodePtr c = m_dom->children;
    return m_dom->type == XML_ELEMENT_NODE && c && !c->next && IsTextLike(c);
}

TXMLNode* TXMLNode::AddChild(const QString& tagName, int index)
{
    TXMLNodeList* list = ChildList();
    if (index < -1 || index > list->Count())
        throw EListError(index);
    const QByteArray name = ToXml(tagName);
    if (xmlValidateName(XmlChars(name), 0) != 0)
        throw EXMLDocError(QCoreApplication::translate("XMLNode", "要素名 \"%1\" は使用できません").arg(tagName));
    xmlNsPtr ns = m_dom->type == XML_ELEMENT_NODE ? m_dom->ns : nullptr;
    xmlNodePtr dom = xmlNewDocNode(m_dom->doc, ns, XmlChars(name), nullptr);
    if (index == -1 || index == list->Count())
        xmlAddChild(m_dom, dom);
    else
        xmlAddPrevSibling(list->m_nodes[index]->m_dom, dom);
    if (index == -1)
        index = list->Count();
    TXMLNode* node = Wrap(dom);
    list->Insert(index, node);
    m_store->MarkModified();
    ChildInserted(node, index);
    return node;
}

QString TXMLNode::Attribute(const QString& name)
{
    TXMLNode* attr = AttributeList()->FindByName(name);
    return attr ? attr->NodeValue() : QString();
}

void TXMLNode::SetAttribute(const QString& name, const QString& value)
{
    if (m_dom->type != XML_ELEMENT_NODE)
        throw EXMLDocError(QCoreApplication::translate("XMLNode", "属性を持てるのは要素だけです"));
    TXMLNodeList* list = AttributeList();
    if (TXMLNode* attr = list->FindByName(name)) {
        attr->SetNodeValue(value);
        return;
    }
    const QByteArray bytes = ToXml(name);
    if (xmlValidateName(XmlChars(bytes), 0) != 0)
        throw EXMLDocError(QCoreApplication::translate("XMLNode", "属性名 \"%1\" は使用できません").arg(name));
    xmlAttrPtr attr = xmlNewNsProp(m_dom, nullptr, XmlChars(bytes), nullptr);
    TXMLNode* node = Wrap(reinterpret_cast<xmlNodePtr>(attr));
    list->Insert(list->Count(), node);
    node->SetNodeValue(value);
}

void TXMLNode::ChildInserted(TXMLNode*, int)
{
}

void TXMLNode::ChildRemoved(TXMLNode*, int)
{
}

bool TXMLNode::LocalNameEquals(QStringView name) const
{
    return IsNamed(m_dom) && QAnyStringView::equal(Utf8View(m_dom->name), name);
}

const TNodeClassEntry* TXMLNode::ClassFor(const _xmlNode* dom) const
{
    for (const TNodeClassEntry& entry : m_classTable) {
        if (NamespaceMatches(dom, entry.NamespaceURI) && NameMatches(dom, entry.NodeName))
            return &entry;
    }
    return nullptr;
}

TXMLNode* TXMLNode::Wrap(_xmlNode* dom)
{
    const TXMLNodeInit init{dom, m_store, this};
    const TNodeClassEntry* entry = dom->type == XML_ELEMENT_NODE ? ClassFor(dom) : nullptr;
    return m_store->Adopt((entry ? entry->NodeClass : &NodeClassOf<TXMLNode>)(init));
}

void TXMLNode::DropChildList()
{
    if (m_childList)
        m_store->RetireList(std::move(m_childList));
    ChildListReset();
}

void TXMLNode::RemoveChild(TXMLNode* child)
{
    TXMLNodeList* list = child->m_dom->type == XML_ATTRIBUTE_NODE ? AttributeList() : ChildList();
    const int index = list->IndexOf(child);
    if (index < 0)
        return;
    list->RemoveAt(index);
    xmlUnlinkNode(child->m_dom);
    m_store->Retire(child->m_dom);
    m_store->MarkModified();
    if (list == m_childList.get())
        ChildRemoved(child, index);
}
