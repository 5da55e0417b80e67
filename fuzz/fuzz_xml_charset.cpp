// A reply and the Content-Type it came with: the first line of the input is the header
// value, the rest the body. Decoding picks among the mark, the declaration and the
// server's charset; every text of the tree is then read. Only the error family may
// escape a call.
#include "xml/XMLDoc.h"
#include "xml/XMLEncoding.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>
#include <vector>

// One log line per rejected reply would cost more than the parse.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("brimlark.xml.info=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArray contentType = newline < 0 ? QByteArray() : input.left(newline);
    const QByteArray body = newline < 0 ? input : input.mid(newline + 1);
    TXMLDocument doc;
    try {
        doc.LoadFromText(body, CharsetOfContentType(contentType));
    } catch (const EDOMParseError&) {
        return 0;
    }
    std::vector<TXMLNode*> pending{doc.DocumentNode()};
    while (!pending.empty()) {
        TXMLNode* node = pending.back();
        pending.pop_back();
        try {
            node->NodeValue();
        } catch (const EBrimlarkError&) {
        }
        TXMLNodeList* children = node->ChildList();
        for (int i = 0; i < children->Count(); ++i)
            pending.push_back(children->NodeAt(i));
    }
    return 0;
}
