#include "xml/XMLParser_p.h"

#include "xml/XMLEncoding_p.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int kSourceTextLength = 40;

struct TParseError {
    bool set = false;
    QString reason;
    int line = 0;
};

struct TParseState {
    bool dtdRefused = false;
    int dtdLine = 0;
    TParseError fatal;
    TParseError error;
    int firstLine = 0;   // errors raised outside the parser (encoding) carry no line
};

TParseState* StateOf(void* ctx)
{
    return static_cast<TParseState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

// Keeps the first fatal error (and the first plain one for documents that have no
// fatal error); the parser goes on reporting follow-on errors after it.
void RecordError(void* ctx, xmlErrorPtr error)
{
    if (!error || error->level < XML_ERR_ERROR)
        return;
    if (StateOf(ctx)->firstLine == 0)
        StateOf(ctx)->firstLine = error->line;
    TParseError& slot = error->level == XML_ERR_FATAL ? StateOf(ctx)->fatal : StateOf(ctx)->error;
    if (slot.set)
        return;
    slot.set = true;
    slot.reason = QString::fromUtf8(error->message ? error->message : "").trimmed();
    slot.line = error->line;
}

// Replies never carry a DTD, and a DTD is the only road to entity bombs and external
// entities, so the parse stops at the first sign of one.
void RefuseDtd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    TParseState* state = StateOf(ctx);
    if (!state->dtdRefused) {
        state->dtdRefused = true;
        state->dtdLine = ctxt->input ? ctxt->input->line : 0;
    }
    xmlStopParser(ctxt);
}

// Sends the parser's context-free errors to one handler for a scope, then restores.
class TErrorRoute {
public:
    TErrorRoute(void* context, xmlStructuredErrorFunc handler)
        : m_oldHandler(xmlStructuredError), m_oldContext(xmlStructuredErrorContext)
    {
        xmlSetStructuredErrorFunc(context, handler);
    }
    ~TErrorRoute() { xmlSetStructuredErrorFunc(m_oldContext, m_oldHandler); }
    TErrorRoute(const TErrorRoute&) = delete;
    TErrorRoute& operator=(const TErrorRoute&) = delete;

private:
    xmlStructuredErrorFunc m_oldHandler;
    void* m_oldContext;
};

bool IsXmlSpace(xmlChar c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBlankText(xmlNodePtr n)
{
    if (n->type != XML_TEXT_NODE || !n->content)
        return false;
    for (const xmlChar* p = n->content; *p; ++p) {
        if (!IsXmlSpace(*p))
            return false;
    }
    return true;
}

// Drops white-space-only text that sits beside other nodes (indentation between
// elements). A text that is an element's whole content is its value and stays.
void DropBlankChildren(xmlNodePtr element)
{
    if (!element->children->next)
        return;
    int preserve = -2;   // looked up only when there is white space to drop
    for (xmlNodePtr c = element->children; c;) {
        xmlNodePtr next = c->next;
        if (IsBlankText(c)) {
            if (preserve == -2)
                preserve = xmlNodeGetSpacePreserve(element);
            if (preserve == 1)
                return;
            xmlUnlinkNode(c);
            xmlFreeNode(c);
        }
        c = next;
    }
}

// Walks the tree through its own links: no recursion and no allocation.
void DropLayoutWhiteSpace(xmlDocPtr doc)
{
    const xmlNodePtr top = reinterpret_cast<xmlNodePtr>(doc);
    xmlNodePtr cur = doc->children;
    while (cur) {
        if (cur->type == XML_ELEMENT_NODE && cur->children) {
            DropBlankChildren(cur);
            cur = cur->children;
            continue;
        }
        while (cur && !cur->next) {
            cur = cur->parent;
            if (cur == top)
                cur = nullptr;
        }
        if (cur)
            cur = cur->next;
    }
}

QString CutSourceText(QString line)
{
    if (line.endsWith(u'\r'))
        line.chop(1);
    if (line.size() > kSourceTextLength) {
        int n = kSourceTextLength;
        if (line.at(n - 1).isHighSurrogate())
            --n;
        line.truncate(n);
    }
    return line;
}

// The given 1-based line of the UTF-8 the parser read, cut to 40 characters.
QString SourceLineOf(const QByteArray& utf8, int line)
{
    qsizetype start = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (int i = 1; i < line && start >= 0; ++i) {
        start = utf8.indexOf('\n', start);
        if (start >= 0)
            ++start;
    }
    if (start < 0)
        return QString();
    const qsizetype end = utf8.indexOf('\n', start);
    // Enough bytes for 40 characters.
    const qsizetype length = std::min<qsizetype>(end < 0 ? utf8.size() - start : end - start, kSourceTextLength * 4 + 4);
    return CutSourceText(QString::fromUtf8(QByteArrayView(utf8).sliced(start, length)));
}

} // namespace

