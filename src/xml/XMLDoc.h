#pragma once
// CONTRACT SKETCH (to be completed by the xml layer): names other layers rely on.

#include "Exception.h"

#include <QByteArray>
#include <QString>

class EDOMParseError : public EBrimlarkError { using EBrimlarkError::EBrimlarkError; };
class EXMLDocError : public EBrimlarkError { using EBrimlarkError::EBrimlarkError; };
class EIntfCastError : public EBrimlarkError { using EBrimlarkError::EBrimlarkError; };

class TXMLNode {
public:
    virtual ~TXMLNode() = default;
};

class TXMLNodeCollection : public TXMLNode {
};

// One parsed reply. Nodes reached through it belong to it and die with it.
class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Parses the reply bytes as received; raises EDOMParseError when rejected.
    void LoadFromText(const QByteArray& text);
};
