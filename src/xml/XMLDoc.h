#pragma once

#include "xml/XMLDocOptions.h"
#include "xml/XMLErrors.h"
#include "xml/XMLNode.h"
#include "xml/XMLNodeCollection.h"
#include "xml/XMLNodeList.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct _xmlDoc;
class TXMLNodeStore;

// One parsed reply. Nodes reached through it belong to it and die with it.
class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Parses the reply bytes as received; raises EDOMParseError when rejected, and the
    // document is then inactive. The encoding comes from a byte-order mark, else the XML
    // declaration, else charsetHint (the Content-Type charset: CharsetOfContentType in xml/XMLEncoding.h),
    // else UTF-8; bytes the encoding does not define are read as U+FFFD.
    void LoadFromText(const QByteArray& text, const QByteArray& charsetHint);
    void LoadFromText(const QByteArray& text) { LoadFromText(text, QByteArray()); }
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

    TXMLDocOptions Options() const;
    void SetOptions(TXMLDocOptions options);
    TParseOptions ParseOptions() const { return m_parseOptions; }
    void SetParseOptions(TParseOptions options) { m_parseOptions = options; }
    bool Modified() const;

private:
    void Activate();
    void Deactivate();
    void CheckActive() const;

    _xmlDoc* m_dom = nullptr;
    TParseOptions m_parseOptions;
    QByteArray m_sourceText;
    QByteArray m_charsetHint;
    bool m_hasSourceText = false;
    TNodeClassTable m_rootRegistrations;
    TXMLNode* m_documentNode = nullptr;
    // The wrappers and what they share; created with the document, never replaced.
    const std::unique_ptr<TXMLNodeStore> m_store;
};
