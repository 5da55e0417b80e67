#pragma once

#include "xml/XMLErrors.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class TXMLNode;

// The children, the attributes or the items of one node, in document order.
// Every change made through a list is made in the DOM as well.
class TXMLNodeList {
public:
    int Count() const { return static_cast<int>(m_nodes.size()); }
    // Raises EListError for an index outside 0..Count()-1.
    TXMLNode* NodeAt(int index) const;
    // First node whose node name, or else local name, equals name (case-sensitive),
    // in the list's default namespace; nullptr when none.
    TXMLNode* FindByName(const QString& name) const;
    // As FindByName; a missing node is created when the document auto-creates nodes,
    // otherwise EXMLDocError is raised.
    TXMLNode* NodeByName(const QString& name);
    int IndexOf(const TXMLNode* node) const;
    TXMLNode* First() const { return m_nodes.empty() ? nullptr : m_nodes.front(); }
    TXMLNode* Last() const { return m_nodes.empty() ? nullptr : m_nodes.back(); }
    // Removes the node from the list and from the DOM.
    void Delete(int index);
    int Remove(TXMLNode* node);
    void Clear();

    TXMLNode* Owner() const { return m_owner; }
    QString DefaultNamespaceURI() const { return m_defaultNamespaceURI; }

private:
    friend class TXMLNode;
    friend class TXMLNodeCollection;
    enum class TListKind { Children, Attributes, Items };

    TXMLNodeList(TXMLNode* owner, TListKind kind, const QString& defaultNamespaceURI);

    bool InNamespace(const TXMLNode* node) const;
    void Insert(int index, TXMLNode* node);
    void RemoveAt(int index);
    void BuildIndex() const;
    void AddToIndex(QHash<QString, int>& index, int position) const;

    TXMLNode* m_owner;
    TListKind m_kind;
    QString m_defaultNamespaceURI;
    std::vector<TXMLNode*> m_nodes;
    // Name lookups on long lists go through an index so a full walk stays linear.
    mutable std::unique_ptr<QHash<QString, int>> m_index;
};
