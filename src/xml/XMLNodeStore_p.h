#pragma once
// What the nodes of one document share: the memory their wrappers live in, the DOM
// parts they take out of the tree, the modified flag and the options they read. The
// document owns one; nodes reach it through their init record, so they never need
// the document's own header. Not part of the layer's interface.

#include "xml/XMLDocOptions.h"
#include "xml/XMLNodeList.h"

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <vector>

struct _xmlNode;
class TXMLDocument;
class TXMLNode;

class TXMLNodeStore {
public:
    explicit TXMLNodeStore(TXMLDocument* document) : m_document(document) {}
    ~TXMLNodeStore();
    TXMLNodeStore(const TXMLNodeStore&) = delete;
    TXMLNodeStore& operator=(const TXMLNodeStore&) = delete;

    TXMLDocument* Document() const { return m_document; }

    void* Allocate(std::size_t size, std::size_t alignment) { return m_nodeMemory.allocate(size, alignment); }
    // Takes the wrapper for destruction at release; destroys it if that cannot be done.
    TXMLNode* Adopt(TXMLNode* node);
    // Nodes taken out of the tree stay allocated until release: wrappers may still
    // point at them.
    void Retire(_xmlNode* dom) { m_retired.push_back(dom); }
    // A list that was rebuilt stays readable for callers still holding it.
    void RetireList(std::unique_ptr<TXMLNodeList> list) { m_retiredLists.push_back(std::move(list)); }
    // Destroys every wrapper and frees the retired DOM nodes; must run before the DOM
    // document itself is freed, whose dictionary their names may come from.
    void Release();

    TXMLDocOptions Options() const { return m_options; }
    void SetOptions(TXMLDocOptions options) { m_options = options; }
    bool Modified() const { return m_modified; }
    void MarkModified() { m_modified = true; }
    void ClearModified() { m_modified = false; }

private:
    TXMLDocument* m_document;
    TXMLDocOptions m_options = doNodeAutoCreate | doAttrNull | doAutoPrefix | doNamespaceDecl;
    bool m_modified = false;
    // Every wrapper made, for destruction; their memory is m_nodeMemory's.
    std::vector<TXMLNode*> m_nodes;
    std::pmr::monotonic_buffer_resource m_nodeMemory;
    std::vector<_xmlNode*> m_retired;
    std::vector<std::unique_ptr<TXMLNodeList>> m_retiredLists;
};
