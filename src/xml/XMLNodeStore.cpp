#include "xml/XMLNodeStore_p.h"

#include "xml/XMLNode.h"

#include <libxml/tree.h>

TXMLNodeStore::~TXMLNodeStore()
{
    Release();
}

TXMLNode* TXMLNodeStore::Adopt(TXMLNode* node)
{
    try {
        m_nodes.push_back(node);
    } catch (...) {
        node->~TXMLNode();
        throw;
    }
    return node;
}

void TXMLNodeStore::Release()
{
    m_retiredLists.clear();
    for (TXMLNode* node : m_nodes)
        node->~TXMLNode();
    m_nodes.clear();
    m_nodeMemory.release();
    for (xmlNodePtr n : m_retired)
        xmlFreeNode(n);
    m_retired.clear();
}
