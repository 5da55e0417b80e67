#include "xml/XMLDoc.h"

#include "text/Logging.h"
#include "xml/XMLDom_p.h"
#include "xml/XMLNodeStore_p.h"
#include "xml/XMLParser_p.h"

#include <QCoreApplication>

#include <libxml/parser.h>

TXMLDocument::TXMLDocument()
    : m_store(std::make_unique<TXMLNodeStore>(this))
{
}

TXMLDocument::~TXMLDocument()
{
    Deactivate();
}

void TXMLDocument::LoadFromText(const QByteArray& text, const QByteArray& charsetHint)
{
    Deactivate();
    m_sourceText = text;
    m_charsetHint = charsetHint;
    m_hasSourceText = true;
    Activate();
}

QByteArray TXMLDocument::SaveToText()
{
    CheckActive();
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(m_dom, &bytes, &size, "UTF-8", 0);
    QByteArray result(reinterpret_cast<const char*>(bytes), size);
    xmlFree(bytes);
    return result;
}

void TXMLDocument::SetActive(bool active)
{
    if (active && !m_dom)
        Activate();
    else if (!active && m_dom)
        Deactivate();
}

void TXMLDocument::Activate()
{
    if (m_dom)
        return;
    if (!m_hasSourceText) {
        m_dom = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        return;
    }
    TParseFailure failure;
    xmlDocPtr dom = ParseReply(m_sourceText, m_charsetHint, m_parseOptions.testFlag(poPreserveWhiteSpace), failure);
    // A rejected text is not kept pending: a later activation starts from an empty document.
    m_sourceText.clear();
    m_charsetHint.clear();
    m_hasSourceText = false;
    if (!dom) {
        qCInfo(lcXml).noquote() << "reply rejected at line" << failure.line << "-" << failure.reason;
        throw EDOMParseError(failure.reason, failure.line, failure.srcText);
    }
    m_dom = dom;
    m_store->ClearModified();
}

void TXMLDocument::Deactivate()
{
    m_documentNode = nullptr;
    // Retired nodes may hold names from the document's dictionary: free them first.
    m_store->Release();
    if (m_dom) {
        xmlFreeDoc(m_dom);
        m_dom = nullptr;
    }
}

TXMLNode* TXMLDocument::BindRoot(const QString& tagName, TXMLNodeClass nodeClass, const QString& namespaceURI)
{
    m_rootRegistrations.push_back({tagName, namespaceURI, nodeClass});
    if (!m_dom)
        Activate();
    m_documentNode = nullptr;
    if (!xmlDocGetRootElement(m_dom)) {
        const QByteArray name = tagName.toUtf8();
        xmlNodePtr root = xmlNewDocNode(m_dom, nullptr, reinterpret_cast<const xmlChar*>(name.constData()), nullptr);
        if (!namespaceURI.isEmpty()) {
            const QByteArray href = namespaceURI.toUtf8();
            xmlSetNs(root, xmlNewNs(root, reinterpret_cast<const xmlChar*>(href.constData()), nullptr));
        }
        xmlDocSetRootElement(m_dom, root);
        m_store->MarkModified();
    }
    return RootElement();
}

TXMLNode* TXMLDocument::RootElement()
{
    CheckActive();
    TXMLNodeList* children = DocumentNode()->ChildList();
    for (int i = children->Count() - 1; i >= 0; --i) {
        TXMLNode* node = children->NodeAt(i);
        if (node->NodeType() == TNodeType::ntElement)
            return node;
    }
    return nullptr;
}

TXMLNode* TXMLDocument::DocumentNode()
{
    CheckActive();
    if (!m_documentNode) {
        TXMLNode* node = m_store->Adopt(
            NodeClassOf<TXMLNode>(TXMLNodeInit{reinterpret_cast<xmlNodePtr>(m_dom), m_store.get(), nullptr}));
        node->m_classTable = m_rootRegistrations;
        m_documentNode = node;
    }
    return m_documentNode;
}

TXMLDocOptions TXMLDocument::Options() const
{
    return m_store->Options();
}

void TXMLDocument::SetOptions(TXMLDocOptions options)
{
    m_store->SetOptions(options);
}

bool TXMLDocument::Modified() const
{
    return m_store->Modified();
}

void TXMLDocument::CheckActive() const
{
    if (!m_dom)
        throw EXMLDocError(QCoreApplication::translate("XMLDoc", "アクティブドキュメントがありません"));
}
