#pragma once

#include "xml/XMLErrors.h"
#include "xml/XMLNode.h"
#include "xml/XMLNodeCollection.h"
#include "xml/XMLNodeList.h"

#include <QByteArray>
#include <QFlags>
#include <QString>

#include <memory>
#include <memory_resource>
#include <vector>

struct _xmlDoc;

enum TXMLDocOption {
    doNodeAutoCreate = 0x01,
    doNodeAutoIndent = 0x02,
    doAttrNull = 0x04,
    doAutoPrefix = 0x08,
    doNamespaceDecl = 0x10,
    doAutoSave = 0x20,
};
Q_DECLARE_FLAGS(TXMLDocOptions, TXMLDocOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TXMLDocOptions)

// Replies are untrusted: poResolveExternals and poValidateOnParse are kept for the
// caller's record but never make the parser read anything outside the text.
enum TParseOption {
    poResolveExternals = 0x01,
    poValidateOnParse = 0x02,
    poPreserveWhiteSpace = 0x04,
    poAsyncLoad = 0x08,
};
Q_DECLARE_FLAGS(TParseOptions, TParseOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TParseOptions)

// One parsed reply. Nodes reached through it belong to it and die with it.
class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Parses the reply bytes as received; raises EDOMParseError when rejected, and the
    // document is then inactive.
    void LoadFromText(const QByteArray& text);
    // The current DOM as UTF-8 text (for inspection; the client never writes replies).
    QByteArray SaveToText();

    bool Active() const { return m_dom != nullptr; }
    void SetActive(bool active);

    // Registers the class for a root element name and returns the root element, adding
    // an empty one when the document has none.
    TXMLNode* BindRoot(const QString& tagName, TXMLNodeClass nodeClass,
                       const QString& namespaceURI = QString());
    // The last element child of the document node; raises EXMLDocError when inactive.
    TXMLNode* RootElement();
    TXMLNode* DocumentNode();

    TXMLDocOptions Options() const { return m_options; }
    void SetOptions(TXMLDocOptions options) { m_options = options; }
    TParseOptions ParseOptions() const { return m_parseOptions; }
    void SetParseOptions(TParseOptions options) { m_parseOptions = options; }
    bool Modified() const { return m_modified; }

private:
    friend class TXMLNode;
    friend class TXMLNodeCollection;
    friend void* AllocateNodeMemory(const TXMLNodeInit& init, std::size_t size, std::size_t alignment);

    void Activate();
    void Deactivate();
    TXMLNode* Adopt(TXMLNode* node);
    // Nodes taken out of the tree stay allocated until release: wrappers may still
    // point at them.
    void Retire(struct _xmlNode* dom);
    // A list that was rebuilt stays readable for callers still holding it.
    void RetireList(std::unique_ptr<TXMLNodeList> list) { m_retiredLists.push_back(std::move(list)); }
    void CheckActive() const;
    void MarkModified() { m_modified = true; }

    _xmlDoc* m_dom = nullptr;
    TXMLDocOptions m_options = doNodeAutoCreate | doAttrNull | doAutoPrefix | doNamespaceDecl;
    TParseOptions m_parseOptions;
    QByteArray m_sourceText;
    bool m_hasSourceText = false;
    bool m_modified = false;
    TNodeClassTable m_rootRegistrations;
    TXMLNode* m_documentNode = nullptr;
    // Every wrapper made, for destruction; their memory is m_nodeMemory's.
    std::vector<TXMLNode*> m_nodes;
    std::pmr::monotonic_buffer_resource m_nodeMemory;
    std::vector<struct _xmlNode*> m_retired;
    std::vector<std::unique_ptr<TXMLNodeList>> m_retiredLists;
};
