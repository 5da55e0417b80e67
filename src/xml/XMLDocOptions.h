#pragma once

#include <QFlags>

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
