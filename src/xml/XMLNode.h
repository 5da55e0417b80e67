#pragma once

#include "xml/XMLErrors.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

struct _xmlNode;
class TXMLDocument;
class TXMLNode;
class TXMLNodeList;
class TXMLNodeStore;
// What a node class is constructed from: the DOM node, its document's node store and
// its parent.
// Opaque outside this layer so that callers never see the parser's types.
struct TXMLNodeInit;

enum class TNodeType {
    ntReserved, ntElement, ntAttribute, ntText, ntCData, ntEntityRef, ntEntity,
    ntProcessingInstr, ntComment, ntDocument, ntDocType, ntDocFragment, ntNotation
};

// Wrappers live in their document's own memory and are released all at once with it.
void* AllocateNodeMemory(const TXMLNodeInit& init, std::size_t size, std::size_t alignment);

// A node class is the factory that wraps a DOM node; NodeClassOf<T> gives the one for T.
using TXMLNodeClass = TXMLNode* (*)(const TXMLNodeInit& init);
template <class T>
TXMLNode* NodeClassOf(const TXMLNodeInit& init)
{
    return ::new (AllocateNodeMemory(init, sizeof(T), alignof(T))) T(init);
}

// A typed view that a node may offer; NodeKindOf<T> is offered by T and its subclasses.
using TXMLNodeKind = bool (*)(const TXMLNode* node);
template <class T>
bool NodeKindOf(const TXMLNode* node) { return dynamic_cast<const T*>(node) != nullptr; }

// Asks a node for its typed view; a node of another class (or none) raises EIntfCastError.
template <class T>
T* NodeAs(TXMLNode* node)
{
    if (T* view = dynamic_cast<T*>(node))
        return view;
    throw EIntfCastError();
}

struct TNodeClassEntry {
    QString NodeName;
    QString NamespaceURI;
    TXMLNodeClass NodeClass;
};
// Registration order matters: lookup takes the first match.
using TNodeClassTable = std::vector<TNodeClassEntry>;

// One DOM node that has been reached. Wrappers belong to their document: they are
// created on demand and all released together with it, so pointers handed out stay
// valid for the document's lifetime.
class TXMLNode {
public:
    explicit TXMLNode(const TXMLNodeInit& init);
    virtual ~TXMLNode();
    TXMLNode(const TXMLNode&) = delete;
    TXMLNode& operator=(const TXMLNode&) = delete;

    TXMLNodeList* ChildList();
    TXMLNodeList* AttributeList();
    // The text of a text-only element; an empty element gains an empty text node.
    QString ElementText();
    void RegisterChildClass(const QString& tagName, TXMLNodeClass nodeClass,
                            const QString& namespaceURI = QString());

    QString NodeName() const;
    QString LocalName() const;
    QString Prefix() const;
    QString NamespaceURI() const;
    TNodeType NodeType() const;
    // Element: its text (as ElementText); attribute: its value; text-like: its content.
    QString NodeValue();
    // Element or attribute: replaces the content with one text node holding value.
    void SetNodeValue(const QString& value);
    TXMLNode* ParentNode() const { return m_parent; }
    TXMLNode* PreviousSibling() const;
    TXMLNode* NextSibling() const;
    TXMLDocument* OwnerDocument() const;
    bool IsRoot() const { return m_isRoot; }
    bool HasChildNodes() const;
    bool IsTextElement() const;

    // Appends (index -1) or inserts a new empty element with this node's prefix and
    // namespace; its class comes from this node's registrations.
    TXMLNode* AddChild(const QString& tagName, int index = -1);
    QString Attribute(const QString& name);
    void SetAttribute(const QString& name, const QString& value);

protected:
    // Hooks for subclasses that keep derived views of the child list.
    virtual void ChildListReset() {}
    virtual void ChildInserted(TXMLNode* child, int index);
    virtual void ChildRemoved(TXMLNode* child, int index);

    bool LocalNameEquals(QStringView name) const;

private:
    friend class TXMLNodeList;
    friend class TXMLDocument;
    friend class TXMLNodeCollection;

    TXMLNode* Wrap(_xmlNode* dom);
    const TNodeClassEntry* ClassFor(const _xmlNode* dom) const;
    void DropChildList();
    void RemoveChild(TXMLNode* child);

    _xmlNode* m_dom;
    TXMLNodeStore* m_store;
    TXMLNode* m_parent;
    bool m_isRoot;
    std::unique_ptr<TXMLNodeList> m_childList;
    std::unique_ptr<TXMLNodeList> m_attributeList;
    TNodeClassTable m_classTable;
};