xmlDocPtr ParseReply(const QByteArray& text, const QByteArray& charsetHint, bool preserveWhiteSpace,
                     TParseFailure& failure)
{
    xmlInitParser();
    if (text.size() > INT_MAX) {
        failure = {QStringLiteral("Document is too large"), 1, QString()};
        return nullptr;
    }
    const TReplyText reply = DecodeReply(text, charsetHint);
    if (!reply.unsupportedEncoding.isEmpty()) {
        failure = {QStringLiteral("Unsupported encoding %1").arg(QString::fromLatin1(reply.unsupportedEncoding)), 1,
                   SourceLineOf(text, 1)};
        return nullptr;
    }
    const QByteArray& utf8 = reply.utf8;
    if (utf8.size() > INT_MAX) {
        failure = {QStringLiteral("Document is too large"), 1, QString()};
        return nullptr;
    }
    const std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> owner(xmlNewParserCtxt(), xmlFreeParserCtxt);
    xmlParserCtxtPtr ctxt = owner.get();
    if (!ctxt) {
        failure = {QStringLiteral("Out of memory"), 1, QString()};
        return nullptr;
    }
    TParseState state;
    ctxt->_private = &state;
    ctxt->sax->serror = RecordError;
    // Encoding errors are raised without the parser context; route them to the same
    // record for the duration of the parse instead of the process's stderr.
    std::optional<TErrorRoute> route(std::in_place, ctxt, RecordError);
    ctxt->sax->internalSubset = RefuseDtd;
    // No network, no DTD loading, no entity substitution beyond the predefined ones and
    // character references; no XML_PARSE_HUGE, so depth and entity growth stay bounded.
    // The bytes are UTF-8 by now, whatever the declaration says.
    int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
    // The parser's own blank dropping catches the usual indentation before it is ever
    // allocated; DropLayoutWhiteSpace below settles the cases it leaves.
    if (!preserveWhiteSpace)
        options |= XML_PARSE_NOBLANKS;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, utf8.constData(), static_cast<int>(utf8.size()),
                                      nullptr, nullptr, options);
    route.reset();
    const bool ok = doc && ctxt->wellFormed && ctxt->nsWellFormed && !state.dtdRefused;
    if (!ok) {
        if (state.dtdRefused) {
            failure.reason = QStringLiteral("DOCTYPE is not allowed in a reply");
            failure.line = state.dtdLine;
        } else if (state.fatal.set || state.error.set) {
            const TParseError& first = state.fatal.set ? state.fatal : state.error;
            failure.reason = first.reason;
            failure.line = first.line > 0 ? first.line : state.firstLine;
            if (failure.line < 1 && ctxt->input)
                failure.line = ctxt->input->line;
        } else {
            failure.reason = QStringLiteral("Document is not well-formed");
            failure.line = ctxt->input ? ctxt->input->line : 1;
        }
        if (failure.line < 1)
            failure.line = 1;
        if (failure.reason.isEmpty())
            failure.reason = QStringLiteral("Document is not well-formed");
        failure.srcText = SourceLineOf(utf8, failure.line);
        if (doc)
            xmlFreeDoc(doc);
        doc = nullptr;
    }
    xmlResetLastError();
    if (doc && !preserveWhiteSpace)
        DropLayoutWhiteSpace(doc);
    return doc;
}
