#include "xml/XMLNodeList.h"

#include "xml/XMLDom_p.h"
#include "xml/XMLNode.h"
#include "xml/XMLNodeStore_p.h"

#include <QCoreApplication>

namespace {
// Below this length a straight scan is cheaper than keeping an index.
constexpr int kIndexThreshold = 16;
}

TXMLNodeList::TXMLNodeList(TXMLNode* owner, TListKind kind, const QString& defaultNamespaceURI)
    : m_owner(owner), m_kind(kind), m_defaultNamespaceURI(defaultNamespaceURI)
{
}

TXMLNode* TXMLNodeList::NodeAt(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(index);
    return m_nodes[static_cast<size_t>(index)];
}

bool TXMLNodeList::InNamespace(const TXMLNode* node) const
{
    return NamespaceMatches(node->m_dom, m_defaultNamespaceURI);
}

TXMLNode* TXMLNodeList::FindByName(const QString& name) const
{
    if (Count() >= kIndexThreshold) {
        if (!m_index)
            BuildIndex();
        const auto it = m_index->constFind(name);
        return it == m_index->constEnd() ? nullptr : m_nodes[static_cast<size_t>(*it)];
    }
    for (TXMLNode* node : m_nodes) {
        if (InNamespace(node) && NameMatches(node->m_dom, name))
            return node;
    }
    return nullptr;
}

void TXMLNodeList::BuildIndex() const
{
    auto index = std::make_unique<QHash<QString, int>>();
    index->reserve(Count());
    for (int i = 0; i < Count(); ++i)
        AddToIndex(*index, i);
    m_index = std::move(index);
}

void TXMLNodeList::AddToIndex(QHash<QString, int>& index, int position) const
{
    const TXMLNode* node = m_nodes[static_cast<size_t>(position)];
    if (!InNamespace(node))
        return;
    // The first node holding either name is the first that FindByName would match.
    const QString name = node->NodeName();
    if (!index.contains(name))
        index.insert(name, position);
    const QString local = node->LocalName();
    if (!local.isEmpty() && !index.contains(local))
        index.insert(local, position);
}

TXMLNode* TXMLNodeList::NodeByName(const QString& name)
{
    if (TXMLNode* node = FindByName(name))
        return node;
    if (!(m_owner->m_store->Options() & doNodeAutoCreate))
        throw EXMLDocError(QCoreApplication::translate("XMLNodeList", "ノード \"%1\" が見つかりません").arg(name));
    if (m_kind == TListKind::Attributes) {
        m_owner->SetAttribute(name, QString());
        return FindByName(name);
    }
    return m_owner->AddChild(name);
}

int TXMLNodeList::IndexOf(const TXMLNode* node) const
{
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes[i] == node)
            return static_cast<int>(i);
    }
    return -1;
}

void TXMLNodeList::Delete(int index)
{
    m_owner->RemoveChild(NodeAt(index));
}

int TXMLNodeList::Remove(TXMLNode* node)
{
    const int index = IndexOf(node);
    if (index >= 0)
        m_owner->RemoveChild(node);
    return index;
}

void TXMLNodeList::Clear()
{
    while (Count() > 0)
        Delete(Count() - 1);
}

void TXMLNodeList::Insert(int index, TXMLNode* node)
{
    m_nodes.insert(m_nodes.begin() + index, node);
    // Appending keeps the index valid; an insertion in the middle shifts positions.
    if (m_index && index == Count() - 1)
        AddToIndex(*m_index, index);
    else
        m_index.reset();
}

void TXMLNodeList::RemoveAt(int index)
{
    m_nodes.erase(m_nodes.begin() + index);
    m_index.reset();
}
