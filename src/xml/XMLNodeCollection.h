#pragma once

#include "xml/XMLNode.h"
#include "xml/XMLNodeList.h"

// A node whose children of one name (its items) are counted and indexed on their own.
// A subclass registers the item class, then sets ItemName and ItemKind in its constructor.
class TXMLNodeCollection : public TXMLNode {
public:
    explicit TXMLNodeCollection(const TXMLNodeInit& init);

    QString ItemName() const { return m_itemName; }
    TXMLNodeKind ItemKind() const { return m_itemKind; }
    QString ItemNamespaceURI() const { return m_itemNamespaceURI; }
    int ItemCount() { return ItemList()->Count(); }
    TXMLNode* ItemAt(int index) { return ItemList()->NodeAt(index); }
    // The child list itself when every child is an item, otherwise the items alone.
    TXMLNodeList* ItemList();
    void Clear();
    void Delete(int index);
    int Remove(TXMLNode* item);

protected:
    void SetItemName(const QString& name) { m_itemName = name; ChildListReset(); }
    void SetItemKind(TXMLNodeKind kind) { m_itemKind = kind; ChildListReset(); }
    // A new empty item element appended (index -1 or Count) or put before item index.
    TXMLNode* AddItem(int index);

    void ChildListReset() override;
    void ChildInserted(TXMLNode* child, int index) override;
    void ChildRemoved(TXMLNode* child, int index) override;

private:
    bool IsItem(const TXMLNode* node) const;
    void BuildItemList();

    QString m_itemName;
    TXMLNodeKind m_itemKind = nullptr;
    QString m_itemNamespaceURI;
    bool m_itemListBuilt = false;
    // Null while the items are exactly the children.
    std::unique_ptr<TXMLNodeList> m_itemList;
};
