#pragma once

#include "text/Exception.h"

#include <QString>

// A reply the parser refused. Message() is the user-facing text; the parts stay
// available for callers and tests that want them separately.
class EDOMParseError : public EBrimlarkError {
public:
    EDOMParseError(const QString& reason, int line, const QString& srcText);

    QString Reason() const { return m_reason; }
    int Line() const { return m_line; }
    // The offending source line, cut to its first 40 characters.
    QString SrcText() const { return m_srcText; }

private:
    QString m_reason;
    int m_line;
    QString m_srcText;
};

// Misuse of a loaded document: missing node, mixed content, no active document.
class EXMLDocError : public EBrimlarkError {
public:
    using EBrimlarkError::EBrimlarkError;
};

// A node was asked for a typed view its class does not offer.
class EIntfCastError : public EBrimlarkError {
public:
    EIntfCastError();
};

// An index outside a node list.
class EListError : public EBrimlarkError {
public:
    explicit EListError(qsizetype index);
};

// A text value that does not convert to the number a field holds.
class EConvertError : public EBrimlarkError {
public:
    using EBrimlarkError::EBrimlarkError;
};
