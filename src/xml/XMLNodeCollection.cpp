#include "xml/XMLNodeCollection.h"

#include "xml/XMLDom_p.h"
#include "xml/XMLNodeStore_p.h"

TXMLNodeCollection::TXMLNodeCollection(const TXMLNodeInit& init)
    : TXMLNode(init), m_itemNamespaceURI(NamespaceURI())
{
}

bool TXMLNodeCollection::IsItem(const TXMLNode* node) const
{
    return m_itemKind && m_itemKind(node) && node->LocalNameEquals(m_itemName);
}

TXMLNodeList* TXMLNodeCollection::ItemList()
{
    TXMLNodeList* children = ChildList();
    if (!m_itemListBuilt)
        BuildItemList();
    return m_itemList ? m_itemList.get() : children;
}

void TXMLNodeCollection::BuildItemList()
{
    TXMLNodeList* children = ChildList();
    if (m_itemList)
        m_store->RetireList(std::move(m_itemList));
    bool allItems = true;
    for (TXMLNode* child : children->m_nodes) {
        if (!IsItem(child)) {
            allItems = false;
            break;
        }
    }
    if (!allItems) {
        m_itemList.reset(new TXMLNodeList(this, TXMLNodeList::TListKind::Items, m_itemNamespaceURI));
        for (TXMLNode* child : children->m_nodes) {
            if (IsItem(child))
                m_itemList->m_nodes.push_back(child);
        }
    }
    m_itemListBuilt = true;
}

void TXMLNodeCollection::Clear()
{
    TXMLNodeList* items = ItemList();
    while (items->Count() > 0) {
        RemoveChild(items->Last());
        items = ItemList();
    }
}

void TXMLNodeCollection::Delete(int index)
{
    RemoveChild(ItemAt(index));
}

int TXMLNodeCollection::Remove(TXMLNode* item)
{
    const int index = ItemList()->IndexOf(item);
    if (index >= 0)
        RemoveChild(item);
    return index;
}

TXMLNode* TXMLNodeCollection::AddItem(int index)
{
    TXMLNodeList* items = ItemList();
    if (index < -1 || index > items->Count())
        throw EListError(index);
    if (index == -1 || index == items->Count())
        return AddChild(m_itemName);
    return AddChild(m_itemName, ChildList()->IndexOf(items->NodeAt(index)));
}

void TXMLNodeCollection::ChildListReset()
{
    if (m_itemList)
        m_store->RetireList(std::move(m_itemList));
    m_itemListBuilt = false;
}

void TXMLNodeCollection::ChildInserted(TXMLNode* child, int index)
{
    if (!m_itemListBuilt)
        return;
    if (!m_itemList) {
        // The items were the children; a child that is not an item splits them apart.
        if (!IsItem(child))
            BuildItemList();
        return;
    }
    if (!IsItem(child))
        return;
    int position = 0;
    TXMLNodeList* children = ChildList();
    for (int i = 0; i < index; ++i) {
        if (IsItem(children->m_nodes[static_cast<size_t>(i)]))
            ++position;
    }
    m_itemList->Insert(position, child);
}

void TXMLNodeCollection::ChildRemoved(TXMLNode* child, int)
{
    if (!m_itemListBuilt || !m_itemList)
        return;
    const int position = m_itemList->IndexOf(child);
    if (position >= 0)
        m_itemList->RemoveAt(position);
}
